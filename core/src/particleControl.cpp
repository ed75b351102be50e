// The particle field: the list, the one-per-frame walk towards the target
// count, the frame's fixed order of particle steps, the pairwise repulsion
// and the drawing of sprites, rings and ribbons in every mode.
#include "particleControl.h"

#include <algorithm>

#include "GLInit.h"
#include "gravityControl.h"
#include "imageBinaries.h"
#include "lumenvortexApplet.h"
#include "renderer.h"
#include "workers.h"

namespace {

GLuint texName(const PImage* image) { return image ? image->GetTexID() : 0; }

// A camera-facing square of half-size r in the current frame.
void billboardQuad(float r) {
    glBegin(GL_QUADS);
    glTexCoord2f(0, 0);
    glVertex2f(-r, -r);
    glTexCoord2f(1, 0);
    glVertex2f(r, -r);
    glTexCoord2f(1, 1);
    glVertex2f(r, r);
    glTexCoord2f(0, 1);
    glVertex2f(-r, r);
    glEnd();
}

// What both glow passes share: filled, textured polygons in the modelview
// matrix, and the mode's size range and palette.
struct GlowLook {
    float maxSize;
    float minSize;
    bool bw;

    static GlowLook begin() {
        setPolygonOutline(false);
        matrixMode(GL_MODELVIEW);
        setTexturing(true);
        return {gMode.maxParticleSize(), gMode.minParticleSize(), gMode.blackAndWhite()};
    }
    float radius(const Particle& p) const { return minSize + (maxSize - minSize) * p.myLevel; }
};

// While it lives, the bound texture is read at its nearest texel, then the
// kit's linear filtering is put back. On a CPU rasteriser the filtering is a
// good part of a textured pixel's cost; for a smooth texture that the screen
// never enlarges much, neighbouring texels differ by little.
class NearestTexels {
public:
    NearestTexels() { filter(GL_NEAREST); }
    ~NearestTexels() { filter(GL_LINEAR); }
    NearestTexels(const NearestTexels&) = delete;
    NearestTexels& operator=(const NearestTexels&) = delete;

private:
    static void filter(GLint f) {
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, f);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, f);
    }
};

}  // namespace

ParticleControl::ParticleControl(int initialTotal)
    : baseSize(1), count(0), total(initialTotal), maxCount(5000), minCount(0), showOrb(true),
      showRibbon(true), mFastStep(true), mBatchedDraw(gRenderer != RENDERER_REFERENCE) {}

void ParticleControl::exist() {
    if (total != count) adjustAmount();
    iterateList();
}

// At most one particle per frame; the newest is always the first to go.
void ParticleControl::adjustAmount() {
    total = constrain(total, minCount, maxCount);
    if (total > count) {
        Vector3D l;
        l.z = random(-5, 5);
        l.y = random(-5, 5);
        l.x = random(-5, 5);
        myList.push_back(Particle(count, this, &myList, gravityControl.getList(), Vector3D(0, 0, 0),
                                  Vector3D(0, 0, 0), l));
        count += 1;
    } else if (total < count) {
        myList.pop_back();
        count -= 1;
    }
}

void ParticleControl::iterateList() {
    simulate();
    render();
}

void ParticleControl::simulate() {
    for (size_t i = 0; i < myList.size();) {
        if (myList[i].gone) {
            myList.erase(myList.begin() + (long)i);
            count -= 1;
        } else {
            i++;
        }
    }

    // The wells' pull uses the charge and mass of last frame's repulsion pass.
    bool flow = gMode.perlinFlow();
    if (mFastStep) {
        mFieldStep.forces(*this, flow);
        mFieldStep.moveAll(*this, flow);
        return;
    }
    for (Particle& p : myList) {
        p.getColor();
        p.updateSoundLevel();
        if (!flow) p.setGravForce();
    }

    repelAllParticles();

    for (Particle& p : myList) {
        p.pullTowardsCenter();
        if (flow) p.perlinDrift();
        p.move();
        p.setMoveHistory();
    }
}

