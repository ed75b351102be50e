#include "demo_song.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "lv/video_out.h"

namespace {

constexpr int SR = SAMPLE_RATE;
constexpr float TAU = 6.28318530718f;
constexpr double BEAT_SECONDS = 60.0 / DEMO_BPM;
constexpr double STEP_SECONDS = BEAT_SECONDS / 4.0;   // a sixteenth
constexpr double BAR_SECONDS = BEAT_SECONDS * 4.0;

// Noise of our own: the song must not depend on the C library's generator,
// which the visualizer's randomness lives on.
struct Noise {
    uint32_t state;
    explicit Noise(uint32_t seed) : state(seed ? seed : 1u) {}
    float next() {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        return float(state) * (2.0f / 4294967296.0f) - 1.0f;
    }
};

// RBJ biquad, transposed direct form II.
struct Biquad {
    float b0 = 1, b1 = 0, b2 = 0, a1 = 0, a2 = 0, z1 = 0, z2 = 0;
    static Biquad make(int kind, float hz, float q) {   // 0 low-pass, 1 high-pass, 2 band-pass
        Biquad f;
        float w = TAU * hz / SR, c = std::cos(w), alpha = std::sin(w) / (2.0f * q);
        float a0 = 1.0f + alpha;
        if (kind == 0) {
            f.b0 = (1 - c) / 2 / a0;
            f.b1 = (1 - c) / a0;
            f.b2 = f.b0;
        } else if (kind == 1) {
            f.b0 = (1 + c) / 2 / a0;
            f.b1 = -(1 + c) / a0;
            f.b2 = f.b0;
        } else {
            f.b0 = alpha / a0;
            f.b1 = 0;
            f.b2 = -alpha / a0;
        }
        f.a1 = -2 * c / a0;
        f.a2 = (1 - alpha) / a0;
        return f;
    }
    float run(float x) {
        float y = b0 * x + z1;
        z1 = b1 * x - a1 * y + z2;
        z2 = b2 * x - a2 * y;
        return y;
    }
};

float midiHz(int note) { return 440.0f * std::pow(2.0f, float(note - 69) / 12.0f); }

// Naive saw, band-limited enough after the low-passes that follow it.
float saw(float phase) { return 2.0f * (phase - std::floor(phase)) - 1.0f; }

struct Mix {
    std::vector<float> l, r;
    explicit Mix(size_t frames) : l(frames, 0.0f), r(frames, 0.0f) {}
    size_t size() const { return l.size(); }
    void add(size_t i, float left, float right) {
        if (i < l.size()) {
            l[i] += left;
            r[i] += right;
        }
    }
};

size_t at(double seconds) { return size_t(std::lround(seconds * SR)); }

void kick(Mix& m, double t0, float gain) {
    size_t start = at(t0);
    float phase = 0.0f;
    Noise n(uint32_t(start) * 2654435761u);
    for (int i = 0; i < int(0.5 * SR); ++i) {
        float t = float(i) / SR;
        float hz = 46.0f + 95.0f * std::exp(-t / 0.03f);
        phase += hz / SR;
        float amp = std::min(1.0f, t / 0.002f) * std::exp(-t / 0.2f);
        float click = n.next() * std::exp(-t / 0.004f) * 0.25f;
        float s = (std::sin(TAU * phase) * amp + click) * gain;
        m.add(start + i, s, s);
    }
}

void snare(Mix& m, double t0, float gain) {
    size_t start = at(t0);
    Noise nl(uint32_t(start) * 747796405u + 1u), nr(uint32_t(start) * 2891336453u + 7u);
    Biquad bl = Biquad::make(2, 2600.0f, 0.55f), br = bl;
    Biquad hl = Biquad::make(1, 5000.0f, 0.7f), hr = hl;
    for (int i = 0; i < int(0.35 * SR); ++i) {
        float t = float(i) / SR;
        float body = (std::sin(TAU * 185.0f * t) + 0.5f * std::sin(TAU * 330.0f * t)) * std::exp(-t / 0.05f) * 0.45f;
        float env = std::exp(-t / 0.11f);
        float a = nl.next(), b = nr.next();
        float left = body + (bl.run(a) * 1.6f + hl.run(a) * 0.5f) * env;
        float right = body + (br.run(b) * 1.6f + hr.run(b) * 0.5f) * env;
        m.add(start + i, left * gain, right * gain);
    }
}

void hat(Mix& m, double t0, float gain, float decay, float pan) {
    size_t start = at(t0);
    Noise n(uint32_t(start) * 1103515245u + 12345u);
    Biquad hp1 = Biquad::make(1, 7000.0f, 0.7f), hp2 = hp1;
    // The metallic ring of a struck cymbal: six square waves at inharmonic
    // pitches, mixed under the noise.
    static const float metal[6] = {205.3f, 304.4f, 369.6f, 522.7f, 540.0f, 800.0f};
    int length = int(std::min(1.0f, decay * 8.0f) * SR);
    for (int i = 0; i < length; ++i) {
        float t = float(i) / SR;
        float sq = 0.0f;
        // x - floor(x) is fmod(x, 1) exactly for x >= 0, at a fraction of the cost.
        for (float f : metal) {
            const float x = t * f * 8.1f;
            sq += (x - std::floor(x) < 0.5f ? 1.0f : -1.0f);
        }
        float x = n.next() * 0.7f + sq * 0.08f;
        float s = hp2.run(hp1.run(x)) * std::exp(-t / decay) * gain;
        m.add(start + i, s * (1.0f - pan), s * (1.0f + pan));
    }
}

void crash(Mix& m, double t0, float gain) {
    size_t start = at(t0);
    Noise nl(uint32_t(start) + 99u), nr(uint32_t(start) + 4242u);
    Biquad hl = Biquad::make(1, 3500.0f, 0.6f), hr = hl;
    for (int i = 0; i < int(3.0 * SR); ++i) {
        float t = float(i) / SR;
        float env = std::min(1.0f, t / 0.003f) * std::exp(-t / 0.9f) * gain;
        m.add(start + i, hl.run(nl.next()) * env, hr.run(nr.next()) * env);
    }
}

// Eighth-note bass on the chord's root, jumping the octave now and then.
void bassNote(Mix& m, double t0, double seconds, int note, float gain) {
    size_t start = at(t0);
    int length = int(seconds * SR);
    float hz = midiHz(note), phase = 0.0f, sub = 0.0f;
    float lp1 = 0.0f, lp2 = 0.0f;
    for (int i = 0; i < length + int(0.02 * SR); ++i) {
        float t = float(i) / SR;
        phase += hz / SR;
        sub += hz / SR;
        float env = std::min(1.0f, t / 0.004f) * (0.6f + 0.4f * std::exp(-t / 0.08f));
        if (i > length) env *= 1.0f - float(i - length) / (0.02f * SR);
        float cutoff = 250.0f + 1100.0f * std::exp(-t / 0.07f);
        float k = 1.0f - std::exp(-TAU * cutoff / SR);
        lp1 += k * (saw(phase) - lp1);
        lp2 += k * (lp1 - lp2);
        float s = (lp2 * 0.8f + std::sin(TAU * sub) * 0.6f) * env * gain;
        m.add(start + i, s, s);
    }
}

// Three slightly detuned saws per chord note, softened and spread wide.
void padChord(Mix& m, double t0, double seconds, const int (&notes)[4], float gain) {
    size_t start = at(t0);
    int length = int((seconds + 0.6) * SR);
    static const float detune[3] = {-0.007f, 0.0f, 0.0065f};
    static const float spread[3] = {-0.7f, 0.0f, 0.7f};
    for (int n = 0; n < 4; ++n) {
        for (int v = 0; v < 3; ++v) {
            float hz = midiHz(notes[n]) * (1.0f + detune[v]);
            float phase = float(n * 3 + v) * 0.173f;
            float lp1 = 0.0f, lp2 = 0.0f;
            float k = 1.0f - std::exp(-TAU * 1500.0f / SR);
            float pan = spread[v] * (n % 2 ? -1.0f : 1.0f);
            for (int i = 0; i < length; ++i) {
                float t = float(i) / SR;
                phase += hz / SR;
                lp1 += k * (saw(phase) - lp1);
                lp2 += k * (lp1 - lp2);
                float env = std::min(1.0f, t / 0.35f);
                if (t > seconds) env *= std::max(0.0f, 1.0f - float(t - seconds) / 0.6f);
                float s = lp2 * env * gain;
                m.add(start + i, s * (1.0f - 0.5f * pan), s * (1.0f + 0.5f * pan));
            }
        }
    }
}

// A short plucked pulse; its harmonics fill 1 to 6 kHz.
void pluck(Mix& m, double t0, int note, float gain, float pan) {
    size_t start = at(t0);
    float hz = midiHz(note), phase = 0.0f, lp = 0.0f;
    for (int i = 0; i < int(0.4 * SR); ++i) {
        float t = float(i) / SR;
        phase += hz / SR;
        float pulse = (phase - std::floor(phase)) < 0.3f ? 1.0f : -0.43f;
        float cutoff = 1200.0f + 6000.0f * std::exp(-t / 0.06f);
        lp += (1.0f - std::exp(-TAU * cutoff / SR)) * (pulse - lp);
        float s = lp * std::min(1.0f, t / 0.002f) * std::exp(-t / 0.13f) * gain;
        m.add(start + i, s * (1.0f - pan), s * (1.0f + pan));
    }
}

// Noise swept upwards through a band-pass, swelling into the drop.
void riser(Mix& m, double t0, double seconds, float gain) {
    size_t start = at(t0);
    Noise n(31337u);
    int length = int(seconds * SR);
    Biquad f;
    for (int i = 0; i < length; ++i) {
        float u = float(i) / length;
        if (i % 64 == 0) {   // new coefficients, same state: a smooth sweep
            Biquad next = Biquad::make(2, 500.0f + 7000.0f * u * u, 2.0f);
            next.z1 = f.z1;
            next.z2 = f.z2;
            f = next;
        }
        float s = f.run(n.next()) * u * u * gain;
        m.add(start + i, s, s);
    }
}

struct Section {
    bool kick, snare, hats, sixteenths, openHats, bass, arp;
};

Section sectionOf(int bar) {
    if (bar == 0) return {false, false, false, false, false, false, false};
    if (bar == 1) return {false, false, true, false, false, false, false};
    if (bar <= 3) return {true, false, true, false, false, true, false};
    if (bar <= 5) return {true, true, true, false, false, true, false};
    if (bar <= 9) return {true, true, true, true, true, true, true};
    if (bar <= 11) return {false, false, false, false, false, false, true};   // breakdown
    if (bar <= 13) return {true, true, true, true, true, true, true};
    return {false, false, false, false, false, false, false};               // last chord
}

}  // namespace

