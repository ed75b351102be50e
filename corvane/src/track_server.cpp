#include "track_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "loopback_listener.h"
#include "stalled_client.h"
#include "track_line.h"

namespace corvane {
namespace {

// Clients have nothing to say; this is room for a stray request line, and
// how much of it is read per pump.
constexpr size_t kMaxClientInput = 4 * 1024;
constexpr size_t kClientReadChunk = 1024;

}  // namespace

bool TrackServer::start(int port) {
    stop();
    if (port < 0 || port > 65535) {
        mError = "no port " + std::to_string(port) + " for track names";
        return false;
    }
    int why = 0;
    mListenFd = listenOnLoopback(port, &mPort, &why, mError);
    return mListenFd >= 0;
}

void TrackServer::stop() {
    for (Client& c : mClients) close(c.fd);
    mClients.clear();
    if (mListenFd >= 0) close(mListenFd);
    mListenFd = -1;
    mPort = 0;
}

void TrackServer::setTrack(const lv::TrackMeta& meta) {
    mLine = trackLine(meta);
    for (Client& c : mClients) queue(c);
}

void TrackServer::queue(Client& c) {
    // Lines not yet begun are stale: only the one being written, if any,
    // is finished before the newest.
    const size_t lineEnd = c.sent == 0 ? 0 : c.pending.find('\n', c.sent - 1) + 1;
    c.pending.resize(lineEnd);
    c.pending += mLine;
    if (c.waiting == std::chrono::steady_clock::time_point{}) c.waiting = std::chrono::steady_clock::now();
}

bool TrackServer::makeRoom() {
    const auto stalled = longestStalled(
        mClients, [](const Client& c) { return c.pending.empty() ? std::nullopt : std::optional(c.waiting); },
        STALL_LIMIT);
    if (stalled == mClients.end()) return false;
    close(stalled->fd);
    mClients.erase(stalled);
    return true;
}

void TrackServer::acceptClients() {
    for (;;) {
        int fd = accept4(mListenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            if (errno == ECONNABORTED || errno == EINTR) continue;
            return;
        }
        if (mClients.size() >= MAX_CLIENTS && !makeRoom()) {
            close(fd);
            continue;
        }
        mClients.push_back(Client{fd, {}, 0, 0, {}});
        if (!mLine.empty()) queue(mClients.back());
    }
}

bool TrackServer::drain(Client& c) {
    char scratch[kClientReadChunk];
    ssize_t n;
    do n = recv(c.fd, scratch, sizeof scratch, MSG_DONTWAIT);
    while (n < 0 && errno == EINTR);
    if (n > 0) {
        c.received += size_t(n);
        return c.received <= kMaxClientInput;
    }
    // The end of its stream: a reader that has hung up. Kept, it would hold
    // a place in the table until the next track change found it gone.
    if (n == 0) return false;
    return errno == EAGAIN || errno == EWOULDBLOCK;
}

bool TrackServer::mayBegin(Client& c) {
    // A line under way is finished whatever happens. A new one goes out only
    // to a client that has read all before it: sent at once, it would queue
    // in the client's receive buffer (tens of kilobytes on loopback, whatever
    // this side's buffer), and a client back from a pause would read every
    // line it missed. Held back, it is replaced by each newer one. Where the
    // kernel does not say, the line goes out as it always could.
    return c.sent > 0 || mBacklog.unread(c.fd) <= 0;
}

bool TrackServer::flush(Client& c) {
    while (c.sent < c.pending.size()) {
        ssize_t n = send(c.fd, c.pending.data() + c.sent, c.pending.size() - c.sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            c.sent += size_t(n);
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        }
    }
    c.pending.clear();
    c.sent = 0;
    c.waiting = {};
    return true;
}

void TrackServer::pump() {
    if (mListenFd < 0) return;
    std::vector<pollfd> fds;
    fds.reserve(mClients.size());
    for (const Client& c : mClients) fds.push_back({c.fd, short(POLLIN | (c.pending.empty() ? 0 : POLLOUT)), 0});
    if (!fds.empty() && poll(fds.data(), fds.size(), 0) < 0) return;
    std::vector<Client> alive;
    alive.reserve(mClients.size());
    for (size_t i = 0; i < mClients.size(); ++i) {
        Client& c = mClients[i];
        const short ev = fds[i].revents;
        bool gone = (ev & (POLLERR | POLLNVAL)) != 0;
        if (!gone && (ev & (POLLIN | POLLHUP))) gone = !drain(c);
        if (!gone && !c.pending.empty() && mayBegin(c)) gone = !flush(c);
        if (gone)
            close(c.fd);
        else
            alive.push_back(std::move(c));
    }
    mClients.swap(alive);
    acceptClients();
}

}  // namespace corvane
