// PulseAudio capture with the asynchronous API on a threaded main loop: the
// stream can be stopped at any moment, which a blocking read cannot promise.
#include "lv/capture.h"

#include <pulse/pulseaudio.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "lv/sample_format.h"

namespace lv {

namespace {

constexpr int kRate = kSampleRate;
constexpr int kChannels = kSampleChannels;
constexpr size_t kFrameBytes = sizeof(float) * kChannels;

// Why no server answered, and where to look: PULSE_SERVER only when it is
// set, as then it, not the usual socket, named the server tried.
std::string noServer(pa_context* context) {
    std::string hint = "is PulseAudio or PipeWire running?";
    const char* named = std::getenv("PULSE_SERVER");
    if (named && *named) hint = std::string("is a sound server running at PULSE_SERVER=") + named + "?";
    return std::string("no sound server: ") + pa_strerror(pa_context_errno(context)) + " (" + hint + ")";
}

// A context on a running threaded main loop; connect() waits for READY.
struct Connection {
    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;

    ~Connection() { close(); }

    static void contextState(pa_context*, void* user) {
        pa_threaded_mainloop_signal(static_cast<Connection*>(user)->loop, 0);
    }

    bool connect(const char* clientName, std::string& error) {
        loop = pa_threaded_mainloop_new();
        if (!loop) {
            error = "cannot start the sound server client";
            return false;
        }
        context = pa_context_new(pa_threaded_mainloop_get_api(loop), clientName);
        if (!context) {
            error = "cannot start the sound server client";
            return false;
        }
        pa_context_set_state_callback(context, &Connection::contextState, this);
        if (pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) {
            error = noServer(context);
            return false;
        }
        pa_threaded_mainloop_lock(loop);
        if (pa_threaded_mainloop_start(loop) < 0) {
            pa_threaded_mainloop_unlock(loop);
            error = "cannot start the sound server client";
            return false;
        }
        for (;;) {
            pa_context_state_t st = pa_context_get_state(context);
            if (st == PA_CONTEXT_READY) break;
            if (!PA_CONTEXT_IS_GOOD(st)) {
                error = noServer(context);
                pa_threaded_mainloop_unlock(loop);
                return false;
            }
            pa_threaded_mainloop_wait(loop);
        }
        pa_threaded_mainloop_unlock(loop);
        return true;
    }

    // Runs an operation to its end; the loop lock must be held.
    void wait(pa_operation* op) {
        if (!op) return;
        while (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_threaded_mainloop_wait(loop);
        pa_operation_unref(op);
    }

    void close() {
        if (loop) pa_threaded_mainloop_stop(loop);
        if (context) {
            pa_context_disconnect(context);
            pa_context_unref(context);
            context = nullptr;
        }
        if (loop) {
            pa_threaded_mainloop_free(loop);
            loop = nullptr;
        }
    }
};

struct Query {
    Connection* connection;
    CaptureServerInfo* info;
    std::string defaultSink;
};

}  // namespace

bool queryCaptureSources(CaptureServerInfo& info, std::string& error) {
    info = CaptureServerInfo{};
    Connection c;
    if (!c.connect("Lumenvortex", error)) return false;
    Query q{&c, &info, {}};
    pa_threaded_mainloop_lock(c.loop);
    c.wait(pa_context_get_server_info(
        c.context,
        [](pa_context*, const pa_server_info* i, void* user) {
            auto* q = static_cast<Query*>(user);
            if (i) {
                q->info->serverName = i->server_name ? i->server_name : "";
                q->defaultSink = i->default_sink_name ? i->default_sink_name : "";
                q->info->defaultSource = i->default_source_name ? i->default_source_name : "";
            }
            pa_threaded_mainloop_signal(q->connection->loop, 0);
        },
        &q));
    if (!q.defaultSink.empty()) {
        c.wait(pa_context_get_sink_info_by_name(
            c.context, q.defaultSink.c_str(),
            [](pa_context*, const pa_sink_info* i, int eol, void* user) {
                auto* q = static_cast<Query*>(user);
                if (!eol && i && i->monitor_source_name) q->info->defaultMonitor = i->monitor_source_name;
                pa_threaded_mainloop_signal(q->connection->loop, 0);
            },
            &q));
    }
    c.wait(pa_context_get_source_info_list(
        c.context,
        [](pa_context*, const pa_source_info* i, int eol, void* user) {
            auto* q = static_cast<Query*>(user);
            if (!eol && i) {
                CaptureSource s;
                s.name = i->name ? i->name : "";
                s.description = i->description ? i->description : s.name;
                s.monitor = i->monitor_of_sink != PA_INVALID_INDEX;
                q->info->sources.push_back(std::move(s));
            }
            pa_threaded_mainloop_signal(q->connection->loop, 0);
        },
        &q));
    pa_threaded_mainloop_unlock(c.loop);
    return true;
}

struct CaptureStream::Impl {
    Connection connection;
    pa_stream* stream = nullptr;
    Sink sink;
    std::vector<unsigned char> partial;   // bytes of a frame split between two reads
    std::atomic<bool> failed{false};
    mutable std::mutex errorMutex;
    std::string error;

