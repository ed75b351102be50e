// Offline rendering: the plug-in draws into an offscreen port on a virtual
// clock, frame n at exactly n / fps seconds, and the frames go to a video
// (or PNGs) together with the music. Nothing waits on the wall clock, so a
// render runs as fast as the machine draws, and the same input and options
// give the same frames.
#include <limits.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <memory>

#include "lv/file_kind.h"
#include "lv/video_out.h"
#include "music_reader.h"
#include "player.h"
#include "plugin_host.h"
#include "program.h"
#include "progress.h"
#include "segments.h"
#include "sink_thread.h"
#include "fft_spectrum_analyzer.h"
#include "highlight.h"
#include "track_files.h"
#include "video_tags.h"
#include "virtual_clock.h"

namespace fs = std::filesystem;

namespace {

// Ctrl+C, SIGTERM or a closed terminal (SIGHUP) during a long render: the
// loop stops and the file is finished with what was drawn, rather than left
// without its index. Calls
// that block are not restarted after it, so one signal ends a wait as well.
// A second signal ends the process at once, and takes the unfinished video
// and frames' sound (no player could read them) with it.
volatile sig_atomic_t gStopSignal = 0;
char gPartPath[PATH_MAX];      // the video being written, while there is one
char gWavPartPath[PATH_MAX];   // the frames' sound, likewise

void onStopSignal(int sig) {
    if (!gStopSignal) {
        gStopSignal = sig;
        return;
    }
    if (gPartPath[0]) unlink(gPartPath);
    if (gWavPartPath[0]) unlink(gWavPartPath);
    signal(sig, SIG_DFL);
    raise(sig);
}

constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};

// How the closing lines name the signal that stopped a render.
std::string stopSignalName(int sig) {
    return sig == SIGINT ? "Ctrl+C" : sig == SIGHUP ? "SIGHUP (the terminal closed)" : "SIGTERM";
}

struct StopSignals {
    struct sigaction previous[std::size(kStopSignals)];
    sigset_t previousMask;
    StopSignals() {
        struct sigaction action {};
        action.sa_handler = onStopSignal;
        sigemptyset(&action.sa_mask);
        // Whoever started us may have left them blocked; a render stops on
        // them all the same (one that came already is taken now).
        sigset_t stop;
        sigemptyset(&stop);
        for (size_t i = 0; i < std::size(kStopSignals); ++i) {
            sigaction(kStopSignals[i], &action, &previous[i]);
            sigaddset(&stop, kStopSignals[i]);
        }
        sigprocmask(SIG_UNBLOCK, &stop, &previousMask);
    }
    ~StopSignals() {
        gPartPath[0] = 0;
        gWavPartPath[0] = 0;
        for (size_t i = 0; i < std::size(kStopSignals); ++i) sigaction(kStopSignals[i], &previous[i], nullptr);
        sigprocmask(SIG_SETMASK, &previousMask, nullptr);
    }
};

// One render, from the command line to the files. The steps are members so
// that each early way out leaves the rest to the destructors.
class OfflineRender {
public:
    explicit OfflineRender(const Options& options) : o(options) {}
    int run();

private:
    enum class Step { DRAWN, OVER, BROKEN };

    void say(const std::string& m);
    bool prepare();
    bool planTrackFiles();
    bool nextTrackFile(const lv::TrackMeta& track, SinkThread& sinks);
    bool checkOutputsSpareInputs();
    bool checkFramesFolder();
    bool clearOldFrames();
    bool openOutputs();
    bool startPlugin();
    Step drawFrame(MusicReader& music, SinkThread* sinks);
    void writeSound(MusicReader& music, SinkThread* sinks, long long end);
    bool planSegment();
    Step stepToSegment(MusicReader& music);
    std::vector<lv::VideoChapter> segmentChapters() const;
    int finish(bool broken, double took);
    void sumUpFilesNotPlayed();
    std::vector<const lv::VideoWriter*> videos() const;
    void planWarmUp();
    long long framesWritten() const { return std::max(0LL, mFrame - std::max(mWarmFrames, mSkipUntil)); }

