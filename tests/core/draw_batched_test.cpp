// The batched drawing (vertex arrays, one call per pass), its glows and
// ribbons on the light layer (drawn on the CPU, lightLayer.h) and the ES 3
// renderer (the batches drawn with shaders) against the immediate drawing
// they replace: the same scene state drawn each way in each of the seven
// modes must give the same picture, and a scripted run must reach the same
// field state whichever drawing it uses.
//
// The bound: PSNR of at least 45 dB over the RGB channels (a mean squared
// error of at most about 2 on the 0..255 scale). What legitimately differs is
// float rounding (billboards turned on the CPU instead of by the matrix
// stack, additive passes summed in another order: an edge pixel moves by a
// step at most) and the ribbons' two economies: the faintest quads left out
// (a few steps each, where they lay) and their texture read at its nearest
// texel; on the layer, the ribbons' attributes interpolated across the
// window and their texture read from a smaller copy, and the glows' filter
// weights rounded differently. The white mode, whose ribbons are the
// faintest, is closest to the bound, near 50 dB. A real fault (a shape missing, a wrong texture or
// colour, a shifted sprite) costs far more than that over a whole frame.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "field_scenario.h"
#include "gl_test_env.h"
#include "lv/image.h"
#include "renderer.h"

namespace {

const int WIDTH = 640;   // the player's 1120 x 700 shape, smaller for llvmpipe
const int HEIGHT = 400;
const int FRAMES = 240;
const double MIN_PSNR = 45.0;

// The three drawings of the fixed-function renderer; HELD is the layer's
// for a host that takes frames from memory (an export).
enum Drawing { IMMEDIATE, BATCHED, LAYER, HELD };

void setDrawing(Drawing d) {
    particleControl.mBatchedDraw = d != IMMEDIATE;
    gravityControl.mBatchedDraw = d != IMMEDIATE;
    lightLayer.enabled = d == LAYER || d == HELD;
    lightLayer.holdFrame = d == HELD;
}

// The scripted run up to its last frame in `mode`. The frames before it only
// move the field: they are drawn through an empty scissor, left on for the
// caller to end before or after the last frame. No frame may leave a GL
// error (in an ES context, a call outside ES 3.0 does): each is asked after
// its frame, as a later texture upload clears what came before it.
void runUpToLastFrame(lvscenario::ScriptedRun& run, int mode) {
    for (int m = 0; m < mode; m++) run.applet.keyPressed('m');
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, 0, 0);
    for (int n = 1; n < FRAMES; n++) {
        run.frame(n);
        const GLenum error = glGetError();
        ASSERT_EQ(error, (GLenum)GL_NO_ERROR) << "GL error after frame " << n << " in mode " << mode;
    }
}

// Two drawings of mode `mode` held to the bound, kept as PNGs for people.
void expectSamePicture(const std::vector<uint8_t>& a, const char* aName, const std::vector<uint8_t>& b,
                       const char* bName, int mode) {
    const double db = lvtest::psnr(a, b);
    const std::string dir = lvtest::outputDir(), suffix = "-" + std::to_string(mode) + ".png";
    lvtest::writePNG(dir + "/draw-" + aName + suffix, a.data(), WIDTH, HEIGHT);
    lvtest::writePNG(dir + "/draw-" + bName + suffix, b.data(), WIDTH, HEIGHT);
    EXPECT_GE(db, MIN_PSNR) << "mode " << mode << ": " << bName << " differs from " << aName << " (see " << dir << ")";
    std::printf("mode %d: %s against %s, %d particles, %d wells, PSNR %.1f dB\n", mode, aName, bName,
                particleControl.count, gravityControl.count, db);
}

// Whether the last drawOnly's frame was held by the layer.
bool gHeld = false;

