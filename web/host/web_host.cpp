// The page's host: drives the plug-in, linked in, through the same entry
// point and messages as the Linux player (plugin/host/plugin_module.h):
// init, show on the page's canvas, render with the spectrum of the sound
// heard now, key events, play and change track, pause, hide. The page's
// JavaScript (web/shell/app.js) calls these functions; it only brings what
// the browser alone has: files, tags, sound and the canvas's size.
#include <emscripten/emscripten.h>

#include <cstdio>
#include <string>

#include "LumenvortexHost.h"
#include "MacMemory.h"
#include "demo_song.h"
#include "fft_spectrum_analyzer.h"
#include "fieldStep.h"
#include "iTunesGLUtils.h"
#include "lumenvortexApplet.h"
#include "plugin_module.h"
#include "track_record.h"
#include "../platform/web_canvas.h"

extern "C" OSStatus iTunesPluginMainMachO(OSType message, PluginMessageInfo* messageInfo, void* refCon);

namespace {

struct WebHost {
    PluginModule plugin;
    LVPort port{};
    std::string canvas;
    SpectrumAnalyzer analyzer;
    float pcm[WINDOW_FRAMES * 2] = {};
    RenderVisualData data{};
    DemoSong demo;
    bool demoMade = false;
    std::string status;
};

WebHost* gHost = nullptr;
bool gStageOverlay = true;   // lv_stage

void applyStage() {
    LumenvortexSetBackground(lvweb::gCanvasAlpha ? LV_BACKGROUND_TRANSPARENT : -1);
    LumenvortexSetTrackOverlay(gStageOverlay ? 1 : 0);
}

// The page's clock: the browser's, in microseconds. Frames are paced by the
// browser's frame callback, so the plug-in's frame floor never sleeps.
long long pageMicros(void*) { return (long long)(emscripten_get_now() * 1000.0); }
void noSleep(void*, long long) {}

void report(const std::string& message) { std::fprintf(stderr, "lumenvortex: %s\n", message.c_str()); }

std::string jsonString(const std::string& s) {
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') out += '\\', out += char(c);
        else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else out += char(c);
    }
    return out + "\"";
}

}  // namespace

