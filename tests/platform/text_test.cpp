// Text into RGBA bitmaps: font resolution, where the ink lands, the byte
// order and premultiplication of the result, any script, bad UTF-16.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "lv/text.h"

namespace {

struct Bitmap {
    int width, height;
    std::vector<unsigned char> rgba;
    Bitmap(int w, int h) : width(w), height(h), rgba(size_t(w) * h * 4, 0) {}
    const unsigned char* at(int x, int y) const { return &rgba[(size_t(y) * width + x) * 4]; }
    bool draw(const std::u16string& text, double x, double baseline, lvtext::TextStyle style = {}) {
        return lvtext::drawTextLine(rgba.data(), width, height, width * 4, x, baseline, text.data(), text.size(),
                                    style);
    }
    // Bounding box of pixels whose alpha exceeds `threshold`: left, top, right, bottom (inclusive).
    bool ink(int box[4], int threshold = 0) const {
        box[0] = width, box[1] = height, box[2] = -1, box[3] = -1;
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (at(x, y)[3] > threshold) {
                    box[0] = std::min(box[0], x), box[1] = std::min(box[1], y);
                    box[2] = std::max(box[2], x), box[3] = std::max(box[3], y);
                }
        return box[2] >= 0;
    }
};

lvtext::TextStyle gill(double size = 18) {
    lvtext::TextStyle s;
    s.family = "GillSans";
    s.pixelSize = size;
    return s;
}

}  // namespace

TEST(Text, FamiliesResolveToInstalledFaces) {
    EXPECT_EQ(lvtext::resolvedFamily("GillSans"), "Gillius ADF");
    // Unknown families fall back to some face rather than to nothing.
    EXPECT_FALSE(lvtext::resolvedFamily("NoSuchFamilyAnywhere").empty());
}

TEST(Text, InkSitsOnTheBaselineFromTheGivenPoint) {
    Bitmap b(120, 60);
    ASSERT_TRUE(b.draw(u"HIH", 10, 40, gill()));
    int box[4];
    ASSERT_TRUE(b.ink(box, 64));
    EXPECT_NEAR(box[3], 39, 1) << "flat-bottomed capitals end on the row above the baseline";
    EXPECT_GE(box[0], 10);
    EXPECT_LE(box[0], 13);
    const int capHeight = box[3] - box[1] + 1;
    EXPECT_GT(capHeight, 10);   // about 0.7 em at 18 pixels
    EXPECT_LT(capHeight, 16);

    lvtext::TextMetrics m;
    ASSERT_TRUE(lvtext::measureTextLine(u"HIH", 3, gill(), &m));
    EXPECT_GT(m.width, box[2] - 10);
    EXPECT_EQ(m.unknownGlyphs, 0);
}

TEST(Text, PixelsArePremultipliedRgbaAndCompositeOverTheBitmap) {
    // Red at half opacity: byte 0 is red, bytes 1 and 2 stay 0, and no
    // channel exceeds the alpha.
    Bitmap red(80, 40);
    lvtext::TextStyle s = gill();
    s.rgba[0] = 1, s.rgba[1] = 0, s.rgba[2] = 0, s.rgba[3] = 0.5;
    ASSERT_TRUE(red.draw(u"HHH", 2, 30, s));
    int maxAlpha = 0;
    for (int y = 0; y < red.height; ++y)
        for (int x = 0; x < red.width; ++x) {
            const unsigned char* p = red.at(x, y);
            ASSERT_EQ(p[1], 0);
            ASSERT_EQ(p[2], 0);
            ASSERT_LE(p[0], p[3]);
            maxAlpha = std::max<int>(maxAlpha, p[3]);
        }
    EXPECT_NEAR(maxAlpha, 128, 2);

    // Over opaque blue, untouched pixels keep their exact bytes.
    Bitmap over(80, 40);
    for (size_t i = 0; i < over.rgba.size(); i += 4) over.rgba[i + 2] = 255, over.rgba[i + 3] = 255;
    ASSERT_TRUE(over.draw(u"HHH", 2, 30, gill()));
    int changed = 0;
    for (int y = 0; y < over.height; ++y)
        for (int x = 0; x < over.width; ++x) {
            const unsigned char* p = over.at(x, y);
            EXPECT_EQ(p[3], 255);
            EXPECT_EQ(p[2], 255);
            changed += p[0] != 0;
        }
    EXPECT_GT(changed, 50);
}

