// The glows and blended ribbons rasterised on the CPU; see lightLayer.h for
// why, and for how the picture stays GL's.
#define GL_GLEXT_PROTOTYPES 1   // the framebuffer calls (GL 3.0), exported by libOpenGL
#include "lightLayer.h"

#include <GL/glext.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "libp5.h"
#include "workers.h"

LightLayer::Texels LightLayer::Texels::of(const unsigned char* rgba, const PImage* texture) {
    if (!texture) return {nullptr, 0, 0};
    return {rgba, texture->GetWidth(), texture->GetHeight()};
}

LightLayer::LightLayer() : threads(std::thread::hardware_concurrency() >= 2 ? 2 : 1) {}

int64_t LightLayer::roundHalfAway(double x) {
    // Beyond 2^52 every double is whole; NaN and the infinities go to llround.
    if (!(std::fabs(x) < 4503599627370496.0)) return std::llround(x);
    const int64_t whole = static_cast<int64_t>(x);          // towards zero
    const double part = x - static_cast<double>(whole);     // exact
    return whole + (part >= 0.5) - (part <= -0.5);
}

#if !defined(__SSE2__)

// Without SSE2 (the browser's build, which draws with the ES renderer) the
// layer is never begun, and the passes draw everything with GL.
void LightLayer::begin(bool, const float*) { mActive = false; }
void LightLayer::setRibbonTexels(const Texels*) {}
LightLayer::Point LightLayer::project(float, float, float, const float*, float, float) { return Point{}; }
void LightLayer::takeCamera() {}
void LightLayer::addTriangle(const Point&, const Point&, const Point&, int) {}
void LightLayer::addQuad(const Point*, bool, bool, int) {}
void LightLayer::addSprite(const Texels&, const float*, const float*, const float*, float, float, const unsigned char*) {}
void LightLayer::composite() { mActive = false; }
void LightLayer::putOnGL() {}
bool LightLayer::lendBox(const int*) { return false; }
void LightLayer::takeBox(const int*) {}

#else

#include <emmintrin.h>

namespace {

// Positions on a 1/256 pixel grid, as llvmpipe snaps them: every edge test
// is then exact integer arithmetic.
const int SUBPIXEL = 256;
const int64_t HALF = SUBPIXEL / 2;
// A triangle whose nearest vertex is this much nearer than its farthest is
// interpolated with perspective (see Setup).
const float PERSPECTIVE_DEPTHS = 1.01f;
// How far outside the view (in viewport sizes) a vertex may lie before the
// triangle is clipped: far enough that few are, near enough that positions
// stay in 32 bits.
const float GUARD = 2;
// The ribbons' texture is read from a copy this many times smaller each way,
// each texel the mean of the ones it stands for: it is smooth (a blurred
// rainbow), shrunk tens of times on screen and read at the nearest texel, so
// the frames move by less than half a dB against the immediate drawing, and
// at 128 x 128 it stays in cache (the texel reads were a quarter of the
// ribbons' time with the full 1 MB texture).
const int RIBBON_REDUCTION = 4;
// How many triangles ahead of the one being shaded its tile's loop asks for
// the corners (and twice as far, the triangle): far enough to cover a miss
// to memory, near enough to stay in the first-level cache.
const size_t PREFETCH_AHEAD = 4;
// Filter weights in 1/256ths, as an 8-bit texture filter keeps them.
const int WEIGHT_ONE = 256;

int64_t floorDiv(int64_t a, int64_t b) { return a >= 0 ? a / b : -((-a + b - 1) / b); }
int64_t ceilDiv(int64_t a, int64_t b) { return -floorDiv(-a, b); }

// One edge from vertex i to vertex j; a pixel centre P is inside when
// dx * (Py - yi) - dy * (Px - xi) + bias >= 0. Of two triangles that share
// an edge, exactly one owns the centres on it (bias 0), so no pixel is lit
// twice and none is missed.
struct Edge {
    int64_t dx = 0, dy = 0, xi = 0, yi = 0, bias = 0;
    Edge() = default;
    template <class V>
    Edge(const V& i, const V& j)
        : dx(int64_t(j.x) - i.x), dy(int64_t(j.y) - i.y), xi(i.x), yi(i.y), bias(dy < 0 || (dy == 0 && dx > 0) ? 0 : -1) {}
};

// The pixel centres from `lo` to `hi` (1/256 pixel units), as pixel indices.
void centres(int64_t lo, int64_t hi, int64_t* first, int64_t* last) {
    *first = ceilDiv(lo - HALF, SUBPIXEL);
    *last = floorDiv(hi - HALF, SUBPIXEL);
}

}  // namespace

// A triangle ready for its lines: its edges, and its attributes as planes
// over the window, A(x, y) = at + dx * x + dy * y at pixel centre (x, y):
// the colour in 1/255ths, then s and t in texels and (with perspective) 1/w.
// Nearly every ribbon triangle is a few pixels across and far from the eye,
// with depths within a hundredth of one another: its attributes are
// interpolated straight across the window, and what perspective would change
// is far below a step of the 8-bit frame. The others (near the eye, or
// long and deep) interpolate each attribute over w and 1/w, as GL does.
struct LightLayer::Setup {
    Edge edges[3];
    bool perspective;
    __m128 colourAt, colourDx, colourDy, stAt, stDx, stDy;
};

void LightLayer::begin(bool replace, const float background[3]) {
    mActive = false;
    mHeld = false;   // a held frame nobody took was never presented
    glGetIntegerv(GL_VIEWPORT, mViewport);
    if (mViewport[2] <= 0 || mViewport[3] <= 0) return;
    // (A frame taken by the host leaves a buffer of any size in its place.)
    if (mLayer.size() != static_cast<size_t>(mViewport[2]) * mViewport[3] * 4)
        mLayer.assign(static_cast<size_t>(mViewport[2]) * mViewport[3] * 4, 0);
    if (mViewport[2] != width || mViewport[3] != height) {
        width = mViewport[2];
        height = mViewport[3];
        mTilesX = (width + TILE - 1) / TILE;
        mTilesY = (height + TILE - 1) / TILE;
        mSpriteBins.assign(static_cast<size_t>(mTilesX) * mTilesY, {});
        for (TriangleList& list : mLists) list.bins.assign(static_cast<size_t>(mTilesX) * mTilesY, {});
        mLit.assign(static_cast<size_t>(mTilesX) * mTilesY, 0);
    }
    mCamera = false;   // the camera is set after the clear: see project()
    // A clear colour reaches an 8-bit frame rounded to the nearest step.
    for (int k = 0; k < 3; k++)
        mBackground[k] = static_cast<uint8_t>(std::lround(std::min(std::max(background[k], 0.0f), 1.0f) * 255));
    mBackground[3] = 255;
    mReplace = replace;
    mRibbon = {nullptr, 0, 0};
    mSprites.clear();
    for (auto& b : mSpriteBins) b.clear();
    for (TriangleList& list : mLists) {
        list.vertices.clear();
        list.triangles.clear();
        for (auto& b : list.bins) b.clear();
    }
    mActive = true;
}

