// Gravity wells as physics, with no GL context: the count walking to its
// target, the band each well follows, the push between wells, the pull home,
// the motion step and the force law on particles. What wells draw is checked
// in field_draw_test.cpp.
#include <gtest/gtest.h>

#include "field_scene.h"

using namespace fieldtest;

namespace {

class Wells : public ::testing::Test {
protected:
    void SetUp() override {
        freshField(0);
        gravityControl.baseSize = 50;
    }

    // Wells 0, 1, ... at these places, at rest, sounding these levels, with
    // the charge and mass a frame gives them.
    void place(std::initializer_list<std::pair<Vector3D, float>> wells) {
        gravityControl.total = (int)wells.size();
        while (gravityControl.count != gravityControl.total) gravityControl.adjustAmount();
        int i = 0;
        for (auto [l, level] : wells) {
            Gravity& g = at(i++);
            g.loc = l;
            g.vel = g.acc = Vector3D();
            g.myLevel = level;
            g.Q = level / 7;
            g.M = g.Q / 10;
            g.radius = 50 * level / 15 + 25;
        }
    }
    Gravity& at(int i) { return gravityControl.myList[i]; }
};

TEST_F(Wells, CountFollowsTheClampedTargetOneWellPerFrame) {
    srand(7);
    float z = random(-2, 2), y = random(-2, 2), x = random(-2, 2);
    srand(7);
    gravityControl.total = 4;
    gravityControl.adjustAmount();
    EXPECT_EQ(x, at(0).loc.x);   // made near the origin, the first draw on z
    EXPECT_EQ(y, at(0).loc.y);
    EXPECT_EQ(z, at(0).loc.z);
    for (int frame = 2; frame <= 4; frame++) {
        gravityControl.exist();
        ASSERT_EQ(frame, gravityControl.count);
        EXPECT_EQ(frame - 1, gravityControl.myList.back().index);
    }
    gravityControl.total = 80;
    gravityControl.exist();
    EXPECT_EQ(50, gravityControl.total);
    EXPECT_EQ(5, gravityControl.count);
    gravityControl.total = -3;
    for (int expectLast : {3, 2, 1}) {   // the newest goes first
        gravityControl.exist();
        EXPECT_EQ(expectLast, gravityControl.myList.back().index);
    }
    EXPECT_EQ(0, gravityControl.total);
}

TEST_F(Wells, EachWellFollowsItsBandWithInstantAttackAndSlowDecay) {
    gravityControl.total = 3;
    for (int frame = 0; frame < 3; frame++) gravityControl.exist();
    float x, y, z;
    for (int band = 0; band < 20; band++) setBand(band, 2.0f * band);   // every band tells itself apart
    gravityControl.exist();
    for (int i = 0; i < 3; i++) {
        float level = 2.0f * (3 * i + 5);   // wells 0, 1, 2 hear bands 5, 8, 11
        EXPECT_EQ(level, at(i).myLevel) << i;
        EXPECT_FLOAT_EQ(50 * level / 15 + 25, at(i).radius) << i;
    }
    silence();
    gravityControl.exist();
    EXPECT_FLOAT_EQ(9.25f, at(0).myLevel);   // 7.5 % off per frame
    gravityControl.exist();
    EXPECT_FLOAT_EQ(8.55625f, at(0).myLevel);
    setBand(5, 9);   // louder than the decayed level: taken at once
    gravityControl.exist();
    EXPECT_EQ(9.0f, at(0).myLevel);
    gravityControl.exist();   // an equal reading decays
    EXPECT_FLOAT_EQ(8.325f, at(0).myLevel);

    // A beat scatters the wells: three draws each, the first on z.
    srand(9);
    z = random(-400, 400), y = random(-400, 400), x = random(-400, 400);
    srand(9);
    gravityControl.repositionAll();
    EXPECT_EQ(x, at(0).loc.x);
    EXPECT_EQ(y, at(0).loc.y);
    EXPECT_EQ(z, at(0).loc.z);
}

TEST_F(Wells, WellsPushApartByTheOthersChargeOverSquaredDistance) {
    place({{Vector3D(0, 0, 0), 7}, {Vector3D(10, 0, 0), 14}});   // Q 1 and 2
    at(0).repelGravities();
    at(1).repelGravities();
    EXPECT_FLOAT_EQ(1.0f, at(0).Q);
    EXPECT_FLOAT_EQ(0.1f, at(0).M);
    // 50 x other Q / R along the difference: 50 x 2 / 100 and 50 x 1 / 100.
    EXPECT_FLOAT_EQ(-10.0f, at(0).acc.x);
    EXPECT_FLOAT_EQ(5.0f, at(1).acc.x);
    EXPECT_EQ(0.0f, at(0).acc.y + at(0).acc.z);

    // Within squared distance 1 (1 itself included) the raw difference.
    for (Vector3D other : {Vector3D(1, 0, 0), Vector3D(0.5f, 0, 0.5f)}) {
        place({{Vector3D(0, 0, 0), 7}, {other, 14}});
        at(0).repelGravities();
        EXPECT_EQ(-other.x, at(0).acc.x);
        EXPECT_EQ(-other.z, at(0).acc.z);
    }

    // Alone, a well feels only the pull home.
    place({{Vector3D(300, -400, 0), 7}});
    at(0).repelGravities();
    EXPECT_EQ(0.0f, at(0).acc.magnitude());
    at(0).pullTowardsCenter();
    EXPECT_FLOAT_EQ(500.0f, at(0).distance);
    EXPECT_FLOAT_EQ(-3.0f, at(0).acc.x);
    EXPECT_FLOAT_EQ(4.0f, at(0).acc.y);
}

TEST_F(Wells, MoveDampsThenLimitsThenMoves) {
    place({{Vector3D(10, 20, 30), 0}});
    Gravity& g = at(0);
    g.vel = Vector3D(1, 0, 0);
    g.acc = Vector3D(1, -2, 0.5f);
    g.move();
    EXPECT_FLOAT_EQ(1.9f, g.vel.x);   // (2, -2, 0.5) x 0.95
    EXPECT_FLOAT_EQ(-1.9f, g.vel.y);
    EXPECT_FLOAT_EQ(0.475f, g.vel.z);
    EXPECT_FLOAT_EQ(11.9f, g.loc.x);
    EXPECT_FLOAT_EQ(18.1f, g.loc.y);
    EXPECT_FLOAT_EQ(30.475f, g.loc.z);
    EXPECT_EQ(0.0f, g.acc.magnitude());

    g.vel = Vector3D(6, 8, 0);   // 9.5 after damping: cut to 5
    g.move();
    EXPECT_FLOAT_EQ(3.0f, g.vel.x);
    EXPECT_FLOAT_EQ(4.0f, g.vel.y);
}

TEST_F(Wells, ForceLawPullsBetweenCoreAndFiveHundredAndPushesElsewhere) {
    place({{Vector3D(0, 0, 0), 7.5f}});   // radius 50: R = |d| - 10
    particleControl.total = 1;
    particleControl.adjustAmount();
    Particle& p = particleControl.myList[0];
    auto forceAt = [&](float x) {
        p.loc = Vector3D(x, 0, 0);
        return at(0).calcGravForce(p).x;
    };
    EXPECT_EQ(0.0f, forceAt(60));           // R = 50 = baseSize: the core boundary
    EXPECT_FLOAT_EQ(900.0f, forceAt(30));   // inside: out by (baseSize - R) x |d|
    EXPECT_FLOAT_EQ(-10.0f, forceAt(10));   // R exactly 0: the raw difference
    // R 190: -0.25 / 190^2 x Q / (0.0001 + M) x (500 - 190) / 15, times -|d|.
    const float Q = 7.5f / 7, A = -0.25f / (190.0f * 190) * Q / (0.0001f + Q / 10) * 310 / 15;
    EXPECT_FLOAT_EQ(200 * A, forceAt(200));
    EXPECT_GT(forceAt(700), 0.0f);   // pushed off beyond 500
    p.loc = Vector3D(0, 0, 200);
    EXPECT_FLOAT_EQ(200 * A, at(0).calcGravForce(p).z);
}

}  // namespace
