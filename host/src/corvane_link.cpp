#include "corvane_link.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "audio_constants.h"

namespace {

constexpr long long kFrameBytes = 2 * SPECTRUM_BINS;
// Read per tick at most: four seconds of frames, a few milliseconds' work;
// and a few track lines, which come once a song (a peer that floods the
// track port costs a frame no more than that).
constexpr size_t kFrameReadBudget = 256 * 1024;
constexpr size_t kTrackReadBudget = 4 * TRACK_LINE_MAX;

// Reads what waits on `fd`, up to `budget` bytes, handing each piece to
// `take`. False when the connection has ended or failed.
template <class Take>
bool readWaiting(int fd, size_t budget, Take take) {
    char buffer[16 * 1024];
    while (budget > 0) {
        ssize_t n = recv(fd, buffer, std::min(sizeof buffer, budget), MSG_DONTWAIT);
        if (n > 0) {
            take(buffer, size_t(n));
            budget -= std::min(budget, size_t(n));
        } else if (n < 0 && errno == EINTR) {
            continue;
        } else {
            return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
        }
    }
    return true;
}

}  // namespace

void CorvaneLink::Peer::connect(int port, Clock::time_point now) {
    close();
    if (port < 1 || port > 65535) return;
    fd = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    if (fd < 0) return;
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(uint16_t(port));
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    since = now;
    bytes = 0;
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
        open = true;
    else if (errno != EINPROGRESS)
        close();   // refused: nobody listens there (yet)
}

void CorvaneLink::Peer::advance(Clock::time_point now) {
    if (closed() || open) return;
    pollfd p{fd, POLLOUT, 0};
    if (poll(&p, 1, 0) > 0) {
        int error = 0;
        socklen_t length = sizeof error;
        open = getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &length) == 0 && error == 0;
        if (!open) close();
    } else if (now - since > RETRY) {
        close();   // a server whose backlog is full, or one that is stopped
    }
}

void CorvaneLink::Peer::close() {
    if (fd >= 0) ::close(fd);
    fd = -1;
    open = false;
}

lv::TrackMeta CorvaneLink::firstTrack(int port) {
    lv::TrackMeta meta;
    meta.title = "Corvane";
    meta.artist = "127.0.0.1:" + std::to_string(port);
    meta.album = "Spectrum server";
    return meta;
}

lv::TrackMeta CorvaneLink::goneTrack(int port) {
    lv::TrackMeta meta;
    meta.title = "Corvane server gone";
    meta.artist = "127.0.0.1:" + std::to_string(port);
    meta.album = "waiting for it to start again";
    return meta;
}

CorvaneLink::CorvaneLink(int port, Hooks hooks) : mPort(port), mHooks(std::move(hooks)) {}

CorvaneLink::~CorvaneLink() {
    mFrames.close();
    mTracks.close();
}

std::string CorvaneLink::where() const { return "127.0.0.1:" + std::to_string(mPort); }

void CorvaneLink::start(Clock::time_point now) {
    mLastAttach = mLastFrame = now;
    mAttached = mHooks.attach();
    if (mAttached) {
        ++mAttaches;
    } else {
        mHooks.say("no Corvane server on " + where() + ": showing silence until one starts there (corvane --port " +
                   std::to_string(mPort) + ")");
        mSilenceSaid = true;
    }
    mLastTry = mLastTrackTry = now;
    mFrames.connect(mPort, now);
    mTracks.connect(mPort + TRACK_PORT_OFFSET, now);
    if (mFrames.closed()) mAttached = false;
}

void CorvaneLink::tick(Clock::time_point now) {
    if (mFrames.closed() && now - mLastTry >= RETRY) {
        mLastTry = now;
        mFrames.connect(mPort, now);
    }
    if (mTracks.closed() && !mFrames.closed() && now - mLastTrackTry >= RETRY) {
        mLastTrackTry = now;
        mTracks.connect(mPort + TRACK_PORT_OFFSET, now);
    }
    mFrames.advance(now);
    mTracks.advance(now);
    // Without a connection of its own to the server, the source is taken
    // for lost too: the next server to send gets a fresh one.
    if (mFrames.closed()) mAttached = false;
    if (mFrames.open) readFrames(now);
    if (mTracks.open) readTracks();
    if (!mSilenceSaid && now - mLastFrame >= SILENCE) {
        mHooks.say("no frames from corvane on " + where() +
                   " for a second or more: keeping the last one until frames come again (is it still running?)");
        mSilenceSaid = true;
    }
}

void CorvaneLink::readFrames(Clock::time_point now) {
    const long long before = mFrames.bytes / kFrameBytes;
    const bool alive =
        readWaiting(mFrames.fd, kFrameReadBudget, [&](const char*, size_t n) { mFrames.bytes += (long long)n; });
    if (mFrames.bytes / kFrameBytes > before) frameArrived(now);
    if (!alive) {
        // The server has gone, and the source's connection with it. One that
        // closes before its first frame is a full server turning us away.
        const bool wasSending = mFrames.bytes >= kFrameBytes;
        mFrames.close();
        mAttached = false;
        if (wasSending && mHooks.onGone) mHooks.onGone();
    }
}

void CorvaneLink::frameArrived(Clock::time_point now) {
    mLastFrame = now;
    mFramesSeen = true;
    if (!mAttached && now - mLastAttach >= RETRY) {
        mLastAttach = now;
        mAttached = mHooks.attach();
        if (mAttached) ++mAttaches;
    }
    if (mAttached && mSilenceSaid) {
        mHooks.say("corvane on " + where() + " is sending: showing its spectrum");
        mSilenceSaid = false;
    }
}

void CorvaneLink::readTracks() {
    // Only the newest good line of those read now matters: the ones before
    // it would be replaced before a frame could show them.
    lv::TrackMeta newest;
    bool any = false;
    auto line = [&](std::string_view text) { any = parseTrackLine(text, newest) || any; };
    if (!readWaiting(mTracks.fd, kTrackReadBudget, [&](const char* data, size_t n) { mLines.feed(data, n, line); })) {
        mTracks.close();
        mLines.reset();
    }
    if (any && mHooks.onTrack) mHooks.onTrack(newest);
}
