// Live play: an SDL2 window on X11 whose X window the plug-in draws into with
// its own EGL context, the music through the sound device (or live sound
// from a PulseAudio source), keys to the plug-in as key events.
//
// Threads: this one (SDL events, the plug-in's messages, the spectrum), the
// decoding thread, and the device's (or capture's) thread. They meet only in
// PlaybackBuffer.
//
// Clean-up is by owners, declared in the order things start: the sound
// sources, the window, the plug-in, the sound device, the session. Each
// stops in its destructor, so any way out of runLive() undoes what was done
// so far, in reverse order.
#include <SDL.h>
#include <SDL_syswm.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <thread>

#include "capture_sources.h"
#include "corvane_link.h"
#include "desktop.h"
#include "lv/audio_out.h"
#include "lv/capture.h"
#include "playback_buffer.h"
#include "player.h"
#include "plugin_host.h"
#include "program.h"
#include "fft_spectrum_analyzer.h"
#include "live_track.h"

namespace {

// Modifier bits of the event record, as the interface defines them.
constexpr UInt16 kCmdKey = 0x0100, kShiftKey = 0x0200, kAlphaLock = 0x0400, kOptionKey = 0x0800,
                 kControlKey = 0x1000;

UInt16 eventModifiers(Uint16 mod) {
    UInt16 m = 0;
    if (mod & KMOD_SHIFT) m |= kShiftKey;
    if (mod & KMOD_CTRL) m |= kControlKey;
    if (mod & KMOD_ALT) m |= kOptionKey;
    if (mod & KMOD_GUI) m |= kCmdKey;
    if (mod & KMOD_CAPS) m |= kAlphaLock;
    return m;
}

void say(const std::string& m) { std::fprintf(stderr, "lumenvortex: %s\n", m.c_str()); }

// Where the sound comes from, and the threads that bring it: files (or the
// demo) on a decoding thread, live capture, or nothing at all when a Corvane
// server plays the music and only the render messages drive frames.
class LiveSound {
public:
    LiveSound() = default;
    ~LiveSound() { stop(); }
    LiveSound(const LiveSound&) = delete;
    LiveSound& operator=(const LiveSound&) = delete;

    // 0 once the first track is known; else the exit status, said why.
    int open(const Options& o);
    // With a Corvane server: the plug-in's source on it, kept there across
    // the server's restarts, and its track names as track changes.
    void linkCorvane(PluginHost& host, int port);
    void stop() {
        mQuitting = true;
        mBuffer.close();
        if (mDecoder.joinable()) mDecoder.join();
        mCapture.stop();
        mLiveTrack.stop();
    }
    // Once a frame with live capture: a track change from the desktop's
    // players goes in as a file's next track would.
    void tickCapture();

    PlaybackBuffer mBuffer;
    lv::CaptureStream mCapture;
    std::unique_ptr<Program> mProgram;   // files or the demo only
    std::unique_ptr<CorvaneLink> mCorvane;   // --source corvane only; ticked once a frame
    LiveTrack mLiveTrack;                    // --capture only
    lv::TrackMeta mFirst;

private:
    int openCapture(const Options& o);
    int openMusic(const Options& o);
    // On the decoding thread: the open track into the buffer until it ends
    // or is skipped. True with `meta` set once the next track is open.
    bool feedTrack(std::vector<float>& chunk, lv::TrackMeta& meta);