void LightLayer::setRibbonTexels(const Texels* texels) {
    mRibbon = {nullptr, 0, 0};
    if (!texels || !texels->rgba || texels->width <= 0 || texels->height <= 0) return;
    const int reduce = RIBBON_REDUCTION;
    if (texels->width % reduce || texels->height % reduce) {
        mRibbon = *texels;
        return;
    }
    if (mReducedSource != texels->rgba) {
        const int w = texels->width / reduce, h = texels->height / reduce;
        mReduced.assign(static_cast<size_t>(w) * h * 4, 0);
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++)
                for (int c = 0; c < 4; c++) {
                    int sum = 0;
                    for (int dy = 0; dy < reduce; dy++)
                        for (int dx = 0; dx < reduce; dx++)
                            sum += texels->rgba[((static_cast<size_t>(y) * reduce + dy) * texels->width + x * reduce + dx) * 4 + c];
                    mReduced[(static_cast<size_t>(y) * w + x) * 4 + c] = static_cast<uint8_t>((sum + reduce * reduce / 2) / (reduce * reduce));
                }
        mReducedSource = texels->rgba;
        mReducedWidth = w, mReducedHeight = h;
    }
    mRibbon = {mReduced.data(), mReducedWidth, mReducedHeight};
}

void LightLayer::takeCamera() {
    if (mCamera) return;
    float mv[16], proj[16];
    glGetFloatv(GL_MODELVIEW_MATRIX, mv);
    glGetFloatv(GL_PROJECTION_MATRIX, proj);
    for (int col = 0; col < 4; col++)
        for (int row = 0; row < 4; row++) {
            float sum = 0;
            for (int k = 0; k < 4; k++) sum += proj[k * 4 + row] * mv[col * 4 + k];
            mMvp[col * 4 + row] = sum;
        }
    mCamera = true;
}

LightLayer::Point LightLayer::project(float vx, float vy, float vz, const float rgba[4], float s, float t) {
    if (!mCamera) takeCamera();
    const float* m = mMvp;
    Point p;
    p.x = m[0] * vx + m[4] * vy + m[8] * vz + m[12];
    p.y = m[1] * vx + m[5] * vy + m[9] * vz + m[13];
    p.z = m[2] * vx + m[6] * vy + m[10] * vz + m[14];
    p.w = m[3] * vx + m[7] * vy + m[11] * vz + m[15];
    for (int k = 0; k < 4; k++) p.attr[k] = std::min(std::max(rgba[k], 0.0f), 1.0f);
    p.attr[4] = s;
    p.attr[5] = t;
    return p;
}

// The point on the 1/256 pixel grid, as the rasteriser snaps it; false
// when it is not in front of the eye.
bool LightLayer::toWindow(const Point& p, Vertex* v) const {
    if (!(p.w > 0)) return false;
    const float invW = 1 / p.w;
    v->x = static_cast<int32_t>(roundHalfAway((p.x * invW + 1) * 0.5 * width * SUBPIXEL));
    v->y = static_cast<int32_t>(roundHalfAway((p.y * invW + 1) * 0.5 * height * SUBPIXEL));
    v->invW = invW;
    std::memcpy(v->attr, p.attr, sizeof v->attr);
    return true;
}

// Records `index` in the bins of the tiles that pixels px0..px1, py0..py1 lie in.
void LightLayer::bin(std::vector<std::vector<uint32_t>>& bins, uint32_t index, int px0, int py0, int px1, int py1) const {
    for (int ty = py0 / TILE; ty <= py1 / TILE; ty++)
        for (int tx = px0 / TILE; tx <= px1 / TILE; tx++) bins[static_cast<size_t>(ty) * mTilesX + tx].push_back(index);
}

namespace {

// The planes a drawn point lies on the inner side of: the depth range, and
// the guard band around the view.
float planeDistance(const LightLayer::Point& p, int plane) {
    switch (plane) {
    case 0: return p.w + p.z;
    case 1: return p.w - p.z;
    case 2: return GUARD * p.w + p.x;
    case 3: return GUARD * p.w - p.x;
    case 4: return GUARD * p.w + p.y;
    default: return GUARD * p.w - p.y;
    }
}

// The planes above that p lies on the outer side of, one bit each: the same
// sums as planeDistance's, without its switch. Nearly every ribbon
// triangle asks this of its three corners and is then drawn unclipped, or
// not at all.
unsigned outside(const LightLayer::Point& p) {
    const float guard = GUARD * p.w;
    return unsigned(!(p.w + p.z >= 0)) | unsigned(!(p.w - p.z >= 0)) << 1 | unsigned(!(guard + p.x >= 0)) << 2 |
           unsigned(!(guard - p.x >= 0)) << 3 | unsigned(!(guard + p.y >= 0)) << 4 | unsigned(!(guard - p.y >= 0)) << 5;
}

LightLayer::Point mix(const LightLayer::Point& a, const LightLayer::Point& b, float f) {
    LightLayer::Point p;
    p.x = a.x + (b.x - a.x) * f;
    p.y = a.y + (b.y - a.y) * f;
    p.z = a.z + (b.z - a.z) * f;
    p.w = a.w + (b.w - a.w) * f;
    for (int k = 0; k < 6; k++) p.attr[k] = a.attr[k] + (b.attr[k] - a.attr[k]) * f;
    return p;
}

}  // namespace

