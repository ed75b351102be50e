// The wells' list. Wells are only appended and only removed from the end, so
// a well's list position is its index; particles keep a pointer to the list
// object, never to a well, and survive its reallocation.
#include "gravityControl.h"

#include "imageBinaries.h"
#include "lumenvortexApplet.h"
#include "renderer.h"

GravityControl::GravityControl(int initialTotal)
    : baseSize(250), count(0), total(initialTotal), showOrb(true), mBatchedDraw(gRenderer != RENDERER_REFERENCE) {}

void GravityControl::exist() {
    baseSize = 50;
    if (total != count) adjustAmount();
    iterateList();
}

// At most one well per frame, so the count walks towards the target.
void GravityControl::adjustAmount() {
    total = constrain(total, 0, 50);
    if (total > count) {
        Vector3D l;
        l.z = random(-2, 2);
        l.y = random(-2, 2);
        l.x = random(-2, 2);
        myList.push_back(Gravity(count, this, &myList, Vector3D(0, 0, 0), Vector3D(0, 0, 0), l));
        count += 1;
    } else if (total < count) {
        myList.pop_back();
        count -= 1;
    }
}

// A well's drawing reads only its own state, which the later wells' steps
// do not touch, so drawing them all after the last step draws the same.
void GravityControl::iterateList() {
    for (Gravity& g : myList) {
        if (g.gone) {
            total -= 1;
            continue;
        }
        if (mBatchedDraw) {
            g.step();
        } else {
            g.exist();
        }
    }
    if (mBatchedDraw) renderBatched();
}

void GravityControl::render() {
    if (mBatchedDraw) {
        renderBatched();
        return;
    }
    for (Gravity& g : myList) {
        if (!g.gone) g.render();
    }
}

// Flat modes: each well's disc then ring, in list order, in one call, with
// whatever texture and polygon state the frame has (as render() does).
// Blended modes: the halos with one call, the cores with another. The halos
// are trimmed to haloOrb's opacity, except when the last frame's stroked
// ribbons left the polygon mode at lines: the immediate wells are then
// outlined squares (whose edges read only transparent texels), and so are
// these.
void GravityControl::renderBatched() {
    bool flat = gMode.flatShade();
    bool glow = !flat && haloOrb && rainbow;
    bool trim = polygonFilled();
    float reach = haloOrb ? haloOrb->GetOpaqueReach() : 1;
    bool bw = gMode.blackAndWhite();
    mHaloBatch.begin();
    mCoreBatch.begin();
    mCoreBatch.colorBytes(255, 255, 255, 255);
    // When the light layer holds the whole frame the wells go there.
    const bool cpu = glow && trim && lightLayer.replacing();
    const LightLayer::Texels haloTexels = LightLayer::Texels::of(haloOrbImage, haloOrb);
    const LightLayer::Texels coreTexels = LightLayer::Texels::of(rainbowImage, rainbow);
    const float right[3] = {mHaloBatch.right.x, mHaloBatch.right.y, mHaloBatch.right.z};
    const float up[3] = {mHaloBatch.up.x, mHaloBatch.up.y, mHaloBatch.up.z};
    for (Gravity& g : myList) {
        if (g.gone) continue;
        g.easeSize();
        if (flat) {
            mHaloBatch.colorFloats(1, 1, 1, 1 / 255.0f);
            mHaloBatch.disc(g.loc, g.d - g.myLevel);
            mHaloBatch.colorFloats(215 / 255.0f, 215 / 255.0f, 215 / 255.0f, ((255 - 5 * g.myLevel) / 255) / 255.0f);
            mHaloBatch.ring(g.loc, g.myLevel + 0.75f * g.d);
        } else if (glow) {
            float a = 5 * g.radius;
            if (a < 0) a = 0;
            if (a > 255) a = 255;
            int alpha = (int)a;
            if (cpu) {
                const unsigned char halo[4] = {static_cast<unsigned char>(bw ? 255 : 200),
                                               static_cast<unsigned char>(bw ? 255 : 175), 255,
                                               static_cast<unsigned char>(alpha)};
                const unsigned char white[4] = {255, 255, 255, 255};
                const float centre[3] = {g.loc.x, g.loc.y, g.loc.z};
                lightLayer.addSprite(haloTexels, centre, right, up, g.radius, reach, halo);
                lightLayer.addSprite(coreTexels, centre, right, up, g.radius / 4, 1, white);
                continue;
            }
            if (bw) {
                mHaloBatch.colorBytes(255, 255, 255, (unsigned char)alpha);
            } else {
                mHaloBatch.colorBytes(200, 175, 255, (unsigned char)alpha);
            }
            if (trim) {
                mHaloBatch.facingGlow(g.loc, g.radius, reach);
            } else {
                mHaloBatch.facingQuad(g.loc, -g.radius, -g.radius, -g.radius + 2 * g.radius, -g.radius + 2 * g.radius);
            }
            float x = -g.radius / 4, w = g.radius / 2;
            mCoreBatch.facingQuad(g.loc, x, x, x + w, x + w);
        }
    }
    if (flat) {
        mHaloBatch.draw(GL_TRIANGLES, false);
        return;
    }
    if (!glow) return;
    setTexturing(true);
    if (cpu) {
        // The state the GL draws below would leave.
        glBindTexture(GL_TEXTURE_2D, 0);
        currentColor(1, 1, 1, 1);
        return;
    }
    glBindTexture(GL_TEXTURE_2D, haloOrb->GetTexID());
    mHaloBatch.draw(trim ? GL_TRIANGLES : GL_QUADS, true);
    glBindTexture(GL_TEXTURE_2D, rainbow->GetTexID());
    mCoreBatch.draw(GL_QUADS, true);
    glBindTexture(GL_TEXTURE_2D, 0);
    currentColor(1, 1, 1, 1);
}

void GravityControl::repositionAll() {
    for (Gravity& g : myList) g.setRandomPosition();
}