    std::thread mDecoder;
    lv::OverlayCovers mCovers;   // the decoding thread's
    std::atomic<bool> mQuitting{false};
};

int LiveSound::open(const Options& o) {
    if (o.corvanePort) {
        mFirst = CorvaneLink::firstTrack(o.corvanePort);
        mBuffer.startTrack(mFirst);
        return 0;
    }
    return o.capture ? openCapture(o) : openMusic(o);
}

void LiveSound::linkCorvane(PluginHost& host, int port) {
    CorvaneLink::Hooks hooks;
    hooks.attach = [&host, port] { return host.attachCorvane(port); };
    // Nothing else starts tracks here: each one the server names is the next
    // track heard, and the frame loop sends it to the plug-in.
    hooks.onTrack = [this](const lv::TrackMeta& meta) { mBuffer.startTrack(meta); };
    hooks.onGone = [this, port] { mBuffer.startTrack(CorvaneLink::goneTrack(port)); };
    hooks.say = say;
    mCorvane = std::make_unique<CorvaneLink>(port, std::move(hooks));
    mCorvane->start(CorvaneLink::Clock::now());
}

int LiveSound::openCapture(const Options& o) {
    const std::string& sourceName = o.captureSource;
    lv::CaptureServerInfo server;
    std::string error;
    if (!lv::queryCaptureSources(server, error)) {
        say(error);
        return 1;
    }
    const lv::CaptureSource* found = findCaptureSource(server, sourceName);
    if (!found) {
        std::string source = sourceName.empty() ? server.defaultMonitor : sourceName;
        if (source.empty())
            say("the sound server has no output to capture; name a source:");
        else
            say("unknown capture source \"" + source +
                "\" (--capture takes a sound source, not a file); the sources are:");
        for (const auto& s : server.sources)
            std::fprintf(stderr, "  %s  (%s)\n", s.name.c_str(), s.description.c_str());
        return 2;
    }
    mFirst.title = "Live sound";
    mFirst.artist = found->description;
    mFirst.album = server.serverName;
    mBuffer.startTrack(mFirst);
    mBuffer.setCaptureDelay((long long)o.delayMs * SAMPLE_RATE / 1000);
    mLiveTrack.start(mFirst, o.player, true);
    auto sink = [this](const float* frames, int count) {
        mBuffer.played(frames, size_t(count), PlaybackBuffer::Clock::now());
    };
    // Unnamed, the source is the default output's monitor, followed as it changes.
    if (!mCapture.start(sourceName, sink, error)) {
        say(error);
        return 1;
    }
    if (o.verbose) {
        const long long latency = mCapture.latencyUs();
        say("capture latency " + (latency < 0 ? std::string("unknown") : std::to_string(latency / 1000) + " ms") +
            "; the picture held back " + std::to_string(o.delayMs) + " ms more (--delay)");
    }
    return 0;
}

void LiveSound::tickCapture() {
    for (std::string line; mCapture.notice(line);) say(line);
    // The source shown without a player follows the output recorded.
    if (const std::string now = mCapture.sourceDescription(); !now.empty() && now != mFirst.artist) {
        mFirst.artist = now;
        mLiveTrack.setSource(mFirst);
    }
    lv::TrackMeta meta;
    if (mLiveTrack.poll(meta, say)) mBuffer.startTrack(meta);
}

int LiveSound::openMusic(const Options& o) {
    std::vector<std::string> problems;
    std::vector<std::string> paths = lv::expandPlaylist(o.inputs, problems);
    for (const std::string& p : problems) say(p);
    if (!o.inputs.empty() && paths.empty()) {
        say("nothing to play");
        return 1;
    }
    mProgram = std::make_unique<Program>(paths, o.loop);
    mProgram->mWarn = say;
    mDecoder = std::thread([this] {
        std::vector<float> chunk(4096 * 2);
        lv::TrackMeta meta;
        for (bool more = mProgram->next(meta); more && !mQuitting; more = feedTrack(chunk, meta)) {
            // Decoded and shrunk here, once for an album's tracks, rather
            // than by the plug-in on the frame thread at each track change.
            meta.cover = mCovers.prepare(meta.cover);
            mBuffer.startTrack(meta);
        }
        mBuffer.finish();
    });
    if (!mBuffer.waitForFirstTrack()) {
        say("nothing could be played");
        return 1;
    }
    mFirst = mBuffer.trackMeta(0);
    return 0;
}

bool LiveSound::feedTrack(std::vector<float>& chunk, lv::TrackMeta& meta) {
    const size_t frames = chunk.size() / 2;
    for (size_t n; !mQuitting && (n = mProgram->read(chunk.data(), frames)) > 0;) {
        while (!mBuffer.push(chunk.data(), n)) {
            if (mQuitting) return false;
            if (mProgram->skip(meta)) return true;
            mBuffer.lastTrack();
        }
    }
    return !mQuitting && mProgram->next(meta);
}

// SDL's video and the X11 window the plug-in draws on, without a GL context
// of SDL's: the plug-in makes its own.
class LiveWindow {
public:
    LiveWindow() = default;
    ~LiveWindow() {
        if (mWindow) SDL_DestroyWindow(mWindow);
        if (mVideoStarted) SDL_Quit();
    }
    LiveWindow(const LiveWindow&) = delete;
    LiveWindow& operator=(const LiveWindow&) = delete;

