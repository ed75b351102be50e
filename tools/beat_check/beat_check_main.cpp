// lv-beat-check: runs the visualizer's own analyser on the spectrum the
// player would send for some music, and says how often each of the five
// sections beats and how close the bands come to the top. For tuning the
// spectrum scale without drawing anything.
//
//   lv-beat-check [--gain G] [--fps N] [--timeline] [FILE ...]   (no file: the demo song)
//                 [--floor DB] [--bytes-per-db B] [--tilt DB_PER_OCTAVE]   other scales to try
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "audio_constants.h"
#include "lumenvortexApplet.h"
#include "program.h"
#include "fft_spectrum_analyzer.h"

namespace {

struct Settings {
    float gain = Sounds::DEFAULT_MULTI;
    int fps = 60;
    bool timeline = false;
    float floorDb = SpectrumAnalyzer::FLOOR_DB;
    float bytesPerDb = SpectrumAnalyzer::BYTES_PER_DB;
    float tilt = SpectrumAnalyzer::TILT_DB_PER_OCTAVE;
    std::vector<std::string> files;
};

// What the five sections did over one piece of music.
struct Tally {
    double sumLevel[5] = {}, overThreshold[5] = {}, sumBytes[5] = {};
    double sumMaxed = 0, sum255 = 0;
    int maxMaxed = 0, frames = 0;
    int beatsBefore[5] = {};
};

// False when the help was asked for (and printed).
bool readSettings(int argc, char** argv, Settings& s) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--gain" && i + 1 < argc) s.gain = float(std::atof(argv[++i]));
        else if (a == "--fps" && i + 1 < argc) s.fps = std::atoi(argv[++i]);
        else if (a == "--timeline") s.timeline = true;
        else if (a == "--floor" && i + 1 < argc) s.floorDb = float(std::atof(argv[++i]));
        else if (a == "--bytes-per-db" && i + 1 < argc) s.bytesPerDb = float(std::atof(argv[++i]));
        else if (a == "--tilt" && i + 1 < argc) s.tilt = float(std::atof(argv[++i]));
        else if (a == "-h" || a == "--help") {
            std::puts("usage: lv-beat-check [--gain G] [--fps N] [--timeline] [--floor DB] [--bytes-per-db B] "
                      "[--tilt DB_PER_OCTAVE] [FILE ...]");
            return false;
        } else s.files.push_back(a);
    }
    if (s.fps <= 0) s.fps = 60;
    return true;
}

// The whole track, decoded; "" for the demo song. Empty when it cannot play.
std::vector<float> decodeAll(const std::string& path, lv::TrackMeta& meta) {
    Program program(path.empty() ? std::vector<std::string>{} : std::vector<std::string>{path}, false);
    std::vector<float> music;
    if (!program.next(meta)) return music;
    std::vector<float> chunk(8192);
    for (size_t n; (n = program.read(chunk.data(), 4096)) > 0;)
        music.insert(music.end(), chunk.begin(), chunk.begin() + long(n) * 2);
    return music;
}

// One frame's spectrum through the analyser; its beats into the tally.
void analyseFrame(const uint8_t spectrum[2][SPECTRUM_BINS], long long pos, const Settings& s, Tally& t) {
    int before[5];
    for (int k = 0; k < 5; ++k) before[k] = sounds.soundSections[size_t(k)]->numBeats;
    sounds.exist();
    ++t.frames;
    t.sumMaxed += sounds.totalMaxed;
    t.maxMaxed = std::max(t.maxMaxed, sounds.totalMaxed);
    t.sum255 += (spectrum[0][255] + spectrum[1][255]) * 0.5;
    std::string marks;
    for (int k = 0; k < 5; ++k) {
        SoundSection* sec = sounds.soundSections[size_t(k)];
        t.sumLevel[k] += sec->average[0];
        if (sec->average[0] > 16.0f - 2.0f * k) t.overThreshold[k] += 1;
        for (int b = sec->indexStart; b < sec->indexEnd; ++b)
            t.sumBytes[k] += (spectrum[0][b] + spectrum[1][b]) * 0.5 / sec->indexTotal;
        marks += sec->numBeats != before[k] ? char('0' + k) : '.';
    }
    if (s.timeline && marks != ".....")
        std::printf("%7.2f s  %s  levels %5.1f %5.1f %5.1f %5.1f %5.1f\n", double(pos) / SAMPLE_RATE, marks.c_str(),
                    sounds.soundSections[0]->average[0], sounds.soundSections[1]->average[0],
                    sounds.soundSections[2]->average[0], sounds.soundSections[3]->average[0],
                    sounds.soundSections[4]->average[0]);
}