    const Options& o;
    Progress* mProgress = nullptr;
    PluginHost mHost;
    VirtualClock mClock;
    std::vector<std::string> mPaths;
    std::unique_ptr<Program> mProgram;
    lv::TrackMeta mFirst;
    long long mLimitFrames = -1;            // --duration in frames, or -1
    long long mEstimatedVideoFrames = -1;   // for the progress line
    lv::VideoWriter mVideo;
    bool mToFolder = false;                 // a video a track (--render DIR/)
    TrackFiles mTrackFiles;
    lv::VideoOptions mVideoOptions;         // the folder's, before each track's tags
    lv::VideoWriter* mOut = &mVideo;        // the video being written
    lv::WavWriter mWav;
    bool mToVideo = false, mToFrames = false;
    LVPort mPort{};                         // frames go to the SinkThread (attach)
    long long mBase = 0;                    // the plug-in's time at frame 0
    SpectrumAnalyzer mAnalyzer;
    RenderVisualData mData{};
    float mWindow[WINDOW_FRAMES * 2];
    long long mFrame = 0;
    long long mAudioWritten = 0;
    long long mTrackStart = 0;
    long long mSoundLimit = -1;             // --duration, or where a stop signal came
    std::vector<lv::VideoChapter> mChapters;   // where each track began
    int mStoppedBy = 0;
    // --highlight: the first track's stretch is drawn on after mWarmFrames
    // frames of the music before it, left out of the video. The stretch
    // begins mOrigin frames into the music read; frame mWarmFrames shows
    // it, mLead frames of silence ahead of the music making the two meet.
    long long mOrigin = 0, mWarmFrames = 0, mLead = 0;
    // --segment: frames before mSkipUntil are stepped, not drawn; the
    // part's sound begins at sample mSoundFrom of the music read.
    long long mSkipUntil = 0, mSoundFrom = 0;
    SegmentTag mSegment;
};

void OfflineRender::say(const std::string& m) {
    if (mProgress) mProgress->clear();
    std::fprintf(stderr, "lumenvortex: %s\n", m.c_str());
}

// Writing over a track being played would destroy the user's music (and
// feed the decoder the half-written video), so an output that is one of the
// tracks, by any name, stops the render before anything is opened.
bool OfflineRender::checkOutputsSpareInputs() {
    struct Output {
        std::string path;
        const char* what;
        const char* fix;
    };
    std::vector<Output> outputs;
    if (!o.renderPath.empty()) outputs.push_back({o.renderPath, "the video", "give the video another name"});
    if (!o.framesDir.empty())
        outputs.push_back({o.framesDir + "/audio.wav", "the frames' sound", "give --frames another folder"});
    for (const Output& out : outputs) {
        std::error_code ec;
        if (!fs::exists(out.path, ec)) continue;
        for (const std::string& track : mPaths) {
            if (fs::equivalent(track, out.path, ec)) {
                say(std::string(out.what) + " would be written over " + track + ", which is one of the tracks: " +
                    out.fix);
                return false;
            }
        }
    }
    return true;
}

// The folder for --frames and the sound in it, looked at before any output
// is touched: a render that cannot write them must not have emptied a video
// first. (The video's own name is looked at as it is opened, which touches
// nothing but a file of its own.)
bool OfflineRender::checkFramesFolder() {
    if (o.framesDir.empty()) return true;
    struct stat st {};
    if (stat(o.framesDir.c_str(), &st) == 0 && !S_ISDIR(st.st_mode)) {
        const char* what = S_ISREG(st.st_mode)    ? "it is a file"
                           : S_ISFIFO(st.st_mode) ? "it is a named pipe"
                                                  : "it is a device or socket";
        say("cannot write the frames into " + o.framesDir + ": " + what + ", not a folder: name a folder for them");
        return false;
    }
    const std::string wav = o.framesDir + "/audio.wav";
    if (stat(wav.c_str(), &st) == 0)
        if (const char* what = lv::notAFile(st.st_mode)) {
            say("cannot write " + wav + ": " + what);
            return false;
        }
    return true;
}

