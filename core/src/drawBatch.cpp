// Vertex arrays for the field's passes (see drawBatch.h): shapes gathered on
// the CPU, one draw call per pass and texture.
#define GL_GLEXT_PROTOTYPES 1   // glMultiDrawArrays (GL 1.4), exported by libOpenGL
#include "drawBatch.h"

#include <GL/glext.h>

#include <cmath>
#include <cstddef>

#include "POV.h"
#include "glesRenderer.h"
#include "renderer.h"
#include "libp5.h"

extern POV pov;

namespace {

const int CIRCLE_STEPS = 32;

// GLInit's unit circle: the disc's 32 points and the ring band's 33 pairs,
// computed as its display lists compute them.
struct UnitCircle {
    float cx[CIRCLE_STEPS + 1], cy[CIRCLE_STEPS + 1];   // outer edge (and the disc)
    float ix[CIRCLE_STEPS + 1], iy[CIRCLE_STEPS + 1];   // the ring's inner edge
    UnitCircle() {
        for (int i = 0; i <= CIRCLE_STEPS; ++i) {
            float theta = (static_cast<float>(i) * TWO_PI) * 0.03125f;
            cx[i] = std::cos(theta);
            cy[i] = std::sin(theta);
            double t = static_cast<double>(theta);
            ix[i] = static_cast<float>(std::cos(t) * 0.75);
            iy[i] = static_cast<float>(std::sin(t) * 0.75);
        }
    }
};

const UnitCircle& unitCircle() {
    static const UnitCircle circle;
    return circle;
}

// glRotatef's turn for an angle given as rotateX/rotateY give it: radians
// to degrees in float, then to radians again for the sine and cosine.
void turn(float radians, float* s, float* c) {
    float deg = radians / PI * 180.0f;
    double rad = static_cast<double>(deg) * (M_PI / 180.0);
    *s = static_cast<float>(std::sin(rad));
    *c = static_cast<float>(std::cos(rad));
}

}  // namespace

void DrawBatch::begin() {
    float sa, ca, sb, cb;
    turn(-pov.yRot, &sa, &ca);
    turn(-pov.xRot, &sb, &cb);
    // Ry(a) Rx(b) applied to (1, 0, 0) and (0, 1, 0).
    right = Vector3D(ca, 0, -sa);
    up = Vector3D(sa * sb, cb, ca * sb);
    verts.clear();
    indices.clear();
    firsts.clear();
    counts.clear();
}

void DrawBatch::colorBytes(unsigned char red, unsigned char green, unsigned char blue, unsigned char alpha) {
    // glColor4ub's conversion.
    colorFloats(red / 255.0f, green / 255.0f, blue / 255.0f, alpha / 255.0f);
}

void DrawBatch::colorFloats(float red, float green, float blue, float alpha) {
    r = red;
    g = green;
    b = blue;
    a = alpha;
}

void DrawBatch::vertex(float x, float y, float z, float s, float t) { verts.push_back({x, y, z, s, t, r, g, b, a}); }

void DrawBatch::facing(const Vector3D& c, float u, float v, float s, float t) {
    vertex(c.x + (right.x * u + up.x * v), c.y + (right.y * u + up.y * v), c.z + (right.z * u + up.z * v), s, t);
}

void DrawBatch::facingQuad(const Vector3D& c, float x0, float y0, float x1, float y1) {
    facing(c, x0, y0, 0, 0);
    facing(c, x1, y0, 1, 0);
    facing(c, x1, y1, 1, 1);
    facing(c, x0, y1, 0, 1);
}

void DrawBatch::fan(GLuint base, int points) {
    // GL_POLYGON's triangles: a fan from the first point.
    for (int i = 1; i + 1 < points; i++) {
        indices.push_back(base);
        indices.push_back(base + i);
        indices.push_back(base + i + 1);
    }
}

void DrawBatch::facingGlow(const Vector3D& c, float half, float reach) {
    GLuint base = static_cast<GLuint>(verts.size());
    if (reach >= 1) {
        // Nothing to trim: the square.
        const float corner[4][2] = {{-1, -1}, {1, -1}, {1, 1}, {-1, 1}};
        for (const auto& k : corner) facing(c, k[0] * half, k[1] * half, (k[0] + 1) * 0.5f, (k[1] + 1) * 0.5f);
        fan(base, 4);
        return;
    }
    // The octagon around the circle of radius `reach`; with reach < 1 its
    // corners stay inside the square, and the texture coordinates are the
    // square's own (an affine map, so the texels sampled are the same).
    const float k = 0.41421356f * reach;   // tan(22.5 degrees)
    const float p[8][2] = {{reach, -k}, {reach, k}, {k, reach}, {-k, reach},
                           {-reach, k}, {-reach, -k}, {-k, -reach}, {k, -reach}};
    for (const auto& q : p) facing(c, q[0] * half, q[1] * half, (q[0] + 1) * 0.5f, (q[1] + 1) * 0.5f);
    fan(base, 8);
}

