// The player in a real window on a real X server (Xvfb, started here): the
// plug-in draws into it, keys typed on the window reach the plug-in (two
// presses of m bring the black-and-white mode, whose background is black
// where the first modes take theirs from a palette), and Esc quits; the
// title names the track as xprop reads it, and the pointer hides when it
// rests; space pauses and the title says so; on the last track, n stays.
// Then the window's decisions on their own, on a clock of the test's.
#include <gtest/gtest.h>   // before Xlib, whose macros (None, Bool) break it

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/extensions/Xfixes.h>
#include <X11/keysym.h>

#include <algorithm>
#include <map>
#include <string>

#include "demo_song.h"
#include "desktop.h"
#include "program_test_support.h"
#include "test_xserver.h"

namespace {

using lvtest::findWindowNamed;
using lvtest::netWmName;

// The colour most pixels have: the background, whatever flies over it.
// ~0 when the window cannot be read.
unsigned long background(Display* d, Window w) {
    XWindowAttributes a;
    XImage* img = XGetWindowAttributes(d, w, &a) ? XGetImage(d, w, 0, 0, a.width, a.height, AllPlanes, ZPixmap) : nullptr;
    if (!img) return ~0ul;
    std::map<unsigned long, int> counts;
    for (int y = 0; y < img->height; ++y)
        for (int x = 0; x < img->width; ++x) ++counts[XGetPixel(img, x, y) & 0xFFFFFF];
    XDestroyImage(img);
    return std::max_element(counts.begin(), counts.end(), [](auto& p, auto& q) { return p.second < q.second; })->first;
}

bool nearBlack(unsigned long rgb) {
    return rgb != ~0ul && ((rgb >> 16) & 0xFF) <= 2 && ((rgb >> 8) & 0xFF) <= 2 && (rgb & 0xFF) <= 2;
}

// Whether the pointer shows where it is now: its picture has any ink.
bool pointerShows(Display* d) {
    XFixesCursorImage* c = XFixesGetCursorImage(d);
    if (!c) return true;
    bool ink = false;
    for (size_t i = 0; i < size_t(c->width) * c->height && !ink; ++i) ink = (c->pixels[i] >> 24) != 0;
    XFree(c);
    return ink;
}

// The window's names as the xprop tool prints them, in a UTF-8 locale.
std::string xprop(const std::string& display, Window w) {
    const lvtest::RunResult r = lvtest::run(
        {"/usr/bin/xprop", "-display", display, "-id", std::to_string(w), "_NET_WM_NAME", "WM_NAME"},
        {"LC_ALL=C.UTF-8"}, 20.0);
    return r.status == 0 ? r.out : "xprop failed (install x11-utils): " + r.err;
}

void press(Display* d, KeySym sym) {
    const KeyCode code = XKeysymToKeycode(d, sym);
    XTestFakeKeyEvent(d, code, True, 0);
    XTestFakeKeyEvent(d, code, False, 0);
    XFlush(d);
}

}  // namespace

