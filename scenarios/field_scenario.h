// Scripted runs of the visualizer: the one scene that the determinism test,
// lv-snapshot and the field benchmark all run.
//
//   ScriptedRun      the whole visualizer (applet, host source, analyser) on a
//                    virtual clock, frame n at n / 60 s, fed synthetic music;
//                    needs a current GL context
//   growField()      the field alone, no GL: a steady spectrum, a few wells,
//                    the particle list grown to a size and run for a while
//   fieldHash()      a hash of every particle's and well's state
#pragma once

#include <cstdint>

#include "lumenvortexApplet.h"

namespace lvscenario {

// Synthetic music in integer arithmetic: a bass-heavy spectrum that ripples
// from frame to frame, and bursts in one section at a time, each repeating
// more than 800 ms apart so every burst can beat. The upper section's bursts
// (bands 124..254) change the well count.
void scriptedSpectrum(int frame, unsigned char out[2][512]);

// The determinism run's keys: fewer particles, every mode, the noise flow
// by hand, a recolouring, growth and shrinking. 0 on frames without a key.
char scriptedKey(int frame);

class ScriptedRun {
public:
    LumenvortexApplet applet;
    SoundsSourceiTunes source;
    VirtualClock clock;
    bool paced = true;   // the frame floor never made draw() sleep

    // A scene as at load on a width x height canvas, with its GL objects made
    // in the current context. `fastStep` picks the field's frame step.
    ScriptedRun(int width, int height, bool fastStep = true);
    ~ScriptedRun();
    ScriptedRun(const ScriptedRun&) = delete;
    ScriptedRun& operator=(const ScriptedRun&) = delete;

    // Frame n (from 1): the key if any, the scripted spectrum, draw().
    void frame(int n, char key = 0);
};

// FNV-1a, 64 bits, over the bit patterns of the field: every particle's and
// well's positions, velocities, accelerations, trails, charges, masses,
// levels and colours.
uint64_t fieldHash();

// The field without the analyser or GL: steady levels of about 5 to 25,
// `wells` wells scattered, `particles` particles, then `warmUpFrames`
// simulated frames so that the field has spread and the wells have levels.
void growField(int particles, int wells, bool flow, bool fastStep, int warmUpFrames);
// One frame of the field without drawing: the wells' step, then the
// particles' simulation (mode 0 draws no lines, so no GL call is made).
void simulateFrame();
// One frame of the field's drawing without its simulation, in the current
// context: the background, the camera, the wells and the particles, with
// the model-view matrix as it was found.
void drawField();

}  // namespace lvscenario
