// Gravity wells as physics, with no GL context: the count walking to its
// target, the band each well follows and the force law on particles. The
// push between wells, the pull home and the motion step are pinned by the
// field's hashes (field_determinism_test.cpp). What wells draw is checked
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
    // Wells 0, 1, ... here, at rest, at these levels, charged as a frame leaves them.
    void place(std::initializer_list<std::pair<Vector3D, float>> wells) {
        placeAtRest(gravityControl, wells);
        for (Gravity& g : gravityControl.myList) {
            g.Q = g.myLevel / 7;
            g.M = g.Q / 10;
            g.radius = 50 * g.myLevel / 15 + 25;
        }
    }
    Gravity& at(int i) { return gravityControl.myList[i]; }
};

TEST_F(Wells, CountFollowsTheClampedTargetOneWellPerFrame) {
    Vector3D start = drawnZYX(2);
    gravityControl.total = 80;
    gravityControl.adjustAmount();
    EXPECT_EQ(50, gravityControl.total);
    EXPECT_VEC(start, at(0).loc);   // made near the origin
    gravityControl.exist();
    gravityControl.exist();
    EXPECT_EQ(3, gravityControl.count);
    gravityControl.total = -3;
    gravityControl.exist();
    EXPECT_EQ(0, gravityControl.total);
    EXPECT_EQ(1, gravityControl.myList.back().index);   // the newest goes first
    Vector3D scattered = drawnZYX(400);
    gravityControl.repositionAll();
    EXPECT_VEC(scattered, at(0).loc);
}

TEST_F(Wells, EachWellFollowsItsBandWithInstantAttackAndSlowDecay) {
    place({{Vector3D(), 0}, {Vector3D(), 0}, {Vector3D(), 0}});
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
    setBand(5, 10);   // above the decayed level: taken at once; then equal: decays
    gravityControl.exist();
    EXPECT_EQ(10.0f, at(0).myLevel);
    gravityControl.exist();
    EXPECT_FLOAT_EQ(9.25f, at(0).myLevel);
}

TEST_F(Wells, ForceLawPullsBetweenCoreAndFiveHundredAndPushesElsewhere) {
    place({{Vector3D(0, 0, 0), 7.5f}});   // radius 50: R = |d| - 10
    particleControl.total = 1;
    particleControl.adjustAmount();
    Particle& p = particleControl.myList[0];
    auto forceAt = [&](Vector3D l) {
        p.loc = l;
        return at(0).calcGravForce(p);
    };
    EXPECT_VEC(Vector3D(), forceAt(Vector3D(60, 0, 0)));          // R = 50 = baseSize: the core boundary
    EXPECT_VEC(Vector3D(900, 0, 0), forceAt(Vector3D(30, 0, 0)));  // inside: out by (baseSize - R) x |d|
    EXPECT_VEC(Vector3D(-10, 0, 0), forceAt(Vector3D(10, 0, 0)));  // R exactly 0: the raw difference
    EXPECT_LT(forceAt(Vector3D(0, 0, 200)).z, 0.0f);   // R 190: pulled in; how hard, the field's hashes pin
    EXPECT_GT(forceAt(Vector3D(700, 0, 0)).x, 0.0f);   // pushed off beyond 500
}

}  // namespace
