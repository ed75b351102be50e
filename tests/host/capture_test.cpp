// Live sound from a real PulseAudio daemon, started here with a null sink: a
// tone played into the sink is captured from its monitor and lands in its
// spectrum bin; the player lists the sources, names them when asked for one
// that is not there, and says so when there is no server at all. The server
// dies and comes back under a stream and under a running player (Xvfb).
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <mutex>
#include <sstream>
#include <thread>

#include "program_test_support.h"
#include "test_xserver.h"
#include "lv/capture.h"
#include "fft_spectrum_analyzer.h"

namespace {

// Two seconds of 1 kHz played into `sink`, as a desktop player plays.
void playTone(const std::string& sink) {
    lvtest::TempDir dir;
    lvtest::makeTone(dir / "tone.wav", 2.0);
    lvtest::run({"/usr/bin/paplay", "--device=" + sink, dir / "tone.wav"}, {}, 20.0);
}

// A capture stream that keeps what it hears and counts its frames and the
// loud ones.
struct Listener {
    lv::CaptureStream stream;
    std::atomic<long long> frames{0}, loud{0};
    std::mutex m;
    std::vector<float> heard;
    // The stream's thread writes into the members below it: it stops before
    // they go.
    ~Listener() { stream.stop(); }

    bool start(const std::string& source, std::string& error) {
        return stream.start(
            source,
            [this](const float* f, int count) {
                frames += count;
                loud += std::any_of(f, f + count * 2, [](float v) { return std::fabs(v) > 0.3f; });
                std::lock_guard<std::mutex> lock(m);
                heard.insert(heard.end(), f, f + count * 2);
            },
            error);
    }
    std::string notices() {
        std::string all, line;
        while (stream.notice(line)) all += line + "\n";
        return all;
    }
};

// The player lists the sources, names them when asked for one that is not
// there, and says when there is no server, naming PULSE_SERVER when it named
// the server tried, and only then.
void expectThePlayerNamesTheSources() {
    const std::string player = lvtest::binary("lumenvortex");
    auto list = lvtest::run({player, "--list-sources"});
    EXPECT_EQ(list.status, 0) << list.err;
    EXPECT_NE(list.out.find("* lvtest.monitor"), std::string::npos) << list.out;
    auto unknown = lvtest::run({player, "--capture", "no.such.source"});
    EXPECT_EQ(unknown.status, 2);
    for (const char* part : {"unknown capture source \"no.such.source\"", "lvtest.monitor",
                             "--capture takes a sound source, not a file"})
        EXPECT_NE(unknown.err.find(part), std::string::npos) << unknown.err;
    lvtest::TempDir empty;
    for (bool named : {true, false}) {
        auto none = lvtest::run({player, "--list-sources"},
                                named ? std::vector<std::string>{"PULSE_SERVER=unix:/nonexistent/socket"}
                                      : std::vector<std::string>{"PULSE_SERVER=", "XDG_RUNTIME_DIR=" + empty.path(),
                                                                 "PULSE_RUNTIME_PATH=" + empty.path(),
                                                                 "HOME=" + empty.path(), "PULSE_CLIENTCONFIG=/dev/null",
                                                                 "DISPLAY="});
        EXPECT_EQ(none.status, 1);
        EXPECT_NE(none.err.find("no sound server"), std::string::npos) << none.err;
        EXPECT_EQ(none.err.find("PULSE_SERVER=unix:/nonexistent/socket") != std::string::npos, named) << none.err;
        EXPECT_EQ(none.err.find("PULSE_SERVER") != std::string::npos, named) << none.err;
        EXPECT_EQ(none.err.find("is PulseAudio or PipeWire running?") != std::string::npos, !named) << none.err;
    }
}

// The server's clients other than pactl itself, one a line.
std::string clientsOf(lvtest::PulseDaemon& daemon) {
    std::string all;
    std::istringstream lines(daemon.pactl({"list", "short", "clients"}));
    for (std::string line; std::getline(lines, line);)
        if (line.find("pactl") == std::string::npos) all += line + "\n";
    return all;
}

size_t linesOf(const std::string& text) { return size_t(std::count(text.begin(), text.end(), '\n')); }

// After the server came back: sound again, the loss and the return said once
// each, and one connection a stream.
void expectBothComeBack(lvtest::PulseDaemon& daemon, std::initializer_list<Listener*> listeners) {
    for (Listener* l : listeners) {
        const long long before = l->frames;
        EXPECT_TRUE(lvtest::waitFor([&] { return l->frames > before + SAMPLE_RATE / 10; }, 20.0))
            << "no sound after the restart";
        EXPECT_FALSE(l->stream.failed()) << l->stream.error();
        std::string said;
        EXPECT_TRUE(lvtest::waitFor(
            [&] {
                return (said += l->notices()) ==
                       "the sound server went away: capture picks up again when it is back\n"
                       "the sound server is back: capture goes on from Monitor of LvTest\n";
            },
            20.0))
            << said;
    }
    std::string clients;
    EXPECT_TRUE(lvtest::waitFor([&] { return linesOf(clients = clientsOf(daemon)) == listeners.size(); }, 20.0))
        << clients;
}

}  // namespace

