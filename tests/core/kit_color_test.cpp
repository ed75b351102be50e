// HSB conversions: the sector table, hue wrap, the black of negative hues and
// the byte rule (truncate, keep the low eight bits, never clamp).
#include <gtest/gtest.h>

#include "libp5.h"

namespace {

void expectRGB(const color& c, int r, int g, int b) {
    EXPECT_EQ(c.red, r);
    EXPECT_EQ(c.green, g);
    EXPECT_EQ(c.blue, b);
}

}  // namespace

TEST(KitColor, HsbfSectors) {
    struct Case {
        float h;
        int r, g, b;
    };
    // One hue per sector at full saturation and brightness; 30 degrees into
    // a sector gives the half value 127.5, truncated.
    const Case cases[] = {{0, 255, 0, 0},    {30, 255, 127, 0},  {90, 127, 255, 0}, {150, 0, 255, 127},
                          {210, 0, 127, 255}, {270, 127, 0, 255}, {330, 255, 0, 127}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.h);
        expectRGB(color::hsbf(c.h, 1, 1), c.r, c.g, c.b);
    }
    expectRGB(color::hsbf(120, 0.5f, 1), 127, 255, 127);
    expectRGB(color::hsbf(200, 0, 0.5f), 127, 127, 127);
}

TEST(KitColor, HueWrapAndNegativeHues) {
    expectRGB(color::hsbf(360, 1, 1), 255, 0, 0);
    expectRGB(color::hsbf(390, 1, 1), 255, 127, 0);
    expectRGB(color::hsbf(720 + 330, 1, 1), 255, 0, 127);
    // A negative remainder is black, not the colour of 330.
    expectRGB(color::hsbf(-30, 1, 1), 0, 0, 0);
    expectRGB(color::hsbf(-0.001f, 0.3f, 0.9f), 0, 0, 0);
    expectRGB(color::hsbf(-400, 1, 1), 0, 0, 0);
    expectRGB(color::hsbf(NAN, 1, 1), 0, 0, 0);
    // ...unless saturation is 0: the grey comes first.
    expectRGB(color::hsbf(-30, 0, 1), 255, 255, 255);
}

TEST(KitColor, ByteRuleWrapsInsteadOfClamping) {
    // 1.2 × 255 = 306, whose low byte is 50.
    expectRGB(color::hsbf(0, 1, 1.2f), 50, 0, 0);
    expectRGB(color::hsbf(10, 0, 1.2f), 50, 50, 50);
    // 0.5 × 255 = 127.5 truncates to 127, no rounding.
    expectRGB(color::hsbf(0, 0, 0.5f), 127, 127, 127);
    expectRGB(color::hsbf(0, 0, 0.999f), 254, 254, 254);
    // Byte inputs: hue 255 is 360 degrees.
    expectRGB(color::hsb(255, 255, 255), 255, 0, 0);
    expectRGB(color::hsb(0, 0, 255), 255, 255, 255);
}

TEST(KitColor, FloatConversionsBothWays) {
    float r, g, b;
    color::hsbToRGB(390, 1, 0.5f, &r, &g, &b);   // sector 0 at f = 0.5, on v's scale
    EXPECT_FLOAT_EQ(r, 0.5f);
    EXPECT_FLOAT_EQ(g, 0.25f);
    EXPECT_FLOAT_EQ(b, 0.0f);
    color::hsbToRGB(-10, 1, 1, &r, &g, &b);
    EXPECT_EQ(r + g + b, 0.0f);

    struct Case {
        float r, g, b, h, s, v;
    };
    const Case cases[] = {{0, 0, 0, 0, 0, 0},     {1, 1, 1, 0, 0, 1},       {0, 0, 1, 240, 1, 1},
                          {1, 0, 0.5f, 330, 1, 1}, {0, 255, 0, 120, 1, 255}, {0.5f, 1, 1, 180, 0.5f, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.r << "," << c.g << "," << c.b);
        float h, s, v;
        color::rgbToHSB(c.r, c.g, c.b, &h, &s, &v);
        EXPECT_FLOAT_EQ(h, c.h);
        EXPECT_FLOAT_EQ(s, c.s);
        EXPECT_FLOAT_EQ(v, c.v);
    }

    // Round trip through the record for a colour on a sector boundary.
    color c = color::hsbf(240, 1, 1);
    float h, s, v;
    c.getHSB(&h, &s, &v);
    EXPECT_FLOAT_EQ(h, 240);
    EXPECT_FLOAT_EQ(s, 1);
    EXPECT_FLOAT_EQ(v, 1);

    color plain(10, 20, 30);
    EXPECT_EQ(red(plain), 10);
    EXPECT_EQ(green(plain), 20);
    EXPECT_EQ(blue(plain), 30);
}