void LightLayer::addTriangle(const Point& a, const Point& b, const Point& c, int list) {
    TriangleList& into = mLists[list];
    const unsigned outA = outside(a), outB = outside(b), outC = outside(c);
    if (!(outA | outB | outC)) return addClipped(a, b, c, into);
    // All three beyond one plane: clipping would leave nothing.
    if (outA & outB & outC) return;
    // Clipped against each plane in turn, in clip space (where the
    // attributes are linear), then drawn as a fan.
    Point polygon[2][9];
    polygon[0][0] = a, polygon[0][1] = b, polygon[0][2] = c;
    int count = 3, from = 0;
    for (int plane = 0; plane < 6 && count >= 3; plane++) {
        const Point* in = polygon[from];
        Point* out = polygon[1 - from];
        int n = 0;
        for (int i = 0; i < count; i++) {
            const Point& p = in[i];
            const Point& q = in[(i + 1) % count];
            const float dp = planeDistance(p, plane), dq = planeDistance(q, plane);
            if (dp >= 0) out[n++] = p;
            if ((dp >= 0) != (dq >= 0)) out[n++] = mix(p, q, dp / (dp - dq));
        }
        count = n;
        from = 1 - from;
    }
    for (int i = 1; i + 1 < count; i++) addClipped(polygon[from][0], polygon[from][i], polygon[from][i + 1], into);
}

// A triangle inside the guard band and the depth range.
void LightLayer::addClipped(const Point& pa, const Point& pb, const Point& pc, TriangleList& list) {
    Vertex v[3];
    if (!toWindow(pa, &v[0]) || !toWindow(pb, &v[1]) || !toWindow(pc, &v[2])) return;
    const uint32_t base = static_cast<uint32_t>(list.vertices.size());
    list.vertices.insert(list.vertices.end(), v, v + 3);
    if (!addWindowTriangle(base, base + 1, base + 2, list)) list.vertices.resize(base);
}

// A ribbon's quad between rungs (q0 q1) and (q2 q3), as the pass draws it:
// triangles (q2 q0 q3) and (q0 q1 q3), each where asked. Wholly inside the
// guard band (nearly always), its four corners go to the window once and
// both triangles share them; otherwise each triangle is clipped alone.
void LightLayer::addQuad(const Point q[4], bool first, bool second, int list) {
    Vertex v[4];
    bool shared = !(outside(q[0]) | outside(q[1]) | outside(q[2]) | outside(q[3]));
    for (int k = 0; k < 4 && shared; k++) shared = toWindow(q[k], &v[k]);
    if (!shared) {
        if (first) addTriangle(q[2], q[0], q[3], list);
        if (second) addTriangle(q[0], q[1], q[3], list);
        return;
    }
    TriangleList& into = mLists[list];
    const uint32_t base = static_cast<uint32_t>(into.vertices.size());
    into.vertices.insert(into.vertices.end(), v, v + 4);
    bool added = first && addWindowTriangle(base + 2, base, base + 3, into);
    added = (second && addWindowTriangle(base, base + 1, base + 3, into)) || added;
    if (!added) into.vertices.resize(base);
}

// Vertices ia, ib, ic (in the list's) as a triangle, counter-clockwise on
// the screen with ia first, binned; false when it lights no pixel centre.
bool LightLayer::addWindowTriangle(uint32_t ia, uint32_t ib, uint32_t ic, TriangleList& list) {
    const Vertex &a = list.vertices[ia], &b = list.vertices[ib], &c = list.vertices[ic];
    int64_t area2 = (int64_t(b.x) - a.x) * (int64_t(c.y) - a.y) - (int64_t(c.x) - a.x) * (int64_t(b.y) - a.y);
    if (area2 == 0) return false;   // no area: GL draws nothing either
    int64_t x0, x1, y0, y1;
    centres(std::min({a.x, b.x, c.x}), std::max({a.x, b.x, c.x}), &x0, &x1);
    centres(std::min({a.y, b.y, c.y}), std::max({a.y, b.y, c.y}), &y0, &y1);
    x0 = std::max<int64_t>(x0, 0), x1 = std::min<int64_t>(x1, width - 1);
    y0 = std::max<int64_t>(y0, 0), y1 = std::min<int64_t>(y1, height - 1);
    if (x0 > x1 || y0 > y1) return false;   // between pixel centres, or outside the view
    list.triangles.push_back({{ia, area2 > 0 ? ib : ic, area2 > 0 ? ic : ib}});
    bin(list.bins, static_cast<uint32_t>(list.triangles.size() - 1), int(x0), int(y0), int(x1), int(y1));
    return true;
}

int LightLayer::spriteTexture(const Texels& texels) {
    for (size_t i = 0; i < mSpriteTextures.size(); i++)
        if (mSpriteTextures[i].source == texels.rgba && mSpriteTextures[i].width == texels.width &&
            mSpriteTextures[i].height == texels.height)
            return static_cast<int>(i);
    PaddedTexture padded;
    padded.source = texels.rgba;
    padded.width = texels.width;
    padded.height = texels.height;
    const size_t rowBytes = static_cast<size_t>(texels.width + 2) * 4;
    padded.texels.assign(rowBytes * (texels.height + 2), 0);
    for (int y = 0; y < texels.height; y++)
        std::memcpy(&padded.texels[(y + 1) * rowBytes + 4], texels.rgba + static_cast<size_t>(y) * texels.width * 4,
                    static_cast<size_t>(texels.width) * 4);
    mSpriteTextures.push_back(std::move(padded));
    return static_cast<int>(mSpriteTextures.size() - 1);
}

namespace {

// The first pixel whose centre is at or after `edge` (a window position),
// and the last at or before it, clamped to -1..size so that any float fits.
int firstCentre(float edge, int size) { return static_cast<int>(std::min(std::max(std::ceil(edge - 0.5f), -1.0f), float(size))); }
int lastCentre(float edge, int size) { return static_cast<int>(std::min(std::max(std::floor(edge - 0.5f), -1.0f), float(size))); }

}  // namespace

