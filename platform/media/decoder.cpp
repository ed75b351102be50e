// AudioDecoder and probeTrack over libavformat / libavcodec / libswresample.
#include "lv/media.h"
#include "lv/file_kind.h"
#include "lv/image.h"   // kMaxFullSizePixels

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/dict.h>
#include <libavutil/error.h>
#include <libavutil/imgutils.h>
#include <libavutil/log.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

namespace lv {

namespace {

// A damaged stretch of a file is skipped packet by packet; this many bad
// packets in a row without a single good one means the file is not worth
// playing on.
constexpr int kMaxConsecutiveBadPackets = 64;
// Frames converted at a time (1.5 s at 44.1 kHz, 512 KB).
constexpr int kMaxConvertFrames = 1 << 16;
// Codecs pad and headers round: sound that ends within a second (or 2 % of
// a long track) of the length the header states counts as whole.
constexpr long long kShortfallToleranceMs = 1000;
constexpr long long kShortfallToleranceParts = 50;
// A stretch of damage inside a file shorter than this is not named (a
// glitch of a frame or two); longer ones are, with their place.
constexpr long long kGapToleranceMs = 1000;
constexpr size_t kGapsNamed = 3;

std::string avError(int code) {
    char buffer[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, buffer, sizeof buffer);
    return buffer;
}

std::string clockText(long long ms) {
    const long long s = (ms + 500) / 1000;
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%lld:%02lld", s / 60, s % 60);
    return buffer;
}

// What the operating system says about the file before FFmpeg sees it: a
// sentence, or empty when the file is there and can be read.
std::string fileProblem(const std::string& path) {
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return errno == ENOENT ? "there is no such file" : std::strerror(errno);
    // A pipe would block the open until a writer comes, and a track is read
    // more than once (tags and length first, the sound later), which a pipe
    // cannot give; devices and sockets are no music either.
    if (const char* what = notAFile(st.st_mode))
        return S_ISFIFO(st.st_mode) ? std::string(what) + ": save the music into a file and play that" : what;
    if (S_ISREG(st.st_mode) && st.st_size == 0) return "the file is empty";
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return errno == EACCES || errno == EPERM
                   ? "permission denied: this user may not read it (see its owner and mode with ls -l)"
                   : std::strerror(errno);
    ::close(fd);
    return {};
}

// Text (a playlist, notes, a web page saved under a music name) rather than
// sound: the first bytes are all printable or white space.
bool looksLikeText(const std::string& path) {
    char head[512];
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return false;
    const ssize_t n = ::read(fd, head, sizeof head);
    ::close(fd);
    if (n <= 0) return false;
    for (ssize_t i = 0; i < n; ++i) {
        const unsigned char c = static_cast<unsigned char>(head[i]);
        if (c < 0x20 && c != '\n' && c != '\r' && c != '\t') return false;
        if (c == 0x7F) return false;
    }
    return true;
}

constexpr const char* kNoSound = "it holds no sound";

// Why FFmpeg could not take the file as media at all.
std::string unopenableReason(const std::string& path, int rc) {
    // Probing a file that matches no format ends in "invalid data", or in
    // "invalid argument" when its name picked a format that then finds
    // nothing of its own.
    // A stream that ends before its first packet (an Ogg file of headers
    // alone, say) holds no sound to play.
    if (rc == AVERROR_EOF) return kNoSound;
    if (rc != AVERROR_INVALIDDATA && rc != AVERROR(EINVAL)) return avError(rc);
    if (looksLikeText(path)) return "it holds text, not audio";
    return "not an audio file FFmpeg can read (damaged or of an unknown format)";
}

// An audio stream for which this build has no decoder: its codec's name.
std::string undecodableCodec(AVFormatContext* fmt) {
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        const AVCodecParameters* par = fmt->streams[i]->codecpar;
        if (par->codec_type == AVMEDIA_TYPE_AUDIO && par->codec_id != AV_CODEC_ID_NONE)
            return avcodec_get_name(par->codec_id);
    }
    return {};
}

// The size of the sound a WAV, RF64, Wave64 or CAF file's header states,
// in bytes; -1 when it states none. FFmpeg works these files' length out
// from the file's size when the data runs short of it, so the statement is
// read here, to tell a file cut short from a whole one.
long long statedDataBytes(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) return -1;
    struct stat st {};
    const long long fileSize = fstat(fd, &st) == 0 ? (long long)st.st_size : -1;
    unsigned char b[40];
    auto readAt = [&](long long at, size_t n) { return at >= 0 && pread(fd, b, n, off_t(at)) == ssize_t(n); };
    auto le = [&](int at, int n) {
        unsigned long long v = 0;
        for (int i = n - 1; i >= 0; --i) v = v << 8 | b[at + i];
        return v;
    };
    auto be = [&](int at, int n) {
        unsigned long long v = 0;
        for (int i = 0; i < n; ++i) v = v << 8 | b[at + i];
        return v;
    };
    long long stated = -1;
    constexpr int kMaxChunks = 64;   // real files have a handful before the sound
    if (readAt(0, 12) && std::memcmp(b + 8, "WAVE", 4) == 0 &&
        (!std::memcmp(b, "RIFF", 4) || !std::memcmp(b, "RF64", 4) || !std::memcmp(b, "BW64", 4))) {
        long long wide = -1;   // RF64 keeps sizes past 4 GB in its ds64 chunk
        long long at = 12;
        for (int i = 0; i < kMaxChunks && readAt(at, 8); ++i) {
            const unsigned long long size = le(4, 4);
            if (!std::memcmp(b, "data", 4)) {
                // Writers that could not go back leave 0 or all ones; a size
                // near 2 GB past the file's end is such a placeholder too.
                if (size == 0xFFFFFFFFu && wide > 0) stated = wide;
                else if (size > 0 && (size < 0x7FFF0000u || at + 8 + (long long)size <= fileSize))
                    stated = (long long)size;
                break;
            }
            if (!std::memcmp(b, "ds64", 4) && readAt(at + 16, 8)) wide = (long long)le(0, 8);
            at += 8 + (long long)size + (size & 1);
        }
    } else if (readAt(0, 40) && !std::memcmp(b, "riff", 4) && !std::memcmp(b + 24, "wave", 4)) {
        // Wave64: 16-byte names, 8-byte sizes counting the 24-byte chunk header, 8-byte aligned.
        long long at = 40;
        for (int i = 0; i < kMaxChunks && readAt(at, 24); ++i) {
            const long long size = (long long)le(16, 8);
            if (!std::memcmp(b, "data", 4)) {
                if (size > 24) stated = size - 24;
                break;
            }
            if (size < 24) break;
            at += (size + 7) & ~7LL;
        }
    } else if (readAt(0, 8) && !std::memcmp(b, "caff", 4)) {
        long long at = 8;
        for (int i = 0; i < kMaxChunks && readAt(at, 12); ++i) {
            const long long size = (long long)be(4, 8);
            if (!std::memcmp(b, "data", 4)) {
                if (size > 4) stated = size - 4;   // -1: written as it went; 4 bytes of edit count first
                break;
            }
            if (size < 0) break;
            at += 12 + size;
        }
    }
    ::close(fd);
    return stated;
}

