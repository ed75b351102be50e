// The lumenvortex element in-process, through GstHarness: the caps it takes
// and refuses, its properties, its frames' timestamps, flushes, and state
// changes over and over (the leak check of the sanitizer build). The element
// draws with Mesa's llvmpipe here, as on any machine without a GPU.
#include <gst/check/gstharness.h>
#include <gst/gst.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "gst_test_env.h"
#include "test_pictures.h"

namespace {

// GStreamer starts when the tests run, not when they are only listed: the
// first start scans the registry, which takes a while.
struct GstInit : ::testing::Environment {
    void SetUp() override {
        lvtest::useTheBuildsElement();
        gst_init(nullptr, nullptr);
    }
};
const auto* gGstInit = ::testing::AddGlobalTestEnvironment(new GstInit);

constexpr int kRate = 44100;

// A harness on a fresh element, fed `audioCaps` and taking what `videoCaps`
// allow (any video when empty).
struct Harness {
    GstHarness* h;
    explicit Harness(const std::string& audioCaps, const std::string& videoCaps = "") {
        h = gst_harness_new("lumenvortex");
        if (!videoCaps.empty()) gst_harness_set_sink_caps_str(h, videoCaps.c_str());
        gst_harness_set_src_caps_str(h, audioCaps.c_str());
    }
    ~Harness() { gst_harness_teardown(h); }
    // `frames` S16 stereo frames of a pulsing 80 Hz tone from sample `at`.
    GstFlowReturn pushS16(long long at, int frames, int rate = kRate, int channels = 2) {
        GstBuffer* b = gst_buffer_new_allocate(nullptr, gsize(frames) * gsize(channels) * 2, nullptr);
        GstMapInfo map;
        gst_buffer_map(b, &map, GST_MAP_WRITE);
        auto* s = reinterpret_cast<int16_t*>(map.data);
        for (int i = 0; i < frames; ++i) {
            const double t = double(at + i) / rate;
            const double v = std::fmod(t, 0.5) < 0.12 ? 0.6 * std::sin(2 * M_PI * 80 * t) : 0.0;
            for (int c = 0; c < channels; ++c) s[i * channels + c] = int16_t(v * 32767);
        }
        gst_buffer_unmap(b, &map);
        GST_BUFFER_PTS(b) = gst_util_uint64_scale(at, GST_SECOND, rate);
        return gst_harness_push(h, b);
    }
    std::vector<GstBuffer*> pullAll() {
        std::vector<GstBuffer*> out;
        while (GstBuffer* b = gst_harness_try_pull(h)) out.push_back(b);
        return out;
    }
    std::string outCaps() {
        GstCaps* caps = gst_pad_get_current_caps(h->sinkpad);
        if (!caps) return "";
        gchar* s = gst_caps_to_string(caps);
        std::string text = s;
        g_free(s);
        gst_caps_unref(caps);
        return text;
    }
};

std::string audio(const char* format, int rate, int channels) {
    return std::string("audio/x-raw,layout=interleaved,format=") + format + ",rate=" + std::to_string(rate) +
           ",channels=" + std::to_string(channels);
}

bool samePixels(GstBuffer* a, GstBuffer* b) {
    GstMapInfo ma, mb;
    gst_buffer_map(a, &ma, GST_MAP_READ);
    gst_buffer_map(b, &mb, GST_MAP_READ);
    const bool same = ma.size == mb.size && std::memcmp(ma.data, mb.data, ma.size) == 0;
    gst_buffer_unmap(a, &ma);
    gst_buffer_unmap(b, &mb);
    return same;
}

void unrefAll(std::vector<GstBuffer*>& buffers) {
    for (GstBuffer* b : buffers) gst_buffer_unref(b);
    buffers.clear();
}

TEST(GstElement, IsAVisualizationWithTheDocumentedProperties) {
    GstElementFactory* factory = gst_element_factory_find("lumenvortex");
    ASSERT_NE(factory, nullptr) << "GST_PLUGIN_PATH should hold the build's gst/ folder";
    EXPECT_STREQ(gst_element_factory_get_metadata(factory, GST_ELEMENT_METADATA_KLASS), "Visualization");
    GstElement* e = gst_element_factory_create(factory, nullptr);
    gst_object_unref(factory);
    struct Expect {
        const char* name;
        double min, max, def;
    };
    GObjectClass* klass = G_OBJECT_GET_CLASS(e);
    for (const Expect& x : {Expect{"mode", 0, 6, 0}, Expect{"palette", 0, 3, 0}, Expect{"particles", 25, 10025, 525},
                            Expect{"gain", 0.01, 100, 0.5}}) {
        GParamSpec* p = g_object_class_find_property(klass, x.name);
        ASSERT_NE(p, nullptr) << x.name;
        if (G_IS_PARAM_SPEC_INT(p)) {
            EXPECT_EQ(G_PARAM_SPEC_INT(p)->minimum, int(x.min)) << x.name;
            EXPECT_EQ(G_PARAM_SPEC_INT(p)->maximum, int(x.max)) << x.name;
            EXPECT_EQ(G_PARAM_SPEC_INT(p)->default_value, int(x.def)) << x.name;
        } else {
            EXPECT_DOUBLE_EQ(G_PARAM_SPEC_DOUBLE(p)->minimum, x.min);
            EXPECT_DOUBLE_EQ(G_PARAM_SPEC_DOUBLE(p)->maximum, x.max);
            EXPECT_DOUBLE_EQ(G_PARAM_SPEC_DOUBLE(p)->default_value, x.def);
        }
    }
    gboolean flow = TRUE, cycle = FALSE;
    g_object_get(e, "noise-flow", &flow, "cycle-modes", &cycle, nullptr);
    EXPECT_FALSE(flow);
    EXPECT_TRUE(cycle);
    // The renderer by its names, as gst-launch and players set it.
    GEnumClass* renderers =
        G_ENUM_CLASS(g_type_class_ref(G_PARAM_SPEC_VALUE_TYPE(g_object_class_find_property(klass, "renderer"))));
    for (const char* name : {"gles", "batched", "auto"}) {
        gst_util_set_object_arg(G_OBJECT(e), "renderer", name);
        int value = -1;
        g_object_get(e, "renderer", &value, nullptr);
        GEnumValue* back = g_enum_get_value(renderers, value);
        ASSERT_NE(back, nullptr);
        EXPECT_STREQ(back->value_nick, name);
    }
    g_type_class_unref(renderers);
    gst_object_unref(e);
}

// Every common rate of S16LE and F32LE, mono and stereo, gives frames of
// the default size and rate when the peer asks nothing.
TEST(GstElement, TakesTheCommonAudioFormatsAndDefaultsTo720p60) {
    for (const char* format : {"S16LE", "F32LE"})
        for (int rate : {22050, 44100, 48000})
            for (int channels : {1, 2}) {
                SCOPED_TRACE(audio(format, rate, channels));
                Harness t(audio(format, rate, channels));
                const int bpf = channels * (format[0] == 'S' ? 2 : 4);
                GstBuffer* b = gst_buffer_new_allocate(nullptr, gsize(rate / 10) * gsize(bpf), nullptr);
                gst_buffer_memset(b, 0, 0, gst_buffer_get_size(b));
                GST_BUFFER_PTS(b) = 0;
                ASSERT_EQ(gst_harness_push(t.h, b), GST_FLOW_OK);
                std::vector<GstBuffer*> frames = t.pullAll();
                EXPECT_EQ(frames.size(), 6u);   // 0.1 s at 60 fps
                const std::string caps = t.outCaps();
                EXPECT_NE(caps.find("width=(int)1280"), std::string::npos) << caps;
                EXPECT_NE(caps.find("height=(int)720"), std::string::npos) << caps;
                EXPECT_NE(caps.find("framerate=(fraction)60/1"), std::string::npos) << caps;
                if (!frames.empty()) {
                    EXPECT_EQ(gst_buffer_get_size(frames[0]), 1280u * 720u * 4u);
                }
                unrefAll(frames);
            }
}

TEST(GstElement, RefusesWhatItCannotHandle) {
    GstElement* e = gst_element_factory_make("lumenvortex", nullptr);
    GstPad* sink = gst_element_get_static_pad(e, "sink");
    for (const char* bad : {"audio/x-raw,layout=interleaved,format=U8,rate=44100,channels=2",
                            "audio/x-raw,layout=interleaved,format=S32LE,rate=44100,channels=2",
                            "audio/x-raw,layout=interleaved,format=S16LE,rate=44100,channels=6",
                            "audio/x-raw,layout=non-interleaved,format=F32LE,rate=44100,channels=2",
                            "audio/x-raw,layout=interleaved,format=S16BE,rate=44100,channels=2"}) {
        GstCaps* caps = gst_caps_from_string(bad);
        EXPECT_FALSE(gst_pad_query_accept_caps(sink, caps)) << bad;
        gst_caps_unref(caps);
    }
    gst_object_unref(sink);
    gst_object_unref(e);
    // A peer that takes only a format the element does not make: no frame,
    // and the push says why.
    Harness t(audio("S16LE", kRate, 2), "video/x-raw,format=I420,width=320,height=240,framerate=30/1");
    EXPECT_EQ(t.pushS16(0, 4410), GST_FLOW_NOT_NEGOTIATED);
    EXPECT_EQ(gst_harness_buffers_received(t.h), 0u);
}

// The peer's size, rate and format are kept, and BGRx is blue-first.
TEST(GstElement, DrawsAtTheSizeAndFormatThePeerAsks) {
    for (const char* format : {"RGBx", "BGRx", "RGBA"}) {
        Harness t(audio("S16LE", kRate, 2),
                  std::string("video/x-raw,format=") + format + ",width=320,height=200,framerate=30/1");
        ASSERT_EQ(t.pushS16(0, kRate / 5), GST_FLOW_OK);
        std::vector<GstBuffer*> frames = t.pullAll();
        ASSERT_EQ(frames.size(), 6u) << format;   // 0.2 s at 30 fps
        EXPECT_EQ(gst_buffer_get_size(frames[5]), 320u * 200u * 4u);
        EXPECT_EQ(GST_BUFFER_PTS(frames[5]), gst_util_uint64_scale(5, GST_SECOND, 30));
        GstMapInfo map;
        gst_buffer_map(frames[5], &map, GST_MAP_READ);
        long lit = 0;
        for (gsize i = 0; i < map.size; i += 4) {
            lit += map.data[i] + map.data[i + 1] + map.data[i + 2] > 30;
            if (std::string(format) == "RGBA") {
                ASSERT_EQ(map.data[i + 3], 255) << "frames are opaque";
            }
        }
        gst_buffer_unmap(frames[5], &map);
        EXPECT_GT(lit, 100) << format << ": the scene should be drawn, not a blank frame";
        unrefAll(frames);
    }
}

// Input cut anyhow gives frames on the grid n / fps, one each, every one a
// new picture; the last samples still make their frame at the end of the
// stream. A flush starts the grid again at the next buffer's time.
TEST(GstElement, FramesFollowTheStreamsTimeWhateverTheInputBuffers) {
    auto t = std::make_unique<Harness>(audio("S16LE", kRate, 2), "video/x-raw,format=RGBx,width=160,height=90,framerate=60/1");
    const int sizes[] = {1000, 333, 4096, 17, 2000, 735, 1470, 9000};
    long long at = 0;
    for (int i = 0; at < kRate; ++i) {
        const int n = int(std::min<long long>(sizes[i % 8], kRate - 100 - at));
        if (n <= 0) break;
        ASSERT_EQ(t->pushS16(at, n), GST_FLOW_OK);
        at += n;
    }
    ASSERT_TRUE(gst_harness_push_event(t->h, gst_event_new_eos()));
    std::vector<GstBuffer*> frames = t->pullAll();
    ASSERT_EQ(frames.size(), 60u) << "every frame that begins before the sound ends";
    for (size_t n = 0; n < frames.size(); ++n) {
        EXPECT_EQ(GST_BUFFER_PTS(frames[n]), gst_util_uint64_scale(n, GST_SECOND, 60)) << n;
        EXPECT_EQ(GST_BUFFER_DURATION(frames[n]), gst_util_uint64_scale(1, GST_SECOND, 60));
    }
    int repeats = 0;
    for (size_t n = 1; n < frames.size(); ++n) repeats += samePixels(frames[n - 1], frames[n]);
    EXPECT_EQ(repeats, 0) << "each frame should move on from the one before";
    unrefAll(frames);
    t.reset();   // the scene is one per process: the next harness needs it

    // A seek: flush, a segment at 10 s, sound from there.
    Harness s(audio("S16LE", kRate, 2), "video/x-raw,format=RGBx,width=160,height=90,framerate=60/1");
    ASSERT_EQ(s.pushS16(0, kRate / 4), GST_FLOW_OK);
    std::vector<GstBuffer*> before = s.pullAll();
    EXPECT_EQ(before.size(), 15u);
    unrefAll(before);
    ASSERT_TRUE(gst_harness_push_event(s.h, gst_event_new_flush_start()));
    ASSERT_TRUE(gst_harness_push_event(s.h, gst_event_new_flush_stop(TRUE)));
    GstSegment segment;
    gst_segment_init(&segment, GST_FORMAT_TIME);
    segment.start = segment.time = 10 * GST_SECOND;
    ASSERT_TRUE(gst_harness_push_event(s.h, gst_event_new_segment(&segment)));
    ASSERT_EQ(s.pushS16(10LL * kRate + 300, kRate / 4), GST_FLOW_OK);
    std::vector<GstBuffer*> after = s.pullAll();
    ASSERT_EQ(after.size(), 15u);
    const GstClockTime start = gst_util_uint64_scale(10LL * kRate + 300, GST_SECOND, kRate);
    EXPECT_EQ(GST_BUFFER_PTS(after[0]), start);
    EXPECT_EQ(GST_BUFFER_PTS(after[14]), start + gst_util_uint64_scale(14, GST_SECOND, 60));
    unrefAll(after);

    // Another format mid-stream (a gapless next track at 48 kHz, mono): the
    // grid starts again at its first buffer.
    gst_harness_set_src_caps_str(s.h, audio("S16LE", 48000, 1).c_str());
    ASSERT_EQ(s.pushS16(48000LL * 21 / 2, 12000, 48000, 1), GST_FLOW_OK);
    std::vector<GstBuffer*> other = s.pullAll();
    ASSERT_EQ(other.size(), 15u);
    for (size_t n = 0; n < other.size(); ++n)
        EXPECT_EQ(GST_BUFFER_PTS(other[n]), GstClockTime(10.5 * GST_SECOND) + gst_util_uint64_scale(n, GST_SECOND, 60));
    unrefAll(other);
}

// Tags in the stream: a track with a title and a cover, then one whose
// "cover" is not an image at all. The overlay shows what it can and the
// frames go on, on the grid (the pictures are held to the player's in
// pipeline_test).
TEST(GstElement, TagsWithAnyCoverKeepTheFramesComing) {
    Harness t(audio("S16LE", kRate, 2), "video/x-raw,format=RGBx,width=160,height=90,framerate=30/1");
    auto tags = [&](const char* title, const std::vector<uint8_t>& bytes) {
        GstBuffer* picture = gst_buffer_new_memdup(bytes.data(), bytes.size());
        GstCaps* caps = gst_caps_new_empty_simple("image/png");
        GstSample* sample = gst_sample_new(picture, caps, nullptr, nullptr);
        GstTagList* list = gst_tag_list_new(GST_TAG_TITLE, title, GST_TAG_ARTIST, "Tester", GST_TAG_IMAGE, sample,
                                            nullptr);
        gst_sample_unref(sample);
        gst_caps_unref(caps);
        gst_buffer_unref(picture);
        return gst_harness_push_event(t.h, gst_event_new_tag(list));
    };
    ASSERT_TRUE(tags("First", lvtest::makePNG(32, 32, lvtest::solid({200, 30, 30, 255}))));
    ASSERT_EQ(t.pushS16(0, kRate / 2), GST_FLOW_OK);
    ASSERT_TRUE(tags("Second", std::vector<uint8_t>(100, 0x42)));
    ASSERT_EQ(t.pushS16(kRate / 2, kRate / 2), GST_FLOW_OK);
    std::vector<GstBuffer*> frames = t.pullAll();
    ASSERT_EQ(frames.size(), 30u);
    EXPECT_EQ(GST_BUFFER_PTS(frames[29]), gst_util_uint64_scale(29, GST_SECOND, 30));
    unrefAll(frames);
}

// The leak check of the sanitizer build: a pipeline brought up to PLAYING
// and down to NULL a hundred times, each time drawing a few frames.
TEST(GstElement, StartsAndStopsAHundredTimes) {
    GError* error = nullptr;
    GstElement* pipeline = gst_parse_launch(
        "audiotestsrc num-buffers=3 samplesperbuffer=1470 ! audio/x-raw,rate=44100,channels=2 ! lumenvortex ! "
        "video/x-raw,width=64,height=64,framerate=30/1 ! fakesink name=sink",
        &error);
    ASSERT_NE(pipeline, nullptr) << (error ? error->message : "");
    GstBus* bus = gst_element_get_bus(pipeline);
    for (int i = 0; i < 100; ++i) {
        ASSERT_NE(gst_element_set_state(pipeline, GST_STATE_PLAYING), GST_STATE_CHANGE_FAILURE) << "round " << i;
        GstMessage* m = gst_bus_timed_pop_filtered(bus, 60 * GST_SECOND,
                                                   GstMessageType(GST_MESSAGE_EOS | GST_MESSAGE_ERROR));
        ASSERT_NE(m, nullptr) << "round " << i << ": no end of stream";
        EXPECT_EQ(GST_MESSAGE_TYPE(m), GST_MESSAGE_EOS) << "round " << i;
        gst_message_unref(m);
        ASSERT_EQ(gst_element_set_state(pipeline, GST_STATE_NULL), GST_STATE_CHANGE_SUCCESS);
    }
    gst_object_unref(bus);
    gst_object_unref(pipeline);
}

// The scene is one per process: a second element says so on the bus rather
// than draw over the first one's frames.
TEST(GstElement, ASecondElementInTheProcessIsRefusedWithAReason) {
    Harness first(audio("S16LE", kRate, 2), "video/x-raw,width=64,height=64,framerate=30/1");
    ASSERT_EQ(first.pushS16(0, 1470), GST_FLOW_OK);
    GstElement* second = gst_element_factory_make("lumenvortex", nullptr);
    GstBus* bus = gst_bus_new();
    gst_element_set_bus(second, bus);
    EXPECT_EQ(gst_element_set_state(second, GST_STATE_PAUSED), GST_STATE_CHANGE_FAILURE);
    GstMessage* m = gst_bus_pop_filtered(bus, GST_MESSAGE_ERROR);
    ASSERT_NE(m, nullptr);
    GError* error = nullptr;
    gst_message_parse_error(m, &error, nullptr);
    EXPECT_NE(std::string(error->message).find("one lumenvortex element at a time"), std::string::npos)
        << error->message;
    g_error_free(error);
    gst_message_unref(m);
    gst_element_set_state(second, GST_STATE_NULL);
    gst_object_unref(second);
    gst_object_unref(bus);
}

}  // namespace