// One frame's drawing from the current scene state, without moving it: the
// background, the camera, the wells, then the particles' passes. What the
// drawing changes (the background's and the wells' easing, the lines the
// pass collected, the GL state the passes inherit) is put back afterwards,
// so both drawings start from the same place.
std::vector<uint8_t> drawOnly(Drawing drawing) {
    BGControl background = bgControl;
    std::vector<float> sizes;
    for (const Gravity& g : gravityControl.myList) sizes.push_back(g.d);
    FieldStep& step = particleControl.mFieldStep;
    std::vector<FieldStep::LineVertex> lines = step.lines[0];
    bool linesPending = step.linesPending;
    GLint polygonMode[2];
    glGetIntegerv(GL_POLYGON_MODE, polygonMode);
    GLboolean textured = glIsEnabled(GL_TEXTURE_2D);

    setDrawing(drawing);
    srand(7);
    int firstDraw = rand();
    srand(7);
    lvscenario::drawField();
    // A frame the layer held never reached GL: it is the picture (its rows
    // from the bottom, the canvas's from the top).
    std::vector<uint8_t> picture;
    gHeld = lightLayer.heldFrame() != nullptr;
    if (gHeld) {
        const std::vector<uint8_t>& held = *lightLayer.heldFrame();
        const size_t row = size_t(WIDTH) * 4;
        EXPECT_EQ(held.size(), row * HEIGHT);
        picture.resize(held.size());
        for (size_t y = 0; y < HEIGHT && held.size() == picture.size(); y++)
            std::copy_n(held.begin() + (HEIGHT - 1 - y) * row, row, picture.begin() + y * row);
        lightLayer.frameTaken();
    } else {
        picture = lvtest::readCanvas();
    }
    lightLayer.holdFrame = false;
    EXPECT_EQ(firstDraw, rand()) << "the drawing must not draw random numbers of its own";

    bgControl = background;
    for (size_t i = 0; i < sizes.size(); i++) gravityControl.myList[i].d = sizes[i];
    step.lines[0] = lines;
    step.linesPending = linesPending;
    glPolygonMode(GL_FRONT, polygonMode[0]);
    glPolygonMode(GL_BACK, polygonMode[1]);
    if (textured) glEnable(GL_TEXTURE_2D); else glDisable(GL_TEXTURE_2D);
    return picture;
}

TEST(DrawBatched, EveryModeDrawsTheImmediatePicture) {
    lvtest::requireGL(WIDTH, HEIGHT);
    for (int mode = 0; mode < 7; mode++) {
        lvscenario::ScriptedRun run(WIDTH, HEIGHT);
        runUpToLastFrame(run, mode);
        run.frame(FRAMES);   // the last frame leaves this mode's inherited GL state
        glDisable(GL_SCISSOR_TEST);
        std::vector<uint8_t> immediate = drawOnly(IMMEDIATE);
        expectSamePicture(immediate, "immediate", drawOnly(BATCHED), "batched", mode);
        expectSamePicture(immediate, "immediate", drawOnly(LAYER), "layer", mode);
        // Held in memory, the frame is the one GL would have read back, to
        // the byte; the stroked ribbons and the proximity lines (here between
        // neighbours in the list) are drawn by GL over the layer, which then
        // goes to GL after all.
        FieldStep& step = particleControl.mFieldStep;
        for (bool lines : {false, true}) {
            if (lines && !gMode.renderProximityLines()) continue;
            step.lines[0].clear();
            for (size_t i = 0; lines && i + 1 < particleControl.myList.size(); i += 2)
                for (const Particle* p : {&particleControl.myList[i], &particleControl.myList[i + 1]})
                    step.lines[0].push_back({p->loc.x, p->loc.y, p->loc.z, 1, 1, 1, 0.5f});
            step.linesPending = lines;
            const std::vector<uint8_t> layer = drawOnly(LAYER);
            EXPECT_EQ(drawOnly(HELD), layer) << "mode " << mode << (lines ? " with lines" : "")
                                             << ": the held frame is not what GL shows";
            EXPECT_EQ(gHeld, !(gMode.flatShade() || gMode.strokeMode() || lines)) << "mode " << mode;
        }
        step.linesPending = false;
        step.lines[0].clear();
        if (!gMode.flatShade()) {
            EXPECT_GT(lightLayer.sprites, 100) << "mode " << mode << " drew no glows on the layer";
        }
        if (!gMode.flatShade() && gMode.renderRibbons() && !gMode.strokeMode()) {
            EXPECT_GT(lightLayer.triangles, 1000) << "mode " << mode << " drew no ribbons on the layer";
        }
    }
}