// The length of the sound the header states, in ms, for uncompressed sound
// whose size in bytes it states; -1 otherwise.
long long statedPcmMs(const std::string& path, const AVCodecParameters* par) {
    const int bits = av_get_bits_per_sample(par->codec_id);
    const long long bytesPerSecond = (long long)bits * par->ch_layout.nb_channels * par->sample_rate / 8;
    if (bits <= 0 || bytesPerSecond <= 0) return -1;
    const long long bytes = statedDataBytes(path);
    return bytes > 0 ? bytes * 1000 / bytesPerSecond : -1;
}

std::string tag(AVDictionary* dict, const char* key) {
    // Keys match in any letter case: "TITLE" in Vorbis comments, "title" in ID3.
    AVDictionaryEntry* e = dict ? av_dict_get(dict, key, nullptr, 0) : nullptr;
    return e && e->value ? std::string(e->value) : std::string();
}

std::string firstTag(AVFormatContext* fmt, AVStream* st, std::initializer_list<const char*> keys) {
    for (const char* key : keys) {
        std::string v = tag(fmt->metadata, key);
        if (v.empty() && st) v = tag(st->metadata, key);
        if (!v.empty()) return v;
    }
    return {};
}

int leadingInt(const std::string& s) {
    int v = 0;
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    bool any = false;
    for (; i < s.size() && s[i] >= '0' && s[i] <= '9' && v < 100000; ++i) {
        v = v * 10 + (s[i] - '0');
        any = true;
    }
    return any ? v : 0;
}

