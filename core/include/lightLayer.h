// The field's added light, the glows and the blended ribbons, drawn on the
// CPU into a layer that one pass then puts on the frame.
//
// Why: on a GL that rasterises on the CPU (Mesa's llvmpipe, the machines
// without a GPU) these two passes are most of a frame. The glows are half a
// million blended, filtered fragments at 525 particles; the ribbons are tens
// of thousands of slivers a pixel or less across, and a rasteriser that
// shades 4x4 blocks pays for every block along each one. Here each sprite
// and triangle is shaded only where it covers a pixel centre, tile by tile,
// so that a tile's part of the layer stays in cache while everything over it
// is added.
//
// How: the background's clear begins the frame's layer; addSprite() and
// addTriangle() project what they are given and record it in the tiles it
// touches; composite() shades the tiles while each stays in cache and puts
// the layer on the frame. When nothing but the clear has reached the frame
// yet, the layer starts at the background's colour and replaces the frame
// (a copy, which costs llvmpipe next to nothing); otherwise it starts empty
// and is added to the frame with one blended quad per run of lit tiles. For
// a host that takes its frames as pixels, a frame the layer replaces whole
// need not reach GL at all: it is held, and handed over from memory.
//
// The same picture: a fragment's light is what GL computes for it with the
// passes' state (blend SRC_ALPHA, ONE into 8-bit channels; the glows' texels
// read with linear filtering and a transparent border, the ribbons' at the
// nearest texel, with clamped coordinates, of a copy four times smaller
// each way), coverage follows GL's rules (pixel centres, positions on a
// 1/256 pixel grid, a shared edge owned by one side), and saturating
// addition of non-negative terms does not depend on order, so adding the
// layer once gives each pixel GL's value up to the rounding of the
// interpolation and filtering. (A ribbon triangle whose depths are within a
// hundredth of one another is interpolated straight across the window, the
// others with perspective.) Every mode's picture is 49 dB or more from the
// immediate drawing's (PSNR). Integer and IEEE single arithmetic without fused
// operations only: the layer is the same on every x86-64 machine, with one
// thread or two.
//
// Who calls it: BGControl::exist begins it after its clear, in the blended
// modes on the fixed-function renderer when `enabled`; the wells and the
// particles add to it while it is active(); ParticleControl::render
// composites it, then draws with GL what must go over it (stroked ribbons,
// proximity lines: light that adds the same in either order). GL state:
// begin() only reads; composite() sets what it relies on and puts back what
// it changes; the plug-in swaps a held frame out (or puts it on GL before
// anything else draws over it). Nothing here fails: a triangle crossing the
// near plane or far outside the view is clipped as GL clips it; a sprite
// wholly behind the eye draws nothing, as in GL.
#pragma once

#include <GL/gl.h>

#include <cstdint>
#include <vector>

class PImage;

class LightLayer {
public:
    // An RGBA image, row 0 at t = 0.
    struct Texels {
        const unsigned char* rgba;
        int width, height;
        // The pixels a texture was made from, at its size; none without one.
        static Texels of(const unsigned char* rgba, const PImage* texture);
    };
    // A vertex in clip space with its attributes.
    struct Point {
        float x, y, z, w;
        float attr[6];   // r g b a (clamped to [0, 1]) s t
    };

    // Whether the layer is used at all: set where GL rasterises on the CPU
    // (LumenvortexApplet::setupPostGL), and by tests to compare.
    bool enabled = false;
    // Threads that shade the tiles: 1, or 2 (the helper of workers.h too),
    // the default where the machine has two cores. The frame is the same
    // either way: each tile is shaded whole by one thread.
    int threads;

    LightLayer();

    // Starts the frame's layer with this frame's viewport and camera: the
    // background's colour (0 to 1) when `replace`, else empty. Inactive when
    // the viewport is empty.
    void begin(bool replace, const float background[3]);
    bool active() const { return mActive; }
    bool replacing() const { return mActive && mReplace; }
    // An object-space point in the matrices current at the frame's first
    // call (the camera's: every shape here is placed on the CPU), with its colour
    // (clamped to [0, 1], as fixed-function GL clamps it) and texture
    // coordinates.
    Point project(float x, float y, float z, const float rgba[4], float s, float t);
    // Takes the camera from GL's matrices, as project() does at the frame's
    // first call; after that the frame keeps it. A caller that projects from
    // helper threads calls this first, on the drawing thread.
    void takeCamera();
    // Triangles go into one of LISTS lists: a thread may fill one while
    // another fills another (runTasks' tasks, one list each), with
    // project(), addTriangle() and addQuad() the only calls between
    // takeCamera() and the tasks' end. Light adds the same in any order, so
    // which list a triangle is in does not change the frame.
    static const int LISTS = 2;
    // A triangle's light (blend SRC_ALPHA, ONE), textured at the nearest
    // texel of the texels setRibbonTexels gave, if any.
    void addTriangle(const Point& a, const Point& b, const Point& c, int list = 0);
    // A blended ribbon's quad between rungs (q[0] q[1]) and (q[2] q[3]): the
    // triangle (q[2] q[0] q[3]) when `first`, (q[0] q[1] q[3]) when
    // `second`, as addTriangle would draw each.
    void addQuad(const Point q[4], bool first, bool second, int list = 0);
    void setRibbonTexels(const Texels* texels);
    // A camera-facing textured square (corners centre -+ (right + up) *
    // half, its texture over the whole square) of colour rgba in the current
    // matrices, over the part within `reach` of its half-size (beyond it
    // every texel read is transparent), blended SRC_ALPHA, ONE.
    void addSprite(const Texels& texels, const float centre[3], const float right[3], const float up[3], float half,
                   float reach, const unsigned char rgba[4]);
    // Shades everything added since begin() and puts it on the frame in the
    // current framebuffer and viewport; the layer is then inactive. With
    // `holdFrame`, when the layer replaces the whole frame, it is left here
    // instead: see heldFrame().
    void composite();

