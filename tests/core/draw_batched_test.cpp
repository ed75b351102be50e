// The batched drawing (vertex arrays, one call per pass) and the ES 3
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
// texel. The white mode, whose ribbons are the faintest, is closest to the
// bound, near 50 dB. A real fault (a shape missing, a wrong texture or
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

void setBatched(bool on) {
    particleControl.mBatchedDraw = on;
    gravityControl.mBatchedDraw = on;
}

// The scripted run up to its last frame in `mode`. The frames before it only
// move the field: they are drawn through an empty scissor, left on for the
// caller to end before or after the last frame.
void runUpToLastFrame(lvscenario::ScriptedRun& run, int mode) {
    for (int m = 0; m < mode; m++) run.applet.keyPressed('m');
    glEnable(GL_SCISSOR_TEST);
    glScissor(0, 0, 0, 0);
    for (int n = 1; n < FRAMES; n++) run.frame(n);
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
        runUpToLastFrame(run, mode);
        run.frame(FRAMES);   // the last frame leaves this mode's inherited GL state
        glDisable(GL_SCISSOR_TEST);
        std::vector<uint8_t> immediate = drawOnly(false);
        expectSamePicture(immediate, "immediate", drawOnly(true), "batched", mode);
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
    std::vector<uint8_t> square = drawOnly(false);
    const PictureChange c = compare(square, drawOnly(true));
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
    std::vector<uint8_t> all = drawOnly(false);
    int lit = 0;
    for (size_t i = 0; i < all.size(); i++) lit += i % 4 != 3 && all[i] > 0;
    ASSERT_GT(lit, 5000) << "the ribbon should show";
    EXPECT_LE(compare(all, drawOnly(true)).worst, 4);
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

lvimage::Image readPNG(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    lvimage::Image image;
    std::string error;
    EXPECT_TRUE(lvimage::decodeImage(bytes.data(), bytes.size(), &image, error)) << path << ": " << error;
    return image;
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
        lvimage::Image reference = readPNG(dir + "-reference" + name), gles = readPNG(dir + "-gles" + name);
        ASSERT_GT(reference.width, 0);
        EXPECT_EQ(reference.width, gles.width);
        EXPECT_EQ(reference.height, gles.height);
        double db = lvtest::psnr(reference.rgba, gles.rgba);
        EXPECT_GE(db, MIN_PSNR) << "lv-snapshot's mode " << mode << " (see " << dir << "-*" << name << ")";
        std::printf("lv-snapshot mode %d: reference against gles, PSNR %.1f dB\n", mode, db);
    }
}

}  // namespace
