// The track channel: corvane's lines on the frame port + 1 for real tagged
// files played one after the other, what it does when that port is taken
// and when clients that never read fill it, and the reading side
// (track_line.h) against hostile input.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <thread>

#include "corvane_process.h"
#include "track_line.h"

namespace {

// The next `size` bytes of a connection as text ("" past `seconds`).
std::string readText(int fd, size_t size, double seconds) {
    std::string text(size, '\0');
    text.resize(lvtest::readFor(fd, reinterpret_cast<uint8_t*>(text.data()), size, seconds));
    return text;
}

// What a line is read as, in one string to compare.
std::string fields(const lv::TrackMeta& m) { return m.title + "|" + m.artist + "|" + m.album; }

// A good line of exactly `size` bytes, without a newline.
std::string padded(size_t size) {
    const std::string head = "{\"title\":\"", tail = "\"}";
    return head + std::string(size - head.size() - tail.size(), 'x') + tail;
}

// The line corvane writes for a track with no album; `source` for the
// capture source's, whose album is left out here.
std::string lineOf(const std::string& title, const std::string& artist, bool source = false) {
    const std::string head = "{\"title\":\"" + title + "\",\"artist\":\"" + artist + "\",";
    return source ? head : head + "\"album\":\"\"}\n";
}

}  // namespace

// Each track is one escaped line, to the client already there and at once to
// a new one. Then a reader that pauses while many tracks change: back, it
// reads the line it stopped at and then the newest, not every line it missed
// (left queued in its own receive buffer, they would keep it behind by as many
// songs).
TEST(CorvaneTracks, EachTrackIsOneEscapedLineLateClientsGetTheCurrentOneAndPausedOnesTheNewest) {
    lvtest::TempDir dir;
    // A quote, a backslash, a tab and characters beyond ASCII (one outside
    // the Basic Multilingual Plane).
    const std::string title = "Say \"Hi\"\t\\ Caf\xC3\xA9 \xF0\x9F\x8E\xB5";
    lvtest::makeTone(dir / "1.flac", 1.0, {{"title", title}, {"artist", "Ana"}, {"album", "Nuit"}});
    lvtest::makeTone(dir / "2.flac", 3.0, {{"title", "Second"}, {"artist", "B"}});
    constexpr int kTracks = 100;
    auto name = [](int k) { return "t" + std::to_string(1000 + k).substr(1); };   // t000, t001, ...
    // Short tracks, and a last one long enough to be read while it plays.
    std::filesystem::create_directory(dir / "many");
    for (int k = 0; k < kTracks; ++k)
        lvtest::writeWav(dir / ("many/" + name(k) + ".wav"),
                         std::vector<float>(k + 1 < kTracks ? 2 * 1323 : 2 * 44100 * 4, 0.1f));

    cvtest::Corvane server({"--mute", "--port", "0", dir / "1.flac", dir / "2.flac", dir / "many"});
    const int port = server.waitForPort();
    ASSERT_GT(port, 0);
    EXPECT_NE(server.errors().find("track names on 127.0.0.1:" + std::to_string(port + 1)), std::string::npos);
    const std::string line1 =
        "{\"title\":\"Say \\\"Hi\\\"\\t\\\\ Caf\xC3\xA9 \xF0\x9F\x8E\xB5\",\"artist\":\"Ana\",\"album\":\"Nuit\"}\n";
    const std::string line2 = lineOf("Second", "B");
    const int early = lvtest::connectClient(port + TRACK_PORT_OFFSET);
    ASSERT_EQ(readText(early, line1.size(), 10.0), line1);
    lv::TrackMeta got;
    ASSERT_TRUE(parseTrackLine(line1, got));
    EXPECT_EQ(fields(got), title + "|Ana|Nuit");
    EXPECT_EQ(readText(early, line2.size(), 10.0), line2);
    const int late = lvtest::connectClient(port + TRACK_PORT_OFFSET);
    EXPECT_EQ(readText(late, line2.size(), 2.0), line2);
    EXPECT_EQ(readText(early, 1, 0.3), "") << "a line without a change";
    close(late);

    // The pause: until the last track plays.
    const std::string last = name(kTracks - 1);
    ASSERT_TRUE(lvtest::waitFor([&] { return server.errors().find("\"" + last + "\"") != std::string::npos; }, 30.0))
        << server.errors();
    TrackLineReader reader;
    std::vector<std::string> titles;
    char buffer[4096];
    while (titles.empty() || titles.back() != last) {
        pollfd p{early, POLLIN, 0};
        if (poll(&p, 1, 10000) != 1) break;
        const ssize_t n = recv(early, buffer, sizeof buffer, 0);
        if (n <= 0) break;
        reader.feed(buffer, size_t(n), [&](std::string_view line) {
            lv::TrackMeta m;
            titles.push_back(parseTrackLine(line, m) ? m.title : "(bad line)");
        });
    }
    ASSERT_FALSE(titles.empty());
    EXPECT_EQ(titles.back(), last);
    EXPECT_LE(titles.size(), 2u) << "stale lines after the pause, from " << titles.front();
    close(early);
}

