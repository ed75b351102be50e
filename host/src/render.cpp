// Offline rendering: the plug-in draws into an offscreen port on a virtual
// clock, frame n at exactly n / fps seconds, and the frames go to a video
// (or PNGs) together with the music. Nothing waits on the wall clock, so a
// render runs as fast as the machine draws, and the same input and options
// give the same frames.
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <mutex>
#include <thread>

#include "lv/video_out.h"
#include "player.h"
#include "plugin_host.h"
#include "program.h"
#include "fft_analyzer.h"

namespace fs = std::filesystem;

namespace {

constexpr long long RATE = 44100;

// Ctrl+C or SIGTERM during a long render: the loop stops and the file is
// finished with what was drawn, rather than left without its index. A
// second signal ends the process at once.
volatile sig_atomic_t gStopSignal = 0;

void onStopSignal(int sig) { gStopSignal = sig; }

struct StopSignals {
    struct sigaction previous[2];
    StopSignals() {
        struct sigaction action {};
        action.sa_handler = onStopSignal;
        action.sa_flags = SA_RESETHAND | SA_RESTART;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &previous[0]);
        sigaction(SIGTERM, &action, &previous[1]);
    }
    ~StopSignals() {
        sigaction(SIGINT, &previous[0], nullptr);
        sigaction(SIGTERM, &previous[1], nullptr);
    }
};

// The plug-in's time. Frame pacing and pauses sleep on it, which only moves
// it on; the renderer sets it forward to each frame's time.
struct VirtualClock {
    long long micros = 0;
    static long long now(void* user) { return static_cast<VirtualClock*>(user)->micros; }
    static void sleep(void* user, long long micros) {
        if (micros > 0) static_cast<VirtualClock*>(user)->micros += micros;
    }
};

// Encoding and file writing run beside the drawing: the next frame is drawn
// while the last one is compressed. Jobs are done in the order given.
class SinkThread {
public:
    SinkThread(lv::VideoWriter* video, const std::string& framesDir, lv::WavWriter* wav, int width, int height)
        : mVideo(video), mFramesDir(framesDir), mWav(wav), mWidth(width), mHeight(height),
          mThread(&SinkThread::run, this) {}

    ~SinkThread() { finish(); }

    void frame(const unsigned char* rgba) {
        Job job;
        job.pixels.assign(rgba, rgba + size_t(mWidth) * mHeight * 4);
        job.index = mFramesQueued++;
        put(std::move(job));
    }

    void audio(const float* frames, size_t count) {
        if (!count) return;
        Job job;
        job.audio.assign(frames, frames + count * 2);
        put(std::move(job));
    }

    // Waits for the queue to empty and the thread to end.
    void finish() {
        {
            std::lock_guard<std::mutex> lock(mMutex);
            mDone = true;
        }
        mCv.notify_all();
        if (mThread.joinable()) mThread.join();
    }

    bool failed() const { return mFailed; }
    std::string error() {
        std::lock_guard<std::mutex> lock(mMutex);
        return mError;
    }

private:
    struct Job {
        std::vector<unsigned char> pixels;
        std::vector<float> audio;
        long long index = 0;
    };

    void put(Job&& job) {
        std::unique_lock<std::mutex> lock(mMutex);
        // Two frames in flight is enough to keep both sides busy.
        mCv.wait(lock, [&] { return mJobs.size() < 4 || mFailed; });
        if (mFailed) return;
        mJobs.push_back(std::move(job));
        mCv.notify_all();
    }

    void run() {
        for (;;) {
            Job job;
            {
                std::unique_lock<std::mutex> lock(mMutex);
                mCv.wait(lock, [&] { return !mJobs.empty() || mDone; });
                if (mJobs.empty()) return;
                job = std::move(mJobs.front());
                mJobs.pop_front();
            }
            mCv.notify_all();
            if (mFailed) continue;
            std::string error;
            bool ok = true;
            if (!job.audio.empty()) {
                if (mVideo) ok = mVideo->writeAudio(job.audio.data(), job.audio.size() / 2, error);
                if (ok && mWav) ok = mWav->write(job.audio.data(), job.audio.size() / 2, error);
            } else {
                if (mVideo) ok = mVideo->writeFrame(job.pixels.data(), error);
                if (ok && !mFramesDir.empty()) {
                    char name[32];
                    std::snprintf(name, sizeof name, "/frame-%06lld.png", job.index);
                    ok = lv::writePng(mFramesDir + name, job.pixels.data(), mWidth, mHeight, error);
                }
            }
            if (!ok) {
                std::lock_guard<std::mutex> lock(mMutex);
                mError = error;
                mFailed = true;
                mCv.notify_all();
            }
        }
    }