// The play list, the plug-in and its clock, the first track and the length.
bool OfflineRender::prepare() {
    std::vector<std::string> problems;
    mPaths = lv::expandPlaylist(o.inputs, problems);
    for (const std::string& p : problems) say(p);
    if (!o.inputs.empty() && mPaths.empty()) {
        say("nothing to play");
        return false;
    }
    if (!checkOutputsSpareInputs() || !checkFramesFolder()) return false;
    std::string error;
    if (!loadPluginOnClock(mHost, o, mClock, "it cannot draw on a virtual clock, so it cannot render offline",
                           error)) {
        say(error);
        return false;
    }
    mProgram = std::make_unique<Program>(mPaths, false);
    mProgram->mWarn = [this](const std::string& m) { say(m); };
    if (o.highlightSeconds > 0)
        mProgram->mClip = highlightClips(o.highlightSeconds, mProgram->mWarn,
                                         o.verbose ? mProgram->mWarn : std::function<void(const std::string&)>());
    if (!mProgram->next(mFirst)) {
        say("nothing could be played");
        return false;
    }
    planWarmUp();
    mLimitFrames = o.durationSeconds > 0 ? (long long)std::llround(o.durationSeconds * double(SAMPLE_RATE)) : -1;
    mSoundLimit = mLimitFrames >= 0 ? mOrigin + mLimitFrames : -1;
    long long estimateMs =
        mProgram->estimateTotalMs(o.highlightSeconds > 0 ? std::llround(o.highlightSeconds * 1000) : -1);
    if (mLimitFrames >= 0 && (estimateMs < 0 || estimateMs > mLimitFrames * 1000 / SAMPLE_RATE))
        estimateMs = mLimitFrames * 1000 / SAMPLE_RATE;
    mEstimatedVideoFrames = estimateMs >= 0 ? (estimateMs * o.fps + 999) / 1000 : -1;
    return o.segmentCount == 0 || planSegment();
}

// The part's frames and sound in the whole render, and its tag. The split
// is made on the length the files' headers state, which every machine
// reads alike.
bool OfflineRender::planSegment() {
    const std::string part = std::to_string(o.segmentIndex) + "/" + std::to_string(o.segmentCount);
    if (mEstimatedVideoFrames < o.segmentCount) {
        say(mEstimatedVideoFrames < 0 ? "--segment " + part + ": the music's length is not known ahead, so it cannot "
                                        "be split: render it whole"
                                      : "--segment " + part + ": the render has only " +
                                            std::to_string(mEstimatedVideoFrames) + " frames: give fewer parts");
        return false;
    }
    if (!mHost.mSetDrawing) {
        say(mHost.mPluginPath + " has no LumenvortexSetDrawing: it cannot step to a part's first frame (use the "
                                "player's own Lumenvortex.so)");
        return false;
    }
    const SegmentFrames frames = segmentFrames(o.segmentIndex, o.segmentCount, mEstimatedVideoFrames);
    mSkipUntil = mWarmFrames + frames.first;
    mSoundFrom = mSkipUntil * SAMPLE_RATE / o.fps - mLead;
    if (frames.end >= 0) {
        const long long end = (mWarmFrames + frames.end) * SAMPLE_RATE / o.fps - mLead;
        mSoundLimit = mSoundLimit >= 0 ? std::min(mSoundLimit, end) : end;
    }
    mSegment.index = o.segmentIndex;
    mSegment.count = o.segmentCount;
    mSegment.first = frames.first;
    mSegment.end = frames.end;
    mSegment.soundFrom = mSoundFrom - mOrigin;
    mSegment.settings = renderSettings(o);
    std::string error;
    if (!segmentFingerprint(mPaths, mSegment.settings, mSegment.fingerprint, error)) {
        say(error);
        return false;
    }
    return true;
}

void OfflineRender::planWarmUp() {
    if (!mProgram->mClip) return;
    mOrigin = mProgram->clip().begin - mProgram->clip().from;
    mWarmFrames = (mOrigin * o.fps + SAMPLE_RATE - 1) / SAMPLE_RATE;
    mLead = mWarmFrames * SAMPLE_RATE / o.fps - mOrigin;
    mAudioWritten = mOrigin;
    mTrackStart = mOrigin;   // the track's time, and its name shown, start with the video
}

// --force: the frames of an earlier render go before the first new one
// (the rest of the folder stays).
bool OfflineRender::clearOldFrames() {
    std::error_code ec;
    for (fs::directory_iterator e(o.framesDir, ec), end; !ec && e != end; e.increment(ec)) {
        std::error_code removed;
        if (!e->is_regular_file(removed) || !isFrameFileName(e->path().filename().string())) continue;
        if (!fs::remove(e->path(), removed) && removed) {
            say("cannot clear the old frame " + e->path().string() + ": " + removed.message());
            return false;
        }
    }
    if (ec) say("cannot clear the old frames in " + o.framesDir + ": " + ec.message());
    return !ec;
}