// Pictures that are neither JPEG nor PNG (BMP, GIF, WebP, TIFF in some tag
// formats) are decoded and stored again as PNG, the plug-in's two formats.
// A few bytes of such a picture can claim hundreds of megapixels, so FFmpeg
// is told to refuse more than kMaxReencodedPixels from the picture's header,
// before it allocates them; and since a cover is drawn 64 pixels wide and a
// large PNG takes seconds to encode, the PNG is no larger than
// kMaxReencodedSide on a side.
constexpr int64_t kMaxReencodedPixels = int64_t(lvimage::kMaxFullSizePixels);
constexpr int kMaxReencodedSide = 1024;

CoverImage reencodeAsPng(const AVPacket& pkt, AVCodecID codecId) {
    CoverImage out;
    const AVCodec* dec = avcodec_find_decoder(codecId);
    const AVCodec* enc = avcodec_find_encoder(AV_CODEC_ID_PNG);
    if (!dec || !enc) return out;
    AVCodecContext* dctx = avcodec_alloc_context3(dec);
    AVCodecContext* ectx = nullptr;
    AVFrame* frame = av_frame_alloc();
    AVFrame* rgba = av_frame_alloc();
    AVPacket* encoded = av_packet_alloc();
    SwsContext* sws = nullptr;
    if (dctx) dctx->max_pixels = kMaxReencodedPixels;
    if (dctx && frame && rgba && encoded && avcodec_open2(dctx, dec, nullptr) >= 0 &&
        avcodec_send_packet(dctx, &pkt) >= 0 && avcodec_send_packet(dctx, nullptr) >= 0 &&
        avcodec_receive_frame(dctx, frame) >= 0 && frame->width > 0 && frame->height > 0) {
        const double shrink = std::min(1.0, double(kMaxReencodedSide) / std::max(frame->width, frame->height));
        rgba->format = AV_PIX_FMT_RGBA;
        rgba->width = std::max(1, int(std::lround(frame->width * shrink)));
        rgba->height = std::max(1, int(std::lround(frame->height * shrink)));
        sws = sws_getContext(frame->width, frame->height, AVPixelFormat(frame->format), rgba->width, rgba->height,
                             AV_PIX_FMT_RGBA, SWS_AREA, nullptr, nullptr, nullptr);
        ectx = avcodec_alloc_context3(enc);
        if (sws && ectx && av_frame_get_buffer(rgba, 0) >= 0) {
            sws_scale(sws, frame->data, frame->linesize, 0, frame->height, rgba->data, rgba->linesize);
            ectx->width = rgba->width;
            ectx->height = rgba->height;
            ectx->pix_fmt = AV_PIX_FMT_RGBA;
            ectx->time_base = AVRational{1, 1};
            if (avcodec_open2(ectx, enc, nullptr) >= 0 && avcodec_send_frame(ectx, rgba) >= 0 &&
                avcodec_send_frame(ectx, nullptr) >= 0 && avcodec_receive_packet(ectx, encoded) >= 0) {
                out.bytes.assign(encoded->data, encoded->data + encoded->size);
                out.format = ImageFormat::Png;
            }
        }
    }
    sws_freeContext(sws);
    av_packet_free(&encoded);
    av_frame_free(&rgba);
    av_frame_free(&frame);
    avcodec_free_context(&ectx);
    avcodec_free_context(&dctx);
    return out;
}

