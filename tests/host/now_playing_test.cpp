// What live capture names as its track, read over MPRIS from music players
// on a private session bus (dbus-daemon, started here) that say what the test
// tells them (tests/support/fake_mpris_player.py): by the watcher in this
// process, and by the player as its window title under Xvfb with live sound
// from a private PulseAudio. (Without a bus: corvane_track_test.)
#include <gtest/gtest.h>   // before Xlib, whose macros (None, Bool) break it

#include <X11/Xlib.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "live_track.h"
#include "lv/image.h"
#include "lv/mpris.h"
#include "lv/utf.h"
#include "program_test_support.h"
#include "test_pictures.h"
#include "test_xserver.h"

namespace {

// The next change the watcher hands on, or a NowPlaying titled "(nothing
// came)" when none does.
lv::NowPlaying nextChange(lv::MprisWatcher& w) {
    lv::NowPlaying now;
    if (!lvtest::waitFor([&] { return w.take(now); }, 20.0)) now.meta.title = "(nothing came)";
    return now;
}

std::string notes(lv::MprisWatcher& w) {
    std::string all, line;
    while (w.note(line)) all += line + "\n";
    return all;
}

// The output recorded taken away: the player says so and fails.
void expectThePlayerEndsWhenItsSourceGoes(lvtest::XServer& x, Display* d, lvtest::PulseDaemon& pulse,
                                          const std::string& log) {
    lvtest::Child lost({lvtest::binary("lumenvortex"), "--capture", "lvtest.monitor", "--size", "320x200"},
                       {"DISPLAY=" + x.display(), "WAYLAND_DISPLAY="}, log);
    ASSERT_TRUE(
        lvtest::waitFor([&] { return lvtest::findWindowNamed(d, DefaultRootWindow(d), "Lumenvortex") != 0; }, 30.0))
        << lvtest::readFile(log);
    pulse.pactl({"unload-module", "module-null-sink"});
    EXPECT_EQ(lost.wait(20.0), 1) << lvtest::readFile(log);
    EXPECT_NE(lvtest::readFile(log).find("capture from lvtest.monitor stopped"), std::string::npos)
        << lvtest::readFile(log);
}

}  // namespace

