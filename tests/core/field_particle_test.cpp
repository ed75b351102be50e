// Particles and their population on the real scene and GL test bed: counts,
// the trail, the pair repulsion, and what GL receives for proximity lines
// and ribbons (read back through feedback mode).
#include <gtest/gtest.h>

#include <cmath>

#include "field_scene.h"

using namespace fieldtest;

namespace {

class Particles : public ::testing::Test {
protected:
    void SetUp() override {
        freshScene(1);
        particleControl.total = 0;
    }

    // The population made exactly these particles, silent and at rest.
    void place(std::initializer_list<Vector3D> where) {
        particleControl.total = (int)where.size();
        while (particleControl.count != particleControl.total) particleControl.adjustAmount();
        int i = 0;
        for (const Vector3D& l : where) {
            Particle& p = at(i++);
            p.loc = l;
            p.vel = p.acc = Vector3D();
            p.myLevel = 0;
        }
    }
    Particle& at(int i) { return particleControl.myList[i]; }
    Particle make(Vector3D l = Vector3D()) {
        particleControl.total = 525;
        return Particle(0, &particleControl, &particleControl.myList, gravityControl.getList(), Vector3D(),
                        Vector3D(), l);
    }
    Feedback fb;
};

TEST_F(Particles, CountFollowsTheClampedTargetOneParticlePerFrame) {
    particleControl.total = 3;
    for (int frame = 1; frame <= 3; frame++) {
        particleControl.exist();
        ASSERT_EQ(frame, particleControl.count);
    }
    particleControl.total = 6000;
    particleControl.exist();
    EXPECT_EQ(5000, particleControl.total);
}

TEST_F(Particles, TrailShiftsAndSpreadsOrGathers) {
    // Older points spread about the origin by 2.5 % a frame...
    Particle p = make(Vector3D(100, 0, 0));
    p.vel = Vector3D(15, 0, 0);
    p.myLevel = 3;
    p.setMoveHistory();
    p.setMoveHistory();
    EXPECT_EQ(100.0f, p.x[0]);
    EXPECT_FLOAT_EQ(102.5f, p.x[1]);
    EXPECT_EQ(15.0f, p.xv[1]);   // velocities and weights shift unscaled
    EXPECT_FLOAT_EQ(0.2f, p.pn[1]);
    // ... and draw inwards by 5 % in stroke mode.
    setMode(6);
    Particle q = make(Vector3D(100, 0, 0));
    q.setMoveHistory();
    q.setMoveHistory();
    EXPECT_FLOAT_EQ(95.0f, q.x[1]);
}

TEST_F(Particles, PairPushIsAThousandthOfTheDistanceOverTheMass) {
    place({Vector3D(0, 0, 0), Vector3D(10, 0, 0)});
    particleControl.repelAllParticles();
    EXPECT_FLOAT_EQ(0.1f, at(0).M);
    EXPECT_FLOAT_EQ(-0.01f, at(0).acc.x);   // 0.001 x d at strength 1, M 0.1
    EXPECT_FLOAT_EQ(0.01f, at(1).acc.x);
}

TEST_F(Particles, ProximityLinesFadeWithSquaredDistance) {
    setMode(4);
    const float d750 = std::sqrt(750.0f);
    float d1500 = std::sqrt(1500.0f);
    while (d1500 * d1500 < 1500.0f) d1500 = std::nextafter(d1500, 100.0f);
    place({Vector3D(0, 0, 0), Vector3D(d750, 0, 0), Vector3D(0, 60, 0), Vector3D(d1500, 60, 0)});
    fb.begin();
    particleControl.repelAllParticles();
    std::vector<FbVertex> v = fb.end();
    ASSERT_EQ(1, fb.lines);   // the pair at 1500 squared is already too far
    EXPECT_NEAR(0.075f, v[0].a, 1e-4f);
    EXPECT_NEAR(100.0f + d750, v[1].x, 1e-3f);
}

// One ribbon through a trail laid along x, every entry moving at `v`.
Particle trail(Particle p, Vector3D v) {
    for (int i = 0; i < 24; i++) {
        p.x[i] = -100 + 8.0f * i;
        p.y[i] = p.z[i] = 0;
        p.xv[i] = v.x;
        p.yv[i] = v.y;
        p.zv[i] = v.z;
        p.pn[i] = 1;
    }
    p.rr = 0.5f;
    return p;
}

TEST_F(Particles, RibbonOpacityFollowsTheTruncatedSpeed) {
    Particle slow = trail(make(), Vector3D(0.9f, -0.9f, 0.5f));   // speed truncates to 0
    Particle fast = trail(make(), Vector3D(2.5f, -2.0f, 1.0f));   // speed 5
    auto maxAlpha = [&](Particle& p) {
        fb.begin();
        p.renderRibbon();
        float m = 0;
        for (const FbVertex& f : fb.end()) m = std::fmax(m, f.a);
        return m;
    };
    for (int mode : {0, 2, 5, 6}) {
        setMode(mode);
        EXPECT_EQ(0.0f, maxAlpha(slow)) << "mode " << mode;
    }
    setMode(0);
    EXPECT_NEAR(5.0f / 50 * 23 / 24, maxAlpha(fast), 1e-5f);
}

// The batch drawing must give the single strip's geometry and colours; only
// the direction's inverse square root is approximate (about 0.2 %).
TEST_F(Particles, BatchRibbonsMatchTheSingleStrip) {
    for (int mode : {0, 3, 6}) {
        setMode(mode);
        Particle p = trail(make(), Vector3D(3.5f, -1.25f, 2.0f));
        p.xv[5] = p.yv[5] = p.zv[5] = 0;
        fb.begin();
        p.renderRibbon();
        std::vector<FbVertex> one = fb.end();
        particleControl.myList.assign(1, p);
        particleControl.count = 1;
        fb.begin();
        particleControl.renderAllRibbons();
        std::vector<FbVertex> all = fb.end();
        ASSERT_EQ(one.size(), all.size()) << "mode " << mode;
        for (size_t i = 0; i < one.size(); i++) {
            EXPECT_NEAR(one[i].x, all[i].x, 0.05f) << "mode " << mode << " vertex " << i;
            EXPECT_NEAR(one[i].y, all[i].y, 0.05f) << "mode " << mode << " vertex " << i;
            EXPECT_EQ(one[i].a, all[i].a);
        }
    }
}

}  // namespace
