// The player as a program rendering offline: the video it writes as ffprobe
// sees it, the same frames every time, damaged files in the list, and the
// messages of a player that cannot do what it was asked.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "audio_constants.h"
#include "lv/video_out.h"
#include "program_test_support.h"
#include "test_pictures.h"
#include "track_files.h"

namespace fs = std::filesystem;
using lvtest::run;
using lvtest::TempDir;

namespace {

std::string player() { return lvtest::binary("lumenvortex"); }

using lvtest::probe;

// Frame i of a --frames folder.
std::string frameFile(const std::string& folder, int i) {
    char name[32];
    std::snprintf(name, sizeof name, "/frame-%06d.png", i);
    return folder + name;
}

// The video's length as ffprobe reads it; -1 when it states none.
double duration(const std::string& file) {
    const std::string format = probe(file, "format=duration");
    return format.rfind("duration=", 0) == 0 ? std::stod(format.substr(9)) : -1.0;
}

// A video's sound as FFmpeg decodes it: stereo at the music's rate, interleaved.
std::vector<float> soundOf(const std::string& file) {
    const std::string bytes = run({"/usr/bin/ffmpeg", "-v", "error", "-i", file, "-f", "f32le", "-ac", "2", "-ar",
                                   std::to_string(SAMPLE_RATE), "-"}).out;
    std::vector<float> samples(bytes.size() / 4);
    std::memcpy(samples.data(), bytes.data(), samples.size() * 4);
    return samples;
}

// The root mean square of both channels over [from, to) seconds.
double rmsOf(const std::vector<float>& sound, double from, double to) {
    const size_t begin = size_t(from * SAMPLE_RATE) * 2, end = std::min(sound.size(), size_t(to * SAMPLE_RATE) * 2);
    double sum = 0;
    for (size_t i = begin; i < end; ++i) sum += double(sound[i]) * sound[i];
    return end > begin ? std::sqrt(sum / double(end - begin)) : 0.0;
}

// The player at 64x64, the size of every render here whose picture is not looked at.
lvtest::RunResult render(std::vector<std::string> args) {
    args.insert(args.begin(), {player(), "--size", "64x64"});
    return run(args);
}

// Run before the player: a Ctrl+C blocked and pending when it starts, so it
// arrives the moment the player takes the stop signals in hand, before the
// first frame, as a quick Ctrl+C would.
const std::vector<std::string> kInterruptedAtOnce = {
    "/usr/bin/python3", "-c",
    "import os, signal, sys; signal.pthread_sigmask(signal.SIG_BLOCK, [signal.SIGINT]); "
    "os.kill(os.getpid(), signal.SIGINT); os.execv(sys.argv[1], sys.argv[1:])"};

// Run before the player: its stdout (1) or stderr (2), the first argument,
// becomes a pipe nobody reads (an empty second argument) or the file named,
// with SIGPIPE as a shell leaves it, as in `( lumenvortex ... ) | true`.
const std::vector<std::string> kOutputTo = {
    "/usr/bin/python3", "-c",
    "import os, signal, sys; signal.signal(signal.SIGPIPE, signal.SIG_DFL); fd, to = int(sys.argv[1]), sys.argv[2]\n"
    "if to: w = os.open(to, os.O_WRONLY)\n"
    "else: r, w = os.pipe(); os.close(r)\n"
    "os.dup2(w, fd); os.execv(sys.argv[3], sys.argv[3:])"};

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
    // A file that never played is not one that played in part.
    EXPECT_NE(r.err.find("1 file was skipped:"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("did not play in full"), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\r'), std::string::npos) << "not a terminal: no progress line\n" << r.err;
    const std::string video = probe(dir / "out/five.mp4", "stream=codec_name,pix_fmt,width,height,nb_read_frames");
    for (const char* want : {"codec_name=h264", "pix_fmt=yuv420p", "width=320\nheight=200", "nb_read_frames=300",
                             "codec_name=aac"})
        EXPECT_NE(video.find(want), std::string::npos) << want << " in\n" << video;
    EXPECT_NEAR(duration(dir / "out/five.mp4"), 5.0, 0.05);
    EXPECT_EQ(probe(dir / "out/five.mp4", "stream=start_time"), "start_time=0.000000\nstart_time=0.000000\n")
        << "the pictures and the sound start together";
    const std::vector<float> sound = soundOf(dir / "out/five.mp4");
    EXPECT_GE(sound.size() / 2, size_t(5 * SAMPLE_RATE)) << "the end of the sound is missing";
    double power[2] = {0, 0};
    for (size_t at = 0; at < sound.size(); ++at) power[at % 2] += double(sound[at]) * sound[at];
    EXPECT_GT(power[0], 1000.0 * power[1]) << "left " << power[0] << ", right " << power[1];

    auto nothing = render({"--render", dir / "none.mp4", dir / "in/01 broken.mp3"});
    EXPECT_EQ(nothing.status, 1);
    EXPECT_NE(nothing.err.find("nothing could be played"), std::string::npos) << nothing.err;
}

// A folder plays every file FFmpeg plays (a tracker module, a Wave64 file),
// once each however its links loop, and names once the one it cannot play.
// Sound missing from a file, in its middle or at its end, makes the render's
// exit status 3 whatever the file's header.
TEST(Render, AFolderPlaysEachFileOnceAndFilesMissingSoundAreNamed) {
    TempDir dir;
    fs::create_directories(dir / "in");
    lvtest::makeTone(dir / "in/01 tone.flac", 1.0);
    lvtest::writeFile(dir / "in/02 song.xm", lvtest::trackerModule(16));   // about 2 s
    lvtest::makeTone(dir / "in/03 wave.w64", 0.5);
    lvtest::writeFile(dir / "in/04 broken.xm", "not a module\n");
    fs::create_directory_symlink(".", dir / "in/self");
    fs::create_directory_symlink(".", dir / "in/again");
    auto r = render({"--render", dir / "folder.mkv", "--fps", "10", dir / "in"});
    EXPECT_EQ(r.status, 3) << r.err;
    const std::string broken = "lumenvortex: cannot play " + dir / "in/04 broken.xm";
    EXPECT_NE(r.err.find(broken), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find(broken, r.err.find(broken) + 1), std::string::npos) << "named twice:\n" << r.err;
    EXPECT_NEAR(duration(dir / "folder.mkv"), 3.5, 0.2);
    const std::string chapters = probe(dir / "folder.mkv", "chapter=start_time");
    EXPECT_EQ(std::count(chapters.begin(), chapters.end(), '\n'), 3) << chapters;

    // Variable bit rate with no Xing header: nothing states the length.
    ASSERT_EQ(run({"/usr/bin/ffmpeg", "-v", "error", "-f", "lavfi", "-i", "sine=d=20", "-c:a", "libmp3lame", "-q:a",
                   "4", "-write_xing", "0", dir / "vbr.mp3"}).status, 0);
    std::string mp3 = lvtest::readFile(dir / "vbr.mp3");
    std::fill(mp3.begin() + long(mp3.size() * 3 / 10), mp3.begin() + long(mp3.size() * 7 / 10), '\0');
    lvtest::writeFile(dir / "vbr.mp3", mp3);
    lvtest::makeTone(dir / "cut.wav", 4.0);
    const std::string wav = lvtest::readFile(dir / "cut.wav");
    lvtest::writeFile(dir / "cut.wav", wav.substr(0, wav.size() / 2));
    for (const std::string file : {"vbr.mp3", "cut.wav"}) {
        auto damaged = render({"--render", dir / "damaged.mkv", "--fps", "10", dir / file});
        EXPECT_EQ(damaged.status, 3) << damaged.err;
        EXPECT_NE(damaged.err.find(file + (file == "vbr.mp3" ? " is damaged: 8 s missing after 0:06"
                                                              : " stops at 0:02 of the 0:04 its header states")),
                  std::string::npos) << damaged.err;
    }
}

// Also with the ES renderer, whose renders are as repeatable, and whose
// video is a video.
TEST(Render, TheSameRenderTwiceGivesTheSameFrames) {
    TempDir dir;
    lvtest::makeTone(dir / "tone.flac", 3.0);
    for (const char* out : {"a", "b", "gles-a", "gles-b"}) {
        const bool gles = std::string(out).starts_with("gles");
        auto r = run({player(), "--frames", dir / out, "--size", "160x100", "--fps", "30", "--duration", "1.5",
                      "--renderer", gles ? "gles" : "batched", dir / "tone.flac"});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(r.err.find("OpenGL ES"), std::string::npos) << "no fallback from gles expected: " << r.err;
    }
    auto video = run({player(), "--render", dir / "gles.mp4", "--renderer", "gles", "--size", "160x100", "--duration",
                      "0.5", dir / "tone.flac"});
    ASSERT_EQ(video.status, 0) << video.err;
    EXPECT_GT(fs::file_size(dir / "gles.mp4"), 1000u);
    EXPECT_FALSE(fs::exists(frameFile(dir / "a", 45)));
    for (const std::string renderer : {"", "gles-"})
        for (int i = 0; i < 45; ++i) {
            const std::string a = lvtest::readFile(frameFile(dir / (renderer + "a"), i));
            ASSERT_FALSE(a.empty());
            ASSERT_EQ(a, lvtest::readFile(frameFile(dir / (renderer + "b"), i))) << renderer << "frame " << i;
        }
    EXPECT_NE(lvtest::readFile(frameFile(dir / "a", 0)), lvtest::readFile(frameFile(dir / "a", 44)))
        << "the picture never moved";
    // The sound beside the frames: 1.5 s of 16-bit stereo after a 44-byte
    // header that says so, down to its bytes a second.
    EXPECT_EQ(fs::file_size(dir / "a/audio.wav"), 44u + SAMPLE_RATE * 3 / 2 * 4u);
    EXPECT_EQ(probe(dir / "a/audio.wav", "stream=codec_name,sample_rate,channels,bit_rate"),
              "codec_name=pcm_s16le\nsample_rate=44100\nchannels=2\nbit_rate=1411200\n");
}

// A frame the light layer drew whole goes to the video from memory, never
// through GL; one that something is drawn over (the track overlay, for the
// first five seconds) has only the overlay's box read back from GL. Either
// way the pixels are those of a render that reads every frame back
// (LV_FRAME_IN_MEMORY=0), to the byte: opaque, transparent, and with the
// overlay's cover.
TEST(Render, FramesFromMemoryAreThePixelsGLReadsBack) {
    TempDir dir;
    lvtest::makeTone(dir / "cover.flac", 7.0, {},
                     lvtest::makePNG(64, 64, [](int x, int y) { return lvtest::quadrant(x, y, 64, 64); }));
    for (const std::string look : {"opaque", "transparent", "cover"}) {
        for (const std::string memory : {"0", "1"}) {
            std::vector<std::string> args = {player(), "--frames", dir / (look + memory), "--size", "128x72", "--fps",
                                             "10", "--duration", "7"};
            if (look == "transparent") args.push_back("--transparent");
            if (look == "cover") args.push_back(dir / "cover.flac");
            auto r = run(args, {"LV_FRAME_IN_MEMORY=" + memory});
            ASSERT_EQ(r.status, 0) << r.err;
        }
        for (int i = 0; i < 70; ++i) {
            const std::string fromGL = lvtest::readFile(frameFile(dir / (look + "0"), i));
            ASSERT_FALSE(fromGL.empty()) << look << " frame " << i;
            ASSERT_EQ(lvtest::readFile(frameFile(dir / (look + "1"), i)), fromGL) << look << " frame " << i;
        }
    }
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

// A phone's short video: 1080x1920 by name, and the track's name above the
// bottom fifth and left of the right edge, where the apps put their own
// buttons. Two renders that differ only in the title differ only there.
TEST(Render, AVerticalVideoKeepsTheTrackClearOfThePhonesButtons) {
    TempDir dir;
    lvtest::makeTone(dir / "plain.flac", 1.0);
    lvtest::makeTone(dir / "named.flac", 1.0, {{"title", std::string(40, 'W')}, {"artist", std::string(40, 'M')}});
    constexpr int W = 1080, H = 1920;
    std::vector<std::string> frames;
    for (const char* name : {"plain", "named"}) {
        auto r = run({player(), "--render", dir / (std::string(name) + ".mp4"), "--frames", dir / name, "--size",
                      "vertical", "--fps", "10", "--duration", "0.3", dir / (std::string(name) + ".flac")});
        ASSERT_EQ(r.status, 0) << r.err;
        EXPECT_EQ(probe(dir / (std::string(name) + ".mp4"), "stream=width,height").substr(0, 22),
                  "width=1080\nheight=1920") << name;
        frames.push_back(run({"/usr/bin/ffmpeg", "-v", "error", "-i", frameFile(dir / name, 2), "-f", "rawvideo",
                              "-pix_fmt", "rgb24", "-"}).out);
        ASSERT_EQ(frames.back().size(), size_t(W) * H * 3) << name;
    }
    int differing = 0, outside = 0;
    for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x) {
            const size_t at = (size_t(y) * W + x) * 3;
            if (frames[0].compare(at, 3, frames[1], at, 3) == 0) continue;
            ++differing;
            outside += y >= H * 4 / 5 || x >= W * 85 / 100;
        }
    EXPECT_GT(differing, 1000) << "no track name drawn";
    EXPECT_EQ(outside, 0) << "pixels of the track's name under the apps' buttons";
}

// A fixed background stands in for the palette's in every renderer, the
// light layer's copy of the frame included: the frame's corner, far from
// the field, is that colour to the byte.
TEST(Render, AFixedBackgroundStandsInForThePalettes) {
    TempDir dir;
    lvtest::makeTone(dir / "tone.flac", 0.5);
    auto corner = [&](const std::string& name) {
        const std::string rgb = run({"/usr/bin/ffmpeg", "-v", "error", "-i", frameFile(dir / name, 4), "-f",
                                     "rawvideo", "-pix_fmt", "rgb24", "-"}).out;
        return rgb.size() >= 3 ? rgb.substr(0, 3) : std::string();
    };
    for (const char* renderer : {"batched", "gles", "reference"}) {
        const std::string name = std::string(renderer) + "-red", plain = std::string(renderer) + "-plain";
        for (const std::string& out : {name, plain}) {
            std::vector<std::string> args = {player(), "--frames", dir / out, "--size", "160x100", "--fps", "30",
                                             "--duration", "0.2", "--renderer", renderer, dir / "tone.flac"};
            if (out == name) args.insert(args.end(), {"--background", "#FF2000"});
            auto r = run(args);
            ASSERT_EQ(r.status, 0) << r.err;
        }
        EXPECT_EQ(corner(name), std::string("\xff\x20\x00", 3)) << renderer;
        EXPECT_NE(corner(plain), corner(name)) << renderer;
    }
}

// Frame n of a picture or video as RGBA bytes, through FFmpeg's decoders
// (libvpx's for VP9, which alone reads WebM's alpha).
std::string decodedFrame(const std::string& file, int n) {
    std::vector<std::string> args = {"/usr/bin/ffmpeg", "-v", "error"};
    if (file.ends_with(".webm")) args.insert(args.end(), {"-c:v", "libvpx-vp9"});
    args.insert(args.end(), {"-i", file, "-vf", "select=eq(n\\," + std::to_string(n) + ")", "-frames:v", "1", "-f",
                             "rawvideo", "-pix_fmt", "rgba", "-"});
    return run(args).out;
}

// RGBA with alpha laid over one grey level with normal blending, as RGB
// against an opaque frame's RGB: the PSNR in dB.
double psnrOver(const std::string& rgba, int ground, const std::string& opaque) {
    if (rgba.size() != opaque.size() || rgba.empty()) return 0;
    double sum = 0;
    for (size_t i = 0; i < rgba.size(); i += 4)
        for (size_t k = 0; k < 3; ++k) {
            const double a = (unsigned char)rgba[i + 3] / 255.0;
            const double over = (unsigned char)rgba[i + k] * a + ground * (1 - a) - (unsigned char)opaque[i + k];
            sum += over * over;
        }
    const double mse = sum / double(rgba.size() / 4 * 3);
    return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

// Transparent renders keep the light with alpha: laid over black they are
// the render on a black background, in each container that carries alpha;
// H.264 does not, and says where to go. Over a mid grey the light shows as
// the black render added to the grey would, within its own bound.
TEST(Render, TransparentRendersLayOverBlackAsTheOpaqueRender) {
    TempDir dir;
    // The built-in song: a tone's steady spectrum lights too little to judge.
    const std::vector<std::string> common = {"--size", "160x100", "--fps", "10", "--duration", "1"};
    auto render = [&](std::vector<std::string> args) {
        args.insert(args.begin(), player());
        args.insert(args.end(), common.begin(), common.end());
        return run(args);
    };
    ASSERT_EQ(render({"--frames", dir / "black", "--background", "#000000"}).status, 0);
    auto r = render({"--frames", dir / "alpha", "--render", dir / "t.webm", "--transparent"});
    ASSERT_EQ(r.status, 0) << r.err;
    r = render({"--render", dir / "t.mov", "--transparent"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(probe(dir / "t.webm", "stream=codec_name:stream_tags=alpha_mode"),
              "codec_name=vp9\nTAG:alpha_mode=1\ncodec_name=opus\n");
    EXPECT_NE(probe(dir / "t.mov", "stream=codec_name,pix_fmt").find("codec_name=prores\npix_fmt=yuva444p"),
              std::string::npos);
    const std::string black = decodedFrame(frameFile(dir / "black", 6), 0);
    ASSERT_EQ(black.size(), 160u * 100 * 4);
    for (const std::string& file : {frameFile(dir / "alpha", 6), dir / "t.webm", dir / "t.mov"}) {
        const std::string light = decodedFrame(file, file.ends_with(".png") ? 0 : 6);
        const double over = psnrOver(light, 0, black);
        std::printf("%s over black: %.1f dB\n", file.c_str(), over);
        EXPECT_GE(over, 40.0) << file;
        size_t clear = 0;
        for (size_t i = 3; i < light.size(); i += 4) clear += light[i] == 0;
        EXPECT_GT(clear, 0u) << file << ": no pixel left clear";
        EXPECT_LT(clear, light.size() / 4 * 9 / 10) << file << ": too little light to judge";
    }
    // Over grey: against the black render's light added to the grey.
    std::string added = black;
    for (size_t i = 0; i < added.size(); ++i)
        if (i % 4 != 3) added[i] = char(std::min(255, (unsigned char)black[i] + 128));
    // No bound: alpha that covers the grey is not light added to it.
    std::printf("over mid grey against added light: %.1f dB\n",
                psnrOver(decodedFrame(frameFile(dir / "alpha", 6), 0), 128, added));

    r = render({"--render", dir / "t.mp4", "--transparent"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("name the file .webm (VP9 with alpha) or .mov (ProRes 4444)"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "t.mp4"));
}

// A picture behind the field, in each renderer: a file's stands as it is;
// a track's cover, blurred and dimmed, tints the frame; a track without a
// cover keeps the palette's colour; a file that is no picture is refused.
TEST(Render, PicturesStandBehindTheField) {
    TempDir dir;
    const auto red = lvtest::makePNG(64, 64, lvtest::solid({255, 0, 0, 255}));
    lvtest::writeFile(dir / "red.png", std::string(red.begin(), red.end()));
    lvtest::makeTone(dir / "covered.flac", 0.5, {}, red);
    lvtest::makeTone(dir / "bare.flac", 0.5);
    int runs = 0;
    auto corner = [&](std::vector<std::string> args) {
        const std::string out = dir / ("f" + std::to_string(runs++));
        args.insert(args.begin(), {player(), "--frames", out, "--size", "160x100", "--fps", "30", "--duration", "0.2"});
        auto r = run(args);
        EXPECT_EQ(r.status, 0) << r.err;
        // Near the corner, far from the field and the track's name.
        const std::string rgb = decodedFrame(frameFile(out, 4), 0);
        const size_t at = (4 * 160 + 4) * 4;
        return rgb.size() > at + 2
                   ? std::array<int, 3>{(unsigned char)rgb[at], (unsigned char)rgb[at + 1], (unsigned char)rgb[at + 2]}
                   : std::array<int, 3>{-1, -1, -1};
    };
    for (const char* renderer : {"batched", "gles"}) {
        EXPECT_EQ(corner({"--renderer", renderer, "--background", dir / "red.png", dir / "bare.flac"}),
                  (std::array<int, 3>{255, 0, 0})) << renderer;
        const auto tinted = corner({"--renderer", renderer, "--background", "cover", dir / "covered.flac"});
        EXPECT_TRUE(tinted[0] > 60 && tinted[0] < 200 && tinted[1] < 20 && tinted[2] < 20)
            << renderer << ": " << tinted[0] << " " << tinted[1] << " " << tinted[2];
        EXPECT_EQ(corner({"--renderer", renderer, "--background", "cover", dir / "bare.flac"}),
                  corner({"--renderer", renderer, dir / "bare.flac"})) << renderer;
    }
    lvtest::writeFile(dir / "not.png", "not a picture");
    auto r = run({player(), "--render", dir / "x.mp4", "--background", dir / "not.png", dir / "bare.flac"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--background " + dir / "not.png" + ": neither JPEG nor PNG; give a JPEG or PNG picture"),
              std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "x.mp4"));
}

// A folder as the output: a video a track, named and tagged after it, the
// scene running on across them so that the files joined are the whole
// render; files already there are refused before anything is drawn, and
// replaced with --force.
TEST(Render, AFolderOutputGivesEachTrackItsOwnTaggedVideo) {
    TempDir dir;
    fs::create_directories(dir / "in");
    const auto red = lvtest::makePNG(32, 32, lvtest::solid({255, 0, 0, 255}));
    lvtest::makeTone(dir / "in/a.flac", 1.0, {{"title", "First"}, {"artist", "Ann"}, {"album", "Alb"}}, red);
    lvtest::makeTone(dir / "in/b.flac", 0.5, {{"title", "Sec/ond: \"x\"? "}, {"artist", "Bo*b"}, {"album", "Alb"}});
    lvtest::makeTone(dir / "in/c take.flac", 0.7);
    const std::vector<std::string> tracks = {dir / "in/a.flac", dir / "in/b.flac", dir / "in/c take.flac"};
    auto folder = [&](std::vector<std::string> args) {
        args.insert(args.begin(), {"--fps", "10", "--crf", "0"});   // lossless: frames compare exactly
        args.insert(args.end(), tracks.begin(), tracks.end());
        return render(args);
    };
    const std::string out = dir / "out";
    const std::vector<std::string> names = {"01 Ann - First.mp4", "02 Bo_b - Sec_ond_ _x__.mp4", "03 c take.mp4"};
    auto r = folder({"--render", out + "/"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 0) << "not a terminal, and quick: no lines\n" << r.err;
    auto whole = folder({"--render", dir / "whole.mp4"});
    ASSERT_EQ(whole.status, 0) << whole.err;
    const int frames[] = {10, 5, 7};
    int sum = 0;
    for (size_t i = 0; i < names.size(); ++i) {
        const std::string file = out + "/" + names[i];
        ASSERT_TRUE(fs::exists(file)) << file << "\n" << r.out;
        EXPECT_NE(r.out.find("wrote " + file), std::string::npos) << r.out;
        const std::string counted = probe(file, "stream=nb_read_frames");
        EXPECT_EQ(counted.substr(0, counted.find('\n')), "nb_read_frames=" + std::to_string(frames[i])) << file;
        sum += std::stoi(counted.substr(15));
        EXPECT_NEAR(duration(file), frames[i] / 10.0, 0.05) << file;
        EXPECT_EQ(probe(file, "chapter=start_time"), "") << file;
    }
    const std::string counted = probe(dir / "whole.mp4", "stream=nb_read_frames");
    EXPECT_EQ("nb_read_frames=" + std::to_string(sum), counted.substr(0, counted.find('\n')));
    EXPECT_EQ(probe(out + "/" + names[0], "format_tags=title,artist,album,track"),
              "TAG:title=First\nTAG:artist=Ann\nTAG:album=Alb\nTAG:track=1/3\n");
    EXPECT_EQ(probe(out + "/" + names[1], "format_tags=title,artist"), "TAG:title=Sec/ond: \"x\"? \nTAG:artist=Bo*b\n");
    EXPECT_EQ(probe(out + "/" + names[2], "format_tags=title"), "TAG:title=c take\n");
    EXPECT_NE(probe(out + "/" + names[0], "stream=codec_name").find("codec_name=png"), std::string::npos)
        << "the first track's cover";
    EXPECT_EQ(probe(out + "/" + names[2], "stream=codec_name").find("codec_name=png"), std::string::npos);
    // The second frame of each file continues the scene: it is not the
    // first frame of a fresh start.
    const std::string firstOfB = decodedFrame(out + "/" + names[1], 0);
    EXPECT_EQ(firstOfB, decodedFrame(dir / "whole.mp4", 10)) << "the scene starts again at the second track";

    // An existing file: a sentence and exit 2 before anything is drawn, the
    // file left as it was.
    lvtest::writeFile(out + "/" + names[1], "mine");
    const auto written = fs::last_write_time(out + "/" + names[0]);
    auto refused = folder({"--render", out, "--format", "mp4"});
    EXPECT_EQ(refused.status, 2);
    EXPECT_EQ(refused.err, "lumenvortex: " + out + "/" + names[0] +
                               " is there already: add --force to replace it, or name another folder\n");
    EXPECT_EQ(lvtest::readFile(out + "/" + names[1]), "mine");
    EXPECT_EQ(fs::last_write_time(out + "/" + names[0]), written);
    auto forced = folder({"--render", out, "--force"});
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_NE(probe(out + "/" + names[1], "stream=nb_read_frames").find("nb_read_frames=5"), std::string::npos);

    // Another container, with alpha in each file; a file of a track past
    // --duration is not in the way.
    fs::create_directories(dir / "alpha");
    lvtest::writeFile(dir / "alpha/03 c take.webm", "mine");
    auto webm = folder({"--render", dir / "alpha/", "--format", "webm", "--transparent", "--duration", "1.2"});
    ASSERT_EQ(webm.status, 0) << webm.err;
    for (const char* name : {"01 Ann - First.webm", "02 Bo_b - Sec_ond_ _x__.webm"})
        EXPECT_EQ(probe(dir / "alpha/" + name, "stream=codec_name:stream_tags=alpha_mode"),
                  "codec_name=vp9\nTAG:alpha_mode=1\ncodec_name=opus\n") << name;
    EXPECT_EQ(lvtest::readFile(dir / "alpha/03 c take.webm"), "mine") << "past --duration";
}

// Names that every file system takes, whatever the tags hold.
TEST(Render, TrackFileNamesAreSafeOnEveryFileSystem) {
    auto named = [](int number, int count, const std::string& title, const std::string& artist,
                    const std::string& path = "/music/song.flac") {
        lv::TrackMeta meta;
        meta.title = title, meta.artist = artist, meta.path = path;
        return trackFileName(number, count, meta, "mkv");
    };
    EXPECT_EQ(named(3, 12, "Song", "Band"), "03 Band - Song.mkv");
    EXPECT_EQ(named(7, 120, "Song", ""), "007 Song.mkv");
    EXPECT_EQ(named(1, 1, "", "", "/music/My Song.flac"), "01 My Song.mkv");
    EXPECT_EQ(named(1, 1, "a\\b|c<d>e\x01\x7f:f", "x/y"), "01 x_y - a_b_c_d_e___f.mkv");
    EXPECT_EQ(named(1, 1, "End. . ", "Band"), "01 Band - End.mkv");
    EXPECT_EQ(named(1, 1, "", "", "/m/CON.flac"), "01 CON.mkv") << "a number before it: no device name";
    EXPECT_EQ(safeFileName("CON"), "_CON");
    EXPECT_EQ(safeFileName("lpt1.txt"), "_lpt1.txt");
    EXPECT_EQ(safeFileName(".."), "_");
    EXPECT_EQ(safeFileName(""), "_");
    // Long tags are cut to a length every file system takes, at a whole
    // character.
    const std::string longName = named(1, 1, std::string(100, 'a') + "é" + std::string(200, 'b'), "");
    EXPECT_LE(longName.size(), 200u);
    EXPECT_TRUE(longName.ends_with(".mkv"));
    EXPECT_EQ(named(1, 1, std::string(192, 'a') + "éé", "").size(), 200u - 1);
}

// Ctrl+C, and the terminal closed (SIGHUP), alike.
TEST(Render, AStopSignalFinishesTheVideoWithWhatWasDrawn) {
    TempDir dir;
    // Ten minutes: far longer than the test waits.
    lvtest::ToneFile tone;
    tone.sampleRate = 8000, tone.channels = 1, tone.seconds = 600.0, tone.frequency = 0.0;
    std::string error;
    ASSERT_TRUE(lvtest::makeAudioFile(dir / "long.flac", tone, error)) << error;
    for (const auto& [sig, says] : {std::pair{SIGINT, "stopped by Ctrl+C"}, {SIGHUP, "stopped by SIGHUP"}}) {
        SCOPED_TRACE(says);
        const std::string cut = dir / ("cut" + std::to_string(sig)), log = cut + ".log";
        lvtest::Child render({player(), "--render", cut + ".mp4", "--frames", cut, "--size", "64x64",
                              dir / "long.flac"},
                             {}, log);
        ASSERT_TRUE(lvtest::waitFor([&] { return fs::exists(frameFile(cut, 2)); }, 60.0)) << lvtest::readFile(log);
        render.signal(sig);
        ASSERT_EQ(render.wait(60.0), 128 + sig) << lvtest::readFile(log);
        EXPECT_NE(lvtest::readFile(log).find(says), std::string::npos) << lvtest::readFile(log);

        long long frames = 0;
        for (const auto& e : fs::directory_iterator(cut)) frames += e.path().extension() == ".png";
        const std::string video = probe(cut + ".mp4", "stream=codec_name,nb_read_frames");
        EXPECT_NE(video.find("codec_name=h264\nnb_read_frames=" + std::to_string(frames)), std::string::npos)
            << video;
        EXPECT_NE(video.find("codec_name=aac"), std::string::npos) << video;
        // The sound stops where the pictures do.
        EXPECT_EQ(fs::file_size(cut + "/audio.wav"), 44u + (unsigned long long)(frames * SAMPLE_RATE / 60) * 4u);
        EXPECT_EQ(lvtest::partsIn(dir.path()), std::vector<std::string>{});
    }

    // A second signal while the first is being obeyed ends it at once, and
    // the unfinished video under its temporary name goes with it.
    lvtest::Child again({player(), "--render", dir / "again.mp4", "--size", "64x64", dir / "long.flac"}, {},
                        dir / "log2");
    ASSERT_TRUE(lvtest::waitFor([&] {
        for (const auto& e : fs::directory_iterator(dir.path()))
            if (e.path().extension() == ".part") return true;
        return false;
    }, 60.0)) << lvtest::readFile(dir / "log2");
    again.signal(SIGINT);
    again.signal(SIGHUP);
    const int status = again.wait(60.0);
    EXPECT_EQ(lvtest::partsIn(dir.path()), std::vector<std::string>{}) << "left behind after status " << status;
}

// Messages that cannot be written (a pipe closed, a full device) end
// neither the render nor the video: it is finished and takes its name, and
// a closing line lost is a failure said on stderr.
TEST(Render, MessagesThatCannotBeWrittenNeitherKillARenderNorLoseItsEnd) {
    TempDir dir;
    lvtest::makeTone(dir / "a.flac", 1.0);
    lvtest::writeFile(dir / "broken.mp3", "no music in here\n");   // said between the two tracks
    lvtest::makeTone(dir / "b.flac", 1.0);
    const struct {
        const char* fd;
        std::string to;
        int status;
        const char* says;   // on the other stream
    } cases[] = {
        {"2", "", 3, "wrote "},   // 3: the broken file did not play
        {"1", "", 1, "lumenvortex: cannot write to standard output: Broken pipe"},
        {"1", "/dev/full", 1, "lumenvortex: cannot write to standard output: No space left on device"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.fd) + " to " + (c.to.empty() ? "a closed pipe" : c.to));
        std::vector<std::string> args = kOutputTo;
        args.insert(args.end(), {c.fd, c.to, player(), "--size", "64x64", "--fps", "10", "--render", dir / "out.mp4",
                                 dir / "a.flac", dir / "broken.mp3", dir / "b.flac"});
        const auto r = run(args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE((c.fd[0] == '2' ? r.out : r.err).find(c.says), std::string::npos) << r.out << r.err;
        EXPECT_NEAR(duration(dir / "out.mp4"), 2.0, 0.2);
        EXPECT_EQ(lvtest::partsIn(dir.path()), std::vector<std::string>{});
        fs::remove(dir / "out.mp4");
    }
}

// A mistake on the command line is exit 2 with one sentence (and the
// pointer to --help), said before anything is opened or written.
TEST(Render, MistakesGetMessagesThatSayWhatToDo) {
    TempDir dir;
    // Nothing reads these pipes: opening one to write would wait for ever.
    ASSERT_EQ(mkfifo((dir / "pipe.mkv").c_str(), 0600), 0);
    fs::create_directories(dir / "sound-pipe");
    ASSERT_EQ(mkfifo((dir / "sound-pipe/audio.wav").c_str(), 0600), 0);
    fs::create_directories(dir / "frame-pipe");
    ASSERT_EQ(mkfifo((dir / "frame-pipe/frame-000000.png").c_str(), 0600), 0);
    // A render never writes over the music it plays, by whatever name.
    lvtest::makeTone(dir / "song.mp4", 0.3);
    fs::create_symlink(dir / "song.mp4", dir / "link.mp4");
    fs::create_directory(dir / "f");
    fs::copy_file(dir / "song.mp4", dir / "f/audio.wav");
    const std::string song = lvtest::readFile(dir / "song.mp4");
    // The frames of an earlier render.
    fs::create_directory(dir / "old");
    lvtest::writeFile(frameFile(dir / "old", 0), "an old frame");
    const std::string mp4 = dir / "x.mp4", combined = "cannot be combined with --render or --frames",
                      suffix = "name the file .mp4, .mkv, .mov or .webm", corvane = "give the files (or --capture) to corvane";
    // Exit 2 is a mistake on the command line, the combinations --help rules
    // out among them; 1 is a run that cannot be done, with no display (as here).
    const struct {
        std::vector<std::string> args;
        int status;
        std::string says;
    } cases[] = {
        // Outputs that are no files, in the words used of such inputs.
        {{"--render", dir / "pipe.mkv", "--duration", "0.1"}, 2,
         "--render " + dir / "pipe.mkv" + ": it is a named pipe, not a file"},
        {{"--render", "/dev/null", "--duration", "0.1"}, 2, "it is a device or socket, not a file"},
        {{"--frames", dir / "sound-pipe", "--duration", "0.1"}, 1, "it is a named pipe, not a file"},
        {{"--frames", dir / "frame-pipe", "--duration", "0.1"}, 1, "it is a named pipe, not a file"},
        {{"--frames", dir / "song.mp4/frames", "--duration", "0.1"}, 1,
         "cannot make the folder " + dir / "song.mp4/frames"},
        {{"--render", dir / "link.mp4", dir / "song.mp4"}, 1, "which is one of the tracks"},
        {{"--frames", dir / "f", dir / "f/audio.wav"}, 1, "which is one of the tracks"},
        // Old frames among new ones would make another video.
        {{"--frames", dir / "old", "--duration", "0.1"}, 2,
         "--frames " + dir / "old" + " holds the frames of an earlier render: add --force to clear them, or name "
         "another folder"},
        {{"--render", mp4, "--frames", dir.path() + "/./x.mp4", "--duration", "0.1"}, 2,
         "--render and --frames both name " + mp4 + ": give the video and the frames' folder names of their own"},
        {{"--colour"}, 2, "--help"}, {{"--render", mp4, "--fps"}, 2, "--fps needs a value"},
        // H.264 takes even sizes only: refused, not rounded behind the user's back.
        {{"--render", mp4, "--size", "321x200"}, 2, "even"}, {{"--render", mp4, "--size", "320x201"}, 2, "even"},
        // Faster than the plug-in draws: its clock would run ahead of the video.
        {{"--render", mp4, "--fps", "61", "--duration", "0.1"}, 2, "1 to 60"},
        {{"--render", mp4, "--fps", "0"}, 2, "1 to 60"},
        // Numbers are the whole text: no spaces around them, no other bases.
        {{"--render", mp4, "--fps", " 60"}, 2, "not \" 60\""}, {{"--render", mp4, "--fps", "60 "}, 2, "not \"60 \""},
        {{"--render", mp4, "--duration", "0x10"}, 2, "seconds"},
        {{"--source", "corvane: 80"}, 2, "a port from 1 to 65535"},
        // Below the bound: the message says where the bound is.
        {{"--render", mp4, "--duration", "1e-4"}, 2, "from 0.001"},
        {{"--render", mp4, "--highlight", "4.9"}, 2, "5 to 180"},
        {{"--render", mp4, "--highlight", "181"}, 2, "5 to 180"},
        {{"--render", mp4, "--renderer", "opengl"}, 2, "reference, batched or gles"},
        {{"--render", mp4, "--background", "#12345"}, 2, "#RRGGBB"},
        {{"--render", mp4, "--background", "red"}, 2, "#RRGGBB"},
        // The muxer alone would only say "Invalid argument", at the header.
        {{"--render", dir / "x.ogv", "--duration", "0.1"}, 2, suffix},
        {{"--render", dir / "x", "--duration", "0.1"}, 2, suffix},
        // One file a track: a container that holds what is asked of it.
        {{"--render", dir / "tracks/", "--format", "avi"}, 2, "--format takes mp4, mkv, webm or mov, not \"avi\""},
        {{"--render", dir / "tracks/", "--transparent"}, 2,
         "mp4 videos (H.264) have no room for transparency: add --format webm (VP9 with alpha) or --format mov"},
        // x264 alone would print its own error and fail once the render began.
        {{"--render", mp4, "--preset", "fast2"}, 2,
         "--preset takes one of x264's presets (ultrafast, superfast, veryfast, faster, fast, medium, slow, slower, "
         "veryslow, placebo), not \"fast2\""},
        {{"--render", ""}, 2, "--render takes a file name"}, {{"--frames="}, 2, "--frames takes a folder name"},
        // A name after --capture is a source; one before it is a file.
        {{"--capture", dir / "song.mp4"}, 2, "--capture takes no files"},
        {{"x.mp3", "--capture"}, 2, "it takes no files"},
        // --no-audio, the old word for --mute, is taken as such below.
        {{"--mute"}, 1, "no display: use --render"},
        // The picture held back against live sound only: a file keeps its exact sync.
        {{"--capture", "--delay", "2001"}, 2, "0 to 2000"},
        {{"--delay", "100"}, 2, "--delay holds the picture back against live sound; it goes with --capture"},
        {{"--player", "vlc"}, 2, "--player names the desktop player whose track --capture shows"},
        {{"--source", "corvane", "--render", mp4}, 2, combined}, {{"--capture", "--render", mp4}, 2, combined},
        {{"--source", "corvane", "--frames", dir / "x"}, 2, combined},
        {{"--capture", "--frames", dir / "x"}, 2, combined},
        {{"--source", "corvane", "x.mp3"}, 2, corvane}, {{"--source", "corvane", "--capture"}, 2, corvane},
    };
    for (auto c : cases) {
        c.args.insert(c.args.begin(), player());
        auto r = run(c.args, {"DISPLAY=", "WAYLAND_DISPLAY="});
        EXPECT_EQ(r.status, c.status) << c.args[1];
        EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args[1] << ": " << r.err;
        if (c.status != 2) continue;
        EXPECT_EQ(r.err.rfind("lumenvortex: ", 0), 0u) << r.err;
        EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 2) << r.err;
        EXPECT_NE(r.err.find("\nlumenvortex --help lists the options\n"), std::string::npos) << r.err;
        for (const char* made : {"x.mp4", "x.ogv", "x"}) EXPECT_FALSE(fs::exists(dir / made)) << c.args[1];
    }
    EXPECT_EQ(lvtest::readFile(dir / "song.mp4"), song);
    EXPECT_EQ(lvtest::readFile(dir / "f/audio.wav"), song);
    // Options that do nothing in the mode chosen are no mistake: a line
    // each, and the run goes on.
    const auto idle = render(
        {"--render", dir / "idle.mp4", "--duration", "0.1", "--fullscreen", "--mute", "--loop", "--force", "--format",
         "mkv", "--highlight", "5"});
    EXPECT_EQ(idle.status, 0) << idle.err;
    for (const char* line : {"lumenvortex: --fullscreen does nothing with --render: a render opens no window\n",
                             "lumenvortex: --force does nothing with --render: only --frames or a --render folder (DIR/) has "
                             "earlier files to replace\n",
                             "lumenvortex: --mute does nothing with --render: a render opens no sound device",
                             "lumenvortex: --loop does nothing with --render: a render plays the list once\n",
                             "lumenvortex: --format does nothing with --render: only a --render folder (DIR/) "
                             "makes a file a track\n",
                             "lumenvortex: --highlight does nothing with --render: the built-in demo song plays "
                             "whole\n"})
        EXPECT_NE(idle.err.find(line), std::string::npos) << line << "\nin:\n" << idle.err;
    const auto pngs = render({"--frames", dir / "idle", "--duration", "0.1", "--crf", "20", "--no-audio"});
    EXPECT_EQ(pngs.status, 0) << pngs.err;
    EXPECT_NE(pngs.err.find("--crf does nothing with --frames alone: only a --render video is encoded\n"),
              std::string::npos) << pngs.err;
    EXPECT_NE(pngs.err.find("--no-audio does nothing with --frames alone"), std::string::npos)
        << "the option as typed, not its other name: " << pngs.err;
    const auto window = run({player(), "--duration", "5", "--fps", "30", dir / "none.mp3"}, {"DISPLAY="});
    EXPECT_NE(window.err.find("lumenvortex: --duration does nothing in a window: only a render (--render, --frames) "
                              "stops early\n"), std::string::npos) << window.err;
    EXPECT_NE(window.err.find("lumenvortex: --fps does nothing in a window"), std::string::npos) << window.err;
    EXPECT_EQ(render({"--render", dir / "quiet.mp4", "--duration", "0.1"}).err.find("does nothing"), std::string::npos)
        << "nothing to say without such options";
    // --force clears the old frames, and those of the folder alone.
    lvtest::writeFile(frameFile(dir / "old", 40), "an old frame");
    lvtest::writeFile(dir / "old/notes.txt", "mine");
    const auto forced = render({"--frames", dir / "old", "--force", "--fps", "10", "--duration", "0.5"});
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_NE(lvtest::readFile(frameFile(dir / "old", 0)), "an old frame");
    EXPECT_TRUE(fs::exists(frameFile(dir / "old", 4)));
    EXPECT_FALSE(fs::exists(frameFile(dir / "old", 5)));
    EXPECT_FALSE(fs::exists(frameFile(dir / "old", 40)));
    EXPECT_EQ(lvtest::readFile(dir / "old/notes.txt"), "mine");
    // A player copied away from its plug-in says where it looked...
    fs::copy_file(player(), dir / "lumenvortex");
    const auto lost = run({dir / "lumenvortex", "--render", dir / "x.mp4"}, {"LUMENVORTEX_PLUGIN="});
    EXPECT_EQ(lost.status, 1);
    EXPECT_NE(lost.err.find("beside the program: " + dir / "Lumenvortex.so"), std::string::npos) << lost.err;
    // ... and finds it through the environment.
    auto found = run({dir / "lumenvortex", "--frames", dir / "f", "--duration", "0.1"},
                     {"LUMENVORTEX_PLUGIN=" + fs::path(player()).parent_path().string()});
    EXPECT_EQ(found.status, 0) << found.err;
    EXPECT_TRUE(fs::exists(dir / "f/frame-000000.png"));
}

// A render that stops before its first frame leaves a video, and the sound
// of earlier frames, already under their names as they were, and no
// half-written file beside them: another output that cannot be made, music
// that gives no sound, a Ctrl+C at once.
TEST(Render, ARenderThatDrawsNothingLeavesTheVideoThereAsItWas) {
    TempDir dir;
    lvtest::makeTone(dir / "tone.flac", 1.0);
    // A WAV that opens, and holds no sound.
    lvtest::writeWav(dir / "silent.wav", {});
    ASSERT_EQ(render({"--render", dir / "keep.mp4", dir / "tone.flac"}).status, 0);
    ASSERT_EQ(chmod((dir / "keep.mp4").c_str(), 0640), 0);
    const std::string kept = lvtest::readFile(dir / "keep.mp4");
    fs::create_directory(dir / "f");
    lvtest::writeWav(dir / "f/audio.wav", std::vector<float>(2000, 0.25f));
    const std::string keptSound = lvtest::readFile(dir / "f/audio.wav");
    const struct {
        std::vector<std::string> args;
        int status;
        std::string says;
    } cases[] = {
        {{"--frames", "/dev/null", dir / "tone.flac"}, 1, "/dev/null"},
        {{"--frames", dir / "f", dir / "silent.wav"}, 1, "nothing could be played"},
        {{"--frames", dir / "f", dir / "tone.flac"}, 128 + SIGINT, "stopped by Ctrl+C before the first frame"}};
    for (const auto& c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.begin(), {player(), "--size", "64x64", "--render", dir / "keep.mp4"});
        if (c.status == 128 + SIGINT) args.insert(args.begin(), kInterruptedAtOnce.begin(), kInterruptedAtOnce.end());
        const auto r = run(args);
        EXPECT_EQ(r.status, c.status) << r.err;
        EXPECT_NE(r.err.find(c.says), std::string::npos) << r.err;
        EXPECT_TRUE(lvtest::readFile(dir / "keep.mp4") == kept) << c.says << ": the video was changed";
        EXPECT_TRUE(lvtest::readFile(dir / "f/audio.wav") == keptSound) << c.says << ": the frames' sound was changed";
        std::vector<std::string> names;
        for (const auto& e : fs::recursive_directory_iterator(dir.path()))
            names.push_back(fs::relative(e.path(), dir.path()));
        std::sort(names.begin(), names.end());
        EXPECT_EQ(names, (std::vector<std::string>{"f", "f/audio.wav", "keep.mp4", "silent.wav", "tone.flac"}))
            << c.says;
    }

    // A render that draws takes the name over, and the mode of the file it replaces.
    auto again = render({"--render", dir / "keep.mp4", "--duration", "0.5", dir / "tone.flac"});
    ASSERT_EQ(again.status, 0) << again.err;
    EXPECT_NE(probe(dir / "keep.mp4", "stream=nb_read_frames").find("nb_read_frames=30"), std::string::npos);
    struct stat st {};
    ASSERT_EQ(stat((dir / "keep.mp4").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u);
}

// The outputs are written where their links lead, never through a link
// planted under the hidden name a file is written under first, and a
// video or sound this user may not write is refused, not replaced (root
// may write anything, so the player runs as nobody there).
TEST(Render, OutputsFollowTheirLinksAndSpareFilesTheUserMayNotWrite) {
    TempDir dir;
    lvtest::makeTone(dir / "tone.flac", 1.0);
    fs::create_directories(dir / "videos");
    fs::create_directories(dir / "sounds");
    fs::create_directories(dir / "f");
    lvtest::writeFile(dir / "videos/real.mp4", "old video");
    lvtest::writeFile(dir / "sounds/real.wav", "old sound");
    fs::create_symlink("videos/real.mp4", dir / "link.mp4");
    fs::create_symlink("../sounds/real.wav", dir / "f/audio.wav");
    const auto linked = render({"--render", dir / "link.mp4", "--frames", dir / "f", "--duration", "0.5",
                                dir / "tone.flac"});
    ASSERT_EQ(linked.status, 0) << linked.err;
    EXPECT_TRUE(fs::is_symlink(dir / "link.mp4"));
    EXPECT_TRUE(fs::is_symlink(dir / "f/audio.wav"));
    EXPECT_NEAR(duration(dir / "videos/real.mp4"), 0.5, 0.05);
    EXPECT_EQ(fs::file_size(dir / "sounds/real.wav"), 44u + SAMPLE_RATE / 2 * 4u);

    // Links under the first hidden names this process would take: one to a
    // file of someone else's, one to a name that is not there.
    const std::string pid = std::to_string(getpid());
    lvtest::writeFile(dir / "victim", "mine");
    for (const std::string out : {"out.mp4", "out.wav"}) {
        SCOPED_TRACE(out);
        const std::string planted[] = {dir / ("." + out + "." + pid + "-0.part"),
                                       dir / ("." + out + "." + pid + "-1.part")};
        fs::create_symlink(dir / "victim", planted[0]);
        fs::create_symlink(dir / "nowhere", planted[1]);
        const std::vector<float> sound(SAMPLE_RATE / 10 * 2, 0.25f);
        if (out == "out.wav") {
            lvtest::writeWav(dir / out, sound);
        } else {
            lv::VideoOptions options;
            options.width = 64, options.height = 64, options.fps = 10;
            lv::VideoWriter writer;
            std::string error;
            const std::vector<unsigned char> picture(64 * 64 * 4, 128);
            EXPECT_TRUE(writer.open(dir / out, options, error) && writer.writeFrame(picture.data(), error) &&
                        writer.writeAudio(sound.data(), sound.size() / 2, error) && writer.close(error))
                << error;
        }
        EXPECT_TRUE(lvtest::readFile(dir / "victim") == "mine") << "written through a planted link";
        EXPECT_FALSE(fs::exists(dir / "nowhere"));
        EXPECT_FALSE(fs::is_symlink(dir / out));
        EXPECT_NEAR(duration(dir / out), 0.1, 0.05);
        for (const std::string& link : planted) {
            EXPECT_TRUE(fs::is_symlink(link)) << link;
            fs::remove(link);
        }
    }

    // Read-only files, in a folder anyone may write.
    ASSERT_EQ(chmod(dir.path().c_str(), 0755), 0);
    const std::string ro = dir / "ro";
    fs::create_directories(ro + "/f");
    for (const std::string& folder : {ro, ro + "/f"}) ASSERT_EQ(chmod(folder.c_str(), 0777), 0);
    for (const std::string& file : {ro + "/keep.mp4", ro + "/f/audio.wav"}) {
        lvtest::writeFile(file, "not yours");
        ASSERT_EQ(chmod(file.c_str(), 0444), 0);
    }
    for (const auto& [option, output, written] :
         {std::tuple{"--render", ro + "/keep.mp4", ro + "/keep.mp4"}, {"--frames", ro + "/f", ro + "/f/audio.wav"}}) {
        const auto r = run({"/usr/bin/python3", "-c",
                            "import os, sys\nif os.getuid() == 0: os.setgid(65534); os.setuid(65534)\n"
                            "os.execv(sys.argv[1], sys.argv[1:])",
                            player(), "--size", "64x64", "--duration", "0.2", option, output, dir / "tone.flac"},
                           {"HOME=" + ro});
        EXPECT_EQ(r.status, 1) << r.err;
        EXPECT_NE(r.err.find("cannot write " + written + ": Permission denied"), std::string::npos) << r.err;
        EXPECT_TRUE(lvtest::readFile(written) == "not yours") << written << " was replaced";
    }
    EXPECT_EQ(lvtest::partsIn(dir.path()), std::vector<std::string>{});
}

// The line of progress in a terminal 80 columns wide, from the player
// itself: every redraw fits on the one line, however far the render is.
TEST(Render, TheProgressLineFitsAnEightyColumnTerminal) {
    TempDir dir;
    lvtest::makeTone(dir / "tone.flac", 2.0);
    // util-linux's script gives the player a terminal of its own, as wide as stty makes it.
    const std::string command = "stty cols 80 && exec env -u COLUMNS '" + player() + "' --render '" +
                                dir / "out.mp4" + "' --size 64x64 --fps 30 '" + dir / "tone.flac" + "'";
    const std::string text = run({"/usr/bin/script", "-qec", command, "/dev/null"}).out;
    ASSERT_NE(text.find("wrote "), std::string::npos) << text;
    // Each redraw goes back to the line's start (and clears the rest of it).
    std::string lines = text;
    std::replace(lines.begin(), lines.end(), '\r', '\n');
    for (size_t clear; (clear = lines.find("\033[K")) != std::string::npos;) lines.erase(clear, 3);
    std::istringstream in(lines);
    int drawn = 0;
    for (std::string line; std::getline(in, line);) {
        // The closing line ("wrote ...") holds the path and may wrap; the progress may not.
        if (line.find('%') == std::string::npos || line.rfind("wrote ", 0) == 0) continue;
        ++drawn;
        EXPECT_LT(line.size(), 80u) << line;
    }
    EXPECT_GT(drawn, 0) << text;
}

// --highlight 5 of a track quiet but for five loud seconds is those five
// seconds, faded in and out; a track shorter than that is whole. The two
// make a teaser with a chapter each.
TEST(Render, AHighlightIsTheLoudestStretchOfEachTrackFadedInAndOut) {
    TempDir dir;
    std::vector<float> quietButFive(SAMPLE_RATE * 24 * 2);
    for (size_t i = 0; i < quietButFive.size(); ++i) {
        const double t = double(i / 2) / SAMPLE_RATE;
        const bool loud = t >= 11.0 && t < 16.0;
        quietButFive[i] = float((loud ? 0.5 : 0.01) * std::sin(2 * M_PI * (loud ? 440.0 : 220.0) * t));
    }
    lvtest::writeWav(dir / "1 quiet but five.wav", quietButFive);
    lvtest::makeTone(dir / "2 short.flac", 3.0);
    auto r = render({"--render", dir / "teaser.mp4", "--fps", "10", "--highlight", "5", dir / "1 quiet but five.wav",
                     dir / "2 short.flac"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NEAR(duration(dir / "teaser.mp4"), 8.0, 0.1);
    EXPECT_EQ(probe(dir / "teaser.mp4", "stream=nb_read_frames").substr(0, 18), "nb_read_frames=80\n");
    const std::string chapters = probe(dir / "teaser.mp4", "chapter=start_time");
    EXPECT_NE(chapters.find("start_time=0.000000\nstart_time=5.000000\n"), std::string::npos) << chapters;
    const std::vector<float> sound = soundOf(dir / "teaser.mp4");
    ASSERT_GE(sound.size() / 2, size_t(7.9 * SAMPLE_RATE));
    // The five loud seconds, whole: the quiet tone around them is 34 dB down.
    for (double t = 0.5; t < 4.5; t += 0.5) EXPECT_GT(rmsOf(sound, t, t + 0.5), 0.3) << "at " << t << " s";
    // Faded in, faded out (the tone is 0.35 RMS at full level).
    EXPECT_LT(rmsOf(sound, 0.0, 0.02), 0.02);
    EXPECT_LT(rmsOf(sound, 4.98, 5.0), 0.02);
    EXPECT_NEAR(rmsOf(sound, 0.2, 0.3), 0.35 * 0.5, 0.07) << "halfway into the fade";
    EXPECT_GT(rmsOf(sound, 6.0, 7.0), 0.3) << "the short track, whole";

    // The scene was warmed up on the music before the stretch: the first
    // frame is no empty field.
    auto cold = render({"--render", dir / "cold.mkv", "--fps", "10", "--duration", "0.1", dir / "2 short.flac"});
    ASSERT_EQ(cold.status, 0) << cold.err;
    auto brightness = [](const std::string& rgba) {
        double sum = 0;
        for (size_t i = 0; i < rgba.size(); ++i) sum += i % 4 == 3 ? 0 : (unsigned char)rgba[i];
        return sum / double(std::max<size_t>(rgba.size(), 1));
    };
    const double warm = brightness(decodedFrame(dir / "teaser.mp4", 0)),
                 coldStart = brightness(decodedFrame(dir / "cold.mkv", 0));
    EXPECT_GT(warm, 3 * coldStart) << "the first frame is as dark as a cold start's";
}
