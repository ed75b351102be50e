// Covers the player must re-encode (BMP, GIF, TIFF) that claim far more
// pixels than their few bytes hold: refused before FFmpeg decodes them, and
// honest ones re-encoded no larger than a cover needs.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "lv/media.h"
#include "program_test_support.h"
#include "test_pictures.h"

namespace {

void le(std::string& s, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) s += char((v >> (8 * i)) & 0xFF);
}

// 8-bit run-length BMP whose only code ends the picture: every pixel is made up.
std::string bmp(int w, int h) {
    std::string s = "BM";
    const uint32_t offset = 14 + 40 + 1024;
    le(s, offset + 2, 4), le(s, 0, 4), le(s, offset, 4);
    le(s, 40, 4), le(s, uint32_t(w), 4), le(s, uint32_t(h), 4), le(s, 1, 2), le(s, 8, 2);
    le(s, 1, 4), le(s, 2, 4), le(s, 2835, 4), le(s, 2835, 4), le(s, 256, 4), le(s, 0, 4);
    for (int i = 0; i < 256; ++i) le(s, uint32_t(i * 0x010101), 4);
    return s + std::string("\x00\x01", 2);
}

// A GIF screen of w x h whose one image holds nothing but the end code.
std::string gif(int w, int h) {
    std::string s = "GIF89a";
    le(s, uint32_t(w), 2), le(s, uint32_t(h), 2);
    s += std::string("\x80\x00\x00\x00\x00\x00\xff\xff\xff", 9);   // two colours
    s += ',';
    le(s, 0, 4), le(s, uint32_t(w), 2), le(s, uint32_t(h), 2);
    return s + std::string("\x00\x02\x01\x2c\x00;", 6);
}

// A grey TIFF of w x h in one PackBits strip of two bytes.
std::string tiff(int w, int h) {
    std::string s = "II*";
    s += '\0';
    le(s, 8, 4);
    const uint32_t tags[][3] = {{256, 4, uint32_t(w)}, {257, 4, uint32_t(h)}, {258, 3, 8},        {259, 3, 32773},
                                {262, 3, 1},           {273, 4, 0},           {277, 3, 1},        {278, 4, uint32_t(h)},
                                {279, 4, 2}};
    const uint32_t count = sizeof tags / sizeof tags[0], data = 8 + 2 + count * 12 + 4;
    le(s, count, 2);
    for (const auto& t : tags) le(s, t[0], 2), le(s, t[1], 2), le(s, 1, 4), le(s, t[0] == 273 ? data : t[2], 4);
    le(s, 0, 4);
    return s + std::string("\x81\x00", 2);
}

// A second of silence in a WAV whose ID3 chunk holds `picture` as the cover.
std::string wavWithCover(const std::string& mime, const std::string& picture) {
    std::string apic = std::string(1, '\0') + mime + '\0' + char(3) + '\0' + picture;
    std::string frame = "APIC";
    for (int i = 3; i >= 0; --i) frame += char((apic.size() >> (8 * i)) & 0xFF);
    frame += std::string(2, '\0') + apic;
    std::string tag = "ID3\x03";
    tag += std::string(2, '\0');
    for (int i = 3; i >= 0; --i) tag += char((frame.size() >> (7 * i)) & 0x7F);
    tag += frame;
    if (tag.size() % 2) tag += '\0';
    std::string body = "WAVEfmt ";
    le(body, 16, 4), le(body, 1, 2), le(body, 2, 2), le(body, 44100, 4), le(body, 44100 * 4, 4), le(body, 4, 2),
        le(body, 16, 2);
    body += "data";
    le(body, 44100 * 4, 4);
    body += std::string(44100 * 4, '\0');
    body += "id3 ";
    le(body, uint32_t(tag.size()), 4);
    std::string wav = "RIFF";
    le(wav, uint32_t(body.size() + tag.size()), 4);
    return wav + body + tag;
}

// The cover read from a WAV holding `picture`, within the memory budget (if
// it can be measured here).
lv::TrackMeta probe(const std::string& mime, const std::string& picture) {
    lvtest::TempDir dir;
    lvtest::writeFile(dir / "cover.wav", wavWithCover(mime, picture));
    lv::TrackMeta meta;
    std::string error;
    EXPECT_LT(lvtest::peakGrowthMb([&] { EXPECT_TRUE(lv::probeTrack(dir / "cover.wav", meta, error)) << error; }), 64)
        << mime << ": MB taken at the peak";
    return meta;
}

// Width and height from a PNG's header.
std::pair<int, int> pngSize(const std::vector<unsigned char>& png) {
    auto be = [&](size_t i) { return int(png[i]) << 24 | int(png[i + 1]) << 16 | int(png[i + 2]) << 8 | png[i + 3]; };
    return png.size() >= 24 ? std::pair{be(16), be(20)} : std::pair{0, 0};
}

}  // namespace

TEST(CoverBomb, PicturesClaimingHugeSizesAreRefusedAndHonestOnesShrunk) {
    struct Case {
        const char* mime;
        std::string (*make)(int, int);
    };
    for (const Case& c : {Case{"image/bmp", bmp}, Case{"image/gif", gif}, Case{"image/tiff", tiff}}) {
        const lv::TrackMeta bomb = probe(c.mime, c.make(8000, 8000));
        EXPECT_TRUE(bomb.cover.empty()) << c.mime << ": " << pngSize(bomb.cover.bytes).first << " wide";

        // Within bounds: re-encoded as PNG, shrunk to a cover's size, its shape kept.
        const lv::TrackMeta honest = probe(c.mime, c.make(2000, 1000));
        ASSERT_EQ(honest.cover.format, lv::ImageFormat::Png) << c.mime;
        EXPECT_EQ(pngSize(honest.cover.bytes), std::pair(1024, 512)) << c.mime;
    }
}
