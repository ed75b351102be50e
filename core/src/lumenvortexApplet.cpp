#include "lumenvortexApplet.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <vector>

#include "GLInit.h"
#include "glesRenderer.h"
#include "renderer.h"
#include "imageBinaries.h"

// ---------------------------------------------------------------- the scene
//
// One translation unit, so these are constructed in exactly this order: the
// background's constructor already reads the mode and the palette, and the
// analyser's starts the millisecond clock.
ModeMgr gMode;
BGControl bgControl;
GravityControl gravityControl(0);
ParticleControl particleControl(525);
LightLayer lightLayer;
Colors colors;
Sounds sounds;
POV pov;

PImage* orb = nullptr;
PImage* haloOrb = nullptr;
PImage* rainbow = nullptr;
PImage* rainbowBlur = nullptr;
PImage* gradientBar = nullptr;
PImage* infoPanel = nullptr;

int xSize = 1120;
int ySize = 700;
float gFrameStartTime = 0;
long gLastInfoPanelInvocation = 0;

LumenvortexApplet* gApplet = nullptr;
bool gWidescreen = false;
long gMillisSinceTrackChange = 0;

namespace {

const long FRAME_FLOOR_MILLIS = 16;
const long long FRAME_SLEEP_MICROS = 8333;
const long SETUP_PAUSE_MILLIS = 499;
const int DEFAULT_PARTICLE_TOTAL = 525;
const int PARTICLE_STEP = 100;
const float GAIN_STEP = 1.25f;
// Every band saturates at a gain of a few hundred. Held down long enough, `+`
// would take the gain to where the wells' forces overflow float and the field
// turns to NaN for good (`r` cannot undo that); the ceiling sits far below
// that and far above anything visible.
const float MAX_GAIN = 1.0e6f;

// millis() at the start of the previous frame. File scope so resetScene() can forget it.
long lastMillis = 0;

// The previous context took its textures with it; running ~PImage now would
// delete whatever the current context has under the same names. Only the
// object's memory is given back.
void forgetImage(PImage*& image) {
    if (image) ::operator delete(static_cast<void*>(image));
    image = nullptr;
}

// Whether the field's added light is drawn by the core itself (lightLayer.h):
// where the current context's GL rasterises on the CPU (Mesa's llvmpipe and
// softpipe, on machines without a GPU), unless the frame is multisampled
// (the antialiasing key), which the layer, one sample a pixel, would not
// honour. LV_LIGHT_LAYER=0 or 1 decides instead, for comparing the two.
bool lightOnTheLayer() {
    if (const char* forced = std::getenv("LV_LIGHT_LAYER")) return std::strcmp(forced, "0") != 0;
    GLint sampleBuffers = 0;
    glGetIntegerv(GL_SAMPLE_BUFFERS, &sampleBuffers);
    const char* name = reinterpret_cast<const char*>(glGetString(GL_RENDERER));
    return sampleBuffers == 0 && name && (std::strstr(name, "llvmpipe") || std::strstr(name, "softpipe"));
}

}  // namespace

// ---------------------------------------------------------------- sketch

void LumenvortexApplet::setup() {
    size(xSize, ySize);
    long start = millis();
    // Sleep in small steps rather than spin: a virtual clock only moves when slept on.
    while (millis() - start <= SETUP_PAUSE_MILLIS) sleepMicros(1000);
}

void LumenvortexApplet::draw() {
    long curMillis = millis();
    while (curMillis - lastMillis < FRAME_FLOOR_MILLIS) {
        sleepMicros(FRAME_SLEEP_MICROS);
        curMillis = millis();
    }
    lastMillis = curMillis;
    gFrameStartTime = (float)curMillis / 1000.0f;

    matrixMode(GL_MODELVIEW);
    pushMatrix();
    bgControl.exist();  // clears the frame, so it goes first
    sounds.exist();     // beats here already move this frame's camera
    pov.exist();
    gravityControl.exist();
    particleControl.exist();
    matrixMode(GL_MODELVIEW);
    popMatrix();

    if (gLastInfoPanelInvocation != 0) {
        lightLayer.putOnGL();   // the panel goes over the frame
        renderInfoPanel();
    }
}

void LumenvortexApplet::resized() {
    // The viewport belongs to the host side's context code.
}

