// H.264 + AAC into a container, over libavcodec / libavformat / libswscale.
#include <algorithm>
#include <cstring>

#include "lv/video_out.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>
}

namespace lv {

namespace {

constexpr int kRate = 44100;

std::string avError(int code) {
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buffer, sizeof buffer);
    return buffer;
}

}  // namespace

struct VideoWriter::Impl {
    std::string path;
    VideoOptions options;
    AVFormatContext* oc = nullptr;
    AVCodecContext* video = nullptr;
    AVCodecContext* audio = nullptr;
    AVStream* videoStream = nullptr;
    AVStream* audioStream = nullptr;
    SwsContext* sws = nullptr;
    AVFrame* yuv = nullptr;
    AVFrame* audioFrame = nullptr;
    AVAudioFifo* fifo = nullptr;
    AVPacket* packet = nullptr;
    long long videoPts = 0;
    long long audioPts = 0;
    bool headerWritten = false;
    bool broken = false;

    ~Impl() { release(); }

    void release() {
        if (oc && !(oc->oformat->flags & AVFMT_NOFILE) && oc->pb) avio_closep(&oc->pb);
        avformat_free_context(oc);
        oc = nullptr;
        avcodec_free_context(&video);
        avcodec_free_context(&audio);
        sws_freeContext(sws);
        sws = nullptr;
        av_frame_free(&yuv);
        av_frame_free(&audioFrame);
        if (fifo) av_audio_fifo_free(fifo);
        fifo = nullptr;
        av_packet_free(&packet);
    }

    bool fail(std::string& error, const std::string& what) {
        error = what;
        broken = true;
        return false;
    }

    // Sends one frame (null: flush) and writes every packet that comes out.
    bool encode(AVCodecContext* ctx, AVStream* st, AVFrame* frame, std::string& error) {
        int rc = avcodec_send_frame(ctx, frame);
        if (rc < 0 && rc != AVERROR_EOF) return fail(error, "cannot encode " + path + ": " + avError(rc));
        for (;;) {
            rc = avcodec_receive_packet(ctx, packet);
            if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
            if (rc < 0) return fail(error, "cannot encode " + path + ": " + avError(rc));
            av_packet_rescale_ts(packet, ctx->time_base, st->time_base);
            packet->stream_index = st->index;
            rc = av_interleaved_write_frame(oc, packet);
            if (rc < 0) return fail(error, "cannot write " + path + ": " + avError(rc));
        }
    }

    // Encodes whole AAC frames from the FIFO; with `flush` the short rest too.
    bool drainAudio(bool flush, std::string& error) {
        int frameSize = audio->frame_size > 0 ? audio->frame_size : 1024;
        while (av_audio_fifo_size(fifo) >= frameSize || (flush && av_audio_fifo_size(fifo) > 0)) {
            int n = std::min(frameSize, av_audio_fifo_size(fifo));
            int rc = av_frame_make_writable(audioFrame);
            if (rc < 0) return fail(error, "cannot encode " + path + ": " + avError(rc));
            audioFrame->nb_samples = n;
            if (av_audio_fifo_read(fifo, reinterpret_cast<void**>(audioFrame->data), n) != n)
                return fail(error, "cannot encode " + path + ": sound buffer underrun");
            audioFrame->pts = audioPts;
            audioPts += n;
            if (!encode(audio, audioStream, audioFrame, error)) return false;
        }
        return true;
    }
};

VideoWriter::VideoWriter() : mImpl(std::make_unique<Impl>()) {}
VideoWriter::~VideoWriter() {
    std::string ignored;
    if (mImpl->headerWritten && !mImpl->broken) close(ignored);
}

long long VideoWriter::framesWritten() const { return mImpl->videoPts; }

