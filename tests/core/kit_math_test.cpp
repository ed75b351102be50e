// The kit's number helpers: the exact floats the field's reference runs
// depend on.
#include <gtest/gtest.h>

#include "Vector3D.h"
#include "libp5.h"

TEST(KitMath, FastInverseMagnitudeAndLimit) {
    EXPECT_FLOAT_EQ(Vector3D(3, 4, 0).fastInvMagnitude(), 0.19968976f);
    EXPECT_FLOAT_EQ(Vector3D(1, 0, 0).fastInvMagnitude(), 0.99830717f);
    // A zero vector stays finite: the ribbon renderer multiplies by it.
    EXPECT_FLOAT_EQ(Vector3D().fastInvMagnitude(), 1.9817754e19f);

    Vector3D v(3, 4, 12);
    v.limit(5);
    EXPECT_FLOAT_EQ(v.x, 15.0f / 13.0f);
    EXPECT_FLOAT_EQ(v.z, 60.0f / 13.0f);
    Vector3D atLimit(3, 4, 0);
    atLimit.limit(5);   // 5 is not above 5: untouched, bit for bit
    EXPECT_EQ(atLimit.x, 3.0f);
    Vector3D zero;
    zero.limit(0);
    EXPECT_EQ(zero.x + zero.y + zero.z, 0.0f);
}

TEST(KitMath, RandomReachesItsUpperEnd) {
    // rand() values from 2147483584 up convert to the float 2^31, so the
    // scaled draw lands on max itself.
    EXPECT_EQ(randomScaled(2147483584, 0, 10), 10.0f);
    EXPECT_EQ(randomScaled(2147483647, -3, 7), 7.0f);
    EXPECT_LT(randomScaled(2147483583, 0, 10), 10.0f);
    EXPECT_EQ(randomScaled(0, -3, 7), -3.0f);
}