void DrawBatch::disc(const Vector3D& c, float dia) {
    const UnitCircle& u = unitCircle();
    GLuint base = static_cast<GLuint>(verts.size());
    for (int i = 0; i < CIRCLE_STEPS; i++) facing(c, dia * u.cx[i], dia * u.cy[i]);
    fan(base, CIRCLE_STEPS);
}

void DrawBatch::ring(const Vector3D& c, float dia) {
    const UnitCircle& u = unitCircle();
    GLuint base = static_cast<GLuint>(verts.size());
    for (int i = 0; i <= CIRCLE_STEPS; i++) {
        facing(c, dia * u.cx[i], dia * u.cy[i]);
        facing(c, dia * u.ix[i], dia * u.iy[i]);
    }
    // Each quad of the band's strip as two triangles.
    for (GLuint i = 0; i < CIRCLE_STEPS; i++) {
        GLuint outer = base + 2 * i, inner = outer + 1;
        for (GLuint v : {outer, inner, outer + 2, inner, inner + 2, outer + 2}) indices.push_back(v);
    }
}

void DrawBatch::endStrip() {
    GLint first = firsts.empty() ? 0 : firsts.back() + counts.back();
    GLsizei count = static_cast<GLsizei>(verts.size()) - first;
    firsts.push_back(first);
    counts.push_back(count);
    for (GLint i = first; i + 3 < first + count; i += 2) stripQuad(static_cast<GLuint>(i), true, true);
}

void DrawBatch::stripQuad(GLuint v, bool first, bool second) {
    if (first)
        for (GLuint k : {v + 2, v, v + 3}) indices.push_back(k);
    if (second)
        for (GLuint k : {v, v + 1, v + 3}) indices.push_back(k);
}

void DrawBatch::draw(GLenum mode, bool textured) { submit(mode, textured, false); }

void DrawBatch::drawStrips(GLenum mode, bool textured) { submit(mode, textured, true); }

static_assert(sizeof(DrawBatch::Vertex) == sizeof(GlesVertex) && offsetof(DrawBatch::Vertex, s) == offsetof(GlesVertex, s) &&
                  offsetof(DrawBatch::Vertex, r) == offsetof(GlesVertex, r),
              "the ES renderer takes the batches' vertices as they are");

// The ES renderer's form of the same call: the vertices as built, the
// primitive named for it (it has no quads or polygon modes of its own).
void DrawBatch::submitGles(GLenum mode, bool textured, bool strips) const {
    const auto* v = reinterpret_cast<const GlesVertex*>(verts.data());
    const int n = static_cast<int>(verts.size());
    if (strips) {
        glesRenderer.draw(GlesRenderer::QUAD_STRIPS, textured, v, n, nullptr, 0, firsts.data(), counts.data(),
                          static_cast<int>(firsts.size()));
    } else if (mode == GL_QUADS && indices.empty()) {
        glesRenderer.draw(GlesRenderer::QUADS, textured, v, n);
    } else if (mode == GL_LINES) {
        glesRenderer.draw(GlesRenderer::LINES, textured, v, n);
    } else {
        glesRenderer.draw(GlesRenderer::TRIANGLES, textured, v, n, indices.data(), static_cast<int>(indices.size()));
    }
}

void DrawBatch::submit(GLenum mode, bool textured, bool strips) {
    if (verts.empty()) return;
    if (rendererIsGles()) return submitGles(mode, textured, strips);
    const GLsizei stride = sizeof(Vertex);
    glPushClientAttrib(GL_CLIENT_VERTEX_ARRAY_BIT);
    glEnableClientState(GL_VERTEX_ARRAY);
    glVertexPointer(3, GL_FLOAT, stride, &verts[0].x);
    glEnableClientState(GL_COLOR_ARRAY);
    glColorPointer(4, GL_FLOAT, stride, &verts[0].r);
    if (textured) {
        glEnableClientState(GL_TEXTURE_COORD_ARRAY);
        glTexCoordPointer(2, GL_FLOAT, stride, &verts[0].s);
    } else {
        glDisableClientState(GL_TEXTURE_COORD_ARRAY);
    }
    glDisableClientState(GL_NORMAL_ARRAY);
    if (strips) {
        glMultiDrawArrays(mode, firsts.data(), counts.data(), static_cast<GLsizei>(firsts.size()));
    } else if (!indices.empty()) {
        glDrawElements(mode, static_cast<GLsizei>(indices.size()), GL_UNSIGNED_INT, indices.data());
    } else {
        glDrawArrays(mode, 0, static_cast<GLsizei>(verts.size()));
    }
    glPopClientAttrib();
    // A colour array leaves the current colour undefined; the immediate
    // calls leave the last vertex's.
    const Vertex& last = verts.back();
    glColor4f(last.r, last.g, last.b, last.a);
}
