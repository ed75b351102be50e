/* The sound every platform layer moves: 44.1 kHz, two channels, interleaved
 * float samples from -1 to 1 (16-bit PCM in WAV files). Decoding resamples
 * to it, the sound device and the monitor capture are opened in it, and the
 * video and WAV writers take it. The one home of these numbers: the audio
 * pipeline's constants (audio/include/audio_constants.h) are these.
 */
#ifndef LV_SAMPLE_FORMAT_H
#define LV_SAMPLE_FORMAT_H

namespace lv {

constexpr int kSampleRate = 44100;
constexpr int kSampleChannels = 2;

}  // namespace lv

#endif
