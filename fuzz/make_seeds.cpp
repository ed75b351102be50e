// Writes the harnesses' seed corpora: lv-fuzz-seeds DIR makes DIR/image,
// DIR/text, DIR/frames and DIR/track, each input a file. Nothing here is
// kept in git: the pictures come from the tests' picture makers at build time.
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

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: lv-fuzz-seeds DIR\n");
        return 2;
    }
    const fs::path root = argv[1];
    for (const char* target : {"image", "text", "frames", "track"}) fs::create_directories(root / target);
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
    if (!ok) {
        std::fprintf(stderr, "lv-fuzz-seeds: cannot write the corpora under %s\n", root.c_str());
        return 1;
    }
    return 0;
}