void ParticleControl::render() {
    if (mBatchedDraw && lightLayer.active()) return renderOnLightLayer();
    if (mFieldStep.linesPending) mFieldStep.drawLines();
    if (mBatchedDraw) {
        if (showOrb && gMode.flatShade()) {
            renderFlatBatched();
        } else if (showOrb) {
            renderGlowsBatched();
        }
        if (showRibbon && gMode.renderRibbons()) renderRibbonsBatched();
        return;
    }
    if (gMode.flatShade()) {
        renderAllParticlesFlatShade();
    } else {
        renderAllParticlesNoFlatShade();
    }
    if (gMode.renderRibbons()) renderAllRibbons();
}

// All of it is added light, so the order of the passes does not matter: the
// layer takes the glows and the filled ribbons, then GL draws the stroked
// ribbons and the proximity lines over the composited frame, and the
// current colour is left as the usual order leaves it.
void ParticleControl::renderOnLightLayer() {
    const bool lines = mFieldStep.linesPending;
    const bool ribbons = showRibbon && gMode.renderRibbons();
    const bool stroked = ribbons && RibbonLook::current().stroke;
    if (showOrb) renderGlowsBatched();
    if (ribbons && !stroked) renderRibbonsBatched();
    lightLayer.composite();
    if (stroked || lines) lightLayer.putOnGL();   // GL draws over it
    if (stroked) renderRibbonsBatched();
    if (!lines) return;
    GLfloat colour[4];
    glGetFloatv(GL_CURRENT_COLOR, colour);
    mFieldStep.drawLines();
    if (showOrb || ribbons) currentColor(colour[0], colour[1], colour[2], colour[3]);
}

// Every unordered pair once. Both members get the same push with opposite
// signs, not divided by either mass; particle i's sum stays in a local and is
// written back once. Lines use the positions before this frame's move.
// The frame uses the fast pass (fieldStep.h) unless mFastStep is off; this
// one stays, in the plain order of the pairs, as the reference the fast
// pass is tested against and timed beside.
void ParticleControl::repelAllParticles() {
    bool lines = gMode.renderProximityLines();
    float strength = gMode.particleRepelStrength();

    for (Particle& p : myList) {
        p.Q = p.myLevel / (-10.0f) - 0.1f;
        p.M = -p.Q;
        p.invM = 1.0f / p.M;
    }

    // The ES renderer has no immediate mode: the lines are kept as the fast
    // pass keeps them, and render() draws them first, where these fall in
    // the frame's drawing too.
    std::vector<FieldStep::LineVertex>* kept = nullptr;
    if (lines && rendererIsGles()) {
        kept = &mFieldStep.lines[0];
        kept->clear();
        mFieldStep.linesPending = true;
    } else if (lines) {
        glBegin(GL_LINES);
    }

    size_t n = myList.size();
    for (size_t i = 0; i < n; i++) {
        Particle& a = myList[i];
        float t = strength * (a.invM * a.Q);
        Vector3D sum = a.acc;
        for (size_t j = i + 1; j < n; j++) {
            Particle& b = myList[j];
            Vector3D d = Vector3D::sub(a.loc, b.loc);
            float R2 = d.dot(d);
            if (R2 > 1) {
                float f = b.getQ() / R2 * t;
                d.mult(f);
            }
            sum.add(d);
            b.acc.sub(d);
            if (kept && R2 < 1500) {
                float alpha = (R2 / (-1500.0f) + 1) * 0.15f;
                kept->push_back({a.loc.x, a.loc.y, a.loc.z, 1, 1, 1, alpha});
                kept->push_back({b.loc.x, b.loc.y, b.loc.z, 1, 1, 1, alpha});
            } else if (lines && R2 < 1500) {
                glColor4f(1, 1, 1, (R2 / (-1500.0f) + 1) * 0.15f);
                glVertex3f(a.loc.x, a.loc.y, a.loc.z);
                glVertex3f(b.loc.x, b.loc.y, b.loc.z);
            }
        }
        a.acc = sum;
        // Entry 0 moves to entry 1 in this frame's setMoveHistory, so every
        // older recorded velocity is damped exactly once.
        a.xv[0] *= a.damp;
        a.yv[0] *= a.damp;
        a.zv[0] *= a.damp;
    }

    if (lines && !kept) glEnd();
}

