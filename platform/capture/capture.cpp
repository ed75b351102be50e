// PulseAudio capture with the asynchronous API on a threaded main loop: the
// stream can be stopped at any moment, which a blocking read cannot promise.
#include "lv/capture.h"

#include <pulse/pulseaudio.h>

#include <algorithm>
#include <atomic>
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


// The stream's side runs on libpulse's thread, in its callbacks (which hold
// the loop's lock): the context, the stream on it, and after the server is
// lost a timer that tries it again. With no source named the stream records
// the default output's monitor, and the server's change events move it to
// the new default's monitor.
//
// There is one connection at a time, and one timer: a connection that fails
// (at once or later) is let go in connectionFailed() alone, which sets the
// timer; the timer alone starts the next connection. While the server stays
// away the wait between tries grows, so a server gone for good costs little.
struct CaptureStream::Impl {
    enum class Phase { Starting, Recording, StartFailed };
    static constexpr pa_usec_t kFirstRetry = 250 * PA_USEC_PER_MSEC;
    static constexpr pa_usec_t kLongestRetry = 2 * PA_USEC_PER_SEC;

    pa_threaded_mainloop* loop = nullptr;
    pa_context* context = nullptr;
    pa_stream* stream = nullptr;
    pa_time_event* retry = nullptr;
    pa_usec_t retryAfter = kFirstRetry;
    std::string named;         // the source asked for; empty: follow the default output
    std::string defaultSink;   // the output whose monitor is recorded, when following
    Phase phase = Phase::Starting;
    bool lost = false;         // the server went away; the timer looks for it
    bool stopping = false;
    Sink sink;
    std::vector<unsigned char> partial;   // bytes of a frame split between two reads
    std::atomic<bool> failed{false};

    mutable std::mutex mutex;   // what the caller's thread reads of it
    std::string error;
    std::string source, description;
    std::vector<std::string> notices;

    void setError(const std::string& e) {
        std::lock_guard<std::mutex> lock(mutex);
        error = e;
        failed = true;
    }
    void notice(const std::string& line) {
        std::lock_guard<std::mutex> lock(mutex);
        notices.push_back(line);
    }
    std::string contextError() const {
        return context ? pa_strerror(pa_context_errno(context)) : "no connection to the sound server";
    }
    void endStart(Phase p, const std::string& why) {
        if (phase != Phase::Starting) return;
        if (p == Phase::StartFailed) {
            std::lock_guard<std::mutex> lock(mutex);
            error = why;
        }
        phase = p;
        pa_threaded_mainloop_signal(loop, 0);
    }

    void connectContext();
    void connectionFailed(pa_context* c);
    void dropContext();
    void scheduleRetry();
    void followDefault();
    void record(const std::string& sourceName);
    void learnSource();

    static void contextState(pa_context* c, void* user);
    static void streamState(pa_stream* s, void* user);
    static void streamRead(pa_stream* s, size_t, void* user);
    static void streamMoved(pa_stream*, void* user) { static_cast<Impl*>(user)->learnSource(); }
    void deliver(const unsigned char* bytes, size_t size);
};

