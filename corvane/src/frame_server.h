// FrameServer: streams fixed-size spectrum frames to every connected client
// over TCP on the loopback interface.
//
// Used by the corvane program, which calls broadcast() once per frame tick
// and pump() in between. Clients only read; anything they send is discarded.
//
// Slow clients. Each client has a bounded queue of whole frames. When a
// client's queue is full, the new frame is dropped for that client only, so
// a stalled reader never delays the others, and because frames are only ever
// queued or dropped whole, its stream stays frame-aligned when it reads again.
// Each client socket also gets a small kernel send buffer, so a stall shows
// up here (and frames are dropped) instead of piling up megabytes of stale
// spectrum in the kernel.
//
// Hang-ups. A client that closes its connection (or whose connection fails)
// is dropped and forgotten. A client that only shuts down its sending side
// still reads, and keeps getting frames. A client that keeps sending is
// dropped: its bytes are read a little per pump, never all of them at once.
//
// A full table. Past MAX_CLIENTS, a newcomer takes the place of the client
// that has read nothing for longest, if that is more than STALL_LIMIT and its
// queue is full (it is closed); with no such client the new connection is
// closed at once. So readers that never read cannot lock out the others.
//
// Failure: start() returns false and fills error() with what to do when the
// port cannot be bound.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace corvane {

class FrameServer {
public:
    static constexpr size_t FRAME_SIZE = 1024;
    static constexpr size_t DEFAULT_QUEUE_FRAMES = 8;
    static constexpr size_t MAX_CLIENTS = 64;
    static constexpr std::chrono::seconds STALL_LIMIT{3};

    explicit FrameServer(size_t queueFrames = DEFAULT_QUEUE_FRAMES);
    ~FrameServer();
    FrameServer(const FrameServer&) = delete;
    FrameServer& operator=(const FrameServer&) = delete;

    // Listens on 127.0.0.1:port (0 picks a free port; port() tells which).
    bool start(int port);
    int port() const { return mPort; }
    const std::string& error() const { return mError; }

    // Queues one frame for every client (or drops it for the full ones).
    void broadcast(const uint8_t* frame);

    // Accepts new clients, writes queued bytes, notices hang-ups. Waits up to
    // `timeout` for something to happen (0: just poll); a signal ends the
    // wait early.
    void pump(std::chrono::microseconds timeout);

    void stop();

    size_t clientCount() const { return mClients.size(); }
    uint64_t framesDropped() const { return mFramesDropped; }

private:
    struct Client {
        int fd;
        std::vector<uint8_t> queue;   // whole frames, minus what was already sent of the first
        size_t sent = 0;              // bytes of queue already written
        bool reading = true;          // false once the client shut down its side
        size_t received = 0;          // bytes it sent, all discarded
        std::chrono::steady_clock::time_point lastRead;   // when it last took bytes, or connected
    };

    void acceptClients();
    size_t queuedFrames(const Client& c) const;
    bool makeRoom();                  // false: every client still reads
    bool flush(Client& c);            // false: the client is gone
    bool drain(Client& c);            // false: the connection failed, or it would not stop sending

    int mListenFd = -1;
    int mPort = 0;
    size_t mQueueFrames;
    std::vector<Client> mClients;
    uint64_t mFramesDropped = 0;
    std::string mError;
};

}  // namespace corvane
