// The player's side of a Corvane server (--source corvane[:PORT]). The
// plug-in reads the frames through a network source of its own, attached
// with the host extension LumenvortexAttachCorvane, and a source never
// reconnects itself; so this watches the server and attaches a fresh source
// when it comes back (a server killed and started again, or one started
// after the player):
//
//   - a connection of its own to the frame port, read without waiting,
//     tells whether whole frames arrive; none for SILENCE is said once;
//   - when that connection breaks, the server has closed the source's too:
//     it connects again about once a RETRY, and as soon as a whole frame
//     comes on the new connection it attaches a fresh source;
//   - the track channel (the frame port + 1, track_line.h) tells what plays:
//     the newest good line of each tick becomes onTrack(meta), bad ones are
//     ignored; a server that sent frames and then ended the connection
//     becomes onGone(), once for each such end.
//
// Who calls it: the plug-in's thread, tick() once a frame. tick() never
// waits: connects are non-blocking and finished by later ticks, reads take
// what is there up to a budget. The attach is the one call that can wait
// (the source's connect has a bound); it comes only right after the server
// has sent a frame, when its handshake completes at once.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "lv/media.h"
#include "track_line.h"

class CorvaneLink {
public:
    using Clock = std::chrono::steady_clock;
    // About a second: frames are due every 1/60 s, and even corvane --rate 1
    // is not taken for silent.
    static constexpr Clock::duration SILENCE = std::chrono::milliseconds(1500);
    static constexpr Clock::duration RETRY = std::chrono::seconds(1);

    struct Hooks {
        std::function<bool()> attach;   // a fresh source on the port: true when it connected
        std::function<void(const lv::TrackMeta&)> onTrack;
        // The server that was sending has ended the connection (stopped, or
        // died): what it named no longer plays.
        std::function<void()> onGone;
        std::function<void(const std::string&)> say;
    };

    // What the window and the stream name before the server names a track,
    // and after it has gone.
    static lv::TrackMeta firstTrack(int port);
    static lv::TrackMeta goneTrack(int port);

    CorvaneLink(int port, Hooks hooks);
    ~CorvaneLink();
    CorvaneLink(const CorvaneLink&) = delete;
    CorvaneLink& operator=(const CorvaneLink&) = delete;

    // The first attach, before any frame is drawn, and the first connects.
    void start(Clock::time_point now);
    void tick(Clock::time_point now);

    // The plug-in's source is on the server that sends now.
    bool attached() const { return mAttached; }
    // A whole frame came within SILENCE of `now`.
    bool receiving(Clock::time_point now) const { return mFramesSeen && now - mLastFrame < SILENCE; }
    int attaches() const { return mAttaches; }

    // A connection of the link's own, made and read without waiting.
    struct Peer {
        int fd = -1;
        bool open = false;   // false while connecting
        Clock::time_point since{};
        long long bytes = 0;   // received on this connection

        bool closed() const { return fd < 0; }
        void connect(int port, Clock::time_point now);
        void advance(Clock::time_point now);   // a connect under way: done, failed or timed out
        void close();
    };

private:
    void readFrames(Clock::time_point now);
    void readTracks();
    void frameArrived(Clock::time_point now);
    std::string where() const;

    const int mPort;
    Hooks mHooks;
    Peer mFrames, mTracks;
    TrackLineReader mLines;
    Clock::time_point mLastTry{}, mLastTrackTry{}, mLastAttach{}, mLastFrame{};
    bool mFramesSeen = false;    // since start, for receiving()
    bool mAttached = false;
    bool mSilenceSaid = false;   // the current silence has been reported
    int mAttaches = 0;
};
