// The player in a real window on a real X server (Xvfb, started here): the
// plug-in draws into it, keys typed on the window reach the plug-in (two
// presses of m bring the black-and-white mode, whose background is black
// where the first modes take theirs from a palette), and Esc quits.
#include <gtest/gtest.h>   // before Xlib, whose macros (None, Bool) break it

#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

#include <algorithm>
#include <map>
#include <string>

#include "program_test_support.h"
#include "test_xserver.h"

namespace {

Window findWindow(Display* d, Window w, const std::string& part) {
    char* name = nullptr;
    if (XFetchName(d, w, &name) && name) {
        const bool match = std::string(name).find(part) != std::string::npos;
        XFree(name);
        if (match) return w;
    }
    Window root, parent, *children = nullptr, found = 0;
    unsigned n = 0;
    if (XQueryTree(d, w, &root, &parent, &children, &n)) {
        for (unsigned i = 0; i < n && !found; ++i) found = findWindow(d, children[i], part);
        if (children) XFree(children);
    }
    return found;
}

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

void press(Display* d, KeySym sym) {
    const KeyCode code = XKeysymToKeycode(d, sym);
    XTestFakeKeyEvent(d, code, True, 0);
    XTestFakeKeyEvent(d, code, False, 0);
    XFlush(d);
}

}  // namespace

TEST(Window, KeysReachThePluginAndEscQuits) {
    lvtest::XServer x;
    ASSERT_TRUE(x.running()) << x.error();
    lvtest::TempDir dir;
    // SDL_VIDEODRIVER as a Wayland desktop sets it for other programs: the
    // player still takes an X11 window (XWayland's there).
    lvtest::Child player({lvtest::binary("lumenvortex"), "--no-audio", "--loop", "--size", "320x200"},
                           {"DISPLAY=" + x.display(), "WAYLAND_DISPLAY=", "SDL_VIDEODRIVER=wayland"}, dir / "player.log");
    Display* d = XOpenDisplay(x.display().c_str());
    ASSERT_NE(d, nullptr);
    // The player's windows come and go as it starts and stops; a request about
    // one that is gone is an answer, not a reason to end the test.
    XSetErrorHandler([](Display*, XErrorEvent*) { return 0; });
    int event, error, major, minor;
    ASSERT_TRUE(XTestQueryExtension(d, &event, &error, &major, &minor));

    Window w = 0;
    ASSERT_TRUE(lvtest::waitFor([&] { return (w = findWindow(d, DefaultRootWindow(d), "Lumenvortex")) != 0; }, 30.0))
        << lvtest::readFile(dir / "player.log");
    // The first mode's background fades in from black to a palette colour.
    ASSERT_TRUE(lvtest::waitFor([&] { return background(d, w) != ~0ul && !nearBlack(background(d, w)); }, 30.0))
        << lvtest::readFile(dir / "player.log");

    XSetInputFocus(d, w, RevertToParent, CurrentTime);
    XSync(d, False);
    press(d, XK_m);
    press(d, XK_m);
    EXPECT_TRUE(lvtest::waitFor([&] { return nearBlack(background(d, w)); }, 30.0))
        << "background still " << std::hex << background(d, w) << " after m, m\n"
        << lvtest::readFile(dir / "player.log");
    press(d, XK_Escape);
    EXPECT_EQ(player.wait(20.0), 0) << lvtest::readFile(dir / "player.log");
    XCloseDisplay(d);
}
