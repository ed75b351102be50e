// Parts of one render into one video: the picture's packets copied, the
// sound decoded and encoded once more as one track.
#include "lv/video_join.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "part_file.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/audio_fifo.h>
#include <libavutil/channel_layout.h>
#include <libavutil/error.h>
#include <libavutil/hash.h>

#include "lv/sample_format.h"
}

namespace lv {

namespace {

constexpr int kRate = kSampleRate;
constexpr int kSoundBitRate = 192000;   // what the parts were encoded with

std::string avText(int code) {
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buffer, sizeof buffer);
    return buffer;
}

struct InputCloser {
    void operator()(AVFormatContext* c) const { avformat_close_input(&c); }
};
using Input = std::unique_ptr<AVFormatContext, InputCloser>;
struct CodecFreer {
    void operator()(AVCodecContext* c) const { avcodec_free_context(&c); }
};
using Codec = std::unique_ptr<AVCodecContext, CodecFreer>;
struct PacketFreer {
    void operator()(AVPacket* p) const { av_packet_free(&p); }
};
struct FrameFreer {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
struct FifoFreer {
    void operator()(AVAudioFifo* f) const { av_audio_fifo_free(f); }
};

bool openInput(const std::string& path, Input& in, std::string& error) {
    AVFormatContext* c = nullptr;
    int rc = avformat_open_input(&c, ("file:" + path).c_str(), nullptr, nullptr);
    if (rc < 0) {
        error = "cannot read " + path + ": " + avText(rc);
        return false;
    }
    in.reset(c);
    rc = avformat_find_stream_info(c, nullptr);
    if (rc < 0) {
        error = "cannot read " + path + ": " + avText(rc);
        return false;
    }
    return true;
}

int findStream(AVFormatContext* c, AVMediaType type) {
    for (unsigned i = 0; i < c->nb_streams; ++i)
        if (c->streams[i]->codecpar->codec_type == type &&
            !(c->streams[i]->disposition & AV_DISPOSITION_ATTACHED_PIC))
            return int(i);
    return -1;
}

bool sameCodecParameters(const AVCodecParameters* a, const AVCodecParameters* b) {
    return a->codec_id == b->codec_id && a->width == b->width && a->height == b->height &&
           a->extradata_size == b->extradata_size &&
           (a->extradata_size == 0 || std::memcmp(a->extradata, b->extradata, size_t(a->extradata_size)) == 0);
}

// The output while it is written: the copied picture, the sound encoder
// and its queue, the cover from the first part.
struct Joiner {
    const std::string& out;
    std::string& error;
    AVFormatContext* oc = nullptr;
    PartFile file;
    bool opened = false;
    AVStream* video = nullptr;
    AVStream* sound = nullptr;
    Codec encoder;
    std::unique_ptr<AVAudioFifo, FifoFreer> fifo;
    std::unique_ptr<AVPacket, PacketFreer> packet{av_packet_alloc()};
    std::unique_ptr<AVFrame, FrameFreer> frame{av_frame_alloc()};
    long long soundWritten = 0;   // samples sent to the encoder
    int64_t videoOffset = 0;      // in the video stream's time base
    const AVCodecParameters* firstVideo = nullptr;
    std::vector<VideoChapter> mChapters;

    Joiner(const std::string& o, std::string& e) : out(o), error(e) {}
    ~Joiner() {
        if (oc && opened && !(oc->oformat->flags & AVFMT_NOFILE)) avio_closep(&oc->pb);
        avformat_free_context(oc);
        std::string ignored;
        file.settle(false, ignored);
    }

    bool fail(const std::string& why) {
        error = "cannot write " + out + ": " + why;
        return false;
    }

