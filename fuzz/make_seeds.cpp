// Writes the harnesses' seed corpora: lv-fuzz-seeds DIR makes DIR/image,
// DIR/text, DIR/frames, DIR/track and DIR/track_line, each input a file.
// Nothing here is kept in git: the pictures come from the tests' picture
// makers at build time.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "inputs.h"
#include "samples.h"

namespace fs = std::filesystem;
using namespace lvfuzz;

namespace {

bool write(const fs::path& dir, const std::string& name, const std::vector<uint8_t>& bytes) {
    std::ofstream out(dir / name, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    return bool(out);
}

std::vector<uint8_t> frame(uint8_t seed) {
    std::vector<uint8_t> f(1024);
    for (size_t i = 0; i < f.size(); ++i) f[i] = uint8_t(seed + i * 3);
    return f;
}

// One stream of three frames cut up in ways the reader must put together:
// whole frames, a frame in pieces, several frames in one write, a tail left
// over when the server goes away; and a stream that repeats a frame.
std::vector<FramesInput> frameStreams() {
    std::vector<uint8_t> stream;
    for (uint8_t s : {uint8_t(1), uint8_t(90), uint8_t(200)}) {
        const std::vector<uint8_t> f = frame(s);
        stream.insert(stream.end(), f.begin(), f.end());
    }
    auto cut = [&](std::vector<size_t> sizes, unsigned updates, uint8_t flags) {
        FramesInput in;
        in.flags = flags;
        size_t at = 0;
        for (size_t n : sizes) {
            n = std::min(n, stream.size() - at);
            in.steps.push_back({std::vector<uint8_t>(stream.begin() + long(at), stream.begin() + long(at + n)), updates});
            at += n;
        }
        return in;
    };
    // The same frame twice: a reader may show either copy.
    FramesInput repeated;
    repeated.steps = {{frame(7), 1}, {frame(7), 0}, {std::vector<uint8_t>(2, 9), 1}};
    return {
        cut({1024, 1024, 1024}, 1, 0),
        cut({1, 1023, 500, 500, 24, 1024}, 1, 0),
        cut({3072}, 3, 0),
        cut({2500}, 0, kFramesCloseAtEnd),
        cut({1024, 700}, 2, kFramesCloseAtEnd),
        cut({0, 0, 1024}, 3, 0),
        repeated,
    };
}

// A literal with the NULs inside it.
template <size_t N>
std::string withNul(const char (&text)[N]) {
    return std::string(text, N - 1);
}

// Streams of track lines as a server sends them and as a stranger on the
// port might: good lines, escapes, members to skip, lines at the bound and
// past it, lines that are not JSON, a line left without its newline.
std::vector<TrackLineInput> trackLineStreams() {
    const std::string longest = "{\"title\":\"" + std::string(4096 - 13, 'x') + "\"}\n";
    const std::vector<std::string> streams = {
        "{\"title\":\"Lumen Drift\",\"artist\":\"Lumenvortex\",\"album\":\"Demo\"}\n",
        "{\"title\":\"Say \\\"Hi\\\"\\t\\\\ Caf\xC3\xA9 \xF0\x9F\x8E\xB5\",\"artist\":\"Ana\",\"album\":\"Nuit\"}\n"
        "{\"title\":\"Second\",\"artist\":\"B\",\"album\":\"\"}\n",
        " { \"n\": -1.5e3, \"x\": [true, {\"y\": null}], \"album\":\"C\", "
        "\"title\" : \"q\\u00e9\\ud83c\\udfb5\\/\" }\r\n",
        "{\"title\":\"A\",\"n\":01}\n{\"title\":\"A\",\"n\":-0.0e+}\n{\"title\":\"B\",\"n\":0e0}\n",
        "{\"title\":\"\\ud800\"}\n{\"title\":\"\\u0000\"}\n{\"title\":\"\xC0\xAF\"}\n{}\n[]\n",
        longest + "x" + longest + "{\"title\":\"after\"}\n",
        "{\"title\":\"first\"}\n{\"title\":\"cut sh",
        withNul("{\"title\":\"a\0b\"}\n"),
        "{\"title\":\"" + std::string(4096 - 12, 'x') + "\"}",   // 4096 bytes without the newline: one past the bound
    };
    std::vector<TrackLineInput> inputs;
    uint8_t cut = 0;
    for (const std::string& stream : streams) {
        TrackLineInput in;
        in.cut = cut;
        cut = uint8_t(cut * 3 + 1);
        in.titleLength = uint16_t(stream.size() / 3);
        in.artistLength = uint16_t(stream.size() / 3);
        in.stream = stream;
        inputs.push_back(in);
    }
    // Tags to write: a NUL, DEL and control characters, bytes that are not UTF-8.
    TrackLineInput tags;
    tags.titleLength = 5;
    tags.artistLength = 4;
    tags.stream = withNul("a\0b\x7F\n\xFF\xC0\xAF\x01\"\\/ end");
    inputs.push_back(tags);
    return inputs;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: lv-fuzz-seeds DIR\n");
        return 2;
    }
    const fs::path root = argv[1];
    for (const char* target : {"image", "text", "frames", "track", "track_line"}) fs::create_directories(root / target);
    bool ok = true;

    std::vector<Sample> covers = goodCovers();
    for (Sample& s : hostileCovers()) covers.push_back(std::move(s));
    for (const Sample& c : covers) ok &= write(root / "image", c.name, c.bytes);

    const std::vector<std::u16string> strings = sampleStrings();
    for (size_t i = 0; i < strings.size(); ++i)
        ok &= write(root / "text", "string-" + std::to_string(i), writeText(strings[i], 18, int(i % kFamilyCount)));
    ok &= write(root / "text", "size-zero", writeText(u"refused", 0));

    const std::vector<FramesInput> streams = frameStreams();
    for (size_t i = 0; i < streams.size(); ++i)
        ok &= write(root / "frames", "stream-" + std::to_string(i), writeFrames(streams[i]));

    // Each cover with a record of its own; every flag turns up somewhere.
    for (size_t i = 0; i < covers.size(); ++i) {
        TrackInput t;
        t.flags = uint8_t(i % 16);
        for (int f = 0; f < 3; ++f) {
            t.text[f] = strings[(i + size_t(f) * 4) % strings.size()];
            t.declared[f] = uint16_t(t.text[f].size());
        }
        if (i == 3) t.declared[2] = 300;   // a damaged length, past the array
        t.cover = covers[i].bytes;
        ok &= write(root / "track", "track-" + covers[i].name, writeTrack(t));
    }
    const std::vector<TrackLineInput> lines = trackLineStreams();
    for (size_t i = 0; i < lines.size(); ++i)
        ok &= write(root / "track_line", "lines-" + std::to_string(i), writeTrackLine(lines[i]));
    if (!ok) {
        std::fprintf(stderr, "lv-fuzz-seeds: cannot write the corpora under %s\n", root.c_str());
        return 1;
    }
    return 0;
}