// A tone played into the null sink is heard through its monitor, in its bin.
// Then the user picks another output: unnamed capture moves to its monitor,
// and hears what plays there; a named source stays where it is. A microphone
// made the default source is never recorded unasked. The server restarts:
// both streams come back by themselves, and say so once.
TEST(Capture, AToneIsHeardInItsBinUnnamedCaptureFollowsTheOutputAndBothComeBackAfterARestart) {
    lvtest::PulseDaemon daemon;
    // Up when a client finds the null sink's monitor as the default source.
    ASSERT_TRUE(daemon.ok()) << daemon.error();
    std::string error;
    Listener named;
    ASSERT_TRUE(named.start("lvtest.monitor", error)) << error;
    // Two seconds of 1 kHz played into the null sink, in the background.
    std::thread tone([] { playTone("lvtest"); });
    // Wait for a loud stretch to come round through the monitor; take its last window.
    constexpr size_t kWindow = WINDOW_FRAMES * 2;
    std::vector<float> window;
    const bool heard = lvtest::waitFor(
        [&] {
            std::lock_guard<std::mutex> lock(named.m);
            if (named.heard.size() < kWindow) return false;
            window.assign(named.heard.end() - kWindow, named.heard.end());
            return std::any_of(window.begin(), window.end(), [](float v) { return std::fabs(v) > 0.3f; });
        },
        15.0);
    tone.join();
    ASSERT_TRUE(heard) << "nothing loud came through the monitor";
    EXPECT_FALSE(named.stream.failed()) << named.stream.error();
    {
        // Every frame is handed on: the tone starts and ends at a zero crossing,
        // so no sample may step further than the sine's steepest slope allows.
        // A frame lost at each buffer's edge steps twice as far, a hundred times
        // a second; a rare gap of the loaded server's is let pass.
        std::lock_guard<std::mutex> lock(named.m);
        const float steepest = float(0.5 * 2.0 * M_PI * 1000.0 / SAMPLE_RATE);
        int jumps = 0;
        for (size_t i = 2; i < named.heard.size(); ++i)
            jumps += std::fabs(named.heard[i] - named.heard[i - 2]) > 1.5f * steepest;
        EXPECT_LT(jumps, 8) << "frames lost on the way";
    }
    SpectrumAnalyzer analyzer;
    uint8_t spectrum[2][SPECTRUM_BINS], waveform[2][WAVEFORM_SAMPLES];
    analyzer.compute(window.data(), spectrum, waveform);
    for (int ch = 0; ch < 2; ++ch)
        EXPECT_EQ(std::max_element(spectrum[ch], spectrum[ch] + SPECTRUM_BINS) - spectrum[ch], 23) << "channel " << ch;
    expectThePlayerNamesTheSources();

    daemon.pactl({"load-module", "module-null-sink", "sink_name=second", "rate=" + std::to_string(SAMPLE_RATE),
                  "sink_properties=device.description=Second"});
    daemon.pactl({"load-module", "module-null-source", "source_name=mic"});
    daemon.pactl({"set-default-source", "mic"});
    Listener follower;
    ASSERT_TRUE(follower.start("", error)) << error;
    EXPECT_EQ(follower.stream.sourceName(), "lvtest.monitor") << "not the default source, a microphone";
    EXPECT_EQ(follower.stream.sourceDescription(), "Monitor of LvTest");
    const long long loudBefore = named.loud;

    daemon.pactl({"set-default-sink", "second"});
    EXPECT_TRUE(lvtest::waitFor([&] { return follower.stream.sourceName() == "second.monitor"; }, 20.0))
        << follower.stream.sourceName();
    EXPECT_TRUE(lvtest::waitFor([&] { return follower.notices() == "capture follows the output: Monitor of Second\n"; },
                                20.0));
    std::thread second([] { playTone("second"); });
    EXPECT_TRUE(lvtest::waitFor([&] { return follower.loud > 0; }, 20.0)) << "the new output's sound was not heard";
    second.join();
    EXPECT_EQ(named.stream.sourceName(), "lvtest.monitor");
    EXPECT_EQ(named.loud, loudBefore) << "the named source moved to the new output";

    // Restarted at once, then again after a while away: each loss and each
    // return said once, and back on one connection each.
    ASSERT_TRUE(daemon.restart()) << daemon.error();
    expectBothComeBack(daemon, {&follower, &named});
    daemon.stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_TRUE(daemon.start()) << daemon.error();
    expectBothComeBack(daemon, {&follower, &named});
}

