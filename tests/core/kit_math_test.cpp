// The kit's random draw (the float rounding that lets it land on its upper
// end) and its HSB conversions: the sector table, hue wrap, the black of
// negative hues and the byte rule (truncate, keep the low eight bits, never
// clamp).
#include <gtest/gtest.h>

#include <array>
#include <cmath>

#include "libp5.h"

TEST(KitMath, RandomReachesItsUpperEnd) {
    // rand() values from 2147483584 up convert to the float 2^31, so the
    // scaled draw lands on max itself.
    EXPECT_EQ(randomScaled(2147483584, 0, 10), 10.0f);
    EXPECT_EQ(randomScaled(2147483647, -3, 7), 7.0f);
    EXPECT_LT(randomScaled(2147483583, 0, 10), 10.0f);
    EXPECT_EQ(randomScaled(0, -3, 7), -3.0f);
}

TEST(KitColor, HsbfTableWrapAndByteRule) {
    struct Case {
        float h, s, b;
        int r, g, bl;
    };
    const Case cases[] = {
        // One hue per sector; 30 degrees in gives the half value 127.5, truncated.
        {0, 1, 1, 255, 0, 0},      {30, 1, 1, 255, 127, 0},  {90, 1, 1, 127, 255, 0},
        {150, 1, 1, 0, 255, 127},  {210, 1, 1, 0, 127, 255}, {270, 1, 1, 127, 0, 255},
        {330, 1, 1, 255, 0, 127},  {120, 0.5f, 1, 127, 255, 127},
        // Hues wrap above 360.
        {360, 1, 1, 255, 0, 0},    {390, 1, 1, 255, 127, 0}, {1050, 1, 1, 255, 0, 127},
        // A negative remainder is black, not the colour of 330 (but grey comes first).
        {-30, 1, 1, 0, 0, 0},      {-0.001f, 0.3f, 0.9f, 0, 0, 0}, {NAN, 1, 1, 0, 0, 0},
        {-30, 0, 1, 255, 255, 255},
        // 1.2 x 255 = 306, whose low byte is 50; 0.999 x 255 truncates to 254.
        {0, 1, 1.2f, 50, 0, 0},    {10, 0, 1.2f, 50, 50, 50}, {0, 0, 0.999f, 254, 254, 254},
    };
    for (const Case& c : cases) {
        color got = color::hsbf(c.h, c.s, c.b);
        EXPECT_EQ((std::array<int, 3>{got.red, got.green, got.blue}), (std::array<int, 3>{c.r, c.g, c.bl}))
            << "hsbf(" << c.h << ", " << c.s << ", " << c.b << ")";
    }
}
