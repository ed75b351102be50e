// The track line: what a Corvane server says is playing, sent on its track
// channel (127.0.0.1, the frame port + TRACK_PORT_OFFSET) as one line of
// UTF-8 JSON, at connect and at every track change:
//
//   {"title":"Say \"Hi\"","artist":"Ana","album":"Nuit"}\n
//
// The server writes it with trackLine(); the player reads it with a
// TrackLineReader and parseTrackLine(). Whatever sits on that port may not be
// a corvane at all, so the reading side takes every byte as hostile: lines
// are bounded, and a line that is not exactly what it should be is ignored.
#pragma once

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

#include "lv/media.h"

// The track channel listens this far above the frame port.
constexpr int TRACK_PORT_OFFSET = 1;
// The longest line, newline included: the writer cuts fields to fit in it,
// and readers drop anything longer.
constexpr size_t TRACK_LINE_MAX = 4096;

// The line for `meta`'s title, artist and album, newline included: quotes,
// backslashes and control characters escaped, bytes that are not UTF-8 and
// U+0000 replaced by U+FFFD, fields too long cut at a character boundary.
// parseTrackLine() reads it back.
std::string trackLine(const lv::TrackMeta& meta);

// One line (with or without its newline) into `out`'s title, artist and
// album; the rest of `out` is cleared. False, `out` untouched, unless it is
// at most TRACK_LINE_MAX bytes with its newline, and a JSON object, valid
// UTF-8, whose "title" is a string; "artist" and "album" may be missing
// (empty) but not of another type; other members are skipped, and must be
// JSON too (numbers by JSON's grammar). Never reads past `line`.
bool parseTrackLine(std::string_view line, lv::TrackMeta& out);

// Cuts a byte stream into lines, holding at most TRACK_LINE_MAX bytes: a
// line that grows past that is dropped up to its newline.
class TrackLineReader {
public:
    void feed(const char* data, size_t size, const std::function<void(std::string_view line)>& onLine);
    void reset() {
        mLine.clear();
        mSkipping = false;
    }

private:
    std::string mLine;
    bool mSkipping = false;   // inside a line too long to keep
};
