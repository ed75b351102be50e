/* UTF-16 to UTF-8, for text that crosses from the host interface (UTF-16
 * strings) to the text engine and to messages (UTF-8), and tags cut to a
 * length people read. Header-only and dependency-free: the plug-in's text
 * layer, the player and the MPRIS reader use it.
 *
 * Lone surrogates become U+FFFD (they are not text), and so does U+0000 (it
 * would end the string early for C APIs). A null pointer gives "".
 */
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace lv {

// Longer titles, artists and albums are cut short by the libraries and
// players that show them; a tag of megabytes (a hostile file, a player's
// bug) would otherwise go whole into window titles and X requests.
constexpr size_t kMaxTagBytes = 120;

// A tag cut to kMaxTagBytes, at a word where there is one near the end and
// never inside a character, then " …".
inline std::string boundTag(const std::string& tag) {
    if (tag.size() <= kMaxTagBytes) return tag;
    size_t end = kMaxTagBytes;
    while (end > 0 && (static_cast<unsigned char>(tag[end]) & 0xC0) == 0x80) --end;   // a character's first byte
    const size_t space = tag.rfind(' ', end);
    if (space != std::string::npos && space >= end / 2) end = space;
    while (end > 0 && tag[end - 1] == ' ') --end;
    return tag.substr(0, end) + " \xE2\x80\xA6";   // " …"
}

inline void appendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | (cp >> 6));
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | (cp >> 12));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | (cp >> 18));
        out += char(0x80 | ((cp >> 12) & 0x3F));
        out += char(0x80 | ((cp >> 6) & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

inline std::string utf16ToUtf8(const char16_t* text, size_t length) {
    std::string out;
    if (!text) return out;
    out.reserve(length * 3);
    for (size_t i = 0; i < length; ++i) {
        uint32_t u = text[i];
        if (u >= 0xD800 && u <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            appendUtf8(out, 0x10000 + ((u - 0xD800) << 10) + (uint32_t(text[i + 1]) - 0xDC00));
            ++i;
        } else if ((u >= 0xD800 && u <= 0xDFFF) || u == 0) {
            appendUtf8(out, 0xFFFD);
        } else {
            appendUtf8(out, u);
        }
    }
    return out;
}

}  // namespace lv