    lv::VideoWriter* mVideo;
    std::string mFramesDir;
    lv::WavWriter* mWav;
    int mWidth, mHeight;
    long long mFramesQueued = 0;
    std::mutex mMutex;
    std::condition_variable mCv;
    std::deque<Job> mJobs;
    bool mDone = false;
    std::atomic<bool> mFailed{false};
    std::string mError;
    std::thread mThread;
};

// A progress line on the terminal: only when stderr is one.
class Progress {
public:
    Progress(long long totalFrames, int fps) : mTotal(totalFrames), mFps(fps), mOn(isatty(STDERR_FILENO)) {
        mStart = mLast = std::chrono::steady_clock::now();
    }

    void update(long long done) {
        if (!mOn) return;
        auto now = std::chrono::steady_clock::now();
        if (now - mLast < std::chrono::milliseconds(100) && done != mTotal) return;
        mLast = now;
        double seconds = std::chrono::duration<double>(now - mStart).count();
        double fps = seconds > 0 ? double(done) / seconds : 0.0;
        char line[160];
        if (mTotal > 0) {
            long long shown = std::min(done, mTotal);
            int width = 30, filled = int(double(shown) / double(mTotal) * width);
            std::string bar(size_t(filled), '=');
            if (filled < width) bar += '>' + std::string(size_t(width - filled - 1), ' ');
            long long eta = fps > 0 ? (long long)(double(mTotal - shown) / fps + 0.5) : 0;
            std::snprintf(line, sizeof line, "\r%3d%% [%s] %lld/%lld frames  %.1f fps (%.2fx real time)  ETA %lld:%02lld ",
                          int(100.0 * double(shown) / double(mTotal)), bar.c_str(), done, mTotal, fps, fps / mFps,
                          eta / 60, eta % 60);
        } else {
            std::snprintf(line, sizeof line, "\r%lld frames  %.1f fps (%.2fx real time) ", done, fps, fps / mFps);
        }
        std::fputs(line, stderr);
        std::fflush(stderr);
        mDirty = true;
    }

    // Clears the line before another message goes out.
    void clear() {
        if (mOn && mDirty) {
            std::fputs("\r\033[K", stderr);
            mDirty = false;
        }
    }

    double elapsedSeconds() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - mStart).count();
    }

private:
    long long mTotal;
    int mFps;
    bool mOn;
    bool mDirty = false;
    std::chrono::steady_clock::time_point mStart, mLast;
};

// The music as the renderer reads it: decoded ahead of the frame being drawn,
// the last WINDOW_FRAMES kept for the spectrum, track changes noted by
// position.
struct MusicReader {
    Program& program;
    std::vector<float> frames;   // decoded frames [start, start + frames.size() / 2)
    long long start = 0;
    bool ended = false;
    struct Change {
        long long position;
        lv::TrackMeta meta;
    };
    std::deque<Change> changes;   // tracks that begin at or after the frame drawn

    explicit MusicReader(Program& p) : program(p) {}

    long long end() const { return start + (long long)(frames.size() / 2); }

    void decodeTo(long long position) {
        std::vector<float> chunk(4096 * 2);
        while (!ended && end() < position) {
            size_t n = program.read(chunk.data(), 4096);
            if (n == 0) {
                lv::TrackMeta meta;
                if (program.next(meta))
                    changes.push_back({end(), meta});
                else
                    ended = true;
                continue;
            }
            frames.insert(frames.end(), chunk.begin(), chunk.begin() + long(n) * 2);
        }
    }

    void window(long long endPosition, float* out) const {
        for (int i = 0; i < SpectrumAnalyzer::WINDOW_FRAMES; ++i) {
            long long p = endPosition - SpectrumAnalyzer::WINDOW_FRAMES + i;
            if (p < start || p >= end()) {
                out[2 * i] = out[2 * i + 1] = 0.0f;
            } else {
                out[2 * i] = frames[size_t(p - start) * 2];
                out[2 * i + 1] = frames[size_t(p - start) * 2 + 1];
            }
        }
    }

    // Frames before `position` are no longer needed.
    void forget(long long position) {
        long long drop = std::min(position, end()) - start;
        if (drop < 65536) return;   // trim in big steps: erasing the front moves the rest
        frames.erase(frames.begin(), frames.begin() + drop * 2);
        start += drop;
    }
};