// The one white particle of a field cut down to it, in the mode now set.
Particle& loneWhiteParticle() {
    gMode.setupGL();
    particleControl.total = 1;
    particleControl.adjustAmount();
    Particle& p = particleControl.myList[0];
    p.rr = p.gg = p.bb = 1;
    return p;
}

// How two pictures differ: the largest step of any channel, and how many
// channels moved at all.
struct PictureChange {
    int worst = 0, changed = 0;
};
PictureChange compare(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    PictureChange c;
    for (size_t i = 0; i < a.size(); i++) {
        int d = std::abs((int)a[i] - (int)b[i]);
        if (d) c.changed++;
        c.worst = std::max(c.worst, d);
    }
    return c;
}

// One glow filling much of the canvas, drawn as the full square and as the
// batched octagon: the corners left out held no opacity, so no pixel may
// change by more than the rounding of a turned billboard, and those only
// along edges, never the faint outer ring of the sprite.
TEST(DrawBatched, TrimmedGlowKeepsAllItsLight) {
    lvtest::requireGL(WIDTH, HEIGHT);
    lvscenario::ScriptedRun run(WIDTH, HEIGHT);   // the real sprites
    run.applet.keyPressed('m');                   // mode 1: sprites only
    Particle& p = loneWhiteParticle();
    p.loc = Vector3D(0, 0, 0);
    p.myLevel = 150;   // half-size 150.5 units: about 95 pixels on this canvas
    pov.xRot = 0.3f;
    std::vector<uint8_t> square = drawOnly(IMMEDIATE);
    const PictureChange c = compare(square, drawOnly(BATCHED));
    EXPECT_LE(c.worst, 1);
    EXPECT_LT(c.changed, 200) << "of the glow's 30,000 or so pixels";
}

// One ribbon in three parts: a bright head third, a dim middle (alpha six
// steps of the 8-bit frame) and a faint tail (three steps). The batched strip
// leaves out the faint quads and the head's triangle with no area, and
// nothing else; no pixel may lose more than the faint tail could add.
TEST(DrawBatched, RibbonLeavesOutOnlyTheFaintestQuads) {
    lvtest::requireGL(WIDTH, HEIGHT);
    lvscenario::ScriptedRun run(WIDTH, HEIGHT);   // mode 0: textured, additive ribbons
    Particle& p = loneWhiteParticle();
    p.loc = Vector3D(0, 150, 0);
    p.myLevel = 0;
    const int tail = Particle::MAX_TAIL_LENGTH, bright = 8, dim = 16;
    for (int i = 0; i < tail; i++) {
        p.x[i] = -240.0f + 20.0f * (float)i;
        p.y[i] = p.z[i] = p.xv[i] = p.zv[i] = 0;
        p.yv[i] = 40;   // across the trail: the ribbon's width lies along y
        // The entry's alpha is 40 / 50 * per * pn (Particle::ribbonEntryValues);
        // the last entry's per is 0.
        float per = std::max((float)(23 - i) / 24, 1.0f / 24);
        p.pn[i] = i < bright ? 1.0f : (i < dim ? 6.0f : 3.0f) / 255 / (0.8f * per);
    }
    std::vector<uint8_t> all = drawOnly(IMMEDIATE);
    int lit = 0;
    for (size_t i = 0; i < all.size(); i++) lit += i % 4 != 3 && all[i] > 0;
    ASSERT_GT(lit, 5000) << "the ribbon should show";
    EXPECT_LE(compare(all, drawOnly(BATCHED)).worst, 4);
    // The pass reads the texture at its nearest texel and puts back the
    // kit's filtering for the passes after it.
    glBindTexture(GL_TEXTURE_2D, rainbowBlur->GetTexID());
    for (GLenum filter : {GL_TEXTURE_MIN_FILTER, GL_TEXTURE_MAG_FILTER}) {
        GLint got = 0;
        glGetTexParameteriv(GL_TEXTURE_2D, filter, &got);
        EXPECT_EQ(GL_LINEAR, got) << filter;
    }
    // Quads 0 to 15 have a bright or dim rung (quad 0 a head of no width:
    // one triangle); quads 16 to 22 are faint at both ends.
    EXPECT_EQ(size_t(3 * (2 * dim - 1)), particleControl.mRibbonBatch.indices.size());
}