    // False with `error` set to the whole message.
    bool open(const Options& o, std::string& error);
    void setTitle(const lv::TrackMeta& meta, bool paused = false);

    SDL_Window* mWindow = nullptr;
    LVPort mPort{};

private:
    bool mVideoStarted = false;
};

bool LiveWindow::open(const Options& o, std::string& error) {
    // The plug-in draws on an X11 window; on Wayland desktops SDL gets one
    // from XWayland. Overriding: SDL_VIDEODRIVER=wayland, set for other
    // programs, would otherwise win and leave no window to draw on.
    SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "x11", SDL_HINT_OVERRIDE);
    SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
        error = std::string("no display: use --render (") + SDL_GetError() + ")";
        return false;
    }
    mVideoStarted = true;
    Uint32 flags = SDL_WINDOW_RESIZABLE | (o.fullscreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
    mWindow = SDL_CreateWindow("Lumenvortex", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, o.width, o.height, flags);
    SDL_SysWMinfo wm;
    SDL_VERSION(&wm.version);
    if (!mWindow || !SDL_GetWindowWMInfo(mWindow, &wm) || wm.subsystem != SDL_SYSWM_X11) {
        error = std::string("no display: use --render (no X11 window: ") +
                (mWindow ? "not an X11 display" : SDL_GetError()) + ")";
        return false;
    }
    SDL_SetWindowMinimumSize(mWindow, 64, 64);
    mPort.kind = LV_PORT_X11_WINDOW;
    mPort.x11Display = wm.info.x11.display;
    mPort.x11Window = wm.info.x11.window;
    return true;
}

void LiveWindow::setTitle(const lv::TrackMeta& meta, bool paused) {
    const std::string title = desktop::windowTitle(meta, paused);
    SDL_SetWindowTitle(mWindow, title.c_str());   // for SDL's own record; X11 gets it below
    desktop::setX11Title(mPort.x11Display, mPort.x11Window, title);
}

// The plug-in on show in the window with the sound playing: the event loop
// and the frames. Made once all of those have started; its destructor hides
// the plug-in and cleans it up.
class LiveSession {
public:
    LiveSession(const Options& o, LiveSound& sound, LiveWindow& window, PluginHost& host, lv::AudioOut& audio);
    ~LiveSession() {
        mHost.hide();
        mHost.cleanup();
        mHost.mOnFullScreen = nullptr;
    }
    LiveSession(const LiveSession&) = delete;
    LiveSession& operator=(const LiveSession&) = delete;

    // Until the music is over, the user quits or capture fails: the status.
    int run();

private:
    void handle(const SDL_Event& e);
    void handleWindowEvent(const SDL_WindowEvent& e);
    void handleText(const char* text);
    // One frame, if one is due; false when play is over.
    bool frame();
    // Hides or shows the pointer, and with --verbose reports the frame rate.
    void afterFrame(bool drew);
    void setFullscreen(bool on);
    void togglePause();
    void skip();

    const Options& o;
    LiveSound& mSound;
    LiveWindow& mWindow;
    PluginHost& mHost;
    lv::AudioOut& mAudio;
    int mWidth, mHeight;
    int mCurrentTrack = 0;
    lv::TrackMeta mCurrentMeta;
    SpectrumAnalyzer mAnalyzer;
    RenderVisualData mData{};
    PlaybackBuffer::Snapshot mSnap;
    bool mFullscreen, mPaused = false, mMinimized = false, mQuit = false, mLastKeyRepeat = false;
    PlaybackBuffer::Clock::time_point mLastFrame{};
    desktop::Clock::time_point mLastMotion = desktop::Clock::now();
    bool mPointerShown = true;
    desktop::FrameRateMeter mFrameRate{desktop::Clock::now()};
    int mStatus = 0;
};