TEST(CorvaneTracks, ATakenTrackPortLeavesTheFramesGoing) {
    // Other tests open and close loopback connections all the while, so the
    // port above a free one may be taken (or lingering): try a few.
    int port = -1, blocker = -1;
    for (int tries = 0; tries < 50 && blocker < 0; ++tries) {
        port = lvtest::unusedPort();
        blocker = lvtest::holdPort(port + 1);
    }
    ASSERT_GE(blocker, 0) << "no free pair of ports on loopback";
    cvtest::Corvane server({"--pattern", "--mute", "--port", std::to_string(port)});
    ASSERT_EQ(server.waitForPort(), port);
    const int client = lvtest::connectClient(port);
    uint8_t frame[cvtest::FRAME];
    EXPECT_EQ(lvtest::readFor(client, frame, sizeof frame, 5.0), sizeof frame);
    EXPECT_NE(server.errors().find("without track names"), std::string::npos) << server.errors();
    close(client);
    close(blocker);
}

// Live capture on a private PulseAudio, with a music player on a private
// session bus: the track line names the player's track and follows its
// change; with no bus, the capture source, and one line says why.
TEST(CorvaneTracks, LiveCaptureServesThePlayersTrackOrTheSource) {
    lvtest::PulseDaemon pulse;
    ASSERT_TRUE(pulse.ok()) << pulse.error();
    {
        lvtest::SessionBus bus;
        ASSERT_TRUE(bus.ok()) << bus.error();
        lvtest::FakePlayer player("fake", R"({"status":"Playing","title":"Before Start","artist":["Ana"]})");
        ASSERT_TRUE(player.ok()) << player.log();
        cvtest::Corvane server({"--capture", "--player", "fake", "--port", "0"});
        const int port = server.waitForPort();
        ASSERT_GT(port, 0) << server.errors();
        const int client = lvtest::connectClient(port + TRACK_PORT_OFFSET);
        const std::string line = lineOf("Before Start", "Ana");
        std::string got;
        // The source's line may come first, before the watcher has asked the bus.
        ASSERT_TRUE(lvtest::waitFor([&] { return (got += readText(client, 1, 0.1)).find(line) != std::string::npos; },
                                    20.0))
            << got << server.errors();
        player.change(R"({"title":"Mid Song"})");
        const std::string mid = lineOf("Mid Song", "Ana");
        EXPECT_EQ(readText(client, mid.size(), 20.0), mid);
        // The capture follows the user to another output: the player's track
        // stays shown, and the new source shows once the player is gone.
        pulse.pactl({"load-module", "module-null-sink", "sink_name=second", "sink_properties=device.description=Second"});
        pulse.pactl({"set-default-sink", "second"});
        ASSERT_TRUE(lvtest::waitFor(
            [&] { return server.errors().find("capture follows the output: Monitor of Second") != std::string::npos; },
            20.0))
            << server.errors();
        player.change(R"({"title":"Third"})");
        const std::string third = lineOf("Third", "Ana");
        EXPECT_EQ(readText(client, third.size(), 20.0), third);
        player.quit();
        const std::string source = lineOf("Live sound", "Monitor of Second", true);
        EXPECT_EQ(readText(client, source.size(), 20.0), source);
        close(client);
        pulse.pactl({"set-default-sink", "lvtest"});
    }
    // No bus: neither an address nor one in the runtime folder.
    lvtest::TempDir runtime;
    setenv("XDG_RUNTIME_DIR", runtime.path().c_str(), 1);
    cvtest::Corvane server({"--capture", "--port", "0"});
    const int port = server.waitForPort();
    ASSERT_GT(port, 0) << server.errors();
    const int client = lvtest::connectClient(port + TRACK_PORT_OFFSET);
    const std::string line = lineOf("Live sound", "Monitor of LvTest", true);
    EXPECT_EQ(readText(client, line.size(), 10.0), line);
    EXPECT_TRUE(lvtest::waitFor([&] { return server.errors().find("no session D-Bus") != std::string::npos; }, 10.0))
        << server.errors();
    close(client);
    server.signal(SIGTERM);
    EXPECT_EQ(server.wait(20.0), 0);
    const std::string errors = server.errors();
    EXPECT_EQ(errors.find("no session D-Bus"), errors.rfind("no session D-Bus")) << "said once: " << errors;
}

