#include "test_xserver.h"

#include <X11/Xlib.h>

#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

namespace lvtest {

XServer::XServer(int width, int height) {
    int fds[2];
    if (pipe(fds) != 0 || (mPid = fork()) < 0) {
        mError = "cannot start Xvfb: no pipe or process left";
        return;
    }
    if (mPid == 0) {
        prctl(PR_SET_PDEATHSIG, SIGTERM);   // a test that dies on the spot takes its server with it
        close(fds[0]);
        const int null = open("/dev/null", O_WRONLY);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        const std::string fd = std::to_string(fds[1]);
        const std::string screen = std::to_string(width) + "x" + std::to_string(height) + "x24";
        // -displayfd: Xvfb picks a free display and writes its number once it
        // accepts connections; if it cannot start, the pipe closes empty.
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", screen.c_str(), "-nolisten", "tcp",
               "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(fds[1]);
    std::string number;
    char c;
    while (read(fds[0], &c, 1) == 1 && c != '\n') number += c;
    close(fds[0]);
    if (number.empty()) {
        mError = "Xvfb did not start: install xvfb";
        waitpid(mPid, nullptr, 0);
        mPid = -1;
        return;
    }
    mDisplay = ":" + number;
}

XServer::~XServer() {
    if (mPid > 0) {
        kill(mPid, SIGTERM);
        waitpid(mPid, nullptr, 0);
    }
}

std::string netWmName(Display* d, unsigned long w) {
    Atom type;
    int format;
    unsigned long count, after;
    unsigned char* data = nullptr;
    std::string name;
    if (XGetWindowProperty(d, w, XInternAtom(d, "_NET_WM_NAME", False), 0, 1024, False, AnyPropertyType, &type,
                           &format, &count, &after, &data) == Success && data) {
        if (format == 8) name.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
    }
    return name;
}

unsigned long findWindowNamed(Display* d, unsigned long w, const std::string& part) {
    if (netWmName(d, w).find(part) != std::string::npos) return w;
    Window root, parent, *children = nullptr, found = 0;
    unsigned n = 0;
    if (XQueryTree(d, w, &root, &parent, &children, &n)) {
        for (unsigned i = 0; i < n && !found; ++i) found = findWindowNamed(d, children[i], part);
        if (children) XFree(children);
    }
    return found;
}

}  // namespace lvtest