LiveSession::LiveSession(const Options& options, LiveSound& sound, LiveWindow& window, PluginHost& host,
                         lv::AudioOut& audio)
    : o(options), mSound(sound), mWindow(window), mHost(host), mAudio(audio), mWidth(options.width),
      mHeight(options.height), mCurrentMeta(sound.mFirst), mFullscreen(options.fullscreen) {
    mHost.mOnFullScreen = [this](bool on) { setFullscreen(on); };
    mData.numWaveformChannels = 2;
    mData.numSpectrumChannels = 2;
    SDL_GetWindowSize(mWindow.mWindow, &mWidth, &mHeight);
    mHost.play(mCurrentMeta);
    mHost.show(&mWindow.mPort, mWidth, mHeight);
    if (o.verbose && mWindow.mPort.renderer[0]) say(std::string("drawing with ") + mWindow.mPort.renderer);
}

void LiveSession::setFullscreen(bool on) {
    mFullscreen = on;
    SDL_SetWindowFullscreen(mWindow.mWindow, on ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
}

void LiveSession::togglePause() {
    mPaused = !mPaused;
    mAudio.setPaused(mPaused);
    mSound.mBuffer.setPaused(mPaused);
    mHost.setPaused(mPaused);
    mWindow.setTitle(mCurrentMeta, mPaused);
}

void LiveSession::skip() {
    if (!o.capture && !o.corvanePort) mSound.mBuffer.skip();
}

void LiveSession::handleWindowEvent(const SDL_WindowEvent& e) {
    if (e.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
        mWidth = e.data1;
        mHeight = e.data2;
        if (mHost.shown()) mHost.setWindow(&mWindow.mPort, mWidth, mHeight);
    } else if (e.event == SDL_WINDOWEVENT_MINIMIZED) {
        mMinimized = true;
        mHost.hide();
    } else if (e.event == SDL_WINDOWEVENT_RESTORED || e.event == SDL_WINDOWEVENT_SHOWN) {
        if (mMinimized && !mHost.shown()) {
            // The record of the track playing now, so the new context builds
            // its overlay from it.
            mHost.play(mCurrentMeta);
            SDL_GetWindowSize(mWindow.mWindow, &mWidth, &mHeight);
            mHost.show(&mWindow.mPort, mWidth, mHeight);
        }
        mMinimized = false;
    }
}

void LiveSession::handleText(const char* text) {
    SDL_Keymod mod = SDL_GetModState();
    if (mod & (KMOD_CTRL | KMOD_GUI)) return;
    for (const char* p = text; *p; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c >= 0x80) break;   // the plug-in's keys are all ASCII
        if (c == 'f' || c == 'F') {
            if (!mLastKeyRepeat) setFullscreen(!mFullscreen);
        } else if (c == 'n' || c == 'N') {
            if (!mLastKeyRepeat) skip();
        } else if (c == ' ') {
            if (!mLastKeyRepeat) togglePause();
        } else if (mHost.shown()) {
            mHost.key(c, mLastKeyRepeat, eventModifiers(mod));
        }
    }
}

void LiveSession::handle(const SDL_Event& e) {
    switch (e.type) {
        case SDL_QUIT:
            mQuit = true;
            break;
        case SDL_WINDOWEVENT:
            handleWindowEvent(e.window);
            break;
        case SDL_KEYDOWN: {
            SDL_Keycode k = e.key.keysym.sym;
            mLastKeyRepeat = e.key.repeat != 0;
            if (k == SDLK_ESCAPE || (k == SDLK_q && (e.key.keysym.mod & KMOD_CTRL))) mQuit = true;
            else if (k == SDLK_F11 && !e.key.repeat) setFullscreen(!mFullscreen);
            else if (k == SDLK_RIGHT && !e.key.repeat) skip();
            break;
        }
        case SDL_TEXTINPUT:
            handleText(e.text.text);
            break;
        case SDL_MOUSEMOTION:
            mLastMotion = desktop::Clock::now();
            break;
        default:
            break;
    }
}