void ParticleControl::renderAllParticlesNoFlatShade() {
    const GlowLook look = GlowLook::begin();
    const bool bw = look.bw;
    GLuint halo = texName(haloOrb);
    GLuint core = texName(orb);

    if (bw) glColor4ub(255, 255, 255, 255);

    for (Particle& p : myList) {
        pushMatrix();
        float r = look.radius(p);
        translate(p.loc.x, p.loc.y, p.loc.z);
        rotateY(-pov.yRot);
        rotateX(-pov.xRot);

        glBindTexture(GL_TEXTURE_2D, halo);
        if (!bw) {
            glColor4ub((GLubyte)(int)(p.rr * 255), (GLubyte)(int)(p.gg * 255), (GLubyte)(int)(p.bb * 255), 255);
        }
        billboardQuad(r);

        glBindTexture(GL_TEXTURE_2D, core);
        if (!bw) glColor4ub(255, 255, 255, 255);
        billboardQuad(r * 0.125f);

        popMatrix();
    }

    glBindTexture(GL_TEXTURE_2D, 0);
    glColor4ub(255, 255, 255, 255);
}

void ParticleControl::renderAllParticlesFlatShade() {
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glMatrixMode(GL_MODELVIEW);
    pushMatrix();
    bool simple = gMode.simpleShade();
    bool ribbons = gMode.renderRibbons();
    float maxSize = gMode.maxParticleSize();
    float minSize = gMode.minParticleSize();
    glDisable(GL_TEXTURE_2D);

    for (Particle& p : myList) {
        float size = minSize + (maxSize - minSize) * p.myLevel;
        if (!simple) {
            color white(255, 255, 255);
            white.alpha = 0;
            renderRing(p.loc.x, p.loc.y, p.loc.z, size / 3, white, 1);
        } else if (ribbons) {
            color c((unsigned char)(int)(p.rr * 255), (unsigned char)(int)(p.gg * 255),
                    (unsigned char)(int)(p.bb * 255));
            c.alpha = 0;
            renderRing(p.loc.x, p.loc.y, p.loc.z, size / 3, c, 1);
            renderEllipse(p.loc.x, p.loc.y, p.loc.z + 0.1f, size * 0.25f, c, 1);
        } else {
            // Fresh random colours every frame: blue, green, red drawn in
            // that order for each ring.
            const float scales[3] = {0.75f, 0.5f, 0.25f};
            const float alphas[3] = {25, 100, 50};
            for (int k = 0; k < 3; k++) {
                color c;
                c.blue = (unsigned char)(int)random(255);
                c.green = (unsigned char)(int)random(255);
                c.red = (unsigned char)(int)random(255);
                c.alpha = 0;
                renderRing(p.loc.x, p.loc.y, p.loc.z, size * scales[k], c, alphas[k]);
            }
        }
    }

    popMatrix();
}

// The batch form of Particle::renderRibbon: GL state once, one strip per
// particle, and the direction from the fast inverse square root.
void ParticleControl::renderAllRibbons() {
    RibbonLook look = RibbonLook::current();
    look.applyGLState();
    for (Particle& p : myList) {
        glBegin(GL_QUAD_STRIP);
        for (int i = 0; i < Particle::MAX_TAIL_LENGTH; i++) {
            float per = (float)(23 - i) / 24;
            p.ribbonEntry(i, per, look, true);
        }
        glEnd();
    }
}

