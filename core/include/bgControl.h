// The background (global `bgControl`): a current and a target colour, eased
// 5 % a frame; its exist() clears the frame and runs first in every frame.
#pragma once

#include "libp5.h"

class BGControl {
public:
    int index;
    color myColor;
    float rr, rrDest;
    float gg, ggDest;
    float bb, bbDest;
    // A colour the host fixes (0xRRGGBB) in place of the eased one, or -1.
    // The easing runs on underneath, so that the palette's colour is where
    // it would have been when the host lets go.
    long mFixedRgb;

    BGControl();
    void setColor();
    void exist();
};
