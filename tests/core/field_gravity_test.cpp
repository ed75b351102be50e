// Gravity wells on the real scene and GL test bed: the count walking to its
// target, level and radius, the motion step, the force law on particles and
// the billboard's opacity.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "field_scene.h"

using namespace fieldtest;

namespace {

class Wells : public ::testing::Test {
protected:
    void SetUp() override { freshScene(0); }

    Gravity& well(int i) { return gravityControl.myList[i]; }

    // Well i placed and sounding as given (the list may move: take
    // references after the last call).
    Gravity& placeWell(int i, Vector3D l, float level) {
        gravityControl.total = std::max(gravityControl.total, i + 1);
        while (gravityControl.count <= i) gravityControl.adjustAmount();
        gravityControl.baseSize = 50;
        Gravity& g = well(i);
        g.loc = l;
        g.vel = g.acc = Vector3D();
        g.myLevel = level;
        g.radius = 50 * level / 15 + 25;
        return g;
    }
};

TEST_F(Wells, CountFollowsTheClampedTargetOneWellPerFrame) {
    gravityControl.total = 4;
    for (int frame = 1; frame <= 4; frame++) {
        gravityControl.exist();
        ASSERT_EQ(frame, gravityControl.count);
        EXPECT_EQ(frame - 1, gravityControl.myList.back().index);
    }
    gravityControl.total = 1;
    for (int expectLast : {2, 1, 0}) {   // the newest goes first
        gravityControl.exist();
        EXPECT_EQ(expectLast, gravityControl.myList.back().index);
    }
    gravityControl.total = 80;
    gravityControl.exist();
    EXPECT_EQ(50, gravityControl.total);
    EXPECT_EQ(2, gravityControl.count);
    gravityControl.total = -3;
    gravityControl.exist();
    EXPECT_EQ(0, gravityControl.total);
}

TEST_F(Wells, LevelRisesAtOnceDecaysSlowlyAndSetsTheRadius) {
    gravityControl.total = 2;
    gravityControl.exist();
    gravityControl.exist();
    setBand(5, 20);   // well 0
    setBand(8, 9);    // well 1
    gravityControl.exist();
    EXPECT_EQ(20.0f, well(0).myLevel);
    EXPECT_EQ(9.0f, well(1).myLevel);
    EXPECT_NEAR(91.6667f, well(0).radius, 1e-3f);
    silence();
    gravityControl.exist();
    EXPECT_FLOAT_EQ(18.5f, well(0).myLevel);
    gravityControl.exist();
    EXPECT_FLOAT_EQ(17.1125f, well(0).myLevel);
}

TEST_F(Wells, MoveDampsBeforeItLimits) {
    Gravity& g = placeWell(0, Vector3D(1, 1, 1), 0);
    g.vel = Vector3D(6, 8, 0);
    g.move();
    EXPECT_FLOAT_EQ(3.0f, g.vel.x);
    EXPECT_FLOAT_EQ(4.0f, g.vel.y);
    EXPECT_FLOAT_EQ(4.0f, g.loc.x);
}

TEST_F(Wells, PullToTheCentreAndMutualPush) {
    Gravity& alone = placeWell(0, Vector3D(100, -50, 20), 12);
    alone.repelGravities();
    alone.pullTowardsCenter();
    EXPECT_FLOAT_EQ(-1.0f, alone.acc.x);
    EXPECT_FLOAT_EQ(0.5f, alone.acc.y);

    // 50 x Q / R along the difference: Q 1, R 100, |d| 10 gives 5 units.
    placeWell(0, Vector3D(0, 0, 0), 7);
    placeWell(1, Vector3D(10, 0, 0), 7);
    well(1).Q = 1;
    well(0).repelGravities();
    EXPECT_FLOAT_EQ(-5.0f, well(0).acc.x);

    // Nearly coincident wells trade the raw difference.
    placeWell(0, Vector3D(0, 0, 0), 7);
    placeWell(1, Vector3D(0.5f, 0, 0), 7);
    well(0).repelGravities();
    EXPECT_FLOAT_EQ(-0.5f, well(0).acc.x);
}

TEST_F(Wells, ForceLawPullsBetweenCoreAndFiveHundredAndPushesElsewhere) {
    Gravity& g = placeWell(0, Vector3D(0, 0, 0), 7.5f);   // radius 50: R = |d| - 10
    g.repelGravities();
    particleControl.total = 1;
    particleControl.adjustAmount();
    Particle& p = particleControl.myList[0];
    auto forceAt = [&](float x) {
        p.loc = Vector3D(x, 0, 0);
        return g.calcGravForce(p).x;
    };
    EXPECT_EQ(0.0f, forceAt(60));             // R = 50 = baseSize: the core boundary
    EXPECT_FLOAT_EQ(900.0f, forceAt(30));     // inside: out by (baseSize - R) x |d|
    EXPECT_FLOAT_EQ(-10.0f, forceAt(10));     // R exactly 0: the raw difference
    EXPECT_LT(forceAt(200), 0.0f);            // pulled in
    EXPECT_GT(forceAt(700), 0.0f);            // pushed off beyond 500

    // A silent well has no pull, only the push inside the core.
    Gravity& quiet = placeWell(0, Vector3D(0, 0, 0), 0);
    quiet.repelGravities();
    EXPECT_EQ(0.0f, forceAt(100));
    EXPECT_FLOAT_EQ(600.0f, forceAt(40));     // R = 35, radius 25
}

// Halo tinted (200, 175, 255) at opacity 5 x radius (at most 255), drawn
// additively over black with white sprites: the pixel is tint x alpha.
TEST_F(Wells, BillboardOpacityFollowsTheRadius) {
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    placeWell(0, Vector3D(0, 0, 0), 0).render();   // radius 25: alpha 125
    lvtest::RGBA px = lvtest::pixel(kCanvas / 2 + 15, kCanvas / 2);
    EXPECT_NEAR(200 * 125 / 255, px.r, 2);
    EXPECT_NEAR(175 * 125 / 255, px.g, 2);
    EXPECT_NEAR(125, px.b, 2);
    EXPECT_EQ(0, lvtest::pixel(kCanvas / 2 + 30, kCanvas / 2).r);

    glClear(GL_COLOR_BUFFER_BIT);
    placeWell(0, Vector3D(0, 0, 0), 7.8f).render();   // radius 51: alpha 255
    EXPECT_NEAR(200, lvtest::pixel(kCanvas / 2 + 40, kCanvas / 2).r, 2);
}

}  // namespace
