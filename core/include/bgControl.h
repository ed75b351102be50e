// The background (global `bgControl`): a current and a target colour, eased
// 5 % a frame; its exist() clears the frame and runs first in every frame.
#pragma once

#include <vector>

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
    // mFixedRgb's value for transparent black, for hosts that composite the
    // frames over something else.
    static constexpr long TRANSPARENT = -2;
    // A picture the host puts behind the field (RGBA, row 0 at the top),
    // stretched over the canvas; empty for none. Its texture is made in the
    // context current at the next frame.
    std::vector<unsigned char> mImage;
    int mImageWidth, mImageHeight;
    PImage* mImageTexture;
    bool mImageChanged;

    BGControl();
    void setColor();
    void exist();
    void setImage(const unsigned char* rgba, int w, int h);
    // A new context: the old one's texture went with it.
    void forgetImageTexture();

private:
    void drawImage();
};