    void setError(const std::string& e) {
        std::lock_guard<std::mutex> lock(errorMutex);
        error = e;
        failed = true;
    }

    static void streamState(pa_stream* s, void* user) {
        auto* self = static_cast<Impl*>(user);
        pa_stream_state_t st = pa_stream_get_state(s);
        if (st == PA_STREAM_FAILED)
            self->setError(std::string("capture stopped: ") +
                           pa_strerror(pa_context_errno(self->connection.context)));
        pa_threaded_mainloop_signal(self->connection.loop, 0);
    }

    static void streamRead(pa_stream* s, size_t, void* user) {
        auto* self = static_cast<Impl*>(user);
        const void* data = nullptr;
        size_t bytes = 0;
        while (pa_stream_readable_size(s) > 0) {
            if (pa_stream_peek(s, &data, &bytes) < 0 || bytes == 0) return;
            if (data) self->deliver(static_cast<const unsigned char*>(data), bytes);
            // data == null is a hole in the stream (an overrun): nothing to hand on.
            pa_stream_drop(s);
        }
    }

    void deliver(const unsigned char* bytes, size_t size) {
        if (!partial.empty()) {
            size_t need = kFrameBytes - partial.size();
            size_t take = std::min(need, size);
            partial.insert(partial.end(), bytes, bytes + take);
            bytes += take;
            size -= take;
            if (partial.size() == kFrameBytes) {
                float frame[kChannels];
                std::memcpy(frame, partial.data(), kFrameBytes);
                sink(frame, 1);
                partial.clear();
            }
        }
        size_t frames = size / kFrameBytes;
        if (frames) {
            // libpulse's buffers carry no alignment promise for floats.
            std::vector<float> aligned(frames * kChannels);
            std::memcpy(aligned.data(), bytes, frames * kFrameBytes);
            sink(aligned.data(), int(frames));
        }
        partial.insert(partial.end(), bytes + frames * kFrameBytes, bytes + size);
    }
};

CaptureStream::CaptureStream() : mImpl(std::make_unique<Impl>()) {}
CaptureStream::~CaptureStream() { stop(); }

bool CaptureStream::failed() const { return mImpl->failed; }
std::string CaptureStream::error() const {
    std::lock_guard<std::mutex> lock(mImpl->errorMutex);
    return mImpl->error;
}

bool CaptureStream::start(const std::string& sourceName, Sink sink, std::string& error) {
    stop();
    Impl& d = *mImpl;
    {
        // Cleared before the stream exists: the server may fail it as soon as it runs.
        std::lock_guard<std::mutex> lock(d.errorMutex);
        d.error.clear();
        d.failed = false;
    }
    d.sink = std::move(sink);
    if (!d.connection.connect("Lumenvortex", error)) {
        d.connection.close();
        return false;
    }
    pa_sample_spec format{};
    format.format = PA_SAMPLE_FLOAT32NE;
    format.rate = kRate;
    format.channels = kChannels;
    pa_buffer_attr attr{};
    attr.maxlength = uint32_t(-1);
    attr.fragsize = uint32_t(kRate / 100 * kFrameBytes);   // 10 ms: the picture follows closely
    attr.tlength = attr.prebuf = attr.minreq = uint32_t(-1);

    pa_threaded_mainloop_lock(d.connection.loop);
    d.stream = pa_stream_new(d.connection.context, "visualizer input", &format, nullptr);
    bool ok = d.stream != nullptr;
    if (ok) {
        pa_stream_set_state_callback(d.stream, &Impl::streamState, &d);
        pa_stream_set_read_callback(d.stream, &Impl::streamRead, &d);
        ok = pa_stream_connect_record(d.stream, sourceName.empty() ? nullptr : sourceName.c_str(), &attr,
                                      PA_STREAM_ADJUST_LATENCY) == 0;
    }
    while (ok) {
        pa_stream_state_t st = pa_stream_get_state(d.stream);
        if (st == PA_STREAM_READY) break;
        if (!PA_STREAM_IS_GOOD(st)) {
            ok = false;
            break;
        }
        pa_threaded_mainloop_wait(d.connection.loop);
    }
    if (!ok) error = "cannot capture from " + (sourceName.empty() ? std::string("the default source") : sourceName) +
                     ": " + pa_strerror(pa_context_errno(d.connection.context));
    pa_threaded_mainloop_unlock(d.connection.loop);
    if (!ok) {
        stop();
        return false;
    }
    return true;
}

void CaptureStream::stop() {
    Impl& d = *mImpl;
    if (d.connection.loop && d.stream) {
        pa_threaded_mainloop_lock(d.connection.loop);
        pa_stream_set_read_callback(d.stream, nullptr, nullptr);
        pa_stream_set_state_callback(d.stream, nullptr, nullptr);
        pa_stream_disconnect(d.stream);
        pa_stream_unref(d.stream);
        d.stream = nullptr;
        pa_threaded_mainloop_unlock(d.connection.loop);
    }
    d.connection.close();
    d.partial.clear();
}

}  // namespace lv
