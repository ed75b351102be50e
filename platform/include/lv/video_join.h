/* Videos put together end to end without encoding the picture again, for a
 * render made in parts (the player's --segment and --join): the parts'
 * H.264 (or VP9) packets are copied in order onto one clock, and their sound
 * is decoded, cut to each part's share and encoded once more as one track,
 * so that no encoder's start-up padding is heard at a seam.
 *
 * Failures: false with `error` set ("cannot read part-2.mp4: No such
 * file"); the output is written under a hidden name beside OUT and takes
 * its name only when whole, so a join that fails leaves OUT as it was.
 */
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "lv/video_out.h"

namespace lv {

struct VideoFileInfo {
    std::vector<std::pair<std::string, std::string>> metadata;   // the container's tags
    std::vector<VideoChapter> chapters;
    int width = 0, height = 0;
    long long frames = 0;         // as the container counts them (0: it does not say)
    std::string videoCodec;       // FFmpeg's name ("h264")
    bool sound = false;
};
bool readVideoInfo(const std::string& path, VideoFileInfo& info, std::string& error);

struct JoinPart {
    std::string path;
    long long soundSamples = -1;   // its share of the sound at 44.1 kHz; -1: all it holds
};

// `parts` in order into `out` (its container by its extension), with
// `metadata`, `chapters` and the first part's cover. The parts must share
// their picture's codec, size and settings.
bool joinVideos(const std::vector<JoinPart>& parts, const std::string& out,
                const std::vector<std::pair<std::string, std::string>>& metadata,
                const std::vector<VideoChapter>& chapters, std::string& error);

// SHA-256 of the files' bytes, in order, then `text`, as 64 hex digits.
bool sha256Hex(const std::vector<std::string>& files, const std::string& text, std::string& hex, std::string& error);

}  // namespace lv
