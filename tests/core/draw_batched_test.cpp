// The batched drawing (vertex arrays, one call per pass) against the
// immediate drawing it replaces: the same scene state drawn both ways in each
// of the seven modes must give the same picture, and a scripted run must
// reach the same field state whichever drawing it uses.
//
// The bound: PSNR of at least 45 dB over the RGB channels (a mean squared
// error of at most about 2 on the 0..255 scale). What legitimately differs is
// float rounding: billboards turned on the CPU instead of by the matrix
// stack, and additive passes summed in another order, each moving an edge
// pixel by a step at most. A real fault (a shape missing, a wrong texture or
// colour, a shifted sprite) costs far more than that over a whole frame.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

#include "field_scenario.h"
#include "gl_test_env.h"

namespace {

const int WIDTH = 640;   // the player's 1120 x 700 shape, smaller for llvmpipe
const int HEIGHT = 400;
const int FRAMES = 240;
const double MIN_PSNR = 45.0;

double psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    double sum = 0;
    size_t n = 0;
    for (size_t i = 0; i < a.size(); i++) {
        if (i % 4 == 3) continue;
        double d = (double)a[i] - (double)b[i];
        sum += d * d;
        n++;
    }
    double mse = sum / (double)n;
    return mse == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / mse);
}

void setBatched(bool on) {
    particleControl.mBatchedDraw = on;
    gravityControl.mBatchedDraw = on;
}

// One frame's drawing from the current scene state, without moving it: the
// background, the camera, the wells, then the particles' passes. What the
// drawing changes (the background's and the wells' easing, the lines the
// pass collected, the GL state the passes inherit) is put back afterwards,
// so both drawings start from the same place.
std::vector<uint8_t> drawOnly(bool batched) {
    BGControl background = bgControl;
    std::vector<float> sizes;
    for (const Gravity& g : gravityControl.myList) sizes.push_back(g.d);
    FieldStep& step = particleControl.mFieldStep;
    std::vector<FieldStep::LineVertex> lines = step.lines[0];
    bool linesPending = step.linesPending;
    GLint polygonMode[2];
    glGetIntegerv(GL_POLYGON_MODE, polygonMode);
    GLboolean textured = glIsEnabled(GL_TEXTURE_2D);

    setBatched(batched);
    srand(7);
    int firstDraw = rand();
    srand(7);
    lvscenario::drawField();
    std::vector<uint8_t> picture = lvtest::readCanvas();
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
        for (int m = 0; m < mode; m++) run.applet.keyPressed('m');
        // Frames before the compared one only move the field.
        glEnable(GL_SCISSOR_TEST);
        glScissor(0, 0, 0, 0);
        for (int n = 1; n < FRAMES; n++) run.frame(n);
        run.frame(FRAMES);   // the last frame leaves this mode's inherited GL state
        glDisable(GL_SCISSOR_TEST);

        std::vector<uint8_t> immediate = drawOnly(false);
        std::vector<uint8_t> batched = drawOnly(true);
        double db = psnr(immediate, batched);
        std::string dir = lvtest::outputDir();
        lvtest::writePNG(dir + "/draw-immediate-" + std::to_string(mode) + ".png", immediate.data(), WIDTH, HEIGHT);
        lvtest::writePNG(dir + "/draw-batched-" + std::to_string(mode) + ".png", batched.data(), WIDTH, HEIGHT);
        EXPECT_GE(db, MIN_PSNR) << "mode " << mode << ": batched picture differs (see " << dir << ")";
        std::printf("mode %d: %d particles, %d wells, PSNR %.1f dB\n", mode, particleControl.count,
                    gravityControl.count, db);
    }
}