// Both follow the player that started last, its changes mid-song and its
// going, down to the capture source when the last one goes; the watcher
// reads a local cover and fetches no web one.
TEST(NowPlaying, TheWatcherAndTheWindowTitleFollowThePlayerThatStartedLastAndItsChanges) {
    lvtest::XServer x;
    ASSERT_TRUE(x.running()) << x.error();
    lvtest::PulseDaemon pulse;
    ASSERT_TRUE(pulse.ok()) << pulse.error();
    lvtest::SessionBus bus;
    ASSERT_TRUE(bus.ok()) << bus.error();
    lvtest::TempDir dir;
    const std::vector<uint8_t> png = lvtest::makePNG(8, 8, lvtest::solid({200, 40, 40, 255}));
    lvtest::writeFile(dir / "front cover.png", std::string(png.begin(), png.end()));
    // A player that plays before anyone watches.
    lvtest::FakePlayer one("one", R"({"status":"Playing","title":"Before Start","artist":["Ana","Bo"],"album":"Nuit",)"
                                  R"("length":200000000,"artUrl":"file://)" +
                                      dir.path() + R"(/front%20cover.png"})");
    ASSERT_TRUE(one.ok()) << one.log();

    lv::MprisWatcher any, onlyTwo;
    any.start("");
    onlyTwo.start("two");
    lv::NowPlaying now = nextChange(any);
    EXPECT_TRUE(now.present);
    EXPECT_EQ(now.busName, "org.mpris.MediaPlayer2.one");
    EXPECT_EQ(now.meta.title, "Before Start");
    EXPECT_EQ(now.meta.artist, "Ana, Bo");
    EXPECT_EQ(now.meta.album, "Nuit");
    EXPECT_EQ(now.meta.durationMs, 200000);
    EXPECT_EQ(now.meta.cover.format, lv::ImageFormat::Png);
    EXPECT_TRUE(now.meta.cover.bytes == png) << "the cover file's bytes, read through its file:// URL";
    EXPECT_FALSE(nextChange(onlyTwo).present) << "--player two shows no other player";
    EXPECT_NE(notes(onlyTwo).find("no player two on the session D-Bus"), std::string::npos);

    const std::string log = dir / "player.log";
    lvtest::Child player({lvtest::binary("lumenvortex"), "--capture", "--verbose", "--delay", "250", "--size",
                          "320x200"},
                         {"DISPLAY=" + x.display(), "WAYLAND_DISPLAY="}, log);
    Display* d = XOpenDisplay(x.display().c_str());
    ASSERT_NE(d, nullptr);
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    Window w = 0;
    ASSERT_TRUE(
        lvtest::waitFor([&] { return (w = lvtest::findWindowNamed(d, DefaultRootWindow(d), "Lumenvortex")) != 0; }, 30.0))
        << lvtest::readFile(log);
    auto titled = [&](const std::string& title) {
        return lvtest::waitFor([&] { return lvtest::netWmName(d, w) == title + " \u00B7 Lumenvortex"; }, 30.0);
    };
    EXPECT_TRUE(titled("Before Start \u2013 Ana, Bo")) << lvtest::netWmName(d, w) << lvtest::readFile(log);
    // As the xprop tool prints it, in a UTF-8 locale: typed UTF8_STRING too.
    const lvtest::RunResult xprop = lvtest::run(
        {"/usr/bin/xprop", "-display", x.display(), "-id", std::to_string(w), "_NET_WM_NAME"}, {"LC_ALL=C.UTF-8"}, 20.0);
    EXPECT_EQ(xprop.out, "_NET_WM_NAME(UTF8_STRING) = \"Before Start \u2013 Ana, Bo \u00B7 Lumenvortex\"\n")
        << "xprop (x11-utils): " << xprop.err;

    // Mid-song: a new title is a new track, and so is a new track id.
    one.change(R"({"title":"Mid Song"})");
    EXPECT_EQ(nextChange(any).meta.title, "Mid Song");
    EXPECT_TRUE(titled("Mid Song \u2013 Ana, Bo")) << lvtest::netWmName(d, w);
    one.change(R"({"trackid":"/org/mpris/MediaPlayer2/Track/7"})");
    now = nextChange(any);
    EXPECT_EQ(now.meta.title, "Mid Song");
    EXPECT_EQ(now.trackId, "/org/mpris/MediaPlayer2/Track/7");
    {
        // A second player, paused, is not followed until it starts playing;
        // then it is, as the one that started last. Quitting, it hands back.
        // Its bus name is an instance's, as a second copy of a player takes:
        // --player two still means it.
        lvtest::FakePlayer two("two.instance7", R"({"status":"Paused","title":"Other"})");
        ASSERT_TRUE(two.ok()) << two.log();
        EXPECT_EQ(nextChange(onlyTwo).meta.title, "Other") << "a paused player still names its track";
        two.change(R"({"status":"Playing"})");
        now = nextChange(any);
        EXPECT_EQ(now.meta.title, "Other");
        EXPECT_EQ(now.busName, "org.mpris.MediaPlayer2.two.instance7");
        EXPECT_TRUE(titled("Other")) << lvtest::netWmName(d, w);
        two.quit();
        EXPECT_EQ(nextChange(any).meta.title, "Mid Song");
        EXPECT_FALSE(nextChange(onlyTwo).present);
        EXPECT_TRUE(titled("Mid Song \u2013 Ana, Bo")) << lvtest::netWmName(d, w);
    }

    // A cover on the web is not fetched: nothing knocks on the loopback server.
    const int web = lvtest::holdPort(0);
    one.change(R"({"title":"Web Cover","artUrl":"http://127.0.0.1:)" + std::to_string(lvtest::portOf(web)) +
               R"(/cover.png"})");
    now = nextChange(any);
    EXPECT_EQ(now.meta.title, "Web Cover");
    EXPECT_TRUE(now.meta.cover.empty());
    pollfd knock{web, POLLIN, 0};
    EXPECT_EQ(poll(&knock, 1, 0), 0) << "the http cover was requested";
    close(web);

    one.quit();
    EXPECT_FALSE(nextChange(any).present) << "the last player gone: no player";
    EXPECT_EQ(notes(any), "") << "players were there from the start";
    EXPECT_TRUE(titled("Live sound \u2013 Monitor of LvTest")) << lvtest::netWmName(d, w);
    player.signal(SIGTERM);
    EXPECT_EQ(player.wait(20.0), 0) << lvtest::readFile(log);
    const std::string said = lvtest::readFile(log);
    EXPECT_NE(said.find("the picture held back 250 ms more (--delay)"), std::string::npos) << said;
    EXPECT_EQ(said.find("D-Bus"), std::string::npos) << "a player was there: nothing to say of the bus\n" << said;
    expectThePlayerEndsWhenItsSourceGoes(x, d, pulse, dir / "lost.log");
    XCloseDisplay(d);
}