    // Set by a host that takes its frames as pixels (an export): a frame
    // the layer replaces whole then never goes through GL at all (its
    // upload, the copy and the read-back were a tenth of a 1080p export).
    bool holdFrame = false;
    // The frame composite() held: RGBA, the viewport's size, row 0 at the
    // bottom as GL reads it; null when it went to GL. The caller swaps it
    // for another buffer (any size, any content) and calls frameTaken(), or
    // calls putOnGL() to have it drawn after all. Whatever draws with GL
    // over the frame calls putOnGL() first.
    std::vector<uint8_t>* heldFrame() { return mHeld ? &mLayer : nullptr; }
    void frameTaken() { mHeld = false; }
    void putOnGL();
    // Only the box (x, y, width, height in the viewport, from its lower
    // left) of the held frame goes on GL, for a pass that draws inside it
    // alone; takeBox() then reads the box back into the frame, still held.
    // False, with the whole frame put on GL instead, where GL cannot copy.
    bool lendBox(const int box[4]);
    void takeBox(const int box[4]);
    // The context that held the layer's texture and framebuffer is gone;
    // the next composite() makes new ones.
    void forgetGL() { mTexture = mFramebuffer = 0, mTexWidth = mTexHeight = 0, mCanBlit = -1; }

    // std::llround's rounding (halves away from zero), inline: the layer
    // snaps every vertex with it.
    static int64_t roundHalfAway(double x);

    // What the last composite() drew: for tests and benchmarks.
    int sprites = 0, triangles = 0, litTiles = 0;

private:
    static const int TILE = 64;
    // A vertex in window space, 1/256 pixel units from the viewport's corner.
    struct Vertex {
        int32_t x, y;
        float invW;
        float attr[6];
    };
    struct Sprite {
        float x0, y0, x1, y1;   // the square's corners in pixels (x1 < x0 when the projection mirrors)
        int px0, py0, px1, py1; // the pixel centres it may light
        float reach;            // beyond this fraction of the half-size every texel read is transparent
        int texture;            // into mSpriteTextures
        unsigned char rgba[4];
    };
    struct Triangle {
        uint32_t v[3];          // into its list's vertices, counter-clockwise on the screen
    };
    // Each on cache lines of its own: two threads fill two lists at once.
    struct alignas(64) TriangleList {
        std::vector<Vertex> vertices;
        std::vector<Triangle> triangles;
        std::vector<std::vector<uint32_t>> bins;   // per tile, into triangles
    };
    // A sprite texture with a transparent border of one texel all round, so
    // the filter's four reads never leave it.
    struct PaddedTexture {
        const unsigned char* source = nullptr;
        int width = 0, height = 0;
        std::vector<uint8_t> texels;
    };
    struct Setup;

    bool mActive = false, mReplace = false, mCamera = false, mHeld = false;
    uint8_t mBackground[4] = {0, 0, 0, 255};
    float mMvp[16] = {};
    int mViewport[4] = {0, 0, 0, 0};
    int width = 0, height = 0;
    std::vector<uint8_t> mLayer;   // RGBA, row 0 at the bottom
    Texels mRibbon = {nullptr, 0, 0};
    const unsigned char* mReducedSource = nullptr;
    std::vector<uint8_t> mReduced;
    int mReducedWidth = 0, mReducedHeight = 0;
    std::vector<PaddedTexture> mSpriteTextures;
    std::vector<Sprite> mSprites;
    TriangleList mLists[LISTS];
    int mTilesX = 0, mTilesY = 0;
    std::vector<std::vector<uint32_t>> mSpriteBins;
    std::vector<uint8_t> mLit;   // per tile: shaded this frame
    std::vector<int> mLitTiles;  // their indices, for the threads to share
    GLuint mTexture = 0, mFramebuffer = 0;
    int mCanBlit = -1;   // the context has glBlitFramebuffer (GL 3.0): 1, 0, or not yet asked
    int mTexWidth = 0, mTexHeight = 0;

    int spriteTexture(const Texels& texels);
    void addClipped(const Point& a, const Point& b, const Point& c, TriangleList& list);
    bool addWindowTriangle(uint32_t a, uint32_t b, uint32_t c, TriangleList& list);
    bool toWindow(const Point& p, Vertex* v) const;
    void bin(std::vector<std::vector<uint32_t>>& bins, uint32_t index, int px0, int py0, int px1, int py1) const;
    void shadeTile(int tx, int ty);
    void shadeSprite(const Sprite& s, int x0, int y0, int x1, int y1);
    void shadeTriangle(const Triangle& t, const Vertex* vertices, int x0, int y0, int x1, int y1);
    void scan(const Setup& t, bool columns, int64_t first, int64_t last, int64_t from, int64_t to);
    void span(const Setup& t, const int64_t e0[3], const int64_t along[3], int64_t n, int64_t end, int px, int py,
              bool columns);
    template <class F>
    void forEachLitRun(F f) const;
    void upload(const int* box = nullptr);
    bool blit(const int* box = nullptr);
    void drawLitTiles(bool add);
    void toGL();
    bool wholeFrame() const;
};
