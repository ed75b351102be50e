// What a rendered video says of its music, so that a media library files it
// like the songs it shows: one track's title, artist, album and cover, or
// for a play list the first track's artist, album and cover under the list
// of titles.
#pragma once

#include <string>
#include <vector>

#include "lv/media.h"
#include "lv/video_out.h"

// "A, B, C": the titles as one, as many whole ones as fit in a title a
// library shows in full, then " …" for the rest.
std::string joinTitles(const std::vector<std::string>& titles);

// Tags and cover into `options`. `first` is the track the render begins
// with, `paths` the play list (empty for the demo song); the titles are
// those of `first` and the readable files after it that begin before
// `limitMs` (no limit when negative).
void describeMusic(lv::VideoOptions& options, const lv::TrackMeta& first, const std::vector<std::string>& paths,
                   long long limitMs);
