// Gravity wells on the real scene and GL test bed: the count walking to its
// target, level and radius, the motion step, the force law and the
// billboard's opacity.
#include <gtest/gtest.h>

#include <algorithm>

#include "field_scene.h"

using namespace fieldtest;

namespace {

class Wells : public ::testing::Test {
protected:
    void SetUp() override { freshScene(0); }

    // Well 0 alone, at the origin, at rest and sounding `level`.
    Gravity& placeWell(float level) {
        gravityControl.total = 1;
        if (gravityControl.count == 0) gravityControl.adjustAmount();
        Gravity& g = gravityControl.myList[0];
        g.loc = g.vel = g.acc = Vector3D();
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
}

TEST_F(Wells, LevelSetsTheRadiusAndTheRadiusTheOpacity) {
    gravityControl.total = 1;
    gravityControl.exist();
    setBand(5, 20);   // well 0's band
    gravityControl.exist();
    EXPECT_EQ(20.0f, gravityControl.myList[0].myLevel);
    EXPECT_NEAR(91.6667f, gravityControl.myList[0].radius, 1e-3f);   // 50 x 20 / 15 + 25
    silence();
    gravityControl.exist();
    EXPECT_FLOAT_EQ(18.5f, gravityControl.myList[0].myLevel);

    // Halo tinted (200, 175, 255) at opacity 5 x radius (at most 255), drawn
    // additively over black with white sprites: the pixel is tint x alpha.
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT);
    placeWell(0).render();   // radius 25: alpha 125
    lvtest::RGBA px = lvtest::pixel(kCanvas / 2 + 15, kCanvas / 2);
    EXPECT_NEAR(200 * 125 / 255, px.r, 2);
    EXPECT_NEAR(175 * 125 / 255, px.g, 2);
    EXPECT_NEAR(125, px.b, 2);
    EXPECT_EQ(0, lvtest::pixel(kCanvas / 2 + 30, kCanvas / 2).r);
    glClear(GL_COLOR_BUFFER_BIT);
    placeWell(7.8f).render();   // radius 51: alpha 255
    EXPECT_NEAR(200, lvtest::pixel(kCanvas / 2 + 40, kCanvas / 2).r, 2);
}

TEST_F(Wells, MoveDampsBeforeItLimits) {
    Gravity& g = placeWell(0);
    g.vel = Vector3D(6, 8, 0);
    g.move();
    EXPECT_FLOAT_EQ(3.0f, g.vel.x);
    EXPECT_FLOAT_EQ(4.0f, g.vel.y);
    EXPECT_FLOAT_EQ(3.0f, g.loc.x);
}

TEST_F(Wells, ForceLawPullsBetweenCoreAndFiveHundredAndPushesElsewhere) {
    Gravity& g = placeWell(7.5f);   // radius 50: R = |d| - 10
    gravityControl.baseSize = 50;
    g.repelGravities();
    particleControl.total = 1;
    particleControl.adjustAmount();
    Particle& p = particleControl.myList[0];
    auto forceAt = [&](float x) {
        p.loc = Vector3D(x, 0, 0);
        return g.calcGravForce(p).x;
    };
    EXPECT_EQ(0.0f, forceAt(60));           // R = 50 = baseSize: the core boundary
    EXPECT_FLOAT_EQ(900.0f, forceAt(30));   // inside: out by (baseSize - R) x |d|
    EXPECT_FLOAT_EQ(-10.0f, forceAt(10));   // R exactly 0: the raw difference
    EXPECT_LT(forceAt(200), 0.0f);          // pulled in
    EXPECT_GT(forceAt(700), 0.0f);          // pushed off beyond 500
}

}  // namespace
