// The palette chooser. The palette bytes themselves (fireArray ... shirtArray
// and the imageData table) are artwork and live with the other compiled-in
// images; this file only picks from them.
#include "colors.h"

#include <cstdlib>

#include "lumenvortexApplet.h"

namespace {

const int PALETTE_SIDE = 20;
const int PALETTE_PIXELS = PALETTE_SIDE * PALETTE_SIDE;

color palettePixel(int paletteIndex, int pixel) {
    const unsigned char* p = imageData[paletteIndex] + 3 * pixel;
    return color(p[0], p[1], p[2]);
}

}  // namespace

// bgControl is constructed before colors and already asks it for a colour;
// index 0 and hue base 0 are then what static zero-initialisation left here.
Colors::Colors() : mHSBHueBase(0), index(0) {}

void Colors::initialize() { index = 0; }

void Colors::setIndex() {
    index = (index + 1) % 4;
    // The particles take their new colours around the hue base still in force.
    particleControl.setColors();
    mHSBHueBase = random(360.0f);
}

color Colors::getColor(int sentIndex, bool backgroundColor) {
    if (!gMode.hsbColor()) return palettePixel(index, constrain(sentIndex, 0, PALETTE_PIXELS - 1));

    float d = gMode.hsbHueDelta();
    if (backgroundColor) {
        float brightness = random(0.1f, 0.75f);
        float hue = mHSBHueBase + random(-d, d) + 20.0f;
        return color::hsbf(hue, 0.5f, brightness);
    }
    float brightness = random(0.1f, 0.5f);
    float hue = mHSBHueBase + random(-d, d);
    return color::hsbf(hue, 1.0f, brightness);
}

color Colors::getRandomColor() {
    if (gMode.hsbColor()) {
        float d = gMode.hsbHueDelta();
        float brightness = random(1.0f);
        float hue = mHSBHueBase + random(-d, d);
        return color::hsbf(hue, 1.0f, brightness);
    }
    int column = rand() % PALETTE_SIDE;
    int row = rand() % PALETTE_SIDE;
    return palettePixel(index, row * PALETTE_SIDE + column);
}
