// Particles and their population as physics, with no GL context: the count
// walking to its target, the level and the 24-entry trail. The colour's
// easing, the forces and the motion step are pinned by the field's hashes
// (field_determinism_test.cpp) and the fast step is held to the literal one
// (field_fast_step_test.cpp). What particles draw is checked in
// field_draw_test.cpp.
#include <gtest/gtest.h>

#include "field_scene.h"

using namespace fieldtest;

namespace {

class Particles : public ::testing::Test {
protected:
    void SetUp() override {
        freshField(1);
        particleControl.total = 0;
    }
    Particle& at(int i) { return particleControl.myList[i]; }
};

TEST_F(Particles, CountFollowsTheClampedTargetOneParticlePerFrame) {
    Vector3D start = drawnZYX(5);
    particleControl.total = 6000;
    particleControl.adjustAmount();
    EXPECT_EQ(5000, particleControl.total);
    EXPECT_VEC(start, at(0).loc);
    particleControl.exist();
    particleControl.exist();
    EXPECT_EQ(3, particleControl.count);
    particleControl.total = -5;
    particleControl.exist();
    EXPECT_EQ(0, particleControl.total);
    EXPECT_EQ(1, particleControl.myList.back().index);   // the newest goes first
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
