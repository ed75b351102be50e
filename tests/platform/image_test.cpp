// Picture decoding: what comes out of real JPEG and PNG files; damaged or
// absurd ones refused without harm; pictures made to cost far more to decode
// than their size suggests refused or decoded small, within a memory budget.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <string>

#include "lv/image.h"
#include "test_pictures.h"

using lvtest::RGBA;

namespace {

constexpr int kLargestDecodedSide = 1024;

RGBA at(const lvimage::Image& img, int x, int y) {
    const uint8_t* p = &img.rgba[(size_t(y) * img.width + x) * 4];
    return {p[0], p[1], p[2], p[3]};
}

::testing::AssertionResult near(RGBA p, RGBA q, int tolerance) {
    if (std::max({std::abs(p.r - q.r), std::abs(p.g - q.g), std::abs(p.b - q.b), std::abs(p.a - q.a)}) <= tolerance)
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
::testing::AssertionResult refused(const std::vector<uint8_t>& bytes, lvimage::Image& img, const char* cause) {
    std::string error;
    if (lvimage::decodeImage(bytes.data(), bytes.size(), &img, error))
        return ::testing::AssertionFailure() << "decoded";
    if (error.find(cause) == std::string::npos) return ::testing::AssertionFailure() << "said: " << error;
    if (img.width != 0 || !img.rgba.empty()) return ::testing::AssertionFailure() << "left a picture behind";
    return ::testing::AssertionSuccess();
}

RGBA gradient(int x, int y) { return {uint8_t(x * 8), uint8_t(y * 8), uint8_t(255 - x), uint8_t(x * 16 + y)}; }

std::vector<uint8_t>::iterator findMarker(std::vector<uint8_t>& jpeg, uint8_t code, bool last = false) {
    const uint8_t marker[] = {0xFF, code};
    return last ? std::find_end(jpeg.begin(), jpeg.end(), marker, marker + 2)
                : std::search(jpeg.begin(), jpeg.end(), marker, marker + 2);
}

// A small JPEG whose frame header claims `side` x `side` pixels; a
// progressive one has its last scan repeated until it has `scans` of them.
// The data runs out at once, so every scan is a pass over all the claimed
// picture's blocks.
std::vector<uint8_t> jpegClaiming(int side, bool progressive, int scans = 10) {
    constexpr int kProgressionScans = 10;   // what makeJPEG writes
    std::vector<uint8_t> jpeg = lvtest::makeJPEG(16, 16, lvtest::solid({90, 90, 90, 255}), false, progressive);
    const auto frame = findMarker(jpeg, progressive ? 0xC2 : 0xC0);
    frame[5] = frame[7] = uint8_t(side >> 8);
    frame[6] = frame[8] = uint8_t(side & 0xFF);
    const auto lastScan = findMarker(jpeg, 0xDA, true);
    std::vector<uint8_t> out(jpeg.begin(), jpeg.end() - 2);
    for (int i = kProgressionScans; progressive && i < scans; ++i) out.insert(out.end(), lastScan, jpeg.end() - 2);
    out.insert(out.end(), jpeg.end() - 2, jpeg.end());
    return out;
}

// A 1 x 1 PNG with `count` zTXt chunks, each inflating to 7 MB.
std::vector<uint8_t> pngWithTextBombs(int count) {
    std::vector<uint8_t> png = lvtest::makePNG(1, 1, lvtest::solid({1, 2, 3, 255}));
    const std::vector<uint8_t> text(7'000'000, 'a');
    std::vector<uint8_t> packed(compressBound(uLong(text.size())));
    uLongf packedSize = uLongf(packed.size());
    compress2(packed.data(), &packedSize, text.data(), uLong(text.size()), 9);
    std::vector<uint8_t> chunk = {0, 0, 0, 0, 'z', 'T', 'X', 't', 'C', 'o', 'm', 'm', 'e', 'n', 't', 0, 0};
    chunk.insert(chunk.end(), packed.begin(), packed.begin() + long(packedSize));
    const uint32_t length = uint32_t(chunk.size() - 8);
    for (int i = 0; i < 4; ++i) chunk[size_t(i)] = uint8_t(length >> (24 - 8 * i));
    const uint32_t crc = uint32_t(crc32(0, chunk.data() + 4, uInt(chunk.size() - 4)));
    for (int i = 0; i < 4; ++i) chunk.push_back(uint8_t(crc >> (24 - 8 * i)));
    std::vector<uint8_t> out(png.begin(), png.begin() + 8 + 25);   // signature, IHDR
    for (int i = 0; i < count; ++i) out.insert(out.end(), chunk.begin(), chunk.end());
    out.insert(out.end(), png.begin() + 8 + 25, png.end());
    return out;
}

}  // namespace

// A PNG keeps every byte, rows top first; large JPEGs and PNGs come out
// scaled down (JPEGs by a power of two, PNGs by a whole factor), the right
// way up.
TEST(ImageDecode, PngKeepsEveryByteJpegInRgbAndAdobeCmykAndLargeOnesScaledDownTheRightWayUp) {
    const lvimage::Image png = decode(lvtest::makePNG(16, 12, gradient));
    ASSERT_EQ(png.rgba.size(), size_t(16 * 12 * 4));
    ASSERT_EQ(png.width, 16);
    ASSERT_EQ(png.height, 12);
    for (int y = 0; y < 12; ++y)
        for (int x = 0; x < 16; ++x) ASSERT_EQ(at(png, x, y), gradient(x, y)) << x << "," << y;
    for (auto [png, w, h, outW, outH] : {std::tuple{false, 32, 24, 32, 24}, {false, 2400, 1600, 600, 400},
                                         {true, 2400, 1600, 800, 534}}) {
        const lvtest::PixelFn quarters = [&](int x, int y) { return lvtest::quadrant(x, y, w, h); };
        const lvimage::Image rgb = decode(png ? lvtest::makePNG(w, h, quarters) : lvtest::makeJPEG(w, h, quarters));
        ASSERT_EQ(rgb.width, outW);
        ASSERT_EQ(rgb.height, outH);
        for (auto [x, y, want] : {std::tuple{2, 2, RGBA{255, 0, 0, 255}}, {outW - 3, 2, RGBA{0, 255, 0, 255}},
                                  {2, outH - 3, RGBA{0, 0, 255, 255}}, {outW - 3, outH - 3, RGBA{255, 255, 255, 255}}})
            EXPECT_TRUE(near(at(rgb, x, y), want, 12)) << w << " at " << x << "," << y;
    }
    // Stored inverted: cyan is no cyan byte and full others.
    const lvimage::Image cmyk = decode(lvtest::makeJPEG(16, 16, lvtest::solid({0, 255, 255, 255}), true));
    EXPECT_TRUE(near(at(cmyk, 8, 8), {0, 255, 255, 255}, 6));
}

TEST(ImageDecode, DamagedAndAbsurdPicturesAndEndlessProgressionsAreRefused) {
    const std::vector<uint8_t> jpeg = lvtest::makeJPEG(64, 64, gradient);
    const std::vector<uint8_t> png = lvtest::makePNG(64, 64, gradient);
    lvimage::Image img;
    img.width = 5;
    for (const std::vector<uint8_t>* whole : {&jpeg, &png}) {
        for (size_t keep : {whole->size() / 2, size_t(40), size_t(10)})
            EXPECT_TRUE(refused({whole->begin(), whole->begin() + long(keep)}, img, "")) << "cut to " << keep;
        std::vector<uint8_t> scrambled = *whole;
        for (size_t i = 12; i < scrambled.size(); i += 7) scrambled[i] ^= 0x5A;
        std::string error;
        EXPECT_FALSE(lvimage::decodeImage(scrambled.data(), scrambled.size(), &img, error) && img.width != 64);
    }
    const std::vector<uint8_t> gif = {'G', 'I', 'F', '8', '9', 'a', 0, 0};
    EXPECT_EQ(lv::sniffImageFormat(gif.data(), gif.size()), lv::ImageFormat::NoImage);
    EXPECT_TRUE(refused(gif, img, "not a JPEG or PNG"));
    EXPECT_TRUE(refused({}, img, "not a JPEG or PNG"));

    // 30000 x 30000 pixels are refused before their 3.6 GB are allocated.
    EXPECT_TRUE(refused(jpegClaiming(30000, false), img, "too large"));
    // Wider or taller than a signed 16-bit size can say, though few pixels in
    // all; the widest allowed still decodes, scaled down like any large picture.
    EXPECT_TRUE(refused(lvtest::makePNG(40000, 1, gradient), img, ""));
    for (int side : {5, 7}) {   // the frame header's height, then its width
        std::vector<uint8_t> narrow = jpegClaiming(16, false);
        const auto frame = findMarker(narrow, 0xC0);
        frame[side] = uint8_t(40000 >> 8), frame[side + 1] = uint8_t(40000 & 0xFF);
        EXPECT_TRUE(refused(narrow, img, "too large")) << (side == 5 ? "tall" : "wide");
    }
    EXPECT_EQ(decode(lvtest::makePNG(lvimage::kMaxSide, 1, gradient)).width, kLargestDecodedSide);

    // A 2048 x 2048 progression fits the memory budget, but 500 scans over
    // its 65536 luma blocks are some fifty times the work a real one asks;
    // however small the picture, 600 scans are no real progression. The same
    // picture with its own ten scans decodes (scaled down).
    EXPECT_TRUE(refused(jpegClaiming(2048, true, 500), img, "scans"));
    EXPECT_TRUE(refused(jpegClaiming(16, true, 600), img, "more than 500 scans"));
    EXPECT_EQ(decode(jpegClaiming(2048, true, 10)).width, 1024);
}

// Pictures costing far more to decode than their size: refused, or decoded
// small within a memory budget.
TEST(ImageBomb, CostlyPicturesAreRefusedOrDecodedSmallWithinAMemoryBudget) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {"progressive JPEG of 8192 x 8192 with 500 empty scans", jpegClaiming(8192, true, 500)},
        {"baseline JPEG claiming 8192 x 8192", jpegClaiming(8192, false)},
        {"1 x 1 PNG with 40 zTXt chunks of 7 MB each", pngWithTextBombs(40)},
        {"PNG of 8000 x 8000 pixels of one colour", lvtest::makePNG(8000, 8000, lvtest::solid({9, 99, 199, 255}))},
    };
    for (const Case& c : cases) {
        ASSERT_LT(c.bytes.size(), 300'000u) << c.what;
        lvimage::Image img;
        std::string error;
        bool decoded = false;
        // (-1: not measured.)
        const auto attempt = [&] { decoded = lvimage::decodeImage(c.bytes.data(), c.bytes.size(), &img, error); };
        EXPECT_LT(lvtest::peakGrowthMb(attempt), 64) << c.what << ": MB taken at the peak";
        EXPECT_TRUE(decoded ? std::max(img.width, img.height) <= kLargestDecodedSide : img.rgba.empty()) << c.what;
    }
    if (lvtest::peakGrowthMb([] {}) < 0) GTEST_SKIP() << "no /proc/self/clear_refs: the memory taken was not checked";
}
