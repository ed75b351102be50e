// Text into RGBA bitmaps in the page: lv/text.h over the browser's canvas
// 2D text (web_platform.js), which shapes every script the visitor's fonts
// cover, right-to-left runs and colour emoji included. The browser draws the
// line alone, straight alpha, into a scratch bitmap; it is premultiplied and
// composited over the caller's bitmap here, as the native layer composites.
#include <algorithm>
#include <vector>

#include "lv/text.h"

extern "C" {
// web_platform.js. Draws `utf8` into out (width x height straight RGBA,
// tightly packed, cleared first); returns 0 when no 2D canvas can be made.
int lv_web_text_draw(const char* utf8, const char* family, double pixelSize, const double* rgba, int width,
                     int height, double x, double baseline, unsigned char* out);
// The advance width, ascent and descent; 0 without a 2D canvas.
int lv_web_text_measure(const char* utf8, const char* family, double pixelSize, double* metrics);
}

namespace lvtext {

namespace {

// The overlay's family: the Gill Sans lookalike where the visitor has one,
// else the page's sans-serif, as the native layer falls back.
std::string cssFamily(const char* family) {
    const std::string f = family && *family ? family : "sans-serif";
    if (f == "GillSans") return "'Gill Sans', 'Gillius ADF', sans-serif";
    if (f == "sans-serif" || f == "serif" || f == "monospace") return f;
    return "'" + f + "', sans-serif";
}

bool badArguments(const unsigned char* rgba, int width, int height, int bytesPerRow, const TextStyle& style,
                  std::string& error) {
    if (!rgba) error = "no bitmap to draw into";
    else if (width <= 0 || height <= 0) error = "the bitmap has no pixels: give it a positive size";
    else if (bytesPerRow < width * 4) error = "the bitmap's rows are shorter than its width";
    else if (!(style.pixelSize > 0)) error = "the text size is not positive";
    else return false;
    return true;
}

}  // namespace

bool drawTextLine(unsigned char* rgba, int width, int height, int bytesPerRow, double x, double baselineFromTop,
                  const char16_t* text, size_t length, const TextStyle& style, std::string& error) {
    if (badArguments(rgba, width, height, bytesPerRow, style, error)) return false;
    if (!text || length == 0) return true;
    const std::string utf8 = utf16ToUtf8(text, length);
    std::vector<unsigned char> line(size_t(width) * size_t(height) * 4);
    if (!lv_web_text_draw(utf8.c_str(), cssFamily(style.family).c_str(), style.pixelSize, style.rgba, width, height, x,
                          baselineFromTop, line.data())) {
        error = "the browser gives no 2D canvas for text";
        return false;
    }
    for (int y = 0; y < height; ++y) {
        unsigned char* dst = rgba + size_t(y) * size_t(bytesPerRow);
        const unsigned char* src = line.data() + size_t(y) * size_t(width) * 4;
        for (int i = 0; i < width; ++i, dst += 4, src += 4) {
            const unsigned a = src[3];
            if (a == 0) continue;
            for (int c = 0; c < 3; ++c) dst[c] = uint8_t((src[c] * a + 127) / 255 + dst[c] * (255 - a) / 255);
            dst[3] = uint8_t(a + dst[3] * (255 - a) / 255);
        }
    }
    return true;
}

bool measureTextLine(const char16_t* text, size_t length, const TextStyle& style, TextMetrics* out,
                     std::string& error) {
    if (!out) {
        error = "nowhere to put the measures";
        return false;
    }
    if (!(style.pixelSize > 0)) {
        error = "the text size is not positive";
        return false;
    }
    const std::string utf8 = text ? utf16ToUtf8(text, length) : std::string();
    double m[3] = {0, 0, 0};
    if (!lv_web_text_measure(utf8.c_str(), cssFamily(style.family).c_str(), style.pixelSize, m)) {
        error = "the browser gives no 2D canvas for text";
        return false;
    }
    *out = TextMetrics{m[0], m[1], m[2], 0};   // the browser does not say which glyphs it lacks
    return true;
}

std::string resolvedFamily(const char* family) { return cssFamily(family); }

}  // namespace lvtext