bool OfflineRender::openOutputs() {
    std::string error;
    mToVideo = !o.renderPath.empty();
    mToFrames = !o.framesDir.empty();
    if (mToVideo) {
        std::error_code ec;
        fs::path parent = fs::path(o.renderPath).parent_path();
        if (!parent.empty()) fs::create_directories(parent, ec);
        lv::VideoOptions vo;
        vo.width = o.width;
        vo.height = o.height;
        vo.fps = o.fps;
        vo.crf = o.crf;
        vo.preset = o.preset;
        vo.alpha = o.transparent;
        if (mToFolder) {
            mVideoOptions = vo;
            mOut = mTrackFiles.open(mFirst, vo, error);
        } else {
            describeMusic(vo, mFirst, mPaths, mLimitFrames >= 0 ? mLimitFrames * 1000 / SAMPLE_RATE : -1);
            vo.metadata.push_back({"comment", "Lumenvortex"});
            if (o.segmentCount) vo.metadata.push_back({"description", formatSegmentTag(mSegment)});
            mChapters.push_back({0, boundTag(mFirst.title)});
            if (!mVideo.open(o.renderPath, vo, error)) mOut = nullptr;
        }
        if (!mOut) {
            say(error);
            return false;
        }
        std::snprintf(gPartPath, sizeof gPartPath, "%s", mOut->partPath().c_str());
    }
    if (mToFrames) {
        std::error_code ec;
        fs::create_directories(o.framesDir, ec);
        if (ec) {
            say("cannot make the folder " + o.framesDir + ": " + ec.message());
            return false;
        }
        if (o.force && !clearOldFrames()) return false;
        if (!mWav.open(o.framesDir + "/audio.wav", error)) {
            say(error);
            return false;
        }
        std::snprintf(gWavPartPath, sizeof gWavPartPath, "%s", mWav.partPath().c_str());
    }
    return true;
}

bool OfflineRender::startPlugin() {
    std::string error;
    if (!mHost.start(error)) {
        say(error);
        return false;
    }
    mPort.kind = LV_PORT_OFFSCREEN;
    mPort.width = o.width;
    mPort.height = o.height;
    // The track plays before the picture opens, as when a visualizer is
    // switched on during a song.
    mHost.play(mFirst);
    mHost.show(&mPort, o.width, o.height);
    mBase = mClock.micros;   // the show's start-up pause is behind us
    if (o.verbose && mPort.renderer[0]) say(std::string("drawing with ") + mPort.renderer);
    mData.numWaveformChannels = 2;
    mData.numSpectrumChannels = 2;
    return true;
}

void OfflineRender::writeSound(MusicReader& music, SinkThread* sinks, long long end) {
    if (end <= mAudioWritten || mFrame < mSkipUntil) return;
    sinks->audio(&music.frames[size_t(mAudioWritten - music.start) * 2], size_t(end - mAudioWritten));
    mAudioWritten = end;
}

// Frame mFrame: its sound, any track that began by its time, its spectrum
// and the plug-in's picture of it.
OfflineRender::Step OfflineRender::drawFrame(MusicReader& music, SinkThread* sinks) {
    const long long position = mFrame * SAMPLE_RATE / o.fps - mLead;   // the sample heard at this frame
    if (mSoundLimit >= 0 && position >= mSoundLimit) return Step::OVER;
    if (gStopSignal) {
        mStoppedBy = gStopSignal;
        mSoundLimit = position;
        return Step::OVER;
    }
    music.decodeTo(position + 1);
    if (position >= music.end()) return Step::OVER;   // the music is over
    if (mFrame == mSkipUntil) mAudioWritten = std::max(mAudioWritten, mSoundFrom);   // a part's sound starts here
    // A track that began by now: the latest one is announced. The frame
    // shows its sound, so with a video a track, it is the first of its video.
    bool begun = false;
    lv::TrackMeta latest;
    while (!music.changes.empty() && music.changes.front().position <= position) {
        latest = std::move(music.changes.front().meta);
        mTrackStart = music.changes.front().position;
        mChapters.push_back({(mTrackStart - mOrigin) * 1000 / SAMPLE_RATE, boundTag(latest.title)});
        begun = true;
        music.changes.pop_front();
    }
    if (begun) {
        writeSound(music, sinks, std::min(music.end(), position));
        if (mToFolder && !nextTrackFile(latest, *sinks)) return Step::BROKEN;
        mHost.changeTrack(latest);
    }
    writeSound(music, sinks,
               std::min(music.end(), mSoundLimit >= 0 ? std::min(mSoundLimit, position + 1) : position + 1));

    music.window(position, mWindow);
    mAnalyzer.compute(mWindow, mData.spectrumData, mData.waveformData);
    mClock.micros = std::max(mClock.micros, mBase + mFrame * 1000000 / o.fps);
    unsigned long before = mPort.frameCount;
    mHost.render(mData, UInt32(std::max(0LL, position - mTrackStart) * 1000 / SAMPLE_RATE));
    if (mFrame < mSkipUntil) {   // stepped: nothing drawn, nothing handed over
        music.forget(position - WINDOW_FRAMES);
        return Step::DRAWN;
    }
    if (mPort.frameCount == before) {
        say("the plug-in drew no frame (no GL context? see the messages above): stopping");
        return Step::BROKEN;
    }
    // The picture reaches the sinks a couple of frames later, from the GL layer.
    if (sinks->framesDelivered() + sinks->framesDropped() == 0 && mPort.frameCount > LV_PORT_FRAMES_IN_FLIGHT) {
        say(mHost.mPluginPath + " does not hand its frames over: use the player's own Lumenvortex.so");
        return Step::BROKEN;
    }
    if (sinks->failed()) return Step::BROKEN;
    music.forget(position - WINDOW_FRAMES);
    return Step::DRAWN;
}

