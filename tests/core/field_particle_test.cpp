// Particles and their population as physics, with no GL context: the count
// walking to its target, colour and level, the wells' pull against the noise
// flow, the pair repulsion, the motion step and the 24-entry trail. What
// particles draw is checked in field_draw_test.cpp.
#include <gtest/gtest.h>

#include <cmath>

#include "field_scene.h"

using namespace fieldtest;

namespace {

class Particles : public ::testing::Test {
protected:
    void SetUp() override {
        freshField(1);
        particleControl.total = 0;
    }
    void place(std::initializer_list<std::pair<Vector3D, float>> where) { placeAtRest(particleControl, where); }
    Particle& at(int i) { return particleControl.myList[i]; }
};

TEST_F(Particles, CountFollowsTheClampedTargetOneParticlePerFrame) {
    srand(7);
    float z = random(-5, 5), y = random(-5, 5), x = random(-5, 5);
    srand(7);
    particleControl.total = 6000;
    particleControl.adjustAmount();
    EXPECT_EQ(5000, particleControl.total);
    EXPECT_VEC(Vector3D(x, y, z), at(0).loc);   // three draws, the first on z
    particleControl.exist();
    particleControl.exist();
    EXPECT_EQ(3, particleControl.count);
    particleControl.total = -5;
    particleControl.exist();
    EXPECT_EQ(0, particleControl.total);
    EXPECT_EQ(1, particleControl.myList.back().index);   // the newest goes first

    // The first trail velocities of one target's particles spread over a circle.
    const float angle = 2 * 3.14159265f / 525 * 131;   // particle 131: just under a quarter turn
    Particle quarter = loose(131);
    EXPECT_NEAR(0.1f * std::cos(angle), quarter.xv[0], 1e-7f);
    EXPECT_NEAR(0.1f * std::sin(angle), quarter.yv[0], 1e-7f);
    EXPECT_EQ(quarter.yv[0], quarter.zv[0]);
}

TEST_F(Particles, ColourTakesThePaletteAndEasesOnePercentPerChannel) {
    Particle p = loose();
    unsigned seed = 0;
    color c;
    do {   // a pixel whose channels differ
        srand(++seed);
        c = colors.getRandomColor();
    } while (c.red == c.green || c.green == c.blue || c.red == c.blue);
    p.rr = 0.5f;
    srand(seed);
    p.setColor();
    EXPECT_VEC(Vector3D(c.red / 255.0f, c.green / 255.0f, c.blue / 255.0f), Vector3D(p.rd, p.gd, p.bd));
    EXPECT_EQ(0.5f, p.rr);   // fades there, does not jump

    p.rr = 0, p.gg = 1, p.bb = 0.2f;
    p.rd = 1, p.gd = 0.5f, p.bd = 0;
    p.getColor();
    EXPECT_VEC(Vector3D(0.01f, 0.995f, 0.198f), Vector3D(p.rr, p.gg, p.bb));
}

TEST_F(Particles, LevelFollowsBandIndexMod100Plus3) {
    for (auto [index, band] : {std::pair{107, 10}, {99, 102}}) {
        for (int b = 0; b < 110; b++) setBand(b, b);
        Particle p = loose(index);
        p.updateSoundLevel();
        EXPECT_EQ((float)band, p.myLevel) << index;
        silence();
        p.updateSoundLevel();
        EXPECT_FLOAT_EQ(0.8f * band, p.myLevel);   // 20 % off per frame
    }
}

// One frame of the population with two loud wells: without the flow the
// wells pull (their sum over the particle's mass), with it the noise
// carries instead, by 0.2 x level times three samples of the 3-D octave sum.
// Both frame steps, the literal one and the fast one.
TEST_F(Particles, WellsPullWithoutTheFlowAndTheNoiseCarriesWithIt) {
    for (int run = 0; run < 4; run++) {
        const bool flow = run & 1;
        freshField(1, flow);
        particleControl.mFastStep = run & 2;
        gravityControl.total = 2;
        for (int i = 0; i < 2; i++) {
            gravityControl.adjustAmount();
            Gravity& g = gravityControl.myList[i];
            g.loc = Vector3D(0, i * 300.0f, 0);
            g.myLevel = 7.5f, g.radius = 50, g.Q = 7.5f / 7, g.M = g.Q / 10;
        }
        gravityControl.baseSize = 50;
        place({{Vector3D(200, 10, -30), 0}});
        Particle& p = at(0);
        p.index = 5;   // a non-zero noise phase; hears band 8
        setBand(8, 5);
        gFrameStartTime = 1.25f;

        Vector3D expect(-2, -0.1f, 0.3f);   // the pull home
        if (!flow) {
            for (Gravity& g : gravityControl.myList) expect.add(Vector3D::div(g.calcGravForce(p), 0.25f));
        } else {
            float a[3][3] = {{200 * 0.002f, 10 * 0.002f, 5 / 1000.0f + 1.25f},
                             {10 * 0.002f, -30 * 0.002f, 5 / 500.0f + 1.25f},
                             {-30 * 0.002f, 200 * 0.002f, 5 / 250.0f + 1.25f}};
            for (float* v : a) v[0] = perlin.perlin_noise_3D(v) * 0.2f * 5;
            expect.add(Vector3D(a[0][0], a[1][0], a[2][0]));
        }
        particleControl.iterateList();
        expect.mult(0.96f);
        EXPECT_NEAR(0.0f, Vector3D::distance(expect, p.vel), 1e-5f) << "flow " << flow << ", fast step " << particleControl.mFastStep;
    }
}

// Particle i takes t x (the later one's charge) / R2 along the difference,
// the later one the same with the opposite sign; within squared distance 1
// the raw difference. Every newest trail velocity is damped once.
TEST_F(Particles, PairsPushApartScaledOrRawWithinOne) {
    for (bool flow : {false, true}) {
        freshField(1, flow);
        const float strength = flow ? 0.2f : 1.0f;
        place({{Vector3D(0, 0, 0), 0}, {Vector3D(10, 0, 0), 10}, {Vector3D(0, 0.5f, 0), 0}});
        for (int i = 0; i < 3; i++) at(i).xv[0] = at(i).yv[0] = at(i).zv[0] = 1;
        particleControl.repelAllParticles();
        EXPECT_VEC(Vector3D(-1.1f, 1.1f, 1 / 1.1f), Vector3D(at(1).Q, at(1).M, at(1).invM));
        const float f01 = strength * 1.1f / 100, f12 = strength * 0.1f / 100.25f;
        EXPECT_VEC(Vector3D(-10 * f01, -0.5f, 0), at(0).acc);   // raw: no strength, no charge
        EXPECT_VEC(Vector3D(10 * f01 + 10 * f12, -0.5f * f12, 0), at(1).acc);
        EXPECT_VEC(Vector3D(-10 * f12, 0.5f + 0.5f * f12, 0), at(2).acc);
        for (int i = 0; i < 3; i++)
            EXPECT_VEC(Vector3D(0.96f, 0.96f, 0.96f), Vector3D(at(i).xv[0], at(i).yv[0], at(i).zv[0])) << i;
    }
}

TEST_F(Particles, PullHomeThenMoveDampsLimitsAndMoves) {
    place({{Vector3D(100, -50, 20), 0}});
    Particle& p = at(0);
    p.pullTowardsCenter();
    EXPECT_VEC(Vector3D(-1, 0.5f, -0.2f), p.acc);
    p.vel = Vector3D(3, 1.5f, -3);
    p.move();
    EXPECT_VEC(Vector3D(1.92f, 1.92f, -3.072f), p.vel);   // (2, 2, -3.2) x 0.96
    EXPECT_VEC(Vector3D(101.92f, -48.08f, 16.928f), p.loc);
    EXPECT_VEC(Vector3D(), p.acc);
    p.vel = Vector3D(20, 0, 0);   // 19.2 after damping: cut to 15
    p.move();
    EXPECT_VEC(Vector3D(15, 0, 0), p.vel);
}

// Thirty frames of distinct values in all seven arrays: entry j holds frame
// 30 - j, positions scaled about the origin once per frame since, velocities
// and weights as recorded. Entry 23, the tail, included.
TEST_F(Particles, TrailKeepsTheLast24FramesInEveryArray) {
    for (int mode : {1, 6}) {
        setMode(mode);
        const float k = mode == 6 ? -0.05f : 0.025f;   // stroke mode draws inwards
        Particle p = loose();
        for (int frame = 1; frame <= 30; frame++) {
            p.loc = Vector3D(frame, 100 + frame, 200 + frame);
            p.vel = Vector3D(300 + frame, 400 + frame, 500 + frame);
            p.myLevel = 15.0f * frame;
            p.setMoveHistory();
        }
        for (int j : {0, 1, 2, 12, 22, 23}) {
            const float f = 30.0f - j;
            Vector3D pos(f, 100 + f, 200 + f);
            for (int n = 0; n < j; n++) pos = Vector3D(pos.x + pos.x * k, pos.y + pos.y * k, pos.z + pos.z * k);
            EXPECT_VEC(pos, Vector3D(p.x[j], p.y[j], p.z[j])) << j;
            EXPECT_VEC(Vector3D(300 + f, 400 + f, 500 + f), Vector3D(p.xv[j], p.yv[j], p.zv[j])) << j;
            EXPECT_EQ(f, p.pn[j]) << j;
        }
    }
}

}  // namespace