void LightLayer::addSprite(const Texels& texels, const float centre[3], const float right[3], const float up[3],
                           float half, float reach, const unsigned char rgba[4]) {
    if (!texels.rgba || texels.width <= 0 || texels.height <= 0) return;
    // Two opposite corners give the square on the screen, which faces the
    // camera: all four lie at one depth, so GL clips all of it or none.
    float lo[3], hi[3];
    for (int k = 0; k < 3; k++) {
        lo[k] = centre[k] - (right[k] * half + up[k] * half);
        hi[k] = centre[k] + (right[k] * half + up[k] * half);
    }
    const float none[4] = {0, 0, 0, 0};
    const Point a = project(lo[0], lo[1], lo[2], none, 0, 0), b = project(hi[0], hi[1], hi[2], none, 0, 0);
    if (!(a.w > 0) || !(b.w > 0) || planeDistance(a, 0) < 0 || planeDistance(a, 1) < 0) return;
    // On the rasteriser's 1/256 pixel grid, in pixels.
    auto snap = [](float ndc, int size) {
        return static_cast<float>(std::round((static_cast<double>(ndc) + 1) * 0.5 * size * SUBPIXEL) / SUBPIXEL);
    };
    Sprite s;
    s.x0 = snap(a.x / a.w, width), s.y0 = snap(a.y / a.w, height);
    s.x1 = snap(b.x / b.w, width), s.y1 = snap(b.y / b.w, height);
    if (!std::isfinite(s.x0) || !std::isfinite(s.x1) || !std::isfinite(s.y0) || !std::isfinite(s.y1)) return;
    if (s.x1 == s.x0 || s.y1 == s.y0) return;
    const float cx = (s.x0 + s.x1) * 0.5f, cy = (s.y0 + s.y1) * 0.5f;
    const float rx = std::fabs(s.x1 - s.x0) * 0.5f * reach, ry = std::fabs(s.y1 - s.y0) * 0.5f * reach;
    s.px0 = std::max(0, firstCentre(cx - rx, width)), s.px1 = std::min(width - 1, lastCentre(cx + rx, width));
    s.py0 = std::max(0, firstCentre(cy - ry, height)), s.py1 = std::min(height - 1, lastCentre(cy + ry, height));
    if (s.px0 > s.px1 || s.py0 > s.py1) return;
    s.reach = reach;
    s.texture = spriteTexture(texels);
    std::memcpy(s.rgba, rgba, 4);
    mSprites.push_back(s);
    bin(mSpriteBins, static_cast<uint32_t>(mSprites.size() - 1), s.px0, s.py0, s.px1, s.py1);
}

// Pixels x0..x1, y0..y1 of sprite s. Per column the left texel of the four
// and the weights of the filter's two columns, per row the same: integer
// filtering in 1/256ths, then the light in single precision.
void LightLayer::shadeSprite(const Sprite& s, int x0, int y0, int x1, int y1) {
    const PaddedTexture& tex = mSpriteTextures[static_cast<size_t>(s.texture)];
    const size_t rowBytes = static_cast<size_t>(tex.width + 2) * 4;
    const float su = static_cast<float>(tex.width) / (s.x1 - s.x0), sv = static_cast<float>(tex.height) / (s.y1 - s.y0);
    auto texel = [](float u, int size, int* index) {
        // The left (lower) texel, from -1 (the border) to size - 1, and the other's weight.
        float f = std::floor(u);
        int i = static_cast<int>(f), w = static_cast<int>(std::lround((u - f) * WEIGHT_ONE));
        if (i < -1) i = -1, w = 0;
        if (i > size - 1) i = size - 1, w = 0;
        *index = i + 1;
        return w;
    };
    alignas(16) int16_t weights[TILE][8];
    int columns[TILE];
    for (int x = x0; x <= x1; x++) {
        int w = texel((static_cast<float>(x) + 0.5f - s.x0) * su - 0.5f, tex.width, &columns[x - x0]);
        for (int k = 0; k < 4; k++) weights[x - x0][2 * k] = static_cast<int16_t>(WEIGHT_ONE - w), weights[x - x0][2 * k + 1] = static_cast<int16_t>(w);
    }
    // (texel * colour) * (texel alpha * colour alpha) over 255^3, the
    // filtered values being 2^15 times the texels'.
    const float scale = static_cast<float>(s.rgba[3]) / (255.0f * 255.0f * 255.0f * 32768.0f * 32768.0f);
    const __m128 colour = _mm_setr_ps(s.rgba[0] * scale, s.rgba[1] * scale, s.rgba[2] * scale, s.rgba[3] * scale);
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128i zero = _mm_setzero_si128();
    // A trimmed sprite's light lies within the circle of its reach: each row
    // is cut to it (a fifth of the square's pixels, which would add zero).
    const float cx = (s.x0 + s.x1) * 0.5f, cy = (s.y0 + s.y1) * 0.5f;
    const float rx = std::fabs(s.x1 - s.x0) * 0.5f * s.reach, ry = std::fabs(s.y1 - s.y0) * 0.5f * s.reach;
    for (int y = y0; y <= y1; y++) {
        int first = x0, last = x1;
        if (s.reach < 1) {
            const float dy = (static_cast<float>(y) + 0.5f - cy) / ry, inside = 1 - dy * dy;
            if (!(inside > 0)) continue;
            const float across = rx * std::sqrt(inside);
            first = std::max(x0, firstCentre(cx - across, width)), last = std::min(x1, lastCentre(cx + across, width));
            if (first > last) continue;
        }
        int row;
        const int wy = texel((static_cast<float>(y) + 0.5f - s.y0) * sv - 0.5f, tex.height, &row);
        const __m128i w0 = _mm_set1_epi16(static_cast<int16_t>(WEIGHT_ONE - wy)), w1 = _mm_set1_epi16(static_cast<int16_t>(wy));
        const uint8_t* low = &tex.texels[static_cast<size_t>(row) * rowBytes];
        const uint8_t* high = low + rowBytes;
        uint8_t* pixel = &mLayer[(static_cast<size_t>(y) * width + first) * 4];
        for (int i = first - x0; i <= last - x0; i++, pixel += 4) {
            const size_t at = static_cast<size_t>(columns[i]) * 4;
            const __m128i a = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(low + at)), zero);
            const __m128i b = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(high + at)), zero);
            // Between the rows (at most 255 * 256, exact in 16 bits), halved
            // for the signed multiply-add that goes between the columns.
            const __m128i v = _mm_srli_epi16(_mm_add_epi16(_mm_mullo_epi16(a, w0), _mm_mullo_epi16(b, w1)), 1);
            const __m128i pairs = _mm_unpacklo_epi16(v, _mm_unpackhi_epi64(v, v));
            const __m128 t = _mm_cvtepi32_ps(_mm_madd_epi16(pairs, _mm_load_si128(reinterpret_cast<const __m128i*>(weights[i]))));
            const __m128 light = _mm_add_ps(_mm_mul_ps(_mm_mul_ps(t, colour), _mm_shuffle_ps(t, t, 0xFF)), half);
            const __m128i words = _mm_cvttps_epi32(light);
            const __m128i bytes = _mm_packus_epi16(_mm_packs_epi32(words, words), zero);
            int32_t old, sum;
            std::memcpy(&old, pixel, 4);
            sum = _mm_cvtsi128_si32(_mm_adds_epu8(_mm_cvtsi32_si128(old), bytes));
            std::memcpy(pixel, &sum, 4);
        }
    }
}