namespace {

// A PNG of `side` x `side` in one colour, written a row at a time (an
// 8000 x 8000 cover takes a few hundred KB on disk, 256 MB as pixels).
void writeLargePng(const std::string& path, int side, const std::string& rgb) {
    const lvtest::RunResult made = lvtest::run(
        {"/usr/bin/python3", "-c",
         "import struct, sys, zlib\n"
         "side, rgb = int(sys.argv[2]), bytes.fromhex(sys.argv[3])\n"
         "def chunk(kind, data):\n"
         "    return struct.pack('>I', len(data)) + kind + data + struct.pack('>I', zlib.crc32(kind + data))\n"
         "z = zlib.compressobj(6)\n"
         "row = b'\\0' + rgb * side\n"
         "body = b''.join(z.compress(row) for _ in range(side)) + z.flush()\n"
         "head = chunk(b'IHDR', struct.pack('>IIBBBBB', side, side, 8, 2, 0, 0, 0))\n"
         "open(sys.argv[1], 'wb').write(b'\\x89PNG\\r\\n\\x1a\\n' + head + chunk(b'IDAT', body) + chunk(b'IEND', b''))\n",
         path, std::to_string(side), rgb});
    ASSERT_EQ(made.status, 0) << made.err;
}

// Width and height from a PNG's header.
std::pair<int, int> pngSize(const std::vector<unsigned char>& png) {
    auto be = [&](size_t i) { return int(png[i]) << 24 | int(png[i + 1]) << 16 | int(png[i + 2]) << 8 | png[i + 3]; };
    return png.size() >= 24 ? std::pair{be(16), be(20)} : std::pair{0, 0};
}

// The colour at the middle of a cover.
lvtest::RGBA middleOf(const lv::CoverImage& cover) {
    lvimage::Image img;
    std::string error;
    if (!lvimage::decodeImage(cover.bytes.data(), cover.bytes.size(), &img, error) || img.width == 0) return {};
    const uint8_t* p = &img.rgba[(size_t(img.height / 2) * img.width + img.width / 2) * 4];
    return {p[0], p[1], p[2], p[3]};
}

std::string fileUrl(const std::string& path) { return "file://" + path; }

}  // namespace