bool LiveSession::frame() {
    // A plug-in that draws paces itself (a frame at most every 16 ms) and is
    // never kept waiting here; one that draws nothing (no OpenGL on this
    // display) returns at once, and must not make this loop spin.
    constexpr std::chrono::milliseconds FRAME_FLOOR{16};
    const auto sinceFrame = PlaybackBuffer::Clock::now() - mLastFrame;
    if (sinceFrame < FRAME_FLOOR) {
        SDL_WaitEventTimeout(nullptr,
                             int(std::chrono::ceil<std::chrono::milliseconds>(FRAME_FLOOR - sinceFrame).count()));
        return true;
    }
    if (mSound.mCorvane) mSound.mCorvane->tick(PlaybackBuffer::Clock::now());
    if (o.capture) mSound.tickCapture();
    mSound.mBuffer.snapshot(PlaybackBuffer::Clock::now(), mSnap);
    if (mSnap.over) return false;
    if (mSnap.track >= 0 && mSnap.track != mCurrentTrack) {
        mCurrentTrack = mSnap.track;
        mCurrentMeta = mSound.mBuffer.trackMeta(mCurrentTrack);
        mWindow.setTitle(mCurrentMeta, mPaused);
        if (mHost.shown()) mHost.changeTrack(mCurrentMeta);
        else mHost.play(mCurrentMeta);
    }
    if (mSound.mCapture.failed()) {
        say(mSound.mCapture.error());
        mStatus = 1;
        return false;
    }
    if (mMinimized || !mHost.shown()) {
        SDL_WaitEventTimeout(nullptr, 50);
        return true;
    }
    if (mPaused) {
        std::memset(mData.spectrumData, 0, sizeof mData.spectrumData);
        std::memset(mData.waveformData, 128, sizeof mData.waveformData);
    } else {
        mAnalyzer.compute(mSnap.window, mData.spectrumData, mData.waveformData);
    }
    mLastFrame = PlaybackBuffer::Clock::now();
    mHost.render(mData, UInt32(mSnap.trackPosition * 1000 / SAMPLE_RATE));
    return true;
}

void LiveSession::afterFrame(bool drew) {
    const auto now = desktop::Clock::now();
    const bool shown = desktop::pointerShown(mFullscreen, now - mLastMotion);
    if (shown != mPointerShown) {
        SDL_ShowCursor(shown ? SDL_ENABLE : SDL_DISABLE);
        mPointerShown = shown;
    }
    if (const std::optional<double> fps = mFrameRate.tick(now, drew); fps && o.verbose) {
        char line[32];
        std::snprintf(line, sizeof line, "%.1f fps", *fps);
        say(line);
    }
}

int LiveSession::run() {
    while (!mQuit) {
        SDL_Event e;
        while (SDL_PollEvent(&e)) handle(e);
        const auto lastFrame = mLastFrame;
        if (mQuit || !frame()) break;
        afterFrame(mLastFrame != lastFrame);
    }
    return mStatus;
}

}  // namespace

int runLive(const Options& o) {
    LiveSound sound;
    if (int status = sound.open(o)) return status;
    LiveWindow window;
    std::string error;
    if (!window.open(o, error)) {
        say(error);
        return 1;
    }
    window.setTitle(sound.mFirst);
    PluginHost host;
    if (!loadPlugin(host, o, error) || !host.start(error)) {
        say(error);
        return 1;
    }
    if (o.corvanePort) sound.linkCorvane(host, o.corvanePort);
    lv::AudioOut audio;
    if (!o.capture && !o.corvanePort) {
        audio.start(
            [&sound, &audio](float* out, int frames) {
                sound.mBuffer.pull(out, size_t(frames), PlaybackBuffer::Clock::now(), audio.latencyFrames());
            },
            o.noAudio);
        if (audio.silent() && !o.noAudio) say(audio.warning());
    }
    int status = LiveSession(o, sound, window, host, audio).run();
    // The decoding thread must be done before its count is read.
    audio.stop();
    sound.stop();
    if (sound.mProgram && sound.mProgram->framesDelivered() == 0) {
        say("nothing could be played");
        return 1;
    }
    return status;
}
