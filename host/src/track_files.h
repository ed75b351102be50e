// One video a track (--render DIR/): each track of the play list gets a
// file of its own in the folder, named and tagged after it, while the scene
// runs on from one to the next, so that the files played one after another
// are the album's video.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "lv/media.h"
#include "lv/video_out.h"

// Whether --render names a folder: a name that ends in '/', or a folder
// that is there.
bool isFolderOutput(const std::string& renderPath);

// The containers a folder's videos may be in, by extension; the first is
// the default.
const std::vector<std::string>& trackFormats();

// `name` as a file name that Linux, macOS and Windows file systems all
// take: no / \ : * ? " < > | nor control characters (each becomes '_'), no
// dot or space at the end, no device name of Windows (CON, LPT1 ...), at
// most kMaxTrackFileBytes bytes cut at a whole character; never empty.
std::string safeFileName(const std::string& name);
constexpr size_t kMaxTrackFileBytes = 200;   // beside the hidden name it is written under, within 255

// "NN Artist - Title.EXT" for track `number` of `count` ("NN Title.EXT"
// without an artist), made safe; the title is the file's name when the
// track has no tags.
std::string trackFileName(int number, int count, const lv::TrackMeta& meta, const std::string& ext);

class TrackFiles {
public:
    // Names a file for each track of `paths` that can be read (the demo
    // song: `first` alone) in `folder`. False with `error`, a sentence, when
    // one that begins before `limitMs` (no limit when negative) is there
    // already and `force` is not given, or is one of the tracks.
    bool plan(const std::string& folder, const std::string& ext, const std::vector<std::string>& paths,
              const lv::TrackMeta& first, long long limitMs, bool force, std::string& error);
    // Opens the video of `meta`, the track whose first frame comes next,
    // with `options` and the track's own tags and cover.
    lv::VideoWriter* open(const lv::TrackMeta& meta, lv::VideoOptions options, std::string& error);
    // Finishes the videos not finished yet (see VideoWriter::close).
    bool close(std::string& error, bool keep);

    struct File {
        std::string path;
        std::unique_ptr<lv::VideoWriter> video;
    };
    const std::vector<File>& files() const { return mFiles; }
    long long framesWritten() const;

private:
    struct Planned {
        std::string track, file;
        int number;
        long long durationMs;
    };
    std::string mFolder, mExt;
    std::vector<Planned> mPlan;
    size_t mNext = 0;   // the plan's first track not opened yet
    std::vector<File> mFiles;
};
