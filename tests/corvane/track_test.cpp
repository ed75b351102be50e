// The track channel: corvane's lines on the frame port + 1 for real tagged
// files played one after the other, what it does when that port is taken,
// and the reading side (track_line.h) against hostile input.
#include <gtest/gtest.h>
#include <unistd.h>

#include "corvane_process.h"
#include "track_line.h"

namespace {

// The next `size` bytes of a connection as text ("" past `seconds`).
std::string readText(int fd, size_t size, double seconds) {
    std::string text(size, '\0');
    text.resize(cvtest::readFor(fd, reinterpret_cast<uint8_t*>(text.data()), size, seconds));
    return text;
}

lv::TrackMeta meta(const std::string& title, const std::string& artist, const std::string& album) {
    lv::TrackMeta m;
    m.title = title;
    m.artist = artist;
    m.album = album;
    return m;
}

void expectTrack(const lv::TrackMeta& got, const lv::TrackMeta& want, const std::string& line) {
    EXPECT_EQ(got.title, want.title) << line;
    EXPECT_EQ(got.artist, want.artist) << line;
    EXPECT_EQ(got.album, want.album) << line;
}

}  // namespace

TEST(CorvaneTracks, EachTrackIsOneEscapedLineAndLateClientsGetTheCurrentOne) {
    cvtest::TempDir dir;
    // A quote, a backslash, a tab and characters beyond ASCII (one outside
    // the Basic Multilingual Plane).
    const std::string title = "Say \"Hi\"\t\\ Caf\xC3\xA9 \xF0\x9F\x8E\xB5";
    lvtest::makeTone(dir / "1.flac", 1.0, {{"title", title}, {"artist", "Ana"}, {"album", "Nuit"}});
    lvtest::makeTone(dir / "2.flac", 3.0, {{"title", "Second"}, {"artist", "B"}});

    cvtest::Corvane server({"--mute", "--port", "0", dir / "1.flac", dir / "2.flac"});
    const int port = server.waitForPort();
    ASSERT_GT(port, 0);
    EXPECT_NE(server.errors().find("track names on 127.0.0.1:" + std::to_string(port + 1)), std::string::npos);
    const std::string line1 =
        "{\"title\":\"Say \\\"Hi\\\"\\t\\\\ Caf\xC3\xA9 \xF0\x9F\x8E\xB5\",\"artist\":\"Ana\",\"album\":\"Nuit\"}\n";
    const std::string line2 = "{\"title\":\"Second\",\"artist\":\"B\",\"album\":\"\"}\n";
    const int early = cvtest::connectClient(port + TRACK_PORT_OFFSET);
    ASSERT_EQ(readText(early, line1.size(), 10.0), line1);
    lv::TrackMeta got;
    ASSERT_TRUE(parseTrackLine(line1, got));
    expectTrack(got, meta(title, "Ana", "Nuit"), line1);

    // The change, to the client already there; then at once to a new one.
    EXPECT_EQ(readText(early, line2.size(), 10.0), line2);
    const int late = cvtest::connectClient(port + TRACK_PORT_OFFSET);
    EXPECT_EQ(readText(late, line2.size(), 2.0), line2);
    EXPECT_EQ(readText(early, 1, 0.3), "") << "a line without a change";
    close(early);
    close(late);
}

TEST(CorvaneTracks, ATakenTrackPortLeavesTheFramesGoing) {
    const int port = cvtest::unusedPort();
    const int blocker = cvtest::holdPort(port + 1);
    ASSERT_GE(blocker, 0) << "port " << port + 1 << " is busy";
    cvtest::Corvane server({"--pattern", "--mute", "--port", std::to_string(port)});
    ASSERT_EQ(server.waitForPort(), port);
    const int client = cvtest::connectClient(port);
    uint8_t frame[cvtest::FRAME];
    EXPECT_EQ(cvtest::readFor(client, frame, sizeof frame, 5.0), sizeof frame);
    EXPECT_NE(server.errors().find("without track names"), std::string::npos) << server.errors();
    close(client);
    close(blocker);
}

TEST(TrackLine, WhatTheServerWritesReadsBackWithinTheBound) {
    // Control characters escaped (up to the last, 0x1F), bytes that are not
    // UTF-8 replaced, and a field far too long cut so the line still fits.
    const lv::TrackMeta odd =
        meta(std::string("a\x01\x1Fz\x7F\n\"\\/"), "bad \xFF\xC0\xAF end", std::string(3000, '\x02'));
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

    // Escapes (up to the last pair of surrogates) and members a reader must
    // take, whatever their order.
    ASSERT_TRUE(parseTrackLine(" { \"n\": -1.5e3, \"x\": [true, {\"y\": null}], \"album\":\"C\", "
                               "\"title\" : \"q\\u00e9\\ud83c\\udfb5\\udbff\\udfff\\/\" }\r\n",
                               back));
    expectTrack(back, meta("q\xC3\xA9\xF0\x9F\x8E\xB5\xF4\x8F\xBF\xBF/", "", "C"), "members");
}

TEST(TrackLine, HostileLinesAreIgnoredWholeAndNeverCrash) {
    std::string deep = "{\"title\":\"T\",\"x\":";
    for (int i = 0; i < 50; ++i) deep += "[";
    const std::string hostile[] = {
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
    };
    for (const std::string& line : hostile) {
        lv::TrackMeta kept = meta("kept", "kept", "kept");
        EXPECT_FALSE(parseTrackLine(line, kept)) << line;
        expectTrack(kept, meta("kept", "kept", "kept"), line);
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