bool VideoWriter::open(const std::string& path, const VideoOptions& options, std::string& error) {
    mImpl = std::make_unique<Impl>();
    Impl& d = *mImpl;
    d.path = path;
    d.options = options;
    if (options.width <= 0 || options.height <= 0 || options.width % 2 || options.height % 2)
        return d.fail(error, "cannot write " + path + ": width and height must be even for H.264 video (got " +
                                 std::to_string(options.width) + "x" + std::to_string(options.height) + ")");
    if (options.fps <= 0) return d.fail(error, "cannot write " + path + ": the frame rate must be positive");

    int rc = avformat_alloc_output_context2(&d.oc, nullptr, nullptr, path.c_str());
    if (rc < 0 || !d.oc)
        return d.fail(error, "cannot write " + path + ": unknown container; name the file .mp4, .mkv or .mov");
    d.packet = av_packet_alloc();

    // Video: libx264 if FFmpeg was built with it, else its own H.264 encoder.
    const AVCodec* vcodec = avcodec_find_encoder_by_name("libx264");
    if (!vcodec) vcodec = avcodec_find_encoder(AV_CODEC_ID_H264);
    if (!vcodec) return d.fail(error, "cannot write " + path + ": this FFmpeg has no H.264 encoder (install libx264)");
    d.videoStream = avformat_new_stream(d.oc, nullptr);
    d.video = avcodec_alloc_context3(vcodec);
    d.video->width = options.width;
    d.video->height = options.height;
    d.video->time_base = AVRational{1, options.fps};
    d.video->framerate = AVRational{options.fps, 1};
    d.video->pix_fmt = AV_PIX_FMT_YUV420P;
    d.video->gop_size = options.fps * 2;   // a key frame every two seconds for seeking
    d.video->color_range = AVCOL_RANGE_MPEG;
    d.video->colorspace = AVCOL_SPC_BT709;
    d.video->color_primaries = AVCOL_PRI_BT709;
    d.video->color_trc = AVCOL_TRC_BT709;
    if (d.oc->oformat->flags & AVFMT_GLOBALHEADER) d.video->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    AVDictionary* vopts = nullptr;
    if (std::strcmp(vcodec->name, "libx264") == 0) {
        av_dict_set(&vopts, "preset", options.preset.c_str(), 0);
        av_dict_set(&vopts, "crf", std::to_string(options.crf).c_str(), 0);
    }
    rc = avcodec_open2(d.video, vcodec, &vopts);
    av_dict_free(&vopts);
    if (rc < 0) return d.fail(error, "cannot write " + path + ": the H.264 encoder refused the settings (" +
                                         avError(rc) + ")");
    avcodec_parameters_from_context(d.videoStream->codecpar, d.video);
    d.videoStream->time_base = d.video->time_base;
    d.videoStream->avg_frame_rate = d.video->framerate;

    // Sound: FFmpeg's AAC encoder, planar float.
    const AVCodec* acodec = avcodec_find_encoder(AV_CODEC_ID_AAC);
    if (!acodec) return d.fail(error, "cannot write " + path + ": this FFmpeg has no AAC encoder");
    d.audioStream = avformat_new_stream(d.oc, nullptr);
    d.audio = avcodec_alloc_context3(acodec);
    d.audio->sample_rate = kRate;
    d.audio->sample_fmt = AV_SAMPLE_FMT_FLTP;
    AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    av_channel_layout_copy(&d.audio->ch_layout, &stereo);
    d.audio->bit_rate = options.audioBitRate;
    d.audio->time_base = AVRational{1, kRate};
    if (d.oc->oformat->flags & AVFMT_GLOBALHEADER) d.audio->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    rc = avcodec_open2(d.audio, acodec, nullptr);
    if (rc < 0) return d.fail(error, "cannot write " + path + ": the AAC encoder refused the settings (" +
                                         avError(rc) + ")");
    avcodec_parameters_from_context(d.audioStream->codecpar, d.audio);
    d.audioStream->time_base = d.audio->time_base;

    for (const auto& [key, value] : options.metadata) av_dict_set(&d.oc->metadata, key.c_str(), value.c_str(), 0);

    d.yuv = av_frame_alloc();
    d.yuv->format = AV_PIX_FMT_YUV420P;
    d.yuv->width = options.width;
    d.yuv->height = options.height;
    d.audioFrame = av_frame_alloc();
    d.audioFrame->format = AV_SAMPLE_FMT_FLTP;
    d.audioFrame->sample_rate = kRate;
    av_channel_layout_copy(&d.audioFrame->ch_layout, &stereo);
    d.audioFrame->nb_samples = d.audio->frame_size > 0 ? d.audio->frame_size : 1024;
    d.fifo = av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, 2, 4096);
    if (av_frame_get_buffer(d.yuv, 0) < 0 || av_frame_get_buffer(d.audioFrame, 0) < 0 || !d.fifo)
        return d.fail(error, "cannot write " + path + ": out of memory");

    d.sws = sws_getContext(options.width, options.height, AV_PIX_FMT_RGBA, options.width, options.height,
                           AV_PIX_FMT_YUV420P, SWS_BICUBIC | SWS_ACCURATE_RND, nullptr, nullptr, nullptr);
    if (!d.sws) return d.fail(error, "cannot write " + path + ": cannot convert RGBA to YUV 4:2:0");
    // BT.709 limited range, as the streams are tagged.
    const int* coefficients = sws_getCoefficients(SWS_CS_ITU709);
    sws_setColorspaceDetails(d.sws, coefficients, 1, coefficients, 0, 0, 1 << 16, 1 << 16);

    if (!(d.oc->oformat->flags & AVFMT_NOFILE)) {
        rc = avio_open(&d.oc->pb, path.c_str(), AVIO_FLAG_WRITE);
        if (rc < 0) return d.fail(error, "cannot write " + path + ": " + avError(rc));
    }
    AVDictionary* mopts = nullptr;
    // The index up front lets players start before the whole file arrives.
    av_dict_set(&mopts, "movflags", "+faststart", 0);
    rc = avformat_write_header(d.oc, &mopts);
    av_dict_free(&mopts);
    if (rc < 0) return d.fail(error, "cannot write " + path + ": " + avError(rc));
    d.headerWritten = true;
    return true;
}

