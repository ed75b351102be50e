// Text into RGBA bitmaps: font resolution and fallback, where the ink lands,
// premultiplied colour, any script with its shaping and direction, colour
// emoji, bad UTF-16 and unusable arguments.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "lv/text.h"

namespace {

struct Bitmap {
    int width, height;
    std::vector<unsigned char> rgba;
    Bitmap(int w, int h) : width(w), height(h), rgba(size_t(w) * h * 4, 0) {}
    bool draw(const std::u16string& text, double x, double baseline, const lvtext::TextStyle& style) {
        std::string error;
        return lvtext::drawTextLine(rgba.data(), width, height, width * 4, x, baseline, text.data(), text.size(),
                                    style, error);
    }
    // Bounding box of pixels whose alpha exceeds `threshold`: left, top, right, bottom (inclusive).
    std::vector<int> ink(int threshold = 0) const {
        std::vector<int> box{width, height, -1, -1};
        for (int y = 0; y < height; ++y)
            for (int x = 0; x < width; ++x)
                if (rgba[(size_t(y) * width + x) * 4 + 3] > threshold)
                    box = {std::min(box[0], x), std::min(box[1], y), std::max(box[2], x), std::max(box[3], y)};
        return box;
    }
};

lvtext::TextStyle gill(double r = 1, double g = 1, double b = 1, double a = 1) {
    return lvtext::TextStyle{"GillSans", 18, {r, g, b, a}};
}

}  // namespace

TEST(Text, InkSitsOnTheBaselineFromTheGivenPointInPremultipliedColourAndEmojiInTheirOwn) {
    Bitmap b(120, 60);
    ASSERT_TRUE(b.draw(u"HIH", 10, 40, gill()));
    const std::vector<int> box = b.ink(64);
    EXPECT_NEAR(box[3], 39, 1) << "flat-bottomed capitals end on the row above the baseline";
    EXPECT_NEAR(box[0], 11.5, 1.5);
    EXPECT_NEAR(box[3] - box[1] + 1, 13, 2) << "cap height: about 0.7 em at 18 pixels";
    lvtext::TextMetrics m;
    std::string error;
    ASSERT_TRUE(lvtext::measureTextLine(u"HIH", 3, gill(), &m, error)) << error;
    EXPECT_GT(m.width, box[2] - 10);
    EXPECT_EQ(m.unknownGlyphs, 0);

    // Red at half opacity: byte 0 is red, 1 and 2 stay 0, none exceeds alpha.
    Bitmap red(80, 40);
    ASSERT_TRUE(red.draw(u"HHH", 2, 30, gill(1, 0, 0, 0.5)));
    int maxAlpha = 0;
    for (size_t i = 0; i < red.rgba.size(); i += 4) {
        ASSERT_EQ(red.rgba[i + 1] | red.rgba[i + 2], 0);
        ASSERT_LE(red.rgba[i], red.rgba[i + 3]);
        maxAlpha = std::max<int>(maxAlpha, red.rgba[i + 3]);
    }
    EXPECT_NEAR(maxAlpha, 128, 2);

    // A colour glyph is not filled: a palm tree (U+1F334) drawn in black
    // keeps its olive leaves and orange trunk (fonts-noto-color-emoji); and
    // it keeps them when more text is drawn beside it, through the same bitmap.
    Bitmap palm(60, 40);
    ASSERT_TRUE(palm.draw(u"\U0001F334", 5, 30, gill(0, 0, 0)));
    int leaves = 0, trunk = 0;
    for (size_t i = 0; i < palm.rgba.size(); i += 4) {
        const unsigned char* p = &palm.rgba[i];
        ASSERT_LE(std::max({p[0], p[1], p[2]}), p[3]) << "premultiplied";
        leaves += p[1] > p[0] && p[1] > p[2] + 40;
        trunk += p[0] > p[1] + 40 && p[1] > p[2] + 40;
    }
    EXPECT_GT(leaves, 20) << "no colour emoji font: install fonts-noto-color-emoji";
    EXPECT_GT(trunk, 5);
    const std::vector<unsigned char> drawn = palm.rgba;
    ASSERT_TRUE(palm.draw(u" ", 40, 30, gill()));
    EXPECT_TRUE(palm.rgba == drawn) << "the palm changed colour under a space drawn beside it";
}

TEST(Text, FamiliesResolveOrFallBackAndAnyScriptFindsGlyphsFromTheGivenPoint) {
    EXPECT_EQ(lvtext::resolvedFamily("GillSans"), "Gillius ADF");
    EXPECT_FALSE(lvtext::resolvedFamily("NoSuchFamilyAnywhere").empty());
    const std::u16string samples[] = {
        u"\u6F22\u5B57\u304B\u306A",        // Japanese
        u"\uD55C\uAE00",                    // Korean
        u"\u0645\u0631\u062D\u0628\u0627",  // Arabic, right to left
        u"\u05E9\u05DC\u05D5\u05DD",        // Hebrew, right to left
        u"Caf\u00E9 \u00FC\u00DF",          // Latin with marks
        u"\u03A9\u03BC\u03AD\u03B3\u03B1",  // Greek
    };
    for (const std::u16string& text : samples) {
        lvtext::TextMetrics m;
        std::string error;
        ASSERT_TRUE(lvtext::measureTextLine(text.data(), text.size(), gill(), &m, error)) << error;
        EXPECT_EQ(m.unknownGlyphs, 0) << lvtext::utf16ToUtf8(text.data(), text.size());
        Bitmap b(200, 40);
        ASSERT_TRUE(b.draw(text, 5, 30, gill()));
        const std::vector<int> box = b.ink();
        ASSERT_GE(box[2], 0) << "nothing drawn";
        EXPECT_TRUE(box[0] >= 4 && box[2] <= 5 + int(m.width) + 2) << box[0] << " to " << box[2];
    }
}