// Glows and cores as two calls, one per texture. The glows are trimmed to
// the part of haloOrb that has any opacity (about 60 % of the square).
void ParticleControl::renderGlowsBatched() {
    const GlowLook look = GlowLook::begin();
    const bool bw = look.bw;
    float reach = haloOrb ? haloOrb->GetOpaqueReach() : 1;

    mGlowBatch.begin();
    mCoreBatch.begin();
    mGlowBatch.colorBytes(255, 255, 255, 255);
    mCoreBatch.colorBytes(255, 255, 255, 255);
    // On the light layer the sprites go there instead (lightLayer.h).
    const bool cpu = lightLayer.active();
    const LightLayer::Texels glowTexels = LightLayer::Texels::of(haloOrbImage, haloOrb);
    const LightLayer::Texels coreTexels = LightLayer::Texels::of(orbImage, orb);
    const float right[3] = {mGlowBatch.right.x, mGlowBatch.right.y, mGlowBatch.right.z};
    const float up[3] = {mGlowBatch.up.x, mGlowBatch.up.y, mGlowBatch.up.z};
    const unsigned char white[4] = {255, 255, 255, 255};
    for (Particle& p : myList) {
        float r = look.radius(p);
        unsigned char rgba[4] = {255, 255, 255, 255};
        if (!bw) {
            rgba[0] = (GLubyte)(int)(p.rr * 255), rgba[1] = (GLubyte)(int)(p.gg * 255), rgba[2] = (GLubyte)(int)(p.bb * 255);
            mGlowBatch.colorBytes(rgba[0], rgba[1], rgba[2], 255);
        }
        float c = r * 0.125f;
        if (cpu) {
            const float centre[3] = {p.loc.x, p.loc.y, p.loc.z};
            lightLayer.addSprite(glowTexels, centre, right, up, r, reach, rgba);
            lightLayer.addSprite(coreTexels, centre, right, up, c, 1, white);
            continue;
        }
        mGlowBatch.facingGlow(p.loc, r, reach);
        mCoreBatch.facingQuad(p.loc, -c, -c, c, c);
    }

    glBindTexture(GL_TEXTURE_2D, texName(haloOrb));
    if (!mGlowBatch.verts.empty()) mGlowBatch.draw(GL_TRIANGLES, true);
    glBindTexture(GL_TEXTURE_2D, texName(orb));
    if (!mCoreBatch.verts.empty()) mCoreBatch.draw(GL_QUADS, true);
    glBindTexture(GL_TEXTURE_2D, 0);
    currentColor(1, 1, 1, 1);
}

// Rings and discs in one call, in the immediate order (depth ties go to the
// first drawn), with the same random draws in the same order.
void ParticleControl::renderFlatBatched() {
    setPolygonOutline(false);
    matrixMode(GL_MODELVIEW);
    bool simple = gMode.simpleShade();
    bool ribbons = gMode.renderRibbons();
    float maxSize = gMode.maxParticleSize();
    float minSize = gMode.minParticleSize();
    setTexturing(false);

    DrawBatch& shapes = mGlowBatch;
    shapes.begin();
    for (Particle& p : myList) {
        float size = minSize + (maxSize - minSize) * p.myLevel;
        if (!simple) {
            shapes.colorFloats(1, 1, 1, 1 / 255.0f);
            shapes.ring(p.loc, size / 3);
        } else if (ribbons) {
            unsigned char r = (unsigned char)(int)(p.rr * 255), g = (unsigned char)(int)(p.gg * 255),
                          b = (unsigned char)(int)(p.bb * 255);
            shapes.colorFloats(r / 255.0f, g / 255.0f, b / 255.0f, 1 / 255.0f);
            shapes.ring(p.loc, size / 3);
            shapes.disc(Vector3D(p.loc.x, p.loc.y, p.loc.z + 0.1f), size * 0.25f);
        } else {
            const float scales[3] = {0.75f, 0.5f, 0.25f};
            const float alphas[3] = {25, 100, 50};
            for (int k = 0; k < 3; k++) {
                unsigned char b = (unsigned char)(int)random(255);
                unsigned char g = (unsigned char)(int)random(255);
                unsigned char r = (unsigned char)(int)random(255);
                shapes.colorFloats(r / 255.0f, g / 255.0f, b / 255.0f, alphas[k] / 255.0f);
                shapes.ring(p.loc, size * scales[k]);
            }
        }
    }
    shapes.draw(GL_TRIANGLES, false);
}

