// The compiled-in artwork: sizes, the sprites' radial profiles, the ribbon
// spectrum, the help panel's layout and the palettes' dark first pixels.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "colors.h"
#include "imageBinaries.h"

namespace {

struct Pixel {
    int r, g, b, a;
};

Pixel at(const unsigned char* img, int size, int x, int y) {
    const unsigned char* p = img + 4 * (static_cast<size_t>(y) * size + x);
    return {p[0], p[1], p[2], p[3]};
}

// The mean of the eight pixels straddling distance r from the centre of a
// 128 x 128 sprite along the horizontal axis (pixel centres sit half a pixel
// either side of r), left and right of the centre.
Pixel radial(const unsigned char* img, int r) {
    Pixel m{0, 0, 0, 0};
    for (int y : {63, 64}) {
        for (int x : {63 + r, 64 + r, 64 - r, 63 - r}) {
            Pixel p = at(img, 128, std::clamp(x, 0, 127), y);
            m.r += p.r;
            m.g += p.g;
            m.b += p.b;
            m.a += p.a;
        }
    }
    return {m.r / 8, m.g / 8, m.b / 8, m.a / 8};
}

// Every pixel without alpha is stored as transparent white.
void expectTransparentIsWhite(const unsigned char* img, int size) {
    int wrong = 0;
    for (int i = 0; i < size * size; ++i) {
        const unsigned char* p = img + 4 * i;
        if (p[3] == 0 && (p[0] != 255 || p[1] != 255 || p[2] != 255)) ++wrong;
    }
    EXPECT_EQ(wrong, 0);
}

struct Sample {
    int r;
    int alpha;
    int tolerance;
};

void expectAlphaProfile(const unsigned char* img, const std::vector<Sample>& samples) {
    for (const Sample& s : samples) {
        SCOPED_TRACE(testing::Message() << "r = " << s.r);
        EXPECT_NEAR(radial(img, s.r).a, s.alpha, s.tolerance);
    }
}

void expectColorNear(Pixel p, int r, int g, int b, int tolerance) {
    EXPECT_NEAR(p.r, r, tolerance);
    EXPECT_NEAR(p.g, g, tolerance);
    EXPECT_NEAR(p.b, b, tolerance);
}

}  // namespace

TEST(KitArtwork, EveryArrayHoldsItsTexture) {
    EXPECT_EQ(orbImageSize, 128u * 128 * 4);
    EXPECT_EQ(haloOrbImageSize, 128u * 128 * 4);
    EXPECT_EQ(rainbowImageSize, 128u * 128 * 4);
    EXPECT_EQ(haloImageSize, 128u * 128 * 4);
    EXPECT_EQ(rainbowBlurImageSize, 512u * 512 * 4);
    EXPECT_EQ(gradientBarImageSize, 196608u);
    EXPECT_EQ(infoPanelImageSize, 262145u);   // the image and one spare byte
    expectTransparentIsWhite(orbImage, 128);
    expectTransparentIsWhite(haloOrbImage, 128);
    expectTransparentIsWhite(rainbowImage, 128);
    expectTransparentIsWhite(haloImage, 128);
    expectTransparentIsWhite(rainbowBlurImage, 512);
    expectTransparentIsWhite(infoPanelImage, 256);
}

