#include "bgControl.h"

#include "lumenvortexApplet.h"
#include "renderer.h"

BGControl::BGControl()
    : index(0), myColor(0), rr(0), rrDest(0), gg(0), ggDest(0), bb(0), bbDest(0), mFixedRgb(-1) {
    setColor();
}

void BGControl::setColor() {
    // First match wins: a hue mode gets a hue background even when it is also black and white.
    if (gMode.forceBackgroundColor()) {
        color c = gMode.forcedBackgroundColor();
        rrDest = red(c);
        ggDest = green(c);
        bbDest = blue(c);
    } else if (!gMode.hsbColor() && gMode.blackAndWhite()) {
        rrDest = ggDest = bbDest = 0;
    } else if (!gMode.hsbColor() && gMode.flatShade()) {
        // On the 0..255 scale: a hair above black, not 80 %.
        rrDest = ggDest = bbDest = 0.8f;
    } else {
        // Palette modes take one of the dark pixels at the start of row 0; hue modes ignore k.
        int k = (int)random(12.0f);
        myColor = colors.getColor(k, true);
        rrDest = red(myColor);
        ggDest = green(myColor);
        bbDest = blue(myColor);
    }
}

void BGControl::exist() {
    rr = rr + (rr - rrDest) * -0.05f;
    gg = gg + (gg - ggDest) * -0.05f;
    bb = bb + (bb - bbDest) * -0.05f;
    float colour[3] = {rr / 255.0f, gg / 255.0f, bb / 255.0f};
    if (mFixedRgb >= 0)
        for (int k = 0; k < 3; k++) colour[k] = float((mFixedRgb >> (16 - 8 * k)) & 0xff) / 255.0f;
    glClearColor(colour[0], colour[1], colour[2], 1.0f);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    // The blended modes' light may be drawn on the CPU (lightLayer.h); when
    // the wells will be filled (the last frame's stroked ribbons can leave
    // outlines on), the layer can hold the whole frame from the clear on.
    const bool layer = lightLayer.enabled && !gMode.flatShade() && !rendererIsGles() &&
                       particleControl.mBatchedDraw && gravityControl.mBatchedDraw;
    if (layer) lightLayer.begin(polygonFilled(), colour);
}