CoverImage attachedPicture(AVFormatContext* fmt) {
    for (unsigned i = 0; i < fmt->nb_streams; ++i) {
        AVStream* st = fmt->streams[i];
        if (!(st->disposition & AV_DISPOSITION_ATTACHED_PIC) || st->attached_pic.size <= 0) continue;
        const AVPacket& pkt = st->attached_pic;
        CoverImage c;
        c.format = sniffImageFormat(pkt.data, size_t(pkt.size));
        if (c.format != ImageFormat::NoImage) {
            c.bytes.assign(pkt.data, pkt.data + pkt.size);
            return c;
        }
        c = reencodeAsPng(pkt, st->codecpar->codec_id);
        if (!c.empty()) return c;
    }
    return {};
}

// Opens `path` as media and fills the tags; the caller closes `fmt`.
bool openFormat(const std::string& path, AVFormatContext*& fmt, int& audioStream, const AVCodec** codec,
                TrackMeta& meta, std::string& error) {
    fmt = nullptr;
    audioStream = -1;
    if (std::string problem = fileProblem(path); !problem.empty()) {
        error = "cannot play " + path + ": " + problem;
        return false;
    }
    int rc = avformat_open_input(&fmt, path.c_str(), nullptr, nullptr);
    if (rc < 0) {
        error = "cannot play " + path + ": " + unopenableReason(path, rc);
        fmt = nullptr;
        return false;
    }
    // Attached pictures are decoded here too, to learn their pixel format:
    // the same bound as for re-encoding them, before a bomb is allocated.
    std::vector<AVDictionary*> streamOptions(fmt->nb_streams, nullptr);
    for (AVDictionary*& options : streamOptions) av_dict_set_int(&options, "max_pixels", kMaxReencodedPixels, 0);
    rc = avformat_find_stream_info(fmt, streamOptions.data());
    for (AVDictionary*& options : streamOptions) av_dict_free(&options);
    if (rc < 0) {
        error = "cannot play " + path + ": " + avError(rc) + " while reading its streams (is the file damaged?)";
        return false;
    }
    audioStream = av_find_best_stream(fmt, AVMEDIA_TYPE_AUDIO, -1, -1, codec, 0);
    if (audioStream < 0) {
        if (audioStream != AVERROR_DECODER_NOT_FOUND) {
            error = "cannot play " + path + ": " + kNoSound;
        } else {
            const std::string codec = undecodableCodec(fmt);
            error = "cannot play " + path + ": its audio is in a format this build of FFmpeg cannot decode (" +
                    (codec.empty() ? std::string("one FFmpeg does not know") : codec) + ")";
        }
        return false;
    }
    AVStream* st = fmt->streams[audioStream];
    meta = TrackMeta{};
    meta.path = path;
    meta.title = firstTag(fmt, st, {"title"});
    meta.artist = firstTag(fmt, st, {"artist", "album_artist", "performer", "composer"});
    meta.album = firstTag(fmt, st, {"album"});
    meta.genre = firstTag(fmt, st, {"genre"});
    meta.trackNumber = leadingInt(firstTag(fmt, st, {"track"}));
    meta.year = leadingInt(firstTag(fmt, st, {"date", "year"}));
    if (meta.title.empty()) meta.title = titleFromPath(path);
    if (fmt->duration != AV_NOPTS_VALUE && fmt->duration > 0)
        meta.durationMs = fmt->duration / (AV_TIME_BASE / 1000);
    else if (st->duration != AV_NOPTS_VALUE && st->duration > 0)
        meta.durationMs = av_rescale_q(st->duration, st->time_base, AVRational{1, 1000});
    meta.cover = attachedPicture(fmt);
    if (meta.cover.empty()) meta.cover = findCoverBeside(path);
    return true;
}

}  // namespace

bool holdsSound(const std::string& path) {
    if (!fileProblem(path).empty()) return false;
    AVFormatContext* fmt = nullptr;
    if (avformat_open_input(&fmt, path.c_str(), nullptr, nullptr) < 0) return false;
    auto hasAudio = [&] {
        for (unsigned i = 0; i < fmt->nb_streams; ++i)
            if (fmt->streams[i]->codecpar->codec_type == AVMEDIA_TYPE_AUDIO) return true;
        return false;
    };
    // Formats whose streams show only in their packets (MPEG transport
    // streams) are read a little further.
    bool found = hasAudio();
    if (!found && (fmt->ctx_flags & AVFMTCTX_NOHEADER) && avformat_find_stream_info(fmt, nullptr) >= 0)
        found = hasAudio();
    avformat_close_input(&fmt);
    return found;
}