TEST(TrackLine, WhatTheServerWritesReadsBackWithinTheBound) {
    // Control characters escaped (up to the last, 0x1F), bytes that are not
    // UTF-8 replaced, and a field far too long cut so the line still fits.
    lv::TrackMeta odd;
    odd.title = "a\x01\x1Fz\x7F\n\"\\/";
    odd.artist = "bad \xFF\xC0\xAF end";
    odd.album = std::string(3000, '\x02');
    const std::string line = trackLine(odd);
    EXPECT_LE(line.size(), TRACK_LINE_MAX);
    const std::string start = "{\"title\":\"a\\u0001\\u001fz\\u007f\\n\\\"\\\\/\",\"artist\":\"bad ";
    EXPECT_EQ(line.substr(0, start.size()), start);
    lv::TrackMeta back;
    ASSERT_TRUE(parseTrackLine(line, back)) << line;
    EXPECT_EQ(back.title, odd.title);
    EXPECT_EQ(back.artist, "bad \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD end");
    EXPECT_GT(back.album.size(), 100u);
    EXPECT_EQ(back.album, std::string(back.album.size(), '\x02'));
    // U+0000, which the reader refuses, is never written.
    lv::TrackMeta nul;
    nul.title = std::string("a\0b", 3);
    ASSERT_TRUE(parseTrackLine(trackLine(nul), back));
    EXPECT_EQ(back.title, "a\xEF\xBF\xBD" "b");

    // Escapes (up to the last pair of surrogates) and members a reader must
    // take, whatever their order.
    ASSERT_TRUE(parseTrackLine(" { \"n\": -1.5e3, \"x\": [true, {\"y\": null}], \"album\":\"C\", "
                               "\"title\" : \"q\\u00e9\\ud83c\\udfb5\\udbff\\udfff\\/\" }\r\n",
                               back));
    EXPECT_EQ(fields(back), "q\xC3\xA9\xF0\x9F\x8E\xB5\xF4\x8F\xBF\xBF/||C");

    // Every form of JSON number, skipped.
    for (const char* number : {"0", "-0", "7", "-12", "0.5", "-0.0e-0", "1e9", "1E+10", "2.5e-3", "10",
                               "123456789012345678901234567890", "0e0"}) {
        const std::string line = std::string("{\"n\":") + number + ",\"title\":\"T\",\"x\":[" + number + "]}";
        EXPECT_TRUE(parseTrackLine(line, back)) << line;
    }

    // The longest line, newline included, is exactly the bound.
    const std::string longest = padded(TRACK_LINE_MAX - 1) + "\n";
    ASSERT_EQ(longest.size(), TRACK_LINE_MAX);
    EXPECT_TRUE(parseTrackLine(longest, back));
    EXPECT_TRUE(parseTrackLine(padded(TRACK_LINE_MAX - 1), back)) << "the same line without its newline";
}