bool VideoWriter::writeFrame(const unsigned char* rgba, std::string& error) {
    Impl& d = *mImpl;
    if (d.broken || !d.headerWritten) return d.fail(error, "cannot write " + d.path + ": the video is not open");
    int rc = av_frame_make_writable(d.yuv);
    if (rc < 0) return d.fail(error, "cannot encode " + d.path + ": " + avError(rc));
    const uint8_t* src[1] = {rgba};
    int srcStride[1] = {d.options.width * 4};
    sws_scale(d.sws, src, srcStride, 0, d.options.height, d.yuv->data, d.yuv->linesize);
    d.yuv->pts = d.videoPts++;
    return d.encode(d.video, d.videoStream, d.yuv, error);
}

bool VideoWriter::writeAudio(const float* frames, size_t count, std::string& error) {
    Impl& d = *mImpl;
    if (d.broken || !d.headerWritten) return d.fail(error, "cannot write " + d.path + ": the video is not open");
    std::vector<float> left(count), right(count);
    for (size_t i = 0; i < count; ++i) {
        left[i] = frames[2 * i];
        right[i] = frames[2 * i + 1];
    }
    void* planes[2] = {left.data(), right.data()};
    if (av_audio_fifo_write(d.fifo, planes, int(count)) < int(count))
        return d.fail(error, "cannot encode " + d.path + ": out of memory");
    return d.drainAudio(false, error);
}

bool VideoWriter::close(std::string& error) {
    Impl& d = *mImpl;
    bool ok = !d.broken && d.headerWritten;
    if (ok) ok = d.drainAudio(true, error);
    if (ok) ok = d.encode(d.audio, d.audioStream, nullptr, error);
    if (ok) ok = d.encode(d.video, d.videoStream, nullptr, error);
    if (ok) {
        int rc = av_write_trailer(d.oc);
        if (rc < 0) ok = d.fail(error, "cannot finish " + d.path + ": " + avError(rc));
    }
    if (!ok && error.empty()) error = "cannot finish " + d.path;
    d.headerWritten = false;
    d.release();
    return ok;
}

}  // namespace lv
