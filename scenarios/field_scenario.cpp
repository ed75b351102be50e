#include "field_scenario.h"

#include <GL/gl.h>

#include <cmath>
#include <cstring>
#include <initializer_list>

namespace lvscenario {

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

ScriptedRun::ScriptedRun(int width, int height, bool fastStep) {
    clock.install();
    clock.setMicros(0);
    resetScene();
    particleControl.mFastStep = fastStep;
    applet.mWidth = width;
    applet.mHeight = height;
    gApplet = &applet;
    applet.setSoundsSource(&source);
    applet.setupPostGL(false);
}

ScriptedRun::~ScriptedRun() {
    gApplet = nullptr;
    sounds.setSource(nullptr);   // the source dies with this run
    setClockSource(nullptr);
}

void ScriptedRun::frame(int n, char key) {
    long long at = n * 1000000LL / 60;
    clock.setMicros(at);
    if (key) applet.keyPressed(key);
    unsigned char spectrum[2][512];
    scriptedSpectrum(n, spectrum);
    source.updateSpectrumData(spectrum);
    applet.draw();
    if (clock.mMicros != at) paced = false;
}

namespace {

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

}  // namespace

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

void growField(int particles, int wells, bool flow, bool fastStep, int warmUpFrames) {
    resetScene();
    particleControl.mFastStep = fastStep;
    gMode.setPerlinFlow(flow);
    for (int band = 0; band < Sounds::numBands; band++) {
        float level = 25.0f * std::exp(-band / 80.0f) + 5.0f + 3.0f * std::sin(band * 0.7f);
        sounds.levels[band] = level / sounds.multi;
    }
    gravityControl.total = wells;
    while (gravityControl.count < wells) gravityControl.adjustAmount();
    gravityControl.repositionAll();
    particleControl.total = particles;
    while (particleControl.count < particles) particleControl.adjustAmount();
    for (int i = 0; i < warmUpFrames; i++) simulateFrame();
}

void simulateFrame() {
    gravityControl.baseSize = 50;
    for (Gravity& g : gravityControl.myList) g.step();
    particleControl.simulate();
}

void drawField() {
    matrixMode(GL_MODELVIEW);
    pushMatrix();
    bgControl.exist();
    pov.setCamera();
    gravityControl.render();
    particleControl.render();
    matrixMode(GL_MODELVIEW);
    popMatrix();
}

}  // namespace lvscenario