// Lit channels (alpha aside) brighter than the background's.
int litChannels(const std::vector<uint8_t>& picture, const std::vector<uint8_t>& background) {
    int lit = 0;
    for (size_t i = 0; i < picture.size(); i++) lit += i % 4 != 3 && picture[i] > background[i] + 8;
    return lit;
}

// What GL clips, the layer clips the same way: a ribbon whose trail runs
// from far in front of the camera to behind it (through the near plane and
// the eye), a glow so near that its square is many times the frame, and one
// behind the camera, which draws nothing.
TEST(DrawBatched, LayerClipsWhatGLClips) {
    lvtest::requireGL(WIDTH, HEIGHT);
    lvscenario::ScriptedRun run(WIDTH, HEIGHT);   // mode 0: glows and textured ribbons
    for (int i = 0; i < 4; i++) particleControl.adjustAmount();
    ASSERT_EQ(4, particleControl.count);
    for (Particle& p : particleControl.myList) p.rr = p.gg = p.bb = 1, p.myLevel = 5;
    const std::vector<uint8_t> empty = drawOnly(BATCHED);   // also sets the camera
    // The camera looks at the origin from pov.d along `back`.
    const Vector3D right = particleControl.mGlowBatch.right, up = particleControl.mGlowBatch.up;
    const Vector3D back(right.y * up.z - right.z * up.y, right.z * up.x - right.x * up.z, right.x * up.y - right.y * up.x);
    auto at = [&](float along, float side) {
        return Vector3D(back.x * along + right.x * side, back.y * along + right.y * side, back.z * along + right.z * side);
    };
    Particle& near = particleControl.myList[0];
    near.loc = at(pov.d - 15, 2);
    near.myLevel = 100;   // half-size 100.5 units, 15 from the eye
    particleControl.myList[1].loc = at(pov.d + 40, 0);
    Particle& trail = particleControl.myList[2];
    trail.loc = at(0, 0);
    // Its rungs run from behind the eye, through the slab between the eye and
    // the near plane (10 units), to far in front.
    for (int i = 0; i < Particle::MAX_TAIL_LENGTH; i++) {
        const Vector3D q = at(pov.d + 75 - 40.0f * (float)i, 2);
        trail.x[i] = q.x, trail.y[i] = q.y, trail.z[i] = q.z;
        trail.xv[i] = 40 * up.x, trail.yv[i] = 40 * up.y, trail.zv[i] = 40 * up.z;
        trail.pn[i] = 1;
    }
    // Nearer than the near plane: GL clips all of it, and the layer must
    // too, or it turns into a glow over the whole frame.
    Particle& tooNear = particleControl.myList[3];
    tooNear.loc = at(pov.d - 1, -2);
    tooNear.myLevel = 100;
    const std::vector<uint8_t> gl = drawOnly(BATCHED), layer = drawOnly(LAYER);
    EXPECT_GT(litChannels(gl, empty), WIDTH * HEIGHT) << "the near glow should fill much of the frame";
    EXPECT_GE(lightLayer.sprites, 2) << "the near glow and its core at least";
    EXPECT_GT(lightLayer.triangles, 10) << "the ribbon's triangles in front of the camera, some of them clipped";
    expectSamePicture(gl, "clipped-batched", layer, "clipped-layer", 0);
    // The ribbon alone, where the glows' light no longer hides a piece of
    // it missing or drawn unclipped.
    // The pass leaves the current colour as GL's strips leave it.
    particleControl.showOrb = false;
    GLfloat glColour[4], layerColour[4];
    const std::vector<uint8_t> ribbonGL = drawOnly(BATCHED);
    glGetFloatv(GL_CURRENT_COLOR, glColour);
    const std::vector<uint8_t> ribbonLayer = drawOnly(LAYER);
    glGetFloatv(GL_CURRENT_COLOR, layerColour);
    particleControl.showOrb = true;
    EXPECT_GT(litChannels(ribbonGL, empty), 2000) << "the ribbon should light part of the frame";
    expectSamePicture(ribbonGL, "clipped-ribbon-batched", ribbonLayer, "clipped-ribbon-layer", 0);
    for (int k = 0; k < 4; k++) EXPECT_EQ(glColour[k], layerColour[k]) << "current colour, channel " << k;
}

