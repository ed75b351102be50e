// The lumenvortex element in real pipelines, each its own gst-launch-1.0
// process (the scene is one per process, so each run starts as a user's
// would): a song to an H.264 file, the same frames as the player's render,
// tags to the overlay and track changes, playbin's visualisation, and a
// machine without GL.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "gst_test_env.h"
#include "program_test_support.h"
#include "test_pictures.h"

namespace {

using namespace lvtest;

constexpr int kW = 320, kH = 180;

struct Env {
    Env() { useTheBuildsElement(); }
} gEnv;

// gst-launch-1.0 on `pipeline` (tokens split at spaces; a token may hold
// spaces when given on its own in `extra`).
RunResult launch(const std::string& pipeline, const std::vector<std::string>& extra = {},
                 std::vector<std::string> env = {}) {
    std::vector<std::string> args = {"/usr/bin/gst-launch-1.0", "-q"};
    std::istringstream words(pipeline);
    for (std::string w; words >> w;) args.push_back(w);
    args.insert(args.end(), extra.begin(), extra.end());
#ifdef LV_GST_CHILD_PRELOAD
    env.insert(env.end(), {"LD_PRELOAD=" LV_GST_CHILD_PRELOAD, "ASAN_OPTIONS=detect_leaks=0"});
#endif
    return run(args, env, 600);
}

// A beat: an 80 Hz kick twice a second, a 3 kHz tick four times, at 44.1 kHz.
void makeBeat(const std::string& path, double seconds, const std::vector<std::string>& metadata = {},
              const std::vector<uint8_t>& cover = {}, const TempDir* dir = nullptr) {
    const std::string kick = "0.6*sin(2*PI*80*t)*lt(mod(t\\,0.5)\\,0.12)";
    std::vector<std::string> args = {"/usr/bin/ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i",
                                     "aevalsrc='" + kick + "+0.2*sin(2*PI*3000*t)*lt(mod(t\\,0.25)\\,0.05)|" + kick +
                                         "+0.1*sin(2*PI*700*t)':s=44100:d=" + std::to_string(seconds)};
    if (!cover.empty()) {
        const std::string picture = *dir / "cover.png";
        writeFile(picture, std::string(cover.begin(), cover.end()));
        args.insert(args.end(), {"-i", picture, "-map", "0", "-map", "1", "-c:v", "copy", "-disposition:v",
                                 "attached_pic"});
    }
    for (const std::string& m : metadata) args.insert(args.end(), {"-metadata", m});
    args.push_back(path);
    const RunResult r = run(args);
    ASSERT_EQ(r.status, 0) << r.err;
}

// RGBx frames of kW x kH, one string each.
std::vector<std::string> frames(const std::string& rawPath) {
    const std::string all = readFile(rawPath);
    const size_t size = size_t(kW) * kH * 4;
    std::vector<std::string> out;
    for (size_t at = 0; at + size <= all.size(); at += size) out.push_back(all.substr(at, size));
    return out;
}

std::string renderTo(const std::string& song, const std::string& raw, const std::string& options = "",
                     const std::string& format = "RGBx") {
    return "filesrc location=" + song + " ! decodebin ! audioconvert ! lumenvortex " + options +
           " ! video/x-raw,format=" + format + ",width=" + std::to_string(kW) + ",height=" + std::to_string(kH) +
           ",framerate=60/1 ! filesink location=" + raw;
}

// PSNR over R, G and B of two RGBx frames (99 when equal).
double psnr(const std::string& a, const std::string& b) {
    double sum = 0;
    long n = 0;
    for (size_t i = 0; i < a.size(); ++i) {
        if (i % 4 == 3) continue;
        const double d = double((unsigned char)a[i]) - double((unsigned char)b[i]);
        sum += d * d;
        ++n;
    }
    return sum == 0 ? 99.0 : 10 * std::log10(255.0 * 255.0 / (sum / double(n)));
}

// Whether two frames differ inside, and outside, a box (x0, y0)-(x1, y1).
struct Difference {
    long inside = 0, outside = 0;
};
Difference differ(const std::string& a, const std::string& b, int x0, int y0, int x1, int y1) {
    Difference d;
    for (int y = 0; y < kH; ++y)
        for (int x = 0; x < kW; ++x) {
            const size_t i = (size_t(y) * kW + x) * 4;
            if (a.compare(i, 3, b, i, 3) == 0) continue;
            (x >= x0 && x < x1 && y >= y0 && y < y1 ? d.inside : d.outside)++;
        }
    return d;
}

TEST(GstPipeline, RendersASongToAnH264FileOfItsLengthWhoseFramesMove) {
    TempDir dir;
    makeBeat(dir / "song.flac", 2.0);
    const RunResult r = launch("filesrc location=" + dir / "song.flac" +
                               " ! decodebin ! audioconvert ! lumenvortex ! video/x-raw,width=320,height=180,"
                               "framerate=30/1 ! videoconvert ! x264enc ! mp4mux ! filesink location=" +
                               dir / "out.mp4");
    ASSERT_EQ(r.status, 0) << r.err;
    const RunResult probe = run({"/usr/bin/ffprobe", "-v", "error", "-count_frames", "-show_entries",
                                 "stream=codec_name,width,height,nb_read_frames,duration", "-of", "default=nw=1",
                                 dir / "out.mp4"});
    ASSERT_EQ(probe.status, 0) << probe.err;
    EXPECT_NE(probe.out.find("codec_name=h264"), std::string::npos) << probe.out;
    EXPECT_NE(probe.out.find("width=320\nheight=180"), std::string::npos) << probe.out;
    EXPECT_NE(probe.out.find("nb_read_frames=60"), std::string::npos) << probe.out;
    EXPECT_NE(probe.out.find("duration=2.0"), std::string::npos) << probe.out;
    // Frames a second apart, decoded again: the picture moved.
    const RunResult decoded = run({"/usr/bin/ffmpeg", "-v", "error", "-i", dir / "out.mp4", "-vf",
                                   "select='eq(n\\,15)+eq(n\\,45)'", "-vsync", "0", "-f", "rawvideo", "-pix_fmt",
                                   "rgb0", dir / "two.raw"});
    ASSERT_EQ(decoded.status, 0) << decoded.err;
    const std::vector<std::string> two = frames(dir / "two.raw");
    ASSERT_EQ(two.size(), 2u);
    EXPECT_LT(psnr(two[0], two[1]), 30.0) << "the frames a second apart should differ";
}

// The element and `lumenvortex --render` on the same song at the same size
// and rate draw the same frames: the scene's clock is the running time and
// the spectrum is taken at the same samples.
TEST(GstPipeline, DrawsThePlayersRenderFramesForTheSameSound) {
    TempDir dir;
    makeBeat(dir / "song.flac", 3.0, {"title=Beat", "artist=Tester"});
    const RunResult player = run({binary("lumenvortex"), "--frames", dir / "render", "--size", "320x180", "--fps",
                                  "60", dir / "song.flac"},
                                 {}, 600);
    ASSERT_EQ(player.status, 0) << player.err;
    const RunResult png = run({"/usr/bin/ffmpeg", "-v", "error", "-i", dir / "render/frame-%06d.png", "-f",
                               "rawvideo", "-pix_fmt", "rgb0", dir / "render.raw"});
    ASSERT_EQ(png.status, 0) << png.err;
    const RunResult r = launch(renderTo(dir / "song.flac", dir / "gst.raw"));
    ASSERT_EQ(r.status, 0) << r.err;
    const std::vector<std::string> ours = frames(dir / "gst.raw"), theirs = frames(dir / "render.raw");
    ASSERT_EQ(ours.size(), 180u);
    ASSERT_EQ(ours.size(), theirs.size());
    double worst = 99;
    for (size_t n = 0; n < ours.size(); ++n) worst = std::min(worst, psnr(ours[n], theirs[n]));
    EXPECT_GE(worst, 45.0) << "the worst frame's PSNR against the player's render";
}

// The same picture in each format the element gives: BGRx blue first, RGBA
// opaque.
TEST(GstPipeline, EachFormatCarriesTheSamePicture) {
    TempDir dir;
    makeBeat(dir / "song.flac", 0.25);
    for (const char* format : {"RGBx", "BGRx", "RGBA"})
        ASSERT_EQ(launch(renderTo(dir / "song.flac", dir / format, "", format)).status, 0) << format;
    const std::string rgbx = frames(dir / "RGBx").back(), bgrx = frames(dir / "BGRx").back(),
                      rgba = frames(dir / "RGBA").back();
    long lit = 0;
    for (size_t i = 0; i < rgbx.size(); i += 4) {
        ASSERT_EQ(rgbx[i], bgrx[i + 2]) << "pixel " << i / 4;
        ASSERT_EQ(rgbx[i + 1], bgrx[i + 1]);
        ASSERT_EQ(rgbx[i + 2], bgrx[i]);
        ASSERT_EQ(rgbx.compare(i, 3, rgba, i, 3), 0) << "pixel " << i / 4;
        ASSERT_EQ((unsigned char)rgba[i + 3], 255) << "pixel " << i / 4;
        lit += rgbx[i] != rgbx[i + 2];
    }
    EXPECT_GT(lit, 100) << "the picture should have colour for the order to show";
}

// A title shows the overlay (lower left) and changes nothing else; a cover
// adds its square; a second track with other tags is a track change, which
// moves the scene to the next mode when cycle-modes is on.
TEST(GstPipeline, TagsShowTheOverlayAndATrackChangeTurnsTheMode) {
    TempDir dir;
    makeBeat(dir / "plain.flac", 1.0);
    makeBeat(dir / "titled.flac", 1.0, {"title=Overlay Title", "artist=Someone", "album=Record"});
    const std::vector<uint8_t> cover = lvtest::makePNG(64, 64, lvtest::solid({250, 20, 20, 255}));
    makeBeat(dir / "covered.flac", 1.0, {"title=Overlay Title", "artist=Someone", "album=Record"}, cover, &dir);
    makeBeat(dir / "second.flac", 1.0, {"title=Second Song", "artist=Someone Else"});
    for (const char* name : {"plain", "titled", "covered"})
        ASSERT_EQ(launch(renderTo(dir / name + std::string(".flac"), dir / name + std::string(".raw"),
                                  "cycle-modes=false")).status, 0) << name;
    const std::vector<std::string> plain = frames(dir / "plain.raw"), titled = frames(dir / "titled.raw"),
                                   covered = frames(dir / "covered.raw");
    ASSERT_EQ(plain.size(), 60u);
    ASSERT_EQ(titled.size(), 60u);
    ASSERT_EQ(covered.size(), 60u);
    // The overlay: the lower left, where the name (and the cover) go.
    const Difference title = differ(plain[20], titled[20], 0, kH - 90, kW, kH);
    EXPECT_GT(title.inside, 50) << "the title should be drawn";
    EXPECT_EQ(title.outside, 0) << "a title changes nothing but the overlay";
    const Difference square = differ(titled[20], covered[20], 20, kH - 84, 84, kH - 20);
    EXPECT_GT(square.inside, 500) << "the cover should fill its square";

    // Two songs one after the other, with the mode cycling on and off (the
    // decoders linked in order: concat plays its pads in the order they came).
    const std::string two = "concat name=c ! audioconvert ! lumenvortex cycle-modes=";
    const std::string rest = " ! video/x-raw,format=RGBx,width=320,height=180,framerate=60/1 ! filesink location=";
    const std::string sources = " filesrc location=" + dir / "titled.flac" + " ! flacparse ! flacdec ! c. filesrc location=" +
                                dir / "second.flac" + " ! flacparse ! flacdec ! c.";
    ASSERT_EQ(launch(two + "true" + rest + dir / "cycling.raw" + sources).status, 0);
    ASSERT_EQ(launch(two + "false" + rest + dir / "staying.raw" + sources).status, 0);
    const std::vector<std::string> cycling = frames(dir / "cycling.raw"), staying = frames(dir / "staying.raw");
    ASSERT_EQ(cycling.size(), 120u);
    ASSERT_EQ(staying.size(), 120u);
    EXPECT_TRUE(cycling[50] == staying[50]) << "the same until the second song";
    const Difference turned = differ(cycling[90], staying[90], 0, kH - 90, kW, kH);
    EXPECT_GT(turned.outside, 1000) << "the second song's tags should have turned the mode";
}

// The particles grow to their target over some seconds: the last frame of
// two seconds shows the difference.
TEST(GstPipeline, PropertiesChangeThePicture) {
    TempDir dir;
    makeBeat(dir / "song.flac", 2.0);
    ASSERT_EQ(launch(renderTo(dir / "song.flac", dir / "plain.raw")).status, 0);
    ASSERT_EQ(launch(renderTo(dir / "song.flac", dir / "mode3.raw", "mode=3")).status, 0);
    ASSERT_EQ(launch(renderTo(dir / "song.flac", dir / "fewer.raw", "renderer=gles particles=25")).status, 0);
    const std::vector<std::string> plain = frames(dir / "plain.raw"), mode3 = frames(dir / "mode3.raw"),
                                   fewer = frames(dir / "fewer.raw");
    ASSERT_EQ(plain.size(), 120u);
    ASSERT_EQ(mode3.size(), 120u);
    ASSERT_EQ(fewer.size(), 120u);
    EXPECT_LT(psnr(plain[119], mode3[119]), 30.0) << "mode 3 is another picture";
    EXPECT_LT(psnr(plain[119], fewer[119]), 40.0) << "25 particles are another picture";
    long lit = 0;
    for (size_t i = 0; i < fewer[119].size(); i += 4)
        lit += (unsigned char)fewer[119][i] + (unsigned char)fewer[119][i + 1] > 40;
    EXPECT_GT(lit, 100) << "the ES renderer should draw";
}

// Headless playbin with the element as its visualisation: every frame of
// the song reaches the video sink.
TEST(GstPipeline, PlaybinPlaysWithItAsItsVisualisation) {
    TempDir dir;
    makeBeat(dir / "song.flac", 2.0, {"title=Playbin Song"});
    const RunResult r =
        launch("playbin uri=file://" + dir / "song.flac" + " flags=audio+vis vis-plugin=lumenvortex audio-sink=fakesink",
               {"video-sink=videoconvert ! video/x-raw,format=RGBx,width=320,height=180 ! multifilesink sync=false "
                "max-files=2 location=" + dir / "frame-%05d.raw"});
    ASSERT_EQ(r.status, 0) << r.err;
    // multifilesink numbers every frame and keeps the last two.
    EXPECT_TRUE(std::filesystem::exists(dir / "frame-00119.raw")) << "120 frames for 2 s at 60 fps";
    EXPECT_FALSE(std::filesystem::exists(dir / "frame-00120.raw"));
}

// Without any GL driver the bus carries an error that names what to install,
// and gst-launch fails rather than write empty frames.
TEST(GstPipeline, WithoutGLTheBusSaysWhatToInstall) {
    const RunResult r = launch("audiotestsrc num-buffers=5 ! lumenvortex ! fakesink", {},
                               {"__EGL_VENDOR_LIBRARY_DIRS=/nonexistent", "__EGL_VENDOR_LIBRARY_FILENAMES="});
    EXPECT_NE(r.status, 0);
    EXPECT_NE(r.err.find("no OpenGL for the visualizer: install"), std::string::npos) << r.err;
}

}  // namespace