std::string timeText(double seconds) {
    long long s = (long long)(seconds + 0.5);
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%lld:%02lld", s / 60, s % 60);
    return buffer;
}

}  // namespace

int runRender(const Options& o) {
    Progress* progress = nullptr;
    auto say = [&](const std::string& m) {
        if (progress) progress->clear();
        std::fprintf(stderr, "lumenvortex: %s\n", m.c_str());
    };

    std::vector<std::string> problems;
    std::vector<std::string> paths = lv::expandPlaylist(o.inputs, problems);
    for (const std::string& p : problems) say(p);
    if (!o.inputs.empty() && paths.empty()) {
        say("nothing to play");
        return 1;
    }

    PluginHost host;
    std::string error;
    if (!loadPlugin(host, o, error)) {
        say(error);
        return 1;
    }
    VirtualClock clock;
    if (!host.setClock(&VirtualClock::now, &VirtualClock::sleep, &clock)) {
        say(host.mPluginPath + " has no LumenvortexSetClock: it cannot draw on a virtual clock, so it cannot render "
                               "offline (use the player's own Lumenvortex.so)");
        return 1;
    }

    Program program(paths, false);
    program.mWarn = say;
    lv::TrackMeta first;
    if (!program.next(first)) {
        say("nothing could be played");
        return 1;
    }

    const long long limitFrames =
        o.durationSeconds > 0 ? (long long)std::llround(o.durationSeconds * double(RATE)) : -1;
    long long estimateMs = program.estimateTotalMs();
    if (limitFrames >= 0 && (estimateMs < 0 || estimateMs > limitFrames * 1000 / RATE))
        estimateMs = limitFrames * 1000 / RATE;
    const long long estimatedVideoFrames = estimateMs >= 0 ? (estimateMs * o.fps + 999) / 1000 : -1;

    // Where the frames go. From here on a stop signal finishes them.
    StopSignals stopSignals;
    lv::VideoWriter video;
    lv::WavWriter wav;
    bool toVideo = !o.renderPath.empty(), toFrames = !o.framesDir.empty();
    if (toVideo) {
        std::error_code ec;
        fs::path parent = fs::path(o.renderPath).parent_path();
        if (!parent.empty()) fs::create_directories(parent, ec);
        lv::VideoOptions vo;
        vo.width = o.width;
        vo.height = o.height;
        vo.fps = o.fps;
        vo.crf = o.crf;
        vo.preset = o.preset;
        if (paths.empty()) {
            vo.metadata = {{"title", first.title}, {"artist", first.artist}, {"album", first.album}};
        }
        vo.metadata.push_back({"comment", "Lumenvortex"});
        if (!video.open(o.renderPath, vo, error)) {
            say(error);
            return 1;
        }
    }
    if (toFrames) {
        std::error_code ec;
        fs::create_directories(o.framesDir, ec);
        if (ec) {
            say("cannot make the folder " + o.framesDir + ": " + ec.message());
            return 1;
        }
        if (!wav.open(o.framesDir + "/audio.wav", error)) {
            say(error);
            return 1;
        }
    }

    std::string startError;
    if (!host.start(startError)) {
        say(startError);
        return 1;
    }
    std::vector<unsigned char> pixels(size_t(o.width) * o.height * 4, 0);
    LVPort port{};
    port.kind = LV_PORT_OFFSCREEN;
    port.width = o.width;
    port.height = o.height;
    port.pixels = pixels.data();
    // The track plays before the picture opens, as when a visualizer is
    // switched on during a song.
    host.play(first);
    host.show(&port, o.width, o.height);
    const long long base = clock.micros;   // the show's start-up pause is behind us

    SinkThread sinks(toVideo ? &video : nullptr, toFrames ? o.framesDir : std::string(), toFrames ? &wav : nullptr,
                     o.width, o.height);
    Progress bar(estimatedVideoFrames, o.fps);
    progress = &bar;
    MusicReader music(program);
    SpectrumAnalyzer analyzer;
    RenderVisualData data;
    std::memset(&data, 0, sizeof data);
    data.numWaveformChannels = 2;
    data.numSpectrumChannels = 2;
    float window[SpectrumAnalyzer::WINDOW_FRAMES * 2];
    long long audioWritten = 0;
    long long trackStart = 0;
    long long frame = 0;
    bool broken = false;
    long long soundLimit = limitFrames;   // --duration, or where a stop signal came
    int stoppedBy = 0;

    for (;; ++frame) {
        const long long position = frame * RATE / o.fps;   // the sample heard at this frame
        if (limitFrames >= 0 && position >= limitFrames) break;
        if (gStopSignal) {
            stoppedBy = gStopSignal;
            soundLimit = position;
            break;
        }
        music.decodeTo(position + 1);
        if (position >= music.end()) break;   // the music is over
        // Sound up to this frame's time goes out with it.
        long long soundEnd = std::min(music.end(), limitFrames >= 0 ? std::min(limitFrames, position + 1) : position + 1);
        if (soundEnd > audioWritten) {
            sinks.audio(&music.frames[size_t(audioWritten - music.start) * 2], size_t(soundEnd - audioWritten));
            audioWritten = soundEnd;
        }
        // A track that began by now: the latest one is announced.
        bool begun = false;
        lv::TrackMeta latest;
        while (!music.changes.empty() && music.changes.front().position <= position) {
            latest = std::move(music.changes.front().meta);
            trackStart = music.changes.front().position;
            begun = true;
            music.changes.pop_front();
        }
        if (begun) host.changeTrack(latest);

        music.window(position, window);
        analyzer.compute(window, data.spectrumData, data.waveformData);
        clock.micros = std::max(clock.micros, base + frame * 1000000 / o.fps);
        unsigned long before = port.frameCount;
        host.render(data, UInt32((position - trackStart) * 1000 / RATE));
        if (port.frameCount == before) {
            say("the plug-in drew no frame (no GL context? see the messages above): stopping");
            broken = true;
            break;
        }
        sinks.frame(pixels.data());
        if (sinks.failed()) {
            broken = true;
            break;
        }
        music.forget(position - SpectrumAnalyzer::WINDOW_FRAMES);
        bar.update(frame + 1);
    }
    // The sound's tail after the last frame's start.
    if (!broken) {
        if (soundLimit >= 0) music.decodeTo(soundLimit);
        long long soundEnd = soundLimit >= 0 ? std::min(soundLimit, music.end()) : music.end();
        if (soundEnd > audioWritten)
            sinks.audio(&music.frames[size_t(audioWritten - music.start) * 2], size_t(soundEnd - audioWritten));
        audioWritten = std::max(audioWritten, soundEnd);
    }
    bar.update(frame);
    host.hide();
    host.cleanup();
    sinks.finish();
    bar.clear();
    progress = nullptr;

    if (sinks.failed()) {
        say(sinks.error());
        broken = true;
    }
    std::string closeError;
    if (toVideo && !video.close(closeError) && !broken) {
        say(closeError);
        broken = true;
    }
    if (toFrames && !wav.close(closeError) && !broken) {
        say(closeError);
        broken = true;
    }
    if (broken) return 1;
    if (stoppedBy)
        say(std::string("stopped by ") + (stoppedBy == SIGINT ? "Ctrl+C" : "SIGTERM") + " after " +
            timeText(double(audioWritten) / double(RATE)) + "; what was drawn is kept");
    else if (frame == 0) {
        say("nothing could be played");
        return 1;
    }

    double seconds = double(audioWritten) / double(RATE);
    double took = bar.elapsedSeconds();
    double speed = took > 0 ? seconds / took : 0.0;
    std::error_code ec;
    if (toVideo)
        std::printf("wrote %s (%lld frames at %d fps, %s, rendered at %.2fx real time)\n",
                    fs::absolute(o.renderPath, ec).c_str(), frame, o.fps, timeText(seconds).c_str(), speed);
    if (toFrames)
        std::printf("wrote %lld frames and audio.wav to %s (%d fps, %s, rendered at %.2fx real time)\n", frame,
                    fs::absolute(o.framesDir, ec).c_str(), o.fps, timeText(seconds).c_str(), speed);
    if (o.verbose) {
        std::string asked;
        for (OSType r : host.mRequests) {
            char code[5] = {char(r >> 24), char(r >> 16), char(r >> 8), char(r), 0};
            asked += std::string(asked.empty() ? "" : " ") + code;
        }
        std::fprintf(stderr, "lumenvortex: the plug-in \"%s\" asked: %s\n", host.mPluginName.c_str(), asked.c_str());
    }
    if (stoppedBy) return 128 + stoppedBy;
    return program.tracksFailed() > 0 && program.framesDelivered() == 0 ? 1 : 0;
}
