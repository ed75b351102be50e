// Particles and their population on the real scene and GL test bed: counts,
// levels and colour, the motion step and trail, the frame's order, the pair
// repulsion, and what GL receives for lines, ribbons and sprites (read back
// through feedback mode).
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
    Particle make(int index, Vector3D l = Vector3D()) {
        particleControl.total = 525;
        return Particle(index, &particleControl, &particleControl.myList, gravityControl.getList(), Vector3D(),
                        Vector3D(), l);
    }
    Feedback fb;
};

TEST_F(Particles, CountFollowsTheClampedTargetOneParticlePerFrame) {
    particleControl.total = 3;
    for (int frame = 1; frame <= 3; frame++) {
        particleControl.exist();
        ASSERT_EQ(frame, particleControl.count);
        EXPECT_EQ(frame - 1, particleControl.myList.back().index);
    }
    particleControl.total = 1;
    particleControl.exist();
    EXPECT_EQ(1, particleControl.myList.back().index);   // the newest goes first
    particleControl.total = 6000;
    particleControl.exist();
    EXPECT_EQ(5000, particleControl.total);
    particleControl.total = -5;
    particleControl.exist();
    EXPECT_EQ(0, particleControl.total);
}

TEST_F(Particles, StartVelocitiesSpreadOverACircle) {
    Particle p0 = make(0), p131 = make(131);
    EXPECT_EQ(0.1f, p0.xv[0]);
    EXPECT_EQ(0.0f, p0.yv[0]);
    float angle = TWO_PI / 525 * 131;   // just under a quarter turn
    EXPECT_NEAR(1.5678f, angle, 1e-4f);
    EXPECT_FLOAT_EQ((float)(0.1 * std::sin((double)angle)), p131.yv[0]);
    EXPECT_EQ(p131.yv[0], p131.zv[0]);
}

TEST_F(Particles, BandsLevelsAndColourEasing) {
    Particle p7 = make(7), p107 = make(107), p8 = make(8);
    setBand(10, 10);
    for (Particle* p : {&p7, &p107, &p8}) p->updateSoundLevel();
    EXPECT_EQ(10.0f, p7.myLevel);
    EXPECT_EQ(10.0f, p107.myLevel);   // every hundredth particle shares a band
    EXPECT_EQ(0.0f, p8.myLevel);
    silence();
    p7.updateSoundLevel();
    EXPECT_FLOAT_EQ(8.0f, p7.myLevel);
    p7.updateSoundLevel();
    EXPECT_FLOAT_EQ(6.4f, p7.myLevel);

    p7.rr = 0;
    p7.rd = 1;
    p7.getColor();
    EXPECT_FLOAT_EQ(0.01f, p7.rr);
    p7.getColor();
    EXPECT_FLOAT_EQ(0.0199f, p7.rr);
}

TEST_F(Particles, MotionAndTrail) {
    Particle p = make(0, Vector3D(100, 0, 0));
    p.pullTowardsCenter();
    EXPECT_FLOAT_EQ(-1.0f, p.acc.x);
    p.acc = Vector3D();
    p.vel = Vector3D(20, 0, 0);
    p.move();
    EXPECT_FLOAT_EQ(15.0f, p.vel.x);   // damped to 19.2, then cut

    // Older points spread about the origin by 2.5 % a frame...
    p.loc = Vector3D(100, 0, 0);
    p.myLevel = 3;
    p.setMoveHistory();
    p.setMoveHistory();
    EXPECT_EQ(100.0f, p.x[0]);
    EXPECT_FLOAT_EQ(102.5f, p.x[1]);
    EXPECT_EQ(15.0f, p.xv[1]);         // velocities and weights shift unscaled
    EXPECT_FLOAT_EQ(0.2f, p.pn[1]);
    // ... and draw inwards by 5 % in stroke mode.
    setMode(6);
    Particle q = make(0, Vector3D(100, 0, 0));
    q.setMoveHistory();
    q.setMoveHistory();
    EXPECT_FLOAT_EQ(95.0f, q.x[1]);
}

