// What the player puts behind the field with --background IMAGE or cover:
// the picture cropped to the frame's shape and scaled down to it (or, for a
// track's cover, to an eighth of it, blurred and dimmed so that the field
// stays the thing to look at). The plug-in stretches what it is given over
// the canvas, so a smaller picture costs nothing but its own softness.
//
// Who calls it: the player, when the plug-in starts and (for covers) at
// each track. Failure: loadImage() returns false with a sentence naming the
// file and the fix; a cover that does not decode is no cover, and the
// background goes back to the palette's colour.
#pragma once

#include <string>
#include <vector>

#include "lv/media.h"

struct BackdropPicture {
    int width = 0, height = 0;
    std::vector<unsigned char> rgba;   // empty: none
};

// A JPEG or PNG file (the same limits as covers) for a width x height frame.
bool loadBackdropImage(const std::string& path, int width, int height, BackdropPicture& out, std::string& error);
// A track's cover for a width x height frame: blurred and dimmed; an empty
// picture when the track has none or it does not decode.
BackdropPicture coverBackdrop(const lv::CoverImage& cover, int width, int height);