namespace {

const int TAIL = Particle::MAX_TAIL_LENGTH;

// An additive ribbon quad adds at most its largest alpha times its largest
// colour channel to any pixel (the texture only darkens). Under this it is
// left out: at most 4 steps of 255 where it lay, in the faint tails and the
// slow entries, which make up about half of all quads and as much of the
// ribbons' cost. The frames stay above 57 dB against the full drawing (the
// white mode, whose ribbons are the faintest, above 49 dB).
const float FAINT_LIGHT = 4.0f / 255;

// A particle's ribbon as both batched passes take it: each entry's colour
// and its rung's two ends, whether the rung has width, and the brightest
// channel, for FAINT_LIGHT.
struct RibbonEntries {
    float rgba[TAIL][4], ends[2 * TAIL][3], colour[TAIL];
    bool wide[TAIL];

    void fill(Particle& p, const RibbonLook& look) {
        for (int i = 0; i < TAIL; i++) {
            p.ribbonEntryValues(i, (float)(23 - i) / 24, look, true, rgba[i]);
            wide[i] = p.xOff != 0 || p.yOff != 0 || p.zOff != 0;
            colour[i] = std::max(std::max(rgba[i][0], rgba[i][1]), rgba[i][2]);
            ends[2 * i][0] = p.x[i] + p.xOff, ends[2 * i][1] = p.y[i] + p.yOff, ends[2 * i][2] = p.z[i] + p.zOff;
            ends[2 * i + 1][0] = p.x[i] - p.xOff, ends[2 * i + 1][1] = p.y[i] - p.yOff;
            ends[2 * i + 1][2] = p.z[i] - p.zOff;
        }
    }
    // The quad between entries i and i + 1 adds too little light to draw.
    bool faint(int i) const {
        return std::max(rgba[i][3], rgba[i + 1][3]) * std::max(colour[i], colour[i + 1]) < FAINT_LIGHT;
    }
    // Texture coordinates of end e.
    static float s(int e) { return static_cast<float>(e % 2); }
    static float t(int e) { return (float)(23 - e / 2) / 24 * 0.75f; }
};

}  // namespace

