#include "lv/audio_out.h"

#include <SDL.h>
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <vector>

#include "lv/sample_format.h"

namespace lv {

namespace {
constexpr int kRate = kSampleRate;
constexpr int kChannels = kSampleChannels;
// 1024 frames (23 ms) keeps the picture close to the sound without risking
// dropouts on a busy machine; the device may choose otherwise.
constexpr int kWantedBufferFrames = 1024;
// Without a sound server SDL falls back to ALSA, whose library prints a
// dozen lines of configuration errors on a machine without a sound card.
// Our one-line warning says it; theirs goes quiet, unless asked for with
// LUMENVORTEX_ALSA_ERRORS=1. SDL loads libasound itself at run time; loading
// it first here gives both the same copy.
void silentAlsaErrors(const char*, int, const char*, int, const char*, ...) {}

void quietAlsa() {
    static bool done = false;
    if (done) return;
    done = true;
    const char* wanted = std::getenv("LUMENVORTEX_ALSA_ERRORS");
    if (wanted && *wanted == '1') return;
    void* alsa = dlopen("libasound.so.2", RTLD_NOW | RTLD_LOCAL);
    if (!alsa) return;
    using Handler = void (*)(const char*, int, const char*, int, const char*, ...);
    auto setHandler = reinterpret_cast<int (*)(Handler)>(dlsym(alsa, "snd_lib_error_set_handler"));
    if (setHandler) setHandler(&silentAlsaErrors);
    // The library stays loaded: SDL uses it from here on.
}

}  // namespace

AudioOut::~AudioOut() { stop(); }

void AudioOut::deviceCallback(void* user, unsigned char* stream, int len) {
    auto* self = static_cast<AudioOut*>(user);
    self->mPull(reinterpret_cast<float*>(stream), len / int(sizeof(float) * kChannels));
}

void AudioOut::start(Pull pull, bool forceSilent) {
    stop();
    mPull = std::move(pull);
    mWarning.clear();
    mSilent = false;
    if (!forceSilent) {
        quietAlsa();
        if (SDL_InitSubSystem(SDL_INIT_AUDIO) != 0) {
            mWarning = std::string("no audio device (") + SDL_GetError() + "): playing silently";
        } else {
            mSdlAudioInited = true;
            SDL_AudioSpec want{};
            SDL_AudioSpec have{};
            want.freq = kRate;
            want.format = AUDIO_F32SYS;
            want.channels = kChannels;
            want.samples = kWantedBufferFrames;
            want.callback = &AudioOut::deviceCallback;
            want.userdata = this;
            // Rate, format and channels are ours to fix (SDL converts); the
            // buffer size is the device's to choose.
            mDevice = SDL_OpenAudioDevice(nullptr, 0, &want, &have, SDL_AUDIO_ALLOW_SAMPLES_CHANGE);
            if (mDevice == 0) {
                mWarning = std::string("no audio device (") + SDL_GetError() + "): playing silently";
                SDL_QuitSubSystem(SDL_INIT_AUDIO);
                mSdlAudioInited = false;
            } else {
                mBufferFrames = have.samples;
                // One buffer plays while the next is filled, and the sound
                // server keeps about one more. (Capped: the player keeps
                // 0.7 s of what it played for the picture to look back on.)
                mLatencyFrames = std::min(2 * int(have.samples), 16384);
                mDeviceName = SDL_GetCurrentAudioDriver() ? SDL_GetCurrentAudioDriver() : "";
                SDL_PauseAudioDevice(mDevice, mPaused ? 1 : 0);
                return;
            }
        }
    } else {
        mWarning = "audio output off: playing silently";
    }
    mSilent = true;
    mBufferFrames = kWantedBufferFrames;
    mLatencyFrames = 0;
    mStopSilent = false;
    mSilentThread = std::thread(&AudioOut::silentLoop, this);
}

void AudioOut::silentLoop() {
    using clock = std::chrono::steady_clock;
    std::vector<float> scratch(size_t(mBufferFrames) * kChannels);
    auto next = clock::now();
    const auto period = std::chrono::duration_cast<clock::duration>(std::chrono::duration<double>(
        double(mBufferFrames) / kRate));
    while (!mStopSilent) {
        if (!mPaused) mPull(scratch.data(), mBufferFrames);
        next += period;
        auto now = clock::now();
        if (next < now - 4 * period) next = now;   // woke up late (suspend): don't race to catch up
        std::this_thread::sleep_until(next);
    }
}

void AudioOut::setPaused(bool paused) {
    mPaused = paused;
    if (mDevice) SDL_PauseAudioDevice(mDevice, paused ? 1 : 0);
}

void AudioOut::stop() {
    if (mDevice) {
        SDL_CloseAudioDevice(mDevice);
        mDevice = 0;
    }
    if (mSdlAudioInited) {
        SDL_QuitSubSystem(SDL_INIT_AUDIO);
        mSdlAudioInited = false;
    }
    if (mSilentThread.joinable()) {
        mStopSilent = true;
        mSilentThread.join();
    }
}

}  // namespace lv