// One glow filling much of the canvas, drawn as the full square and as the
// batched octagon: the corners left out held no opacity, so no pixel may
// change by more than the rounding of a turned billboard, and those only
// along edges, never the faint outer ring of the sprite.
TEST(DrawBatched, TrimmedGlowKeepsAllItsLight) {
    lvtest::requireGL(WIDTH, HEIGHT);
    lvscenario::ScriptedRun run(WIDTH, HEIGHT);   // the real sprites
    run.applet.keyPressed('m');                   // mode 1: sprites only
    gMode.setupGL();
    particleControl.total = 1;
    particleControl.adjustAmount();
    Particle& p = particleControl.myList[0];
    p.loc = Vector3D(0, 0, 0);
    p.rr = p.gg = p.bb = 1;
    p.myLevel = 150;   // half-size 150.5 units: about 95 pixels on this canvas
    pov.xRot = 0.3f;
    std::vector<uint8_t> square = drawOnly(false);
    std::vector<uint8_t> octagon = drawOnly(true);
    int changed = 0, worst = 0;
    for (size_t i = 0; i < square.size(); i++) {
        int d = std::abs((int)square[i] - (int)octagon[i]);
        if (d) changed++;
        if (d > worst) worst = d;
    }
    EXPECT_LE(worst, 1);
    EXPECT_LT(changed, 200) << "of the glow's 30,000 or so pixels";
}

// One ribbon in three parts: a bright head third, a dim middle (alpha two
// steps of the 8-bit frame: it still adds light) and a tail far too faint to
// add anything. The batched strip leaves out the faint quads and the head's
// triangle with no area, and not a pixel of light may go with them.
TEST(DrawBatched, RibbonLeavesOutOnlyWhatAddsNoLight) {
    lvtest::requireGL(WIDTH, HEIGHT);
    lvscenario::ScriptedRun run(WIDTH, HEIGHT);   // mode 0: textured, additive ribbons
    gMode.setupGL();
    particleControl.total = 1;
    particleControl.adjustAmount();
    Particle& p = particleControl.myList[0];
    p.loc = Vector3D(0, 150, 0);
    p.rr = p.gg = p.bb = 1;
    p.myLevel = 0;
    const int tail = Particle::MAX_TAIL_LENGTH, bright = 8, dim = 16;
    for (int i = 0; i < tail; i++) {
        p.x[i] = -240.0f + 20.0f * (float)i;
        p.y[i] = 0;
        p.z[i] = 0;
        p.xv[i] = 0;
        p.yv[i] = 40;   // across the trail: the ribbon's width lies along y
        p.zv[i] = 0;
        // The entry's alpha is 40 / 50 * per * pn (Particle::ribbonEntryValues).
        float per = (float)(23 - i) / 24;
        p.pn[i] = i < bright ? 1.0f : i < dim ? 2.0f / 255 / (0.8f * per) : 1e-4f;
    }
    std::vector<uint8_t> all = drawOnly(false);
    std::vector<uint8_t> trimmed = drawOnly(true);
    int changed = 0, worst = 0, lit = 0;
    for (size_t i = 0; i < all.size(); i++) {
        int d = std::abs((int)all[i] - (int)trimmed[i]);
        if (d) changed++;
        if (d > worst) worst = d;
        if (i % 4 != 3 && all[i] > 0) lit++;
    }
    ASSERT_GT(lit, 5000) << "the ribbon should show";
    EXPECT_LE(worst, 1);
    EXPECT_LT(changed, 100);
    // Quads 0 to 15 have a bright or dim rung (quad 0 a head of no width:
    // one triangle); quads 16 to 22 are faint at both ends.
    EXPECT_EQ(size_t(3 * (2 * dim - 1)), particleControl.mRibbonBatch.indices.size());
}

// The drawing moves nothing the field's hash sees, and draws the same random
// numbers (none, in the seven modes) either way: the scripted run, with its
// keys through four modes, a flow toggle and a recolouring, ends in the same
// state. (The determinism test pins the whole run with the default, batched,
// drawing.)
TEST(DrawBatched, ScriptedRunReachesTheSameFieldState) {
    lvtest::requireGL(WIDTH, HEIGHT);
    uint64_t hash[2];
    for (int batched = 0; batched < 2; batched++) {
        lvscenario::ScriptedRun run(WIDTH / 4, HEIGHT / 4);
        setBatched(batched);
        for (int n = 1; n <= 360; n++) run.frame(n, lvscenario::scriptedKey(n));
        hash[batched] = lvscenario::fieldHash();
    }
    EXPECT_EQ(hash[0], hash[1]);
}

}  // namespace