DemoSong makeDemoSong() {
    static const int chords[4][4] = {{57, 60, 64, 69}, {53, 57, 60, 65}, {55, 60, 64, 67}, {55, 59, 62, 67}};
    static const int roots[4] = {45, 41, 36, 43};   // A2 F2 C2 G2
    static const int arpOrder[8] = {0, 1, 2, 3, 2, 1, 3, 2};

    const double total = DEMO_BARS * BAR_SECONDS;
    Mix mix(at(total));

    for (int bar = 0; bar < DEMO_BARS; ++bar) {
        const double t = bar * BAR_SECONDS;
        const int c = bar % 4;
        const Section s = sectionOf(bar);
        const bool last = bar == DEMO_BARS - 1;
        padChord(mix, t, last ? BAR_SECONDS * 0.75 : BAR_SECONDS, chords[last ? 0 : c], last ? 0.05f : 0.04f);
        if (bar == 6 || bar == 12 || last) crash(mix, t, 0.35f);
        if (last) {
            kick(mix, t, 0.95f);
            bassNote(mix, t, BEAT_SECONDS * 2, roots[0], 0.5f);
        }
        for (int step = 0; step < 16; ++step) {
            const double ts = t + step * STEP_SECONDS;
            if (s.kick && step % 4 == 0) kick(mix, ts, 0.95f);
            if (s.snare && (step == 4 || step == 12)) snare(mix, ts, 0.55f);
            if (s.hats) {
                if (step % 2 == 0) hat(mix, ts, step % 4 == 0 ? 0.16f : 0.22f, 0.03f, 0.35f);
                else if (s.sixteenths) hat(mix, ts, 0.1f, 0.02f, 0.35f);
            }
            if (s.openHats && step % 4 == 2) hat(mix, ts, 0.18f, 0.16f, -0.3f);
            if (s.bass && step % 2 == 0) {
                int note = roots[c] + ((step == 6 || step == 14) ? 12 : 0);
                bassNote(mix, ts, STEP_SECONDS * 1.6, note, 0.5f);
            }
            if (s.arp) {
                int note = chords[c][arpOrder[step % 8]] + 12;
                pluck(mix, ts, note, bar >= 10 && bar <= 11 ? 0.16f : 0.12f, step % 2 ? 0.45f : -0.45f);
                // A dotted-eighth echo, quieter, on the other side.
                pluck(mix, ts + 3 * STEP_SECONDS, note, 0.045f, step % 2 ? -0.6f : 0.6f);
            }
        }
        if (bar == 11) {   // the roll into the last groove, growing
            for (int step = 0; step < 16; ++step)
                snare(mix, t + step * STEP_SECONDS, 0.12f + 0.4f * float(step) / 15.0f);
            riser(mix, t, BAR_SECONDS, 0.08f);
        }
    }

    // Master: a gentle saturation for loudness, then the peak to -1.5 dBFS
    // (room for the overshoot of a lossy encode).
    DemoSong song;
    song.samples.resize(mix.size() * 2);
    float peak = 1e-6f;
    const float drive = 1.6f, norm = 1.0f / std::tanh(drive);
    for (size_t i = 0; i < mix.size(); ++i) {
        float l = std::tanh(mix.l[i] * drive) * norm, r = std::tanh(mix.r[i] * drive) * norm;
        song.samples[2 * i] = l;
        song.samples[2 * i + 1] = r;
        peak = std::max(peak, std::max(std::fabs(l), std::fabs(r)));
    }
    const float gain = 0.841f / peak;
    // The last half second fades, so the end is not a cut.
    const size_t fade = at(0.5);
    for (size_t i = 0; i < mix.size(); ++i) {
        float g = gain;
        if (i + fade > mix.size()) g *= float(mix.size() - i) / float(fade);
        song.samples[2 * i] *= g;
        song.samples[2 * i + 1] *= g;
    }

    lv::TrackMeta& meta = song.meta;
    meta.title = "Lumen Drift";
    meta.artist = "Lumenvortex";
    meta.album = "Demo";
    meta.genre = "Electronic";
    meta.trackNumber = 1;
    meta.durationMs = (long long)(total * 1000.0 + 0.5);
    std::vector<unsigned char> rgb = drawDemoCover(512);
    if (lv::encodePng(meta.cover.bytes, rgb.data(), 512, 512, 3)) meta.cover.format = lv::ImageFormat::Png;
    return song;
}

