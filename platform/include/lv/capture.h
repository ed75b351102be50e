/* Live sound in: what the system plays, read from a PulseAudio source (the
 * monitor of a sink) through libpulse, as 44.1 kHz stereo float. Works the
 * same against PipeWire's pulse server.
 *
 * The player's `--capture` and `--list-sources` use it; the spectrum server
 * can too. queryCaptureSources lists the server's sources and names the
 * default sink's monitor; CaptureStream delivers captured frames to a sink
 * function on libpulse's thread, in chunks of about 10 ms.
 *
 * A stream started without a source name records the monitor of the default
 * output, and follows the server's default when the user picks another
 * output (it never falls back to the default source, which may be a
 * microphone); a named source stays. When the server goes away the stream
 * tries it again every quarter second and goes on when it is back; notice()
 * hands out a sentence for each of these, once.
 *
 * Failures: both return false with `error` set when no server answers ("no
 * sound server: Connection refused (is PulseAudio or PipeWire running?)") or
 * the source cannot be recorded. A stream whose named source dies while
 * running stops calling the sink and reports failed().
 */
#pragma once

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace lv {

struct CaptureSource {
    std::string name;          // what --capture takes
    std::string description;   // what a person reads
    bool monitor = false;      // the sound of a sink (an output), not a microphone
};

struct CaptureServerInfo {
    std::string serverName;
    std::string defaultMonitor;   // the default sink's monitor; empty without sinks
    std::string defaultSource;
    std::vector<CaptureSource> sources;
};

bool queryCaptureSources(CaptureServerInfo& info, std::string& error);

class CaptureStream {
public:
    // Called on libpulse's thread with interleaved stereo frames.
    using Sink = std::function<void(const float* frames, int count)>;

    CaptureStream();
    ~CaptureStream();
    CaptureStream(const CaptureStream&) = delete;
    CaptureStream& operator=(const CaptureStream&) = delete;

    // `sourceName` empty: the default output's monitor, followed.
    bool start(const std::string& sourceName, Sink sink, std::string& error);
    void stop();
    bool failed() const;
    std::string error() const;
    // The source recorded now, and its description ("Monitor of Speakers").
    std::string sourceName() const;
    std::string sourceDescription() const;
    // The next sentence about a move or a reconnect, in order.
    bool notice(std::string& out);
    // How long ago the newest captured frame sounded, as the server reckons
    // it, in microseconds; -1 unknown.
    long long latencyUs();

    struct Impl;

private:
    std::unique_ptr<Impl> mImpl;
};

}  // namespace lv