// Threads fill the layer's lists side by side: a triangle lights the same
// pixels from any of them, over a frame the layer adds to (whose tiles are
// shaded only where something lies).
TEST(DrawBatched, LayerDrawsTheSameFromEveryList) {
    lvtest::requireGL(WIDTH, HEIGHT);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    glViewport(0, 0, WIDTH, HEIGHT);
    glDisable(GL_SCISSOR_TEST);
    const float black[3] = {0, 0, 0}, orange[4] = {1, 0.5f, 0, 1};
    lightLayer.enabled = true;
    std::vector<uint8_t> first;
    for (int list = 0; list < LightLayer::LISTS; list++) {
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT);
        lightLayer.begin(false, black);
        lightLayer.takeCamera();
        // A corner of the frame, far from the first tile.
        lightLayer.addTriangle(lightLayer.project(0.5f, 0.5f, 0, orange, 0, 0),
                               lightLayer.project(0.9f, 0.55f, 0, orange, 0, 0),
                               lightLayer.project(0.6f, 0.9f, 0, orange, 0, 0), list);
        lightLayer.composite();
        const std::vector<uint8_t> picture = lvtest::readCanvas();
        EXPECT_EQ(1, lightLayer.triangles) << "list " << list;
        EXPECT_GT(litChannels(picture, std::vector<uint8_t>(picture.size(), 0)), 1000) << "list " << list << " lit nothing";
        if (list == 0) first = picture;
        else EXPECT_TRUE(picture == first) << "list " << list << " drew another picture than list 0";
    }
    lightLayer.enabled = false;
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
}

// The layer snaps vertices to its grid with its own rounding, which must be
// llround's to the last case: halves away from zero, the doubles either side
// of a half, negatives, whole numbers beyond 2^52. (Vertices reach it only
// inside the guard band: never infinite, where llround's answer is the C
// library's choice.)
TEST(DrawBatched, LayerRoundsAsLlroundDoes) {
    std::vector<double> cases = {0.0, -0.0, 0.5, -0.5, 1.5, -1.5, 2.5, -2.5, 1e6 + 0.5, -1e6 - 0.5, 4503599627370495.5,
                                 -4503599627370495.5, 4503599627370496.0, 9007199254740993.0, -9.2e18, 327680.49999999994};
    for (double half : {0.5, -0.5, 1.5, -1.5, 491520.5, -163840.5}) {
        cases.push_back(std::nextafter(half, 0.0));
        cases.push_back(std::nextafter(half, half * 2));
    }
    uint64_t state = 88172645463325252ull;   // xorshift: spread over the window's range at 1/256 pixel
    for (int i = 0; i < 2000; i++) {
        state ^= state << 13, state ^= state >> 7, state ^= state << 17;
        cases.push_back((static_cast<double>(state % 4000000) - 2000000) / 256.0 * (i % 2 ? 1.0 : 1.0 / 3));
    }
    for (double x : cases) EXPECT_EQ(std::llround(x), LightLayer::roundHalfAway(x)) << "x = " << std::hexfloat << x;
}