void setMediaVerbose(bool verbose) { av_log_set_level(verbose ? AV_LOG_INFO : AV_LOG_QUIET); }

bool probeTrack(const std::string& path, TrackMeta& meta, std::string& error) {
    AVFormatContext* fmt = nullptr;
    int stream = -1;
    bool ok = openFormat(path, fmt, stream, nullptr, meta, error);
    avformat_close_input(&fmt);
    return ok;
}

struct AudioDecoder::Impl {
    AVFormatContext* fmt = nullptr;
    AVCodecContext* codec = nullptr;
    SwrContext* swr = nullptr;
    AVPacket* packet = nullptr;
    AVFrame* frame = nullptr;
    int stream = -1;
    TrackMeta meta;
    std::string error;
    bool failed = false;
    bool demuxDone = false;    // no more packets
    bool decoderDone = false;  // decoder drained
    bool resamplerDone = false;
    bool resamplerHolds = false;   // converted output left in the resampler by a big frame
    int badPackets = 0;
    size_t framesOut = 0;
    long long statedMs = -1;   // the header's length, when it is more than a guess from the bit rate
    std::string brokeOff;      // why the sound ended in the middle, once some had come out
    bool ended = false;        // read() has seen the end and judged it
    // Damage inside the file, found from the packets: bytes the decoder
    // refused, and jumps in the timestamps. Refused bytes are timed at the
    // rate of the good ones, so the length missing is known whatever the
    // header says (or does not).
    struct Gap {
        long long atMs;        // sound heard before it
        long long missingMs;
    };
    std::vector<Gap> gaps;
    long long goodBytes = 0;
    double goodSeconds = 0.0;
    long long runBytes = 0;    // the damage since the last good packet
    long long runPtsMs = 0;
    long long tagLeft = 0;     // bytes of an ID3 tag between the frames still to come
    int64_t nextPts = AV_NOPTS_VALUE;
    long long convertedFrames = 0;
    std::vector<float> pending;   // converted samples not yet handed out
    size_t pendingPos = 0;        // in floats
    const uint8_t* noInput[64] = {};   // a plane pointer for each channel the resampler takes

    ~Impl() { close(); }

    void close() {
        swr_free(&swr);
        avcodec_free_context(&codec);
        avformat_close_input(&fmt);
        av_packet_free(&packet);
        av_frame_free(&frame);
        pending.clear();
        pendingPos = 0;
    }

    void fail(const std::string& why) {
        failed = true;
        error = why;
        demuxDone = decoderDone = resamplerDone = true;
    }

    // Unreadable data: the file cannot be played at all when nothing came of
    // it yet; after a good stretch the track ends there, with what is
    // already decoded still handed out.
    void breakOff(const std::string& reason) {
        if (framesOut == 0 && pending.size() == pendingPos) {
            fail("cannot play " + meta.path + ": " + reason);
        } else if (brokeOff.empty()) {
            brokeOff = reason;
            demuxDone = true;
        }
    }

    // At the end of the sound: a track that broke off, or stopped well
    // before the length its header states, is failed() with a sentence that
    // says where.
    void judgeEnd() {
        if (ended || failed) return;
        ended = true;
        if (framesOut == 0) {
            fail("cannot play " + meta.path + ": no audio could be decoded from it");
            return;
        }
        const long long playedMs = (long long)framesOut * 1000 / kMediaSampleRate;
        long long missingMs = 0;
        std::string damage;
        for (size_t i = 0; i < gaps.size(); ++i) {
            missingMs += gaps[i].missingMs;
            if (i < kGapsNamed)
                damage += (i ? ", " : "") + std::to_string((gaps[i].missingMs + 500) / 1000) + " s " +
                          (i ? "" : "missing ") + "after " + clockText(gaps[i].atMs);
        }
        if (gaps.size() > kGapsNamed) damage += " and " + std::to_string(gaps.size() - kGapsNamed) + " more";
        const long long shortMs = statedMs - playedMs - missingMs;
        const bool cutShort =
            statedMs > 0 && shortMs > std::max(kShortfallToleranceMs, statedMs / kShortfallToleranceParts);
        if (brokeOff.empty() && !cutShort && damage.empty()) return;
        failed = true;
        std::string stops;
        if (!brokeOff.empty() || cutShort)
            stops = "stops at " + clockText(playedMs) +
                    (statedMs > 0 ? " of the " + clockText(statedMs) + " its header states" : std::string()) + ": " +
                    (brokeOff.empty() ? "the file is cut short (an interrupted download or copy?)" : brokeOff);
        error = meta.path + (damage.empty() ? " " + stops
                                            : " is damaged: " + damage + (stops.empty() ? "" : "; it also " + stops));
    }