TEST(KitArtwork, SpriteProfiles) {
    // orb: a soft white ball.
    expectAlphaProfile(orbImage, {{0, 255, 2}, {16, 245, 6}, {32, 147, 8}, {40, 72, 8}, {48, 22, 6},
                                  {56, 3, 3}, {63, 0, 0}});
    EXPECT_EQ(radial(orbImage, 20).r + radial(orbImage, 20).g + radial(orbImage, 20).b, 765);
    EXPECT_EQ(at(orbImage, 128, 0, 0).a, 0);

    // haloOrb: white core, orange rim, a faint ring further out.
    expectAlphaProfile(haloOrbImage, {{0, 255, 0}, {7, 255, 2}, {12, 169, 12}, {16, 49, 10}, {20, 15, 5},
                                      {34, 0, 0}, {40, 0, 0}, {62, 0, 0}});
    expectColorNear(radial(haloOrbImage, 4), 255, 255, 255, 0);
    expectColorNear(radial(haloOrbImage, 12), 224, 146, 49, 14);
    expectColorNear(radial(haloOrbImage, 16), 249, 131, 87, 10);
    int ringPeak = 0;
    for (int r = 46; r <= 54; ++r) ringPeak = std::max(ringPeak, radial(haloOrbImage, r).a);
    EXPECT_GE(ringPeak, 3);
    EXPECT_LE(ringPeak, 5);

    // rainbow: blue centre through green and yellow to red-orange.
    expectAlphaProfile(rainbowImage, {{0, 255, 0}, {19, 255, 2}, {32, 206, 8}, {40, 111, 8}, {48, 34, 6},
                                      {56, 5, 4}, {63, 0, 1}});
    expectColorNear(radial(rainbowImage, 0), 33, 100, 211, 4);
    expectColorNear(radial(rainbowImage, 16), 75, 167, 117, 10);
    expectColorNear(radial(rainbowImage, 32), 196, 146, 16, 10);
    expectColorNear(radial(rainbowImage, 48), 247, 65, 0, 10);

    // halo: nothing inside r = 40, a faint ring peaking near 42.
    expectAlphaProfile(haloImage, {{0, 0, 0}, {39, 0, 0}, {42, 15, 3}, {52, 6, 4}, {63, 0, 1}});
}

TEST(KitArtwork, RibbonSpectrumAndBand) {
    auto px = [](int x, int y) { return at(rainbowBlurImage, 512, x, y); };
    expectColorNear(px(256, 0), 17, 8, 255, 3);
    expectColorNear(px(256, 96), 0, 128, 216, 3);
    expectColorNear(px(256, 128), 0, 158, 117, 3);
    expectColorNear(px(256, 256), 250, 252, 1, 3);
    expectColorNear(px(256, 320), 255, 121, 0, 3);
    for (int y : {384, 450, 511}) expectColorNear(px(256, y), 255, 0, 0, 0);

    // Wide and strong at the head...
    for (int x : {160, 240, 320}) EXPECT_GT(px(x, 32).a, 240) << "column " << x;
    // ...narrowing and fading towards the tail.
    EXPECT_NEAR(px(256, 256).a, 241, 4);
    EXPECT_NEAR(px(256, 384).a, 156, 6);
    EXPECT_NEAR(px(256, 480).a, 35, 6);
    EXPECT_LT(px(160, 384).a, px(160, 32).a / 2);
    for (int y = 0; y < 512; y += 37) {
        EXPECT_EQ(px(0, y).a, 0) << "row " << y;
        EXPECT_EQ(px(511, y).a, 0) << "row " << y;
    }
}

TEST(KitArtwork, GradientBarIsOneGreyBumpPerRow) {
    auto grey = [](int x, int y) { return gradientBarImage[3 * (256 * y + x)]; };
    const int expected[][2] = {{0, 0}, {32, 58}, {64, 144}, {96, 222}, {124, 255}, {131, 255}, {255, 0}};
    for (auto [x, v] : expected) EXPECT_NEAR(grey(x, 0), v, 2) << "column " << x;
    for (int x = 0; x < 256; ++x) {
        ASSERT_EQ(grey(x, 0), grey(255 - x, 0)) << "column " << x;
        for (int y = 1; y < 256; y += 51) ASSERT_EQ(grey(x, y), grey(x, 0));
        for (int c = 1; c < 3; ++c) ASSERT_EQ(gradientBarImage[3 * x + c], grey(x, 0));
    }
    std::vector<unsigned char> rgba(256 * 256 * 4);
    expandGradientBarToRGBA(rgba.data());
    for (int i = 0; i < 256 * 256; ++i) {
        ASSERT_EQ(rgba[4 * i], gradientBarImage[3 * i]);
        ASSERT_EQ(rgba[4 * i + 3], 255);
    }
}

