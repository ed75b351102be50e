/* Pictures and sound out to files: a video through libavcodec / libavformat
 * (H.264 + AAC in .mp4, .mkv and .mov; VP9 + Opus in .webm; with alpha,
 * ProRes 4444 in .mov and VP9 in .webm), numbered PNG frames and PNG bytes
 * through libpng, and a plain 16-bit WAV beside the frames.
 *
 * The player's offline render (--render, --frames) feeds these in order:
 * frames as RGBA rows (row 0 at the top, width * 4 bytes a row, the
 * LV_PORT_OFFSCREEN layout) and sound as 44.1 kHz stereo float.
 *
 * Failures: every call returns false with `error` set ("cannot write
 * out/demo.mp4: Permission denied"); after a failure the writer accepts no
 * more and close() releases what it holds. Same input, same options: same
 * bytes out. The music's identity (tags, cover, chapters) is a nicety: what
 * of it cannot be written is left out with a line in warnings(), and the
 * video is written all the same.
 */
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace lv {

// A mark where a track begins, from the start of the video; it lasts until
// the next one, the last until the end.
struct VideoChapter {
    long long startMs = 0;
    std::string title;   // UTF-8
};

struct VideoOptions {
    int width = 1280;    // even (4:2:0 chroma)
    int height = 720;
    int fps = 60;
    int crf = 18;                     // x264 constant quality: 18 looks like the source
    std::string preset = "veryfast";  // x264 speed / size trade
    int audioBitRate = 192000;
    std::vector<std::pair<std::string, std::string>> metadata;   // title, artist, comment ... (UTF-8)
    // JPEG or PNG bytes: the container's cover picture where it has one
    // (MP4: an attached picture; Matroska: a cover.jpg/.png attachment).
    std::vector<unsigned char> cover;
    // Frames are light drawn over black, to be kept with alpha
    // (lightToStraightAlpha): .webm and .mov only.
    bool alpha = false;
    // A live stream's rate control (openStream): x264 tuned for low
    // latency, key frames exactly every two seconds, and a VBV bounded at
    // maxKbps (the average too, unless `crf` rules within the bound).
    bool live = false;
    int maxKbps = 0;
    bool crfWithinBound = false;
};

// What a live stream's connection may be cut short by: `interrupt` is asked
// while FFmpeg waits on the network, and true gives up at once.
struct StreamLink {
    int (*interrupt)(void* user) = nullptr;
    void* user = nullptr;
    // A write or a connection that makes no progress this long fails, so
    // that a server gone silent is noticed like one that closed.
    long long timeoutMicros = 5000000;
};

// A picture in the encoder's own format (YUV 4:2:0), filled by
// VideoWriter::convert and used again and again.
class VideoPicture {
public:
    VideoPicture();
    ~VideoPicture();
    VideoPicture(const VideoPicture&) = delete;
    VideoPicture& operator=(const VideoPicture&) = delete;

    struct Impl;
    std::unique_ptr<Impl> mImpl;
};

class VideoWriter {
public:
    VideoWriter();
    ~VideoWriter();
    VideoWriter(const VideoWriter&) = delete;
    VideoWriter& operator=(const VideoWriter&) = delete;

    // The container follows the name's extension (.mp4, .mkv, .mov, .webm). The
    // file is written under a hidden name beside `path`, and takes `path`
    // at close() (or when the writer goes) once it holds a picture and
    // nothing failed: until then a file already named `path` stays as it
    // was, and one this user may not write is refused. A named pipe or a
    // device is refused: a pipe would hold the open until read, and the
    // index is written back into the file at the end.
    bool open(const std::string& path, const VideoOptions& options, std::string& error);
    // A live stream instead of a file: H.264 and AAC in FLV to an rtmp://
    // or rtmps:// URL, in MPEG-TS to srt://. Messages name the stream by
    // `shownAs` (the URL without its key), never by `url`. The header is
    // sent before it returns. close() ends the stream; nothing is kept.
    bool openStream(const std::string& url, const std::string& shownAs, const VideoOptions& options,
                    const StreamLink& link, std::string& error);
    // One picture, width * height * 4 bytes RGBA; shown for 1 / fps seconds.
    bool writeFrame(const unsigned char* rgba, std::string& error);
    // The same in two steps, so that the colour conversion of one frame can
    // run beside the encoding of the one before: convert() reads RGBA rows
    // `stride` bytes apart (negative for rows bottom up in memory) into
    // `picture`, on any one thread at a time, and touches nothing that
    // writePicture() uses; writePicture() encodes pictures in order, on the
    // thread that makes the other calls.
    bool convert(const unsigned char* rgba, long stride, VideoPicture& picture, std::string& error);
    bool writePicture(VideoPicture& picture, std::string& error);
    // The same at frame `pts` (in 1 / fps), later than any before: the
    // frames between are left out, the picture before held (a live stream
    // that dropped frames to keep up).
    bool writePicture(VideoPicture& picture, long long pts, std::string& error);
    // Interleaved stereo frames at 44.1 kHz, in order.
    bool writeAudio(const float* frames, size_t count, std::string& error);
    // Chapter marks, in order, written when the file is finished (MP4, MOV
    // and Matroska keep them; other containers drop them).
    void setChapters(std::vector<VideoChapter> chapters);
    // Flushes the encoders, finishes the file and gives it its name; with
    // no picture written, a write that failed or `keep` false, removes it
    // and leaves a file already under the name as it was.
    bool close(std::string& error, bool keep = true);

    long long framesWritten() const;
    // The hidden file being written until it takes its name; empty before
    // open() and after close().
    const std::string& partPath() const;
    // What of the tags, cover and chapters could not be written, one
    // sentence each; the video itself is fine.
    const std::vector<std::string>& warnings() const;

    struct Impl;

private:
    std::unique_ptr<Impl> mImpl;
};

// The container a live stream goes out in by the URL's protocol: "flv" for
// rtmp:// and rtmps://, "mpegts" for srt://; null for any other.
const char* streamContainer(const std::string& url);
// FFmpeg's own messages (shown with --verbose) from now on with `secret`
// written as "…" wherever it appears: a stream key stays off the terminal.
void hideInMessages(const std::string& secret);

// x264's speed presets, fastest first ("ultrafast" ... "placebo").
const std::vector<std::string>& x264Presets();

// Whether VideoWriter::open() would take `path` and `options`, told without
// opening anything: a container (by the name's extension) that holds its
// codecs (and alpha, when asked), an even size, a frame rate, one of x264's
// presets. False with
// `error` saying what to change ("a .webm file cannot hold ...").
bool checkVideoSettings(const std::string& path, const VideoOptions& options, std::string& error);

// A frame's light, drawn over black, as colour and coverage: alpha is the
// brightest channel and the colour is divided by it (straight, not
// premultiplied, alpha), so that the picture laid over black with normal
// "over" blending is the frame again. Rows r at rgba + r * stride in, rows
// top down and width * 4 bytes apart out.
void lightToStraightAlpha(const unsigned char* rgba, long stride, int width, int height, unsigned char* out);

// RGBA (row 0 at the top) to an 8-bit RGBA PNG, opaque alpha kept as it is.
bool writePng(const std::string& path, const unsigned char* rgba, int width, int height, std::string& error);
// The same with row r at rgba + r * stride (negative: rows bottom up in memory).
bool writePng(const std::string& path, const unsigned char* rgba, int width, int height, long stride,
              std::string& error);
// The same into memory; `channels` 3 (RGB) or 4 (RGBA) bytes per pixel.
bool encodePng(std::vector<unsigned char>& out, const unsigned char* pixels, int width, int height, int channels);

// 16-bit stereo 44.1 kHz WAV, for the sound beside a PNG sequence. Written
// under a hidden name beside `path` (partPath()), which it takes on close()
// with `keep`: a render that draws nothing leaves a file already under the
// name as it was. A writer destroyed without close() keeps nothing.
class WavWriter {
public:
    ~WavWriter();
    bool open(const std::string& path, std::string& error);
    bool write(const float* frames, size_t count, std::string& error);
    bool close(std::string& error, bool keep = true);
    const std::string& partPath() const { return mPart; }

private:
    std::FILE* mFile = nullptr;
    unsigned long long mFrames = 0;
    std::string mPath, mTarget, mPart;
    int mMode = -1;   // the replaced file's, given as the file takes its name
};

}  // namespace lv
