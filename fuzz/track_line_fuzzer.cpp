// The track line, the text a Corvane server sends beside its frames
// (audio/include/track_line.h), from both ends. The player reads it from a
// port anything may listen on, so the reader gets any bytes; the server
// writes it from tags, which may hold any bytes too.
//
// For each input:
//   - the stream, cut into lines by a TrackLineReader fed whole and fed in
//     the input's pieces, gives the same lines, and exactly the stream's
//     newline-ended lines that fit the bound (a longer one is dropped whole);
//   - each line read, and the whole stream, through parseTrackLine: a
//     record it takes has UTF-8 fields without U+0000, and written again it
//     reads back as the same record (cut, at most, where a field is long);
//   - the stream's bytes as the three fields of a record to write: one line
//     within the bound, ending in its one newline, in valid UTF-8, that the
//     reader takes back.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_check.h"
#include "inputs.h"
#include "track_line.h"

namespace {

// Well-formed UTF-8 (no overlong forms, surrogates or values past U+10FFFF).
bool validUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        const auto c = static_cast<unsigned char>(s[i]);
        const int extra = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : -1;
        if (extra < 0 || s.size() - i < size_t(extra) + 1) return false;
        uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            const auto b = static_cast<unsigned char>(s[i + size_t(k)]);
            if ((b & 0xC0) != 0x80) return false;
            cp = (cp << 6) | (b & 0x3F);
        }
        static const uint32_t kMin[4] = {0, 0x80, 0x800, 0x10000};
        if (cp < kMin[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += size_t(extra) + 1;
    }
    return true;
}

bool startsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

// Fields short enough that no escaping makes them cut: read back whole.
constexpr size_t kNeverCut = 160;

void checkRecord(const lv::TrackMeta& meta) {
    for (const std::string* field : {&meta.title, &meta.artist, &meta.album}) {
        FUZZ_CHECK(validUtf8(*field));
        FUZZ_CHECK(field->find('\0') == std::string::npos);
    }
    lv::TrackMeta back;
    const std::string again = trackLine(meta);
    FUZZ_CHECK(parseTrackLine(again, back));
    const std::pair<const std::string*, const std::string*> pairs[] = {
        {&meta.title, &back.title}, {&meta.artist, &back.artist}, {&meta.album, &back.album}};
    for (const auto& [was, now] : pairs) {
        FUZZ_CHECK(startsWith(*was, *now));
        if (was->size() <= kNeverCut) FUZZ_CHECK(*was == *now);
    }
}

void parse(std::string_view line) {
    lv::TrackMeta meta;
    meta.title = "untouched";
    if (parseTrackLine(line, meta)) {
        FUZZ_CHECK(line.size() + (line.empty() || line.back() != '\n' ? 1 : 0) <= TRACK_LINE_MAX);
        checkRecord(meta);
    } else {
        FUZZ_CHECK(meta.title == "untouched");
    }
}

// What the reader must give: each newline-ended line that fits.
std::vector<std::string> expectedLines(const std::string& stream) {
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = stream.find('\n', start)) != std::string::npos; start = end + 1)
        if (end - start < TRACK_LINE_MAX) lines.push_back(stream.substr(start, end - start));
    return lines;
}

std::vector<std::string> readLines(const std::string& stream, uint8_t cut) {
    TrackLineReader reader;
    std::vector<std::string> lines;
    auto take = [&](std::string_view line) { lines.emplace_back(line); };
    // Piece sizes from 1 up, changing with each piece (0: the whole stream).
    uint32_t state = cut;
    for (size_t at = 0; at < stream.size();) {
        size_t piece = stream.size() - at;
        if (cut) {
            state = state * 1103515245u + 12345u;
            piece = std::min(piece, size_t(1 + (state >> 16) % (2u * cut)));
        }
        reader.feed(stream.data() + at, piece, take);
        at += piece;
    }
    return lines;
}

void checkWriter(const lvfuzz::TrackLineInput& in) {
    lv::TrackMeta meta;
    const std::string& s = in.stream;
    const size_t titleEnd = std::min<size_t>(in.titleLength, s.size());
    const size_t artistEnd = std::min<size_t>(titleEnd + in.artistLength, s.size());
    meta.title = s.substr(0, titleEnd);
    meta.artist = s.substr(titleEnd, artistEnd - titleEnd);
    meta.album = s.substr(artistEnd);
    const std::string line = trackLine(meta);
    FUZZ_CHECK(line.size() <= TRACK_LINE_MAX);
    FUZZ_CHECK(line.find('\n') == line.size() - 1);
    FUZZ_CHECK(validUtf8(line));
    lv::TrackMeta back;
    FUZZ_CHECK(parseTrackLine(line, back));
    checkRecord(back);
    // Text that needs no replacing, short enough not to be cut, comes back as it was.
    const std::pair<const std::string*, const std::string*> pairs[] = {
        {&meta.title, &back.title}, {&meta.artist, &back.artist}, {&meta.album, &back.album}};
    for (const auto& [was, now] : pairs)
        if (was->size() <= kNeverCut && validUtf8(*was) && was->find('\0') == std::string::npos)
            FUZZ_CHECK(*was == *now);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const lvfuzz::TrackLineInput in = lvfuzz::readTrackLine(data, size);
    const std::vector<std::string> whole = readLines(in.stream, 0);
    FUZZ_CHECK(whole == expectedLines(in.stream));
    FUZZ_CHECK(readLines(in.stream, in.cut) == whole);
    for (const std::string& line : whole) parse(line);
    parse(in.stream);
    checkWriter(in);
    return 0;
}