    long long bytesToMs(long long bytes) const {
        if (goodBytes > 0 && goodSeconds > 0.0)
            return (long long)(double(bytes) * goodSeconds / double(goodBytes) * 1000.0);
        const int64_t bitRate = fmt->streams[stream]->codecpar->bit_rate;
        return bitRate > 0 ? bytes * 8000 / bitRate : 0;
    }

    // Before a packet of the stream is decoded: the time jumped over since
    // the last one. (Byte positions cannot tell: packets of an Ogg page, say,
    // all carry the page's.)
    void notePacketPlace(const AVPacket& p) {
        const AVRational base = fmt->streams[stream]->time_base;
        if (p.pts != AV_NOPTS_VALUE && nextPts != AV_NOPTS_VALUE && p.pts > nextPts)
            runPtsMs += av_rescale_q(p.pts - nextPts, base, AVRational{1, 1000});
        // A packet with no time of its own (what a FLAC parser makes of
        // garbage) leaves the expectation where it was.
        if (p.pts != AV_NOPTS_VALUE)
            nextPts = p.duration > 0 ? p.pts + p.duration : AV_NOPTS_VALUE;
        else if (nextPts != AV_NOPTS_VALUE && p.duration > 0)
            nextPts += p.duration;
    }

    // Whether the packet is an ID3 tag between the frames, or part of one:
    // songs joined end to end keep their tags, which are neither sound nor
    // damage. A big tag (a cover) comes in several packets, some of which
    // look like frames; only the first says ID3, and how long the tag is.
    // Only raw MPEG audio and AAC streams have tags there; a packet of
    // another codec (Opus, say) may begin with those three letters.
    bool insideTag(const AVPacket& p) {
        const AVCodecID id = fmt->streams[stream]->codecpar->codec_id;
        if (id != AV_CODEC_ID_MP1 && id != AV_CODEC_ID_MP2 && id != AV_CODEC_ID_MP3 && id != AV_CODEC_ID_AAC)
            return false;
        if (p.size >= 10 && std::memcmp(p.data, "ID3", 3) == 0 && p.data[3] >= 2 && p.data[3] <= 4 &&
            ((p.data[6] | p.data[7] | p.data[8] | p.data[9]) & 0x80) == 0) {
            const long long size = (p.data[6] & 0x7F) << 21 | (p.data[7] & 0x7F) << 14 | (p.data[8] & 0x7F) << 7 |
                                   (p.data[9] & 0x7F);
            tagLeft = 10 + size + ((p.data[5] & 0x10) ? 10 : 0);   // header, body and footer
        }
        if (tagLeft <= 0) return false;
        tagLeft -= p.size;
        return true;
    }

    // After it: refused bytes join the damage; a good packet ends it, and
    // a stretch long enough to hear is kept with its place.
    void notePacketDecoded(const AVPacket& p, bool good) {
        if (!good) {
            runBytes += p.size;
            return;
        }
        const long long missingMs = std::max(runPtsMs, bytesToMs(runBytes));
        if (missingMs >= kGapToleranceMs)
            gaps.push_back({convertedFrames * 1000 / kMediaSampleRate, missingMs});
        runBytes = runPtsMs = 0;
        goodBytes += p.size;
        if (p.duration > 0) goodSeconds += double(p.duration) * av_q2d(fmt->streams[stream]->time_base);
    }

