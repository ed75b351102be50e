// Batched drawing: the field's per-particle and per-well shapes gathered on
// the CPU into one vertex array per pass and drawn with one call per pass and
// texture, in place of immediate mode's calls per vertex and matrix per shape.
//
// The shapes are the immediate drawing's own: the same vertices in the same
// order within a pass, the same colours and texture coordinates, and the
// camera-facing turn that drawing makes with the GL matrix stack done here on
// the CPU. Additive passes (the blended modes) may reorder their shapes
// (saturating addition of non-negative terms does not depend on order); the
// depth-tested flat passes keep the immediate order.
//
// GL state: a pass sets what the immediate pass it replaces sets and leaves
// behind what that pass leaves (texture binding, current colour, polygon
// mode), so that every later pass, and the next frame, sees the same state
// either way. The client-array state it needs is its own: saved and restored
// around each draw call.
#pragma once

#include <GL/gl.h>

#include <vector>

#include "Vector3D.h"

class DrawBatch {
public:
    struct Vertex {
        float x, y, z;
        float s, t;
        float r, g, b, a;
    };

    std::vector<Vertex> verts;
    // Triangles of the shared-vertex shapes (glows, discs, rings); empty for
    // batches of quads and strips.
    std::vector<GLuint> indices;
    // Strips drawn with one glMultiDrawArrays: first vertex and count of each.
    std::vector<GLint> firsts;
    std::vector<GLsizei> counts;
    // The camera-facing plane of this frame: the turn rotateY(-pov.yRot),
    // rotateX(-pov.xRot) applied to the plane's x and y axes.
    Vector3D right, up;
    // Colour of the vertices added next.
    float r = 1, g = 1, b = 1, a = 1;

    // Takes the facing plane from the camera's angles and empties the batch.
    void begin();
    void colorBytes(unsigned char red, unsigned char green, unsigned char blue, unsigned char alpha);
    void colorFloats(float red, float green, float blue, float alpha);
    void vertex(float x, float y, float z, float s = 0, float t = 0);
    // A point of the facing plane at (u, v) from `centre`.
    void facing(const Vector3D& centre, float u, float v, float s = 0, float t = 0);
    // The unit square from (x0, y0) to (x1, y1) in the facing plane, as
    // image() and the sprites draw it: four GL_QUADS corners.
    void facingQuad(const Vector3D& centre, float x0, float y0, float x1, float y1);
    // A square glow of half-size `half`, trimmed to an octagon around the part
    // of its texture that has any opacity (`reach`, a fraction of the half
    // size, PImage::GetOpaqueReach()): six indexed triangles with the
    // square's texture coordinates. Outside the octagon every texel read is
    // fully transparent, and adding zero changes no pixel.
    void facingGlow(const Vector3D& centre, float half, float reach);
    // The kit's unit disc and ring (GLInit's display lists) at `centre`,
    // radius `dia`, facing the camera: their vertices once, as indexed
    // triangles.
    void disc(const Vector3D& centre, float dia);
    void ring(const Vector3D& centre, float dia);
    // Ends a GL_QUAD_STRIP begun at the end of the last one: for
    // drawStrips(), and as indexed triangles for draw(), split as GL splits a
    // strip's quads (v2 v0 v3, v0 v1 v3).
    void endStrip();
    // One quad of such a strip, the rungs v, v + 1 and v + 2, v + 3, as
    // indexed triangles split the same way: the first (v2 v0 v3) and the
    // second (v0 v1 v3) each only if asked for, so that a pass can leave out
    // a triangle that draws nothing.
    void stripQuad(GLuint v, bool first, bool second);

    // One call for the whole batch (glDrawElements when it has indices);
    // `textured` sends the texture coordinates (the caller binds and enables
    // the texture). The current colour is then the last vertex's, as the
    // immediate calls leave it.
    void draw(GLenum mode, bool textured);
    void drawStrips(GLenum mode, bool textured);

private:
    void submit(GLenum mode, bool textured, bool strips);
    void submitGles(GLenum mode, bool textured, bool strips) const;
    void fan(GLuint base, int points);
};