void LumenvortexApplet::setupPostGL(bool /*widescreen: the camera reads gWidescreen*/) {
    if (rendererIsGles()) {
        // Shaders and buffers in place of the display lists: the ES
        // renderer draws the discs and rings the batches build.
        std::vector<char> log;
        if (!glesRenderer.setupGL(&log))
            std::fprintf(stderr, "Lumenvortex: the ES renderer's shaders do not build, nothing will be drawn: %s\n",
                         log.data());
    } else {
        glesRenderer.forgetGL();
        initEllipse();
    }
    lightLayer.enabled = !rendererIsGles() && lightOnTheLayer();
    setTexturing(true);

    forgetImage(orb);
    forgetImage(haloOrb);
    forgetImage(rainbow);
    forgetImage(rainbowBlur);
    forgetImage(gradientBar);
    forgetImage(infoPanel);
    bgControl.forgetImageTexture();
    lightLayer.forgetGL();

    orb = new PImage(orbImage, 128, 128);
    haloOrb = new PImage(haloOrbImage, 128, 128);
    rainbow = new PImage(rainbowImage, 128, 128);
    rainbowBlur = new PImage(rainbowBlurImage, 512, 512);
    {
        // The bar is stored as RGB; the texture wants four bytes a pixel.
        std::vector<unsigned char> rgba(256 * 256 * 4);
        expandGradientBarToRGBA(rgba.data());
        gradientBar = new PImage(rgba.data(), 256, 256);
    }
    infoPanel = new PImage(infoPanelImage, 256, 256);

    matrixMode(GL_MODELVIEW);
    if (!rendererIsGles()) glLoadIdentity();   // (the ES renderer's stack starts at identity)
    gMode.setupGL();
}

void LumenvortexApplet::keyPressed(char theChar) {
    switch (theChar) {
    case 'i':
        gMillisSinceTrackChange = millis();
        break;
    case 'a':
        addParticles();
        break;
    case 's':
        subtractParticles();
        break;
    case '-':
        sounds.multi = sounds.multi / GAIN_STEP;
        break;
    case '+':
    case '=':
        sounds.multi = sounds.multi * GAIN_STEP;
        if (sounds.multi > MAX_GAIN) sounds.multi = MAX_GAIN;
        break;
    case 'p':
        gMode.setPerlinFlow(!gMode.perlinFlow());
        break;
    case 'm':
        gMode.nextMode();
        break;
    case 'c':
        gMode.setCycleModeOnTrackChange(!gMode.cycleModeOnTrackChange());
        break;
    case 'h':
        colors.setIndex();
        particleControl.setColors();
        break;
    case 'r':
        particleControl.total = DEFAULT_PARTICLE_TOTAL;
        sounds.multi = Sounds::DEFAULT_MULTI;
        break;
    case '/':
    case '?':
        gLastInfoPanelInvocation = gLastInfoPanelInvocation == 0 ? 1 : 0;
        break;
    default:
        break;
    }
}

void LumenvortexApplet::iTunesTrackChanged() {
    if (gMode.cycleModeOnTrackChange()) gMode.nextMode();
}

void LumenvortexApplet::setSoundsSource(SoundsSource* soundsSource) {
    sounds.setSource(soundsSource);
}

void LumenvortexApplet::addParticles() { particleControl.total += PARTICLE_STEP; }

void LumenvortexApplet::subtractParticles() {
    if (particleControl.total > PARTICLE_STEP) particleControl.total -= PARTICLE_STEP;
}

void LumenvortexApplet::printStatus() {}

// ---------------------------------------------------------------- reset

namespace {

// Ends an object's life and leaves its storage zeroed, as it was before the
// program's dynamic initialisation: constructors that read other globals not
// yet constructed (the background reads the palette) then see what they saw
// at load.
template <class T>
void destroy(T& object) {
    object.~T();
    std::memset(static_cast<void*>(&object), 0, sizeof(T));
}

}  // namespace

void resetScene() {
    destroy(pov);
    destroy(sounds);
    destroy(colors);
    destroy(particleControl);
    destroy(gravityControl);
    destroy(bgControl);
    destroy(gMode);

    // The noise generators keep the settings they were built with; only their
    // tables go, to be built again (and rand reseeded) on the next sample.
    int octaves = perlin.mOctaves, seed = perlin.mSeed;
    float freq = perlin.mFrequency, amp = perlin.mAmplitude;
    new (&perlin) Perlin(octaves, freq, amp, seed);
    octaves = perlin2.mOctaves;
    seed = perlin2.mSeed;
    freq = perlin2.mFrequency;
    amp = perlin2.mAmplitude;
    new (&perlin2) Perlin(octaves, freq, amp, seed);

    srand(1);  // the C library's state at program start
    lastMillis = 0;
    gFrameStartTime = 0;
    gLastInfoPanelInvocation = 0;
    resetMillis();  // before the analyser: its sections take their first beat time from it

    new (&gMode) ModeMgr();
    new (&bgControl) BGControl();
    new (&gravityControl) GravityControl(0);
    new (&particleControl) ParticleControl(DEFAULT_PARTICLE_TOTAL);
    new (&colors) Colors();
    new (&sounds) Sounds();
    new (&pov) POV();
}
