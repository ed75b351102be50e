/* Sound out: 44.1 kHz stereo float to the system's audio device through SDL2
 * (PulseAudio, PipeWire or ALSA underneath, whichever SDL finds).
 *
 * The player's playback calls start() once with a pull function; the device
 * then calls it from its own thread whenever it wants `frames` more frames,
 * and the pull fills `out` (silence where it has nothing). latencyFrames()
 * says how long a frame handed over now takes to reach the speakers, so the
 * picture can show what is heard rather than what was just decoded.
 *
 * Failure: when no device can be opened, start() still succeeds in silence:
 * a thread of ours pulls at the real-time rate and drops the samples, so the
 * music advances and the visuals run as if it played. silent() is then true
 * and warning() says why ("no audio device (...): playing silently").
 */
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <thread>

namespace lv {

class AudioOut {
public:
    // Called on the device's thread. `out` holds frames * 2 floats.
    using Pull = std::function<void(float* out, int frames)>;

    AudioOut() = default;
    ~AudioOut();
    AudioOut(const AudioOut&) = delete;
    AudioOut& operator=(const AudioOut&) = delete;

    // Starts playing (or the silent stand-in). `forceSilent` skips the device.
    void start(Pull pull, bool forceSilent = false);
    void stop();
    void setPaused(bool paused);

    bool silent() const { return mSilent; }
    const std::string& warning() const { return mWarning; }
    const std::string& deviceName() const { return mDeviceName; }
    int bufferFrames() const { return mBufferFrames; }
    // Frames between handing a buffer to the device and hearing its start.
    int latencyFrames() const { return mLatencyFrames; }

private:
    static void deviceCallback(void* user, unsigned char* stream, int len);
    void silentLoop();

    Pull mPull;
    unsigned mDevice = 0;
    bool mSdlAudioInited = false;
    bool mSilent = false;
    std::string mWarning;
    std::string mDeviceName;
    int mBufferFrames = 0;
    int mLatencyFrames = 0;
    std::thread mSilentThread;
    std::atomic<bool> mStopSilent{false};
    std::atomic<bool> mPaused{false};
};

}  // namespace lv
