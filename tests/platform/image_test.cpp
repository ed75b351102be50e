// Picture decoding: what comes out of real JPEG and PNG files, and that
// damaged or absurd ones are refused without harm.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "lv/image.h"
#include "test_pictures.h"

using lvtest::RGBA;

namespace {

RGBA at(const lvimage::Image& img, int x, int y) {
    const uint8_t* p = &img.rgba[(size_t(y) * img.width + x) * 4];
    return {p[0], p[1], p[2], p[3]};
}

::testing::AssertionResult near(RGBA p, RGBA q, int tolerance) {
    if (std::abs(p.r - q.r) <= tolerance && std::abs(p.g - q.g) <= tolerance && std::abs(p.b - q.b) <= tolerance &&
        std::abs(p.a - q.a) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "got " << int(p.r) << " " << int(p.g) << " " << int(p.b) << " " << int(p.a);
}

lvimage::Image decode(const std::vector<uint8_t>& bytes) {
    lvimage::Image img;
    std::string error;
    EXPECT_TRUE(lvimage::decodeImage(bytes.data(), bytes.size(), &img, error)) << error;
    return img;
}

// Refused, with a message that names the cause.
::testing::AssertionResult refused(const uint8_t* data, size_t size, lvimage::Image& img, const char* cause) {
    std::string error;
    if (lvimage::decodeImage(data, size, &img, error)) return ::testing::AssertionFailure() << "decoded";
    if (error.find(cause) == std::string::npos) return ::testing::AssertionFailure() << "said: " << error;
    if (img.width != 0 || !img.rgba.empty()) return ::testing::AssertionFailure() << "left a picture behind";
    return ::testing::AssertionSuccess();
}

RGBA gradient(int x, int y) { return {uint8_t(x * 8), uint8_t(y * 8), uint8_t(255 - x), uint8_t(x * 16 + y)}; }

}  // namespace

TEST(ImageDecode, PngKeepsEveryByteRowsTopFirst) {
    const lvimage::Image img = decode(lvtest::makePNG(16, 12, gradient));
    ASSERT_EQ(img.width, 16);
    ASSERT_EQ(img.height, 12);
    ASSERT_EQ(img.rgba.size(), size_t(16 * 12 * 4));
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x) ASSERT_EQ(at(img, x, y), gradient(x, y)) << x << "," << y;
}

TEST(ImageDecode, JpegInRgbAndAdobeCmyk) {
    const lvimage::Image rgb = decode(lvtest::makeJPEG(32, 24, [](int x, int y) { return lvtest::quadrant(x, y, 32, 24); }));
    ASSERT_EQ(rgb.width, 32);
    ASSERT_EQ(rgb.height, 24);
    EXPECT_TRUE(near(at(rgb, 2, 2), {255, 0, 0, 255}, 12));
    EXPECT_TRUE(near(at(rgb, 29, 2), {0, 255, 0, 255}, 12));
    EXPECT_TRUE(near(at(rgb, 2, 21), {0, 0, 255, 255}, 12));
    EXPECT_TRUE(near(at(rgb, 29, 21), {255, 255, 255, 255}, 12));
    // Stored inverted: cyan is no cyan byte and full others.
    const lvimage::Image cmyk = decode(lvtest::makeJPEG(16, 16, lvtest::solid({0, 255, 255, 255}), true));
    EXPECT_TRUE(near(at(cmyk, 8, 8), {0, 255, 255, 255}, 6));
}

TEST(ImageDecode, DamagedAndAbsurdPicturesAreRefused) {
    const std::vector<uint8_t> jpeg = lvtest::makeJPEG(64, 64, gradient);
    const std::vector<uint8_t> png = lvtest::makePNG(64, 64, gradient);
    lvimage::Image img;
    img.width = 5;
    for (const std::vector<uint8_t>* whole : {&jpeg, &png}) {
        for (size_t keep : {whole->size() / 2, size_t(40), size_t(10)})
            EXPECT_TRUE(refused(whole->data(), keep, img, "")) << "cut to " << keep << " bytes";
        std::vector<uint8_t> scrambled = *whole;
        for (size_t i = 12; i < scrambled.size(); i += 7) scrambled[i] ^= 0x5A;
        std::string error;
        EXPECT_FALSE(lvimage::decodeImage(scrambled.data(), scrambled.size(), &img, error) && img.width != 64);
    }
    const uint8_t gif[] = {'G', 'I', 'F', '8', '9', 'a', 0, 0};
    EXPECT_EQ(lv::sniffImageFormat(gif, sizeof gif), lv::ImageFormat::NoImage);
    EXPECT_TRUE(refused(gif, sizeof gif, img, "not a JPEG or PNG"));
    EXPECT_TRUE(refused(nullptr, 0, img, "not a JPEG or PNG"));

    // A JPEG whose frame header claims 30000 x 30000 pixels is refused before
    // its 3.6 GB are allocated.
    std::vector<uint8_t> huge = lvtest::makeJPEG(8, 8, gradient);
    const uint8_t frameMarker[] = {0xFF, 0xC0};
    const auto sof = std::search(huge.begin(), huge.end(), frameMarker, frameMarker + 2);
    ASSERT_NE(sof, huge.end());
    sof[5] = sof[7] = 30000 >> 8;
    sof[6] = sof[8] = 30000 & 0xFF;
    EXPECT_TRUE(refused(huge.data(), huge.size(), img, "too large"));
    // A progressive JPEG whose last scan comes again and again: each pass
    // would cost a trip over the whole picture.
    const std::vector<uint8_t> progressive = lvtest::makeJPEG(16, 16, gradient, false, true);
    decode(progressive);
    const uint8_t scanMarker[] = {0xFF, 0xDA};
    const auto lastScan = std::find_end(progressive.begin(), progressive.end() - 2, scanMarker, scanMarker + 2);
    std::vector<uint8_t> scans(progressive.begin(), lastScan);
    for (int i = 0; i < 600; ++i) scans.insert(scans.end(), lastScan, progressive.end() - 2);
    scans.insert(scans.end(), progressive.end() - 2, progressive.end());
    EXPECT_TRUE(refused(scans.data(), scans.size(), img, "scans"));
    // Wider than a signed 16-bit size can say; the widest allowed still decodes.
    const std::vector<uint8_t> wide = lvtest::makePNG(40000, 1, gradient);
    EXPECT_TRUE(refused(wide.data(), wide.size(), img, ""));
    EXPECT_EQ(decode(lvtest::makePNG(lvimage::kMaxSide, 1, gradient)).width, lvimage::kMaxSide);
}
