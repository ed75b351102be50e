// lumenvortex: the visualizer as a GStreamer element (class Visualization),
// a GstAudioVisualizer whose frames the plug-in draws (visual_session.h).
//
// Timing. The base class cuts its frames where its input buffers happen to
// end (it keeps the newest samples for the next frame), so its frames fall
// off the frame grid and can repeat. The element cuts the sound itself: its
// sink pad's chain hands the base class one frame's samples at a time, on the
// grid, each marked as a fresh start; the base class then draws exactly one
// frame for each, at sample n * rate / fps, with its pool, negotiation and
// QoS unchanged. The scene's clock is the frame's running time and the
// spectrum is that of the WINDOW_FRAMES samples (at SAMPLE_RATE) before the
// frame's sample, as in `lumenvortex --render`, so a file gives the same
// frames as the player's render of the same sound.
#include <gst/audio/audio.h>
#include <gst/gst.h>
#include <gst/pbutils/gstaudiovisualizer.h>
#include <gst/video/video.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string>
#include <vector>

#include "visual_session.h"

namespace {

using lvgst::SceneSettings;
using lvgst::TrackTags;
using lvgst::VisualSession;

GST_DEBUG_CATEGORY_STATIC(lv_debug);
#define GST_CAT_DEFAULT lv_debug

// The property table: each property's range and default, in one place.
enum Prop { PROP_0, PROP_MODE, PROP_PALETTE, PROP_PARTICLES, PROP_GAIN, PROP_NOISE_FLOW, PROP_CYCLE_MODES, PROP_RENDERER };
constexpr int kPalettes = 4;
constexpr int kMinParticles = 25, kMaxParticles = 10025;
constexpr double kMinGain = 0.01, kMaxGain = 100.0;
// The renderer property's values, in the order of its enum.
const char* const kRenderers[] = {"auto", "batched", "gles"};

// The sound kept for the spectrum: interleaved stereo at SAMPLE_RATE, from
// the start of the stream (or the last flush) on.
struct History {
    std::vector<float> frames;
    long long start = 0;   // index of frames[0]
    long long end() const { return start + (long long)frames.size() / 2; }
    void clear() {
        frames.clear();
        start = 0;
    }
    void window(long long endPosition, float* out) const {
        for (int i = 0; i < WINDOW_FRAMES; ++i) {
            const long long p = endPosition - WINDOW_FRAMES + i;
            const bool in = p >= start && p < end();
            out[2 * i] = in ? frames[size_t(p - start) * 2] : 0.0f;
            out[2 * i + 1] = in ? frames[size_t(p - start) * 2 + 1] : 0.0f;
        }
    }
    // Drops what no window will read again, in big steps (erasing the front
    // moves the rest).
    void forget(long long position) {
        const long long drop = std::min(position, end()) - start;
        if (drop < 65536) return;
        frames.erase(frames.begin(), frames.begin() + drop * 2);
        start += drop;
    }
};

// The element's state beside its GObject; touched by the streaming thread,
// but the settings, which the application sets under the object lock.
struct Impl {
    VisualSession session;
    SceneSettings settings;   // under the object lock
    bool settingsChanged = true;
    GstPadChainFunction baseChain = nullptr;
    GstPadEventFunction baseEvent = nullptr;
    GstAdapter* adapter = gst_adapter_new();
    GstAudioConverter* converter = nullptr;   // the sink's format to F32 stereo at SAMPLE_RATE
    GstAudioInfo convertedFrom{};
    History history;
    GstClockTime basePts = GST_CLOCK_TIME_NONE;   // the time of frame 0
    guint64 nextFrame = 0;                        // the next frame cut
    long long drawnPosition = 0;                  // the sample of the frame being drawn
    GstSegment segment{};
    TrackTags tags;          // as the stream's tags say now
    TrackTags sentTags;      // as the plug-in was last told
    long long trackStart = 0;
    std::vector<unsigned char> rgba;
    // A frame could not be drawn (the error is on the bus): the stream stops.
    // The base class is told by the chain's flow, not by render(): a failed
    // render leaves its lock taken in GStreamer 1.22.0, and the next buffer
    // would wait on it for ever.
    bool failed = false;