    // Converts onto `pending`: a decoded frame, else (null) what the
    // resampler still holds, or with `flush` its last samples at the end.
    // Each call makes at most kMaxConvertFrames; the rest waits in the
    // resampler, so a header with an absurdly low sample rate cannot turn
    // one packet into gigabytes. Returns the frames made.
    int convert(const AVFrame* in, bool flush = false) {
        int inCount = in ? in->nb_samples : 0;
        int bound = swr_get_out_samples(swr, inCount);
        if (bound <= 0) return 0;
        int capacity = std::min(bound, kMaxConvertFrames);
        size_t base = pending.size();
        pending.resize(base + size_t(capacity) * kMediaChannels);
        uint8_t* outPlanes[1] = {reinterpret_cast<uint8_t*>(pending.data() + base)};
        // No input but not null: null would tell the resampler the stream is over.
        const uint8_t** input = in ? const_cast<const uint8_t**>(in->extended_data) : flush ? nullptr : noInput;
        int got = swr_convert(swr, outPlanes, capacity, input, inCount);
        if (got < 0) {
            pending.resize(base);
            fail("cannot play " + meta.path + ": resampling failed (" + avError(got) + ")");
            return 0;
        }
        pending.resize(base + size_t(got) * kMediaChannels);
        convertedFrames += got;
        if (bound > capacity) resamplerHolds = true;
        // Damaged float data must not reach the speakers or the AAC encoder
        // (which refuses NaN), and lossy decoders overshoot full scale.
        for (size_t i = base; i < pending.size(); ++i) {
            float& v = pending[i];
            v = std::isfinite(v) ? std::clamp(v, -1.0f, 1.0f) : 0.0f;
        }
        return got;
    }

    // Receives every frame the decoder has ready.
    void drainDecoder() {
        for (;;) {
            int rc = avcodec_receive_frame(codec, frame);
            if (rc == AVERROR(EAGAIN)) return;
            if (rc == AVERROR_EOF) {
                decoderDone = true;
                return;
            }
            if (rc < 0) {
                // A frame the decoder could not finish: count it with the bad packets.
                if (++badPackets > kMaxConsecutiveBadPackets)
                    breakOff("the audio data is damaged (" + avError(rc) + ")");
                return;
            }
            badPackets = 0;
            convert(frame);
            av_frame_unref(frame);
            if (failed) return;
        }
    }

    // Produces more samples on `pending`; false when nothing more will come.
    bool refill() {
        while (pending.size() - pendingPos == 0) {
            if (pendingPos) {
                pending.clear();
                pendingPos = 0;
            }
            if (failed) return false;
            if (resamplerHolds && !decoderDone) {   // output of earlier input comes first
                if (convert(nullptr) > 0) continue;
                resamplerHolds = false;
            }
            if (decoderDone) {
                if (resamplerDone) return false;
                if (convert(nullptr, true) == 0) resamplerDone = true;
                continue;
            }
            if (demuxDone) {
                avcodec_send_packet(codec, nullptr);
                drainDecoder();
                if (!decoderDone && !failed) decoderDone = true;   // a decoder that never says EOF
                continue;
            }
            int rc = av_read_frame(fmt, packet);
            if (rc == AVERROR_EOF) {
                demuxDone = true;
                continue;
            }
            if (rc < 0) {
                if (rc == AVERROR_INVALIDDATA && ++badPackets <= kMaxConsecutiveBadPackets) continue;
                breakOff(avError(rc) + " while reading (is the file damaged?)");
                continue;
            }
            if (packet->stream_index == stream && !insideTag(*packet)) {
                notePacketPlace(*packet);
                rc = avcodec_send_packet(codec, packet);
                const bool refused = rc < 0 && rc != AVERROR(EAGAIN);
                notePacketDecoded(*packet, !refused);
                if (refused) {
                    if (++badPackets > kMaxConsecutiveBadPackets)
                        breakOff("the audio data is damaged (" + avError(rc) + ")");
                } else {
                    drainDecoder();
                }
            }
            av_packet_unref(packet);
        }
        return true;
    }
};

AudioDecoder::AudioDecoder() : mImpl(std::make_unique<Impl>()) {}
AudioDecoder::~AudioDecoder() = default;

void AudioDecoder::close() {
    mImpl = std::make_unique<Impl>();
}

