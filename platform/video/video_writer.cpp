// Pictures and sound into a container, over libavcodec / libavformat.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "lv/file_kind.h"
#include "lv/image_format.h"
#include "lv/rgba_to_yuv.h"
#include "lv/video_out.h"
#include "formats.h"
#include "part_file.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswscale/swscale.h>

#include "lv/sample_format.h"
}

#include <cstdint>   // before x264.h, which wants it
#include <x264.h>

namespace lv {

namespace {

constexpr int kRate = kSampleRate;

// How far one stream may run ahead of another in the muxer's queue. An
// MP4's cover is a stream that sends one picture and no more, so the queue
// would otherwise hold every packet for FFmpeg's default of ten seconds,
// and a full disk would show that late.
constexpr int64_t kMaxInterleave = AV_TIME_BASE;

// Where a container keeps a cover picture: an attached picture in the
// MP4 family (the mov muxer writes it as the iTunes 'covr' item), a file
// attachment in Matroska; QuickTime MOV, WebM and the rest keep none.
enum class CoverPlace { None, AttachedPicture, Attachment };

CoverPlace coverPlace(const AVOutputFormat* format) {
    const std::string name = format->name;
    if (name == "mp4" || name == "ipod") return CoverPlace::AttachedPicture;
    if (name == "matroska") return CoverPlace::Attachment;
    return CoverPlace::None;
}

std::string avError(int code) {
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buffer, sizeof buffer);
    return buffer;
}

constexpr int kMaxCoverSide = 65535;

// The cover's size from its header: the mov muxer needs the dimensions of an
// attached picture. Never decoded here, so a picture that claims a huge
// size in a few bytes costs nothing; the bytes go out as they came in.

bool pictureSize(const std::vector<unsigned char>& b, ImageFormat format, int& width, int& height) {
    auto be16 = [&](size_t at) { return int(b[at]) << 8 | int(b[at + 1]); };
    if (format == ImageFormat::Png) {   // the IHDR chunk comes first
        if (b.size() < 24 || std::memcmp(&b[12], "IHDR", 4) != 0 || b[16] & 0x80 || b[20] & 0x80) return false;
        width = be16(16) << 16 | be16(18);
        height = be16(20) << 16 | be16(22);
        return width > 0 && height > 0;
    }
    // JPEG: the segments up to the frame header (SOF0..SOF15 but DHT, JPG, DAC).
    for (size_t at = 2; at + 4 <= b.size();) {
        if (b[at] != 0xFF) return false;
        const int marker = b[at + 1];
        if (marker == 0xFF) {   // fill byte
            ++at;
            continue;
        }
        if (marker == 0x01 || (marker >= 0xD0 && marker <= 0xD8)) {   // no length
            at += 2;
            continue;
        }
        if (marker == 0xDA || marker == 0xD9) return false;   // the scan began with no frame header
        const size_t length = size_t(be16(at + 2));
        if (marker >= 0xC0 && marker <= 0xCF && marker != 0xC4 && marker != 0xC8 && marker != 0xCC) {
            if (length < 7 || at + 9 > b.size()) return false;
            height = be16(at + 5);
            width = be16(at + 7);
            return width > 0 && height > 0;
        }
        at += 2 + length;
    }
    return false;
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
    Codecs codecs;
    AudioConverter sound;   // 44.1 kHz planar float to the encoder's
    bool framesMade = false;   // convert()'s go-ahead
    std::unique_ptr<VideoPicture> picture;   // writeFrame's
    AVFrame* audioFrame = nullptr;
    AVAudioFifo* fifo = nullptr;
    AVPacket* packet = nullptr;
    long long videoPts = 0;
    long long audioPts = 0;
    bool headerWritten = false;
    bool broken = false;
    AVStream* coverStream = nullptr;   // an attached picture, its one packet sent after the header
    std::vector<VideoChapter> chapters;
    std::vector<std::string> warnings;
    PartFile file;

    ~Impl() {
        release();
        std::string ignored;
        settle(ignored);
    }

    // The written file takes the given name once it holds a picture and
    // all was written; otherwise it is removed (one cut short has no index
    // that a player could read), and a video already under the name stays.
    bool settle(std::string& error, bool keep = true) {
        return file.settle(keep && videoPts != 0 && !broken, error);
    }

    void release() {
        if (oc && !(oc->oformat->flags & AVFMT_NOFILE) && oc->pb) avio_closep(&oc->pb);
        avformat_free_context(oc);
        oc = nullptr;
        avcodec_free_context(&video);
        avcodec_free_context(&audio);
        framesMade = false;
        picture.reset();
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

    bool outOfMemory(std::string& error) { return fail(error, "cannot write " + path + ": out of memory"); }

    void warn(const std::string& what) { warnings.push_back(path + ": " + what + "; the video is written without it"); }

    // A stream for `codec` with its encoder context; the caller sets the
    // context up and opens it.
    bool addStream(const AVCodec* codec, AVStream** stream, AVCodecContext** ctx, std::string& error) {
        *stream = avformat_new_stream(oc, nullptr);
        *ctx = avcodec_alloc_context3(codec);
        if (!*stream || !*ctx) return outOfMemory(error);
        if (oc->oformat->flags & AVFMT_GLOBALHEADER) (*ctx)->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        return true;
    }

    // The container's video encoder (formats.h); for H.264, FFmpeg's own
    // where it was built without libx264.
    bool openVideo(std::string& error) {
        const AVCodec* codec = avcodec_find_encoder_by_name(codecs.video);
        if (!codec) codec = avcodec_find_encoder(codecs.videoId);
        if (!codec)
            return fail(error, "cannot write " + path + ": this FFmpeg has no " + codecs.label + " encoder (install " +
                                   codecs.video + ")");
        if (!addStream(codec, &videoStream, &video, error)) return false;
        video->width = options.width;
        video->height = options.height;
        video->time_base = AVRational{1, options.fps};
        video->framerate = AVRational{options.fps, 1};
        video->pix_fmt = codecs.pixels;
        video->color_range = AVCOL_RANGE_MPEG;
        video->colorspace = AVCOL_SPC_BT709;
        video->color_primaries = AVCOL_PRI_BT709;
        video->color_trc = AVCOL_TRC_BT709;
        video->chroma_sample_location = AVCHROMA_LOC_CENTER;   // each chroma sample is its 2x2 block's mean
        AVDictionary* settings = nullptr;
        setVideoSettings(codecs, options, video, &settings);
        int rc = avcodec_open2(video, codec, &settings);
        av_dict_free(&settings);
        if (rc < 0)
            return fail(error, "cannot write " + path + ": the " + codecs.label + " encoder refused the settings (" +
                                   avError(rc) + ")");
        if (avcodec_parameters_from_context(videoStream->codecpar, video) < 0) return outOfMemory(error);
        videoStream->time_base = video->time_base;
        videoStream->avg_frame_rate = video->framerate;
        return true;
    }

    // FFmpeg's AAC encoder, planar float at the render's rate; or libopus,
    // which takes 48 kHz interleaved.
    bool openAudio(std::string& error) {
        const bool opus = codecs.audio == AV_CODEC_ID_OPUS;
        const AVCodec* codec = opus ? avcodec_find_encoder_by_name("libopus") : avcodec_find_encoder(codecs.audio);
        const char* label = opus ? "Opus" : "AAC";
        if (!codec) return fail(error, "cannot write " + path + ": this FFmpeg has no " + label + " encoder");
        if (!addStream(codec, &audioStream, &audio, error)) return false;
        audio->sample_rate = opus ? 48000 : kRate;
        audio->sample_fmt = opus ? AV_SAMPLE_FMT_FLT : AV_SAMPLE_FMT_FLTP;
        const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
        if (av_channel_layout_copy(&audio->ch_layout, &stereo) < 0) return outOfMemory(error);
        audio->bit_rate = options.audioBitRate;
        audio->time_base = AVRational{1, audio->sample_rate};
        int rc = avcodec_open2(audio, codec, nullptr);
        if (rc < 0)
            return fail(error, "cannot write " + path + ": the " + label + " encoder refused the settings (" +
                                   avError(rc) + ")");
        if (!sound.open(audio)) return outOfMemory(error);
        if (avcodec_parameters_from_context(audioStream->codecpar, audio) < 0) return outOfMemory(error);
        audioStream->time_base = audio->time_base;
        return true;
    }

    // The sound frame the encoder is fed from (pictures come with their
    // VideoPicture).
    bool makeFrames(std::string& error) {
        audioFrame = av_frame_alloc();
        fifo = av_audio_fifo_alloc(audio->sample_fmt, 2, 4096);
        if (!audioFrame || !fifo) return outOfMemory(error);
        audioFrame->format = audio->sample_fmt;
        audioFrame->sample_rate = audio->sample_rate;
        const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
        if (av_channel_layout_copy(&audioFrame->ch_layout, &stereo) < 0) return outOfMemory(error);
        audioFrame->nb_samples = audio->frame_size > 0 ? audio->frame_size : 1024;
        if (av_frame_get_buffer(audioFrame, 0) < 0) return outOfMemory(error);
        framesMade = true;
        return true;
    }

    // The video is written under a name of its own beside the one given,
    // which it takes only when it holds a picture (settle()): a render that
    // fails or is stopped before its first frame leaves a video already
    // there as it was. The muxer reads the file back by its name for
    // +faststart, so that is the part's name too.
    bool startFile(std::string& error) {
        if (!(oc->oformat->flags & AVFMT_NOFILE)) {
            std::string why;
            if (!file.create(path, why)) return fail(error, "cannot write " + path + ": " + why);
            av_freep(&oc->url);
            oc->url = av_strdup(("file:" + file.part).c_str());
            if (!oc->url) return outOfMemory(error);
            int rc = avio_open(&oc->pb, oc->url, AVIO_FLAG_WRITE);
            if (rc < 0) return fail(error, "cannot write " + path + ": " + avError(rc));
        }
        oc->max_interleave_delta = kMaxInterleave;
        AVDictionary* muxerOptions = nullptr;
        // The index up front lets players start before the whole file arrives.
        av_dict_set(&muxerOptions, "movflags", "+faststart", 0);
        int rc = avformat_write_header(oc, &muxerOptions);
        av_dict_free(&muxerOptions);
        if (rc < 0) return fail(error, "cannot write " + path + ": " + avError(rc));
        headerWritten = true;
        return true;
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

    // The cover as a stream of its own, added after the video and the sound
    // so that players take stream 0 for the picture to show. Everything is
    // allocated before the stream, which cannot be taken back once made.
    void addCover() {
        if (options.cover.empty()) return;
        const CoverPlace place = coverPlace(oc->oformat);
        if (place == CoverPlace::None) return;
        const ImageFormat format = sniffImageFormat(options.cover.data(), options.cover.size());
        if (format == ImageFormat::NoImage) return warn("the cover is neither JPEG nor PNG");
        const bool jpeg = format == ImageFormat::Jpeg;
        const AVCodecID id = jpeg ? AV_CODEC_ID_MJPEG : AV_CODEC_ID_PNG;
        int width = 0, height = 0;
        if (!pictureSize(options.cover, format, width, height)) return warn("the cover's header is damaged");
        // MP4 keeps a picture's size in 16 bits.
        if (width > kMaxCoverSide || height > kMaxCoverSide)
            return warn("the cover is too large: " + std::to_string(width) + " x " + std::to_string(height) +
                        " pixels, and a video's cover may have at most " + std::to_string(kMaxCoverSide) +
                        " a side");
        uint8_t* data = nullptr;
        AVDictionary* tags = nullptr;
        if (place == CoverPlace::Attachment) {
            data = static_cast<uint8_t*>(av_mallocz(options.cover.size() + AV_INPUT_BUFFER_PADDING_SIZE));
            if (!data || av_dict_set(&tags, "filename", jpeg ? "cover.jpg" : "cover.png", 0) < 0 ||
                av_dict_set(&tags, "mimetype", jpeg ? "image/jpeg" : "image/png", 0) < 0) {
                av_free(data);
                av_dict_free(&tags);
                return warn("no memory for the cover");
            }
            std::memcpy(data, options.cover.data(), options.cover.size());
        }
        AVStream* st = avformat_new_stream(oc, nullptr);
        if (!st) {
            av_free(data);
            av_dict_free(&tags);
            return warn("no memory for the cover");
        }
        st->codecpar->codec_id = id;
        st->codecpar->width = width;
        st->codecpar->height = height;
        if (place == CoverPlace::Attachment) {
            st->codecpar->codec_type = AVMEDIA_TYPE_ATTACHMENT;
            st->codecpar->extradata = data;
            st->codecpar->extradata_size = int(options.cover.size());
            st->metadata = tags;
        } else {
            st->codecpar->codec_type = AVMEDIA_TYPE_VIDEO;
            st->disposition = AV_DISPOSITION_ATTACHED_PIC;
            coverStream = st;
        }
    }

    // An attached picture's one packet: the muxer keeps it for the index.
    void writeCover() {
        if (!coverStream) return;
        if (av_new_packet(packet, int(options.cover.size())) < 0) return warn("no memory for the cover");
        std::memcpy(packet->data, options.cover.data(), options.cover.size());
        packet->stream_index = coverStream->index;
        packet->pts = packet->dts = 0;
        packet->flags |= AV_PKT_FLAG_KEY;
        // Not through the interleaver: no other packet of this stream follows.
        int rc = av_write_frame(oc, packet);
        av_packet_unref(packet);
        if (rc < 0) warn("cannot write the cover (" + avError(rc) + ")");
    }

    // The chapter table the muxers read in the trailer (MP4 writes it as a
    // text track, Matroska as its Chapters). Each mark ends where the next
    // one begins, the last at the end of the video. Built whole or not at all.
    void addChapters() {
        if (chapters.empty()) return;
        const long long endMs = std::max(videoPts * 1000 / options.fps, audioPts * 1000 / kRate);
        const size_t n = chapters.size();
        auto** table = static_cast<AVChapter**>(av_calloc(n, sizeof(AVChapter*)));
        bool ok = table != nullptr;
        for (size_t i = 0; ok && i < n; ++i) {
            table[i] = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
            if (!table[i]) {
                ok = false;
                break;
            }
            AVChapter& c = *table[i];
            c.id = int64_t(i) + 1;
            c.time_base = AVRational{1, 1000};
            c.start = chapters[i].startMs;
            c.end = std::max<int64_t>(c.start, i + 1 < n ? chapters[i + 1].startMs : endMs);
            if (av_dict_set(&c.metadata, "title", chapters[i].title.c_str(), 0) < 0) ok = false;
        }
        if (!ok) {
            for (size_t i = 0; table && i < n; ++i)
                if (table[i]) {
                    av_dict_free(&table[i]->metadata);
                    av_freep(&table[i]);
                }
            av_freep(&table);
            return warn("no memory for the chapters");
        }
        oc->chapters = table;
        oc->nb_chapters = unsigned(n);
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

struct VideoPicture::Impl {
    AVFrame* frame = nullptr;
    std::vector<unsigned char> straight;   // the frame with alpha, before swscale
    SwsContext* scaler = nullptr;
    ~Impl() {
        av_frame_free(&frame);
        sws_freeContext(scaler);
    }
};

VideoPicture::VideoPicture() : mImpl(std::make_unique<Impl>()) {}
VideoPicture::~VideoPicture() = default;

VideoWriter::VideoWriter() : mImpl(std::make_unique<Impl>()) {}
VideoWriter::~VideoWriter() {
    std::string ignored;
    if (mImpl->headerWritten && !mImpl->broken) close(ignored);
}

long long VideoWriter::framesWritten() const { return mImpl->videoPts; }

const std::string& VideoWriter::partPath() const { return mImpl->file.part; }

const std::vector<std::string>& VideoWriter::warnings() const { return mImpl->warnings; }

void VideoWriter::setChapters(std::vector<VideoChapter> chapters) { mImpl->chapters = std::move(chapters); }

const std::vector<std::string>& x264Presets() {
    static const std::vector<std::string> names = [] {
        std::vector<std::string> list;
        for (const char* const* name = x264_preset_names; *name; ++name) list.push_back(*name);
        return list;
    }();
    return names;
}

bool checkVideoSettings(const std::string& path, const VideoOptions& options, std::string& error) {
    if (options.width <= 0 || options.height <= 0 || options.width % 2 || options.height % 2) {
        error = "width and height must be even for H.264 video (got " + std::to_string(options.width) + "x" +
                std::to_string(options.height) + ")";
        return false;
    }
    if (options.fps <= 0) {
        error = "the frame rate must be positive";
        return false;
    }
    const std::vector<std::string>& presets = x264Presets();
    if (std::find(presets.begin(), presets.end(), options.preset) == presets.end()) {
        error = "\"" + options.preset + "\" is not an x264 preset";
        return false;
    }
    // A pipe or a device is named before its name's ending: that is the mistake.
    struct stat st {};
    if (stat(path.c_str(), &st) == 0) {
        if (const char* what = notAFile(st.st_mode)) {
            error = std::string(what) + ": name a file for the video";
            return false;
        }
    }
    const AVOutputFormat* format = av_guess_format(nullptr, path.c_str(), nullptr);
    if (!format) {
        error = "unknown container; name the file .mp4, .mkv, .mov or .webm";
        return false;
    }
    Codecs codecs;
    return chooseCodecs(format, options.alpha, codecs, error);
}

bool VideoWriter::open(const std::string& path, const VideoOptions& options, std::string& error) {
    mImpl = std::make_unique<Impl>();
    Impl& d = *mImpl;
    d.path = path;
    d.options = options;
    std::string why;
    if (!checkVideoSettings(path, options, why)) return d.fail(error, "cannot write " + path + ": " + why);
    int rc = avformat_alloc_output_context2(&d.oc, nullptr, nullptr, path.c_str());
    if (rc < 0 || !d.oc) return d.fail(error, "cannot write " + path + ": out of memory");
    if (!chooseCodecs(d.oc->oformat, options.alpha, d.codecs, why)) return d.fail(error, "cannot write " + path + ": " + why);
    d.packet = av_packet_alloc();
    if (!d.packet) return d.outOfMemory(error);
    if (!d.openVideo(error) || !d.openAudio(error) || !d.makeFrames(error)) return false;
    for (const auto& [key, value] : options.metadata)
        if (!value.empty() && av_dict_set(&d.oc->metadata, key.c_str(), value.c_str(), 0) < 0)
            d.warn("no memory for the " + key + " tag");
    d.addCover();
    if (!d.startFile(error)) {
        d.release();
        std::string ignored;
        d.settle(ignored);
        return false;
    }
    d.writeCover();
    return true;
}

const char* streamContainer(const std::string& url) {
    if (url.rfind("rtmp://", 0) == 0 || url.rfind("rtmps://", 0) == 0) return "flv";
    if (url.rfind("srt://", 0) == 0) return "mpegts";
    return nullptr;
}

namespace {

std::mutex gLogMutex;
std::string gLogSecret;   // under gLogMutex

void logHidingSecret(void* avcl, int level, const char* format, va_list args) {
    if (level > av_log_get_level()) return;
    std::lock_guard<std::mutex> lock(gLogMutex);
    static int printPrefix = 1;
    char line[2048];
    av_log_format_line2(avcl, level, format, args, line, sizeof line, &printPrefix);
    std::string text = line;
    for (size_t at; !gLogSecret.empty() && (at = text.find(gLogSecret)) != std::string::npos;)
        text.replace(at, gLogSecret.size(), "\u2026");
    std::fputs(text.c_str(), stderr);
}

}  // namespace

void hideInMessages(const std::string& secret) {
    {
        std::lock_guard<std::mutex> lock(gLogMutex);
        gLogSecret = secret;
    }
    av_log_set_callback(&logHidingSecret);
}

bool VideoWriter::openStream(const std::string& url, const std::string& shownAs, const VideoOptions& options,
                             const StreamLink& link, std::string& error) {
    mImpl = std::make_unique<Impl>();
    Impl& d = *mImpl;
    d.path = shownAs;
    d.options = options;
    const char* container = streamContainer(url);
    if (!container) return d.fail(error, "cannot stream to " + shownAs + ": give an rtmp://, rtmps:// or srt:// URL");
    std::string why;
    if (!checkVideoSettings("stream.mp4", options, why)) return d.fail(error, "cannot stream to " + shownAs + ": " + why);
    int rc = avformat_alloc_output_context2(&d.oc, nullptr, container, nullptr);
    if (rc < 0 || !d.oc) return d.outOfMemory(error);
    // MPEG-TS names no codecs of its own to ask about: these are what both take.
    d.codecs = {"libx264", AV_CODEC_ID_H264, AV_PIX_FMT_YUV420P, AV_CODEC_ID_AAC, "H.264", false};
    d.packet = av_packet_alloc();
    if (!d.packet) return d.outOfMemory(error);
    if (!d.openVideo(error) || !d.openAudio(error) || !d.makeFrames(error)) return false;
    d.oc->interrupt_callback = AVIOInterruptCB{link.interrupt, link.user};
    AVDictionary* connection = nullptr;
    av_dict_set_int(&connection, "rw_timeout", link.timeoutMicros, 0);
    rc = avio_open2(&d.oc->pb, url.c_str(), AVIO_FLAG_WRITE, &d.oc->interrupt_callback, &connection);
    av_dict_free(&connection);
    if (rc < 0) return d.fail(error, "cannot stream to " + shownAs + ": " + avError(rc));
    d.oc->max_interleave_delta = kMaxInterleave;
    AVDictionary* muxerOptions = nullptr;
    // A stream has no end to go back to for the length.
    if (std::string(container) == "flv") av_dict_set(&muxerOptions, "flvflags", "no_duration_filesize", 0);
    rc = avformat_write_header(d.oc, &muxerOptions);
    av_dict_free(&muxerOptions);
    if (rc < 0) return d.fail(error, "cannot stream to " + shownAs + ": " + avError(rc));
    d.headerWritten = true;
    return true;
}

bool VideoWriter::writeFrame(const unsigned char* rgba, std::string& error) {
    Impl& d = *mImpl;
    if (d.broken || !d.headerWritten) return d.fail(error, "cannot write " + d.path + ": the video is not open");
    if (!d.picture) d.picture = std::make_unique<VideoPicture>();
    if (!convert(rgba, long(d.options.width) * 4, *d.picture, error)) {
        d.broken = true;
        return false;
    }
    return writePicture(*d.picture, error);
}

bool VideoWriter::convert(const unsigned char* rgba, long stride, VideoPicture& picture, std::string& error) {
    const Impl& d = *mImpl;
    if (!d.framesMade) {
        error = "cannot write " + d.path + ": the video is not open";
        return false;
    }
    if (!rgba) {
        error = "cannot write " + d.path + ": no picture given for the frame";
        return false;
    }
    AVFrame*& yuv = picture.mImpl->frame;
    if (!yuv) {
        yuv = av_frame_alloc();
        if (yuv) {
            yuv->format = d.codecs.pixels;
            yuv->width = d.options.width;
            yuv->height = d.options.height;
        }
        if (!yuv || av_frame_get_buffer(yuv, 0) < 0) {
            av_frame_free(&yuv);
            error = "cannot write " + d.path + ": out of memory";
            return false;
        }
    }
    // The encoder may still hold the picture's last frame: then it gets new memory.
    int rc = av_frame_make_writable(yuv);
    if (rc < 0) {
        error = "cannot encode " + d.path + ": " + avError(rc);
        return false;
    }
    if (d.codecs.pixels == AV_PIX_FMT_YUV420P) {
        // BT.709 limited range, as the stream is tagged.
        const Yuv420Planes planes = {{yuv->data[0], yuv->data[1], yuv->data[2]},
                                     {yuv->linesize[0], yuv->linesize[1], yuv->linesize[2]}};
        rgbaToYuv420(RgbaPicture{rgba, stride, d.options.width, d.options.height}, planes);
        return true;
    }
    const int w = d.options.width, h = d.options.height;
    if (d.codecs.alpha) {
        std::vector<unsigned char>& straight = picture.mImpl->straight;
        straight.resize(size_t(w) * size_t(h) * 4);
        lightToStraightAlpha(rgba, stride, w, h, straight.data());
        rgba = straight.data();
        stride = long(w) * 4;
    }
    if (!convertWithSwscale(rgba, stride, w, h, yuv, &picture.mImpl->scaler)) {
        error = "cannot encode " + d.path + ": the colour conversion failed";
        return false;
    }
    return true;
}

bool VideoWriter::writePicture(VideoPicture& picture, std::string& error) {
    return writePicture(picture, mImpl->videoPts, error);
}

bool VideoWriter::writePicture(VideoPicture& picture, long long pts, std::string& error) {
    Impl& d = *mImpl;
    if (pts < d.videoPts)
        return d.fail(error, "cannot encode " + d.path + ": frame " + std::to_string(pts) + " comes after frame " +
                                 std::to_string(d.videoPts - 1));
    if (d.broken || !d.headerWritten) return d.fail(error, "cannot write " + d.path + ": the video is not open");
    AVFrame* yuv = picture.mImpl->frame;
    if (!yuv) return d.fail(error, "cannot write " + d.path + ": the picture was never converted");
    yuv->pts = pts;
    d.videoPts = pts + 1;
    return d.encode(d.video, d.videoStream, yuv, error);
}

bool VideoWriter::writeAudio(const float* frames, size_t count, std::string& error) {
    Impl& d = *mImpl;
    if (d.broken || !d.headerWritten) return d.fail(error, "cannot write " + d.path + ": the video is not open");
    if (count == 0) return true;
    // The sound FIFO counts in ints; callers hand over seconds, not hours.
    if (!frames || count > size_t(kRate) * 60)
        return d.fail(error, "cannot write " + d.path + ": pass at most a minute of sound at a time");
    std::vector<float> left(count), right(count);
    for (size_t i = 0; i < count; ++i) {
        left[i] = frames[2 * i];
        right[i] = frames[2 * i + 1];
    }
    if (!d.sound.write(left.data(), right.data(), int(count), d.fifo))
        return d.fail(error, "cannot encode " + d.path + ": out of memory");
    return d.drainAudio(false, error);
}

bool VideoWriter::close(std::string& error, bool keep) {
    Impl& d = *mImpl;
    bool ok = !d.broken && d.headerWritten;
    if (ok && !d.sound.flush(d.fifo)) ok = d.fail(error, "cannot encode " + d.path + ": out of memory");
    if (ok) ok = d.drainAudio(true, error);
    if (ok) ok = d.encode(d.audio, d.audioStream, nullptr, error);
    if (ok) ok = d.encode(d.video, d.videoStream, nullptr, error);
    if (ok) {
        d.addChapters();
        int rc = av_write_trailer(d.oc);
        if (rc < 0) ok = d.fail(error, "cannot finish " + d.path + ": " + avError(rc));
    }
    if (!ok && error.empty()) error = "cannot finish " + d.path;
    d.headerWritten = false;
    d.release();
    std::string placeError;
    if (!d.settle(placeError, keep) && ok) {
        error = placeError;
        ok = false;
    }
    return ok;
}

}  // namespace lv
