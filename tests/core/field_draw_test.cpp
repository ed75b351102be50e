// What the field draws, read back from a real GL context in feedback mode:
// the wells' halo and flat disc, the particles' sprites, their ribbons and
// the proximity lines. The batched ribbons are held to these single strips
// by their pictures (draw_batched_test.cpp).
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>

#include "field_scene.h"

using namespace fieldtest;

namespace {

class FieldDraw : public ::testing::Test {
protected:
    void SetUp() override { freshScene(0); }

    Gravity& well(float level, float distance = 0) {
        placeAtRest(gravityControl, {{Vector3D(), level}});
        Gravity& g = gravityControl.myList[0];
        g.radius = 50 * level / 15 + 25;
        g.M = level / 70;
        g.distance = distance;
        return g;
    }
    std::vector<FbVertex> drawn(const std::function<void()>& draw) {
        fb.begin();
        draw();
        return fb.end();
    }
    Feedback fb;
};

float maxX(const std::vector<FbVertex>& v) {
    float m = -1e9f;
    for (const FbVertex& f : v) m = std::max(m, f.x);
    return m - kCanvas / 2;
}
float minRadius(const std::vector<FbVertex>& v) {
    float m = 1e9f;
    for (const FbVertex& f : v) m = std::min(m, std::hypot(f.x - kCanvas / 2, f.y - kCanvas / 2));
    return m;
}

// The halo: a square of side 2 x radius tinted (200, 175, 255), or white in
// black and white, at opacity 5 x radius held to 0..255; the core a white
// square of side radius / 2.
TEST_F(FieldDraw, WellHaloSizeTintAndCappedOpacity) {
    std::vector<FbVertex> v = drawn([&] { well(0).render(); });   // radius 25
    ASSERT_EQ(12u, v.size());   // each square as two triangles
    EXPECT_FLOAT_EQ(25.0f, maxX({v.begin(), v.begin() + 6}));
    EXPECT_FLOAT_EQ(6.25f, maxX({v.begin() + 6, v.end()}));
    for (auto [want, got] : {std::pair{200, v[0].r}, {175, v[0].g}, {255, v[0].b}, {125, v[0].a}})
        EXPECT_NEAR(want / 255.0f, got, 1e-3f);
    EXPECT_EQ(1.0f, v[6].r * v[6].g * v[6].a);

    // At, far above and below the cap (radius 51, 225 and -8.3).
    for (auto [level, alpha] : {std::pair{7.8f, 1.0f}, {60.0f, 1.0f}, {-10.0f, 0.0f}}) {
        v = drawn([&] { well(level).render(); });
        ASSERT_FALSE(v.empty());
        EXPECT_NEAR(alpha, v[0].a, 1e-3f) << level;
    }
    setMode(2);
    v = drawn([&] { well(0).render(); });
    EXPECT_EQ(1.0f, v[0].r * v[0].g * v[0].b);
}

// Flat shade: d eases 20 % towards 25 - distance / 20 - 20 M; a white disc
// of radius d - level and a grey ring from 0.75 to 1 times level + 0.75 d
// whose opacity (on the 0..255 scale) falls with the level; nearer shapes
// hide farther ones.
TEST_F(FieldDraw, FlatWellDiscAndRingFollowTheEasedSize) {
    setMode(3);
    Gravity& g = well(1, 100);
    g.M = 0.1f;   // target 25 - 5 - 2 = 18
    g.render();
    std::vector<FbVertex> v = drawn([&] { g.render(); });
    const float d = 6.48f;
    EXPECT_FLOAT_EQ(d, g.d);
    std::vector<FbVertex> disc, ring;
    for (const FbVertex& f : v) (f.r == 1.0f ? disc : ring).push_back(f);
    ASSERT_FALSE(disc.empty() || ring.empty());
    EXPECT_NEAR(d - 1, maxX(disc), 1e-4f);
    EXPECT_NEAR(1 + 0.75f * d, maxX(ring), 1e-4f);
    EXPECT_NEAR(0.75f * (1 + 0.75f * d), minRadius(ring), 1e-4f);   // a band, not a disc
    EXPECT_NEAR(215 / 255.0f, ring[0].r, 1e-3f);
    EXPECT_NEAR(250 / 255.0f / 255, ring[0].a, 1e-5f);

    // Solid, after the glow of mode 0: a near disc (radius 25) hides the ring
    // (29 to 39 units about x = 34) of a far well drawn after it.
    placeAtRest(gravityControl, {{Vector3D(0, 0, 100), 0}, {Vector3D(34, 0, -100), 20}});
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    for (Gravity& w : gravityControl.myList) {
        w.M = w.distance = 0;
        w.d = 25;
        w.render();
    }
    const lvtest::RGBA centre = lvtest::pixel(kCanvas / 2, kCanvas / 2);
    EXPECT_EQ(255, centre.r & centre.g & centre.b) << "the far ring was drawn over the near disc";
}

// A glow of half-size min + (max - min) x level in the particle's colour
// (white in black and white), and a white core an eighth of that.
TEST_F(FieldDraw, SpriteSizeFollowsTheLevelAndTheGlowTakesTheColour) {
    for (int mode : {1, 4}) {
        setMode(mode);
        Particle p = loose();
        p.loc = Vector3D(10, 0, 0);
        p.myLevel = 2;
        p.rr = 0.5f, p.gg = 0.25f, p.bb = 1;
        particleControl.myList.assign(1, p);
        std::vector<FbVertex> v = drawn([&] { particleControl.renderAllParticlesNoFlatShade(); });
        ASSERT_EQ(12u, v.size());
        const float r = mode == 4 ? 0.5f + 0.25f * 2 : 0.5f + 1.0f * 2;
        EXPECT_NEAR(10 + r, maxX({v.begin(), v.begin() + 6}), 1e-4f) << mode;
        EXPECT_NEAR(10 + r / 8, maxX({v.begin() + 6, v.end()}), 1e-4f) << mode;
        EXPECT_NEAR(mode == 4 ? 1.0f : 127 / 255.0f, v[0].r, 1e-3f) << mode;
        EXPECT_NEAR(mode == 4 ? 1.0f : 63 / 255.0f, v[0].g, 1e-3f) << mode;
        EXPECT_EQ(1.0f, v[6].r * v[6].g);
    }
}

TEST_F(FieldDraw, ProximityLinesFadeWithSquaredDistance) {
    setMode(4);
    const float d750 = std::sqrt(750.0f);
    float d1500 = std::sqrt(1500.0f);
    while (d1500 * d1500 < 1500.0f) d1500 = std::nextafter(d1500, 100.0f);
    particleControl.myList.assign(4, loose());
    Vector3D at[4] = {Vector3D(0, 0, 0), Vector3D(d750, 0, 0), Vector3D(0, 60, 0), Vector3D(d1500, 60, 0)};
    for (int i = 0; i < 4; i++) particleControl.myList[i].loc = at[i];
    std::vector<FbVertex> v = drawn([&] { particleControl.repelAllParticles(); });
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

TEST_F(FieldDraw, RibbonOpacityFollowsTheTruncatedSpeed) {
    Particle slow = trail(loose(), Vector3D(0.9f, -0.9f, 0.5f));   // speed truncates to 0
    Particle fast = trail(loose(), Vector3D(2.5f, -2.0f, 1.0f));   // speed 5
    auto maxAlpha = [&](Particle& p) {
        float m = 0;
        for (const FbVertex& f : drawn([&] { p.renderRibbon(); })) m = std::fmax(m, f.a);
        return m;
    };
    for (int mode : {6, 5, 2, 0}) {
        setMode(mode);
        EXPECT_EQ(0.0f, maxAlpha(slow)) << "mode " << mode;
    }
    EXPECT_NEAR(5.0f / 50 * 23 / 24, maxAlpha(fast), 1e-5f);
}

}  // namespace