// A video a track: the names are settled, and those there already
// refused, before anything is drawn.
bool OfflineRender::planTrackFiles() {
    mToFolder = isFolderOutput(o.renderPath);
    std::string error;
    if (!mToFolder || mTrackFiles.plan(o.renderPath, o.format, mPaths, mFirst,
                                                 mLimitFrames >= 0 ? mLimitFrames * 1000 / SAMPLE_RATE : -1, o.force,
                                                 error)) return true;
    say(error);
    return false;
}

// From frame mFrame on, the video of `track`.
bool OfflineRender::nextTrackFile(const lv::TrackMeta& track, SinkThread& sinks) {
    std::string error;
    lv::VideoWriter* next = mTrackFiles.open(track, mVideoOptions, error);
    if (!next) {
        say(error);
        return false;
    }
    sinks.switchVideo(next, mFrame);
    mOut = next;
    std::snprintf(gPartPath, sizeof gPartPath, "%s", mOut->partPath().c_str());
    return true;
}

int OfflineRender::run() {
    if (!prepare()) return 1;
    if (!planTrackFiles()) return 2;
    if (o.segmentCount && o.framesDir.empty() && segmentDone(o.renderPath, mSegment)) {
        std::error_code ec;
        std::printf("part %d/%d is there already: %s (made from the same music and options; not drawn again)\n",
                    mSegment.index, mSegment.count, fs::absolute(o.renderPath, ec).c_str());
        return 0;
    }
    StopSignals stopSignals;   // from here on a stop signal finishes the files
    // A part opens its files once stepped to its first frame, when its tag
    // can say whether a track goes on into it.
    if ((!mSkipUntil && !openOutputs()) || !startPlugin()) return 1;
    MusicReader music(*mProgram);
    Step step = stepToSegment(music);
    if (step == Step::DRAWN && mSkipUntil && !openOutputs()) return 1;
    bool broken = false;
    double took = 0.0;
    if (step == Step::DRAWN) {
        SinkThread sinks(mToVideo ? mOut : nullptr, mToFrames ? o.framesDir : std::string(),
                         mToFrames ? &mWav : nullptr, o.width, o.height);
        if (o.transparent) sinks.keepAlphaInFrames();
        sinks.dropFrames(std::max(0LL, mWarmFrames - mSkipUntil));
        sinks.numberFramesFrom(mSegment.first);
        Progress bar(mEstimatedVideoFrames >= 0 ? mEstimatedVideoFrames + mWarmFrames : -1, o.fps);
        mProgress = &bar;
        sinks.attach(mPort);
        while ((step = drawFrame(music, &sinks)) == Step::DRAWN) bar.update(++mFrame);
        broken = step == Step::BROKEN;
        if (!broken) {   // the sound's tail after the last frame's start
            if (mSoundLimit >= 0) music.decodeTo(mSoundLimit);
            writeSound(music, &sinks, mSoundLimit >= 0 ? std::min(mSoundLimit, music.end()) : music.end());
        }
        bar.update(mFrame);
        mHost.hide();   // the frames still being read back reach the sinks here
        mHost.cleanup();
        SinkThread::detach(mPort);
        sinks.finish();
        if (!broken && !sinks.failed() && sinks.framesDelivered() != framesWritten()) {
            say("the plug-in handed over only " + std::to_string(sinks.framesDelivered()) + " of its " +
                std::to_string(framesWritten()) + " frames: use the player's own Lumenvortex.so");
            broken = true;
        }
        bar.clear();
        mProgress = nullptr;
        if (sinks.failed()) {
            say(sinks.error());
            broken = true;
        }
        took = bar.elapsedSeconds();
    } else {
        broken = step == Step::BROKEN;
        mHost.hide();
        mHost.cleanup();
    }
    return finish(broken, took);
}

