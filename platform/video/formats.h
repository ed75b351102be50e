// The encoders each container is written with, the settings each takes, and
// the sound converted to what the encoder takes where that is not the
// render's own 44.1 kHz planar float.
//
//   .mp4 .mkv .mov  H.264 (x264) 4:2:0 + AAC
//   .mov alpha      ProRes 4444 (prores_ks) 4:4:4:4 10-bit + AAC
//   .webm           VP9 (libvpx) 4:2:0, 4:2:0 + alpha, + Opus at 48 kHz
//
// Used by VideoWriter only. chooseCodecs() returns false with a sentence
// that names the containers to use instead.
#pragma once

#include <string>

#include "lv/video_out.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace lv {

struct Codecs {
    const char* video = nullptr;   // the encoder's name
    AVCodecID videoId = AV_CODEC_ID_NONE;
    AVPixelFormat pixels = AV_PIX_FMT_NONE;
    AVCodecID audio = AV_CODEC_ID_NONE;
    const char* label = "";        // for messages: "H.264", "VP9", "ProRes 4444"
    bool alpha = false;
};

bool chooseCodecs(const AVOutputFormat* format, bool alpha, Codecs& out, std::string& error);

// The encoder's options: quality, speed and a key frame every two seconds.
void setVideoSettings(const Codecs& codecs, const VideoOptions& options, AVCodecContext* video,
                      AVDictionary** settings);

// 44.1 kHz planar stereo float in, the encoder's rate and sample format out,
// through FFmpeg's resampler when they differ (Opus takes 48 kHz only).
class AudioConverter {
public:
    ~AudioConverter();
    bool open(const AVCodecContext* encoder);
    // Appends `count` frames to `fifo`, converted; false when out of memory.
    bool write(const float* left, const float* right, int count, AVAudioFifo* fifo);
    // What the resampler still holds, at the end.
    bool flush(AVAudioFifo* fifo);

private:
    bool push(const uint8_t** in, int count, AVAudioFifo* fifo);
    SwrContext* mSwr = nullptr;
    int mOutRate = 0;
    AVSampleFormat mOutFormat = AV_SAMPLE_FMT_NONE;
};

// Planar and rgb pixels converted by swscale, for the formats the fast
// 4:2:0 converter does not write (4:4:4 10-bit, alpha).
// `cache` keeps the scaler between calls (sws_freeContext it at the end).
bool convertWithSwscale(const unsigned char* rgba, long stride, int width, int height, AVFrame* frame,
                        SwsContext** cache);

}  // namespace lv
