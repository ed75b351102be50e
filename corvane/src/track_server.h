// TrackServer: what is playing, for visualizers that want to show it. The
// frame stream has no room for text, so the track's title, artist and album
// go out beside it, on the frame port + 1, as one line of UTF-8 JSON
// (track_line.h):
//
//   {"title":"Lumen Drift","artist":"Lumenvortex","album":"Demo"}\n
//
// Every client gets the current line as soon as it connects and a new line
// at every track change. Clients only read; what they send is discarded. A
// client that falls behind skips to the newest line (only what plays now
// matters), never getting half of one: a line goes out to a client only
// once it has read the one before, and until then only the newest waits for
// it (a reader back from a pause reads the line it stopped at, then the
// newest, however many came between); a client that ends its side of the
// connection is forgotten, so clients that come and go never fill the table.
//
// Used by the corvane program on its main thread: setTrack() when the feed
// says what plays, pump() in the frame loop (it never waits).
//
// A full table. Past MAX_CLIENTS, a newcomer takes the place of the client
// whose line has waited longest for it to read the one before, if that is
// more than STALL_LIMIT (it is closed); with no such client the new
// connection is closed at once.
//
// Failure: start() returns false and fills error() with what to do.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

#include "lv/media.h"
#include "peer_backlog.h"

namespace corvane {

class TrackServer {
public:
    static constexpr size_t MAX_CLIENTS = 64;
    static constexpr std::chrono::seconds STALL_LIMIT{3};

    TrackServer() = default;
    ~TrackServer() { stop(); }
    TrackServer(const TrackServer&) = delete;
    TrackServer& operator=(const TrackServer&) = delete;

    // Listens on 127.0.0.1:port (0 picks a free port; port() tells which).
    bool start(int port);
    int port() const { return mPort; }
    const std::string& error() const { return mError; }

    void setTrack(const lv::TrackMeta& meta);
    // Accepts, writes, notices hang-ups; returns at once.
    void pump();
    void stop();

    size_t clientCount() const { return mClients.size(); }

private:
    struct Client {
        int fd;
        std::string pending;   // the rest of the line being sent, then at most the newest one
        size_t sent = 0;       // bytes of `pending` already written
        size_t received = 0;   // bytes it sent, all discarded
        std::chrono::steady_clock::time_point waiting{};   // since when a line waits for it; {}: none
    };

    void acceptClients();
    bool makeRoom();            // false: no client has kept a line waiting too long
    void queue(Client& c);
    bool mayBegin(Client& c);   // the next line may start on its way to c
    bool flush(Client& c);      // false: the client is gone
    bool drain(Client& c);   // false: it hung up, failed, or would not stop sending

    int mListenFd = -1;
    int mPort = 0;
    std::string mLine;   // the current track's line
    std::vector<Client> mClients;
    PeerBacklog mBacklog;
    std::string mError;
};

}  // namespace corvane