void LightLayer::shadeTriangle(const Triangle& tri, const Vertex* vertices, int tx0, int ty0, int tx1, int ty1) {
    const Vertex* v[3] = {&vertices[tri.v[0]], &vertices[tri.v[1]], &vertices[tri.v[2]]};
    int64_t x0, x1, y0, y1;
    centres(std::min({v[0]->x, v[1]->x, v[2]->x}), std::max({v[0]->x, v[1]->x, v[2]->x}), &x0, &x1);
    centres(std::min({v[0]->y, v[1]->y, v[2]->y}), std::max({v[0]->y, v[1]->y, v[2]->y}), &y0, &y1);
    // Most ribbon triangles are slivers under a pixel across: walk the
    // shorter side's lines, each holding few pixels or none.
    const bool columns = x1 - x0 < y1 - y0;
    x0 = std::max<int64_t>(x0, tx0), x1 = std::min<int64_t>(x1, tx1);
    y0 = std::max<int64_t>(y0, ty0), y1 = std::min<int64_t>(y1, ty1);
    if (x0 > x1 || y0 > y1) return;
    Setup t;
    t.edges[0] = Edge(*v[1], *v[2]);
    t.edges[1] = Edge(*v[2], *v[0]);
    t.edges[2] = Edge(*v[0], *v[1]);
    const float nearest = std::max({v[0]->invW, v[1]->invW, v[2]->invW});
    const float farthest = std::min({v[0]->invW, v[1]->invW, v[2]->invW});
    t.perspective = nearest > farthest * PERSPECTIVE_DEPTHS;
    // The planes through the three vertices, from vertex 0 at pixel (0, 0)'s
    // centre: colour (r g b a, in 1/255ths) in one vector, s t and 1/w (with
    // perspective; 0 without) in the other, each lane the same single
    // precision steps a lane-by-lane loop takes.
    const float ax = static_cast<float>(v[1]->x - v[0]->x) / SUBPIXEL, ay = static_cast<float>(v[1]->y - v[0]->y) / SUBPIXEL;
    const float bx = static_cast<float>(v[2]->x - v[0]->x) / SUBPIXEL, by = static_cast<float>(v[2]->y - v[0]->y) / SUBPIXEL;
    const float cross = ax * by - bx * ay;
    const float ox = 0.5f - static_cast<float>(v[0]->x) / SUBPIXEL, oy = 0.5f - static_cast<float>(v[0]->y) / SUBPIXEL;
    const __m128 colourScale = _mm_set1_ps(255);
    const __m128 stScale = _mm_setr_ps(static_cast<float>(mRibbon.width), static_cast<float>(mRibbon.height), 1, 0);
    __m128 colour[3], st[3];
    for (int i = 0; i < 3; i++) {
        colour[i] = _mm_mul_ps(_mm_loadu_ps(v[i]->attr), colourScale);
        st[i] = _mm_mul_ps(_mm_setr_ps(v[i]->attr[4], v[i]->attr[5], t.perspective ? 1.0f : 0.0f, 0), stScale);
        if (t.perspective) {
            const __m128 invW = _mm_set1_ps(v[i]->invW);
            colour[i] = _mm_mul_ps(colour[i], invW), st[i] = _mm_mul_ps(st[i], invW);
        }
    }
    const __m128 vax = _mm_set1_ps(ax), vay = _mm_set1_ps(ay), vbx = _mm_set1_ps(bx), vby = _mm_set1_ps(by);
    const __m128 vcross = _mm_set1_ps(cross), vox = _mm_set1_ps(ox), voy = _mm_set1_ps(oy);
    auto plane = [&](const __m128 a[3], __m128* at, __m128* dx, __m128* dy) {
        const __m128 da = _mm_sub_ps(a[1], a[0]), db = _mm_sub_ps(a[2], a[0]);
        *dx = _mm_div_ps(_mm_sub_ps(_mm_mul_ps(da, vby), _mm_mul_ps(db, vay)), vcross);
        *dy = _mm_div_ps(_mm_sub_ps(_mm_mul_ps(db, vax), _mm_mul_ps(da, vbx)), vcross);
        *at = _mm_add_ps(_mm_add_ps(a[0], _mm_mul_ps(*dx, vox)), _mm_mul_ps(*dy, voy));
    };
    plane(colour, &t.colourAt, &t.colourDx, &t.colourDy);
    plane(st, &t.stAt, &t.stDx, &t.stDy);
    if (columns) scan(t, true, x0, x1, y0, y1);
    else scan(t, false, y0, y1, x0, x1);
}

