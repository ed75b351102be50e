// The help panel: the infoPanel image at its natural size near the top left,
// over the finished scene.
#include <algorithm>

#include "glesRenderer.h"
#include "lumenvortexApplet.h"
#include "renderer.h"

void renderInfoPanel() {
    // Before the first context or canvas there is nothing to draw on; an
    // empty canvas would make the projection below a GL error.
    if (!infoPanel || !gApplet || gApplet->mWidth <= 0 || gApplet->mHeight <= 0) return;
    // A canvas smaller than the panel gets it shrunk to fit, 10 pixels in.
    const float room = float(std::min(gApplet->mWidth, gApplet->mHeight) - 20);
    const float scale = std::clamp(room / (float)std::max(infoPanel->GetWidth(), infoPanel->GetHeight()), 0.0f, 1.0f);
    const float w = (float)infoPanel->GetWidth() * scale, h = (float)infoPanel->GetHeight() * scale;

    if (rendererIsGles()) {
        // The same pass with its state set and put back explicitly.
        glesRenderer.begin2D((float)gApplet->mWidth, (float)gApplet->mHeight);
        image(*infoPanel, 10, 10, w, h,
              color(255, 255, 255), 255);
        glesRenderer.end2D();
        return;
    }

    glPushAttrib(GL_ALL_ATTRIB_BITS);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    // One unit per pixel, origin top left, y down (what gluOrtho2D gives, without GLU).
    glOrtho(0, gApplet->mWidth, gApplet->mHeight, 0, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();

    glDisable(GL_DEPTH_TEST);
    glDepthMask(GL_FALSE);
    glDisable(GL_LIGHTING);
    glDisable(GL_CULL_FACE);
    glDisable(GL_ALPHA_TEST);
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    // Ordinary "over" blending: the panel's own alpha darkens the scene behind it.
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);

    image(*infoPanel, 10, 10, w, h,
          color(255, 255, 255), 255);

    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
    glMatrixMode(GL_MODELVIEW);
    glPopMatrix();
    glPopAttrib();
}
