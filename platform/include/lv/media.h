/* Audio files in: decoding, tags, cover art and playlists, over FFmpeg's
 * libavformat, libavcodec and libswresample.
 *
 * Whatever the file holds (mp3, flac, ogg/vorbis/opus, m4a/aac, wav, and every
 * other format FFmpeg reads), AudioDecoder hands out 44.1 kHz stereo float
 * samples, interleaved left/right, in the range -1..1; surround is mixed down
 * with the standard weights, scaled so that no mix passes full scale. The
 * player and the spectrum server read their music through it; the player's
 * playlist comes from expandPlaylist.
 *
 * Failures: AudioDecoder::open returns false and error() says why in words a
 * person can act on: "cannot play x.mp3: " and the file is empty, cannot be
 * read by this user, holds text (or nothing FFmpeg reads) rather than audio,
 * holds no sound, or holds audio this build cannot decode. A file whose sound
 * breaks off, or stops short of the length its header states (a download cut
 * short), ends with failed() true once read() has returned less than asked,
 * and error() says where: "x.mp3 stops at 0:19 of the 1:18 its header
 * states: ...". So does one with sound missing inside it (bytes the decoder
 * refused, a jump in the timestamps): "x.mp3 is damaged: 8 s missing after
 * 0:06".
 * Nothing here prints, throws or aborts.
 */
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "lv/image_format.h"   // ImageFormat, sniffImageFormat
#include "lv/sample_format.h"

namespace lv {

constexpr int kMediaSampleRate = kSampleRate;
constexpr int kMediaChannels = kSampleChannels;

// Encoded picture bytes as they were found (or as made): JPEG or PNG only.
struct CoverImage {
    std::vector<unsigned char> bytes;
    ImageFormat format = ImageFormat::NoImage;
    bool empty() const { return bytes.empty() || format == ImageFormat::NoImage; }
};

// What a player shows of a track. title is never empty: the file name without
// its extension stands in for a missing title tag.
struct TrackMeta {
    std::string path;
    std::string title;
    std::string artist;
    std::string album;
    std::string genre;
    int trackNumber = 0;
    int year = 0;
    long long durationMs = -1;   // -1 when the container does not say
    CoverImage cover;            // attached picture, else a picture file beside the track
};

// cover.jpg, cover.png, folder.jpg, folder.png (any letter case) in the
// track's folder (the current folder for a bare file name), in that order
// of preference. Empty when none is readable.
CoverImage findCoverBeside(const std::string& audioPath);

// A picture file named by a player (an MPRIS art URL), with the limits of
// covers beside tracks: a regular file of at most 64 MiB holding JPEG or
// PNG. Empty otherwise, with `error` saying why ("Input/output error").
// A read that fails, as on a failing disk, is no cover, never a throw.
CoverImage readCoverFile(const std::string& path, std::string& error);

// The side of the square the track overlay draws a cover in, in pixels
// (the plug-in's LayOutOverlay, plugin/src/Lumenvortex.cpp).
constexpr int kCoverShownSide = 64;

// The cover as the overlay draws it: a picture larger than kCoverShownSide
// on a side decoded, shrunk to fit it (its shape kept) and made a small PNG;
// a smaller one as it is. Empty for bytes that are no picture. Decoding a
// large cover takes long: call it where no frame waits (the MPRIS watcher,
// the decoding thread), and hand the frame thread what it gives.
CoverImage coverForOverlay(const CoverImage& cover);

// coverForOverlay with the last answer kept: the same bytes again (the
// next track of an album, a player naming the same file) are not decoded
// again.
class OverlayCovers {
public:
    const CoverImage& prepare(const CoverImage& cover);

private:
    CoverImage mLastIn, mLastOut;
};

// The file's name without folders and extension: the stand-in title.
std::string titleFromPath(const std::string& path);

// True for names that end like an audio file (.mp3, .flac, .ogg, .opus,
// .m4a, .aac, .wav and the rest FFmpeg commonly plays), in any letter case.
bool looksLikeAudioFile(const std::string& name);

// How far expandPlaylist looks into folders, all of them together: a share
// of millions of files, or one too slow to answer, ends the walk with what
// was found so far and a sentence in `problems`.
struct PlaylistBounds {
    size_t maxEntries = 200000;   // names looked at, files and folders
    double maxSeconds = 30.0;
};

// True when FFmpeg takes the file for media with sound in it, from its
// header alone (the sound is not decoded): how a folder's files with names
// no music format is known by are told from pictures and notes.
bool holdsSound(const std::string& path);

// Files stay as given (FFmpeg decides whether they play); a folder becomes
// the audio files inside it and in its subfolders, sorted by name: those
// named like audio, and the others that holdsSound (tracker modules under
// odd names, say). Each folder is walked once and each file listed once,
// however links loop. Paths that do not exist are left out and described in
// `problems`.
std::vector<std::string> expandPlaylist(const std::vector<std::string>& paths, std::vector<std::string>& problems,
                                        const PlaylistBounds& bounds = {});

// FFmpeg's own console messages: off unless verbose (corrupt files otherwise
// fill the terminal with decoder complaints; our errors say it in one line).
void setMediaVerbose(bool verbose);

// Tags and cover of a file without preparing to decode it. False with
// `error` set when the file cannot be opened as media.
bool probeTrack(const std::string& path, TrackMeta& meta, std::string& error);

class AudioDecoder {
public:
    AudioDecoder();
    ~AudioDecoder();
    AudioDecoder(const AudioDecoder&) = delete;
    AudioDecoder& operator=(const AudioDecoder&) = delete;

    // Opens the file's best audio stream and reads its tags and cover.
    bool open(const std::string& path);
    void close();
    void swap(AudioDecoder& other) noexcept { mImpl.swap(other.mImpl); }

    // Up to `frames` stereo frames into `out` (2 floats each). Returns the
    // number written; fewer than asked means the track is over (check
    // failed(): the sound may have stopped before the track's end).
    size_t read(float* out, size_t frames);

    bool isOpen() const;
    bool failed() const;
    const std::string& error() const;
    const TrackMeta& meta() const;

    struct Impl;

private:
    std::unique_ptr<Impl> mImpl;
};

}  // namespace lv