// The sound server dies under a capturing player and comes back on its
// socket 1.5 s later: the player lives on, says one line for the loss and
// one for the return, records again on one connection and leaves the
// restarted server room for other clients. The next loss is said too; with
// the server left down the player stays quiet, and SIGTERM ends it.
TEST(Capture, ThePlayerOutlivesTheSoundServerGoingAndQuitsWhileItIsDown) {
    lvtest::XServer x;
    ASSERT_TRUE(x.running()) << x.error();
    lvtest::PulseDaemon daemon;
    ASSERT_TRUE(daemon.ok()) << daemon.error();
    lvtest::TempDir dir;
    const std::string log = dir / "player.log";
    lvtest::Child player({lvtest::binary("lumenvortex"), "--capture", "--size", "320x200"},
                         {"DISPLAY=" + x.display(), "WAYLAND_DISPLAY=", "DBUS_SESSION_BUS_ADDRESS="}, log);
    const auto recording = [&] {
        return linesOf(daemon.pactl({"list", "short", "source-outputs"})) == 1 && linesOf(clientsOf(daemon)) == 1;
    };
    ASSERT_TRUE(lvtest::waitFor(recording, 30.0)) << lvtest::readFile(log);
    std::this_thread::sleep_for(std::chrono::seconds(2));

    const std::string gone = "lumenvortex: the sound server went away: capture picks up again when it is back\n";
    const std::string back = "lumenvortex: the sound server is back: capture goes on from Monitor of LvTest\n";
    const auto count = [&](const std::string& line) {
        const std::string text = lvtest::readFile(log);
        size_t n = 0;
        for (size_t at = text.find(line); at != std::string::npos; at = text.find(line, at + 1)) ++n;
        return n;
    };
    daemon.stop();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_TRUE(daemon.start()) << daemon.error();
    EXPECT_TRUE(lvtest::waitFor([&] { return count(back) == 1; }, 30.0)) << lvtest::readFile(log);
    EXPECT_TRUE(player.running()) << lvtest::readFile(log);
    EXPECT_EQ(count(gone), 1u) << lvtest::readFile(log);
    EXPECT_NE(daemon.pactl({"info"}).find("Server Name"), std::string::npos) << "the restarted server is full";
    EXPECT_TRUE(lvtest::waitFor(recording, 30.0)) << clientsOf(daemon) << lvtest::readFile(log);

    daemon.stop();
    EXPECT_TRUE(lvtest::waitFor([&] { return count(gone) == 2; }, 30.0)) << "the second loss went unsaid";
    const size_t said = lvtest::readFile(log).size();
    std::this_thread::sleep_for(std::chrono::seconds(3));
    EXPECT_EQ(lvtest::readFile(log).substr(said), "") << "the player is not quiet while the server is down";
    player.signal(SIGTERM);
    EXPECT_EQ(player.wait(10.0), 0) << lvtest::readFile(log).substr(0, 4000);
}
