#include "bgControl.h"

#include "lumenvortexApplet.h"
#include "glesRenderer.h"
#include "renderer.h"

BGControl::BGControl()
    : index(0), myColor(0), rr(0), rrDest(0), gg(0), ggDest(0), bb(0), bbDest(0), mFixedRgb(-1),
      mImageWidth(0), mImageHeight(0), mImageTexture(nullptr), mImageChanged(false) {
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
    // A host that composites the frames (LumenvortexSetBackground) gets
    // transparent black: the light added over it then shows as light.
    const float alpha = mFixedRgb == TRANSPARENT ? 0.0f : 1.0f;
    if (mFixedRgb == TRANSPARENT) colour[0] = colour[1] = colour[2] = 0.0f;
    glClearColor(colour[0], colour[1], colour[2], alpha);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    drawImage();
    // The blended modes' light may be drawn on the CPU (lightLayer.h); when
    // the wells will be filled (the last frame's stroked ribbons can leave
    // outlines on), the layer can hold the whole frame from the clear on.
    const bool layer = lightLayer.enabled && !gMode.flatShade() && !rendererIsGles() &&
                       particleControl.mBatchedDraw && gravityControl.mBatchedDraw;
    // Over a picture the layer's light is added to the frame, not copied
    // over it.
    if (layer) lightLayer.begin(polygonFilled() && mImage.empty(), colour);
}

void BGControl::setImage(const unsigned char* rgba, int w, int h) {
    if (rgba && w > 0 && h > 0) {
        mImage.assign(rgba, rgba + size_t(w) * size_t(h) * 4);
    } else {
        mImage.clear();
        w = h = 0;
    }
    mImageWidth = w;
    mImageHeight = h;
    mImageChanged = true;
}

void BGControl::forgetImageTexture() {
    // The texture went with its context: only the object's memory is given
    // back, as the applet does with its own images.
    if (mImageTexture) ::operator delete(static_cast<void*>(mImageTexture));
    mImageTexture = nullptr;
    mImageChanged = true;
}

// The picture over the whole canvas, opaque, before anything of the scene;
// the pass puts back what it changes.
void BGControl::drawImage() {
    if (mImageChanged) {
        delete mImageTexture;   // made in this context (forgetImageTexture drops the others)
        mImageTexture = mImage.empty() ? nullptr : new PImage(mImage.data(), mImageWidth, mImageHeight);
        mImageChanged = false;
        if (mImageTexture) {
            // The kit's images clamp to a transparent border, which filtering
            // would blend into the frame's edges: this one ends in itself.
            glBindTexture(GL_TEXTURE_2D, mImageTexture->GetTexID());
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
            glBindTexture(GL_TEXTURE_2D, 0);
        }
    }
    if (!mImageTexture || !gApplet || gApplet->mWidth <= 0 || gApplet->mHeight <= 0) return;
    const float w = (float)gApplet->mWidth, h = (float)gApplet->mHeight;
    // A pixel past every edge: the quad's diagonal meets the canvas's
    // corners exactly, and a multisampled frame would leave a corner sample
    // to neither triangle.
    if (rendererIsGles()) {
        glesRenderer.begin2D(w, h);
        image(*mImageTexture, -1, -1, w + 2, h + 2, color(255, 255, 255), 255);
        glesRenderer.end2D();
        return;
    }
    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, w, h, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    for (GLenum cap : {GL_DEPTH_TEST, GL_LIGHTING, GL_CULL_FACE, GL_ALPHA_TEST, GL_BLEND, GL_FOG})
        glDisable(cap);
    glDepthMask(GL_FALSE);
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    image(*mImageTexture, -1, -1, w + 2, h + 2, color(255, 255, 255), 255);
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glPopAttrib();
}
