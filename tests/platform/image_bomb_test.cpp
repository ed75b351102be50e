// Pictures made to cost far more to decode than their size suggests: each is
// refused or decoded small, within a memory budget. Large honest JPEGs come
// out scaled down, the right way up.
#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>

#include "lv/image.h"
#include "test_pictures.h"

using lvtest::RGBA;

namespace {

constexpr int kLargestDecodedSide = 1024;

long statusKb(const char* field) {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::strlen(field) + 1);
    return -1;
}

// How much resident memory `body` adds at its peak, in MB; -1 when the
// kernel's high-water mark cannot be reset (no /proc/self/clear_refs).
long peakGrowthMb(const std::function<void()>& body) {
    std::ofstream reset("/proc/self/clear_refs");
    if (!(reset << "5" << std::flush)) return -1;
    const long before = statusKb("VmRSS:");
    body();
    return (statusKb("VmHWM:") - before) / 1024;
}

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

TEST(ImageBomb, CostlyPicturesAreRefusedOrDecodedSmallWithinAMemoryBudget) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {"progressive JPEG of 8192 x 8192 with 500 empty scans", jpegClaiming(8192, true, 500)},
        {"baseline JPEG claiming 8192 x 8192", jpegClaiming(8192, false)},
        {"1 x 1 PNG with 40 zTXt chunks of 7 MB each", pngWithTextBombs(40)},
    };
    for (const Case& c : cases) {
        ASSERT_LT(c.bytes.size(), 300'000u) << c.what;
        lvimage::Image img;
        std::string error;
        bool decoded = false;
        const long growth =
            peakGrowthMb([&] { decoded = lvimage::decodeImage(c.bytes.data(), c.bytes.size(), &img, error); });
        if (decoded) {
            EXPECT_LE(img.width, kLargestDecodedSide) << c.what;
            EXPECT_LE(img.height, kLargestDecodedSide) << c.what;
        } else {
            EXPECT_TRUE(img.rgba.empty()) << c.what;
        }
        if (growth >= 0) {
            EXPECT_LT(growth, 64) << c.what << ": MB taken at the peak";
        }
    }
    if (peakGrowthMb([] {}) < 0) GTEST_SKIP() << "no /proc/self/clear_refs: the memory taken was not checked";
}

TEST(ImageBomb, ProgressiveScansBeyondAPicturesWorthAreRefused) {
    // 2048 x 2048 fits the memory budget, but 500 scans over its 65536 luma
    // blocks are some fifty times the work a real progression asks.
    const std::vector<uint8_t> bomb = jpegClaiming(2048, true, 500);
    lvimage::Image img;
    std::string error;
    EXPECT_FALSE(lvimage::decodeImage(bomb.data(), bomb.size(), &img, error));
    EXPECT_NE(error.find("scans"), std::string::npos) << error;
    EXPECT_TRUE(img.rgba.empty());
    // The same picture with its own ten scans decodes (scaled down).
    const std::vector<uint8_t> honest = jpegClaiming(2048, true, 10);
    ASSERT_TRUE(lvimage::decodeImage(honest.data(), honest.size(), &img, error)) << error;
    EXPECT_EQ(img.width, 1024);
}

TEST(ImageBomb, LargeJpegsComeOutScaledDownTheRightWayUp) {
    const int w = 2400, h = 1600;
    const std::vector<uint8_t> jpeg =
        lvtest::makeJPEG(w, h, [&](int x, int y) { return lvtest::quadrant(x, y, w, h); });
    lvimage::Image img;
    std::string error;
    ASSERT_TRUE(lvimage::decodeImage(jpeg.data(), jpeg.size(), &img, error)) << error;
    EXPECT_EQ(img.width, 600);
    EXPECT_EQ(img.height, 400);
    auto is = [&](int x, int y, RGBA want) {
        const uint8_t* p = &img.rgba[(size_t(y) * size_t(img.width) + size_t(x)) * 4];
        return std::abs(p[0] - want.r) < 12 && std::abs(p[1] - want.g) < 12 && std::abs(p[2] - want.b) < 12 &&
               p[3] == 255;
    };
    EXPECT_TRUE(is(10, 10, {255, 0, 0, 255}));
    EXPECT_TRUE(is(589, 10, {0, 255, 0, 255}));
    EXPECT_TRUE(is(10, 389, {0, 0, 255, 255}));
    EXPECT_TRUE(is(589, 389, {255, 255, 255, 255}));
}
