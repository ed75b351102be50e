// The kit's random draw: the float rounding that lets it land on its upper end.
#include <gtest/gtest.h>

#include "libp5.h"

TEST(KitMath, RandomReachesItsUpperEnd) {
    // rand() values from 2147483584 up convert to the float 2^31, so the
    // scaled draw lands on max itself.
    EXPECT_EQ(randomScaled(2147483584, 0, 10), 10.0f);
    EXPECT_EQ(randomScaled(2147483647, -3, 7), 7.0f);
    EXPECT_LT(randomScaled(2147483583, 0, 10), 10.0f);
    EXPECT_EQ(randomScaled(0, -3, 7), -3.0f);
}
