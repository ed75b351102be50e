/* Text into RGBA bitmaps, with Pango and Cairo.
 *
 * What it does. Lays out one line of UTF-16 text in a font family at a pixel
 * size and draws it, filled with one colour, onto an RGBA bitmap with the
 * left end of its baseline at a given point. Any script works: fontconfig
 * supplies glyphs that the family lacks (CJK, Arabic, Hebrew, ...), and
 * right-to-left runs are shaped and ordered by Pango. Colour glyphs (emoji
 * from fonts-noto-color-emoji, a bitmap font Cairo scales down) keep their
 * own colours; the fill colour applies to the rest. The family "GillSans"
 * resolves to Gillius ADF (a Gill Sans lookalike, fonts-adf-gillius) and
 * falls back to sans-serif; the rule lives in a private fontconfig setup of
 * this layer and changes nothing for the rest of the process.
 *
 * Bitmaps are premultiplied RGBA, one byte per channel in the order R, G, B,
 * A, row 0 at the top, `bytesPerRow` apart. Text is composited over what the
 * bitmap holds; glyphs past its edges are cut.
 *
 * UTF-16 that is not well formed (a lone surrogate) is drawn with U+FFFD in
 * place of the bad unit; so is U+0000, which would end the text early.
 *
 * Who calls it. The plug-in's track-name texture (plugin/src/
 * iTunesUtilities.cpp) and tests; one thread at a time.
 *
 * Failure. drawTextLine and measureTextLine return false with `error`
 * naming the cause, and leave the bitmap as it was, when the arguments are
 * unusable (null bitmap or result, non-positive bitmap or pixel size, a row
 * length shorter than the width) or the text engine cannot start ("fontconfig
 * cannot load its configuration: install fontconfig-config"). An empty text
 * draws nothing and returns true.
 */
#ifndef LV_TEXT_H
#define LV_TEXT_H

#include <cstddef>
#include <string>

#include "lv/utf.h"

namespace lvtext {

struct TextStyle {
    const char* family = "sans-serif";
    double pixelSize = 12.0;                  // em size in pixels
    double rgba[4] = {1.0, 1.0, 1.0, 1.0};    // fill colour, straight (not premultiplied)
};

bool drawTextLine(unsigned char* rgba, int width, int height, int bytesPerRow, double x, double baselineFromTop,
                  const char16_t* text, size_t length, const TextStyle& style, std::string& error);

// The line's logical size in pixels (advance width, ascent and descent from
// the font) and how many of its characters no installed font could show.
// False when the engine cannot start or the pixel size is not positive.
struct TextMetrics {
    double width = 0, ascent = 0, descent = 0;
    int unknownGlyphs = 0;
};
bool measureTextLine(const char16_t* text, size_t length, const TextStyle& style, TextMetrics* out,
                     std::string& error);

// The UTF-8 form of UTF-16 text, lone surrogates and U+0000 replaced by U+FFFD.
using lv::utf16ToUtf8;

// The family name that `family` resolves to for Latin text here (for
// diagnostics and tests), or "" when the engine cannot start.
std::string resolvedFamily(const char* family);

}  // namespace lvtext

#endif