// Lines first..last (columns, or rows), pixel centres from..to along each.
// Where each edge crosses a line is worked out in double precision, off by
// far less than the slack around it; the exact integer edge functions then
// decide the centres near it.
void LightLayer::scan(const Setup& t, bool columns, int64_t first, int64_t last, int64_t from, int64_t to) {
    const int64_t origin = first;
    // Edge k at line origin + i, centre n along it: at[k] + across[k] * i + along[k] * n.
    int64_t at[3], across[3], along[3];
    // Where the edges bounding a line from below and from above cross it:
    // start + step * i.
    double lowStart[3], lowStep[3], highStart[3], highStep[3];
    int lows = 0, highs = 0;
    for (int k = 0; k < 3; k++) {
        const Edge& e = t.edges[k];
        const int64_t perX = -e.dy * SUBPIXEL, perY = e.dx * SUBPIXEL;
        across[k] = columns ? perX : perY;
        along[k] = columns ? perY : perX;
        at[k] = e.dx * (HALF - e.yi) - e.dy * (HALF - e.xi) + across[k] * origin + e.bias;
        if (along[k] == 0) {
            // Parallel to the lines: it bounds which lines, not where along them.
            if (across[k] > 0) first = std::max(first, origin + ceilDiv(-at[k], across[k]));
            else if (across[k] < 0) last = std::min(last, origin + floorDiv(at[k], -across[k]));
            else if (at[k] < 0) return;
            continue;
        }
        const double inverse = -1.0 / static_cast<double>(along[k]);
        const bool low = along[k] > 0;
        (low ? lowStart : highStart)[low ? lows : highs] = static_cast<double>(at[k]) * inverse;
        (low ? lowStep : highStep)[low ? lows : highs] = static_cast<double>(across[k]) * inverse;
        (low ? lows : highs)++;
    }
    const double SLACK = 1e-3, low0 = static_cast<double>(from), high0 = static_cast<double>(to);
    for (int64_t line = first; line <= last; line++) {
        const double i = static_cast<double>(line - origin);
        double lo = low0, hi = high0;
        for (int k = 0; k < lows; k++) lo = std::max(lo, lowStart[k] + lowStep[k] * i - SLACK);
        for (int k = 0; k < highs; k++) hi = std::min(hi, highStart[k] + highStep[k] * i + SLACK);
        if (lo > hi) continue;
        // Both are at least `from`, which is not negative: truncation rounds down.
        int64_t n = static_cast<int64_t>(lo);
        n += static_cast<double>(n) < lo;
        const int64_t end = static_cast<int64_t>(hi);
        if (n > end) continue;
        const int64_t di = line - origin;
        const int64_t e0[3] = {at[0] + across[0] * di, at[1] + across[1] * di, at[2] + across[2] * di};
        const int px = static_cast<int>(columns ? line : n), py = static_cast<int>(columns ? n : line);
        span(t, e0, along, n, end, px, py, columns);
    }
}

// The pixels n..end of a line whose first is (px, py): each whose centre
// the edges take in gets the light that a SRC_ALPHA, ONE blend adds to an
// 8-bit pixel. The attributes step along the line in 16.16 fixed point; the
// texel is the nearest of the clamped coordinates (white when untextured);
// texel times colour, then times alpha, each rounded as an 8-bit blend
// rounds, added with saturation.
void LightLayer::span(const Setup& t, const int64_t e0[3], const int64_t along[3], int64_t n, int64_t end, int px,
                      int py, bool columns) {
    const size_t stride = columns ? static_cast<size_t>(width) * 4 : 4;
    uint8_t* pixel = &mLayer[(static_cast<size_t>(py) * width + px) * 4];
    const __m128i zero = _mm_setzero_si128(), max8 = _mm_set1_epi16(255), round = _mm_set1_epi16(128);
    const bool textured = mRibbon.rgba != nullptr;
    const int lastS = mRibbon.width - 1, lastT = mRibbon.height - 1;
    // The nearest texel of texel coordinates (s, t), clamped; white untextured.
    auto texel = [&](int s, int u) {
        if (!textured) return max8;
        s = std::min(std::max(s, 0), lastS), u = std::min(std::max(u, 0), lastT);
        int32_t bytes;
        std::memcpy(&bytes, mRibbon.rgba + (static_cast<size_t>(u) * mRibbon.width + s) * 4, 4);
        return _mm_unpacklo_epi8(_mm_cvtsi32_si128(bytes), zero);
    };
    // Texel times colour (both 0..255 in 16-bit lanes), times its alpha,
    // each rounded as an 8-bit blend rounds x / 255 for x up to 255 * 255:
    // (x + 128 + ((x + 128) >> 8)) >> 8; added with saturation.
    auto add = [&](uint8_t* to, __m128i tex, __m128i c) {
        c = _mm_min_epi16(_mm_max_epi16(_mm_packs_epi32(c, c), zero), max8);
        __m128i x = _mm_add_epi16(_mm_mullo_epi16(tex, c), round);
        const __m128i src = _mm_srli_epi16(_mm_add_epi16(x, _mm_srli_epi16(x, 8)), 8);
        x = _mm_add_epi16(_mm_mullo_epi16(src, _mm_shufflelo_epi16(src, 0xFF)), round);
        const __m128i lit = _mm_srli_epi16(_mm_add_epi16(x, _mm_srli_epi16(x, 8)), 8);
        int32_t old, sum;
        std::memcpy(&old, to, 4);
        sum = _mm_cvtsi128_si32(_mm_adds_epu8(_mm_cvtsi32_si128(old), _mm_packus_epi16(lit, lit)));
        std::memcpy(to, &sum, 4);
    };
    const __m128 fx = _mm_set1_ps(static_cast<float>(px)), fy = _mm_set1_ps(static_cast<float>(py));
    __m128 colourF = _mm_add_ps(_mm_add_ps(t.colourAt, _mm_mul_ps(t.colourDx, fx)), _mm_mul_ps(t.colourDy, fy));
    __m128 stF = _mm_add_ps(_mm_add_ps(t.stAt, _mm_mul_ps(t.stDx, fx)), _mm_mul_ps(t.stDy, fy));
    const __m128 colourStepF = columns ? t.colourDy : t.colourDx, stStepF = columns ? t.stDy : t.stDx;
    int64_t e[3] = {e0[0] + along[0] * n, e0[1] + along[1] * n, e0[2] + along[2] * n};
    if (t.perspective) {
        // Each attribute over w, divided by the interpolated 1/w (lane 2 of st).
        const __m128 half = _mm_set1_ps(0.5f);
        for (; n <= end; n++, pixel += stride, e[0] += along[0], e[1] += along[1], e[2] += along[2],
                         colourF = _mm_add_ps(colourF, colourStepF), stF = _mm_add_ps(stF, stStepF)) {
            if ((e[0] | e[1] | e[2]) < 0) continue;
            const __m128 w = _mm_div_ps(_mm_set1_ps(1), _mm_shuffle_ps(stF, stF, 0xAA));
            const __m128i index = _mm_cvttps_epi32(_mm_mul_ps(stF, w));
            add(pixel, texel(_mm_cvtsi128_si32(index), _mm_cvtsi128_si32(_mm_shuffle_epi32(index, 1))),
                _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(colourF, w), half)));
        }
        return;
    }
    // The attributes step along the line in 16.16 fixed point.
    const __m128 fixedOne = _mm_set1_ps(65536.0f), roundHalf = _mm_set1_ps(32768.0f);
    __m128i colour = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(colourF, fixedOne), roundHalf));
    __m128i st = _mm_cvttps_epi32(_mm_mul_ps(stF, fixedOne));
    const __m128i colourStep = _mm_cvttps_epi32(_mm_mul_ps(colourStepF, fixedOne));
    const __m128i stStep = _mm_cvttps_epi32(_mm_mul_ps(stStepF, fixedOne));
    for (; n <= end; n++, pixel += stride, e[0] += along[0], e[1] += along[1], e[2] += along[2],
                     colour = _mm_add_epi32(colour, colourStep), st = _mm_add_epi32(st, stStep)) {
        if ((e[0] | e[1] | e[2]) < 0) continue;
        const __m128i index = _mm_srai_epi32(st, 16);
        add(pixel, texel(_mm_cvtsi128_si32(index), _mm_cvtsi128_si32(_mm_shuffle_epi32(index, 1))),
            _mm_srai_epi32(colour, 16));
    }
}

