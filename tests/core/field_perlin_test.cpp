// Gradient noise: the lazy table build and its place in the process's rand()
// sequence, lattice zeros, the period, continuity across cells and the octave sums.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <memory>

#include "perlin.h"

namespace {

// About 50 KB of tables: keep instances off the stack.
std::unique_ptr<Perlin> noise(float amplitude = 1.0f) { return std::make_unique<Perlin>(8, 1.0f, amplitude, 123); }

TEST(Perlin, FirstSampleReseedsThenDraws7167Numbers) {
    auto n = noise();
    std::srand(99);
    float v[3] = {0.3f, 0.7f, 0.1f};
    n->noise3(v);
    int afterFirst = std::rand();
    n->noise3(v);   // built once: later samples draw nothing
    int afterSecond = std::rand();
    // Six draws an entry, then a shuffle whose partner may be any of the 1024
    // entries, above the one being placed too.
    std::srand(123);
    for (int i = 0; i < 6 * 1024; i++) std::rand();
    int p[2050];
    for (int i = 0; i < 1024; i++) p[i] = i;
    for (int i = 1023; i > 0; i--) std::swap(p[i], p[std::rand() % 1024]);
    for (int i = 0; i < 1026; i++) p[1024 + i] = p[i];
    EXPECT_TRUE(std::equal(p, p + 2050, n->p));
    EXPECT_EQ(std::rand(), afterFirst);
    EXPECT_EQ(std::rand(), afterSecond);
}

TEST(Perlin, ZeroOnTheLatticeAndPeriodic) {
    auto n = noise();
    for (float k : {-4000.0f, -1.0f, 0.0f, 7.0f, 1024.0f}) {
        float v2[2] = {k, 3}, v3[3] = {k, -2, 5};
        EXPECT_TRUE(n->noise1(k) == 0 && n->noise2(v2) == 0 && n->noise3(v3) == 0) << k;
    }
    float a[3] = {0.25f, 7.625f, 2.5f}, b[3] = {1024.25f, 7.625f, -1021.5f};
    EXPECT_NE(0.0f, n->noise3(a));
    EXPECT_EQ(n->noise3(a), n->noise3(b));
    EXPECT_EQ(n->noise1(0.5f), n->noise1(1024.5f));
}

// The drift's noise: eight octaves, each at twice the frequency and half the
// weight of the one before; the caller's array ends 256 times the input.
TEST(Perlin, OctavesDoubleTheFrequencyAndHalveTheWeight) {
    const float at[3] = {0.1f, -0.2f, 3.0f};
    float sum3 = 0, sum2 = 0, weight = 1;
    for (int k = 0; k < 8; k++, weight /= 2) {
        float scale = (float)(1 << k), v[3] = {at[0] * scale, at[1] * scale, at[2] * scale};
        sum3 += perlin.noise3(v) * weight;
        sum2 += perlin.noise2(v) * weight;
    }
    float v3[3] = {at[0], at[1], at[2]}, v2[2] = {at[0], at[1]};
    EXPECT_FLOAT_EQ(perlin.perlin_noise_3D(v3), sum3);
    EXPECT_FLOAT_EQ(perlin.perlin_noise_2D(v2), sum2);
    EXPECT_FLOAT_EQ(768.0f, v3[2]);
    float v[3] = {at[0], at[1], at[2]};   // the first octave weighs the instance's amplitude
    EXPECT_FLOAT_EQ(noise(0.5f)->perlin_noise_3D(v), sum3 / 2);
}

// A wrong corner or offset shows as a jump where two cells meet (this caught
// a swapped corner while the noise was written).
TEST(Perlin, ContinuousAcrossCells) {
    auto n = noise();
    const float e = 1.0f / 512;   // representable next to 4096 + k
    for (int k = -3; k <= 3; k++) {
        for (float off : {0.125f, 0.5f, 0.875f}) {
            float lo2[2] = {k - e, off}, hi2[2] = {k + e, off};
            EXPECT_NEAR(n->noise2(lo2), n->noise2(hi2), 0.01f);
            for (int axis = 0; axis < 3; axis++) {
                float lo[3] = {off, 1 - off, off / 2}, hi[3] = {off, 1 - off, off / 2};
                lo[axis] = k - e;
                hi[axis] = k + e;
                EXPECT_NEAR(n->noise3(lo), n->noise3(hi), 0.01f) << "axis " << axis << " at " << k;
            }
        }
    }
}

}  // namespace
