// Live streaming. The plug-in draws on the render's virtual clock, but the
// loop waits for the wall clock before each frame, so a second of music
// goes out each second. The sound is the master: every sample is sent, and
// a frame the machine had no time to draw is left out (the picture before
// is held) rather than letting the stream fall further and further behind.
// A connection that breaks is tried again with backoff while the music
// goes on, so that picture and sound come back where the play list is.
#include "stream.h"

#include <signal.h>
#include <time.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <mutex>
#include <thread>

#include "capture_sources.h"
#include "corvane_link.h"
#include "fft_spectrum_analyzer.h"
#include "live_track.h"
#include "lv/capture.h"
#include "lv/media.h"
#include "lv/video_out.h"
#include "music_reader.h"
#include "options.h"
#include "player.h"
#include "plugin_host.h"
#include "program.h"
#include "progress.h"
#include "sink_thread.h"
#include "virtual_clock.h"

namespace {

constexpr char kKeyVariable[] = "LUMENVORTEX_STREAM_KEY";
constexpr int kLiveFps = 30;                    // what streaming services take at 720p
constexpr int kFirstBackoffSeconds = 1, kLastBackoffSeconds = 30;
constexpr double kDropReportSeconds = 60.0;     // the dropped frames are said at most this often
constexpr double kStopGraceSeconds = 2.0;       // a server that holds the last packets after a stop
constexpr long long kNetworkTimeoutMicros = 5000000;
constexpr int kStreamAudioBitRate = 160000;     // the most the big services take
// Captured sound that stops coming this long (the sound server restarting)
// is stood in for by silence, so that the stream goes on.
constexpr auto kCaptureStall = std::chrono::milliseconds(500);

using Clock = std::chrono::steady_clock;

double secondsSince(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

// Ctrl+C, SIGTERM or SIGHUP: the loop ends and the stream is closed
// cleanly; a second one ends the process at once.
volatile sig_atomic_t gStop = 0;
struct timespec gStopAt;

void onStop(int sig) {
    if (!gStop) {
        clock_gettime(CLOCK_MONOTONIC, &gStopAt);
        gStop = sig;
        return;
    }
    signal(sig, SIG_DFL);
    raise(sig);
}

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

struct StopSignals {
    struct sigaction previous[std::size(kStopSignals)];
    StopSignals() {
        struct sigaction action {};
        action.sa_handler = onStop;
        sigemptyset(&action.sa_mask);   // no SA_RESTART: a signal ends a wait too
        for (size_t i = 0; i < std::size(kStopSignals); ++i) sigaction(kStopSignals[i], &action, &previous[i]);
    }
    ~StopSignals() {
        for (size_t i = 0; i < std::size(kStopSignals); ++i) sigaction(kStopSignals[i], &previous[i], nullptr);
    }
};

// FFmpeg asks this while it waits on the network: a stop gets a moment to
// send what is left, a connection attempt has a deadline of its own.
struct NetworkDeadline {
    Clock::time_point connectBy = Clock::time_point::max();
    static int interrupt(void* user) {
        auto* self = static_cast<NetworkDeadline*>(user);
        if (Clock::now() > self->connectBy) return 1;
        if (!gStop) return 0;
        struct timespec now;
        clock_gettime(CLOCK_MONOTONIC, &now);
        return double(now.tv_sec - gStopAt.tv_sec) + double(now.tv_nsec - gStopAt.tv_nsec) * 1e-9 > kStopGraceSeconds;
    }
};

bool isSrt(const std::string& url) { return url.rfind("srt://", 0) == 0; }

// Where the path begins (after scheme and host), or npos.
size_t pathStart(const std::string& url) {
    const size_t scheme = url.find("://");
    return scheme == std::string::npos ? std::string::npos : url.find_first_of("/?", scheme + 3);
}

// An RTMP URL's key: the last of two or more parts of its path.
bool rtmpHasKey(const std::string& url) {
    const size_t path = pathStart(url);
    if (path == std::string::npos || url[path] != '/') return false;
    const std::string rest = url.substr(path + 1, url.find('?', path) - path - 1);
    const size_t slash = rest.find('/');
    return slash != std::string::npos && slash + 1 < rest.size();
}

bool srtHasKey(const std::string& url) {
    return url.find("streamid=") != std::string::npos || url.find("passphrase=") != std::string::npos;
}

std::string trimmed(const std::string& s) {
    const size_t begin = s.find_first_not_of(" \t\r\n");
    if (begin == std::string::npos) return "";
    return s.substr(begin, s.find_last_not_of(" \t\r\n") - begin + 1);
}

// One stream, from the command line to the last packet.
class LiveStream {
public:
    LiveStream(const Options& options, std::string url, std::string shown)
        : o(options), mUrl(std::move(url)), mShown(std::move(shown)) {}
    int run();

private:
    void say(const std::string& m) { std::fprintf(stderr, "lumenvortex: %s\n", m.c_str()); }
    bool prepare();
    bool preparePlayList();
    bool openCapture();
    bool waitForCapture(MusicReader& music);
    long long takeCaptured(MusicReader& music);
    void pollLiveTrack(MusicReader& music);
    void linkCorvane();
    void followCorvane(MusicReader& music);
    bool connect();
    void disconnect(const std::string& why);
    bool waitForFrame(MusicReader& music);
    bool sendFrame(MusicReader& music);
    void takeTrackChanges(MusicReader& music, long long position);
    void writeSound(MusicReader& music, long long end);
    void reportDrops(bool atEnd);
    void finish();
    long long positionOf(long long frame) const { return frame * SAMPLE_RATE / o.fps; }

    const Options& o;
    const std::string mUrl, mShown;
    PluginHost mHost;
    VirtualClock mClock;
    NetworkDeadline mDeadline;
    std::unique_ptr<Program> mProgram;
    lv::TrackMeta mFirst;
    LVPort mPort{};
    long long mBase = 0;   // the plug-in's time at frame 0
    SpectrumAnalyzer mAnalyzer;
    RenderVisualData mData{};
    float mWindow[WINDOW_FRAMES * 2];

    // The play list's clock: frame n is due n / fps seconds after mStart.
    Clock::time_point mStart;
    long long mFrame = 0;
    long long mAudioSent = 0;     // the music's position up to which sound went out (or was let go)
    long long mTrackStart = 0;
    long long mSoundLimit = -1;   // --duration

    // The connection: its writer and the threads that feed it, and the
    // frame that is its first (pts 0). A broken one is kept until the next
    // takes its place, as frames still on their way from GL go to it.
    std::unique_ptr<lv::VideoWriter> mWriter;
    std::unique_ptr<SinkThread> mSinks;
    bool mConnected = false;
    long long mLinkFrame = 0;
    Clock::time_point mNextAttempt;
    int mBackoff = kFirstBackoffSeconds;
    Clock::time_point mLostAt;
    bool mEverConnected = false;

    // --capture: what the sound server delivered, on its thread, until the
    // loop takes it into the music; and the desktop's track. The stream
    // goes first, so that its thread is stopped before what it writes into.
    std::mutex mCapturedMutex;
    std::vector<float> mCaptured;
    lv::CaptureStream mCapture;
    LiveTrack mLiveTrack;

    // --source corvane: the server's spectra reach the plug-in through a
    // source of its own; the tracks it names wait here for their frame.
    std::unique_ptr<CorvaneLink> mCorvane;
    std::vector<lv::TrackMeta> mCorvaneTracks;

    long long mDropped = 0, mDroppedSaid = 0;
    Clock::time_point mDropsSaidAt;
};

// What the computer plays, from the default output's monitor (or the source
// named), with the track a desktop player says it plays.
bool LiveStream::openCapture() {
    lv::CaptureServerInfo server;
    std::string error;
    if (!lv::queryCaptureSources(server, error)) {
        say(error);
        return false;
    }
    const lv::CaptureSource* found = findCaptureSource(server, o.captureSource);
    if (!found) {
        say("no such sound source to capture: --list-sources lists them");
        return false;
    }
    mFirst.title = "Live sound";
    mFirst.artist = found->description;
    mFirst.album = server.serverName;
    mLiveTrack.start(mFirst, o.player, true);
    auto sink = [this](const float* frames, int count) {
        std::lock_guard<std::mutex> lock(mCapturedMutex);
        mCaptured.insert(mCaptured.end(), frames, frames + size_t(count) * 2);
    };
    if (!mCapture.start(o.captureSource, sink, error)) {
        say(error);
        return false;
    }
    return true;
}

long long LiveStream::takeCaptured(MusicReader& music) {
    std::lock_guard<std::mutex> lock(mCapturedMutex);
    music.frames.insert(music.frames.end(), mCaptured.begin(), mCaptured.end());
    mCaptured.clear();
    return music.end();
}

// The captured sound is the clock: frame mFrame waits for its sound, and
// when more came than a frame's worth, the frames it covers are skipped.
bool LiveStream::waitForCapture(MusicReader& music) {
    const long long needed = positionOf(mFrame) + 1;
    const Clock::time_point giveUp = Clock::now() + kCaptureStall;
    while (!gStop && takeCaptured(music) < needed) {
        if (Clock::now() > giveUp) {
            music.frames.resize(size_t(needed - music.start) * 2, 0.0f);
            break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const long long due = (music.end() - 1) * o.fps / SAMPLE_RATE;
    if (due > mFrame + 1) {
        mDropped += due - mFrame;
        mFrame = due;
    }
    return !gStop;
}

void LiveStream::pollLiveTrack(MusicReader& music) {
    for (std::string line; mCapture.notice(line);) say(line);
    if (const std::string now = mCapture.sourceDescription(); !now.empty() && now != mFirst.artist) {
        mFirst.artist = now;
        mLiveTrack.setSource(mFirst);
    }
    lv::TrackMeta meta;
    if (mLiveTrack.poll(meta, [this](const std::string& m) { say(m); }))
        music.changes.push_back({positionOf(mFrame), meta});
}

bool LiveStream::prepare() {
    if (o.capture) {
        mProgram = std::make_unique<Program>(std::vector<std::string>{}, false);
        if (!openCapture()) return false;
    } else if (o.corvanePort) {
        mProgram = std::make_unique<Program>(std::vector<std::string>{}, false);
        mFirst = CorvaneLink::firstTrack(o.corvanePort);
    } else if (!preparePlayList()) {
        return false;
    }
    std::string error;
    if (!loadPluginOnClock(mHost, o, mClock, "it cannot be paced for a stream", error)) {
        say(error);
        return false;
    }
    mSoundLimit = o.durationSeconds > 0 ? (long long)std::llround(o.durationSeconds * double(SAMPLE_RATE)) : -1;
    if (!mHost.start(error)) {
        say(error);
        return false;
    }
    mPort.kind = LV_PORT_OFFSCREEN;
    mPort.width = o.width;
    mPort.height = o.height;
    mHost.play(mFirst);
    mHost.show(&mPort, o.width, o.height);
    if (o.corvanePort) linkCorvane();
    mBase = mClock.micros;
    if (o.verbose && mPort.renderer[0]) say(std::string("drawing with ") + mPort.renderer);
    mData.numWaveformChannels = 2;
    mData.numSpectrumChannels = 2;
    return true;
}

bool LiveStream::preparePlayList() {
    std::vector<std::string> problems;
    std::vector<std::string> paths = lv::expandPlaylist(o.inputs, problems);
    for (const std::string& p : problems) say(p);
    if (!o.inputs.empty() && paths.empty()) {
        say("nothing to play");
        return false;
    }
    mProgram = std::make_unique<Program>(paths, o.loop);
    mProgram->mWarn = [this](const std::string& m) { say(m); };
    if (mProgram->next(mFirst)) return true;
    say("nothing could be played");
    return false;
}

// The server's frames drive the field; the stream's sound is silence, as
// corvane sends spectra, not sound. Its tracks become the stream's.
void LiveStream::linkCorvane() {
    CorvaneLink::Hooks hooks;
    const int port = o.corvanePort;
    hooks.attach = [this, port] { return mHost.attachCorvane(port); };
    hooks.onTrack = [this](const lv::TrackMeta& meta) { mCorvaneTracks.push_back(meta); };
    hooks.onGone = [this, port] { mCorvaneTracks.push_back(CorvaneLink::goneTrack(port)); };
    hooks.say = [this](const std::string& m) { say(m); };
    mCorvane = std::make_unique<CorvaneLink>(port, std::move(hooks));
    mCorvane->start(CorvaneLink::Clock::now());
}

void LiveStream::followCorvane(MusicReader& music) {
    const size_t silence = size_t(positionOf(mFrame) + 1 - music.start) * 2;
    if (music.frames.size() < silence) music.frames.resize(silence, 0.0f);
    mCorvane->tick(CorvaneLink::Clock::now());
    for (lv::TrackMeta& meta : mCorvaneTracks) music.changes.push_back({positionOf(mFrame), std::move(meta)});
    mCorvaneTracks.clear();
}

// A new connection from frame mFrame on; false (and the next attempt
// planned) when the server cannot be reached.
bool LiveStream::connect() {
    lv::VideoOptions vo;
    vo.width = o.width;
    vo.height = o.height;
    vo.fps = o.fps;
    vo.crf = o.crf;
    vo.preset = o.preset;
    vo.live = true;
    vo.maxKbps = o.streamKbps;
    vo.crfWithinBound = o.streamCrf;
    vo.audioBitRate = kStreamAudioBitRate;
    lv::StreamLink link;
    link.interrupt = &NetworkDeadline::interrupt;
    link.user = &mDeadline;
    link.timeoutMicros = kNetworkTimeoutMicros;
    auto writer = std::make_unique<lv::VideoWriter>();
    std::string error;
    mDeadline.connectBy = Clock::now() + std::chrono::microseconds(kNetworkTimeoutMicros);
    const bool opened = writer->openStream(mUrl, mShown, vo, link, error);
    mDeadline.connectBy = Clock::time_point::max();
    if (!opened) {
        if (o.verbose || !mEverConnected) say(error + ": trying again in " + std::to_string(mBackoff) + " s");
        mNextAttempt = Clock::now() + std::chrono::seconds(mBackoff);
        mBackoff = std::min(mBackoff * 2, kLastBackoffSeconds);
        return false;
    }
    auto sinks = std::make_unique<SinkThread>(writer.get(), std::string(), nullptr, o.width, o.height);
    sinks->attach(mPort);   // frames of the broken connection still on their way are let go
    mSinks = std::move(sinks);
    mWriter = std::move(writer);
    mConnected = true;
    mLinkFrame = mFrame;
    mAudioSent = std::max(mAudioSent, positionOf(mFrame));
    mBackoff = kFirstBackoffSeconds;
    if (mEverConnected)
        say("reconnected to " + mShown + " after " + clockText(secondsSince(mLostAt)) + "; streaming again");
    else
        say("streaming to " + mShown + " (" + std::to_string(o.width) + "x" + std::to_string(o.height) + " at " +
            std::to_string(o.fps) + " fps, " + std::to_string(o.streamKbps) + " kb/s)");
    mEverConnected = true;
    return true;
}

void LiveStream::disconnect(const std::string& why) {
    mConnected = false;
    mLostAt = Clock::now();
    mNextAttempt = mLostAt + std::chrono::seconds(mBackoff);
    say("lost the stream to " + mShown + " (" + why + "); the music goes on, trying again in " +
        std::to_string(mBackoff) + " s");
    mBackoff = std::min(mBackoff * 2, kLastBackoffSeconds);
}

// Sleeps until frame mFrame is due; when the drawing fell more than a frame
// behind, skips to the frame due now. False on a stop signal.
bool LiveStream::waitForFrame(MusicReader& music) {
    if (o.capture) return waitForCapture(music);
    const double fps = o.fps;
    const long long due = (long long)(secondsSince(mStart) * fps);
    if (due > mFrame + 1) {
        mDropped += due - mFrame;
        mFrame = due;
    }
    const Clock::time_point at = mStart + std::chrono::microseconds(mFrame * 1000000 / o.fps);
    while (!gStop && Clock::now() < at) {
        const auto left = std::chrono::duration_cast<std::chrono::nanoseconds>(at - Clock::now()).count();
        if (left <= 0) break;
        struct timespec pause = {time_t(left / 1000000000), long(left % 1000000000)};
        nanosleep(&pause, nullptr);   // a signal cuts it short
    }
    if (mCorvane) followCorvane(music);
    return !gStop;
}

void LiveStream::writeSound(MusicReader& music, long long end) {
    end = std::min(end, music.end());
    if (end <= mAudioSent) return;
    if (mConnected) mSinks->audio(&music.frames[size_t(mAudioSent - music.start) * 2], size_t(end - mAudioSent));
    mAudioSent = end;
}

void LiveStream::takeTrackChanges(MusicReader& music, long long position) {
    bool begun = false;
    lv::TrackMeta latest;
    while (!music.changes.empty() && music.changes.front().position <= position) {
        latest = std::move(music.changes.front().meta);
        mTrackStart = music.changes.front().position;
        begun = true;
        music.changes.pop_front();
    }
    if (!begun) return;
    writeSound(music, position);
    mHost.changeTrack(latest);
    if (o.verbose) say("now playing " + (latest.title.empty() ? std::string("a track without a title") : latest.title));
}

// Frame mFrame and its sound, if a connection takes them. False when the
// music is over.
bool LiveStream::sendFrame(MusicReader& music) {
    const long long position = positionOf(mFrame);
    if (mSoundLimit >= 0 && position >= mSoundLimit) return false;
    music.decodeTo(position + 1);
    if (position >= music.end()) return false;
    if (o.capture) pollLiveTrack(music);
    takeTrackChanges(music, position);
    if (!mConnected && Clock::now() >= mNextAttempt) connect();
    writeSound(music, mSoundLimit >= 0 ? std::min(mSoundLimit, position + 1) : position + 1);
    if (mConnected) {
        music.window(position, mWindow);
        mAnalyzer.compute(mWindow, mData.spectrumData, mData.waveformData);
        mClock.micros = std::max(mClock.micros, mBase + mFrame * 1000000 / o.fps);
        mSinks->numberFrame(mPort.frameCount, mFrame - mLinkFrame);
        mHost.render(mData, UInt32(std::max(0LL, position - mTrackStart) * 1000 / SAMPLE_RATE));
        if (mSinks->failed()) disconnect(mSinks->error());
    }
    music.forget(position - WINDOW_FRAMES);
    return true;
}

void LiveStream::reportDrops(bool atEnd) {
    if (mDropped == mDroppedSaid || (!atEnd && secondsSince(mDropsSaidAt) < kDropReportSeconds)) return;
    const double minutes = std::max(1.0, secondsSince(mDropsSaidAt) / 60.0);
    say("dropped " + std::to_string(mDropped - mDroppedSaid) + " frames in the last " +
        (minutes < 1.5 ? std::string("minute") : std::to_string(int(minutes)) + " minutes") +
        " to keep up with the music (" + std::to_string(mDropped) +
        " in all): this machine cannot draw every frame in time; a smaller --size or --fps helps");
    mDroppedSaid = mDropped;
    mDropsSaidAt = Clock::now();
}

// The frames still on their way, the encoder's last packets, the stream's end.
void LiveStream::finish() {
    mHost.hide();
    mHost.cleanup();
    SinkThread::detach(mPort);
    if (mSinks) mSinks->finish();
    std::string error;
    if (mConnected && !mWriter->close(error)) say(error);
}

int LiveStream::run() {
    if (!prepare()) return 1;
    StopSignals stopSignals;
    MusicReader music(*mProgram);
    music.ended = o.capture || o.corvanePort;   // the sound does not come from the decoder
    mStart = mDropsSaidAt = Clock::now();
    mNextAttempt = mStart;
    while (waitForFrame(music) && sendFrame(music)) {
        ++mFrame;
        reportDrops(false);
    }
    reportDrops(true);
    mCapture.stop();
    mLiveTrack.stop();
    finish();
    const double seconds = double(mAudioSent) / SAMPLE_RATE;
    if (gStop)
        say("stopped by " + std::string(gStop == SIGINT ? "Ctrl+C" : gStop == SIGHUP ? "SIGHUP" : "SIGTERM") +
            " after " + clockText(seconds) + " of music");
    else
        say("the play list is over after " + clockText(seconds) + " of music");
    return 0;
}

}  // namespace

std::vector<OptionRule> streamOptionRules(Options& o) {
    using Takes = OptionRule::Takes;
    return {
        OptionRule{"--stream", "", Takes::VALUE,
                   // Checked in checkStreamOptions, where the refusal can leave the key out.
                   [&o](const std::string& v) {
                       o.streamUrl = v;
                       return !v.empty();
                   },
                   "an rtmp://, rtmps:// or srt:// URL (like rtmp://live.example.com/app/KEY)"}
            .doc(kStreamSection, "URL",
                 "stream the files (or the demo song, or with --capture what the computer plays, with the desktop "
                 "player's track, or with --source corvane a spectrum server's field and tracks, in silence) live, paced to the music: H.264 and AAC in FLV to an "
                 "rtmp:// or rtmps:// server, in MPEG-TS to srt://; 1280x720 at 30 fps unless --size or --fps say "
                 "otherwise, a key frame every 2 seconds. With --loop the list plays for ever. A connection that "
                 "breaks or is refused is tried again after 1, 2, 4 ... up to 30 seconds while the music goes on; "
                 "frames the machine cannot draw in time are left out, never the sound. The key (the URL's last "
                 "part, an SRT URL's query) is shown as \u2026. Ends with 0 when the list is over, or on Ctrl+C or "
                 "SIGTERM"),
        OptionRule{"--stream-key-file", "", Takes::VALUE,
                   [&o](const std::string& v) {
                       o.streamKeyFile = v;
                       return !v.empty();
                   },
                   "a file that holds the stream key"}
            .doc(kStreamSection, "FILE",
                 "read the stream key from FILE (its first line) and add it to the URL given without one, so that "
                 "it stays out of ps and the shell's history; without it, $" + std::string(kKeyVariable) +
                     " is used the same way")
            .completeWith(OptionRule::Completes::FILE),
        intOption("--bitrate", 300, 100000, o.streamKbps, "a whole number of kb/s from 300 to 100000")
            .doc(kStreamSection, "KBPS",
                 "the stream's video rate in kb/s (default 4500); the encoder never goes above it. With --crf the "
                 "quality is constant and the rate only bounded"),
    };
}

bool checkStreamOptions(Options& o, const std::map<std::string, std::string>& given, std::string& error) {
    if (!o.streams()) {
        for (const char* option : {"--stream-key-file", "--bitrate"})
            if (given.count(option)) {
                error = std::string(option) + " goes with --stream";
                return false;
            }
        return true;
    }
    if (!lv::streamContainer(o.streamUrl)) {
        error = "--stream takes an rtmp://, rtmps:// or srt:// URL (like rtmp://live.example.com/app/KEY), not " +
                urlWithoutKey(o.streamUrl);
        return false;
    }
    const char* clash = o.renders()               ? "--render or --frames"
                        : o.transparent           ? "--transparent (H.264 has no alpha)"
                        : o.highlightSeconds > 0  ? "--highlight"
                                                  : nullptr;
    if (clash) {
        error = std::string("--stream cannot be combined with ") + clash;
        return false;
    }
    if (o.width % 2 || o.height % 2) {
        error = "--size must be even in both directions for an H.264 stream (like 1280x720)";
        return false;
    }
    if (!given.count("--fps")) o.fps = kLiveFps;
    o.streamCrf = given.count("--crf") > 0;
    return true;
}

std::string urlWithoutKey(const std::string& url) {
    std::string shown = url;
    const size_t scheme = shown.find("://");
    if (scheme == std::string::npos) return shown;
    const size_t path = pathStart(shown);
    const size_t at = shown.find('@', scheme + 3);
    if (at != std::string::npos && at < path) {   // user:password@
        const size_t colon = shown.find(':', scheme + 3);
        if (colon < at) shown.replace(colon + 1, at - colon - 1, "\u2026");
    }
    const size_t query = shown.find('?', scheme + 3);
    if (query != std::string::npos) shown = shown.substr(0, query + 1) + "\u2026";
    if (!isSrt(shown) && rtmpHasKey(shown)) {
        const size_t end = shown.find('?');
        const size_t slash = shown.rfind('/', end == std::string::npos ? std::string::npos : end);
        shown = shown.substr(0, slash + 1) + "\u2026" + (end == std::string::npos ? "" : shown.substr(end));
    }
    return shown;
}

bool streamTarget(const Options& o, const char* keyFromEnvironment, std::string& url, std::string& key,
                  std::string& error) {
    url = o.streamUrl;
    const bool srt = isSrt(url);
    const bool hasKey = srt ? srtHasKey(url) : rtmpHasKey(url);
    key.clear();
    if (!o.streamKeyFile.empty()) {
        std::ifstream in(o.streamKeyFile);
        std::string line;
        if (!in || !std::getline(in, line) || trimmed(line).empty()) {
            error = "--stream-key-file " + o.streamKeyFile + ": " +
                    (in ? "the file holds no key on its first line" : std::string("cannot read it: ") + std::strerror(errno));
            return false;
        }
        if (hasKey) {
            error = "the URL given to --stream holds a key, and --stream-key-file gives one too: leave one out";
            return false;
        }
        key = trimmed(line);
    } else if (!hasKey && keyFromEnvironment && *keyFromEnvironment) {
        key = trimmed(keyFromEnvironment);
    }
    if (!key.empty()) {
        if (srt)
            url += std::string(url.find('?') == std::string::npos ? "?" : "&") + "streamid=" + key;
        else
            url = (url.back() == '/' ? url : url + "/") + key;
        return true;
    }
    if (srt) {
        const size_t id = url.find("streamid=");
        if (id != std::string::npos) key = url.substr(id + 9, url.find('&', id) - id - 9);
    } else if (hasKey) {
        key = url.substr(url.rfind('/', url.find('?')) + 1);
        key = key.substr(0, key.find('?'));
    }
    return true;
}

int runStream(const Options& options) {
    // A reader of the messages that goes away costs the messages, not the stream;
    // a server that closes gives an error to reconnect on, not a signal.
    signal(SIGPIPE, SIG_IGN);
    std::string url, key, error;
    if (!streamTarget(options, std::getenv(kKeyVariable), url, key, error)) {
        std::fprintf(stderr, "lumenvortex: %s\n", error.c_str());
        return 2;
    }
    if (!key.empty()) lv::hideInMessages(key);
    return LiveStream(options, url, urlWithoutKey(url)).run();
}
