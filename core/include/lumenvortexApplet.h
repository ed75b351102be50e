// The visualizer's sketch and its scene. The scene lives in single global
// instances, defined together in lumenvortexApplet.cpp so that their
// construction order is the one written there:
//
//   gMode, bgControl, gravityControl, particleControl, colors, sounds, pov
//
// The applet runs every scene object's exist() in a fixed order at a paced
// frame rate and turns keys into settings. The caller presents the frame.
#pragma once

#include "POV.h"
#include "bgControl.h"
#include "colors.h"
#include "gravityControl.h"
#include "libp5.h"
#include "lightLayer.h"
#include "modes.h"
#include "particleControl.h"
#include "perlin.h"
#include "sounds.h"
#include "soundsSource.h"

class LumenvortexApplet : public PApplet {
public:
    void setup() override;
    void draw() override;
    void resized() override;

    // The kit's no-argument form stays callable beside this one.
    using PApplet::setupPostGL;
    virtual void setupPostGL(bool widescreen);
    virtual void keyPressed(char theChar);
    virtual void iTunesTrackChanged();
    virtual void setSoundsSource(SoundsSource* soundsSource);

    void addParticles();
    void subtractParticles();
    void printStatus();
};

extern ModeMgr gMode;
extern BGControl bgControl;
extern GravityControl gravityControl;
extern ParticleControl particleControl;
extern LightLayer lightLayer;
extern Colors colors;
extern Sounds sounds;
extern POV pov;

extern PImage* orb;
extern PImage* haloOrb;
extern PImage* rainbow;
extern PImage* rainbowBlur;
extern PImage* gradientBar;
extern PImage* infoPanel;

extern int xSize;
extern int ySize;
extern float gFrameStartTime;
extern long gLastInfoPanelInvocation;

// Host-side state the scene reads or writes; the plug-in sets these.
extern LumenvortexApplet* gApplet;        // canvas size for the camera and panels
extern bool gWidescreen;                  // camera aspect x 1.2
extern long gMillisSinceTrackChange;      // restarted by the `i` key

// Draws the help panel (the infoPanel image at its natural size, 10 pixels in
// from the top left). Saves and restores all GL attribute state.
void renderInfoPanel();

// Puts the whole scene back to its state at load, as if the process had just
// started: globals destroyed and constructed again in order, the C library
// generator at its start state, the frame pacing and the clock's origin
// forgotten. GL objects are not touched. For tests and offline renders that
// run the visualizer more than once in one process.
void resetScene();
