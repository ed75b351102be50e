// What a rendered video says of its music, so that a media library files it
// like the songs it shows: one track's title, artist, album and cover; for
// the tracks of one album, the album's name, its artist and cover; for any
// other play list the first track's artist, album and cover under the list
// of titles.
#pragma once

#include <string>
#include <vector>

#include "lv/media.h"
#include "lv/utf.h"
#include "lv/video_out.h"

using lv::boundTag;   // a tag cut to the length a library shows in full

// "A, B, C": the titles as one, as many whole ones as fit in a title a
// library shows in full, then " …" for the rest.
std::string joinTitles(const std::vector<std::string>& titles);

// The artist of tracks by `artists`: the one they share, else "Various
// Artists" (names left empty do not count).
std::string sharedArtist(const std::vector<std::string>& artists);

// Tags and cover into `options`. `first` is the track the render begins
// with, `paths` the play list (empty for the demo song); the tracks named
// are `first` and the readable files after it that begin before `limitMs`
// (no limit when negative).
void describeMusic(lv::VideoOptions& options, const lv::TrackMeta& first, const std::vector<std::string>& paths,
                   long long limitMs);
