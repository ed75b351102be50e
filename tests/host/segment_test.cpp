// A render in parts (--segment K/N) and the parts put together (--join): the
// parts' frames and sound are the whole render's, byte for byte; the joined
// video is the whole render's length with its tags and chapters; parts that
// do not make one render are refused; a part already there is not drawn
// again.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "audio_constants.h"
#include "program_test_support.h"

namespace fs = std::filesystem;
using lvtest::run;
using lvtest::TempDir;

namespace {

std::string player() { return lvtest::binary("lumenvortex"); }

using lvtest::probe;

std::string frameFile(const std::string& folder, long long i) {
    char name[32];
    std::snprintf(name, sizeof name, "/frame-%06lld.png", i);
    return folder + name;
}

// Bursts of a falling low tone over a high one that comes and goes: beats
// for the sound sections, whose reactions are most of the scene's random
// draws.
void writeBeats(const std::string& path, double seconds, double every) {
    std::vector<float> stereo(size_t(seconds * SAMPLE_RATE) * 2);
    for (size_t i = 0; i < stereo.size() / 2; ++i) {
        const double t = double(i) / SAMPLE_RATE, inBeat = std::fmod(t, every);
        const double low = inBeat < 0.12 ? 0.7 * std::sin(2 * M_PI * (120 - 300 * inBeat) * t) : 0.0;
        const double high = std::fmod(t, 1.3) < 0.3 ? 0.2 * std::sin(2 * M_PI * 880 * t) : 0.0;
        stereo[2 * i] = stereo[2 * i + 1] = float(low + high);
    }
    lvtest::writeWav(path, stereo);
}

// A WAV's samples after its header.
std::string wavData(const std::string& path) { return lvtest::readFile(path).substr(44); }

std::vector<float> soundOf(const std::string& file) {
    const std::string bytes = run({"/usr/bin/ffmpeg", "-v", "error", "-i", file, "-f", "f32le", "-ac", "2", "-"}).out;
    std::vector<float> samples(bytes.size() / 4);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 4);
    return samples;
}

// Two tracks, a track change inside part 2 of 3.
struct Music {
    TempDir dir;
    std::vector<std::string> tracks;
    Music() {
        writeBeats(dir / "one.wav", 2.5, 0.5);
        writeBeats(dir / "two.wav", 2.0, 0.35);
        tracks = {dir / "one.wav", dir / "two.wav"};
    }
    lvtest::RunResult render(std::vector<std::string> args, const std::vector<std::string>& env = {}) const {
        args.insert(args.begin(), {player(), "--size", "160x90", "--fps", "30"});
        args.insert(args.end(), tracks.begin(), tracks.end());
        return run(args, env);
    }
};

}  // namespace

// Each part steps to its first frame without drawing, then draws exactly
// the whole render's frames, numbered as there, and exactly its share of
// the sound: the parts' PNGs and WAVs laid end to end are the whole
// render's, for every way of drawing.
TEST(Segments, PartsDrawTheWholeRendersFramesAndSound) {
    Music music;
    const TempDir& dir = music.dir;
    for (const std::string renderer : {"batched", "gles"}) {
        const std::string whole = dir / (renderer + "-whole");
        auto r = music.render({"--renderer", renderer, "--frames", whole});
        ASSERT_EQ(r.status, 0) << r.err;
        long long frames = 0;
        while (fs::exists(frameFile(whole, frames))) ++frames;
        ASSERT_EQ(frames, 135);   // 4.5 s at 30 fps
        std::string sound;
        long long next = 0;
        for (int k = 1; k <= 3; ++k) {
            const std::string part = dir / (renderer + "-" + std::to_string(k));
            r = music.render({"--renderer", renderer, "--frames", part, "--segment", std::to_string(k) + "/3"});
            ASSERT_EQ(r.status, 0) << r.err;
            EXPECT_FALSE(fs::exists(frameFile(part, next - 1))) << "part " << k << " drew a frame before its own";
            for (; fs::exists(frameFile(part, next)); ++next)
                ASSERT_EQ(lvtest::readFile(frameFile(part, next)), lvtest::readFile(frameFile(whole, next)))
                    << renderer << " part " << k << ", frame " << next;
            EXPECT_EQ(next, k * frames / 3) << renderer << ": part " << k << " ends elsewhere";
            sound += wavData(part + "/audio.wav");
        }
        EXPECT_TRUE(sound == wavData(whole + "/audio.wav")) << renderer << ": the parts' sound is not the whole's";
    }
}

