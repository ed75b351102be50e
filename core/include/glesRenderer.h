// The scene drawn on OpenGL ES 3.0, the subset WebGL 2 has: shaders, buffer
// objects and a matrix stack of its own in place of fixed function, client
// arrays, display lists and the attribute stacks.
//
// The scene decides what to draw exactly as on the other paths: the batched
// passes build their vertices on the CPU (drawBatch.h) and hand each pass
// here, where it is uploaded (one buffer upload a pass) and drawn with one
// call. The kit's matrix and state helpers (libp5.h) come here instead of
// to fixed function while this renderer is picked (renderer.h).
//
// What fixed function did implicitly is done explicitly:
//   - vertex colours clamped to [0, 1] per vertex, as GL clamps them;
//   - GL_MODULATE texturing, with the kit's GL_CLAMP wrap (border texels of
//     transparent black at the edges) worked out in the fragment shader,
//     since ES only clamps to the edge;
//   - the polygon mode: outlined polygons become line primitives, edge for
//     edge as the driver outlines them (quads: four edges; quad strips:
//     every quad's two sides and both of its rungs);
//   - saved state: the 2-D passes (help panel, track overlay) read what they
//     change and set it back.
//
// Needs from its context: OpenGL ES 3.0 (GLSL ES 3.00), or desktop OpenGL
// 3.3 / 3.2 core with ES 3 compatibility (glesShaderVersion), texture unit 0 for
// the textures the scene binds, the blend and depth state the mode sets
// (ModeMgr::setupGL). setupGL() makes its GL objects; call it once in every
// new context, before the first frame. This header includes no GL header,
// so that the kit's desktop headers and the ES ones never meet in one file.
#pragma once

#include <vector>

// The shaders' #version line for the current context: "#version 300 es"
// on ES and on desktop drivers with GL_ARB_ES3_compatibility, else
// "#version 330 core". Each ends with a newline.
const char* glesShaderVersion();

// A vertex as the batches keep it (DrawBatch::Vertex has the same layout).
struct GlesVertex {
    float x, y, z;
    float s, t;
    float r, g, b, a;
};

class GlesRenderer {
public:
    enum Primitive { TRIANGLES, QUADS, QUAD_STRIPS, LINES };
    enum MatrixMode { MODELVIEW, PROJECTION };

    struct Matrix {
        float m[16];   // column-major, as GL keeps them
    };

    std::vector<Matrix> mModelview, mProjection;   // stacks; back() is current
    MatrixMode mMatrixMode;
    // GL 1's polygon mode: filled primitives drawn while it is on are
    // outlined with lines.
    bool mOutline;
    // GL 1's texture enable: off, textured batches draw untextured.
    bool mTexturing;
    // Set up in the current context.
    bool mReady;

    GlesRenderer();
    ~GlesRenderer();
    GlesRenderer(const GlesRenderer&) = delete;
    GlesRenderer& operator=(const GlesRenderer&) = delete;

    // Shaders, buffers and vertex layout in the current context; the old
    // ones went with their context. False (and nothing drawn) when the
    // shaders do not build; `log` says why.
    bool setupGL(std::vector<char>* log = nullptr);
    // Forgets the GL objects without deleting them (their context is gone).
    void forgetGL();

    // The matrix stack, as glMatrixMode and friends.
    void matrixMode(MatrixMode mode);
    void loadIdentity();
    void loadMatrix(const float m[16]);
    void multMatrix(const float m[16]);
    void frustum(float left, float right, float bottom, float top, float zNear, float zFar);
    void ortho(float left, float right, float bottom, float top, float zNear, float zFar);
    void translate(float x, float y, float z);
    void rotate(float degrees, float x, float y, float z);
    void scale(float x, float y, float z);
    void push();
    void pop();
    const Matrix& current() const;

    // One pass: `count` vertices; with `indexCount` indices as triangles
    // (TRIANGLES), else in order. QUAD_STRIPS: `strips` strips, each from
    // firsts[i] with counts[i] vertices. `textured` samples the texture bound
    // to unit 0 (when texturing is on).
    void draw(Primitive primitive, bool textured, const GlesVertex* vertices, int count,
              const unsigned* indices = nullptr, int indexCount = 0, const int* firsts = nullptr,
              const int* counts = nullptr, int strips = 0);
    // Lines of {x, y, z, r, g, b, a} ends, as the proximity lines keep them.
    void drawLines(const float* ends, int count);
    // A textured rectangle in the current matrices, (x0, y0) to (x1, y1),
    // texture coordinates (u0, v0) to (u1, v1), tinted.
    void drawImage(unsigned texture, float x0, float y0, float x1, float y1, float u0, float v0, float u1,
                   float v1, const float rgba[4]);

    // A 2-D pass over the finished frame: one unit per pixel, y down, no
    // depth, "over" blending. end2D() puts back the matrices and the state.
    void begin2D(float width, float height);
    void end2D();

private:
    struct Saved2D {
        bool blend, depthTest, outline, texturing;
        unsigned char depthMask;
        int blendSrcRGB, blendDstRGB, blendSrcAlpha, blendDstAlpha, blendEquation;
    };
    Saved2D mSaved2D;

    // Every pass of a frame gets buffers of its own, taken round a ring: on
    // a driver that draws a frame's passes later (llvmpipe draws at the
    // frame's end), filling a buffer an earlier pass still reads would wait
    // for that pass to be drawn. A vertex array object per slot holds its
    // layout.
    static const int BUFFER_RING = 32;
    unsigned mProgram;
    unsigned mVao[BUFFER_RING], mVertexBuffer[BUFFER_RING], mIndexBuffer[BUFFER_RING];
    int mNextBuffer;
    int mMvpLocation, mTexturedLocation, mSamplerLocation;
    std::vector<GlesVertex> mScratch;
    std::vector<unsigned> mScratchIndices;

    std::vector<Matrix>& stack();
    void submit(unsigned glMode, bool textured, const GlesVertex* vertices, int count, const unsigned* indices,
                int indexCount);
};

extern GlesRenderer glesRenderer;
