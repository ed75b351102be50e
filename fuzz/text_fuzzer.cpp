// Host strings (UTF-16, anything a record may hold) through the UTF-8
// conversion and the text layer's layout and drawing, onto a bitmap the size
// of the track-name texture.
//
// Invariants: the UTF-8 is well formed and says what the UTF-16 said (bad
// units as U+FFFD); drawing stays inside the bitmap, leaves the bytes past
// each row's end alone and keeps the pixels premultiplied; a size the engine
// must refuse changes nothing.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "inputs.h"
#include "lv/text.h"

namespace {

constexpr int kWidth = 512, kHeight = 128;
constexpr int kRowGuard = 16;   // bytes past each row that drawing must not touch
constexpr uint8_t kGuardByte = 0xA5;

// The code points that well-formed UTF-8 spells, or false.
bool decodeUtf8(const std::string& s, std::u32string* out) {
    for (size_t i = 0; i < s.size();) {
        const uint8_t b = uint8_t(s[i]);
        int extra = b < 0x80 ? 0 : (b >> 5) == 6 ? 1 : (b >> 4) == 14 ? 2 : (b >> 3) == 30 ? 3 : -1;
        if (extra < 0 || i + size_t(extra) > s.size() - 1) return false;   // cut short
        uint32_t cp = extra == 0 ? b : extra == 1 ? (b & 0x1F) : extra == 2 ? (b & 0x0F) : (b & 0x07);
        for (int k = 1; k <= extra; ++k) {
            const uint8_t c = uint8_t(s[i + size_t(k)]);
            if ((c >> 6) != 2) return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        static const uint32_t kSmallest[] = {0, 0x80, 0x800, 0x10000};
        if (cp < kSmallest[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        out->push_back(cp);
        i += size_t(extra) + 1;
    }
    return true;
}

// What the conversion should say: pairs joined, lone surrogates and U+0000
// as U+FFFD.
std::u32string expectedCodePoints(const std::u16string& t) {
    std::u32string out;
    for (size_t i = 0; i < t.size(); ++i) {
        const uint32_t u = t[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < t.size() && t[i + 1] >= 0xDC00 && t[i + 1] <= 0xDFFF) {
            out.push_back(0x10000 + ((u - 0xD800) << 10) + (uint32_t(t[i + 1]) - 0xDC00));
            ++i;
        } else {
            out.push_back((u >= 0xD800 && u <= 0xDFFF) || u == 0 ? 0xFFFD : u);
        }
    }
    return out;
}

void checkConversion(const std::u16string& text) {
    const std::string utf8 = lvtext::utf16ToUtf8(text.data(), text.size());
    std::u32string decoded;
    FUZZ_CHECK(decodeUtf8(utf8, &decoded));
    FUZZ_CHECK(decoded == expectedCodePoints(text));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const lvfuzz::TextInput in = lvfuzz::readText(data, size);
    checkConversion(in.text);

    lvtext::TextStyle style;
    style.family = in.family;
    style.pixelSize = in.pixelSize;
    style.rgba[3] = in.alpha / 255.0;

    lvtext::TextMetrics metrics;
    std::string error;
    if (lvtext::measureTextLine(in.text.data(), in.text.size(), style, &metrics, error)) {
        FUZZ_CHECK(in.pixelSize > 0);
        FUZZ_CHECK(metrics.width >= 0 && metrics.ascent >= 0 && metrics.descent >= 0);
        FUZZ_CHECK(metrics.unknownGlyphs >= 0 && size_t(metrics.unknownGlyphs) <= in.text.size());
    }

    const int bytesPerRow = kWidth * 4 + kRowGuard;
    std::vector<uint8_t> bitmap(size_t(bytesPerRow) * kHeight, 0);
    for (int y = 0; y < kHeight; ++y) std::memset(&bitmap[size_t(y) * bytesPerRow + kWidth * 4], kGuardByte, kRowGuard);
    const std::vector<uint8_t> before = bitmap;

    const bool drawn = lvtext::drawTextLine(bitmap.data(), kWidth, kHeight, bytesPerRow, in.x, in.baselineFromTop,
                                            in.text.data(), in.text.size(), style, error);
    if (!drawn) {
        FUZZ_CHECK(bitmap == before);
        FUZZ_CHECK(!error.empty());
        return 0;
    }
    FUZZ_CHECK(in.pixelSize > 0);
    for (int y = 0; y < kHeight; ++y) {
        const uint8_t* row = &bitmap[size_t(y) * bytesPerRow];
        for (int g = 0; g < kRowGuard; ++g) FUZZ_CHECK(row[kWidth * 4 + g] == kGuardByte);
        for (int x = 0; x < kWidth; ++x) {
            const uint8_t* p = row + x * 4;
            FUZZ_CHECK(p[0] <= p[3] && p[1] <= p[3] && p[2] <= p[3]);
        }
    }
    return 0;
}