std::vector<unsigned char> drawDemoCover(int size) {
    // Light is gathered in floats, then tone-mapped: a dark violet field, and a
    // vortex of glowing motes on a logarithmic spiral with a bright heart.
    std::vector<float> light(size_t(size) * size * 3, 0.0f);
    const float cx = size * 0.5f, cy = size * 0.5f;
    for (int y = 0; y < size; ++y) {
        for (int x = 0; x < size; ++x) {
            float dx = (x - cx) / size, dy = (y - cy) / size;
            float d = std::sqrt(dx * dx + dy * dy);
            float* p = &light[(size_t(y) * size + x) * 3];
            p[0] = 0.10f * (1.0f - d) + 0.02f;
            p[1] = 0.03f * (1.0f - d);
            p[2] = 0.22f * (1.0f - d) + 0.04f;
            float core = std::exp(-d * d / 0.004f);
            p[0] += 1.4f * core;
            p[1] += 1.1f * core;
            p[2] += 1.6f * core;
        }
    }
    Noise n(2024u);
    const int arms = 4;
    for (int i = 0; i < 1400; ++i) {
        float u = float(i) / 1400.0f;
        int arm = i % arms;
        float angle = u * 9.0f + TAU * arm / arms + n.next() * 0.18f;
        float radius = size * (0.03f + 0.44f * std::pow(u, 0.8f)) * (1.0f + 0.06f * n.next());
        float px = cx + std::cos(angle) * radius, py = cy + std::sin(angle) * radius;
        float warm = 0.5f + 0.5f * std::sin(angle * 0.5f + 1.0f);
        float colour[3] = {0.35f + 0.65f * warm, 0.55f + 0.25f * (1.0f - u), 1.0f - 0.55f * warm};
        float energy = (0.25f + 0.75f * (n.next() * 0.5f + 0.5f)) * (1.15f - u);
        float sigma = 0.8f + 2.2f * (n.next() * 0.5f + 0.5f) * (1.0f - 0.5f * u);
        int reach = int(sigma * 3.0f) + 1;
        for (int yy = int(py) - reach; yy <= int(py) + reach; ++yy) {
            if (yy < 0 || yy >= size) continue;
            for (int xx = int(px) - reach; xx <= int(px) + reach; ++xx) {
                if (xx < 0 || xx >= size) continue;
                float ddx = xx - px, ddy = yy - py;
                float w = energy * std::exp(-(ddx * ddx + ddy * ddy) / (2.0f * sigma * sigma));
                float* p = &light[(size_t(yy) * size + xx) * 3];
                for (int c = 0; c < 3; ++c) p[c] += w * colour[c];
            }
        }
    }
    std::vector<unsigned char> rgb(size_t(size) * size * 3);
    for (size_t i = 0; i < light.size(); ++i) {
        float v = 1.0f - std::exp(-light[i] * 1.6f);   // soft highlights instead of clipping
        rgb[i] = static_cast<unsigned char>(std::lround(std::clamp(v, 0.0f, 1.0f) * 255.0f));
    }
    return rgb;
}
