#include "video_tags.h"

#include <algorithm>

namespace {

// Longer titles are cut short by the libraries and players that show them.
constexpr size_t kMaxTitleBytes = 120;

}  // namespace

std::string joinTitles(const std::vector<std::string>& titles) {
    std::string joined;
    for (size_t i = 0; i < titles.size(); ++i) {
        std::string next = i == 0 ? titles[i] : joined + ", " + titles[i];
        // Whole titles only, so a character is never cut in half.
        if (i > 0 && next.size() > kMaxTitleBytes) return joined + " …";
        joined = std::move(next);
    }
    return joined;
}

void describeMusic(lv::VideoOptions& options, const lv::TrackMeta& first, const std::vector<std::string>& paths,
                   long long limitMs) {
    std::vector<std::string> titles{first.title};
    auto at = std::find(paths.begin(), paths.end(), first.path);
    long long startMs = first.durationMs;
    size_t length = first.title.size();
    // A long list stops being read once the title is full: one more title
    // is enough to say that more follow.
    for (auto it = at == paths.end() ? at : at + 1; it != paths.end(); ++it) {
        if (limitMs >= 0 && startMs >= limitMs) break;
        lv::TrackMeta meta;
        std::string error;
        if (!lv::probeTrack(*it, meta, error)) continue;   // skipped by the render too
        titles.push_back(meta.title);
        length += 2 + meta.title.size();
        if (length > kMaxTitleBytes) break;
        // Past a track of unknown length every later one may still be heard.
        startMs = startMs < 0 || meta.durationMs < 0 ? -1 : startMs + meta.durationMs;
    }
    options.metadata.push_back({"title", joinTitles(titles)});
    options.metadata.push_back({"artist", first.artist});
    options.metadata.push_back({"album", first.album});
    options.cover = first.cover.bytes;
}
