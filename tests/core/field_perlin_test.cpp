// Gradient noise: lattice zeros, the period and continuity across cells.
// Its table build, its place in the process's rand() sequence and the octave
// sums are pinned by the field's hashes (field_determinism_test.cpp), whose
// flow frames sample it.
#include <gtest/gtest.h>

#include <memory>

#include "perlin.h"

namespace {

// About 50 KB of tables: keep instances off the stack.
std::unique_ptr<Perlin> noise() { return std::make_unique<Perlin>(8, 1.0f, 1.0f, 123); }

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
