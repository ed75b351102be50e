#include "corvane_process.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>

namespace cvtest {
namespace {

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

sockaddr_in loopback(int port) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return addr;
}

std::vector<std::string> withProgram(const std::vector<std::string>& args) {
    std::vector<std::string> all{lvtest::binary("corvane")};
    all.insert(all.end(), args.begin(), args.end());
    return all;
}

}  // namespace

Corvane::Corvane(const std::vector<std::string>& args)
    : mChild(withProgram(args), {}, mDir / "stdout", mDir / "stderr") {}

Corvane::~Corvane() { signal(SIGKILL); }

int Corvane::waitForPort(double timeoutSeconds) {
    const std::string prefix = "corvane: listening on 127.0.0.1:";
    // Until the whole line is there, or corvane has ended without it.
    lvtest::waitFor([&] { return output().find('\n') != std::string::npos || !mChild.running(); }, timeoutSeconds);
    const std::string out = output();
    const int port = out.rfind(prefix, 0) == 0 ? std::atoi(out.c_str() + prefix.size()) : 0;
    if (port <= 0) ADD_FAILURE() << "corvane did not say where it listens; stdout: \"" << out << "\"; stderr: " << errors();
    return std::max(port, 0);
}

int holdPort(int port) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const sockaddr_in addr = loopback(port);
    if (fd >= 0 && bind(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0 && listen(fd, 1) == 0) return fd;
    if (fd >= 0) close(fd);
    return -1;
}

int portOf(int fd) {
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len);
    return ntohs(addr.sin_port);
}

int unusedPort() {
    const int fd = holdPort(0);
    const int port = portOf(fd);
    close(fd);
    return port;
}

int connectClient(int port, int receiveBuffer) {
    const int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (receiveBuffer > 0) setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof receiveBuffer);
    const sockaddr_in addr = loopback(port);
    if (fd >= 0 && connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) == 0) return fd;
    if (fd >= 0) close(fd);
    return -1;
}

size_t readFor(int fd, uint8_t* out, size_t size, double timeoutSeconds, bool* closed) {
    size_t got = 0;
    if (closed) *closed = false;
    const Clock::time_point start = Clock::now();
    while (got < size) {
        const int left = int((timeoutSeconds - secondsSince(start)) * 1000);
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, left) < 0) break;
        if (!(p.revents & (POLLIN | POLLHUP | POLLERR))) continue;
        const ssize_t n = recv(fd, out + got, size - got, 0);
        if (n <= 0) {
            if (closed) *closed = true;
            break;
        }
        got += size_t(n);
    }
    return got;
}

}  // namespace cvtest