void report(const lv::TrackMeta& meta, double seconds, const Settings& s, const Tally& t) {
    std::printf("%s (%.1f s, gain %.3f)\n", meta.title.c_str(), seconds, s.gain);
    std::printf("  section  threshold  beats  every(s)  mean level  frames over  mean byte\n");
    for (int k = 0; k < 5; ++k) {
        int beats = sounds.soundSections[size_t(k)]->numBeats - t.beatsBefore[k];
        std::printf("  %7d  %9d  %5d  %8.2f  %10.1f  %10.0f%%  %9.1f\n", k, 16 - 2 * k, beats,
                    beats ? seconds / beats : 0.0, t.sumLevel[k] / t.frames, 100.0 * t.overThreshold[k] / t.frames,
                    t.sumBytes[k] / t.frames);
    }
    std::printf("  bands at the top: %.1f on average, %d at most (of 256); bin 255 byte %.1f on average\n",
                t.sumMaxed / t.frames, t.maxMaxed, t.sum255 / t.frames);
}

void checkTrack(const std::string& path, const Settings& s, SoundsSourceiTunes& source, VirtualClock& clock) {
    lv::TrackMeta meta;
    const std::vector<float> music = decodeAll(path, meta);
    const long long total = (long long)music.size() / 2;
    if (total == 0) return;
    // A fresh analyser per file: gain as asked, no beat memory.
    for (SoundSection* sec : sounds.soundSections) {
        sec->peak = 0;
        sec->beatCounter = 0;
        sec->numBeats = 0;
        sec->lastBeatTimer = int32_t(millis());
    }
    sounds.multi = s.gain;
    SpectrumAnalyzer analyzer;
    analyzer.mFloorDb = s.floorDb;
    analyzer.mBytesPerDb = s.bytesPerDb;
    analyzer.mTiltDbPerOctave = s.tilt;
    uint8_t spectrum[2][SPECTRUM_BINS], waveform[2][WAVEFORM_SAMPLES];
    float window[WINDOW_FRAMES * 2];
    Tally tally;
    for (int k = 0; k < 5; ++k) tally.beatsBefore[k] = sounds.soundSections[size_t(k)]->numBeats;
    for (long long f = 0;; ++f) {
        long long pos = f * SAMPLE_RATE / s.fps;
        if (pos >= total) break;
        for (int i = 0; i < WINDOW_FRAMES; ++i) {
            long long p = pos - WINDOW_FRAMES + i;
            window[2 * i] = p >= 0 ? music[size_t(p) * 2] : 0.0f;
            window[2 * i + 1] = p >= 0 ? music[size_t(p) * 2 + 1] : 0.0f;
        }
        analyzer.compute(window, spectrum, waveform);
        source.updateSpectrumData(spectrum);
        clock.advanceMicros(1000000 / s.fps);
        analyseFrame(spectrum, pos, s, tally);
    }
    report(meta, double(total) / SAMPLE_RATE, s, tally);
}

}  // namespace

int main(int argc, char** argv) {
    Settings settings;
    if (!readSettings(argc, argv, settings)) return 0;
    lv::setMediaVerbose(false);
    VirtualClock clock;
    clock.install();
    SoundsSourceiTunes source;
    sounds.setSource(&source);
    std::vector<std::string> paths = settings.files;
    if (paths.empty()) paths.push_back("");
    for (const std::string& path : paths) checkTrack(path, settings, source, clock);
    return 0;
}