// --segment: the frames before the part's first, stepped without drawing.
OfflineRender::Step OfflineRender::stepToSegment(MusicReader& music) {
    if (mSkipUntil == 0) return Step::DRAWN;
    say("part " + std::to_string(mSegment.index) + "/" + std::to_string(mSegment.count) + ": frames " +
        std::to_string(mSegment.first) + " to " + (mSegment.end >= 0 ? std::to_string(mSegment.end - 1) : "the end") +
        "; stepping to its first frame");
    mHost.setDrawing(false);
    Step step = Step::DRAWN;
    const auto start = std::chrono::steady_clock::now();
    while (mFrame < mSkipUntil && (step = drawFrame(music, nullptr)) == Step::DRAWN) ++mFrame;
    mHost.setDrawing(true);
    const double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    char rate[64];
    std::snprintf(rate, sizeof rate, " in %.1f s (%.0f frames a second)", took, took > 0 ? double(mFrame) / took : 0.0);
    say("stepped through " + std::to_string(mFrame) + " frames" + rate);
    // A track that begins right at the part's first frame opens a chapter of
    // its own there; any other goes on from the part before.
    music.decodeTo(mSoundFrom + 1);
    mSegment.continues = music.changes.empty() || music.changes.front().position > mSoundFrom;
    return step;
}

// The whole render's chapters as the part sees them: from its start, the
// track playing then first.
std::vector<lv::VideoChapter> OfflineRender::segmentChapters() const {
    const long long fromMs = (mSoundFrom - mOrigin) * 1000 / SAMPLE_RATE;
    std::vector<lv::VideoChapter> chapters;
    for (const lv::VideoChapter& c : mChapters) {
        if (c.startMs <= fromMs) chapters.clear();
        chapters.push_back({std::max(0LL, c.startMs - fromMs), c.title});
    }
    return chapters;
}

