// The player as a program rendering offline: the video it writes as ffprobe
// sees it, the same frames every time, damaged files in the list, and the
// messages of a player that cannot do what it was asked.
#include <gtest/gtest.h>

#include <filesystem>

#include "host_test_support.h"
#include "lv/media.h"

namespace fs = std::filesystem;
using hosttest::run;
using hosttest::TempDir;

namespace {

std::string player() { return hosttest::binary("lumenvortex"); }

std::string frameName(int i) {
    char n[32];
    std::snprintf(n, sizeof n, "frame-%06d.png", i);
    return n;
}

std::string probe(const std::string& file, const std::string& entries) {
    auto r = run({"/usr/bin/ffprobe", "-v", "error", "-count_frames", "-show_entries", entries, "-of",
                  "default=noprint_wrappers=1", file});
    return r.out;
}

void makeTone(const std::string& path, double seconds, std::vector<std::pair<std::string, std::string>> tags = {}) {
    hosttest::AudioSpec spec;
    spec.seconds = seconds;
    spec.tags = std::move(tags);
    std::string error;
    ASSERT_TRUE(hosttest::makeAudioFile(path, spec, error)) << error;
}

}  // namespace

TEST(Render, FiveSecondsBecomeAnH264AndAacVideoOfThreeHundredFrames) {
    TempDir dir;
    makeTone(dir / "five.flac", 5.0, {{"title", "Five"}});
    auto r = run({player(), "--render", dir / "out/five.mp4", "--size", "320x200", dir / "five.flac"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("wrote " + (dir / "out/five.mp4")), std::string::npos) << r.out;
    // Not a terminal: no progress line.
    EXPECT_EQ(r.err.find('\r'), std::string::npos) << r.err;

    std::string video = probe(dir / "out/five.mp4", "stream=codec_name,pix_fmt,width,height,nb_read_frames");
    EXPECT_NE(video.find("codec_name=h264"), std::string::npos) << video;
    EXPECT_NE(video.find("pix_fmt=yuv420p"), std::string::npos) << video;
    EXPECT_NE(video.find("width=320\nheight=200"), std::string::npos) << video;
    EXPECT_NE(video.find("nb_read_frames=300"), std::string::npos) << video;
    EXPECT_NE(video.find("codec_name=aac"), std::string::npos) << video;
    std::string format = probe(dir / "out/five.mp4", "format=duration");
    ASSERT_EQ(format.rfind("duration=", 0), 0u) << format;
    EXPECT_NEAR(std::stod(format.substr(9)), 5.0, 0.05);
}

TEST(Render, TheSameRenderTwiceGivesTheSameFrames) {
    TempDir dir;
    makeTone(dir / "tone.flac", 3.0);
    for (const char* out : {"a", "b"}) {
        auto r = run({player(), "--frames", dir / out, "--size", "160x100", "--fps", "30", "--duration", "1.5",
                      dir / "tone.flac"});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    int frames = 0;
    while (fs::exists(dir / ("a/" + frameName(frames)))) ++frames;
    EXPECT_EQ(frames, 45);
    ASSERT_FALSE(fs::exists(dir / "a/frame-000045.png"));
    std::vector<unsigned char> first, last;
    for (int i = 0; i < frames; ++i) {
        auto a = hosttest::readFile(dir / ("a/" + frameName(i)));
        auto b = hosttest::readFile(dir / ("b/" + frameName(i)));
        ASSERT_FALSE(a.empty());
        ASSERT_EQ(a, b) << frameName(i) << " differs between the two renders";
        if (i == 0) first = a;
        last = a;
    }
    EXPECT_NE(first, last) << "the picture never moved";
    // The sound beside the frames: 1.5 s of 16-bit stereo after a 44-byte header.
    EXPECT_EQ(fs::file_size(dir / "a/audio.wav"), 44u + 66150u * 4u);
}

TEST(Render, DamagedFilesAreSkippedAndTheRestPlays) {
    TempDir dir;
    hosttest::writeFile(dir / "01 broken.mp3", std::string("no music in here\n"));
    makeTone(dir / "02 fine.flac", 2.0);
    auto r = run({player(), "--render", dir / "out.mp4", "--size", "160x100", "--fps", "30", dir.path()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.err.find("01 broken.mp3"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("skipping it"), std::string::npos) << r.err;
    EXPECT_NE(probe(dir / "out.mp4", "stream=nb_read_frames").find("nb_read_frames=60"), std::string::npos);

    auto nothing = run({player(), "--render", dir / "none.mp4", dir / "01 broken.mp3"});
    EXPECT_EQ(nothing.status, 1);
    EXPECT_NE(nothing.err.find("nothing could be played"), std::string::npos) << nothing.err;
}

TEST(Render, TheDemoRendersWithItsSoundAndTitle) {
    TempDir dir;
    auto r = run({player(), "--render", dir / "demo.mp4", "--size", "160x100", "--duration", "3"});
    ASSERT_EQ(r.status, 0) << r.err;
    std::string tags = probe(dir / "demo.mp4", "format_tags=title,artist");
    EXPECT_NE(tags.find("TAG:title=Lumen Drift"), std::string::npos) << tags;
    EXPECT_NE(tags.find("TAG:artist=Lumenvortex"), std::string::npos) << tags;
    // The sound is the song, not silence.
    lv::AudioDecoder d;
    ASSERT_TRUE(d.open(dir / "demo.mp4")) << d.error();
    std::vector<float> pcm(44100 * 2 * 3);
    size_t n = d.read(pcm.data(), 44100 * 3);
    EXPECT_NEAR(double(n), 3 * 44100.0, 3000.0);
    double energy = 0;
    for (size_t i = 0; i < n * 2; ++i) energy += double(pcm[i]) * pcm[i];
    EXPECT_GT(energy / double(n * 2), 1e-4);
}

TEST(Render, MistakesGetMessagesThatSayWhatToDo) {
    auto help = run({player(), "--help"});
    EXPECT_EQ(help.status, 0);
    for (const char* option : {"--render", "--frames", "--size", "--fps", "--duration", "--capture",
                               "--list-sources", "--loop", "--no-audio", "--fullscreen", "LUMENVORTEX_PLUGIN"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;

    auto unknown = run({player(), "--colour"});
    EXPECT_EQ(unknown.status, 2);
    EXPECT_NE(unknown.err.find("--help"), std::string::npos) << unknown.err;

    auto odd = run({player(), "--render", "/tmp/never.mp4", "--size", "321x200"});
    EXPECT_EQ(odd.status, 2);
    EXPECT_NE(odd.err.find("even"), std::string::npos) << odd.err;

    auto noDisplay = run({player(), "--no-audio"}, {"DISPLAY=", "WAYLAND_DISPLAY="});
    EXPECT_EQ(noDisplay.status, 1);
    EXPECT_NE(noDisplay.err.find("no display: use --render"), std::string::npos) << noDisplay.err;

    // A player copied away from its plug-in says where it looked.
    TempDir dir;
    fs::copy_file(player(), dir / "lumenvortex");
    fs::permissions(dir / "lumenvortex", fs::perms::owner_all);
    auto lost = run({dir / "lumenvortex", "--render", dir / "x.mp4"}, {"LUMENVORTEX_PLUGIN="});
    EXPECT_EQ(lost.status, 1);
    EXPECT_NE(lost.err.find(dir / "Lumenvortex.so"), std::string::npos) << lost.err;
    EXPECT_NE(lost.err.find("LUMENVORTEX_PLUGIN"), std::string::npos) << lost.err;
    // ... and finds it through the environment.
    std::string binDir = fs::path(player()).parent_path().string();
    auto found = run({dir / "lumenvortex", "--frames", dir / "f", "--size", "64x64", "--duration", "0.1"},
                     {"LUMENVORTEX_PLUGIN=" + binDir});
    EXPECT_EQ(found.status, 0) << found.err;
    EXPECT_TRUE(fs::exists(dir / "f/frame-000000.png"));
}