TEST(Text, AnyScriptFindsGlyphs) {
    const std::u16string samples[] = {
        u"\u6F22\u5B57\u304B\u306A",        // Japanese
        u"\uD55C\uAE00",                    // Korean
        u"\u0645\u0631\u062D\u0628\u0627",  // Arabic, right to left
        u"\u05E9\u05DC\u05D5\u05DD",        // Hebrew, right to left
        u"\u0428\u0440\u0438\u0444\u0442",  // Cyrillic
        u"Caf\u00E9 \u00FC\u00DF",          // Latin with marks
    };
    for (const std::u16string& text : samples) {
        lvtext::TextMetrics m;
        ASSERT_TRUE(lvtext::measureTextLine(text.data(), text.size(), gill(), &m));
        EXPECT_EQ(m.unknownGlyphs, 0) << lvtext::utf16ToUtf8(text.data(), text.size());
        Bitmap b(200, 40);
        ASSERT_TRUE(b.draw(text, 5, 30, gill()));
        int box[4];
        ASSERT_TRUE(b.ink(box));
        // Right-to-left text still starts at the given point.
        EXPECT_GE(box[0], 4);
        EXPECT_LE(box[2], 5 + int(m.width) + 2);
    }
}

TEST(Text, MalformedUtf16IsReplacedNotFatal) {
    const char16_t loneHigh[] = {0xD800, u'a'};
    const char16_t loneLow[] = {u'a', 0xDC00};
    const char16_t pair[] = {0xD83D, 0xDE00};
    const char16_t nul[] = {u'a', 0, u'b'};
    EXPECT_EQ(lvtext::utf16ToUtf8(loneHigh, 2), "\xEF\xBF\xBD" "a");
    EXPECT_EQ(lvtext::utf16ToUtf8(loneLow, 2), "a\xEF\xBF\xBD");
    EXPECT_EQ(lvtext::utf16ToUtf8(loneHigh, 1), "\xEF\xBF\xBD");   // high surrogate at the very end
    EXPECT_EQ(lvtext::utf16ToUtf8(pair, 2), "\xF0\x9F\x98\x80");
    EXPECT_EQ(lvtext::utf16ToUtf8(nul, 3), "a\xEF\xBF\xBD" "b");

    Bitmap b(100, 40);
    const std::u16string text{0xDC00, u'H', 0xD800};
    ASSERT_TRUE(b.draw(text, 2, 30, gill()));
    int box[4];
    EXPECT_TRUE(b.ink(box));
}

TEST(Text, UnusableArgumentsLeaveTheBitmapAlone) {
    Bitmap b(40, 20);
    std::memset(b.rgba.data(), 7, b.rgba.size());
    const std::vector<unsigned char> before = b.rgba;
    const std::u16string text = u"H";
    EXPECT_FALSE(lvtext::drawTextLine(nullptr, 40, 20, 160, 0, 10, text.data(), 1, gill()));
    EXPECT_FALSE(lvtext::drawTextLine(b.rgba.data(), 0, 20, 160, 0, 10, text.data(), 1, gill()));
    EXPECT_FALSE(lvtext::drawTextLine(b.rgba.data(), 40, 20, 100, 0, 10, text.data(), 1, gill()));
    EXPECT_STRNE(lvtext::lastError(), "");
    EXPECT_TRUE(lvtext::drawTextLine(b.rgba.data(), 40, 20, 160, 0, 10, text.data(), 0, gill()));
    EXPECT_EQ(b.rgba, before);
    // Text far outside the bitmap is cut, not written past it.
    EXPECT_TRUE(b.draw(u"HHHHHHHHHHHHHHHH", -300, 500, gill()));
    EXPECT_EQ(b.rgba, before);
}