    Impl() { gst_segment_init(&segment, GST_FORMAT_TIME); }
    ~Impl() {
        g_object_unref(adapter);
        if (converter) gst_audio_converter_free(converter);
    }
    // A flush, a seek or a gap: the sound and the frame grid start again.
    void restart() {
        gst_adapter_clear(adapter);
        if (converter) gst_audio_converter_reset(converter);
        history.clear();
        basePts = GST_CLOCK_TIME_NONE;
        nextFrame = 0;
        trackStart = 0;
        failed = false;
    }
};

}  // namespace

struct GstLumenvortex {
    GstAudioVisualizer parent;
    Impl* impl;
};
struct GstLumenvortexClass {
    GstAudioVisualizerClass parent_class;
};

G_DEFINE_TYPE(GstLumenvortex, gst_lumenvortex, GST_TYPE_AUDIO_VISUALIZER)

namespace {

GstLumenvortex* self(gpointer p) { return reinterpret_cast<GstLumenvortex*>(p); }

// 1280x720 at 60 fps unless the peer asks otherwise: the base class takes the
// first structure its peer accepts and fixes what is left open near 320x200
// at 25 fps, so the structures before the open one carry the defaults.
#define LV_VIDEO_FORMATS "video/x-raw, format=(string){ RGBx, BGRx, RGBA }, pixel-aspect-ratio=(fraction)1/1, "
#define LV_SIZES "width=(int)[ 64, 8192 ], height=(int)[ 64, 8192 ], "
GstStaticPadTemplate srcTemplate = GST_STATIC_PAD_TEMPLATE(
    "src", GST_PAD_SRC, GST_PAD_ALWAYS,
    GST_STATIC_CAPS(LV_VIDEO_FORMATS "width=(int)1280, height=(int)720, framerate=(fraction)60/1; " LV_VIDEO_FORMATS
                    "width=(int)1280, height=(int)720, framerate=(fraction)[ 1/1, 240/1 ]; " LV_VIDEO_FORMATS LV_SIZES
                    "framerate=(fraction)60/1; " LV_VIDEO_FORMATS LV_SIZES "framerate=(fraction)[ 1/1, 240/1 ]"));
GstStaticPadTemplate sinkTemplate = GST_STATIC_PAD_TEMPLATE(
    "sink", GST_PAD_SINK, GST_PAD_ALWAYS,
    GST_STATIC_CAPS("audio/x-raw, format=(string){ S16LE, F32LE }, layout=(string)interleaved, "
                    "rate=(int)[ 8000, 192000 ], channels=(int)[ 1, 2 ]"));

// The sink's samples to F32 stereo at SAMPLE_RATE, appended to the history.
bool convertIntoHistory(GstLumenvortex* lv, GstBuffer* buffer) {
    Impl& m = *lv->impl;
    const GstAudioInfo& in = lv->parent.ainfo;
    if (!m.converter || !gst_audio_info_is_equal(&m.convertedFrom, &in)) {
        if (m.converter) gst_audio_converter_free(m.converter);
        GstAudioInfo out;
        gst_audio_info_init(&out);
        gst_audio_info_set_format(&out, GST_AUDIO_FORMAT_F32, SAMPLE_RATE, 2, nullptr);
        m.converter = gst_audio_converter_new(GST_AUDIO_CONVERTER_FLAG_NONE, const_cast<GstAudioInfo*>(&in), &out,
                                              nullptr);
        m.convertedFrom = in;
        if (!m.converter) return false;
    }
    GstMapInfo map;
    if (!gst_buffer_map(buffer, &map, GST_MAP_READ)) return false;
    const gsize inFrames = map.size / gsize(in.bpf);
    const gsize outFrames = gst_audio_converter_get_out_frames(m.converter, inFrames);
    const size_t at = m.history.frames.size();
    m.history.frames.resize(at + outFrames * 2);
    gpointer inPlanes[1] = {map.data};
    gpointer outPlanes[1] = {m.history.frames.data() + at};
    const bool ok = gst_audio_converter_samples(m.converter, GST_AUDIO_CONVERTER_FLAG_NONE, inPlanes, inFrames,
                                                outPlanes, outFrames);
    gst_buffer_unmap(buffer, &map);
    if (!ok) m.history.frames.resize(at);
    return ok;
}

// Sample n * rate / fps: where frame n begins, at `rate`.
guint64 frameSample(guint64 n, int rate, const GstVideoInfo& v) {
    return gst_util_uint64_scale(n, guint64(rate) * guint64(GST_VIDEO_INFO_FPS_D(&v)), GST_VIDEO_INFO_FPS_N(&v));
}

GstFlowReturn chain(GstPad* pad, GstObject* parent, GstBuffer* buffer) {
    GstLumenvortex* lv = self(parent);
    Impl& m = *lv->impl;
    GstAudioVisualizer& base = lv->parent;
    const int bpf = GST_AUDIO_INFO_BPF(&base.ainfo);
    const int rate = GST_AUDIO_INFO_RATE(&base.ainfo);
    if (m.failed) {
        gst_buffer_unref(buffer);
        return GST_FLOW_ERROR;
    }
    // Not negotiated yet: the base class says so.
    if (bpf == 0 || GST_VIDEO_INFO_FPS_N(&base.vinfo) <= 0) return m.baseChain(pad, parent, buffer);
    if (GST_BUFFER_IS_DISCONT(buffer) || !GST_CLOCK_TIME_IS_VALID(m.basePts)) {
        if (GST_CLOCK_TIME_IS_VALID(m.basePts)) m.restart();
        m.basePts = GST_BUFFER_PTS_IS_VALID(buffer) ? GST_BUFFER_PTS(buffer) : 0;
    }
    if (!convertIntoHistory(lv, buffer)) {
        gst_buffer_unref(buffer);
        GST_ELEMENT_ERROR(lv, STREAM, FORMAT, ("cannot read the sound's samples"), (nullptr));
        return GST_FLOW_ERROR;
    }
    gst_adapter_push(m.adapter, buffer);
    const GstVideoInfo& v = base.vinfo;
    for (;;) {
        const guint64 first = frameSample(m.nextFrame, rate, v), next = frameSample(m.nextFrame + 1, rate, v);
        const gsize bytes = gsize(next - first) * gsize(bpf);
        if (gst_adapter_available(m.adapter) < bytes) return GST_FLOW_OK;
        GstBuffer* cut = gst_adapter_take_buffer(m.adapter, bytes);
        GST_BUFFER_PTS(cut) = m.basePts + gst_util_uint64_scale(m.nextFrame, GST_SECOND * guint64(GST_VIDEO_INFO_FPS_D(&v)),
                                                                 GST_VIDEO_INFO_FPS_N(&v));
        GST_BUFFER_DURATION(cut) = GST_CLOCK_TIME_NONE;
        GST_BUFFER_FLAG_SET(cut, GST_BUFFER_FLAG_DISCONT);   // the base class draws it alone
        m.drawnPosition = (long long)frameSample(m.nextFrame, SAMPLE_RATE, v);
        ++m.nextFrame;
        const GstFlowReturn ret = m.baseChain(pad, parent, cut);
        if (m.failed) return GST_FLOW_ERROR;
        if (ret != GST_FLOW_OK) return ret;
    }
}

// The sound's end: its last samples, less than a frame, still make a frame
// (silence after them), as the player's render draws every frame that
// begins before the sound ends.
void finishLastFrame(GstLumenvortex* lv, GstPad* pad) {
    Impl& m = *lv->impl;
    const GstAudioVisualizer& base = lv->parent;
    const gsize left = gst_adapter_available(m.adapter);
    const int bpf = GST_AUDIO_INFO_BPF(&base.ainfo);
    if (m.failed || left == 0 || bpf == 0 || GST_VIDEO_INFO_FPS_N(&base.vinfo) <= 0) return;
    const int rate = GST_AUDIO_INFO_RATE(&base.ainfo);
    const gsize frame = gsize(frameSample(m.nextFrame + 1, rate, base.vinfo) - frameSample(m.nextFrame, rate, base.vinfo));
    const gsize bytes = frame * gsize(bpf) - left;
    GstBuffer* silence = gst_buffer_new_allocate(nullptr, bytes, nullptr);
    gst_buffer_memset(silence, 0, 0, bytes);   // zero is silence in S16 and F32 alike
    chain(pad, GST_OBJECT(lv), silence);
}

std::string tagString(const GstTagList* list, const char* tag) {
    gchar* value = nullptr;
    if (!gst_tag_list_get_string(list, tag, &value)) return {};
    std::string s = value;
    g_free(value);
    return s;
}

// Tags in: what a tag list says is merged into the track now playing; a
// change of title, artist, album or cover is a track change for the plug-in.
void takeTags(GstLumenvortex* lv, GstEvent* event) {
    Impl& m = *lv->impl;
    GstTagList* list = nullptr;
    gst_event_parse_tag(event, &list);
    for (auto [tag, field] : {std::pair{GST_TAG_TITLE, &m.tags.title}, std::pair{GST_TAG_ARTIST, &m.tags.artist},
                              std::pair{GST_TAG_ALBUM, &m.tags.album}}) {
        std::string value = tagString(list, tag);
        if (!value.empty()) *field = value;
    }
    GstSample* image = nullptr;
    if (gst_tag_list_get_sample(list, GST_TAG_IMAGE, &image) ||
        gst_tag_list_get_sample(list, GST_TAG_PREVIEW_IMAGE, &image)) {
        GstMapInfo map;
        GstBuffer* bytes = gst_sample_get_buffer(image);
        if (bytes && gst_buffer_map(bytes, &map, GST_MAP_READ)) {
            m.tags.cover.assign(map.data, map.data + map.size);
            gst_buffer_unmap(bytes, &map);
        }
        gst_sample_unref(image);
    }
    guint64 duration = 0;
    if (gst_tag_list_get_uint64(list, GST_TAG_DURATION, &duration)) m.tags.durationMs = (long long)(duration / GST_MSECOND);
    if (m.tags.empty() || m.tags.sameTrack(m.sentTags)) return;
    m.sentTags = m.tags;
    m.trackStart = m.history.end();
    m.session.setTrack(m.tags);
}

gboolean sinkEvent(GstPad* pad, GstObject* parent, GstEvent* event) {
    GstLumenvortex* lv = self(parent);
    Impl& m = *lv->impl;
    switch (GST_EVENT_TYPE(event)) {
    case GST_EVENT_FLUSH_STOP:
        m.restart();
        m.session.rebaseClock();
        break;
    case GST_EVENT_SEGMENT:
        gst_event_copy_segment(event, &m.segment);
        break;
    case GST_EVENT_CAPS:
        m.restart();   // the samples kept were in the old format
        break;
    case GST_EVENT_STREAM_START:
        m.tags = TrackTags();   // a new stream brings its own tags
        break;
    case GST_EVENT_TAG:
        takeTags(lv, event);
        break;
    case GST_EVENT_EOS:
        finishLastFrame(lv, pad);
        break;
    default:
        break;
    }
    return m.baseEvent(pad, parent, event);
}

// The picture, RGBA with row 0 at the top, into the frame's format; the
// frame is opaque whatever GL left in alpha.
void copyIntoFrame(const unsigned char* rgba, GstVideoFrame* frame) {
    const int width = GST_VIDEO_FRAME_WIDTH(frame), height = GST_VIDEO_FRAME_HEIGHT(frame);
    const int stride = GST_VIDEO_FRAME_PLANE_STRIDE(frame, 0);
    const bool bgr = GST_VIDEO_FRAME_FORMAT(frame) == GST_VIDEO_FORMAT_BGRx;
    auto* out = static_cast<unsigned char*>(GST_VIDEO_FRAME_PLANE_DATA(frame, 0));
    for (int y = 0; y < height; ++y) {
        const unsigned char* s = rgba + size_t(y) * size_t(width) * 4;
        unsigned char* d = out + size_t(y) * size_t(stride);
        for (int x = 0; x < width; ++x, s += 4, d += 4) {
            d[0] = bgr ? s[2] : s[0];
            d[1] = s[1];
            d[2] = bgr ? s[0] : s[2];
            d[3] = 255;
        }
    }
}

gboolean render(GstAudioVisualizer* base, GstBuffer*, GstVideoFrame* frame) {
    GstLumenvortex* lv = self(base);
    Impl& m = *lv->impl;
    GST_OBJECT_LOCK(lv);
    const bool changed = m.settingsChanged;
    const SceneSettings settings = m.settings;
    m.settingsChanged = false;
    GST_OBJECT_UNLOCK(lv);
    if (changed) m.session.setSettings(settings);

    const int width = GST_VIDEO_FRAME_WIDTH(frame), height = GST_VIDEO_FRAME_HEIGHT(frame);
    const GstClockTime pts = GST_BUFFER_PTS(frame->buffer);
    guint64 running = GST_CLOCK_TIME_IS_VALID(pts) ? gst_segment_to_running_time(&m.segment, GST_FORMAT_TIME, pts) : 0;
    if (!GST_CLOCK_TIME_IS_VALID(running)) running = 0;
    float window[WINDOW_FRAMES * 2];
    m.history.window(m.drawnPosition, window);
    m.history.forget(m.drawnPosition - WINDOW_FRAMES);
    m.rgba.resize(size_t(width) * size_t(height) * 4);
    const unsigned trackMs = unsigned(std::max(0LL, m.drawnPosition - m.trackStart) * 1000 / SAMPLE_RATE);
    std::string error;
    if (!m.session.draw(width, height, (long long)(running / 1000), window, trackMs, m.rgba.data(), error)) {
        GST_ELEMENT_ERROR(lv, RESOURCE, FAILED, ("%s", error.c_str()), (nullptr));
        m.failed = true;
        return TRUE;   // see Impl::failed
    }
    copyIntoFrame(m.rgba.data(), frame);
    return TRUE;
}

GstStateChangeReturn changeState(GstElement* element, GstStateChange transition) {
    GstLumenvortex* lv = self(element);
    if (transition == GST_STATE_CHANGE_READY_TO_PAUSED) {
        std::string error;
        if (!lv->impl->session.start(error)) {
            GST_ELEMENT_ERROR(lv, RESOURCE, BUSY, ("%s", error.c_str()), (nullptr));
            return GST_STATE_CHANGE_FAILURE;
        }
        lv->impl->restart();
        lv->impl->tags = lv->impl->sentTags = TrackTags();
        GST_OBJECT_LOCK(lv);
        lv->impl->settingsChanged = true;
        GST_OBJECT_UNLOCK(lv);
    }
    const GstStateChangeReturn ret = GST_ELEMENT_CLASS(gst_lumenvortex_parent_class)->change_state(element, transition);
    if (transition == GST_STATE_CHANGE_PAUSED_TO_READY) lv->impl->session.stop();
    return ret;
}

void setProperty(GObject* object, guint id, const GValue* value, GParamSpec* pspec) {
    GstLumenvortex* lv = self(object);
    GST_OBJECT_LOCK(lv);
    SceneSettings& s = lv->impl->settings;
    switch (id) {
    case PROP_MODE: s.mode = g_value_get_int(value); break;
    case PROP_PALETTE: s.palette = g_value_get_int(value); break;
    case PROP_PARTICLES: s.particles = g_value_get_int(value); break;
    case PROP_GAIN: s.gain = g_value_get_double(value); break;
    case PROP_NOISE_FLOW: s.noiseFlow = g_value_get_boolean(value); break;
    case PROP_CYCLE_MODES: s.cycleModes = g_value_get_boolean(value); break;
    case PROP_RENDERER: s.renderer = kRenderers[g_value_get_enum(value)]; break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
    }
    lv->impl->settingsChanged = true;
    GST_OBJECT_UNLOCK(lv);
}

void getProperty(GObject* object, guint id, GValue* value, GParamSpec* pspec) {
    GstLumenvortex* lv = self(object);
    GST_OBJECT_LOCK(lv);
    const SceneSettings& s = lv->impl->settings;
    switch (id) {
    case PROP_MODE: g_value_set_int(value, s.mode); break;
    case PROP_PALETTE: g_value_set_int(value, s.palette); break;
    case PROP_PARTICLES: g_value_set_int(value, s.particles); break;
    case PROP_GAIN: g_value_set_double(value, s.gain); break;
    case PROP_NOISE_FLOW: g_value_set_boolean(value, s.noiseFlow); break;
    case PROP_CYCLE_MODES: g_value_set_boolean(value, s.cycleModes); break;
    case PROP_RENDERER:
        g_value_set_enum(value, int(std::find(std::begin(kRenderers), std::end(kRenderers), s.renderer) -
                                    std::begin(kRenderers)));
        break;
    default: G_OBJECT_WARN_INVALID_PROPERTY_ID(object, id, pspec); break;
    }
    GST_OBJECT_UNLOCK(lv);
}

void finalize(GObject* object) {
    delete self(object)->impl;
    G_OBJECT_CLASS(gst_lumenvortex_parent_class)->finalize(object);
}

GType rendererType() {
    static GType type = 0;
    static const GEnumValue values[] = {
        {0, "The plug-in's choice: batched, with the light layer where GL draws on the CPU", "auto"},
        {1, "Vertex arrays on desktop GL", "batched"},
        {2, "Shaders on OpenGL ES 3.0", "gles"},
        {0, nullptr, nullptr}};
    if (g_once_init_enter(&type)) g_once_init_leave(&type, g_enum_register_static("GstLumenvortexRenderer", values));
    return type;
}

}  // namespace

