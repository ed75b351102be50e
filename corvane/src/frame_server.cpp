#include "frame_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "loopback_listener.h"
#include "stalled_client.h"

namespace corvane {
namespace {

// 16 frames (the kernel doubles it for its bookkeeping): a quarter to half a
// second at 60 a second, enough to ride out a scheduling hiccup, small
// enough that a stalled reader is noticed quickly.
constexpr int kClientSendBuffer = 16 * 1024;

// What a client may send before it is taken for one that will not stop, and
// how much of it is read per pump. Well-behaved clients send nothing; this
// leaves room for a stray request line or two.
constexpr size_t kMaxClientInput = 64 * 1024;
constexpr size_t kClientReadChunk = 4 * 1024;

}  // namespace

FrameServer::FrameServer(size_t queueFrames) : mQueueFrames(queueFrames ? queueFrames : 1) {}

FrameServer::~FrameServer() { stop(); }

bool FrameServer::start(int port) {
    stop();
    if (port < 0 || port > 65535) {
        mError = "no port " + std::to_string(port) + ": choose one from 1 to 65535, or 0 for any free port";
        return false;
    }
    int why = 0;
    mListenFd = listenOnLoopback(port, &mPort, &why, mError);
    if (mListenFd < 0) {
        if (why == EADDRINUSE)
            mError += " (another corvane, or another program, has port " + std::to_string(port) +
                      "); choose another with --port N, or --port 0 for any free port";
        else if (why == EACCES)
            mError += " (ports below 1024 need root); choose another with --port N";
        return false;
    }
    return true;
}

void FrameServer::stop() {
    for (Client& c : mClients) {
        drain(c);   // so that the close is an orderly end, not a reset
        close(c.fd);
    }
    mClients.clear();
    if (mListenFd >= 0) close(mListenFd);
    mListenFd = -1;
}

void FrameServer::acceptClients() {
    for (;;) {
        int fd = accept4(mListenFd, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) {
            // A connection that broke while waiting: take the next one.
            if (errno == ECONNABORTED || errno == EINTR) continue;
            return;   // EAGAIN: no more waiting; anything else: try again next pump
        }
        if (mClients.size() >= MAX_CLIENTS && !makeRoom()) {
            close(fd);   // the client sees the end of the stream at once
            continue;
        }
        int sendBuffer = kClientSendBuffer;
        setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBuffer, sizeof sendBuffer);
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        mClients.push_back(Client{fd, {}, 0, true, 0, std::chrono::steady_clock::now()});
    }
}

size_t FrameServer::queuedFrames(const Client& c) const {
    return (c.queue.size() - c.sent + FRAME_SIZE - 1) / FRAME_SIZE;
}

bool FrameServer::makeRoom() {
    const auto stalled = longestStalled(
        mClients,
        [&](const Client& c) {
            return queuedFrames(c) >= mQueueFrames ? std::optional(c.lastRead) : std::nullopt;
        },
        STALL_LIMIT);
    if (stalled == mClients.end()) return false;
    close(stalled->fd);
    mClients.erase(stalled);
    return true;
}

void FrameServer::broadcast(const uint8_t* frame) {
    for (Client& c : mClients) {
        if (queuedFrames(c) >= mQueueFrames) {
            ++mFramesDropped;
            continue;
        }
        c.queue.insert(c.queue.end(), frame, frame + FRAME_SIZE);
    }
}

bool FrameServer::drain(Client& c) {
    // Clients never speak; whatever they send is read and discarded, one
    // bounded read per pump, so that a client that sends without end cannot
    // hold the frame loop (it is dropped once it has sent kMaxClientInput).
    // The end of their stream only says they will send nothing more (a
    // half-close): they may still be reading, so they stay, and a real
    // hang-up shows when a send fails. Reading what was sent also matters at
    // the end: closing a socket with unread bytes resets the connection, and
    // the frames still on their way to the client would be lost.
    uint8_t scratch[kClientReadChunk];
    ssize_t n;
    do n = recv(c.fd, scratch, sizeof scratch, 0);
    while (n < 0 && errno == EINTR);
    if (n > 0) {
        c.received += size_t(n);
        return c.received <= kMaxClientInput;
    }
    if (n == 0) {
        c.reading = false;
        return true;
    }
    return errno == EAGAIN || errno == EWOULDBLOCK;
}

bool FrameServer::flush(Client& c) {
    while (c.sent < c.queue.size()) {
        ssize_t n = send(c.fd, c.queue.data() + c.sent, c.queue.size() - c.sent, MSG_NOSIGNAL);
        if (n > 0) {
            c.sent += size_t(n);
            c.lastRead = std::chrono::steady_clock::now();
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        if (n < 0 && errno == EINTR) continue;
        return false;
    }
    // Drop the frames already sent so the queue does not grow without end;
    // a partly sent frame stays at the front.
    size_t whole = c.sent - c.sent % FRAME_SIZE;
    if (whole > 0) {
        c.queue.erase(c.queue.begin(), c.queue.begin() + long(whole));
        c.sent -= whole;
    }
    return true;
}

void FrameServer::pump(std::chrono::microseconds timeout) {
    if (mListenFd < 0) return;
    std::vector<pollfd> fds;
    fds.reserve(mClients.size() + 1);
    fds.push_back({mListenFd, POLLIN, 0});
    for (const Client& c : mClients)
        fds.push_back({c.fd, short((c.reading ? POLLIN : 0) | (c.sent < c.queue.size() ? POLLOUT : 0)), 0});
    const long long micros = std::max<long long>(timeout.count(), 0);
    const timespec wait{time_t(micros / 1000000), long(micros % 1000000) * 1000};
    int ready = ppoll(fds.data(), fds.size(), &wait, nullptr);
    if (ready < 0) return;   // EINTR: a signal; the caller decides what next

    // Clients are checked against the poll set before new ones are accepted,
    // so the indices still match.
    std::vector<Client> alive;
    alive.reserve(mClients.size());
    for (size_t i = 0; i < mClients.size(); ++i) {
        Client& c = mClients[i];
        short ev = fds[i + 1].revents;
        bool gone = (ev & (POLLERR | POLLHUP | POLLNVAL)) != 0;
        if (!gone && (ev & POLLIN)) gone = !drain(c);
        if (!gone && c.sent < c.queue.size()) gone = !flush(c);
        if (gone)
            close(c.fd);
        else
            alive.push_back(std::move(c));
    }
    mClients.swap(alive);
    if (fds[0].revents & POLLIN) acceptClients();
}

}  // namespace corvane
