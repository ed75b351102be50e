// The player's host layer driving the real Lumenvortex.so in this process,
// offscreen: registration, what a tagged file's track record and cover look
// like when they reach the plug-in, and that the plug-in draws the cover.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "host_test_support.h"
#include "MacMemory.h"
#include "plugin_host.h"
#include "spectrum.h"
#include "track_record.h"

namespace {

constexpr int W = 320, H = 200;

struct Clock {
    long long micros = 0;
};
long long clockNow(void* u) { return static_cast<Clock*>(u)->micros; }
void clockSleep(void* u, long long d) { static_cast<Clock*>(u)->micros += d > 0 ? d : 0; }

// One plug-in per process: its scene is a set of globals.
class PluginHostTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        host = new PluginHost;
        std::string error;
        loaded = host->loadFrom(hosttest::binary("Lumenvortex.so"), error) &&
                 host->setClock(&clockNow, &clockSleep, &clock) && host->start(error);
        loadError = error;
        pixels.assign(size_t(W) * H * 4, 0);
        port.kind = LV_PORT_OFFSCREEN;
        port.width = W;
        port.height = H;
        port.pixels = pixels.data();
    }
    void SetUp() override { ASSERT_TRUE(loaded) << loadError; }

    // One frame 1/60 s after the last, on a tone.
    static void frame() {
        static SpectrumAnalyzer analyzer;
        std::vector<float> w(SpectrumAnalyzer::WINDOW_FRAMES * 2);
        for (size_t i = 0; i < w.size(); ++i) w[i] = 0.3f * float(std::sin(double(i / 2) * 0.3));
        RenderVisualData data{};
        data.numSpectrumChannels = 2;
        analyzer.compute(w.data(), data.spectrumData, data.waveformData);
        clock.micros += 1000000 / 60;
        host->render(data, 0);
    }

    static inline PluginHost* host = nullptr;
    static inline bool loaded = false;
    static inline std::string loadError;
    static inline Clock clock;
    static inline std::vector<unsigned char> pixels;
    static inline LVPort port{};
};

}  // namespace

TEST_F(PluginHostTest, PluginRegistersWithItsNameAndDataRate) {
    EXPECT_EQ(host->mPluginName, "Lumenvortex");
    EXPECT_EQ(host->mTimeBetweenDataInMS, 16u);
    EXPECT_NE(host->mHandler, nullptr);
    ASSERT_GE(host->mRequests.size(), 1u);
    EXPECT_EQ(host->mRequests[0], FourCC("rvis"));
}

TEST_F(PluginHostTest, TaggedFileReachesThePluginWithItsCover) {
    hosttest::TempDir dir;
    hosttest::AudioSpec spec;
    // Outside the Basic Multilingual Plane too: the record is UTF-16.
    spec.tags = {{"title", "Caf\xC3\xA9 \xE2\x98\x83 \xF0\x9F\x8E\xB5"}, {"artist", "Gr\xC3\xBCn"}, {"album", "Farben"}};
    spec.picture = hosttest::solidPng(64, 0, 255, 0);
    spec.pictureSide = 64;
    std::string error;
    ASSERT_TRUE(hosttest::makeAudioFile(dir / "green.flac", spec, error)) << error;
    lv::TrackMeta meta;
    ASSERT_TRUE(lv::probeTrack(dir / "green.flac", meta, error)) << error;

    host->show(&port, W, H);
    frame();
    ASSERT_GT(port.frameCount, 0u) << "the plug-in drew nothing";
    int coverRequests = host->mCoverRequests;
    host->play(meta);   // shown: the plug-in builds its overlay now and asks for the cover

    const ITTrackInfo& r = host->mLastTrackRecord;
    EXPECT_EQ(r.name[0], 9);   // "Café ☃ " is 7 units, the note a surrogate pair
    EXPECT_EQ(r.name[8], 0xD83C);
    EXPECT_EQ(r.name[9], 0xDFB5);
    EXPECT_EQ(uniStr255ToUtf8(r.name), spec.tags[0].second);
    EXPECT_EQ(uniStr255ToUtf8(r.artist), "Gr\xC3\xBCn");
    EXPECT_EQ(uniStr255ToUtf8(r.album), "Farben");
    EXPECT_EQ(uniStr255ToUtf8(r.fileName), "green.flac");
    EXPECT_EQ(r.recordLength, sizeof(ITTrackInfo));

    EXPECT_EQ(host->mCoverRequests, coverRequests + 1);
    EXPECT_EQ(host->mLastCoverFormat, kCoverArtPNG);
    EXPECT_EQ(host->mLastCoverAnswer, spec.picture);

    // The overlay's 64 x 64 cover sits 20 pixels from the left and bottom.
    for (int i = 0; i < 3; ++i) frame();
    long r_ = 0, g_ = 0, b_ = 0, n = 0;
    for (int y = H - 74; y < H - 30; ++y)
        for (int x = 30; x < 74; ++x) {
            const unsigned char* p = &pixels[(size_t(y) * W + x) * 4];
            r_ += p[0];
            g_ += p[1];
            b_ += p[2];
            ++n;
        }
    EXPECT_GT(g_ / n, 180) << "cover area r " << r_ / n << " g " << g_ / n << " b " << b_ / n;
    EXPECT_LT(r_ / n, 80);
    EXPECT_LT(b_ / n, 80);

    // A track without art: a null handle, and the plug-in draws no cover.
    lv::TrackMeta bare;
    bare.title = "Bare";
    host->changeTrack(bare);
    EXPECT_EQ(host->mCoverRequests, coverRequests + 2);
    EXPECT_TRUE(host->mLastCoverAnswer.empty());
    EXPECT_EQ(host->mLastCoverFormat, 0u);
    host->hide();
}
