// corvane: the spectrum server. One thread runs the frame loop: at every
// tick it asks the feed for a frame and hands it to the frame server, and in
// between it lets the server accept, write and notice hang-ups. Ticks sit on
// a fixed grid of the steady clock (tick k at start + k / rate), so the rate
// holds over hours whatever each frame costs.
//
// Signals: SIGINT and SIGTERM are blocked before any thread starts. Until
// it serves, a watcher thread takes them and ends the process at once, with
// the status a stop while serving has: the play list's walk and a sound
// server that accepts and never answers cannot be cut short, and nothing is
// served yet that would want an orderly end. Once it serves they are
// unblocked on this thread alone, so they always land here and cut the wait
// of the loop short; the loop then stops the sound, closes every connection
// and exits 0. A second signal ends the process at once.
//
// Beside the frames, the track server tells what plays on the next port
// (track_server.h); it is pumped in the same loop and never waits.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <thread>
#include <utility>

#include "feeds.h"
#include "frame_server.h"
#include "lv/media.h"
#include "options.h"
#include "capture_sources.h"
#include "track_line.h"
#include "track_server.h"

namespace {

std::atomic<bool> gStopRequested{false};

void onStopSignal(int) { gStopRequested = true; }

void say(const std::string& m) { std::fprintf(stderr, "corvane: %s\n", m.c_str()); }

// Counted apart: one player is two frame clients (its plug-in's source and
// its own watch on the server) and one track client.
std::string clientsText(size_t frameClients, size_t trackClients) {
    auto count = [](size_t n, const std::string& what) { return std::to_string(n) + " " + what + (n == 1 ? "" : "s"); };
    return count(frameClients, "frame client") + " and " + count(trackClients, "track client") + " connected";
}

std::string rateText(double rate) {
    char text[32];
    std::snprintf(text, sizeof text, "%g", rate);
    return text;
}

// The answer to --help (and the man page and completion), --version, --list-sources and a bad command line:
// the exit status, or -1 to go on and serve.
int answerCommandLine(int argc, char** argv, corvane::Options& o) {
    std::string error;
    if (!corvane::parseOptions(argc, argv, o, error)) {
        say(error);
        std::fprintf(stderr, "corvane --help lists the options\n");
        return 2;
    }
    corvane::Options scratch;
    if (answerHelp(o, corvane::manual(scratch))) return 0;
    if (o.version) {
        std::printf("corvane %s\n", programVersion());
        return 0;
    }
    lv::setMediaVerbose(o.verbose);
    if (o.listSources) return listCaptureSources("corvane");
    return -1;
}

// Blocks SIGINT and SIGTERM (the caller unblocks them on this thread once
// the other threads have started) and installs their handler.
sigset_t takeStopSignals() {
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    struct sigaction action {};
    action.sa_handler = onStopSignal;
    action.sa_flags = SA_RESETHAND;   // no SA_RESTART: the wait must end
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    signal(SIGPIPE, SIG_IGN);
    setenv("SDL_NO_SIGNAL_HANDLERS", "1", 0);   // the sound device's library keeps its hands off them
    return stopSignals;
}

// The watcher of the stop signals while corvane starts (see the top).
class StartupStop {
public:
    explicit StartupStop(const sigset_t& stopSignals) : mSignals(stopSignals), mWatcher([this] { watch(); }) {}
    // Serving: the signals are left pending for the frame loop's thread.
    ~StartupStop() {
        mServing = true;
        mWatcher.join();
    }
    StartupStop(const StartupStop&) = delete;
    StartupStop& operator=(const StartupStop&) = delete;

private:
    void watch() {
        const timespec slice{0, 50 * 1000 * 1000};   // how long the hand-over to the frame loop may wait
        while (!mServing) {
            const int sig = sigtimedwait(&mSignals, nullptr, &slice);
            if (sig == SIGINT || sig == SIGTERM) {
                say("stopped");
                _exit(0);   // other threads may hold locks: no destructors, no atexit
            }
        }
    }

