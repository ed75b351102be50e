// What live capture names as its track, read over MPRIS from music players
// on a private session bus (dbus-daemon, started here) that say what the test
// tells them (tests/support/fake_mpris_player.py): by the watcher in this
// process, and by the player as its window title under Xvfb with live sound
// from a private PulseAudio. (Without a bus: corvane_track_test.)
#include <gtest/gtest.h>   // before Xlib, whose macros (None, Bool) break it

#include <X11/Xlib.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <string>

#include "lv/mpris.h"
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
