#include "samples.h"

#include <cstring>

#include "test_pictures.h"

namespace lvfuzz {

namespace {

lvtest::RGBA gradient(int x, int y) { return {uint8_t(x * 16), uint8_t(y * 16), uint8_t((x + y) * 8), 255}; }

lvtest::RGBA translucent(int x, int y) { return {uint8_t(x * 40), 200, uint8_t(y * 40), uint8_t(x * y * 8)}; }

uint32_t crc32(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1)));
    }
    return ~crc;
}

void putBE32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

// A PNG whose header claims another size, its checksum made right again so
// that only the size is wrong.
std::vector<uint8_t> pngClaiming(std::vector<uint8_t> png, uint32_t width, uint32_t height) {
    // Signature (8), IHDR length (4), "IHDR" (4), width, height, ..., CRC at 29.
    putBE32(&png[16], width);
    putBE32(&png[20], height);
    putBE32(&png[29], crc32(&png[12], 17));
    return png;
}

// A JPEG whose frame header claims another size.
std::vector<uint8_t> jpegClaiming(std::vector<uint8_t> jpeg, uint16_t width, uint16_t height) {
    for (size_t i = 2; i + 9 < jpeg.size(); ++i) {
        if (jpeg[i] == 0xFF && (jpeg[i + 1] == 0xC0 || jpeg[i + 1] == 0xC2)) {
            jpeg[i + 5] = uint8_t(height >> 8);
            jpeg[i + 6] = uint8_t(height);
            jpeg[i + 7] = uint8_t(width >> 8);
            jpeg[i + 8] = uint8_t(width);
            break;
        }
    }
    return jpeg;
}

std::vector<uint8_t> firstBytes(const std::vector<uint8_t>& b, size_t n) {
    return std::vector<uint8_t>(b.begin(), b.begin() + long(std::min(n, b.size())));
}

}  // namespace

std::vector<Sample> goodCovers() {
    return {
        {"jpeg-16x16", lvtest::makeJPEG(16, 16, gradient)},
        {"jpeg-progressive-24x8", lvtest::makeJPEG(24, 8, gradient, false, true)},
        {"jpeg-cmyk-8x8", lvtest::makeJPEG(8, 8, gradient, true)},
        {"jpeg-1x1", lvtest::makeJPEG(1, 1, gradient)},
        {"png-rgba-12x7", lvtest::makePNG(12, 7, translucent)},
        {"png-1x1", lvtest::makePNG(1, 1, gradient)},
        {"png-quadrants-33x17", lvtest::makePNG(33, 17, [](int x, int y) { return lvtest::quadrant(x, y, 33, 17); })},
    };
}

std::vector<Sample> hostileCovers() {
    const std::vector<uint8_t> jpeg = lvtest::makeJPEG(16, 16, gradient);
    const std::vector<uint8_t> progressive = lvtest::makeJPEG(16, 16, gradient, false, true);
    const std::vector<uint8_t> png = lvtest::makePNG(16, 16, translucent);
    std::vector<uint8_t> flipped = png;
    for (size_t i = 41; i < flipped.size() - 12; i += 7) flipped[i] ^= 0x5A;   // inside the image data
    std::vector<uint8_t> noise(300);
    for (size_t i = 0; i < noise.size(); ++i) noise[i] = uint8_t(i * 131 + 7);
    std::vector<uint8_t> jpegJunk = {0xFF, 0xD8, 0xFF};
    jpegJunk.insert(jpegJunk.end(), noise.begin(), noise.end());
    std::vector<uint8_t> pngJunk = firstBytes(png, 8);
    pngJunk.insert(pngJunk.end(), noise.begin(), noise.end());
    return {
        {"jpeg-truncated", firstBytes(jpeg, jpeg.size() / 2)},
        {"jpeg-progressive-truncated", firstBytes(progressive, progressive.size() * 2 / 3)},
        {"jpeg-claims-65535x65535", jpegClaiming(jpeg, 65535, 65535)},
        {"jpeg-claims-4000x3000", jpegClaiming(jpeg, 4000, 3000)},
        {"jpeg-claims-0x16", jpegClaiming(jpeg, 0, 16)},
        {"jpeg-signature-then-noise", jpegJunk},
        {"png-truncated", firstBytes(png, png.size() / 2)},
        {"png-corrupt-data", flipped},
        {"png-claims-32767x32767", pngClaiming(png, 32767, 32767)},
        {"png-claims-1x1", pngClaiming(png, 1, 1)},
        {"png-claims-2147483647x1", pngClaiming(png, 0x7FFFFFFF, 1)},
        {"png-signature-then-noise", pngJunk},
        {"noise", noise},
        {"one-byte", {0xFF}},
    };
}

std::vector<std::u16string> sampleStrings() {
    std::u16string longest(255, u'W');
    std::u16string loneSurrogates = u"A";
    loneSurrogates += char16_t(0xD834);
    loneSurrogates += u"B";
    loneSurrogates += char16_t(0xDD1E);
    std::u16string withNul = u"before";
    withNul += char16_t(0);
    withNul += u"after";
    return {
        u"",
        u"Blue in Green",
        u"Miles Davis",
        u"Kind of Blue (Legacy Edition)",
        u"東京事変 — 群青日和",
        u"فيروز - كيفك انت",
        u"שלום עולם",
        u"Cafe\u0301 de\u0300 Flore",
        u"\U0001F3B5 Night \U0001F319 Drive",
        loneSurrogates,
        withNul,
        longest,
    };
}

}  // namespace lvfuzz
