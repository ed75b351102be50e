// The whole visualizer, run on a virtual clock with the scripted spectrum and
// keys (scenarios/field_scenario.h), must reach the same field state every
// time, and that state must match the pinned hash: one for the literal frame
// step, one for the fast one. The fast step must also reach the same state on
// every instruction set this CPU offers and with one thread or two.
//
// Anything that changes the arithmetic, the order of random draws or the
// frame order changes the hashes. If a change is deliberate, run this test,
// check the new snapshots by eye (lv-snapshot), and pin the values it prints.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "field_scenario.h"
#include "gl_test_env.h"

namespace {

const uint64_t kPinnedLiteralHash = 0xfd149851e2336d4cull;
const uint64_t kPinnedFastHash = 0xe547dd835dfc07c1ull;

const int FRAMES = 600;
const int CANVAS_WIDTH = 320;    // the player's 1120 x 700 shape, smaller for llvmpipe
const int CANVAS_HEIGHT = 200;

struct RunReport {
    uint64_t hash = 0;
    std::set<int> modes;
    std::set<int> wellCounts;
    int flowFrames = 0;
    int maxParticles = 0;
    bool paced = true;
};

RunReport runScript(bool fastStep) {
    RunReport report;
    lvscenario::ScriptedRun run(CANVAS_WIDTH, CANVAS_HEIGHT, fastStep);
    for (int n = 1; n <= FRAMES; n++) {
        run.frame(n, lvscenario::scriptedKey(n));
        report.modes.insert(gMode.currentMode());
        report.wellCounts.insert(gravityControl.count);
        if (gMode.perlinFlow()) report.flowFrames++;
        if (particleControl.count > report.maxParticles) report.maxParticles = particleControl.count;
    }
    report.paced = run.paced;
    report.hash = lvscenario::fieldHash();
    return report;
}

TEST(FieldDeterminism, ScriptedRunsMatchThePinnedHashes) {
    lvtest::requireGL(CANVAS_WIDTH, CANVAS_HEIGHT);
    // The fast run first: state it left behind would move the literal run
    // off its pinned hash.
    RunReport fast = runScript(true);
    RunReport literal = runScript(false);

    // The script reached what it is there for.
    EXPECT_TRUE(literal.paced);
    EXPECT_GE(literal.modes.size(), 6u);
    EXPECT_GE(literal.wellCounts.size(), 3u) << "the well count should change";
    EXPECT_GT(literal.flowFrames, 0);
    EXPECT_LT(literal.flowFrames, FRAMES);
    EXPECT_EQ(425, literal.maxParticles);
    EXPECT_EQ(384, particleControl.count);   // one fewer on each of frames 560..600
    EXPECT_EQ(literal.modes, fast.modes);
    EXPECT_EQ(literal.flowFrames, fast.flowFrames);

    EXPECT_EQ(kPinnedLiteralHash, literal.hash)
        << "literal field state changed; if deliberate, pin 0x" << std::hex << literal.hash << "ull";
    EXPECT_EQ(kPinnedFastHash, fast.hash)
        << "fast field state changed; if deliberate, pin 0x" << std::hex << fast.hash << "ull";
}

// The field alone, large enough for the second thread to take part, in the
// noise flow and in the lines mode: the state and the collected lines hash
// the same whichever instruction set runs the pair pass and however many
// threads share it.
uint64_t fastRunHash(int mode, bool flow, int threads) {
    lvscenario::growField(FieldStep::THREAD_MIN_PARTICLES + 300, 4, flow, true, 0);
    particleControl.mFieldStep.mThreads = threads;
    while (gMode.currentMode() != mode) gMode.nextMode();
    gMode.setPerlinFlow(flow);
    gFrameStartTime = 2.0f;
    uint64_t h = 0;
    for (int frame = 0; frame < 12; frame++) {
        lvscenario::simulateFrame();
        for (const FieldStep::LineVertex& v : particleControl.mFieldStep.lines[0]) {
            h = h * 31 + (uint64_t)(v.x * 4096) + (uint64_t)(v.a * 1e6f);
        }
        gFrameStartTime += 1.0f / 60;
    }
    return h ^ lvscenario::fieldHash();
}

TEST(FieldDeterminism, FastStepIsTheSameOnEveryInstructionSetAndThreadCount) {
    std::vector<std::string> targets = fieldStepTargets();
    ASSERT_FALSE(targets.empty());
    std::printf("instruction sets offered: ");
    for (const std::string& t : targets) std::printf("%s ", t.c_str());
    std::printf("\n");

    struct Case { int mode; bool flow; };
    for (Case c : {Case{0, false}, Case{0, true}, Case{4, false}}) {
        uint64_t reference = 0;
        for (const std::string& target : targets) {
            ASSERT_TRUE(forceFieldStepTarget(target));
            ASSERT_EQ(target, fieldStepTarget());
            for (int threads : {1, 2}) {
                uint64_t h = fastRunHash(c.mode, c.flow, threads);
                if (reference == 0) reference = h;
                EXPECT_EQ(reference, h) << "mode " << c.mode << (c.flow ? " flow" : "") << " on " << target
                                        << " with " << threads << " thread(s)";
            }
        }
    }
    EXPECT_FALSE(forceFieldStepTarget("no such instruction set"));
    ASSERT_TRUE(forceFieldStepTarget(""));
    EXPECT_EQ(targets.front(), fieldStepTarget());
}

}  // namespace