    const sigset_t mSignals;
    std::atomic<bool> mServing{false};
    std::thread mWatcher;
};

// The feed the command line asks for; nullptr when there is nothing to play
// (said why).
std::unique_ptr<corvane::Feed> makeFeed(const corvane::Options& o) {
    using namespace corvane;
    if (o.pattern) return std::make_unique<PatternFeed>();
    if (o.capture) return std::make_unique<LiveFeed>(o.captureSource, o.player);
    std::vector<std::string> problems;
    std::vector<std::string> paths = lv::expandPlaylist(o.inputs, problems);
    for (const std::string& p : problems) say(p);
    if (!o.inputs.empty() && paths.empty()) {
        say("nothing to play: give audio files or folders that exist, or none for the demo song");
        return nullptr;
    }
    // The demo alone is a test signal for visualizers: it goes on until stopped.
    return std::make_unique<MusicFeed>(paths, o.loop || paths.empty(), o.mute);
}

// The frame server on `port` and the track server above it. With port 0 the
// two are looked for together (a free port says nothing of the next one).
// Without the track server the frames still go out: said, not fatal.
bool startServers(corvane::FrameServer& frames, corvane::TrackServer& tracks, int port) {
    constexpr int kAttempts = 32;
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        if (!frames.start(port)) {
            say(frames.error());
            return false;
        }
        if (tracks.start(frames.port() + TRACK_PORT_OFFSET)) return true;
        if (port != 0) break;
    }
    say(tracks.error() + ": visualizers get the frames without track names (choose another --port for both)");
    return true;
}

// The frame loop, until a stop signal or the end of the feed: the exit status.
int serve(corvane::FrameServer& server, corvane::TrackServer& tracks, corvane::Feed& feed, double rate) {
    using namespace corvane;
    using std::chrono::microseconds;
    const Clock::time_point start = Clock::now();
    auto tickTime = [&](long long tick) {
        return start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(double(tick) / rate));
    };
    long long tick = 0;
    std::pair<size_t, size_t> clients{0, 0};   // frames, track names
    uint8_t frame[FrameServer::FRAME_SIZE];
    while (!gStopRequested) {
        const Clock::time_point now = Clock::now();
        const Clock::time_point due = tickTime(tick);
        if (now < due) {
            // Capped so that a slow rate still looks at the stop flag often.
            server.pump(std::min(std::chrono::ceil<microseconds>(due - now), microseconds(100000)));
            tracks.pump();
        } else {
            // Woken far too late (the machine was suspended or starved): take
            // up the grid again at the present rather than send a burst of
            // stale frames.
            if (now - due > 4 * (tickTime(1) - start))
                tick = (long long)std::floor(std::chrono::duration<double>(now - start).count() * rate);
            if (!feed.fill(now, frame)) {
                say(feed.done());
                return feed.failed() ? 1 : 0;
            }
            server.broadcast(frame);
            ++tick;
            server.pump(microseconds(0));
            tracks.pump();
        }
        if (std::make_pair(server.clientCount(), tracks.clientCount()) != clients) {
            clients = {server.clientCount(), tracks.clientCount()};
            say(clientsText(clients.first, clients.second));
        }
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    corvane::Options o;
    if (int status = answerCommandLine(argc, argv, o); status >= 0) return status;
    sigset_t stopSignals = takeStopSignals();
    auto startup = std::make_unique<StartupStop>(stopSignals);

    corvane::FrameServer server;
    corvane::TrackServer tracks;
    if (!startServers(server, tracks, o.port)) return 1;
    std::unique_ptr<corvane::Feed> feed = makeFeed(o);
    if (!feed) return 1;
    feed->mOnTrack = [&tracks](const lv::TrackMeta& meta) { tracks.setTrack(meta); };
    std::string error;
    if (!feed->start(error)) {
        say(error);
        return 1;
    }
    startup.reset();
    pthread_sigmask(SIG_UNBLOCK, &stopSignals, nullptr);

    std::printf("corvane: listening on 127.0.0.1:%d\n", server.port());
    std::fflush(stdout);
    say("sending " + feed->describe() + " at " + rateText(o.rate) + " frames a second");
    if (tracks.port()) say("track names on 127.0.0.1:" + std::to_string(tracks.port()));
    int status = serve(server, tracks, *feed, o.rate);
    feed->stop();
    server.stop();
    tracks.stop();
    if (gStopRequested) say("stopped");
    return status;
}
