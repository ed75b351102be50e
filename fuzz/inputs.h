// The byte layouts of the harnesses' inputs, shared by the harnesses (which
// read them) and the seed generator (which writes them). Reading never fails:
// bytes past the end read as zero, so every input is a valid one.
//
//   image   the cover bytes as they are
//   text    [pixel size][x][baseline][family][alpha] then UTF-16LE units
//   frames  [flags] then steps of [u16 length][u8 updates][length bytes]
//   track   [flags][u16 length x 3: name, artist, album][units of each,
//           at most 255][cover bytes: the rest]
//   track_line  [u8 cut][u16 title length][u16 artist length][the stream];
//           the writer's title, artist and album are the stream's first
//           bytes, the next ones and the rest
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace lvfuzz {

class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : mData(data), mLeft(size) {}
    size_t left() const { return mLeft; }
    uint8_t u8() {
        if (mLeft == 0) return 0;
        --mLeft;
        return *mData++;
    }
    uint16_t u16() {
        const uint16_t low = u8();
        return uint16_t(low | (u8() << 8));
    }
    std::vector<uint8_t> bytes(size_t n) {
        n = n < mLeft ? n : mLeft;
        std::vector<uint8_t> out(mData, mData + n);
        mData += n;
        mLeft -= n;
        return out;
    }
    std::vector<uint8_t> rest() { return bytes(mLeft); }

private:
    const uint8_t* mData;
    size_t mLeft;
};

class ByteWriter {
public:
    std::vector<uint8_t> out;
    void u8(unsigned v) { out.push_back(uint8_t(v)); }
    void u16(unsigned v) {
        u8(v & 0xFF);
        u8((v >> 8) & 0xFF);
    }
    void units(const std::u16string& s) {
        for (char16_t c : s) u16(c);
    }
    void bytes(const std::vector<uint8_t>& b) { out.insert(out.end(), b.begin(), b.end()); }
};

// ---------------------------------------------------------------- text

struct TextInput {
    double pixelSize = 18;     // 0 for a size the engine must refuse
    double x = 1;
    double baselineFromTop = 54;
    const char* family = "GillSans";
    uint8_t alpha = 255;
    std::u16string text;
};

// Families: the track name's, the generic one, none, one that is not there.
inline const char* const kFamilies[] = {"GillSans", "sans-serif", "", "No Such Face", "DejaVu Serif"};
constexpr int kFamilyCount = int(sizeof kFamilies / sizeof kFamilies[0]);
constexpr size_t kMaxTextUnits = 1024;

inline TextInput readText(const uint8_t* data, size_t size) {
    ByteReader r(data, size);
    TextInput in;
    in.pixelSize = r.u8() % 65;                  // 0 .. 64 pixels
    in.x = double(r.u8()) - 64;                  // -64 .. 191
    in.baselineFromTop = double(r.u8()) - 32;    // -32 .. 223
    in.family = kFamilies[r.u8() % kFamilyCount];
    in.alpha = r.u8();
    while (r.left() >= 2 && in.text.size() < kMaxTextUnits) in.text.push_back(char16_t(r.u16()));
    return in;
}

inline std::vector<uint8_t> writeText(const std::u16string& text, unsigned pixelSize = 18, int family = 0) {
    ByteWriter w;
    w.u8(pixelSize);
    w.u8(64 + 1);
    w.u8(32 + 54);
    w.u8(unsigned(family));
    w.u8(255);
    w.units(text);
    return w.out;
}

// ---------------------------------------------------------------- frames

enum : uint8_t { kFramesCloseAtEnd = 1 };

struct FrameStep {
    std::vector<uint8_t> bytes;   // sent in one write
    unsigned updates = 0;         // update() calls after it, 0 to 3
};

struct FramesInput {
    uint8_t flags = 0;
    std::vector<FrameStep> steps;
};

constexpr size_t kMaxStepBytes = 4095;

inline FramesInput readFrames(const uint8_t* data, size_t size) {
    ByteReader r(data, size);
    FramesInput in;
    in.flags = r.u8();
    while (r.left() > 0) {
        FrameStep step;
        const size_t length = r.u16() % (kMaxStepBytes + 1);
        step.updates = r.u8() % 4;
        step.bytes = r.bytes(length);
        in.steps.push_back(std::move(step));
    }
    return in;
}

inline std::vector<uint8_t> writeFrames(const FramesInput& in) {
    ByteWriter w;
    w.u8(in.flags);
    for (const FrameStep& step : in.steps) {
        w.u16(unsigned(step.bytes.size()));
        w.u8(step.updates);
        w.bytes(step.bytes);
    }
    return w.out;
}

// ---------------------------------------------------------------- track

enum : uint8_t {
    kTrackChange = 1,       // "ctrk" instead of "vply"
    kTrackRender = 2,       // one render message afterwards (the overlay draws)
    kTrackCoverFails = 4,   // the host answers "covr" with an error
    kTrackRebuild = 8,      // the q key: new context, textures rebuilt from the last play
};

struct TrackInput {
    uint8_t flags = 0;
    uint16_t declared[3] = {0, 0, 0};   // element 0 of name, artist, album (may exceed 255)
    std::u16string text[3];
    std::vector<uint8_t> cover;
};

inline TrackInput readTrack(const uint8_t* data, size_t size) {
    ByteReader r(data, size);
    TrackInput in;
    in.flags = r.u8();
    for (uint16_t& d : in.declared) d = r.u16();
    for (int i = 0; i < 3; ++i)
        for (unsigned n = 0; n < in.declared[i] && n < 255 && r.left() >= 2; ++n) in.text[i].push_back(char16_t(r.u16()));
    in.cover = r.rest();
    return in;
}

inline std::vector<uint8_t> writeTrack(const TrackInput& in) {
    ByteWriter w;
    w.u8(in.flags);
    for (uint16_t d : in.declared) w.u16(d);
    for (const std::u16string& t : in.text) w.units(t.substr(0, 255));
    w.bytes(in.cover);
    return w.out;
}

// ---------------------------------------------------------------- track line

struct TrackLineInput {
    uint8_t cut = 0;   // how the stream is cut into pieces for the reader
    uint16_t titleLength = 0, artistLength = 0;
    std::string stream;
};

inline TrackLineInput readTrackLine(const uint8_t* data, size_t size) {
    ByteReader r(data, size);
    TrackLineInput in;
    in.cut = r.u8();
    in.titleLength = r.u16();
    in.artistLength = r.u16();
    const std::vector<uint8_t> rest = r.rest();
    in.stream.assign(rest.begin(), rest.end());
    return in;
}

inline std::vector<uint8_t> writeTrackLine(const TrackLineInput& in) {
    ByteWriter w;
    w.u8(in.cut);
    w.u16(in.titleLength);
    w.u16(in.artistLength);
    w.bytes(std::vector<uint8_t>(in.stream.begin(), in.stream.end()));
    return w.out;
}

}  // namespace lvfuzz