// Every particle's strip in one call, the values from the same
// Particle::ribbonEntryValues as the immediate strips. Filled strips leave
// out triangles with no area (a rung of zero width, as every head is) and,
// when blended, the faintest quads (FAINT_LIGHT). The ribbon texture is read
// at its nearest texel: 512 texels across a ribbon a few dozen pixels wide,
// and 384 along it, are never enlarged much, and its rows and columns change
// smoothly.
void ParticleControl::renderRibbonsBatched() {
    RibbonLook look = RibbonLook::current();
    look.applyGLState();
    DrawBatch& strips = mRibbonBatch;
    strips.begin();
    float c[4];
    if (look.stroke) {
        // Outlined quads show their edges whatever their colour: all of them,
        // as strips, whose quads GL outlines without their diagonals.
        for (Particle& p : myList) {
            for (int i = 0; i < TAIL; i++) {
                float per = (float)(23 - i) / 24;
                p.ribbonEntryValues(i, per, look, true, c);
                strips.colorFloats(c[0], c[1], c[2], c[3]);
                strips.vertex(p.x[i] + p.xOff, p.y[i] + p.yOff, p.z[i] + p.zOff, 0, per * 0.75f);
                strips.vertex(p.x[i] - p.xOff, p.y[i] - p.yOff, p.z[i] - p.zOff, 1, per * 0.75f);
            }
            strips.endStrip();
        }
        strips.drawStrips(GL_QUAD_STRIP, look.textured);
        return;
    }
    // Adding light that is black or transparent leaves every pixel as it
    // was; the depth-tested flat modes write depth whatever the colour.
    const bool additive = !look.flatShade;
    if (additive && lightLayer.active()) {
        const LightLayer::Texels texels = LightLayer::Texels::of(rainbowBlurImage, rainbowBlur);
        lightLayer.setRibbonTexels(look.textured ? &texels : nullptr);
        if (!myList.empty()) return renderRibbonsOnLayer(look);
    }
    RibbonEntries r;
    for (Particle& p : myList) {
        GLuint base = static_cast<GLuint>(strips.verts.size());
        r.fill(p, look);
        for (int e = 0; e < 2 * TAIL; e++) {
            const float* c = r.rgba[e / 2];
            strips.colorFloats(c[0], c[1], c[2], c[3]);
            strips.vertex(r.ends[e][0], r.ends[e][1], r.ends[e][2], RibbonEntries::s(e), RibbonEntries::t(e));
        }
        for (int i = 0; i + 1 < TAIL; i++) {
            if (additive && r.faint(i)) continue;
            strips.stripQuad(base + 2 * static_cast<GLuint>(i), r.wide[i + 1], r.wide[i]);
        }
    }
    if (strips.indices.empty() && !strips.verts.empty()) {
        // Nothing to draw; the current colour is left as drawing would leave it.
        const DrawBatch::Vertex& last = strips.verts.back();
        currentColor(last.r, last.g, last.b, last.a);
        return;
    }
    if (!look.textured) return strips.draw(GL_TRIANGLES, false);
    NearestTexels smooth;
    strips.draw(GL_TRIANGLES, true);
}

// The blended ribbons on the light layer, the particles in two halves, each
// into a list of the layer's on a thread of its own: at 5000 particles this
// vertex work was a third of the drawing thread's frame, with the helper
// idle. The values, the quads left out and the triangles are the strips'
// above; light adds the same from either list, so the frame is the one a
// single thread draws.
void ParticleControl::renderRibbonsOnLayer(const RibbonLook& look) {
    lightLayer.takeCamera();
    const size_t n = myList.size();
    float last[4] = {};
    runTasks(lightLayer.threads > 1, LightLayer::LISTS, [&](int list) {
        const size_t from = n * static_cast<size_t>(list) / LightLayer::LISTS;
        const size_t to = n * static_cast<size_t>(list + 1) / LightLayer::LISTS;
        RibbonEntries r;
        LightLayer::Point points[2 * TAIL];
        for (size_t k = from; k < to; k++) {
            r.fill(myList[k], look);
            // Rungs are projected when a quad first needs them: about half
            // the quads are too faint to draw.
            int projected = 0;
            for (int i = 0; i + 1 < TAIL; i++) {
                if (r.faint(i)) continue;
                for (int e = std::max(projected, 2 * i); e < 2 * i + 4; e++)
                    points[e] = lightLayer.project(r.ends[e][0], r.ends[e][1], r.ends[e][2], r.rgba[e / 2],
                                                   RibbonEntries::s(e), RibbonEntries::t(e));
                projected = 2 * i + 4;
                // The quad's two triangles as GL splits them (v2 v0 v3, v0 v1 v3).
                lightLayer.addQuad(points + 2 * i, r.wide[i + 1], r.wide[i], list);
            }
            if (k + 1 == n) std::copy(r.rgba[TAIL - 1], r.rgba[TAIL - 1] + 4, last);
        }
    });
    // The current colour is left as the strips' drawing would leave it.
    currentColor(last[0], last[1], last[2], last[3]);
}

void ParticleControl::setColors() {
    for (Particle& p : myList) p.setColor();
}