extern "C" {

// Starts the plug-in and shows it on the canvas `selector`, width x height
// pixels. 0 on success; otherwise the reason is on the console.
EMSCRIPTEN_KEEPALIVE int lv_start(const char* selector, int width, int height) {
    if (gHost) return 0;
    gHost = new WebHost();
    WebHost& h = *gHost;
    h.canvas = selector;
    h.port.kind = LV_PORT_WEB_CANVAS;
    h.port.webCanvas = h.canvas.c_str();
    h.plugin.useLinked(iTunesPluginMainMachO, LumenvortexSetClock, LumenvortexAttachCorvane, LumenvortexSetRenderer,
                       "Lumenvortex (linked)");
    std::string error;
    if (!h.plugin.setClock(pageMicros, noSleep, nullptr) || !h.plugin.start(error)) {
        report(error.empty() ? "the plug-in did not start" : error);
        return 1;
    }
    // WebGL 2 is OpenGL ES 3.0's subset: the one renderer a page can use.
    if (!h.plugin.setRenderer("gles")) {
        report("the plug-in has no gles renderer");
        return 1;
    }
    h.data.numWaveformChannels = 2;
    h.data.numSpectrumChannels = 2;
    const OSStatus shown = h.plugin.show(&h.port, width, height);
    if (shown != noErr) {
        report("the plug-in could not show on " + h.canvas + " (status " + std::to_string(shown) + ")");
        return 1;
    }
    applyStage();
    return 0;
}

// The page as a stage, called before lv_start: frames cleared to
// transparent over the page (for OBS's browser source, which lays them over
// its scene), and the track's overlay on or off. The context's alpha channel
// is chosen here; the plug-in takes the rest once started (its start resets
// the scene's background).
EMSCRIPTEN_KEEPALIVE void lv_stage(int transparent, int overlay) {
    lvweb::gCanvasAlpha = transparent != 0;
    gStageOverlay = overlay != 0;
    if (gHost) applyStage();
}

EMSCRIPTEN_KEEPALIVE void lv_resize(int width, int height) {
    if (gHost && gHost->plugin.shown()) gHost->plugin.setWindow(&gHost->port, width, height);
}

// WINDOW_FRAMES interleaved stereo frames, oldest first: the page writes the
// sound heard now here before each lv_frame.
EMSCRIPTEN_KEEPALIVE float* lv_pcm() { return gHost ? gHost->pcm : nullptr; }

// One frame: the spectrum of lv_pcm's frames, then "vrnd".
EMSCRIPTEN_KEEPALIVE void lv_frame(unsigned positionMs) {
    if (!gHost || !gHost->plugin.shown()) return;
    WebHost& h = *gHost;
    h.analyzer.compute(h.pcm, h.data.spectrumData, h.data.waveformData);
    h.plugin.render(h.data, positionMs);
}

// The spectrum of lv_pcm's frames as lv_frame hands it to the plug-in
// (2 x 512 bytes), without drawing: what the page's tests hold to the
// programs' transform.
EMSCRIPTEN_KEEPALIVE const unsigned char* lv_analyze() {
    if (!gHost) return nullptr;
    WebHost& h = *gHost;
    h.analyzer.compute(h.pcm, h.data.spectrumData, h.data.waveformData);
    return &h.data.spectrumData[0][0];
}

EMSCRIPTEN_KEEPALIVE void lv_key(int character, int repeat) {
    if (gHost && gHost->plugin.shown() && character > 0 && character < 0x80)
        gHost->plugin.event(repeat ? autoKey : keyDown, UInt32(character));
}

EMSCRIPTEN_KEEPALIVE void lv_pause(int paused) {
    if (gHost) gHost->plugin.setPaused(paused != 0);
}

// The track now playing: "vply" for the first, "ctrk" after. The cover's
// bytes (JPEG or PNG, may be empty) answer the plug-in's "covr"; the page
// has decoded them already (lv_web_image_prepare).
EMSCRIPTEN_KEEPALIVE void lv_track(const char* title, const char* artist, const char* album, const unsigned char* cover,
                                   int coverSize, double durationMs) {
    if (!gHost) return;
    WebHost& h = *gHost;
    lv::TrackMeta meta;
    meta.title = title ? title : "";
    meta.artist = artist ? artist : "";
    meta.album = album ? album : "";
    meta.durationMs = durationMs > 0 ? (long long)durationMs : -1;
    h.plugin.mCoverArt.assign(cover, cover + (cover && coverSize > 0 ? coverSize : 0));
    const lv::ImageFormat format = lv::sniffImageFormat(h.plugin.mCoverArt.data(), h.plugin.mCoverArt.size());
    h.plugin.mCoverArtFormat = format == lv::ImageFormat::Png ? kCoverArtPNG : kCoverArtJPEG;
    if (format == lv::ImageFormat::NoImage) h.plugin.mCoverArt.clear();
    ITTrackInfo record;
    makeTrackRecord(meta, record);
    static bool played = false;
    if (played) h.plugin.changeTrack(record);
    else h.plugin.play(record);
    played = true;
}

// The canvas's WebGL context came back after the browser took it (a GPU
// reset, too many contexts): everything drawn with lives on the GPU, so the
// plug-in is hidden, letting go of the dead objects, and shown again on the
// restored context, which builds them anew. 0 on success; otherwise the
// reason is on the console.
EMSCRIPTEN_KEEPALIVE int lv_restore(int width, int height) {
    if (!gHost) return 1;
    WebHost& h = *gHost;
    if (h.plugin.shown()) h.plugin.hide();
    const OSStatus shown = h.plugin.show(&h.port, width, height);
    if (shown != noErr) {
        report("the plug-in could not show again on the restored canvas (status " + std::to_string(shown) +
               "): reload the page");
        return 1;
    }
    return 0;
}

EMSCRIPTEN_KEEPALIVE void lv_hide() {
    if (gHost) gHost->plugin.hide();
}

// The demo song, made once: interleaved stereo at 44.1 kHz.
EMSCRIPTEN_KEEPALIVE const float* lv_demo_samples() {
    if (!gHost) return nullptr;
    if (!gHost->demoMade) {
        gHost->demo = makeDemoSong();
        gHost->demoMade = true;
    }
    return gHost->demo.samples.data();
}
EMSCRIPTEN_KEEPALIVE int lv_demo_frames() { return gHost ? int(gHost->demo.samples.size() / 2) : 0; }
EMSCRIPTEN_KEEPALIVE const char* lv_demo_title() { return gHost ? gHost->demo.meta.title.c_str() : ""; }
EMSCRIPTEN_KEEPALIVE const char* lv_demo_artist() { return gHost ? gHost->demo.meta.artist.c_str() : ""; }
EMSCRIPTEN_KEEPALIVE const char* lv_demo_album() { return gHost ? gHost->demo.meta.album.c_str() : ""; }

// What the page's status object shows, as JSON: frames drawn, the renderer,
// mode, palette, particle count (the field's target, and how many are
// alive: the field grows to the target over some frames), and what the
// other keys set: noise flow, mode change on new tracks, input gain, the
// help panel, when the track was last shown, antialiasing; and the
// instruction set of the field's step ("WASM" in the SIMD build).
EMSCRIPTEN_KEEPALIVE const char* lv_status() {
    if (!gHost) return "{}";
    WebHost& h = *gHost;
    h.status = "{\"frames\":" + std::to_string(h.port.frameCount) + ",\"renderer\":" + jsonString(h.port.renderer) +
               ",\"mode\":" + std::to_string(gMode.currentMode()) + ",\"modes\":" + std::to_string(gMode.modeCount()) +
               ",\"palette\":" + std::to_string(colors.index) +
               ",\"particles\":" + std::to_string(particleControl.total) +
               ",\"alive\":" + std::to_string(particleControl.count) +
               ",\"flow\":" + (gMode.perlinFlow() ? "true" : "false") +
               ",\"cycle\":" + (gMode.cycleModeOnTrackChange() ? "true" : "false") +
               ",\"gain\":" + std::to_string(sounds.multi) +
               ",\"help\":" + (gLastInfoPanelInvocation ? "true" : "false") +
               ",\"trackShownAt\":" + std::to_string(gMillisSinceTrackChange) +
               ",\"antialias\":" + (gAntialias ? "true" : "false") +
               ",\"fieldTarget\":" + jsonString(fieldStepTarget()) + "}";
    return h.status.c_str();
}

}  // extern "C"

int main() { return 0; }