// The layer lands where GL draws: in a viewport away from the canvas's
// corner, through a scissor that cuts into it, and again when the viewport
// grows in height alone, in the blended modes with
// and without the frame held on the layer (mode 6's stroked ribbons leave
// outlines on, so there the layer is added to what GL drew).
TEST(DrawBatched, LayerKeepsToTheViewportAndScissor) {
    lvtest::requireGL(WIDTH, HEIGHT);
    for (int mode : {0, 6}) {
        lvscenario::ScriptedRun run(WIDTH, HEIGHT);
        runUpToLastFrame(run, mode);
        run.frame(FRAMES);
        glDisable(GL_SCISSOR_TEST);
        glClearColor(0, 0, 1, 1);
        glClear(GL_COLOR_BUFFER_BIT);   // what lies outside the scissor stays blue
        glEnable(GL_SCISSOR_TEST);
        glScissor(20, 60, WIDTH - 200, HEIGHT - 90);
        // Then taller only, as a window or a render resized in height alone.
        for (int height : {HEIGHT - 80, HEIGHT - 40}) {
            glViewport(50, 30, WIDTH - 120, height);
            const std::vector<uint8_t> gl = drawOnly(BATCHED), layer = drawOnly(LAYER);
            EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR) << "mode " << mode << ", viewport height " << height;
            EXPECT_EQ(layer[0], 0) << "the corner, outside the scissor, was drawn over";
            EXPECT_EQ(layer[2], 255);
            expectSamePicture(gl, "viewport-batched", layer, "viewport-layer", mode);
        }
        // The whole viewport under a smaller scissor: the frame is not the
        // layer's alone, so a host that takes frames from memory gets GL's.
        glViewport(0, 0, WIDTH, HEIGHT);
        const std::vector<uint8_t> layer = drawOnly(LAYER);
        EXPECT_EQ(drawOnly(HELD), layer) << "mode " << mode << ": the scissor was not kept";
        EXPECT_FALSE(gHeld) << "mode " << mode;
        glDisable(GL_SCISSOR_TEST);
        glViewport(0, 0, WIDTH, HEIGHT);
    }
}

// The layer's frames are its own arithmetic (SSE2, integer and single
// precision without fused operations), the same on every x86-64 machine and
// with one thread or two: mode 0's frame, which the layer holds whole, is
// pinned. A deliberate
// change to the layer moves it; look at the pictures, then pin the new value.
TEST(DrawBatched, LayerFrameMatchesThePinnedHash) {
    const uint64_t kPinnedLayerFrame = 0x3d0b8c89cab5ca45ull;
    lvtest::requireGL(WIDTH, HEIGHT);
    lvscenario::ScriptedRun run(WIDTH, HEIGHT);
    runUpToLastFrame(run, 0);
    glDisable(GL_SCISSOR_TEST);
    lightLayer.enabled = true;
    run.frame(FRAMES);
    const std::vector<uint8_t> picture = lvtest::readCanvas();
    uint64_t hash = 0xcbf29ce484222325ull;   // FNV-1a
    for (uint8_t b : picture) hash = (hash ^ b) * 0x100000001b3ull;
    EXPECT_EQ(kPinnedLayerFrame, hash) << "the layer's frame changed; if deliberate, pin 0x" << std::hex << hash << "ull";
    // The tiles shared between two threads or shaded by one: the same frame.
    lightLayer.threads = 1;
    const std::vector<uint8_t> one = drawOnly(LAYER);
    lightLayer.threads = 2;
    EXPECT_TRUE(one == drawOnly(LAYER)) << "one thread and two drew different frames";
}

// The drawing moves nothing the field's hash sees, and draws the same random
// numbers (none, in the seven modes) either way: the scripted run, with its
// keys through four modes, a flow toggle and a recolouring, ends in the same
// state. (The determinism test pins the whole run with the default, batched,
// drawing.)
TEST(DrawBatched, ScriptedRunReachesTheSameFieldState) {
    lvtest::requireGL(WIDTH, HEIGHT);
    uint64_t hash[3];
    for (Drawing d : {IMMEDIATE, BATCHED, LAYER}) {
        lvscenario::ScriptedRun run(WIDTH / 4, HEIGHT / 4);
        setDrawing(d);
        for (int n = 1; n <= 360; n++) run.frame(n, lvscenario::scriptedKey(n));
        hash[d] = lvscenario::fieldHash();
    }
    EXPECT_EQ(hash[IMMEDIATE], hash[BATCHED]);
    EXPECT_EQ(hash[IMMEDIATE], hash[LAYER]);
}

