// Live play: an SDL2 window on X11 whose X window the plug-in draws into with
// its own EGL context, the music through the sound device (or live sound
// from a PulseAudio source), keys to the plug-in as key events.
//
// Threads: this one (SDL events, the plug-in's messages, the spectrum), the
// decoding thread, and the device's (or capture's) thread. They meet only in
// PlaybackBuffer.
#include <SDL.h>
#include <SDL_syswm.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <thread>

#include "lv/audio_out.h"
#include "lv/capture.h"
#include "player.h"
#include "playback_buffer.h"
#include "plugin_host.h"
#include "program.h"
#include "spectrum_analyzer.h"

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

void setTitle(SDL_Window* window, const lv::TrackMeta& meta) {
    std::string title = meta.title;
    if (!meta.artist.empty()) title += " \xE2\x80\x94 " + meta.artist;   // em dash
    title += " \xC2\xB7 Lumenvortex";
    SDL_SetWindowTitle(window, title.c_str());
}

}  // namespace

int runLive(const Options& o) {
    // Where the sound comes from: files (or the demo), or live capture.
    PlaybackBuffer buffer;
    std::unique_ptr<Program> program;
    std::thread decoder;
    std::atomic<bool> quitting{false};
    lv::CaptureStream capture;
    lv::TrackMeta first;
    if (o.corvanePort) {
        // The server plays the music and streams its spectrum; here nothing
        // is decoded or played, and the render messages only drive frames.
        first.title = "Corvane";
        first.artist = "127.0.0.1:" + std::to_string(o.corvanePort);
        first.album = "Spectrum server";
        buffer.startTrack(first);
    } else if (o.capture) {
        lv::CaptureServerInfo server;
        std::string error;
        if (!lv::queryCaptureSources(server, error)) {
            say(error);
            return 1;
        }
        std::string source = o.captureSource.empty() ? server.defaultMonitor : o.captureSource;
        const lv::CaptureSource* found = nullptr;
        for (const auto& s : server.sources)
            if (s.name == source) found = &s;
        if (!found) {
            if (source.empty())
                say("the sound server has no output to capture; name a source:");
            else
                say("unknown capture source \"" + source + "\"; the sources are:");
            for (const auto& s : server.sources)
                std::fprintf(stderr, "  %s  (%s)\n", s.name.c_str(), s.description.c_str());
            return 2;
        }
        first.title = "Live sound";
        first.artist = found->description;
        first.album = server.serverName;
        buffer.startTrack(first);
        if (!capture.start(
                source,
                [&buffer](const float* frames, int count) {
                    buffer.played(frames, size_t(count), PlaybackBuffer::Clock::now());
                },
                error)) {
            say(error);
            return 1;
        }
    } else {
        std::vector<std::string> problems;
        std::vector<std::string> paths = lv::expandPlaylist(o.inputs, problems);
        for (const std::string& p : problems) say(p);
        if (!o.inputs.empty() && paths.empty()) {
            say("nothing to play");
            return 1;
        }
        program = std::make_unique<Program>(paths, o.loop);
        program->mWarn = say;
        decoder = std::thread([&] {
            std::vector<float> chunk(4096 * 2);
            lv::TrackMeta meta;
            while (!quitting && program->next(meta)) {
                buffer.startTrack(meta);
                for (;;) {
                    size_t n = program->read(chunk.data(), 4096);
                    if (n == 0 || !buffer.push(chunk.data(), n)) break;
                }
            }
            buffer.finish();
        });
        if (!buffer.waitForFirstTrack()) {
            decoder.join();
            say("nothing could be played");
            return 1;
        }
        first = buffer.trackMeta(0);
    }
    auto stopSources = [&] {
        quitting = true;
        buffer.close();
        if (decoder.joinable()) decoder.join();
        capture.stop();
    };

    // The plug-in draws on an X11 window; on Wayland desktops SDL gets one
    // from XWayland. Overriding: SDL_VIDEODRIVER=wayland, set for other
    // programs, would otherwise win and leave no window to draw on.
    SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "x11", SDL_HINT_OVERRIDE);
    SDL_SetHint(SDL_HINT_VIDEO_X11_NET_WM_BYPASS_COMPOSITOR, "0");
    if (SDL_InitSubSystem(SDL_INIT_VIDEO | SDL_INIT_EVENTS) != 0) {
        say(std::string("no display: use --render (") + SDL_GetError() + ")");
        stopSources();
        return 1;
    }

    // The window, without a GL context of SDL's: the plug-in makes its own.
    Uint32 flags = SDL_WINDOW_RESIZABLE | (o.fullscreen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
    SDL_Window* window = SDL_CreateWindow("Lumenvortex", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, o.width,
                                          o.height, flags);
    SDL_SysWMinfo wm;
    SDL_VERSION(&wm.version);
    if (!window || !SDL_GetWindowWMInfo(window, &wm) || wm.subsystem != SDL_SYSWM_X11) {
        say(std::string("no display: use --render (no X11 window: ") + (window ? "not an X11 display" : SDL_GetError()) +
            ")");
        if (window) SDL_DestroyWindow(window);
        stopSources();
        SDL_Quit();
        return 1;
    }
    SDL_SetWindowMinimumSize(window, 64, 64);
    setTitle(window, first);
    LVPort port{};
    port.kind = LV_PORT_X11_WINDOW;
    port.x11Display = wm.info.x11.display;
    port.x11Window = wm.info.x11.window;

    PluginHost host;
    std::string error;
    if (!loadPlugin(host, o, error) || !host.start(error)) {
        say(error);
        SDL_DestroyWindow(window);
        stopSources();
        SDL_Quit();
        return 1;
    }
    bool fullscreen = o.fullscreen;
    auto setFullscreen = [&](bool on) {
        fullscreen = on;
        SDL_SetWindowFullscreen(window, on ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0);
    };
    host.mOnFullScreen = setFullscreen;

    if (o.corvanePort && !host.attachCorvane(o.corvanePort))
        say("no Corvane server on 127.0.0.1:" + std::to_string(o.corvanePort) +
            ": showing silence (start corvane first, then run this again)");

    lv::AudioOut audio;
    if (!o.capture && !o.corvanePort) {
        audio.start(
            [&buffer, &audio](float* out, int frames) {
                buffer.pull(out, size_t(frames), PlaybackBuffer::Clock::now(), audio.latencyFrames());
            },
            o.noAudio);
        if (audio.silent() && !o.noAudio) say(audio.warning());
    }

    int width = o.width, height = o.height;
    SDL_GetWindowSize(window, &width, &height);
    int currentTrack = 0;
    lv::TrackMeta currentMeta = first;
    host.play(first);
    host.show(&port, width, height);

    SpectrumAnalyzer analyzer;
    RenderVisualData data;
    std::memset(&data, 0, sizeof data);
    data.numWaveformChannels = 2;
    data.numSpectrumChannels = 2;
    PlaybackBuffer::Snapshot snap;
    bool paused = false, minimized = false, quit = false, lastKeyRepeat = false;
    constexpr std::chrono::milliseconds FRAME_FLOOR{16};
    PlaybackBuffer::Clock::time_point lastFrame{};
    int status = 0;

    auto togglePause = [&] {
        paused = !paused;
        audio.setPaused(paused);
        buffer.setPaused(paused);
        host.setPaused(paused);
    };
    auto skip = [&] {
        if (!o.capture && !o.corvanePort) buffer.skip();
    };

    while (!quit) {
        SDL_Event e;
        while (SDL_PollEvent(&e)) {
            switch (e.type) {
                case SDL_QUIT:
                    quit = true;
                    break;
                case SDL_WINDOWEVENT:
                    if (e.window.event == SDL_WINDOWEVENT_SIZE_CHANGED) {
                        width = e.window.data1;
                        height = e.window.data2;
                        if (host.shown()) host.setWindow(&port, width, height);
                    } else if (e.window.event == SDL_WINDOWEVENT_MINIMIZED) {
                        minimized = true;
                        host.hide();
                    } else if (e.window.event == SDL_WINDOWEVENT_RESTORED ||
                               e.window.event == SDL_WINDOWEVENT_SHOWN) {
                        if (minimized && !host.shown()) {
                            // The record of the track playing now, so the new
                            // context builds its overlay from it.
                            host.play(currentMeta);
                            SDL_GetWindowSize(window, &width, &height);
                            host.show(&port, width, height);
                        }
                        minimized = false;
                    }
                    break;
                case SDL_KEYDOWN: {
                    SDL_Keycode k = e.key.keysym.sym;
                    Uint16 mod = e.key.keysym.mod;
                    lastKeyRepeat = e.key.repeat != 0;
                    if (k == SDLK_ESCAPE || (k == SDLK_q && (mod & KMOD_CTRL))) quit = true;
                    else if (k == SDLK_F11 && !e.key.repeat) setFullscreen(!fullscreen);
                    else if (k == SDLK_RIGHT && !e.key.repeat) skip();
                    break;
                }
                case SDL_TEXTINPUT: {
                    SDL_Keymod mod = SDL_GetModState();
                    if (mod & (KMOD_CTRL | KMOD_GUI)) break;
                    for (const char* p = e.text.text; *p; ++p) {
                        unsigned char c = static_cast<unsigned char>(*p);
                        if (c >= 0x80) break;   // the plug-in's keys are all ASCII
                        if (c == 'f' || c == 'F') {
                            if (!lastKeyRepeat) setFullscreen(!fullscreen);
                        } else if (c == 'n' || c == 'N') {
                            if (!lastKeyRepeat) skip();
                        } else if (c == ' ') {
                            if (!lastKeyRepeat) togglePause();
                        } else if (host.shown()) {
                            host.key(c, lastKeyRepeat, eventModifiers(mod));
                        }
                    }
                    break;
                }
                default:
                    break;
            }
        }
        if (quit) break;
        // A plug-in that draws paces itself (a frame at most every 16 ms) and
        // is never kept waiting here; one that draws nothing (no OpenGL on
        // this display) returns at once, and must not make this loop spin.
        const auto sinceFrame = PlaybackBuffer::Clock::now() - lastFrame;
        if (sinceFrame < FRAME_FLOOR) {
            SDL_WaitEventTimeout(
                nullptr, int(std::chrono::ceil<std::chrono::milliseconds>(FRAME_FLOOR - sinceFrame).count()));
            continue;
        }

        buffer.snapshot(PlaybackBuffer::Clock::now(), snap);
        if (snap.over) break;
        if (snap.track >= 0 && snap.track != currentTrack) {
            currentTrack = snap.track;
            currentMeta = buffer.trackMeta(currentTrack);
            setTitle(window, currentMeta);
            if (host.shown()) host.changeTrack(currentMeta);
            else host.play(currentMeta);
        }
        if (capture.failed()) {
            say(capture.error());
            status = 1;
            break;
        }
        if (minimized || !host.shown()) {
            SDL_WaitEventTimeout(nullptr, 50);
            continue;
        }
        if (paused) {
            std::memset(data.spectrumData, 0, sizeof data.spectrumData);
            std::memset(data.waveformData, 128, sizeof data.waveformData);
        } else {
            analyzer.compute(snap.window, data.spectrumData, data.waveformData);
        }
        lastFrame = PlaybackBuffer::Clock::now();
        host.render(data, UInt32(snap.trackPosition * 1000 / SAMPLE_RATE));
    }

    host.hide();
    host.cleanup();
    audio.stop();
    stopSources();
    SDL_DestroyWindow(window);
    SDL_Quit();
    if (program && program->framesDelivered() == 0) {
        say("nothing could be played");
        return 1;
    }
    return status;
}