    bool start(AVFormatContext* first, const std::vector<std::pair<std::string, std::string>>& metadata,
               const std::vector<VideoChapter>& chapters);
    bool addCover(AVFormatContext* first);
    bool addSound();
    bool addChapters(int64_t endMs);
    bool copyPart(const JoinPart& part, AVFormatContext* in);
    bool decodeSound(AVCodecContext* decoder, long long& left);
    bool encodeSound(bool flush);
    bool drainEncoder();
    bool finish();
};

bool Joiner::start(AVFormatContext* first, const std::vector<std::pair<std::string, std::string>>& metadata,
                   const std::vector<VideoChapter>& chapters) {
    int rc = avformat_alloc_output_context2(&oc, nullptr, nullptr, out.c_str());
    if (rc < 0 || !oc) return fail("its name ends in no container FFmpeg writes (like .mp4)");
    const int v = findStream(first, AVMEDIA_TYPE_VIDEO);
    if (v < 0) return fail("the first part holds no picture");
    firstVideo = first->streams[v]->codecpar;
    video = avformat_new_stream(oc, nullptr);
    if (!video || avcodec_parameters_copy(video->codecpar, firstVideo) < 0) return fail("no memory");
    video->codecpar->codec_tag = 0;
    video->time_base = first->streams[v]->time_base;
    video->avg_frame_rate = first->streams[v]->avg_frame_rate;
    if (!addSound() || !addCover(first)) return false;
    mChapters = chapters;
    for (const auto& [key, value] : metadata) av_dict_set(&oc->metadata, key.c_str(), value.c_str(), 0);
    if (!(oc->oformat->flags & AVFMT_NOFILE)) {
        std::string why;
        if (!file.create(out, why)) return fail(why);
        av_freep(&oc->url);
        oc->url = av_strdup(("file:" + file.part).c_str());
        rc = oc->url ? avio_open(&oc->pb, oc->url, AVIO_FLAG_WRITE) : AVERROR(ENOMEM);
        if (rc < 0) return fail(avText(rc));
        opened = true;
    }
    // The cover sends one picture and no more: the muxer's queue would hold
    // every packet behind it for its default ten seconds.
    oc->max_interleave_delta = AV_TIME_BASE;
    AVDictionary* options = nullptr;
    av_dict_set(&options, "movflags", "+faststart", 0);
    rc = avformat_write_header(oc, &options);
    av_dict_free(&options);
    if (rc < 0) return fail(avText(rc));
    // The cover's one picture goes first, as the writer of the parts puts it.
    for (unsigned i = 0; i < first->nb_streams; ++i) {
        const AVStream* s = first->streams[i];
        if (!(s->disposition & AV_DISPOSITION_ATTACHED_PIC) || s->attached_pic.size <= 0) continue;
        AVPacket* cover = av_packet_clone(&s->attached_pic);
        if (!cover) return fail("no memory");
        cover->stream_index = int(oc->nb_streams) - 1;
        cover->pts = cover->dts = 0;
        rc = av_write_frame(oc, cover);
        av_packet_free(&cover);
        if (rc < 0) return fail(avText(rc));
    }
    return true;
}

bool Joiner::addSound() {
    const AVCodec* aac = avcodec_find_encoder(oc->oformat->audio_codec == AV_CODEC_ID_OPUS ? AV_CODEC_ID_OPUS
                                                                                           : AV_CODEC_ID_AAC);
    if (!aac) return fail("FFmpeg has no encoder for its sound");
    encoder.reset(avcodec_alloc_context3(aac));
    if (!encoder) return fail("no memory");
    AVCodecContext* e = encoder.get();
    e->sample_rate = aac->id == AV_CODEC_ID_OPUS ? 48000 : kRate;
    if (e->sample_rate != kRate) return fail("the parts' sound is at 44.1 kHz: join them into .mp4, .mkv or .mov");
    e->sample_fmt = AV_SAMPLE_FMT_FLTP;
    const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
    av_channel_layout_copy(&e->ch_layout, &stereo);
    e->bit_rate = kSoundBitRate;
    e->time_base = AVRational{1, kRate};
    if (oc->oformat->flags & AVFMT_GLOBALHEADER) e->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    int rc = avcodec_open2(e, aac, nullptr);
    if (rc < 0) return fail("cannot open the sound encoder: " + avText(rc));
    sound = avformat_new_stream(oc, nullptr);
    if (!sound || avcodec_parameters_from_context(sound->codecpar, e) < 0) return fail("no memory");
    sound->time_base = e->time_base;
    fifo.reset(av_audio_fifo_alloc(AV_SAMPLE_FMT_FLTP, 2, e->frame_size > 0 ? e->frame_size : 1024));
    return fifo ? true : fail("no memory");
}

// The first part's cover: an MP4's attached picture or a Matroska
// attachment, copied as it is.
bool Joiner::addCover(AVFormatContext* first) {
    for (unsigned i = 0; i < first->nb_streams; ++i) {
        const AVStream* s = first->streams[i];
        const bool picture = s->disposition & AV_DISPOSITION_ATTACHED_PIC;
        if (!picture && s->codecpar->codec_type != AVMEDIA_TYPE_ATTACHMENT) continue;
        AVStream* copy = avformat_new_stream(oc, nullptr);
        if (!copy || avcodec_parameters_copy(copy->codecpar, s->codecpar) < 0) return fail("no memory");
        copy->codecpar->codec_tag = 0;
        copy->disposition = s->disposition;
        copy->time_base = s->time_base;
        av_dict_copy(&copy->metadata, s->metadata, 0);
        return true;
    }
    return true;
}

// The marks the muxers read in the trailer, each to the next, the last to
// the end.
bool Joiner::addChapters(int64_t endMs) {
    const size_t n = mChapters.size();
    if (n == 0) return true;
    auto** table = static_cast<AVChapter**>(av_calloc(n, sizeof(AVChapter*)));
    if (!table) return fail("no memory for the chapters");
    oc->chapters = table;   // freed with the context, each one as it is made
    for (size_t i = 0; i < n; ++i) {
        table[i] = static_cast<AVChapter*>(av_mallocz(sizeof(AVChapter)));
        if (!table[i]) return fail("no memory for the chapters");
        oc->nb_chapters = unsigned(i + 1);
        AVChapter& c = *table[i];
        c.id = int64_t(i) + 1;
        c.time_base = AVRational{1, 1000};
        c.start = mChapters[i].startMs;
        c.end = std::max<int64_t>(c.start, i + 1 < n ? mChapters[i + 1].startMs : endMs);
        if (av_dict_set(&c.metadata, "title", mChapters[i].title.c_str(), 0) < 0)
            return fail("no memory for the chapters");
    }
    return true;
}

bool Joiner::drainEncoder() {
    for (;;) {
        int rc = avcodec_receive_packet(encoder.get(), packet.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
        if (rc < 0) return fail("cannot encode the sound: " + avText(rc));
        av_packet_rescale_ts(packet.get(), encoder->time_base, sound->time_base);
        packet->stream_index = sound->index;
        rc = av_interleaved_write_frame(oc, packet.get());
        if (rc < 0) return fail(avText(rc));
    }
}

bool Joiner::encodeSound(bool flush) {
    AVCodecContext* e = encoder.get();
    const int size = e->frame_size > 0 ? e->frame_size : 1024;
    while (av_audio_fifo_size(fifo.get()) >= size || (flush && av_audio_fifo_size(fifo.get()) > 0)) {
        av_frame_unref(frame.get());
        frame->format = AV_SAMPLE_FMT_FLTP;
        frame->sample_rate = kRate;
        const AVChannelLayout stereo = AV_CHANNEL_LAYOUT_STEREO;
        av_channel_layout_copy(&frame->ch_layout, &stereo);
        frame->nb_samples = std::min(size, av_audio_fifo_size(fifo.get()));
        if (av_frame_get_buffer(frame.get(), 0) < 0) return fail("no memory");
        av_audio_fifo_read(fifo.get(), reinterpret_cast<void**>(frame->data), frame->nb_samples);
        frame->pts = soundWritten;
        soundWritten += frame->nb_samples;
        if (avcodec_send_frame(e, frame.get()) < 0) return fail("the sound encoder refused a frame");
        if (!drainEncoder()) return false;
    }
    if (!flush) return true;
    avcodec_send_frame(e, nullptr);
    return drainEncoder();
}

// The decoded sound that is the part's share (`left` samples, or all when
// negative) into the queue, the rest let go.
bool Joiner::decodeSound(AVCodecContext* decoder, long long& left) {
    std::unique_ptr<AVFrame, FrameFreer> decoded(av_frame_alloc());
    if (!decoded) return fail("no memory");
    for (;;) {
        int rc = avcodec_receive_frame(decoder, decoded.get());
        if (rc == AVERROR(EAGAIN) || rc == AVERROR_EOF) return true;
        if (rc < 0) return fail("cannot decode a part's sound: " + avText(rc));
        if (decoded->format != AV_SAMPLE_FMT_FLTP || decoded->ch_layout.nb_channels != 2 ||
            decoded->sample_rate != kRate)
            return fail("a part's sound is not the 44.1 kHz stereo a render writes");
        int n = decoded->nb_samples;
        if (left >= 0) n = int(std::min<long long>(n, left));
        if (n > 0 && av_audio_fifo_write(fifo.get(), reinterpret_cast<void**>(decoded->extended_data), n) < n)
            return fail("no memory");
        if (left >= 0) left -= n;
        av_frame_unref(decoded.get());
        if (!encodeSound(false)) return false;
    }
}

bool Joiner::copyPart(const JoinPart& part, AVFormatContext* in) {
    const int v = findStream(in, AVMEDIA_TYPE_VIDEO), a = findStream(in, AVMEDIA_TYPE_AUDIO);
    if (v < 0 || !sameCodecParameters(in->streams[v]->codecpar, firstVideo)) {
        error = part.path + "'s picture is not encoded as the first part's (another size, codec or encoder "
                            "settings): render every part with the same options";
        return false;
    }
    Codec decoder;
    if (a >= 0) {
        const AVCodec* codec = avcodec_find_decoder(in->streams[a]->codecpar->codec_id);
        decoder.reset(codec ? avcodec_alloc_context3(codec) : nullptr);
        if (!decoder || avcodec_parameters_to_context(decoder.get(), in->streams[a]->codecpar) < 0 ||
            avcodec_open2(decoder.get(), codec, nullptr) < 0)
            return fail("cannot decode the sound of " + part.path);
    }
    const AVRational inBase = in->streams[v]->time_base;
    int64_t partEnd = 0;
    long long left = part.soundSamples;
    // The last part's share is all its sound: the length its container
    // states, without the encoder's padding of its last packet.
    if (left < 0 && a >= 0 && in->streams[a]->duration > 0)
        left = av_rescale_q(in->streams[a]->duration, in->streams[a]->time_base, AVRational{1, kRate});
    int rc;
    while ((rc = av_read_frame(in, packet.get())) >= 0) {
        if (packet->stream_index == a) {
            rc = avcodec_send_packet(decoder.get(), packet.get());
            av_packet_unref(packet.get());
            if (rc < 0 && rc != AVERROR(EAGAIN)) return fail("cannot decode the sound of " + part.path);
            if (!decodeSound(decoder.get(), left)) return false;
            continue;
        }
        if (packet->stream_index != v) {
            av_packet_unref(packet.get());
            continue;
        }
        av_packet_rescale_ts(packet.get(), inBase, video->time_base);
        if (packet->pts != AV_NOPTS_VALUE) partEnd = std::max(partEnd, packet->pts + packet->duration);
        if (packet->pts != AV_NOPTS_VALUE) packet->pts += videoOffset;
        if (packet->dts != AV_NOPTS_VALUE) packet->dts += videoOffset;
        packet->stream_index = video->index;
        packet->pos = -1;
        rc = av_interleaved_write_frame(oc, packet.get());
        if (rc < 0) return fail(avText(rc));
    }
    if (rc != AVERROR_EOF) return fail("cannot read " + part.path + ": " + avText(rc));
    if (decoder) {
        avcodec_send_packet(decoder.get(), nullptr);
        if (!decodeSound(decoder.get(), left)) return false;
    }
    if (left > 0) {   // a part cut short of its share: silence keeps the rest in step
        std::vector<float> silence(size_t(left), 0.0f);
        void* planes[2] = {silence.data(), silence.data()};
        if (av_audio_fifo_write(fifo.get(), planes, int(left)) < left) return fail("no memory");
    }
    videoOffset += partEnd;
    return true;
}

bool Joiner::finish() {
    if (!encodeSound(true)) return false;
    const int64_t endMs = av_rescale_q(videoOffset, video->time_base, AVRational{1, 1000});
    if (!addChapters(std::max<int64_t>(endMs, soundWritten * 1000 / kRate))) return false;
    int rc = av_write_trailer(oc);
    if (rc < 0) return fail(avText(rc));
    if (opened) {
        opened = false;
        rc = avio_closep(&oc->pb);
        if (rc < 0) return fail(avText(rc));
    }
    return file.settle(true, error);
}

}  // namespace

bool readVideoInfo(const std::string& path, VideoFileInfo& info, std::string& error) {
    Input in;
    if (!openInput(path, in, error)) return false;
    info = VideoFileInfo{};
    const AVDictionaryEntry* e = nullptr;
    while ((e = av_dict_get(in->metadata, "", e, AV_DICT_IGNORE_SUFFIX))) info.metadata.push_back({e->key, e->value});
    for (unsigned i = 0; i < in->nb_chapters; ++i) {
        const AVChapter* c = in->chapters[i];
        const AVDictionaryEntry* title = av_dict_get(c->metadata, "title", nullptr, 0);
        info.chapters.push_back({av_rescale_q(c->start, c->time_base, AVRational{1, 1000}), title ? title->value : ""});
    }
    const int v = findStream(in.get(), AVMEDIA_TYPE_VIDEO);
    if (v >= 0) {
        const AVStream* s = in->streams[v];
        info.width = s->codecpar->width;
        info.height = s->codecpar->height;
        info.frames = s->nb_frames;
        info.videoCodec = avcodec_get_name(s->codecpar->codec_id);
    }
    info.sound = findStream(in.get(), AVMEDIA_TYPE_AUDIO) >= 0;
    return true;
}

bool joinVideos(const std::vector<JoinPart>& parts, const std::string& out,
                const std::vector<std::pair<std::string, std::string>>& metadata,
                const std::vector<VideoChapter>& chapters, std::string& error) {
    if (parts.empty()) {
        error = "no parts to join";
        return false;
    }
    std::vector<Input> inputs(parts.size());
    for (size_t i = 0; i < parts.size(); ++i)
        if (!openInput(parts[i].path, inputs[i], error)) return false;
    Joiner joiner(out, error);
    if (!joiner.start(inputs[0].get(), metadata, chapters)) return false;
    for (size_t i = 0; i < parts.size(); ++i)
        if (!joiner.copyPart(parts[i], inputs[i].get())) return false;
    return joiner.finish();
}

bool sha256Hex(const std::vector<std::string>& files, const std::string& text, std::string& hex, std::string& error) {
    AVHashContext* raw = nullptr;
    if (av_hash_alloc(&raw, "SHA256") < 0) {
        error = "no memory";
        return false;
    }
    std::unique_ptr<AVHashContext, void (*)(AVHashContext*)> hash(raw, [](AVHashContext* h) { av_hash_freep(&h); });
    av_hash_init(raw);
    std::vector<unsigned char> buffer(1 << 20);
    for (const std::string& path : files) {
        std::unique_ptr<std::FILE, int (*)(std::FILE*)> f(std::fopen(path.c_str(), "rb"), &std::fclose);
        if (!f) {
            error = "cannot read " + path + ": " + std::strerror(errno);
            return false;
        }
        size_t n;
        unsigned long long bytes = 0;
        while ((n = std::fread(buffer.data(), 1, buffer.size(), f.get())) > 0) {
            av_hash_update(raw, buffer.data(), n);
            bytes += n;
        }
        if (std::ferror(f.get())) {
            error = "cannot read " + path;
            return false;
        }
        // Where one file ends, so that bytes moved across files change it.
        const std::string end = "\n" + std::to_string(bytes) + "\n";
        av_hash_update(raw, reinterpret_cast<const uint8_t*>(end.data()), end.size());
    }
    av_hash_update(raw, reinterpret_cast<const uint8_t*>(text.data()), text.size());
    char digits[AV_HASH_MAX_SIZE * 2 + 1] = {};
    av_hash_final_hex(raw, reinterpret_cast<uint8_t*>(digits), sizeof digits);
    hex = digits;
    return true;
}

}  // namespace lv