static void gst_lumenvortex_class_init(GstLumenvortexClass* klass) {
    GObjectClass* object = G_OBJECT_CLASS(klass);
    GstElementClass* element = GST_ELEMENT_CLASS(klass);
    object->set_property = setProperty;
    object->get_property = getProperty;
    object->finalize = finalize;
    const auto flags = GParamFlags(G_PARAM_READWRITE | G_PARAM_STATIC_STRINGS | GST_PARAM_CONTROLLABLE);
    const SceneSettings d;
    g_object_class_install_property(object, PROP_MODE,
        g_param_spec_int("mode", "Mode", "Visual mode (the player's m key)", 0, lvgst::sceneModeCount() - 1, d.mode, flags));
    g_object_class_install_property(object, PROP_PALETTE,
        g_param_spec_int("palette", "Palette", "Colour palette (the h key)", 0, kPalettes - 1, d.palette, flags));
    g_object_class_install_property(object, PROP_PARTICLES,
        g_param_spec_int("particles", "Particles",
                         "Target particle count, in steps of 100 from 25 (the a and s keys)", kMinParticles,
                         kMaxParticles, d.particles, flags));
    g_object_class_install_property(object, PROP_GAIN,
        g_param_spec_double("gain", "Gain", "Input gain, in steps of x1.25 (the + and - keys)", kMinGain, kMaxGain,
                            d.gain, flags));
    g_object_class_install_property(object, PROP_NOISE_FLOW,
        g_param_spec_boolean("noise-flow", "Noise flow", "Particles drift on a noise field (the p key)", d.noiseFlow,
                             flags));
    g_object_class_install_property(object, PROP_CYCLE_MODES,
        g_param_spec_boolean("cycle-modes", "Cycle modes", "Next mode on each track change (the c key)", d.cycleModes,
                             flags));
    g_object_class_install_property(object, PROP_RENDERER,
        g_param_spec_enum("renderer", "Renderer", "How the scene reaches GL", rendererType(), 0, flags));
    element->change_state = changeState;
    gst_element_class_set_static_metadata(element, "Lumenvortex", "Visualization",
                                          "Charged particles around pulsing gravity wells, moved by the music",
                                          "The Lumenvortex developers");
    gst_element_class_add_static_pad_template(element, &srcTemplate);
    gst_element_class_add_static_pad_template(element, &sinkTemplate);
    GST_AUDIO_VISUALIZER_CLASS(klass)->render = render;
}

static void gst_lumenvortex_init(GstLumenvortex* lv) {
    lv->impl = new Impl();
    GstPad* sink = gst_element_get_static_pad(GST_ELEMENT(lv), "sink");
    lv->impl->baseChain = GST_PAD_CHAINFUNC(sink);
    lv->impl->baseEvent = GST_PAD_EVENTFUNC(sink);
    gst_pad_set_chain_function(sink, chain);
    gst_pad_set_event_function(sink, sinkEvent);
    gst_object_unref(sink);
}

static gboolean pluginInit(GstPlugin* plugin) {
    GST_DEBUG_CATEGORY_INIT(lv_debug, "lumenvortex", 0, "Lumenvortex visualizer");
    return gst_element_register(plugin, "lumenvortex", GST_RANK_NONE, gst_lumenvortex_get_type());
}

#define PACKAGE "lumenvortex"
GST_PLUGIN_DEFINE(GST_VERSION_MAJOR, GST_VERSION_MINOR, lumenvortex, "Lumenvortex music visualizer", pluginInit,
                  LV_VERSION, "Proprietary", "Lumenvortex", "https://lumenvortex.invalid/")
