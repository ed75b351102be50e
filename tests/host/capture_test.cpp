// Live sound from a real PulseAudio daemon, started here with a null sink: a
// tone played into the sink is captured from its monitor and lands in its
// spectrum bin; the player lists the sources and names them when asked for
// one that is not there.
#include <gtest/gtest.h>
#include <pulse/simple.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <thread>

#include "host_test_support.h"
#include "lv/capture.h"
#include "spectrum.h"

namespace {

class CaptureTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() { daemon = new hosttest::PulseDaemon; }
    static void TearDownTestSuite() {
        delete daemon;
        daemon = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(daemon->ok()) << daemon->error(); }
    static inline hosttest::PulseDaemon* daemon = nullptr;
};

}  // namespace

TEST_F(CaptureTest, TheDefaultOutputsMonitorIsListedAndChosen) {
    lv::CaptureServerInfo info;
    std::string error;
    ASSERT_TRUE(lv::queryCaptureSources(info, error)) << error;
    EXPECT_EQ(info.defaultMonitor, "lvtest.monitor");
    auto it = std::find_if(info.sources.begin(), info.sources.end(),
                           [](const lv::CaptureSource& s) { return s.name == "lvtest.monitor"; });
    ASSERT_NE(it, info.sources.end());
    EXPECT_TRUE(it->monitor);

    auto r = hosttest::run({hosttest::binary("lumenvortex"), "--list-sources"}, {"PULSE_SERVER=" + daemon->server()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("* lvtest.monitor"), std::string::npos) << r.out;
}

TEST_F(CaptureTest, AToneSentToTheOutputIsCapturedInItsBin) {
    std::mutex m;
    std::vector<float> captured;
    lv::CaptureStream capture;
    std::string error;
    ASSERT_TRUE(capture.start(
        "lvtest.monitor",
        [&](const float* frames, int count) {
            std::lock_guard<std::mutex> lock(m);
            captured.insert(captured.end(), frames, frames + count * 2);
        },
        error))
        << error;

    // Two seconds of 1 kHz played into the null sink, in the background.
    std::thread player([&] {
        pa_sample_spec spec{PA_SAMPLE_FLOAT32NE, 44100, 2};
        int err = 0;
        pa_simple* out = pa_simple_new(nullptr, "lvtest", PA_STREAM_PLAYBACK, "lvtest", "tone", &spec, nullptr,
                                       nullptr, &err);
        if (!out) return;
        std::vector<float> tone(4410 * 2);
        for (int block = 0; block < 20; ++block) {
            for (int i = 0; i < 4410; ++i)
                tone[size_t(i) * 2] = tone[size_t(i) * 2 + 1] =
                    0.5f * float(std::sin(2.0 * M_PI * 1000.0 * (block * 4410 + i) / 44100.0));
            pa_simple_write(out, tone.data(), tone.size() * sizeof(float), &err);
        }
        pa_simple_drain(out, &err);
        pa_simple_free(out);
    });

    // Wait for a loud stretch to come round through the monitor.
    auto loudTail = [&] {
        std::lock_guard<std::mutex> lock(m);
        const size_t need = SpectrumAnalyzer::WINDOW_FRAMES * 2;
        if (captured.size() < need) return false;
        float peak = 0;
        for (size_t i = captured.size() - need; i < captured.size(); ++i) peak = std::max(peak, std::fabs(captured[i]));
        return peak > 0.3f;
    };
    bool heard = hosttest::waitFor(loudTail, 15.0);
    std::vector<float> window;
    {
        std::lock_guard<std::mutex> lock(m);
        if (captured.size() >= SpectrumAnalyzer::WINDOW_FRAMES * 2)
            window.assign(captured.end() - SpectrumAnalyzer::WINDOW_FRAMES * 2, captured.end());
    }
    player.join();
    capture.stop();
    ASSERT_TRUE(heard) << "nothing loud came through the monitor";
    EXPECT_FALSE(capture.failed()) << capture.error();

    SpectrumAnalyzer analyzer;
    uint8_t spectrum[2][512], waveform[2][512];
    analyzer.compute(window.data(), spectrum, waveform);
    for (int ch = 0; ch < 2; ++ch)
        EXPECT_EQ(std::max_element(spectrum[ch], spectrum[ch] + 512) - spectrum[ch], 23) << "channel " << ch;
}

TEST_F(CaptureTest, AnUnknownSourceListsTheOnesThereAre) {
    auto r = hosttest::run({hosttest::binary("lumenvortex"), "--capture", "no.such.source"},
                           {"PULSE_SERVER=" + daemon->server()});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("unknown capture source \"no.such.source\""), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("lvtest.monitor"), std::string::npos) << r.err;

    // No server at all: said plainly.
    auto none = hosttest::run({hosttest::binary("lumenvortex"), "--list-sources"},
                              {"PULSE_SERVER=unix:/nonexistent/socket"});
    EXPECT_EQ(none.status, 1);
    EXPECT_NE(none.err.find("no sound server"), std::string::npos) << none.err;
}