// The scripted run to frame FRAMES in `mode`, drawn by `kind` in a context
// of its API (desktop GL, or ES 3 for the ES renderer), with the help panel
// over the last frame, with the fast frame step or (`fastStep` false) the
// literal one.
std::vector<uint8_t> scriptedPicture(RendererKind kind, int mode, uint64_t* hash, bool fastStep = true) {
    const bool es = kind == RENDERER_GLES;
    lvtest::requireGL(WIDTH, HEIGHT, es);
    useRenderer(kind);
    std::vector<uint8_t> picture;
    {
        lvscenario::ScriptedRun run(WIDTH, HEIGHT, fastStep);
        // Chosen again over the scene set up, as the plug-in switches a live one.
        useRenderer(kind);
        runUpToLastFrame(run, mode);
        glDisable(GL_SCISSOR_TEST);
        run.frame(FRAMES, '/');
        picture = lvtest::readCanvas();
        *hash = lvscenario::fieldHash();
        // Anything outside ES 3.0 would have left an error here.
        EXPECT_EQ(glGetError(), (GLenum)GL_NO_ERROR) << rendererName(kind) << ", mode " << mode;
    }
    useRenderer(RENDERER_BATCHED);
    return picture;
}

// The ES renderer draws what the reference draws: the same run in each
// mode, frame for frame, reaches the same field (the drawing consumes the
// same random draws on every path) and the same picture, the help panel
// included. (The track overlay, drawn by the plug-in, is compared in
// tests/plugin/overlay_test.cpp.)
TEST(DrawBatched, GlesDrawsTheReferencePictureInEveryMode) {
    // Mode 4 again last with the literal frame step, which draws the lines
    // mode's lines as it finds them.
    for (int run = 0; run < 8; run++) {
        const int mode = run < 7 ? run : 4;
        uint64_t referenceHash = 0, glesHash = 0;
        std::vector<uint8_t> reference = scriptedPicture(RENDERER_REFERENCE, mode, &referenceHash, run < 7);
        std::vector<uint8_t> gles = scriptedPicture(RENDERER_GLES, mode, &glesHash, run < 7);
        EXPECT_EQ(referenceHash, glesHash) << "mode " << mode << ": the ES drawing changed the field";
        expectSamePicture(reference, run < 7 ? "reference" : "reference-literal-step", gles,
                          run < 7 ? "gles" : "gles-literal-step", mode);
    }
}

// lv-snapshot, as a person runs it, writes the same seven pictures with the
// reference drawing and with the ES renderer.
TEST(DrawBatched, SnapshotsOfTheReferenceAndTheGlesRendererMatch) {
    const char* bin = std::getenv("LV_BINARY_DIR");
    ASSERT_TRUE(bin) << "run under ctest, which says where lv-snapshot is";
    const std::string dir = lvtest::outputDir() + "/snapshots";
    for (const char* renderer : {"reference", "gles"}) {
        const std::string command = std::string(bin) + "/bin/lv-snapshot " + dir + "-" + renderer + " --renderer " +
                                    renderer + " > /dev/null";
        ASSERT_EQ(std::system(command.c_str()), 0) << command;
    }
    for (int mode = 0; mode < 7; mode++) {
        const std::string name = "/mode-" + std::to_string(mode) + ".png";
        lvimage::Image reference = lvtest::readPNG(dir + "-reference" + name), gles = lvtest::readPNG(dir + "-gles" + name);
        ASSERT_GT(reference.width, 0);
        EXPECT_EQ(reference.width, gles.width);
        EXPECT_EQ(reference.height, gles.height);
        double db = lvtest::psnr(reference.rgba, gles.rgba);
        EXPECT_GE(db, MIN_PSNR) << "lv-snapshot's mode " << mode << " (see " << dir << "-*" << name << ")";
        std::printf("lv-snapshot mode %d: reference against gles, PSNR %.1f dB\n", mode, db);
    }
}

}  // namespace