TEST(KitArtwork, HelpPanelLayout) {
    auto px = [](int x, int y) { return at(infoPanelImage, 256, x, y); };
    auto isBackdrop = [](Pixel p) { return p.r == 0 && p.g == 0 && p.b == 0 && p.a == 112; };
    // Ink: near-white and mostly opaque (small anti-aliased type rarely covers
    // a pixel completely).
    auto isWhiteInk = [](Pixel p) { return p.a >= 200 && p.r >= 200 && p.g >= 200 && p.b >= 200; };
    for (auto [x, y] : {std::pair{0, 0}, {255, 0}, {0, 255}, {255, 255}, {128, 64}, {4, 140}}) {
        EXPECT_TRUE(isBackdrop(px(x, y))) << x << "," << y;
    }
    // Nothing but ink over the backdrop: every pixel is at least as opaque.
    int thinner = 0;
    for (int i = 0; i < 256 * 256; ++i) thinner += infoPanelImage[4 * i + 3] < 112;
    EXPECT_EQ(thinner, 0);

    // Rows holding white ink, as horizontal bands.
    auto inkInRow = [&](int y, int x0, int x1) {
        int n = 0;
        for (int x = x0; x < x1; ++x) n += isWhiteInk(px(x, y));
        return n;
    };
    // The title block: the emblem at the left, the name to its right.
    int emblem = 0, title = 0;
    for (int y = 0; y < 64; ++y) {
        emblem += inkInRow(y, 0, 64);
        title += inkInRow(y, 64, 256);
    }
    EXPECT_GT(emblem, 150);
    EXPECT_GT(title, 150);

    // Below it, seven key lines in a group of three and a group of four.
    struct Band {
        int top, bottom;
    };
    std::vector<Band> bands;
    for (int y = 70; y < 256; ++y) {
        if (inkInRow(y, 0, 256) == 0) continue;
        if (!bands.empty() && bands.back().bottom >= y - 2) {
            bands.back().bottom = y;
        } else {
            bands.push_back({y, y});
        }
    }
    ASSERT_EQ(bands.size(), 7u);
    std::vector<int> gaps;
    for (size_t i = 1; i < bands.size(); ++i) gaps.push_back(bands[i].top - bands[i - 1].bottom);
    for (size_t i = 0; i < gaps.size(); ++i) {
        if (i == 2) continue;
        EXPECT_GT(gaps[2], gaps[i] + 10) << "the empty line sits between the third and fourth key lines";
    }
    // Each line: a key label ending left of the text column, then the text.
    for (const Band& band : bands) {
        int keyInk = 0, textInk = 0;
        for (int y = band.top; y <= band.bottom; ++y) {
            keyInk += inkInRow(y, 0, 42);
            textInk += inkInRow(y, 44, 256);
        }
        EXPECT_GT(keyInk, 3) << "key label of the line at row " << band.top;
        EXPECT_GT(textInk, 30) << "text of the line at row " << band.top;
    }
}

TEST(KitArtwork, Palettes) {
    EXPECT_EQ(imageData[2], orangesArray);
    EXPECT_EQ(imageData[3], shirtArray);
    EXPECT_EQ(std::memcmp(imageData[1], orangesArray, 1200), 0);
    EXPECT_NE(std::memcmp(imageData[0], imageData[1], 1200), 0);

    // The background's picks: the first twelve pixels of row 0 are dark.
    const int darkest[3] = {91, 140, 84};
    for (int palette : {0, 1, 3}) {
        for (int i = 0; i < 36; ++i) {
            EXPECT_LE(imageData[palette][i], darkest[palette == 3 ? 2 : palette]) << "palette " << palette;
        }
    }

    auto pixel = [](const unsigned char* pal, int x, int y) {
        const unsigned char* p = pal + 60 * y + 3 * x;
        return Pixel{p[0], p[1], p[2], 255};
    };
    // Fire: dark reds on the left, a pale blue sky on the right.
    for (int y = 0; y < 20; ++y) {
        Pixel left = pixel(imageData[0], 1, y), sky = pixel(imageData[0], 19, y);
        EXPECT_GT(left.r, left.b);
        EXPECT_GT(sky.b, 180);
        EXPECT_GT(sky.b, sky.r);
    }
    // Shirt: a light grey band along row 1, red stripes below.
    for (int x = 0; x < 20; ++x) {
        Pixel p = pixel(shirtArray, x, 1);
        EXPECT_GT(p.r, 170);
        EXPECT_LE(std::abs(p.r - p.g) + std::abs(p.g - p.b), 12);
    }
    int red = 0;
    for (int i = 20; i < 400; ++i) red += shirtArray[3 * i] > 150 && shirtArray[3 * i + 1] < 80;
    EXPECT_GT(red, 80);
}
