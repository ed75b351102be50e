// The whole visualizer, run twice in one process on a virtual clock with a
// scripted spectrum and scripted keys, must reach the same field state both
// times, and that state must match the pinned hash.
//
// The hash covers every particle's and well's state (positions, velocities,
// accelerations, trails, charges, masses, levels, colours). Anything that
// changes the arithmetic, the order of random draws or the frame order
// changes it. If a change is deliberate, run this test, check the new
// snapshots by eye (lv-snapshot), and pin the value it prints.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <set>

#include "gl_test_env.h"
#include "lumenvortexApplet.h"

namespace {

const uint64_t kPinnedFieldHash = 0xfd149851e2336d4cull;

const int FRAMES = 600;
const int CANVAS_WIDTH = 320;    // the player's 1120 x 700 shape, smaller for llvmpipe
const int CANVAS_HEIGHT = 200;

// FNV-1a, 64 bits, over the bit patterns of the state.
class Fnv1a64 {
public:
    void bytes(const void* data, size_t n) {
        for (size_t i = 0; i < n; i++) mHash = (mHash ^ static_cast<const unsigned char*>(data)[i]) * 1099511628211ull;
    }
    void f(std::initializer_list<float> values) {
        for (float v : values) bytes(&v, sizeof v);
    }
    void v(const Vector3D& a) { f({a.x, a.y, a.z}); }
    void c(const color& c) { f({(float)c.red, (float)c.green, (float)c.blue}); }   // alpha carries nothing
    uint64_t value() const { return mHash; }

private:
    uint64_t mHash = 14695981039346656037ull;
};

uint64_t fieldHash() {
    Fnv1a64 h;
    h.f({(float)gravityControl.count, (float)gravityControl.total});
    for (const Gravity& g : gravityControl.myList) {
        h.f({(float)g.index, g.Q, g.M, g.radius, g.myLevel, g.newLevel, g.d, g.distance});
        h.v(g.loc);
        h.v(g.vel);
        h.v(g.acc);
        h.c(g.ellipseColor);
    }
    h.f({(float)particleControl.count, (float)particleControl.total});
    for (const Particle& p : particleControl.myList) {
        h.f({(float)p.index, p.Q, p.M, p.invM, p.myLevel, p.newLevel, p.rr, p.gg, p.bb, p.rd, p.gd, p.bd});
        h.v(p.loc);
        h.v(p.vel);
        h.v(p.acc);
        for (const float* trail : {p.x, p.y, p.z, p.xv, p.yv, p.zv, p.pn})
            h.bytes(trail, sizeof(float) * Particle::MAX_TAIL_LENGTH);
        h.c(p.myColor);
        h.c(p.myOtherColor);
    }
    return h.value();
}

// Synthetic music in integer arithmetic: a bass-heavy spectrum that ripples
// from frame to frame, and bursts in one section at a time, each repeating
// more than 800 ms apart so every burst can beat. The upper section's bursts
// (bands 124..254) change the well count.
void scriptedSpectrum(int frame, unsigned char out[2][512]) {
    std::memset(out, 0, 2 * 512);
    for (int bin = 0; bin < 255; bin++) {
        int v = 50 - bin * 30 / 255 + (frame * 7 + bin * 13) % 23;
        if (frame % 60 < 2 && bin >= 124) v += 120;
        if (frame % 90 == 45 && bin >= 28 && bin < 60) v += 100;
        if (frame % 75 == 20 && bin >= 60 && bin < 124) v += 100;
        if (v > 255) v = 255;
        out[0][bin] = (unsigned char)v;
        out[1][bin] = (unsigned char)(v - bin % 5);
    }
}

char scriptedKey(int frame) {
    switch (frame) {
    // 325 particles: llvmpipe's cost is per draw call, and a smaller field
    // shows a broken step just as well.
    case 1: case 2: return 's';
    case 100: case 200: case 300: case 400: case 500: return 'm';
    case 250: return 'p';   // noise flow toggled by hand as well as by modes
    case 350: return 'h';   // palette and recolouring
    case 450: return 'a';   // 425 wanted: the list grows again after a pause
    case 560: return 's';   // back to 325: the newest go first
    default: return 0;
    }
}

struct RunReport {
    uint64_t hash = 0;
    std::set<int> modes;
    std::set<int> wellCounts;
    int flowFrames = 0;
    int maxParticles = 0;
    bool paced = true;   // the frame floor never made draw() sleep
};

RunReport runScene(VirtualClock& clock) {
    RunReport report;
    clock.setMicros(0);
    resetScene();

    LumenvortexApplet applet;
    applet.mWidth = CANVAS_WIDTH;
    applet.mHeight = CANVAS_HEIGHT;
    gApplet = &applet;
    SoundsSourceiTunes source;
    applet.setSoundsSource(&source);
    applet.setupPostGL(false);

    unsigned char spectrum[2][512];
    for (int n = 1; n <= FRAMES; n++) {
        long long at = n * 1000000LL / 60;
        clock.setMicros(at);
        if (char key = scriptedKey(n)) applet.keyPressed(key);
        scriptedSpectrum(n, spectrum);
        source.updateSpectrumData(spectrum);
        applet.draw();

        if (clock.mMicros != at) report.paced = false;
        report.modes.insert(gMode.currentMode());
        report.wellCounts.insert(gravityControl.count);
        if (gMode.perlinFlow()) report.flowFrames++;
        if (particleControl.count > report.maxParticles) report.maxParticles = particleControl.count;
    }
    gApplet = nullptr;
    sounds.setSource(nullptr);   // the source dies with this frame
    report.hash = fieldHash();
    return report;
}

TEST(FieldDeterminism, TwoRunsInOneProcessMatchThePinnedHash) {
    lvtest::requireGL(CANVAS_WIDTH, CANVAS_HEIGHT);
    VirtualClock clock;
    clock.install();
    RunReport first = runScene(clock);
    RunReport second = runScene(clock);
    setClockSource(nullptr);

    // The script reached what it is there for.
    EXPECT_TRUE(first.paced);
    EXPECT_GE(first.modes.size(), 6u);
    EXPECT_GE(first.wellCounts.size(), 3u) << "the well count should change";
    EXPECT_GT(first.flowFrames, 0);
    EXPECT_LT(first.flowFrames, FRAMES);
    EXPECT_EQ(425, first.maxParticles);
    EXPECT_EQ(384, particleControl.count);   // one fewer on each of frames 560..600

    EXPECT_EQ(first.hash, second.hash) << "state left over from the first run changed the second";
    EXPECT_EQ(kPinnedFieldHash, first.hash)
        << "field state changed; if deliberate, pin 0x" << std::hex << first.hash << "ull";
}

}  // namespace