// Three parts joined: the whole render's frame count, length, tags and
// chapters, its sound within what a second AAC encoding changes, and no
// trace of the parts' own tag. A part already there is not drawn again.
TEST(Segments, JoinedPartsAreTheWholeVideo) {
    Music music;
    const TempDir& dir = music.dir;
    auto r = music.render({"--render", dir / "whole.mp4"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> parts;
    for (int k = 1; k <= 3; ++k) {
        parts.push_back(dir / ("part" + std::to_string(k) + ".mp4"));
        r = music.render({"--render", parts.back(), "--segment", std::to_string(k) + "/3"});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    EXPECT_NE(probe(parts[1], "format_tags=description").find("segment 2/3"), std::string::npos);
    for (const std::string& part : parts)   // each starts on a keyframe, so the join can cut there
        EXPECT_EQ(run({"/usr/bin/ffprobe", "-v", "error", "-select_streams", "v", "-read_intervals", "%+#1",
                       "-show_entries", "frame=key_frame", "-of", "default=noprint_wrappers=1", part})
                      .out,
                  "key_frame=1\n")
            << part;
    // Run again, part 2 is there: nothing is drawn and the file stays.
    struct stat before {}, after {};
    ASSERT_EQ(stat(parts[1].c_str(), &before), 0);
    r = music.render({"--render", parts[1], "--segment", "2/3"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("part 2/3 is there already"), std::string::npos) << r.out;
    ASSERT_EQ(stat(parts[1].c_str(), &after), 0);
    EXPECT_EQ(before.st_mtim.tv_nsec, after.st_mtim.tv_nsec);
    EXPECT_EQ(before.st_ino, after.st_ino);

    const std::string joined = dir / "joined.mp4";
    r = run({player(), "--join", joined, parts[0], parts[1], parts[2]});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string frames = "stream=codec_type,nb_read_frames";
    EXPECT_EQ(probe(joined, frames), probe(dir / "whole.mp4", frames));
    EXPECT_EQ(probe(joined, "format_tags=title,artist,comment,description"),
              probe(dir / "whole.mp4", "format_tags=title,artist,comment,description"));
    EXPECT_EQ(probe(joined, "chapter=start,end:chapter_tags=title"),
              probe(dir / "whole.mp4", "chapter=start,end:chapter_tags=title"));
    const std::vector<float> a = soundOf(dir / "whole.mp4"), b = soundOf(joined);
    ASSERT_EQ(a.size(), b.size());
    double error = 0, signal = 0;
    for (size_t i = 0; i < a.size(); ++i) error += (a[i] - b[i]) * (a[i] - b[i]), signal += a[i] * a[i];
    EXPECT_GT(10 * std::log10(signal / error), 30.0) << "the joined sound is not the whole render's";
}

// Parts that do not make one render, and K and N that do not fit: a
// sentence, exit 2, and an OUT already there left as it was.
TEST(Segments, PartsThatDoNotMakeOneRenderAreRefused) {
    Music music;
    const TempDir& dir = music.dir;
    std::vector<std::string> p;
    for (int k = 1; k <= 3; ++k) {
        p.push_back(dir / ("p" + std::to_string(k) + ".mp4"));
        auto r = music.render({"--render", p.back(), "--segment", std::to_string(k) + "/3", "--duration", "1"});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    const std::string other = dir / "other.mp4";
    auto r = music.render({"--render", other, "--segment", "2/3", "--duration", "1", "--crf", "30"});
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string out = dir / "out.mp4";
    lvtest::writeFile(out, "an earlier video");
    const struct {
        std::vector<std::string> parts;
        std::string says;
    } cases[] = {
        {{p[0], p[2]}, "part 2 is missing"},
        {{p[0], dir / "gone.mp4", p[2]}, "is missing"},
        {{p[0], p[1], p[1], p[2]}, "is part 2 again"},
        {{p[1], p[0], p[2]}, "out of order"},
        {{p[0], other, p[2]}, "another render"},
        {{p[0], dir / "one.wav"}, "no part of a render"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args = {player(), "--join", out};
        args.insert(args.end(), c.parts.begin(), c.parts.end());
        r = run(args);
        EXPECT_EQ(r.status, 2) << c.says;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_EQ(lvtest::readFile(out), "an earlier video") << c.says;
    }
    EXPECT_TRUE(lvtest::partsIn(dir.path()).empty());

    // K and N: from the command line, else from a job array's environment.
    const struct {
        std::string segment;
        std::vector<std::string> env;
        int status;
        std::string says;
    } choices[] = {
        {"4/3", {}, 2, "K must be from 1 to N"},
        {"0/3", {}, 2, "--segment takes K/N"},
        {"3", {"SLURM_ARRAY_TASK_ID=", "JOB_COMPLETION_INDEX="}, 2, "neither SLURM_ARRAY_TASK_ID nor"},
        {"3", {"SLURM_ARRAY_TASK_ID=", "JOB_COMPLETION_INDEX=1"}, 0, "part 2/3"},
        {"3", {"SLURM_ARRAY_TASK_ID=7", "SLURM_ARRAY_TASK_MIN=5", "JOB_COMPLETION_INDEX=0"}, 0, "part 3/3"},
        {"auto", {"SLURM_ARRAY_TASK_ID=2", "SLURM_ARRAY_TASK_MIN=1", "SLURM_ARRAY_TASK_COUNT=4"}, 0, "part 2/4"},
        {"3/3", {"SLURM_ARRAY_TASK_ID=1", "SLURM_ARRAY_TASK_COUNT=3"}, 0, "part 3/3"},
    };
    for (const auto& c : choices) {
        r = music.render({"--frames", dir / "f", "--force", "--duration", "1", "--segment", c.segment}, c.env);
        EXPECT_EQ(r.status, c.status) << c.segment << ": " << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.segment << ": " << r.err;
    }
}