bool AudioDecoder::isOpen() const { return mImpl->codec != nullptr; }
bool AudioDecoder::failed() const { return mImpl->failed; }
const std::string& AudioDecoder::error() const { return mImpl->error; }
const TrackMeta& AudioDecoder::meta() const { return mImpl->meta; }

bool AudioDecoder::open(const std::string& path) {
    close();
    Impl& d = *mImpl;
    const AVCodec* dec = nullptr;
    if (!openFormat(path, d.fmt, d.stream, &dec, d.meta, d.error)) {
        d.meta.path = path;
        if (d.meta.title.empty()) d.meta.title = titleFromPath(path);
        d.close();
        d.failed = true;
        return false;
    }
    AVStream* st = d.fmt->streams[d.stream];
    d.codec = avcodec_alloc_context3(dec);
    d.packet = av_packet_alloc();
    d.frame = av_frame_alloc();
    int rc = d.codec ? avcodec_parameters_to_context(d.codec, st->codecpar) : AVERROR(ENOMEM);
    if (rc >= 0) rc = avcodec_open2(d.codec, dec, nullptr);
    if (rc < 0 || !d.packet || !d.frame) {
        d.error = "cannot play " + path + ": its " + std::string(dec->name) + " audio cannot be decoded (" +
                  avError(rc) + ")";
        d.close();
        d.failed = true;
        return false;
    }
    // The audio stream's own length: a video beside it may run longer.
    if (d.fmt->duration_estimation_method != AVFMT_DURATION_FROM_BITRATE && st->duration != AV_NOPTS_VALUE &&
        st->duration > 0)
        d.statedMs = av_rescale_q(st->duration, st->time_base, AVRational{1, 1000});
    d.statedMs = std::max(d.statedMs, statedPcmMs(path, st->codecpar));
    // Only the audio stream is read; the demuxer may drop the rest early.
    for (unsigned i = 0; i < d.fmt->nb_streams; ++i)
        if (int(i) != d.stream) d.fmt->streams[i]->discard = AVDISCARD_ALL;

    AVChannelLayout inLayout{};
    if (d.codec->ch_layout.order == AV_CHANNEL_ORDER_UNSPEC || d.codec->ch_layout.nb_channels <= 0)
        av_channel_layout_default(&inLayout, std::max(1, d.codec->ch_layout.nb_channels));
    else
        av_channel_layout_copy(&inLayout, &d.codec->ch_layout);
    AVChannelLayout outLayout = AV_CHANNEL_LAYOUT_STEREO;
    rc = swr_alloc_set_opts2(&d.swr, &outLayout, AV_SAMPLE_FMT_FLT, kMediaSampleRate, &inLayout,
                             d.codec->sample_fmt, d.codec->sample_rate, 0, nullptr);
    av_channel_layout_uninit(&inLayout);
    // Surround is mixed down with the standard weights (ITU-R BS.775), scaled
    // as FFmpeg scales a mix into whole numbers: no output channel's weights
    // sum past one, so no layout can push the stereo past full scale. Float
    // output would otherwise keep the raw sum, 7 dB too loud for 5.1.
    if (rc >= 0) rc = av_opt_set_double(d.swr, "rematrix_maxval", 1.0, 0);
    if (rc >= 0) rc = swr_init(d.swr);
    if (rc < 0 || d.codec->sample_rate <= 0) {
        d.error = "cannot play " + path + ": its audio format cannot be converted (" + avError(rc) + ")";
        d.close();
        d.failed = true;
        return false;
    }
    return true;
}

size_t AudioDecoder::read(float* out, size_t frames) {
    Impl& d = *mImpl;
    if (!d.codec) return 0;
    size_t done = 0;
    while (done < frames) {
        if (!d.refill()) break;
        size_t available = (d.pending.size() - d.pendingPos) / kMediaChannels;
        size_t n = std::min(available, frames - done);
        std::memcpy(out + done * kMediaChannels, d.pending.data() + d.pendingPos, n * kMediaChannels * sizeof(float));
        d.pendingPos += n * kMediaChannels;
        done += n;
    }
    d.framesOut += done;
    if (done < frames) d.judgeEnd();
    return done;
}

}  // namespace lv
