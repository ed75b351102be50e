// The player's host layer driving the real Lumenvortex.so in this process,
// offscreen: registration, what tagged files' track records and covers look
// like when they reach the plug-in, and that the plug-in draws the cover.
#include <gtest/gtest.h>

#include <algorithm>

#include "program_test_support.h"
#include "MacMemory.h"
#include "gl_test_env.h"
#include "plugin_host.h"
#include "test_pictures.h"
#include "track_record.h"
#include "lv/utf.h"

TEST(PluginHost, TaggedFilesReachThePluginWithTheirRecordAndCover) {
    constexpr int W = 320, H = 200;
    PluginHost host;
    long long micros = 0;
    std::string error;
    ASSERT_TRUE(host.loadFrom(lvtest::binary("Lumenvortex.so"), error)) << error;
    ASSERT_TRUE(host.setClock([](void* u) { return *static_cast<long long*>(u); },
                              [](void* u, long long d) { *static_cast<long long*>(u) += std::max(d, 0LL); }, &micros));
    ASSERT_TRUE(host.start(error)) << error;
    EXPECT_EQ(host.mPluginName, "Lumenvortex");
    EXPECT_EQ(host.mTimeBetweenDataInMS, 16u);
    ASSERT_FALSE(host.mRequests.empty());
    EXPECT_EQ(host.mRequests[0], FourCC("rvis"));

    lvtest::OffscreenPort screen(W, H);
    LVPort& port = screen.port;
    auto renderFrames = [&](int n) {
        RenderVisualData data{};
        data.numSpectrumChannels = 2;
        for (int i = 0; i < n; ++i, micros += 1000000 / 60) host.render(data, 0);
    };
    host.show(&port, W, H);
    renderFrames(1);
    ASSERT_GT(port.frameCount, 0u) << "the plug-in drew nothing";

    lvtest::TempDir dir;
    struct Case {
        std::string file;
        std::vector<uint8_t> picture;
        OSType format;
        int channel;   // the cover's colour
    };
    const Case cases[] = {{"green.flac", lvtest::makePNG(64, 64, lvtest::solid({0, 255, 0, 255})), kCoverArtPNG, 1},
                          {"blue.mp3", lvtest::makeJPEG(64, 64, lvtest::solid({0, 0, 255, 255})), kCoverArtJPEG, 2}};
    for (const Case& c : cases) {
        lvtest::ToneFile tone;
        // Outside the Basic Multilingual Plane too: the record is UTF-16.
        tone.tags = {{"title", "Caf\xC3\xA9 \xE2\x98\x83 \xF0\x9F\x8E\xB5"}, {"artist", "Gr\xC3\xBCn"},
                     {"album", "Farben"}, {"track", "3/12"}, {"date", "2019-05-01"}};
        tone.picture = c.picture;
        ASSERT_TRUE(lvtest::makeAudioFile(dir / c.file, tone, error)) << error;
        lv::TrackMeta meta;
        ASSERT_TRUE(lv::probeTrack(dir / c.file, meta, error)) << error;
        EXPECT_EQ(std::vector<int>({meta.trackNumber, meta.year}), std::vector<int>({3, 2019})) << c.file;
        EXPECT_NEAR(double(meta.durationMs), 1000.0, 60.0) << c.file;

        // Shown: the plug-in builds its overlay at once and asks for the cover.
        const int coverRequests = host.mCoverRequests;
        if (&c == cases) host.play(meta);
        else host.changeTrack(meta);
        const ITTrackInfo& r = host.mLastTrackRecord;
        // "Café ☃ " is 7 units, the note a surrogate pair; the length unit is
        // checked by the read-back below, which stops where it says.
        EXPECT_EQ(r.name[8], 0xD83C);
        EXPECT_EQ(r.name[9], 0xDFB5);
        EXPECT_EQ(uniStr255ToUtf8(r.name), tone.tags[0].second);
        EXPECT_EQ(uniStr255ToUtf8(r.artist) + "|" + uniStr255ToUtf8(r.album) + "|" + uniStr255ToUtf8(r.fileName),
                  "Gr\xC3\xBCn|Farben|" + c.file);
        EXPECT_EQ(host.mCoverRequests, coverRequests + 1);
        EXPECT_EQ(host.mLastCoverFormat, c.format);
        EXPECT_EQ(host.mLastCoverAnswer, c.picture) << c.file;

        // The overlay's 64 x 64 cover sits 20 pixels from the left and bottom.
        renderFrames(3);
        long sum[3] = {0, 0, 0};
        const long n = 44 * 44;
        for (int y = H - 74; y < H - 30; ++y)
            for (int x = 30; x < 74; ++x)
                for (int k = 0; k < 3; ++k) sum[k] += port.pixels[(size_t(y) * W + x) * 4 + k];
        for (int k = 0; k < 3; ++k)
            EXPECT_TRUE(k == c.channel ? sum[k] / n > 180 : sum[k] / n < 80)
                << c.file << ": cover area r " << sum[0] / n << " g " << sum[1] / n << " b " << sum[2] / n;
    }

    // A track without art: a null handle, and the plug-in draws no cover.
    // Its title is too long to read: cut at the length the window title
    // keeps to. Longer strings still are cut in the record before the
    // surrogate pair that would end one unit past its 255.
    lv::TrackMeta bare;
    bare.title = std::string(254, 'a') + "\xF0\x9F\x8E\xB5";
    const int coverRequests = host.mCoverRequests;
    host.changeTrack(bare);
    EXPECT_EQ(host.mCoverRequests, coverRequests + 1);
    EXPECT_TRUE(host.mLastCoverAnswer.empty());
    EXPECT_EQ(host.mLastCoverFormat, 0u);
    EXPECT_EQ(uniStr255ToUtf8(host.mLastTrackRecord.name), std::string(lv::kMaxTagBytes, 'a') + " \u2026");
    ITUniStr255 record;
    setUniStr255(record, bare.title);
    EXPECT_EQ(uniStr255ToUtf8(record), std::string(254, 'a'));
    host.hide();
}