// A connect that fails at once may already have been let go from inside
// pa_context_connect (its state callback runs there); connectionFailed()
// takes the second report of it for a stale one.
void CaptureStream::Impl::connectContext() {
    if (context || stopping) return;
    context = pa_context_new(pa_threaded_mainloop_get_api(loop), "Lumenvortex");
    if (!context) {
        endStart(Phase::StartFailed, "cannot start the sound server client");
        if (phase != Phase::StartFailed) scheduleRetry();
        return;
    }
    pa_context* c = context;
    pa_context_set_state_callback(c, &Impl::contextState, this);
    if (pa_context_connect(c, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) connectionFailed(c);
}

// The one place a connection that failed, or whose server went away, is let
// go: at the start that ends start(); later the timer looks for the server.
void CaptureStream::Impl::connectionFailed(pa_context* c) {
    if (c != context) return;
    const std::string why = contextError();
    dropContext();
    if (phase == Phase::Starting) {
        endStart(Phase::StartFailed,
                 "no sound server: " + why + " (is PulseAudio or PipeWire running? PULSE_SERVER names another one)");
        return;
    }
    if (!lost && !stopping) notice("the sound server went away: capture picks up again when it is back");
    lost = true;
    scheduleRetry();
}

void CaptureStream::Impl::dropContext() {
    if (stream) {
        pa_stream_set_read_callback(stream, nullptr, nullptr);
        pa_stream_set_state_callback(stream, nullptr, nullptr);
        pa_stream_set_moved_callback(stream, nullptr, nullptr);
        pa_stream_disconnect(stream);
        pa_stream_unref(stream);
        stream = nullptr;
    }
    if (context) {
        pa_context_set_state_callback(context, nullptr, nullptr);
        pa_context_set_subscribe_callback(context, nullptr, nullptr);
        pa_context_disconnect(context);
        pa_context_unref(context);
        context = nullptr;
    }
    partial.clear();
}

void CaptureStream::Impl::scheduleRetry() {
    if (retry || stopping) return;
    pa_mainloop_api* api = pa_threaded_mainloop_get_api(loop);
    timeval when;
    pa_timeval_add(pa_gettimeofday(&when), retryAfter);
    retryAfter = std::min(retryAfter * 2, kLongestRetry);
    retry = api->time_new(
        api, &when,
        [](pa_mainloop_api* a, pa_time_event* e, const timeval*, void* user) {
            auto* self = static_cast<Impl*>(user);
            a->time_free(e);
            self->retry = nullptr;
            self->connectContext();
        },
        this);
}

void CaptureStream::Impl::contextState(pa_context* c, void* user) {
    auto* self = static_cast<Impl*>(user);
    const pa_context_state_t st = pa_context_get_state(c);
    if (c != self->context) return;
    if (st == PA_CONTEXT_READY) {
        self->retryAfter = kFirstRetry;
        if (self->named.empty()) {
            pa_context_set_subscribe_callback(
                c,
                [](pa_context*, pa_subscription_event_type_t t, uint32_t, void* u) {
                    if ((t & PA_SUBSCRIPTION_EVENT_FACILITY_MASK) == PA_SUBSCRIPTION_EVENT_SERVER)
                        static_cast<Impl*>(u)->followDefault();
                },
                self);
            if (pa_operation* op = pa_context_subscribe(c, PA_SUBSCRIPTION_MASK_SERVER, nullptr, nullptr))
                pa_operation_unref(op);
            self->defaultSink.clear();
            self->followDefault();
        } else {
            self->record(self->named);
        }
    } else if (!PA_CONTEXT_IS_GOOD(st)) {
        self->connectionFailed(c);
    }
}

// The default output's monitor, asked for at the start, on every change of
// the server's defaults and after a reconnect: recorded, or moved to.
void CaptureStream::Impl::followDefault() {
    static const auto onSink = [](pa_context*, const pa_sink_info* i, int eol, void* user) {
        auto* self = static_cast<Impl*>(user);
        if (eol || !i || !i->monitor_source_name || !self->context) return;
        self->defaultSink = i->name;
        if (!self->stream)
            self->record(i->monitor_source_name);
        else if (self->source != i->monitor_source_name)
            if (pa_operation* op = pa_context_move_source_output_by_name(
                    self->context, pa_stream_get_index(self->stream), i->monitor_source_name, nullptr, nullptr))
                pa_operation_unref(op);
    };
    auto onServer = [](pa_context* c, const pa_server_info* i, void* user) {
        auto* self = static_cast<Impl*>(user);
        const std::string sinkName = i && i->default_sink_name ? i->default_sink_name : "";
        if (sinkName.empty()) {
            // Never the default source instead: that may be a microphone.
            self->endStart(Phase::StartFailed, "the sound server has no output to capture; name a source");
            return;
        }
        if (sinkName == self->defaultSink && self->stream) return;
        if (pa_operation* op = pa_context_get_sink_info_by_name(c, sinkName.c_str(), onSink, self))
            pa_operation_unref(op);
    };
    if (!context) return;
    if (pa_operation* op = pa_context_get_server_info(context, onServer, this)) pa_operation_unref(op);
}

void CaptureStream::Impl::record(const std::string& sourceName) {
    pa_sample_spec format{};
    format.format = PA_SAMPLE_FLOAT32NE;
    format.rate = kRate;
    format.channels = kChannels;
    pa_buffer_attr attr{};
    attr.maxlength = uint32_t(-1);
    attr.fragsize = uint32_t(kRate / 100 * kFrameBytes);   // 10 ms: the picture follows closely
    attr.tlength = attr.prebuf = attr.minreq = uint32_t(-1);
    stream = pa_stream_new(context, "visualizer input", &format, nullptr);
    if (!stream) {
        endStart(Phase::StartFailed, "cannot capture from " + sourceName + ": " + contextError());
        return;
    }
    pa_stream_set_state_callback(stream, &Impl::streamState, this);
    pa_stream_set_read_callback(stream, &Impl::streamRead, this);
    pa_stream_set_moved_callback(stream, &Impl::streamMoved, this);
    // A source named by the user stays; the server must not move it elsewhere.
    const pa_stream_flags_t flags = pa_stream_flags_t(PA_STREAM_ADJUST_LATENCY | PA_STREAM_AUTO_TIMING_UPDATE |
                                                      PA_STREAM_INTERPOLATE_TIMING |
                                                      (named.empty() ? 0 : PA_STREAM_DONT_MOVE));
    if (pa_stream_connect_record(stream, sourceName.c_str(), &attr, flags) < 0)
        endStart(Phase::StartFailed, "cannot capture from " + sourceName + ": " + contextError());
}

// Where the stream records now, and what a person calls it.
void CaptureStream::Impl::learnSource() {
    if (!stream || !context) return;
    const char* name = pa_stream_get_device_name(stream);
    if (!name) return;
    auto onSource = [](pa_context*, const pa_source_info* i, int eol, void* user) {
        auto* self = static_cast<Impl*>(user);
        if (eol || !i || !i->name) return;
        const std::string text = i->description ? i->description : i->name;
        bool moved, back;
        {
            std::lock_guard<std::mutex> lock(self->mutex);
            moved = !self->source.empty() && self->source != i->name && !self->lost;
            back = self->lost;
            self->source = i->name;
            self->description = text;
        }
        if (moved) self->notice("capture follows the output: " + text);
        if (back) self->notice("the sound server is back: capture goes on from " + text);
        self->lost = false;
        self->endStart(Phase::Recording, "");
    };
    if (pa_operation* op = pa_context_get_source_info_by_name(context, name, onSource, this)) pa_operation_unref(op);
}

void CaptureStream::Impl::streamState(pa_stream* s, void* user) {
    auto* self = static_cast<Impl*>(user);
    const pa_stream_state_t st = pa_stream_get_state(s);
    if (st == PA_STREAM_READY) {
        self->learnSource();
    } else if (st == PA_STREAM_FAILED || st == PA_STREAM_TERMINATED) {
        // A lost server fails its context too, and is taken up there.
        if (!self->context || pa_context_get_state(self->context) != PA_CONTEXT_READY) return;
        const std::string why = "capture from " + (self->source.empty() ? self->named : self->source) +
                                " stopped: " + self->contextError();
        if (self->phase == Phase::Starting)
            self->endStart(Phase::StartFailed, why);
        else
            self->setError(why);
    }
}

void CaptureStream::Impl::streamRead(pa_stream* s, size_t, void* user) {
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

void CaptureStream::Impl::deliver(const unsigned char* bytes, size_t size) {
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

CaptureStream::CaptureStream() : mImpl(std::make_unique<Impl>()) {}
CaptureStream::~CaptureStream() { stop(); }

bool CaptureStream::failed() const { return mImpl->failed; }
std::string CaptureStream::error() const {
    std::lock_guard<std::mutex> lock(mImpl->mutex);
    return mImpl->error;
}

std::string CaptureStream::sourceName() const {
    std::lock_guard<std::mutex> lock(mImpl->mutex);
    return mImpl->source;
}

std::string CaptureStream::sourceDescription() const {
    std::lock_guard<std::mutex> lock(mImpl->mutex);
    return mImpl->description;
}

bool CaptureStream::notice(std::string& out) {
    std::lock_guard<std::mutex> lock(mImpl->mutex);
    if (mImpl->notices.empty()) return false;
    out = std::move(mImpl->notices.front());
    mImpl->notices.erase(mImpl->notices.begin());
    return true;
}

long long CaptureStream::latencyUs() {
    Impl& d = *mImpl;
    if (!d.loop) return -1;
    pa_threaded_mainloop_lock(d.loop);
    pa_usec_t usec = 0;
    int negative = 0;
    const bool known = d.stream && pa_stream_get_latency(d.stream, &usec, &negative) == 0;
    pa_threaded_mainloop_unlock(d.loop);
    return known ? (negative ? 0 : (long long)usec) : -1;
}

bool CaptureStream::start(const std::string& sourceName, Sink sink, std::string& error) {
    stop();
    Impl& d = *mImpl;
    {
        // Cleared before the stream exists: the server may fail it as soon as it runs.
        std::lock_guard<std::mutex> lock(d.mutex);
        d.error.clear();
        d.source.clear();
        d.description.clear();
        d.notices.clear();
        d.failed = false;
    }
    d.sink = std::move(sink);
    d.named = sourceName;
    d.phase = Impl::Phase::Starting;
    d.lost = d.stopping = false;
    d.loop = pa_threaded_mainloop_new();
    if (!d.loop || pa_threaded_mainloop_start(d.loop) < 0) {
        error = "cannot start the sound server client";
        stop();
        return false;
    }
    pa_threaded_mainloop_lock(d.loop);
    d.retryAfter = Impl::kFirstRetry;
    d.connectContext();
    while (d.phase == Impl::Phase::Starting) pa_threaded_mainloop_wait(d.loop);
    const bool ok = d.phase == Impl::Phase::Recording;
    pa_threaded_mainloop_unlock(d.loop);
    if (!ok) {
        error = CaptureStream::error();
        stop();
    }
    return ok;
}

void CaptureStream::stop() {
    Impl& d = *mImpl;
    if (!d.loop) return;
    pa_threaded_mainloop_lock(d.loop);
    d.stopping = true;
    if (d.retry) {
        pa_threaded_mainloop_get_api(d.loop)->time_free(d.retry);
        d.retry = nullptr;
    }
    d.dropContext();
    pa_threaded_mainloop_unlock(d.loop);
    pa_threaded_mainloop_stop(d.loop);
    pa_threaded_mainloop_free(d.loop);
    d.loop = nullptr;
}

}  // namespace lv