// The watcher alone on a private bus: every change of what is shown is
// handed on (an artist, a cover sent after its title), covers are read only
// from this machine's files, read once, shrunk before they leave the
// watcher's thread, and a file that fails to read is no cover, said once.
// A title-less player and one whose name only begins like the filter's are
// not followed.
TEST(NowPlaying, TheWatcherHandsOnWhatIsShownWithCoversReadOnceAndShrunk) {
    lvtest::SessionBus bus;
    ASSERT_TRUE(bus.ok()) << bus.error();
    lvtest::TempDir dir;
    const std::vector<uint8_t> png = lvtest::makePNG(8, 8, lvtest::solid({200, 40, 40, 255}));
    lvtest::writeFile(dir / "cover.png", std::string(png.begin(), png.end()));
    lvtest::FakePlayer one("one", R"({"status":"Playing","title":"Same","artist":["Ana"]})");
    ASSERT_TRUE(one.ok()) << one.log();
    lv::MprisWatcher w;
    w.start("");
    EXPECT_EQ(nextChange(w).meta.title, "Same");

    one.change(R"({"artist":["Bo"]})");
    EXPECT_EQ(nextChange(w).meta.artist, "Bo") << "the artist changed under the same title";
    one.change(R"({"title":"Same ","repeat":100000})");
    std::string same;
    for (int i = 0; i < 100000; ++i) same += "Same ";
    EXPECT_EQ(nextChange(w).meta.title, lv::boundTag(same)) << "a title of 500 KB, cut as it is read";
    one.change(R"({"title":"Same"})");
    EXPECT_EQ(nextChange(w).meta.title, "Same");
    one.change(R"({"artUrl":")" + fileUrl(dir / "cover.png") + R"("})");
    lv::NowPlaying now = nextChange(w);
    EXPECT_EQ(now.meta.title, "Same");
    EXPECT_TRUE(now.meta.cover.bytes == png) << "a cover sent after its title";

    // Only this machine's files, whatever the scheme's letter case.
    struct Url {
        std::string url;
        bool local;
    };
    const Url urls[] = {{"file://otherhost" + dir / "cover.png", false},
                        {"FILE://" + dir / "cover.png", true},
                        {"file://localhost" + dir / "cover.png", true},
                        {"file://fileserver" + dir / "cover.png", false}};
    for (const Url& u : urls) {
        one.change(R"({"artUrl":")" + u.url + R"("})");
        now = nextChange(w);
        EXPECT_EQ(now.meta.cover.bytes == png, u.local) << u.url;
    }

    // A file that fails to read (EIO from the first byte on, with a size of 0).
    one.change(R"({"title":"Mem 1","artUrl":"file:///proc/self/mem"})");
    EXPECT_TRUE(nextChange(w).meta.cover.empty());
    one.change(R"({"title":"Mem 2"})");
    EXPECT_EQ(nextChange(w).meta.title, "Mem 2");
    EXPECT_EQ(notes(w), "no cover: cannot read /proc/self/mem (Input/output error)\n") << "said once";

    // A cover of 8000 x 8000 at each of several track changes: handed on
    // shrunk to what the overlay draws, and read once while its file stays
    // as it was (its bytes changed behind an unchanged size and time are not
    // seen); a new file is read again.
    const std::string big = dir / "big.png";
    writeLargePng(big, 8000, "1020c0");
    struct stat before {};
    ASSERT_EQ(stat(big.c_str(), &before), 0);
    one.change(R"({"title":"Big 1","artUrl":")" + fileUrl(big) + R"("})");
    now = nextChange(w);
    ASSERT_EQ(now.meta.cover.format, lv::ImageFormat::Png);
    EXPECT_EQ(pngSize(now.meta.cover.bytes), std::pair(lv::kCoverShownSide, lv::kCoverShownSide));
    const lvtest::RGBA blue = middleOf(now.meta.cover);
    EXPECT_EQ(int(blue.b), 0xc0);
    const std::vector<unsigned char> shrunk = now.meta.cover.bytes;
    lvtest::writeFile(big, std::string(size_t(before.st_size), 'x'));
    const timespec times[2] = {before.st_atim, before.st_mtim};
    ASSERT_EQ(utimensat(AT_FDCWD, big.c_str(), times, 0), 0);
    for (const char* title : {"Big 2", "Big 3"}) {
        one.change(std::string(R"({"title":")") + title + R"("})");
        now = nextChange(w);
        EXPECT_EQ(now.meta.title, title);
        EXPECT_TRUE(now.meta.cover.bytes == shrunk) << title << ": the cover decoded again";
    }
    writeLargePng(big, 100, "20c010");
    one.change(R"({"title":"Big 4"})");
    now = nextChange(w);
    EXPECT_EQ(pngSize(now.meta.cover.bytes), std::pair(lv::kCoverShownSide, lv::kCoverShownSide));
    EXPECT_EQ(int(middleOf(now.meta.cover).g), 0xc0) << "the file changed: read again";

    // A player with nothing loaded, started last and playing, takes nothing
    // over; the one with a title stays followed.
    lvtest::FakePlayer idle("idle", R"({"status":"Playing"})");
    ASSERT_TRUE(idle.ok()) << idle.log();
    one.change(R"({"title":"After Idle"})");
    now = nextChange(w);
    EXPECT_EQ(now.meta.title, "After Idle");
    EXPECT_EQ(now.busName, "org.mpris.MediaPlayer2.one");

    // --player two: not twofold, whose name only begins with two.
    lv::MprisWatcher onlyTwo;
    onlyTwo.start("two");
    lvtest::FakePlayer twofold("twofold", R"({"status":"Playing","title":"Twofold"})");
    ASSERT_TRUE(twofold.ok()) << twofold.log();
    lvtest::FakePlayer two("two", R"({"status":"Paused","title":"Two"})");
    ASSERT_TRUE(two.ok()) << two.log();
    for (now = nextChange(onlyTwo); now.meta.title != "(nothing came)" && now.busName != "org.mpris.MediaPlayer2.two";
         now = nextChange(onlyTwo))
        EXPECT_FALSE(now.present) << now.busName;
    EXPECT_EQ(now.meta.title, "Two");
    EXPECT_TRUE(lv::mprisNameMatches("org.mpris.MediaPlayer2.two.instance3", "two"));
    EXPECT_FALSE(lv::mprisNameMatches("org.mpris.MediaPlayer2.twofold", "two"));
}

// Players that never answer hold back no other: ten of them there at start,
// one that signals, unanswered, over and over; the good player's changes
// come through each time, and the watcher stops at once with calls still in
// flight.
TEST(NowPlaying, PlayersThatNeverAnswerHoldBackNoOther) {
    lvtest::SessionBus bus;
    ASSERT_TRUE(bus.ok()) << bus.error();
    std::vector<std::unique_ptr<lvtest::FakePlayer>> silent;
    for (int i = 0; i < 10; ++i) {
        silent.push_back(std::make_unique<lvtest::FakePlayer>("silent" + std::to_string(i), R"({"hangs":true})"));
        ASSERT_TRUE(silent.back()->ok()) << silent.back()->log();
    }
    lvtest::FakePlayer good("good", R"({"status":"Playing","title":"Good 1"})");
    ASSERT_TRUE(good.ok()) << good.log();
    lv::MprisWatcher w;
    w.start("");
    EXPECT_EQ(nextChange(w).meta.title, "Good 1");
    for (const char* title : {"Good 2", "Good 3"}) {
        silent[0]->change(R"({"invalidate":40})");
        good.change(std::string(R"({"title":")") + title + R"("})");
        EXPECT_EQ(nextChange(w).meta.title, title);
    }
    // What a silent player signals with its values is shown, answered or not.
    silent[1]->change(R"({"status":"Playing","title":"Said, never answered"})");
    EXPECT_EQ(nextChange(w).meta.title, "Said, never answered");
    // Asked again once its call is over, not at each signal: one call at
    // start and at most one more for each burst of signals.
    const std::string asked = silent[0]->log();
    const size_t last = asked.rfind("unanswered ");
    EXPECT_LE(last == std::string::npos ? 0 : std::stoi(asked.substr(last + 11)), 3) << asked;
    silent[2]->change(R"({"invalidate":40})");
    w.stop();
}

// Live capture's track: with no player there, the capture source shows from
// the start and the watcher's "no player" changes nothing; a cover sent
// after its title is a track change, as a new title is (the overlay shows
// again), and the player gone brings the source back once.
TEST(NowPlaying, TheLiveTrackChangesForWhatIsShownNotForNoPlayerAgain) {
    lvtest::SessionBus bus;
    ASSERT_TRUE(bus.ok()) << bus.error();
    lv::TrackMeta source;
    source.title = "Live sound";
    LiveTrack track;
    track.start(source, "", true);
    std::string said;
    int changes = 0;
    lv::TrackMeta shown;
    auto poll = [&] {
        if (track.poll(shown, [&](const std::string& line) { said += line + "\n"; })) ++changes;
        return said.find("no music player") != std::string::npos;
    };
    ASSERT_TRUE(lvtest::waitFor(poll, 20.0)) << said;
    for (int i = 0; i < 3; ++i) poll();
    EXPECT_EQ(changes, 0) << shown.title;

    lvtest::TempDir dir;
    const std::vector<uint8_t> png = lvtest::makePNG(8, 8, lvtest::solid({20, 200, 40, 255}));
    lvtest::writeFile(dir / "later.png", std::string(png.begin(), png.end()));
    auto next = [&] {
        const int before = changes;
        lvtest::waitFor([&] { return poll(), changes > before; }, 20.0);
        return changes - before == 1 ? shown.title : "(no change)";
    };
    lvtest::FakePlayer player("later", R"({"status":"Playing","title":"Song"})");
    ASSERT_TRUE(player.ok()) << player.log();
    EXPECT_EQ(next(), "Song");
    EXPECT_TRUE(shown.cover.empty());
    player.change(R"({"artUrl":")" + fileUrl(dir / "later.png") + R"("})");
    EXPECT_EQ(next(), "Song");
    EXPECT_TRUE(shown.cover.bytes == png) << "the cover sent later";
    player.quit();
    EXPECT_EQ(next(), "Live sound");
    for (int i = 0; i < 3; ++i) poll();
    EXPECT_EQ(shown.title, "Live sound");
    track.stop();
}

// Hostile tags and covers end no player: a title of 16 MB from a player whose
// art URL fails to read (/proc/self/mem) under --capture, then a file tagged
// with a title of over 1 MB beside a cover.jpg that fails to read. Each
// title reaches the window cut.
TEST(NowPlaying, HugeTitlesAndUnreadableCoversEndNoPlayer) {
    lvtest::XServer x;
    ASSERT_TRUE(x.running()) << x.error();
    lvtest::PulseDaemon pulse;
    ASSERT_TRUE(pulse.ok()) << pulse.error();
    lvtest::SessionBus bus;
    ASSERT_TRUE(bus.ok()) << bus.error();
    lvtest::TempDir dir;
    lvtest::FakePlayer player("hostile", R"({"status":"Playing","title":"First","artUrl":"file:///proc/self/mem"})");
    ASSERT_TRUE(player.ok()) << player.log();
    Display* d = XOpenDisplay(x.display().c_str());
    ASSERT_NE(d, nullptr);
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    const std::vector<std::string> env{"DISPLAY=" + x.display(), "WAYLAND_DISPLAY="};

    const std::string captureLog = dir / "capture.log";
    lvtest::Child capture({lvtest::binary("lumenvortex"), "--capture", "--size", "320x200"}, env, captureLog);
    Window w = 0;
    ASSERT_TRUE(lvtest::waitFor(
        [&] { return (w = lvtest::findWindowNamed(d, DefaultRootWindow(d), "First \u00B7 Lumenvortex")) != 0; }, 30.0))
        << lvtest::readFile(captureLog);
    player.change(R"({"title":"lá ","repeat":)" + std::to_string((16 << 20) / 4) + "}");
    EXPECT_TRUE(lvtest::waitFor(
        [&] { return lvtest::netWmName(d, w).rfind("l\u00E1 l\u00E1", 0) == 0 || !capture.running(); }, 60.0))
        << lvtest::readFile(captureLog);
    const std::string shown = lvtest::netWmName(d, w);
    EXPECT_LE(shown.size(), lv::kMaxTagBytes + 32) << shown.substr(0, 200);
    EXPECT_NE(shown.find(" \u2026 \u00B7 Lumenvortex"), std::string::npos) << shown.substr(0, 200);
    EXPECT_TRUE(capture.running()) << lvtest::readFile(captureLog);
    capture.signal(SIGTERM);
    EXPECT_EQ(capture.wait(20.0), 0) << lvtest::readFile(captureLog);
    const std::string said = lvtest::readFile(captureLog);
    const std::string unreadable = "no cover: cannot read /proc/self/mem (Input/output error)";
    EXPECT_NE(said.find(unreadable), std::string::npos) << said;
    EXPECT_EQ(said.find(unreadable), said.rfind(unreadable)) << "said once\n" << said;

    // A file's title of over 1 MB, and a cover.jpg beside it that fails to read.
    lvtest::makeTone(dir / "plain.flac", 30.0);
    std::string title;
    while (title.size() < (1u << 20) + 10) title += "Long title ";
    lvtest::writeFile(dir / "tags.txt", ";FFMETADATA1\ntitle=" + title + "\n");
    ASSERT_TRUE(mkdir((dir / "album").c_str(), 0755) == 0);
    const lvtest::RunResult tagged = lvtest::run({"/usr/bin/ffmpeg", "-v", "error", "-i", dir / "plain.flac", "-i",
                                                  dir / "tags.txt", "-map_metadata", "1", "-c", "copy",
                                                  dir / "album/long.flac"});
    ASSERT_EQ(tagged.status, 0) << tagged.err;
    ASSERT_EQ(symlink("/proc/self/mem", (dir / "album/cover.jpg").c_str()), 0);
    const std::string fileLog = dir / "file.log";
    lvtest::Child file({lvtest::binary("lumenvortex"), "--no-audio", "--size", "320x200", dir / "album/long.flac"}, env,
                       fileLog);
    EXPECT_TRUE(lvtest::waitFor(
        [&] { return lvtest::findWindowNamed(d, DefaultRootWindow(d), "Long title Long") != 0 || !file.running(); },
        60.0))
        << lvtest::readFile(fileLog);
    w = lvtest::findWindowNamed(d, DefaultRootWindow(d), "Long title Long");
    EXPECT_EQ(lvtest::netWmName(d, w), lv::boundTag(title) + " \u00B7 Lumenvortex");
    EXPECT_TRUE(file.running()) << lvtest::readFile(fileLog);
    file.signal(SIGTERM);
    EXPECT_EQ(file.wait(20.0), 0) << lvtest::readFile(fileLog);
    XCloseDisplay(d);
}
