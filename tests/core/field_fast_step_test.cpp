// The fast frame step against the literal one it replaces: from the same
// field, the forces of a frame (colour, level, the wells' pull, the pair
// pass) must give every particle the same acceleration to within float
// rounding, set the same charges, levels and colours and damp the same
// history, and draw the same proximity lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "field_scenario.h"
#include "field_scene.h"

namespace {

// A warmed-up field of n particles in `mode`, with the awkward pairs every
// field can have: a pair closer than 1 (the raw difference, unscaled) and,
// from 4 particles on, two on the same spot (no direction to push along).
// The accelerations start where the wells' pull would leave them.
void awkwardField(int n, int mode, bool flow) {
    lvscenario::growField(n, 4, flow, true, 8);
    fieldtest::setMode(mode, flow);
    std::vector<Particle>& list = particleControl.myList;
    for (int i = 0; i < n; i++) list[i].acc = Vector3D(0.01f * (i % 7), -0.02f * (i % 3), 0.005f);
    list[1].loc = list[0].loc;
    list[1].loc.x += 0.3f;
    list[1].loc.z -= 0.4f;
    if (n >= 4) list[3].loc = list[2].loc;
}

struct PassResult {
    std::vector<Vector3D> acc;
    std::vector<float> exact;   // charge, mass, level, colour, damped history
};

PassResult capture() {
    PassResult r;
    for (const Particle& p : particleControl.myList) {
        r.acc.push_back(p.acc);
        for (float v : {p.Q, p.M, p.invM, p.myLevel, p.rr, p.gg, p.bb, p.xv[0], p.yv[0], p.zv[0]}) r.exact.push_back(v);
    }
    return r;
}

// The literal frame's steps before the particles move.
void literalForces(bool flow) {
    for (Particle& p : particleControl.myList) {
        p.getColor();
        p.updateSoundLevel();
        if (!flow) p.setGravForce();
    }
    particleControl.repelAllParticles();
}

// Literal and fast forces from one copy of the list.
void runBoth(bool flow, PassResult& literal, PassResult& fast) {
    std::vector<Particle> before = particleControl.myList;
    literalForces(flow);
    literal = capture();
    particleControl.myList = before;
    particleControl.mFieldStep.forces(particleControl, flow);
    fast = capture();
}

// Each particle's sum runs over up to n - 1 pushes in another order, so the
// two passes may differ by a few roundings of the largest push; the bound
// is relative to the largest acceleration of the field.
TEST(FieldFastStep, PairPassMatchesTheLiteralPassInEveryModeAndSize) {
    lvtest::requireGL(fieldtest::kCanvas, fieldtest::kCanvas);   // the literal lines are drawn
    for (int n : {2, 525, 5000}) {
        for (int mode = 0; mode < 7; mode++) {
            bool flow = mode % 2 == 1;   // repel strength 0.2 or 1
            awkwardField(n, mode, flow);
            PassResult literal, fast;
            runBoth(flow, literal, fast);
            ASSERT_EQ(literal.exact, fast.exact);

            float largest = 0;
            for (const Vector3D& a : literal.acc) largest = std::max(largest, a.magnitude());
            ASSERT_GT(largest, 0.0f);
            float worst = 0;
            for (int i = 0; i < n; i++) worst = std::max(worst, Vector3D::sub(literal.acc[i], fast.acc[i]).magnitude());
            // One pair has no order to differ in: the wells' pull and the
            // push are the literal ones, bit for bit.
            EXPECT_LE(worst, n == 2 ? 0.0f : 1e-5f * largest) << n << " particles, mode " << mode;
        }
    }
}

// The lines mode: the fast pass draws the literal pass's lines, in its
// order, with one call after the pass.
TEST(FieldFastStep, ProximityLinesAreTheLiteralOnes) {
    fieldtest::freshScene(4);
    lvscenario::growField(525, 4, false, true, 8);
    fieldtest::setMode(4);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-3000, 3000, -3000, 3000, -3000, 3000);   // every line inside the view
    glMatrixMode(GL_MODELVIEW);

    std::vector<Particle> before = particleControl.myList;
    fieldtest::Feedback fb;
    fb.begin();
    literalForces(false);
    std::vector<fieldtest::FbVertex> literal = fb.end();
    int literalLines = fb.lines;

    particleControl.myList = before;
    particleControl.mFieldStep.forces(particleControl, false);
    fb.begin();
    particleControl.render();   // draws the collected lines first, then sprites
    std::vector<fieldtest::FbVertex> fast = fb.end();

    ASSERT_GT(literalLines, 10) << "the field should have close pairs";
    EXPECT_EQ(literalLines, fb.lines);
    ASSERT_GE(fast.size(), literal.size());
    for (size_t k = 0; k < literal.size(); k++)
        ASSERT_TRUE(literal[k].x == fast[k].x && literal[k].y == fast[k].y && literal[k].a == fast[k].a) << k;
}

}  // namespace

// After the forces, the fast step's per-particle steps (with the vectorised
// noise flow) must move every particle exactly as the literal loop does, on
// every instruction set and with either thread count.
TEST(FieldFastStep, NoiseFlowMovesEveryParticleAsTheLiteralStepDoes) {
    lvscenario::growField(FieldStep::THREAD_MIN_PARTICLES + 100, 4, true, true, 4);
    gFrameStartTime = 3.25f;
    std::vector<Particle> before = particleControl.myList;
    for (Particle& p : particleControl.myList) {
        p.pullTowardsCenter();
        p.perlinDrift();
        p.move();
        p.setMoveHistory();
    }
    std::vector<Particle> literal = particleControl.myList;

    for (const std::string& target : fieldStepTargets()) {
        ASSERT_TRUE(forceFieldStepTarget(target));
        for (int threads : {1, 2}) {
            particleControl.myList = before;
            particleControl.mFieldStep.mThreads = threads;
            particleControl.mFieldStep.moveAll(particleControl, true);
            for (size_t i = 0; i < literal.size(); i++) {
                const Particle& a = literal[i];
                const Particle& b = particleControl.myList[i];
                ASSERT_TRUE(a.loc.x == b.loc.x && a.loc.y == b.loc.y && a.loc.z == b.loc.z && a.vel.x == b.vel.x &&
                            a.vel.y == b.vel.y && a.vel.z == b.vel.z && a.x[1] == b.x[1])
                    << "particle " << i << " on " << target << " with " << threads << " thread(s)";
            }
        }
    }
    ASSERT_TRUE(forceFieldStepTarget(""));
}