TEST(TrackLine, HostileLinesAreIgnoredWholeAndNeverCrash) {
    std::string deep = "{\"title\":\"T\",\"x\":";
    for (int i = 0; i < 50; ++i) deep += "[";
    std::vector<std::string> hostile = {
        std::string("{\"title\":\"") + std::string(TRACK_LINE_MAX, 'x') + "\"}",   // overlong
        "{\"title\":\"\\x41\"}", "{\"title\":\"\\u12G4\"}", "{\"title\":\"\\u12\"}",     // bad escapes
        "{\"title\":\"\\ud800\"}", "{\"title\":\"\\udc00\"}", "{\"title\":\"\\ud800\\u0041\"}",
        "{\"title\":\"\\u0000\"}", "{\"title\":\"a\\",
        "{}", "{\"artist\":\"B\",\"album\":\"C\"}",                                    // missing or mistyped
        "{\"title\":5}", "{\"title\":\"A\",\"artist\":null}", "{\"title\":[\"A\"]}",
        "{\"title\":\"\xFF\"}", "{\"title\":\"\xC0\xAF\"}", "{\"title\":\"\xE2\x98\"}",  // not UTF-8
        "{\"title\":\"\xED\xA0\x80\"}", "{\"title\":\"A\"}\xF4\x90\x80\x80",
        "", "[\"title\"]", "\"title\"", "{\"title\":\"A\"} x", "{\"title\":\"A\"}{}",   // not one object
        "{\"title\":\"A\"", "{\"title\":\"A\",}", "{\"title\" \"A\"}", "{\"title\":\"a\tb\"}",
        "{\"title\":\"A\",\"x\":tru}", deep + std::string(50, ']') + "}", deep,
        padded(TRACK_LINE_MAX) + "\n", padded(TRACK_LINE_MAX),   // one byte past the bound, newline counted
    };
    // Skipped values that are not JSON numbers, as a member and in an array.
    for (const char* number : {"-", "e", "01", "-01", "00", "1.2.3", "+1", ".5", "1.", "1.e5", "-0.0e+", "Ee--",
                               "1e", "1e+-5", "--1", "- 1", "0x1F", "NaN", "Infinity", "-Infinity", "1_000"}) {
        hostile.push_back(std::string("{\"title\":\"A\",\"n\":") + number + "}");
        hostile.push_back(std::string("{\"title\":\"A\",\"n\":[") + number + "]}");
    }
    for (const std::string& line : hostile) {
        lv::TrackMeta kept;
        kept.title = kept.artist = kept.album = "kept";
        EXPECT_FALSE(parseTrackLine(line, kept)) << line.substr(0, 80);
        EXPECT_EQ(fields(kept), "kept|kept|kept") << line.substr(0, 80);
    }
}

TEST(TrackLine, TheReaderDropsOverlongLinesAndResumesAfterThem) {
    const std::string longest(TRACK_LINE_MAX - 1, 'x');   // with its newline, exactly the bound
    const std::string stream = "one\n" + std::string(3 * TRACK_LINE_MAX, 'y') + "\n" + longest + "\n" + longest +
                               "x\ntwo\npartial";
    for (size_t piece : {size_t(1), size_t(7), stream.size()}) {
        TrackLineReader reader;
        std::vector<std::string> lines;
        for (size_t at = 0; at < stream.size(); at += piece)
            reader.feed(stream.data() + at, std::min(piece, stream.size() - at),
                        [&](std::string_view l) { lines.emplace_back(l); });
        EXPECT_EQ(lines, (std::vector<std::string>{"one", longest, "two"})) << "pieces of " << piece;
    }
}

// Sixty-four clients that read nothing fill the table. Once the next track's
// line has waited for them a few seconds, a newcomer takes the place of one,
// which sees its stream end, and gets the line.
TEST(CorvaneTracks, ClientsThatNeverReadMakeWayForANewOne) {
    lvtest::TempDir dir;
    lvtest::makeTone(dir / "1.flac", 2.0, {{"title", "First"}, {"artist", "A"}});
    lvtest::makeTone(dir / "2.flac", 60.0, {{"title", "Second"}, {"artist", "B"}});
    cvtest::Corvane server({"--mute", "--port", "0", dir / "1.flac", dir / "2.flac"});
    const int port = server.waitForPort();
    ASSERT_GT(port, 0);
    std::vector<int> silent;
    for (int i = 0; i < 64; ++i) silent.push_back(lvtest::connectClient(port + TRACK_PORT_OFFSET));
    ASSERT_TRUE(lvtest::waitFor([&] { return server.errors().find("\"Second\"") != std::string::npos; }, 30.0))
        << server.errors();
    const std::string line2 = lineOf("Second", "B");
    bool admitted = false;
    for (const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);
         !admitted && std::chrono::steady_clock::now() < until;) {
        const int next = lvtest::connectClient(port + TRACK_PORT_OFFSET);
        admitted = readText(next, line2.size(), 1.0) == line2;
        close(next);
        if (!admitted) std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    EXPECT_TRUE(admitted) << "clients that never read lock the newcomers out";
    bool ended = false;
    for (size_t i = 0; i < silent.size() && !ended; ++i) {
        uint8_t bytes[4096];
        lvtest::readFor(silent[i], bytes, sizeof bytes, 0.3, &ended);
    }
    EXPECT_TRUE(ended) << "no client that reads nothing was let go";
    for (int fd : silent) close(fd);
}
