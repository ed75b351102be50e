#include "formats.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>

#include "lv/sample_format.h"
}

namespace lv {

bool chooseCodecs(const AVOutputFormat* format, bool alpha, Codecs& out, std::string& error) {
    const std::string name = format->name;
    if (name == "webm") {
        out = {"libvpx-vp9", AV_CODEC_ID_VP9, alpha ? AV_PIX_FMT_YUVA420P : AV_PIX_FMT_YUV420P, AV_CODEC_ID_OPUS,
               "VP9", alpha};
    } else if (alpha && name == "mov") {
        out = {"prores_ks", AV_CODEC_ID_PRORES, AV_PIX_FMT_YUVA444P10LE, AV_CODEC_ID_AAC, "ProRes 4444", true};
    } else if (alpha) {
        error = "a ." + std::string(format->extensions ? format->extensions : name.c_str()) +
                " file has no room for transparency: name the file .webm (VP9 with alpha) or .mov (ProRes 4444), "
                "or use --frames for PNGs with alpha";
        return false;
    } else {
        out = {"libx264", AV_CODEC_ID_H264, AV_PIX_FMT_YUV420P, AV_CODEC_ID_AAC, "H.264", false};
    }
    // WebM, for one, takes only VP8/VP9/AV1 with Vorbis/Opus: say so before
    // the muxer's bare "Invalid argument" at the header.
    if (avformat_query_codec(format, out.videoId, FF_COMPLIANCE_NORMAL) != 1 ||
        avformat_query_codec(format, out.audio, FF_COMPLIANCE_NORMAL) != 1) {
        error = "a ." + name + " file cannot hold " + out.label + " video with " +
                (out.audio == AV_CODEC_ID_OPUS ? "Opus" : "AAC") + " sound; name the file .mp4, .mkv, .mov or .webm";
        return false;
    }
    return true;
}

void setVideoSettings(const Codecs& codecs, const VideoOptions& options, AVCodecContext* video,
                      AVDictionary** settings) {
    video->gop_size = options.fps * 2;   // a key frame every two seconds for seeking
    const std::string crf = std::to_string(options.crf);
    if (codecs.videoId == AV_CODEC_ID_H264 && options.live) {
        // Streaming services want a key frame every two seconds exactly
        // (no extra ones at scene cuts) and a rate a viewer's link can hold.
        av_dict_set(settings, "preset", options.preset.c_str(), 0);
        av_dict_set(settings, "tune", "zerolatency", 0);
        av_dict_set(settings, "x264-params", "scenecut=0", 0);
        video->keyint_min = video->gop_size;
        const int64_t bound = int64_t(options.maxKbps) * 1000;
        video->rc_max_rate = bound;
        video->rc_buffer_size = int(std::min<int64_t>(2 * bound, INT32_MAX));
        if (options.crfWithinBound)
            av_dict_set(settings, "crf", crf.c_str(), 0);
        else
            video->bit_rate = bound;
    } else if (codecs.videoId == AV_CODEC_ID_H264) {
        av_dict_set(settings, "preset", options.preset.c_str(), 0);
        av_dict_set(settings, "crf", crf.c_str(), 0);
    } else if (codecs.videoId == AV_CODEC_ID_VP9) {
        // Constant quality (a bit rate of 0 lets crf alone decide), and the
        // speed of libvpx's real-time mode, tiles and rows on every core:
        // its "good" mode is several times slower than the drawing.
        video->bit_rate = 0;
        av_dict_set(settings, "crf", crf.c_str(), 0);
        av_dict_set(settings, "deadline", "realtime", 0);
        av_dict_set(settings, "cpu-used", "8", 0);
        av_dict_set(settings, "row-mt", "1", 0);
        video->thread_count = 0;
    } else if (codecs.videoId == AV_CODEC_ID_PRORES) {
        av_dict_set(settings, "profile", "4444", 0);
        av_dict_set(settings, "vendor", "apl0", 0);   // what editors expect of a 4444 file's alpha
        video->thread_count = 0;
    }
}

AudioConverter::~AudioConverter() { swr_free(&mSwr); }

bool AudioConverter::open(const AVCodecContext* encoder) {
    mOutRate = encoder->sample_rate;
    mOutFormat = encoder->sample_fmt;
    if (mOutRate == kSampleRate && mOutFormat == AV_SAMPLE_FMT_FLTP) return true;
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    if (swr_alloc_set_opts2(&mSwr, &stereo, mOutFormat, mOutRate, &stereo, AV_SAMPLE_FMT_FLTP, kSampleRate, 0,
                            nullptr) < 0)
        return false;
    return swr_init(mSwr) >= 0;
}

bool AudioConverter::push(const uint8_t** in, int count, AVAudioFifo* fifo) {
    const int room = swr_get_out_samples(mSwr, count);
    if (room < 0) return false;
    std::vector<uint8_t*> planes(2, nullptr);
    if (room == 0) return true;
    if (av_samples_alloc(planes.data(), nullptr, 2, room, mOutFormat, 0) < 0) return false;
    const int made = swr_convert(mSwr, planes.data(), room, in, count);
    const bool ok = made >= 0 && av_audio_fifo_write(fifo, reinterpret_cast<void**>(planes.data()), made) == made;
    av_freep(&planes[0]);
    return ok;
}

bool AudioConverter::write(const float* left, const float* right, int count, AVAudioFifo* fifo) {
    const uint8_t* in[2] = {reinterpret_cast<const uint8_t*>(left), reinterpret_cast<const uint8_t*>(right)};
    if (!mSwr) return av_audio_fifo_write(fifo, const_cast<void**>(reinterpret_cast<const void* const*>(in)), count) == count;
    return push(in, count, fifo);
}

bool AudioConverter::flush(AVAudioFifo* fifo) { return !mSwr || push(nullptr, 0, fifo); }

bool convertWithSwscale(const unsigned char* rgba, long stride, int width, int height, AVFrame* frame,
                        SwsContext** cache) {
    *cache = sws_getCachedContext(*cache, width, height, AV_PIX_FMT_RGBA, width, height,
                                  AVPixelFormat(frame->format), SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT,
                                  nullptr, nullptr, nullptr);
    if (!*cache) return false;
    // Full-range RGB in, BT.709 limited range out, as the stream is tagged.
    sws_setColorspaceDetails(*cache, sws_getCoefficients(SWS_CS_ITU709), 1, sws_getCoefficients(SWS_CS_ITU709), 0, 0,
                             1 << 16, 1 << 16);
    // Row r at rgba + r * stride, bottom-up rows (a negative stride) too.
    const uint8_t* src[1] = {rgba};
    const int srcStride[1] = {int(stride)};
    return sws_scale(*cache, src, srcStride, 0, height, frame->data, frame->linesize) == height;
}

void lightToStraightAlpha(const unsigned char* rgba, long stride, int width, int height, unsigned char* out) {
    for (int y = 0; y < height; ++y) {
        const unsigned char* in = rgba + y * stride;
        unsigned char* o = out + size_t(y) * size_t(width) * 4;
        for (int x = 0; x < width; ++x, in += 4, o += 4) {
            const int a = std::max({in[0], in[1], in[2]});
            o[3] = static_cast<unsigned char>(a);
            for (int k = 0; k < 3; ++k) o[k] = a ? static_cast<unsigned char>((in[k] * 255 + a / 2) / a) : 0;
        }
    }
}

}  // namespace lv
