#include "video_tags.h"

#include <algorithm>

namespace {

constexpr size_t kMaxTitleBytes = lv::kMaxTagBytes;
const char* const kMore = " …";

}  // namespace

std::string joinTitles(const std::vector<std::string>& titles) {
    std::string joined;
    for (size_t i = 0; i < titles.size(); ++i) {
        std::string next = i == 0 ? boundTag(titles[i]) : joined + ", " + titles[i];
        // Whole titles only, so a character is never cut in half.
        if (i > 0 && next.size() > kMaxTitleBytes) return joined + kMore;
        joined = std::move(next);
    }
    return joined;
}

std::string sharedArtist(const std::vector<std::string>& artists) {
    std::string shared;
    for (const std::string& a : artists) {
        if (a.empty() || a == shared) continue;
        if (!shared.empty()) return "Various Artists";
        shared = a;
    }
    return shared;
}

void describeMusic(lv::VideoOptions& options, const lv::TrackMeta& first, const std::vector<std::string>& paths,
                   long long limitMs) {
    std::vector<std::string> titles{first.title}, artists{first.artist};
    bool oneAlbum = !first.album.empty();
    auto at = std::find(paths.begin(), paths.end(), first.path);
    long long startMs = first.durationMs;
    size_t length = first.title.size(), heard = 1;
    // Every track heard is read while they may all be of one album; past
    // that, once the title is full: one more title is enough to say that
    // more follow.
    for (auto it = at == paths.end() ? at : at + 1; it != paths.end(); ++it) {
        if (limitMs >= 0 && startMs >= limitMs) break;
        if (!oneAlbum && length > kMaxTitleBytes) break;
        lv::TrackMeta meta;
        std::string error;
        if (!lv::probeTrack(*it, meta, error)) continue;   // skipped by the render too
        oneAlbum = oneAlbum && meta.album == first.album;
        if (length <= kMaxTitleBytes) titles.push_back(meta.title);
        artists.push_back(meta.artist);
        ++heard;
        length += 2 + meta.title.size();
        // Past a track of unknown length every later one may still be heard.
        startMs = startMs < 0 || meta.durationMs < 0 ? -1 : startMs + meta.durationMs;
    }
    const bool album = oneAlbum && heard > 1;
    options.metadata.push_back({"title", album ? boundTag(first.album) : joinTitles(titles)});
    options.metadata.push_back({"artist", boundTag(album ? sharedArtist(artists) : first.artist)});
    options.metadata.push_back({"album", boundTag(first.album)});
    options.cover = first.cover.bytes;
}