// Closes the files and says what was written.
int OfflineRender::finish(bool broken, double took) {
    std::string closeError;
    if (mToVideo && !mToFolder && (mChapters.size() > 1 || o.segmentCount))
        mVideo.setChapters(o.segmentCount ? segmentChapters() : mChapters);
    // A render that failed replaces nothing: its unfinished video is
    // removed (one cut short has no index for a player to read), and so is
    // its sound. The frames drawn stay, each whole, and so do the videos of
    // the tracks drawn to their end.
    const bool videoBegun = mToVideo && mOut->framesWritten() > 0;
    const bool closed = !mToVideo || (mToFolder ? mTrackFiles.close(closeError, !broken)
                                                : mVideo.close(closeError, !broken));
    if (!closed && !broken) {
        say(closeError);
        broken = true;
    }
    gPartPath[0] = 0;
    if (broken && videoBegun) {
        std::error_code ec;
        say("the unfinished video is removed" + (!mToFolder && fs::exists(o.renderPath, ec)
                                                     ? "; " + o.renderPath + " is left as it was"
                                                     : std::string()));
    }
    if (mToVideo)
        for (const lv::VideoWriter* video : videos())
            for (const std::string& w : video->warnings()) say(w);
    // The sound goes with the frames: with none drawn, an audio.wav of an
    // earlier render stays.
    if (mToFrames && !mWav.close(closeError, framesWritten() > 0 && !broken) && !broken) {
        say(closeError);
        broken = true;
    }
    gWavPartPath[0] = 0;
    if (broken) return 1;
    const double seconds = double(mAudioWritten - std::max(mOrigin, mSoundFrom)) / double(SAMPLE_RATE);
    const std::string stoppedBy = stopSignalName(mStoppedBy);
    if (mStoppedBy && framesWritten() == 0) {
        std::error_code ec;
        const bool there = mToVideo && fs::exists(o.renderPath, ec);
        say("stopped by " + stoppedBy + " before the first frame: nothing was written" +
            (there ? ", and " + o.renderPath + " is left as it was" : std::string()));
        return 128 + mStoppedBy;
    }
    if (mStoppedBy)
        say("stopped by " + stoppedBy + " after " + clockText(seconds) + "; what was drawn is kept");
    else if (framesWritten() == 0) {
        say("nothing could be played");
        return 1;
    }
    const double speed = took > 0 ? seconds / took : 0.0;
    const std::string tookText = clockText(took);
    std::error_code ec;
    if (mToFolder) {
        for (const TrackFiles::File& f : mTrackFiles.files())
            std::printf("wrote %s (%lld frames)\n", fs::absolute(f.path, ec).c_str(), f.video->framesWritten());
        const size_t count = mTrackFiles.files().size();
        std::printf("wrote %zu video%s to %s (%lld frames at %d fps, %s, rendered in %s at %.2fx real time)\n",
                    count, count == 1 ? "" : "s", fs::absolute(o.renderPath, ec).c_str(), mFrame, o.fps,
                    clockText(seconds).c_str(), tookText.c_str(), speed);
    } else if (mToVideo)
        std::printf("wrote %s (%lld frames at %d fps, %s, rendered in %s at %.2fx real time)\n",
                    fs::absolute(o.renderPath, ec).c_str(), framesWritten(), o.fps, clockText(seconds).c_str(),
                    tookText.c_str(), speed);
    if (mToFrames)
        std::printf("wrote %lld frames and audio.wav to %s (%d fps, %s, rendered in %s at %.2fx real time)\n",
                    framesWritten(), fs::absolute(o.framesDir, ec).c_str(), o.fps, clockText(seconds).c_str(),
                    tookText.c_str(), speed);
    if (o.verbose) {
        std::string asked;
        for (OSType r : mHost.mRequests) {
            char code[5] = {char(r >> 24), char(r >> 16), char(r >> 8), char(r), 0};
            asked += std::string(asked.empty() ? "" : " ") + code;
        }
        std::fprintf(stderr, "lumenvortex: the plug-in \"%s\" asked: %s\n", mHost.mPluginName.c_str(), asked.c_str());
    }
    sumUpFilesNotPlayed();
    // The closing line is the render's result for whoever reads stdout: a
    // script that gets no line and status 0 would take a lost line for none.
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        say(std::string("cannot write to standard output: ") + std::strerror(errno) + " (the files are written)");
        return 1;
    }
    if (mStoppedBy) return 128 + mStoppedBy;
    return mProgram->notPlayedInFull().empty() ? 0 : EXIT_NOT_ALL_PLAYED;
}

std::vector<const lv::VideoWriter*> OfflineRender::videos() const {
    if (!mToFolder) return {&mVideo};
    std::vector<const lv::VideoWriter*> all;
    for (const TrackFiles::File& f : mTrackFiles.files()) all.push_back(f.video.get());
    return all;
}

// Said again at the end, where the log of a long render is read: the files
// that never played apart from those that stopped before their end.
void OfflineRender::sumUpFilesNotPlayed() {
    const std::vector<std::string>& skipped = mProgram->skippedFiles();
    std::vector<std::string> cut;
    for (const std::string& warning : mProgram->notPlayedInFull())
        if (std::find(skipped.begin(), skipped.end(), warning) == skipped.end()) cut.push_back(warning);
    auto list = [&](const std::vector<std::string>& warnings, const char* one, const char* many) {
        if (warnings.empty()) return;
        std::string text = warnings.size() == 1 ? std::string("1 file ") + one
                                                : std::to_string(warnings.size()) + " files " + many;
        for (const std::string& warning : warnings) text += "\n  " + warning;
        say(text);
    };
    list(skipped, "was skipped:", "were skipped:");
    list(cut, "did not play in full:", "did not play in full:");
}

}  // namespace

int runRender(const Options& options) {
    // A reader of the messages that goes away (`lumenvortex ... | head`)
    // costs it the messages, not the render: each write then fails alone.
    signal(SIGPIPE, SIG_IGN);
    return OfflineRender(options).run();
}
