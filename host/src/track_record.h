// The track record a host hands the plug-in with "vply" and "ctrk": the
// track's tags as UTF-16 Pascal-style strings (element 0 the length), the
// rest of the record filled as far as the player knows it.
#pragma once

#include <string>

#include "iTunesAPI.h"
#include "lv/media.h"

// UTF-8 into an ITUniStr255: at most 255 code units, never half a surrogate
// pair; invalid bytes become U+FFFD.
void setUniStr255(ITUniStr255& out, const std::string& utf8);
// Back to UTF-8, for messages and tests.
std::string uniStr255ToUtf8(const ITUniStr255& in);

void makeTrackRecord(const lv::TrackMeta& meta, ITTrackInfo& out);
