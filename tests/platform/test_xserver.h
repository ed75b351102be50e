// A private X server for tests that need a real window system: Xvfb on a
// free display number, started by the test and stopped with it.
#pragma once

#include <string>

#include <sys/types.h>

namespace lvtest {

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
