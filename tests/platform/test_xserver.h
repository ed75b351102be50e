// A private X server for tests that need a real window system: Xvfb on a
// free display number, started by the test and stopped with it.
#pragma once

#include <string>

#include <sys/types.h>

struct _XDisplay;   // Xlib's Display, without Xlib's macros in every test

namespace lvtest {

// A window's _NET_WM_NAME, as UTF-8; "" when it has none.
std::string netWmName(_XDisplay* display, unsigned long window);

// The first window at or below `window` whose _NET_WM_NAME holds `part`; 0
// when there is none. The player's titles are UTF-8, which XFetchName cannot
// read once they leave Latin-1.
unsigned long findWindowNamed(_XDisplay* display, unsigned long window, const std::string& part);

class XServer {
public:
    explicit XServer(int width = 640, int height = 480);
    ~XServer();
    XServer(const XServer&) = delete;
    XServer& operator=(const XServer&) = delete;

    bool running() const { return !mDisplay.empty(); }
    const std::string& display() const { return mDisplay; }   // e.g. ":3"
    const std::string& error() const { return mError; }

private:
    pid_t mPid = -1;
    std::string mDisplay;
    std::string mError;
};

}  // namespace lvtest