// A tile's part of the layer, emptied and then lit by everything over it,
// while it stays in cache.
void LightLayer::shadeTile(int tx, int ty) {
    const size_t tile = static_cast<size_t>(ty) * mTilesX + tx;
    const int x0 = tx * TILE, y0 = ty * TILE;
    const int x1 = std::min(x0 + TILE, width) - 1, y1 = std::min(y0 + TILE, height) - 1;
    uint8_t fill[TILE * 4] = {};
    if (mReplace)
        for (int i = 0; i < TILE; i++) std::memcpy(fill + 4 * i, mBackground, 4);
    for (int y = y0; y <= y1; y++) std::memcpy(&mLayer[(static_cast<size_t>(y) * width + x0) * 4], fill, static_cast<size_t>(x1 - x0 + 1) * 4);
    for (uint32_t i : mSpriteBins[tile]) {
        const Sprite& s = mSprites[i];
        shadeSprite(s, std::max(x0, s.px0), std::max(y0, s.py0), std::min(x1, s.px1), std::min(y1, s.py1));
    }
    // A tile's triangles come from all over the frame's lists (at 5000
    // particles several megabytes, past the cache): their corners are asked
    // for a few triangles ahead, which halves the set-up's time.
    for (const TriangleList& list : mLists) {
        const std::vector<uint32_t>& bin = list.bins[tile];
        const Triangle* triangles = list.triangles.data();
        const Vertex* vertices = list.vertices.data();
        const size_t count = bin.size();
        for (size_t k = 0; k < count; k++) {
            if (k + 2 * PREFETCH_AHEAD < count)
                _mm_prefetch(reinterpret_cast<const char*>(&triangles[bin[k + 2 * PREFETCH_AHEAD]]), _MM_HINT_T0);
            if (k + PREFETCH_AHEAD < count) {
                for (uint32_t corner : triangles[bin[k + PREFETCH_AHEAD]].v) {
                    const char* at = reinterpret_cast<const char*>(&vertices[corner]);
                    _mm_prefetch(at, _MM_HINT_T0);
                    _mm_prefetch(at + sizeof(Vertex) - 1, _MM_HINT_T0);
                }
            }
            shadeTriangle(triangles[bin[k]], vertices, x0, y0, x1, y1);
        }
    }
}

// Calls f(x, y, width, height) with the pixels of each run of lit tiles in
// a row.
template <class F>
void LightLayer::forEachLitRun(F f) const {
    for (int ty = 0; ty < mTilesY; ty++)
        for (int tx = 0; tx < mTilesX;) {
            if (!mLit[static_cast<size_t>(ty) * mTilesX + tx]) {
                tx++;
                continue;
            }
            int end = tx;
            while (end < mTilesX && mLit[static_cast<size_t>(ty) * mTilesX + end]) end++;
            const int x = tx * TILE, y = ty * TILE;
            f(x, y, std::min(end * TILE, width) - x, std::min(y + TILE, height) - y);
            tx = end;
        }
}

// The lit tiles (or the box) into the layer's texture, made or remade at the
// viewport's size, read at its nearest texel (a pixel of the frame is a
// texel here).
void LightLayer::upload(const int* box) {
    if (!mTexture || !glIsTexture(mTexture)) {
        glGenTextures(1, &mTexture);
        mTexWidth = mTexHeight = 0;
    }
    glBindTexture(GL_TEXTURE_2D, mTexture);
    if (mTexWidth != width || mTexHeight != height) {
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, width, height, 0, GL_RGBA, GL_UNSIGNED_BYTE, nullptr);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        mTexWidth = width;
        mTexHeight = height;
    }
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, width);
    glPixelStorei(GL_UNPACK_SKIP_PIXELS, 0);
    glPixelStorei(GL_UNPACK_SKIP_ROWS, 0);
    glPixelStorei(GL_UNPACK_SWAP_BYTES, GL_FALSE);
    glPixelStorei(GL_UNPACK_LSB_FIRST, GL_FALSE);
    auto send = [&](int x, int y, int w, int h) {
        glTexSubImage2D(GL_TEXTURE_2D, 0, x, y, w, h, GL_RGBA, GL_UNSIGNED_BYTE,
                        &mLayer[(static_cast<size_t>(y) * width + x) * 4]);
    };
    if (box) send(box[0], box[1], box[2], box[3]);
    else forEachLitRun(send);
    glPopClientAttrib();
}

// The whole layer copied over the viewport through a framebuffer that reads
// the layer's texture: no shading at all on llvmpipe. False when this GL
// cannot (before 3.0, or the framebuffer is incomplete).
bool LightLayer::blit(const int* box) {
    if (mCanBlit < 0) {
        const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
        mCanBlit = version && std::atoi(version) >= 3;
    }
    if (!mCanBlit) return false;
    if (!mFramebuffer || !glIsFramebuffer(mFramebuffer)) glGenFramebuffers(1, &mFramebuffer);
    GLint read = 0;
    glGetIntegerv(GL_READ_FRAMEBUFFER_BINDING, &read);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, mFramebuffer);
    glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D, mTexture, 0);
    const bool complete = glCheckFramebufferStatus(GL_READ_FRAMEBUFFER) == GL_FRAMEBUFFER_COMPLETE;
    const int whole[4] = {0, 0, width, height};
    const int* b = box ? box : whole;
    const int x0 = b[0], y0 = b[1], x1 = b[0] + b[2], y1 = b[1] + b[3];
    if (complete)
        glBlitFramebuffer(x0, y0, x1, y1, mViewport[0] + x0, mViewport[1] + y0, mViewport[0] + x1, mViewport[1] + y1,
                          GL_COLOR_BUFFER_BIT, GL_NEAREST);
    glBindFramebuffer(GL_READ_FRAMEBUFFER, static_cast<GLuint>(read));
    return complete;
}

