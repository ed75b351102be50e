// The player as a program rendering offline: the video it writes as ffprobe
// sees it, the same frames every time, damaged files in the list, and the
// messages of a player that cannot do what it was asked.
#include <gtest/gtest.h>
#include <signal.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "audio_constants.h"
#include "program_test_support.h"
#include "test_pictures.h"

namespace fs = std::filesystem;
using lvtest::run;
using lvtest::TempDir;

namespace {

std::string player() { return lvtest::binary("lumenvortex"); }

std::string probe(const std::string& file, const std::string& entries) {
    return run({"/usr/bin/ffprobe", "-v", "error", "-count_frames", "-show_entries", entries, "-of",
                "default=noprint_wrappers=1", file})
        .out;
}

// Frame i of a --frames folder.
std::string frameFile(const std::string& folder, int i) {
    char name[32];
    std::snprintf(name, sizeof name, "/frame-%06d.png", i);
    return folder + name;
}

}  // namespace

// A folder with a damaged file: the damaged one is skipped with a message
// and the five seconds of the other become 300 frames of H.264 with AAC,
// whose two channels are the music's: a tone on the left, silence on the
// right.
TEST(Render, AFolderBecomesAnH264AndAacVideoWithDamagedFilesSkipped) {
    TempDir dir;
    fs::create_directories(dir / "in");
    lvtest::writeFile(dir / "in/01 broken.mp3", "no music in here\n");
    std::vector<float> leftOnly(SAMPLE_RATE * 5 * 2, 0.0f);
    for (size_t i = 0; i < leftOnly.size(); i += 2)
        leftOnly[i] = 0.5f * float(std::sin(2 * M_PI * 1000.0 * double(i / 2) / SAMPLE_RATE));
    lvtest::writeWav(dir / "in/02 five.wav", leftOnly);
    auto r = run({player(), "--render", dir / "out/five.mp4", "--size", "320x200", dir / "in"});
    ASSERT_EQ(r.status, 3) << "a file did not play: " << r.err;
    EXPECT_NE(r.out.find("wrote " + (dir / "out/five.mp4")), std::string::npos) << r.out;
    EXPECT_NE(r.err.find("01 broken.mp3"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\r'), std::string::npos) << "not a terminal: no progress line\n" << r.err;
    const std::string video = probe(dir / "out/five.mp4", "stream=codec_name,pix_fmt,width,height,nb_read_frames");
    for (const char* want : {"codec_name=h264", "pix_fmt=yuv420p", "width=320\nheight=200", "nb_read_frames=300",
                             "codec_name=aac"})
        EXPECT_NE(video.find(want), std::string::npos) << want << " in\n" << video;
    const std::string format = probe(dir / "out/five.mp4", "format=duration");
    ASSERT_EQ(format.rfind("duration=", 0), 0u) << format;
    EXPECT_NEAR(std::stod(format.substr(9)), 5.0, 0.05);
    EXPECT_EQ(probe(dir / "out/five.mp4", "stream=start_time"), "start_time=0.000000\nstart_time=0.000000\n")
        << "the pictures and the sound start together";
    const std::string sound =
        run({"/usr/bin/ffmpeg", "-v", "error", "-i", dir / "out/five.mp4", "-f", "f32le", "-ac", "2", "-"}).out;
    EXPECT_GE(sound.size() / 8, size_t(5 * SAMPLE_RATE)) << "the end of the sound is missing";
    double power[2] = {0, 0};
    for (size_t at = 0; at + 4 <= sound.size(); at += 4) {
        float sample;
        std::memcpy(&sample, &sound[at], 4);
        power[at / 4 % 2] += double(sample) * sample;
    }
    EXPECT_GT(power[0], 1000.0 * power[1]) << "left " << power[0] << ", right " << power[1];

    auto nothing = run({player(), "--render", dir / "none.mp4", dir / "in/01 broken.mp3"});
    EXPECT_EQ(nothing.status, 1);
    EXPECT_NE(nothing.err.find("nothing could be played"), std::string::npos) << nothing.err;
}

TEST(Render, TheSameRenderTwiceGivesTheSameFrames) {
    TempDir dir;
    lvtest::makeTone(dir / "tone.flac", 3.0);
    for (const char* out : {"a", "b"}) {
        auto r = run({player(), "--frames", dir / out, "--size", "160x100", "--fps", "30", "--duration", "1.5",
                      dir / "tone.flac"});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    auto frame = [&](const char* out, int i) { return frameFile(dir / out, i); };
    EXPECT_TRUE(fs::exists(frame("a", 44)));
    EXPECT_FALSE(fs::exists(frame("a", 45)));
    for (int i = 0; i < 45; ++i) {
        const std::string a = lvtest::readFile(frame("a", i));
        ASSERT_FALSE(a.empty());
        ASSERT_EQ(a, lvtest::readFile(frame("b", i))) << "frame " << i << " differs between the two renders";
    }
    EXPECT_NE(lvtest::readFile(frame("a", 0)), lvtest::readFile(frame("a", 44))) << "the picture never moved";
    // The sound beside the frames: 1.5 s of 16-bit stereo after a 44-byte
    // header that says so, down to its bytes a second.
    EXPECT_EQ(fs::file_size(dir / "a/audio.wav"), 44u + SAMPLE_RATE * 3 / 2 * 4u);
    EXPECT_EQ(probe(dir / "a/audio.wav", "stream=codec_name,sample_rate,channels,bit_rate"),
              "codec_name=pcm_s16le\nsample_rate=44100\nchannels=2\nbit_rate=1411200\n");
}

// The plug-in's clock against the video's: the track overlay (the cover 20
// pixels from the left and bottom) shows for five seconds of plug-in time
// from the start, so at 30 fps it is there at frame 30 and gone by frame 165.
// A clock off by a thousand either way (ms taken for us) fails one of them.
// The cover's four coloured quarters are a picture no scene makes by chance.
TEST(Render, TheOverlayKeepsThePluginsTimeInStepWithTheVideo) {
    TempDir dir;
    lvtest::makeTone(dir / "cover.flac", 6.0, {},
                     lvtest::makePNG(64, 64, [](int x, int y) { return lvtest::quadrant(x, y, 64, 64); }));
    constexpr int W = 160, H = 120;
    auto r = run({player(), "--frames", dir / "f", "--size", "160x120", "--fps", "30", "--duration", "5.6",
                  dir / "cover.flac"});
    ASSERT_EQ(r.status, 0) << r.err;
    auto coverShows = [&](int frame) {
        const std::string name = frameFile(dir / "f", frame);
        const std::string rgb =
            run({"/usr/bin/ffmpeg", "-v", "error", "-i", name, "-f", "rawvideo", "-pix_fmt", "rgb24", "-"}).out;
        EXPECT_EQ(rgb.size(), size_t(W) * H * 3) << name;
        if (rgb.size() != size_t(W) * H * 3) return false;
        // Each quarter's middle against its colour: red, green / blue, white.
        const int quarters[4][5] = {{36, H - 68, 255, 0, 0}, {68, H - 68, 0, 255, 0},
                                    {36, H - 36, 0, 0, 255}, {68, H - 36, 255, 255, 255}};
        for (const auto& [x, y, red, green, blue] : quarters) {
            const unsigned char* p = reinterpret_cast<const unsigned char*>(&rgb[(size_t(y) * W + x) * 3]);
            if (std::abs(p[0] - red) > 60 || std::abs(p[1] - green) > 60 || std::abs(p[2] - blue) > 60) return false;
        }
        return true;
    };
    EXPECT_TRUE(coverShows(30)) << "no cover one second in";
    EXPECT_FALSE(coverShows(165)) << "the cover still shows 5.5 seconds in";
}

TEST(Render, AStopSignalFinishesTheVideoWithWhatWasDrawn) {
    TempDir dir;
    lvtest::ToneFile tone;   // ten minutes: far longer than the test waits
    tone.sampleRate = 8000;
    tone.channels = 1;
    tone.seconds = 600.0;
    tone.frequency = 0.0;
    std::string error;
    ASSERT_TRUE(lvtest::makeAudioFile(dir / "long.flac", tone, error)) << error;
    lvtest::Child render({player(), "--render", dir / "cut.mp4", "--frames", dir / "cut", "--size", "64x64",
                            dir / "long.flac"},
                           {}, dir / "log");
    ASSERT_TRUE(lvtest::waitFor([&] { return fs::exists(dir / "cut/frame-000002.png"); }, 60.0))
        << lvtest::readFile(dir / "log");
    render.signal(SIGINT);
    ASSERT_EQ(render.wait(60.0), 128 + SIGINT) << lvtest::readFile(dir / "log");
    EXPECT_NE(lvtest::readFile(dir / "log").find("stopped by Ctrl+C"), std::string::npos);

    long long frames = 0;
    for (const auto& e : fs::directory_iterator(dir / "cut")) frames += e.path().extension() == ".png";
    const std::string video = probe(dir / "cut.mp4", "stream=codec_name,nb_read_frames");
    EXPECT_NE(video.find("codec_name=h264\nnb_read_frames=" + std::to_string(frames)), std::string::npos) << video;
    EXPECT_NE(video.find("codec_name=aac"), std::string::npos) << video;
    // The sound stops where the pictures do.
    EXPECT_EQ(fs::file_size(dir / "cut/audio.wav"), 44u + (unsigned long long)(frames * SAMPLE_RATE / 60) * 4u);
}

TEST(Render, MistakesGetMessagesThatSayWhatToDo) {
    TempDir dir;
    // A player copied away from its plug-in says where it looked.
    fs::copy_file(player(), dir / "lumenvortex");
    const struct {
        std::vector<std::string> args, env;
        int status;
        std::string says;
    } cases[] = {
        {{player(), "--colour"}, {}, 2, "--help"},
        {{player(), "--render", dir / "x.mp4", "--fps"}, {}, 2, "--fps needs a value"},
        // H.264 takes even sizes only: refused, not rounded behind the user's back.
        {{player(), "--render", dir / "x.mp4", "--size", "321x200"}, {}, 2, "even"},
        {{player(), "--render", dir / "x.mp4", "--size", "320x201"}, {}, 2, "even"},
        // Faster than the plug-in draws: its clock would run ahead of the video.
        {{player(), "--render", dir / "x.mp4", "--fps", "61", "--duration", "0.1"}, {}, 2, "1 to 60"},
        {{player(), "--render", dir / "x.mp4", "--fps", "0"}, {}, 2, "1 to 60"},
        // The muxer alone would only say "Invalid argument", at the header.
        {{player(), "--render", dir / "x.webm", "--duration", "0.1"}, {}, 1, "name the file .mp4, .mkv or .mov"},
        {{player(), "--no-audio"}, {"DISPLAY=", "WAYLAND_DISPLAY="}, 1, "no display: use --render"},
        {{dir / "lumenvortex", "--render", dir / "x.mp4"}, {"LUMENVORTEX_PLUGIN="}, 1, dir / "Lumenvortex.so"},
        {{dir / "lumenvortex", "--render", dir / "x.mp4"}, {"LUMENVORTEX_PLUGIN="}, 1, "LUMENVORTEX_PLUGIN"},
    };
    for (const auto& c : cases) {
        auto r = run(c.args, c.env);
        EXPECT_EQ(r.status, c.status) << c.args[1];
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args[1] << ": " << r.err;
    }
    // A render never writes over the music it plays, by whatever name.
    lvtest::makeTone(dir / "song.mp4", 0.3);
    fs::create_symlink(dir / "song.mp4", dir / "link.mp4");
    fs::create_directory(dir / "f");
    fs::copy_file(dir / "song.mp4", dir / "f/audio.wav");
    const std::string song = lvtest::readFile(dir / "song.mp4");
    const std::vector<std::string> overwriting[] = {{player(), "--render", dir / "link.mp4", dir / "song.mp4"},
                                                    {player(), "--frames", dir / "f", dir / "f/audio.wav"}};
    for (const auto& args : overwriting) {
        auto r = run(args);
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find("which is one of the tracks"), std::string::npos) << r.err;
        EXPECT_EQ(lvtest::readFile(args.back()), song);
    }
    // ... and finds it through the environment.
    auto found = run({dir / "lumenvortex", "--frames", dir / "f", "--size", "64x64", "--duration", "0.1"},
                     {"LUMENVORTEX_PLUGIN=" + fs::path(player()).parent_path().string()});
    EXPECT_EQ(found.status, 0) << found.err;
    EXPECT_TRUE(fs::exists(dir / "f/frame-000000.png"));
}