TEST_F(Particles, WellsPullOnlyWhileTheNoiseFlowIsOff) {
    gravityControl.total = 1;
    gravityControl.exist();
    Gravity& g = gravityControl.myList[0];
    auto frameFrom = [&](bool flow) {
        gMode.setPerlinFlow(flow);
        place({Vector3D(100, 0, 0)});
        g.loc = Vector3D(0, 0, 0);
        g.myLevel = 20;
        g.repelGravities();
        particleControl.iterateList();
        return at(0).vel.x;
    };
    EXPECT_FLOAT_EQ(-0.96f, frameFrom(true));   // only the pull to the centre, damped
    EXPECT_LT(frameFrom(false), -0.96f);
    EXPECT_FALSE(perlin.mStart);
}

TEST_F(Particles, PairPushAndTheNewestVelocityDamping) {
    place({Vector3D(0, 0, 0), Vector3D(10, 0, 0)});
    particleControl.repelAllParticles();
    EXPECT_FLOAT_EQ(0.1f, at(0).M);
    EXPECT_FLOAT_EQ(-0.01f, at(0).acc.x);   // 0.001 x d at strength 1, M 0.1
    EXPECT_FLOAT_EQ(0.01f, at(1).acc.x);

    place({Vector3D(0, 0, 0), Vector3D(0.5f, 0, 0)});
    particleControl.repelAllParticles();
    EXPECT_FLOAT_EQ(-0.5f, at(0).acc.x);    // closer than 1: the raw difference

    place({Vector3D(5, 5, 5)});
    at(0).acc = Vector3D(1, 2, 3);
    at(0).xv[0] = 1;
    particleControl.repelAllParticles();
    EXPECT_EQ(1.0f, at(0).acc.x);           // alone: no push...
    EXPECT_FLOAT_EQ(0.96f, at(0).xv[0]);    // ...but still damped
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
    ASSERT_EQ(1, fb.lines());
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

TEST_F(Particles, SlowRibbonEntriesAreTransparentExceptInPlainFlatShade) {
    Particle slow = trail(make(0), Vector3D(0.9f, -0.9f, 0.5f));   // speed truncates to 0
    Particle fast = trail(make(0), Vector3D(2.5f, -2.0f, 1.0f));   // speed 5
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
    setMode(2);
    EXPECT_NEAR(5.0f / 500 * 23 / 24, maxAlpha(fast), 1e-6f);
    setMode(3);
    fb.begin();
    slow.renderRibbon();
    std::vector<FbVertex> v = fb.end();
    ASSERT_FALSE(v.empty());
    for (const FbVertex& f : v) {
        EXPECT_EQ(1.0f, f.a);                          // opaque, red only
        EXPECT_EQ(0.0f, f.g);
        if (f.x < 1) {
            EXPECT_EQ(0.0f, f.r);                      // black at the head (x = -100)
        }
    }
}

// The batch drawing must give the single strip's geometry and colours; only
// the direction's inverse square root is approximate (about 0.2 %).
TEST_F(Particles, BatchRibbonsMatchTheSingleStrip) {
    for (int mode : {0, 1, 2, 3, 5, 6}) {
        setMode(mode);
        Particle p = trail(make(0), Vector3D(3.5f, -1.25f, 2.0f));
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
            EXPECT_EQ(one[i].t, all[i].t);
        }
    }
}

// A glow of half-size min + (max - min) x level in the particle's colour
// (truncated to bytes), then a white core an eighth of that size.
TEST_F(Particles, SpritesAreGlowAndCore) {
    place({Vector3D(10, -20, 0)});
    at(0).rr = 1.0f;
    at(0).gg = 0.5f;
    at(0).bb = 0.25f;
    fb.begin();
    particleControl.renderAllParticlesNoFlatShade();
    std::vector<FbVertex> v = fb.end();
    float glow = 0, core = 1e9f;
    for (const FbVertex& f : v) {
        float half = std::fmax(std::fabs(f.x - 110), std::fabs(f.y - 80));
        if (f.g == 1.0f) {
            core = std::fmin(core, half);
        } else {
            glow = std::fmax(glow, half);
            EXPECT_EQ(127, (int)std::lround(f.g * 255));
        }
    }
    EXPECT_NEAR(0.5f, glow, 1e-4f);
    EXPECT_NEAR(0.0625f, core, 1e-4f);

    GLint bound = -1;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(0, bound);   // left unbound, colour white
}

}  // namespace