TEST(Text, MalformedUtf16IsReplacedAndUnusableArgumentsLeaveTheBitmapAlone) {
    const std::pair<std::u16string, std::string> cases[] = {
        {{0xD800, u'a'}, "\xEF\xBF\xBD" "a"},  {{u'a', 0xDC00}, "a\xEF\xBF\xBD"},
        {{0xD800}, "\xEF\xBF\xBD"},            {{0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"},
        {{u'a', 0, u'b'}, "a\xEF\xBF\xBD" "b"},
        // The ends of the surrogate ranges, and their neighbours outside them.
        {{0xDBFF, 0xDFFF}, "\xF4\x8F\xBF\xBF"}, {{0xDBFF, 0xDC00}, "\xF4\x8F\xB0\x80"},
        {{0xD800, 0xDC00}, "\xF0\x90\x80\x80"}, {{0xDBFF, u'a'}, "\xEF\xBF\xBD" "a"},
        {{0xDFFF, 0xDBFF}, "\xEF\xBF\xBD\xEF\xBF\xBD"}, {{0xD7FF, 0xE000}, "\xED\x9F\xBF\xEE\x80\x80"},
    };
    for (const auto& [in, want] : cases) EXPECT_EQ(lvtext::utf16ToUtf8(in.data(), in.size()), want);
    Bitmap b(100, 40);
    ASSERT_TRUE(b.draw({0xDC00, u'H', 0xD800}, 2, 30, gill()));
    EXPECT_GE(b.ink()[2], 0);

    const std::vector<unsigned char> before = b.rgba;
    std::string error;
    EXPECT_FALSE(lvtext::drawTextLine(nullptr, 100, 40, 400, 0, 10, u"H", 1, gill(), error));
    EXPECT_NE(error.find("no bitmap"), std::string::npos) << error;
    EXPECT_FALSE(lvtext::drawTextLine(b.rgba.data(), 100, 40, 100, 0, 10, u"H", 1, gill(), error)) << "rows too short";
    EXPECT_FALSE(lvtext::drawTextLine(b.rgba.data(), 100, 40, 400, 0, 10, u"H", 1, {"GillSans", -18}, error));
    EXPECT_NE(error.find("no size"), std::string::npos) << error;
    lvtext::TextMetrics m;
    EXPECT_FALSE(lvtext::measureTextLine(u"H", 1, {"GillSans", 0}, &m, error));
    // Text far outside the bitmap is cut, not written past it.
    EXPECT_TRUE(b.draw(u"HHHHHHHHHHHHHHHH", -300, 500, gill()));
    EXPECT_EQ(b.rgba, before);
}


// Shaping and direction, not just glyphs: beh written four times joins into
// one unbroken stroke along the baseline, where the isolated letters leave
// gaps; and in "beh beh beh, alef" the alef, the only tall letter and the
// last one read, stands at the left end of the line.
TEST(Text, ArabicIsJoinedAndRunsRightToLeft) {
    auto columns = [](const std::u16string& text, int fromRow, int toRow) {
        Bitmap b(160, 50);
        EXPECT_TRUE(b.draw(text, 5, 35, gill()));
        std::vector<bool> inked(160, false);
        for (int y = fromRow; y <= toRow; ++y)
            for (int x = 0; x < 160; ++x) inked[x] = inked[x] || b.rgba[(size_t(y) * 160 + x) * 4 + 3] > 100;
        return inked;
    };
    auto gaps = [](const std::vector<bool>& inked) {
        const auto first = std::find(inked.begin(), inked.end(), true);
        const auto last = std::find(inked.rbegin(), inked.rend(), true).base();
        return first < last ? std::count(first, last, false) : -1L;
    };
    EXPECT_EQ(gaps(columns(u"\u0628\u0628\u0628\u0628", 28, 35)), 0) << "joined";
    EXPECT_GT(gaps(columns(u"\u0628 \u0628 \u0628 \u0628", 28, 35)), 3) << "isolated";

    const std::vector<bool> all = columns(u"\u0628\u0628\u0628 \u0627", 0, 49);
    const std::vector<bool> tall = columns(u"\u0628\u0628\u0628 \u0627", 0, 24);
    const long left = std::find(all.begin(), all.end(), true) - all.begin();
    const long right = all.rend() - std::find(all.rbegin(), all.rend(), true);
    const long tallRight = tall.rend() - std::find(tall.rbegin(), tall.rend(), true);
    ASSERT_GT(tallRight, 0) << "no alef drawn";
    EXPECT_LT(tallRight - left, (right - left) / 3) << "the alef is not at the left end of " << left << " to " << right;
}
