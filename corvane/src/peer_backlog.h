// How much of what was sent on a loopback connection its reader has not read
// yet: what is still on its way (this side's send queue) and what waits in
// the reader's own receive queue. Only the second says whether the reader
// keeps up, and only the kernel knows it; its socket diagnostics (the
// interface `ss` reads) tell it for any TCP socket of this machine, found by
// the connection's addresses. corvane's servers listen on 127.0.0.1 alone,
// so every reader is such a socket.
//
// Used by the track server, on corvane's main thread, to hold a new line
// back until a client has read the one before.
#pragma once

namespace corvane {

class PeerBacklog {
public:
    PeerBacklog() = default;
    ~PeerBacklog();
    PeerBacklog(const PeerBacklog&) = delete;
    PeerBacklog& operator=(const PeerBacklog&) = delete;

    // Bytes sent on `fd` that its peer has not read; -1 when the kernel does
    // not say (no socket diagnostics in this kernel or sandbox, a peer that
    // has just gone). Never waits.
    long unread(int fd);

private:
    long peerReceiveQueue(int fd);

    int mNetlink = -1;
    bool mUnavailable = false;   // no diagnostics socket could be opened
    unsigned mSequence = 0;
};

}  // namespace corvane