// One quad per run of lit tiles in a row, in window coordinates, added to
// the frame or put in its place.
void LightLayer::drawLitTiles(bool add) {
    if (add) {
        glEnable(GL_BLEND);
        glBlendFunc(GL_ONE, GL_ONE);
    } else {
        glDisable(GL_BLEND);
    }
    glEnable(GL_TEXTURE_2D);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_REPLACE);
    glMatrixMode(GL_PROJECTION);
    glPushMatrix();
    glLoadIdentity();
    glOrtho(0, width, 0, height, -1, 1);
    glMatrixMode(GL_MODELVIEW);
    glPushMatrix();
    glLoadIdentity();
    const float sx = 1.0f / static_cast<float>(width), sy = 1.0f / static_cast<float>(height);
    glBegin(GL_QUADS);
    forEachLitRun([&](int x, int y, int w, int h) {
        const float x0 = static_cast<float>(x), x1 = static_cast<float>(x + w);
        const float y0 = static_cast<float>(y), y1 = static_cast<float>(y + h);
        glTexCoord2f(x0 * sx, y0 * sy);
        glVertex2f(x0, y0);
        glTexCoord2f(x1 * sx, y0 * sy);
        glVertex2f(x1, y0);
        glTexCoord2f(x1 * sx, y1 * sy);
        glVertex2f(x1, y1);
        glTexCoord2f(x0 * sx, y1 * sy);
        glVertex2f(x0, y1);
    });
    glEnd();
    glPopMatrix();
    glMatrixMode(GL_PROJECTION);
    glPopMatrix();
}

void LightLayer::composite() {
    if (!mActive) return;
    mActive = false;
    sprites = static_cast<int>(mSprites.size());
    triangles = 0;
    for (const TriangleList& list : mLists) triangles += static_cast<int>(list.triangles.size());
    mLitTiles.clear();
    for (size_t tile = 0; tile < mLit.size(); tile++) {
        mLit[tile] = mReplace || !mSpriteBins[tile].empty();
        for (const TriangleList& list : mLists) mLit[tile] = mLit[tile] || !list.bins[tile].empty();
        if (mLit[tile]) mLitTiles.push_back(static_cast<int>(tile));
    }
    litTiles = static_cast<int>(mLitTiles.size());
    // Tiles are disjoint and read only what the frame added: any thread may
    // shade any of them.
    runTasks(threads > 1 && litTiles > 1, litTiles,
             [this](int k) { shadeTile(mLitTiles[static_cast<size_t>(k)] % mTilesX, mLitTiles[static_cast<size_t>(k)] / mTilesX); });
    if (!litTiles) return;
    if (holdFrame && mReplace && wholeFrame()) {
        mHeld = true;
        return;
    }
    toGL();
}

// Whether the copy to GL would put the layer on every pixel the host reads:
// the viewport starts at the framebuffer's corner (its size is the frame's,
// which the host checks) and no scissor cuts it.
bool LightLayer::wholeFrame() const {
    if (mViewport[0] != 0 || mViewport[1] != 0) return false;
    if (!glIsEnabled(GL_SCISSOR_TEST)) return true;
    GLint box[4];
    glGetIntegerv(GL_SCISSOR_BOX, box);
    return box[0] <= 0 && box[1] <= 0 && box[0] + box[2] >= width && box[1] + box[3] >= height;
}

void LightLayer::putOnGL() {
    if (!mHeld) return;
    mHeld = false;
    toGL();
}

bool LightLayer::lendBox(const int box[4]) {
    if (!mHeld) return false;
    if (box[0] < 0 || box[1] < 0 || box[2] <= 0 || box[3] <= 0 || box[0] + box[2] > width || box[1] + box[3] > height) {
        putOnGL();
        return false;
    }
    glPushAttrib(GL_ENABLE_BIT | GL_TEXTURE_BIT);
    upload(box);
    const bool copied = blit(box);
    glPopAttrib();
    if (!copied) putOnGL();
    return copied;
}

void LightLayer::takeBox(const int box[4]) {
    if (!mHeld) return;
    GLint packBuffer = 0;
    glGetIntegerv(GL_PIXEL_PACK_BUFFER_BINDING, &packBuffer);
    glBindBuffer(GL_PIXEL_PACK_BUFFER, 0);
    glPushClientAttrib(GL_CLIENT_PIXEL_STORE_BIT);
    glPixelStorei(GL_PACK_ALIGNMENT, 4);
    glPixelStorei(GL_PACK_ROW_LENGTH, width);
    glPixelStorei(GL_PACK_SKIP_PIXELS, 0);
    glPixelStorei(GL_PACK_SKIP_ROWS, 0);
    glPixelStorei(GL_PACK_SWAP_BYTES, GL_FALSE);
    glPixelStorei(GL_PACK_LSB_FIRST, GL_FALSE);
    glReadPixels(mViewport[0] + box[0], mViewport[1] + box[1], box[2], box[3], GL_RGBA, GL_UNSIGNED_BYTE,
                 &mLayer[(static_cast<size_t>(box[1]) * width + box[0]) * 4]);
    glPopClientAttrib();
    glBindBuffer(GL_PIXEL_PACK_BUFFER, static_cast<GLuint>(packBuffer));
}

// Every state the pass relies on is set here and put back after.
void LightLayer::toGL() {
    glPushAttrib(GL_ENABLE_BIT | GL_COLOR_BUFFER_BIT | GL_TEXTURE_BIT | GL_CURRENT_BIT | GL_POLYGON_BIT |
                 GL_TRANSFORM_BIT);
    upload();
    if (!mReplace || !blit()) {
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_CULL_FACE);
        glDisable(GL_LIGHTING);
        glDisable(GL_FOG);
        glDisable(GL_ALPHA_TEST);
        glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
        drawLitTiles(!mReplace);
    }
    glPopAttrib();
}

#endif  // __SSE2__