// One player, started as a Wayland desktop starts programs (SDL_VIDEODRIVER
// set for them): it still takes an X11 window (XWayland's there).
TEST(Window, KeysReachThePluginTheTitleNamesTheTrackThePointerHidesAtRestAndEscQuits) {
    lvtest::XServer x;
    ASSERT_TRUE(x.running()) << x.error();
    lvtest::TempDir dir;
    lvtest::makeTone(dir / "1.wav", 60, {{"title", "Caf\u00E9 \u03A9mega \U0001F334"}, {"artist", "Bj\u00F6rk"}});
    lvtest::makeTone(dir / "2.wav", 60, {{"title", "D\u00E9j\u00E0 vu"}});
    lvtest::Child player({lvtest::binary("lumenvortex"), "--no-audio", "--size", "320x200", dir / "1.wav", dir / "2.wav"},
                         {"DISPLAY=" + x.display(), "WAYLAND_DISPLAY=", "SDL_VIDEODRIVER=wayland"}, dir / "player.log");
    Display* d = XOpenDisplay(x.display().c_str());
    ASSERT_NE(d, nullptr);
    // The player's windows come and go as it starts and stops; a request about
    // one that is gone is an answer, not a reason to end the test.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    int event, error, major, minor;
    ASSERT_TRUE(XTestQueryExtension(d, &event, &error, &major, &minor));
    ASSERT_TRUE(XFixesQueryExtension(d, &event, &error));

    Window w = 0;
    ASSERT_TRUE(lvtest::waitFor([&] { return (w = findWindowNamed(d, DefaultRootWindow(d), "Lumenvortex")) != 0; }, 30.0))
        << lvtest::readFile(dir / "player.log");
    // Not Latin-1 throughout (the dash, the omega, the palm): both names
    // hold UTF-8, and say so.
    EXPECT_EQ(xprop(x.display(), w),
              "_NET_WM_NAME(UTF8_STRING) = \"Caf\u00E9 \u03A9mega \U0001F334 \u2013 Bj\u00F6rk \u00B7 Lumenvortex\"\n"
              "WM_NAME(UTF8_STRING) = \"Caf\u00E9 \u03A9mega \U0001F334 \u2013 Bj\u00F6rk \u00B7 Lumenvortex\"\n");

    // The pointer over the window shows while it moves and hides once it rests.
    Window child;
    int cx = 0, cy = 0;
    XTranslateCoordinates(d, w, DefaultRootWindow(d), 160, 100, &cx, &cy, &child);
    for (int step = 0; step < 2; ++step) {
        XTestFakeMotionEvent(d, -1, cx + step * 10, cy, 0);
        XFlush(d);
        EXPECT_TRUE(lvtest::waitFor([&] { return pointerShows(d); }, 10.0)) << "hidden after a move";
        EXPECT_TRUE(lvtest::waitFor([&] { return !pointerShows(d); }, 10.0)) << "still shown at rest";
    }

    // The first mode's background fades in from black to a palette colour;
    // two presses of m bring the black-and-white mode's black.
    ASSERT_TRUE(lvtest::waitFor([&] { return background(d, w) != ~0ul && !nearBlack(background(d, w)); }, 30.0))
        << lvtest::readFile(dir / "player.log");
    XSetInputFocus(d, w, RevertToParent, CurrentTime);
    XSync(d, False);
    press(d, XK_m);
    press(d, XK_m);
    EXPECT_TRUE(lvtest::waitFor([&] { return nearBlack(background(d, w)); }, 30.0))
        << "background still " << std::hex << background(d, w) << " after m, m\n"
        << lvtest::readFile(dir / "player.log");

    // The next track, without an artist and all Latin-1: WM_NAME is a plain
    // STRING, which xprop turns into UTF-8 for the terminal.
    press(d, XK_n);
    EXPECT_TRUE(lvtest::waitFor([&] { return netWmName(d, w).rfind("D\u00E9j\u00E0", 0) == 0; }, 30.0))
        << netWmName(d, w);
    EXPECT_EQ(xprop(x.display(), w),
              "_NET_WM_NAME(UTF8_STRING) = \"D\u00E9j\u00E0 vu \u00B7 Lumenvortex\"\n"
              "WM_NAME(STRING) = \"D\u00E9j\u00E0 vu \u00B7 Lumenvortex\"\n");

    // Space pauses, and the title says so until it plays again.
    const std::string playing = "D\u00E9j\u00E0 vu \u00B7 Lumenvortex", paused = "\u23F8 " + playing;
    press(d, XK_space);
    EXPECT_TRUE(lvtest::waitFor([&] { return netWmName(d, w) == paused; }, 30.0)) << netWmName(d, w);
    press(d, XK_space);
    EXPECT_TRUE(lvtest::waitFor([&] { return netWmName(d, w) == playing; }, 30.0)) << netWmName(d, w);

    // On the last track there is no next one: Right and n leave it playing
    // (the window answers the space after them), and only Esc quits.
    press(d, XK_Right);
    press(d, XK_n);
    press(d, XK_space);
    EXPECT_TRUE(lvtest::waitFor([&] { return netWmName(d, w) == paused; }, 30.0))
        << netWmName(d, w) << "\n" << lvtest::readFile(dir / "player.log");
    EXPECT_TRUE(player.running());
    press(d, XK_Escape);
    EXPECT_EQ(player.wait(20.0), 0) << lvtest::readFile(dir / "player.log");
    XCloseDisplay(d);
}

TEST(Window, TitlePointerAndFrameRateDecisions) {
    lv::TrackMeta meta;
    EXPECT_EQ(desktop::windowTitle(meta), "Lumenvortex");
    meta.artist = "Artist";   // with a title too, a title alone, and paused: read back with xprop above
    EXPECT_EQ(desktop::windowTitle(meta), "Artist \u00B7 Lumenvortex");
    // The demo song's artist is the program: said once.
    EXPECT_EQ(desktop::windowTitle(makeDemoSong().meta), "Lumen Drift \u00B7 Lumenvortex");

    using std::chrono::milliseconds;
    EXPECT_FALSE(desktop::pointerShown(true, milliseconds(0))) << "full screen, just moved";

    // 50 frames a second for a period, then 30 frames over six seconds;
    // then a period with nothing drawn (minimized) is not reported.
    const desktop::Clock::time_point t0{};
    desktop::FrameRateMeter meter(t0);
    int reports = 0;
    for (int i = 1; i <= 250; ++i) {
        const std::optional<double> fps = meter.tick(t0 + i * milliseconds(20), true);
        reports += fps.has_value();
        EXPECT_EQ(fps.value_or(0), i == 250 ? 50.0 : 0.0) << i;
    }
    EXPECT_EQ(reports, 1);
    const desktop::Clock::time_point t1 = t0 + milliseconds(5000);
    for (int i = 1; i < 30; ++i) EXPECT_FALSE(meter.tick(t1 + i * milliseconds(100), true));
    EXPECT_NEAR(meter.tick(t1 + milliseconds(6000), true).value_or(0), 5.0, 1e-9);
    EXPECT_FALSE(meter.tick(t1 + milliseconds(12000), false));
    EXPECT_FALSE(meter.tick(t1 + milliseconds(14000), true));
    EXPECT_NEAR(meter.tick(t1 + milliseconds(17000), true).value_or(0), 2 / 5.0, 1e-9);
}
