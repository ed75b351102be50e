// Gradient noise: the lazy table build and its place in the process's rand()
// sequence, lattice zeros, the period, continuity across cells, octave sums.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <set>

#include "perlin.h"

namespace {

const int B = Perlin::SAMPLE_SIZE;

// About 50 KB of tables: keep instances off the stack.
std::unique_ptr<Perlin> built(int octaves = 8, float freq = 1, float amp = 1, int seed = 123) {
    auto n = std::make_unique<Perlin>(octaves, freq, amp, seed);
    n->noise1(0.5f);
    return n;
}

TEST(Perlin, FirstSampleReseedsThenDraws7167Numbers) {
    std::srand(99);
    auto n = std::make_unique<Perlin>(8, 1.0f, 1.0f, 123);
    float v[3] = {0.3f, 0.7f, 0.1f};
    n->noise3(v);
    int afterNoise = std::rand();

    std::srand(123);
    for (int i = 0; i < 7167; i++) std::rand();
    EXPECT_EQ(std::rand(), afterNoise);

    // Built once: later samples draw nothing.
    std::srand(5);
    int expected = std::rand();
    std::srand(5);
    n->noise3(v);
    EXPECT_EQ(expected, std::rand());
}

TEST(Perlin, TablesAreAPermutationAndUnitGradientsRepeatedBehind) {
    auto n = built();
    std::set<int> seen(n->p, n->p + B);
    EXPECT_EQ((size_t)B, seen.size());
    EXPECT_EQ(B - 1, *seen.rbegin());
    for (int i = 0; i < B; i++) {
        float l3 = std::sqrt(n->g3[i][0] * n->g3[i][0] + n->g3[i][1] * n->g3[i][1] + n->g3[i][2] * n->g3[i][2]);
        ASSERT_NEAR(1.0f, l3, 1e-5f) << i;
        ASSERT_EQ(n->g1[i] * 1024, std::floor(n->g1[i] * 1024));   // steps of 1/1024
    }
    for (int i = 0; i < B + 2; i++) {
        ASSERT_EQ(n->p[i], n->p[B + i]);
        ASSERT_EQ(n->g2[i][1], n->g2[B + i][1]);
    }
    // A gradient drawn as all zeros has no direction: it stays zero.
    float zero[3] = {0, 0, 0};
    n->normalize3(zero);
    EXPECT_EQ(0.0f, zero[0] + zero[1] + zero[2]);
}

TEST(Perlin, ZeroOnTheLatticeAndPeriodic) {
    auto n = built();
    for (int k : {-4000, -1, 0, 7, 1024}) {
        float f = (float)k;
        float v2[2] = {f, 3}, v3[3] = {f, -2, 5};
        EXPECT_EQ(0.0f, n->noise1(f));
        EXPECT_EQ(0.0f, n->noise2(v2));
        EXPECT_EQ(0.0f, n->noise3(v3));
    }
    EXPECT_EQ(n->noise1(0.5f), n->noise1(1024.5f));
    float a[3] = {0.25f, 7.625f, 2.5f}, b[3] = {1024.25f, 7.625f, -1021.5f};
    EXPECT_EQ(n->noise3(a), n->noise3(b));
}

// A wrong corner or offset shows as a jump where two cells meet.
TEST(Perlin, ContinuousAcrossCells) {
    auto n = built();
    const float e = 1.0f / 512;   // representable next to 4096 + k
    float largest = 0;
    for (int k = -3; k <= 3; k++) {
        for (float off : {0.125f, 0.5f, 0.875f}) {
            float lo2[2] = {k - e, off}, hi2[2] = {k + e, off};
            EXPECT_NEAR(n->noise2(lo2), n->noise2(hi2), 0.01f);
            for (int axis = 0; axis < 3; axis++) {
                float lo[3] = {off, 1 - off, off / 2}, hi[3] = {off, 1 - off, off / 2};
                lo[axis] = k - e;
                hi[axis] = k + e;
                EXPECT_NEAR(n->noise3(lo), n->noise3(hi), 0.01f) << "axis " << axis << " at " << k;
                largest = std::fmax(largest, std::fabs(n->noise3(lo)));
            }
        }
    }
    EXPECT_GT(largest, 0.05f);
}

TEST(Perlin, OctaveSumsScaleTheCallersArray) {
    auto n = built();
    float v[3] = {0.1f, -0.2f, 3.0f};
    n->perlin_noise_3D(v);
    EXPECT_FLOAT_EQ(25.6f, v[0]);   // x 2^8
    EXPECT_FLOAT_EQ(768.0f, v[2]);

    auto none = std::make_unique<Perlin>(0, 1.1f, 0.1f, 1234);
    float w[3] = {1, 2, 3};
    EXPECT_EQ(0.0f, none->perlin_noise_3D(w));
    EXPECT_FLOAT_EQ(2.2f, w[1]);
    EXPECT_TRUE(none->mStart);
}

}  // namespace
