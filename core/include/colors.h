// The palette chooser (global `colors`): colours from four 20 x 20 RGB
// palette images or, in HSB modes, from a hue band around a random base hue.
#pragma once

#include "libp5.h"

// Palettes: 400 pixels of red, green, blue each, row by row (pixel n at 3n).
extern unsigned char orangesArray[1200];
extern unsigned char shirtArray[1200];
extern unsigned char* imageData[4];   // fire, purples, oranges, shirt

class Colors {
public:
    float mHSBHueBase;
    int index;

    Colors();
    void initialize();
    void setIndex();
    color getColor(int sentIndex, bool backgroundColor);
    color getRandomColor();
};
