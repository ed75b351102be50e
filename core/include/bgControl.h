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

    BGControl();
    void setColor();
    void exist();
};
