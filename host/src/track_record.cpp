#include "track_record.h"

#include "lv/utf.h"

#include <cstring>
#include <vector>

namespace {

std::vector<char32_t> decodeUtf8(const std::string& s) {
    static const char32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
    std::vector<char32_t> out;
    const auto* p = reinterpret_cast<const unsigned char*>(s.data());
    const size_t n = s.size();
    size_t i = 0;
    while (i < n) {
        unsigned char c = p[i];
        int extra;
        char32_t cp;
        if (c < 0x80) {
            out.push_back(c);
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1;
            cp = c & 0x1F;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2;
            cp = c & 0x0F;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3;
            cp = c & 0x07;
        } else {
            out.push_back(0xFFFD);
            ++i;
            continue;
        }
        bool ok = i + extra < n;
        for (int k = 1; ok && k <= extra; ++k) {
            if ((p[i + k] & 0xC0) != 0x80) ok = false;
            else cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (!ok || cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
            out.push_back(0xFFFD);   // resynchronise on the next byte
            ++i;
            continue;
        }
        out.push_back(cp);
        i += size_t(extra) + 1;
    }
    return out;
}

}  // namespace

void setUniStr255(ITUniStr255& out, const std::string& utf8) {
    std::memset(out, 0, sizeof(ITUniStr255));
    UniChar len = 0;
    for (char32_t cp : decodeUtf8(utf8)) {
        if (cp >= 0x10000) {
            if (len + 2 > 255) break;
            cp -= 0x10000;
            out[1 + len++] = UniChar(0xD800 + (cp >> 10));
            out[1 + len++] = UniChar(0xDC00 + (cp & 0x3FF));
        } else {
            if (len + 1 > 255) break;
            out[1 + len++] = UniChar(cp);
        }
    }
    out[0] = len;
}

std::string uniStr255ToUtf8(const ITUniStr255& in) {
    return lv::utf16ToUtf8(reinterpret_cast<const char16_t*>(&in[1]), in[0] > 255 ? 255 : in[0]);
}

void makeTrackRecord(const lv::TrackMeta& meta, ITTrackInfo& out) {
    std::memset(&out, 0, sizeof out);
    out.recordLength = sizeof(ITTrackInfo);
    // Cut as the window title is, at a word, rather than at the record's 255 units.
    setUniStr255(out.name, lv::boundTag(meta.title));
    std::string file = meta.path;
    size_t slash = file.find_last_of('/');
    if (slash != std::string::npos) file = file.substr(slash + 1);
    setUniStr255(out.fileName, file);
    setUniStr255(out.artist, lv::boundTag(meta.artist));
    setUniStr255(out.album, lv::boundTag(meta.album));
    setUniStr255(out.genre, meta.genre);
    out.trackNumber = UInt32(meta.trackNumber > 0 ? meta.trackNumber : 0);
    out.year = UInt16(meta.year > 0 && meta.year < 65536 ? meta.year : 0);
    out.totalTimeInMS = meta.durationMs > 0 ? UInt32(meta.durationMs) : 0;
    out.stopTimeInMS = out.totalTimeInMS;
    out.sampleRateFixed = UInt32(lv::kMediaSampleRate) << 16;
}
