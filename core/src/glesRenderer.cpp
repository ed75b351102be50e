// The ES 3 renderer (see glesRenderer.h). Only GLES3/gl3.h is included here,
// so that nothing outside OpenGL ES 3.0 compiles in this file. The same calls
// run on a desktop context too (a media centre's own, 3.2 core or
// compatibility): only the shaders' first line differs, chosen when the
// program is made.
#include "glesRenderer.h"

#include <GLES3/gl3.h>

#include <cmath>
#include <cstddef>
#include <cstring>

GlesRenderer glesRenderer;

namespace {

const char* const VERTEX_SHADER = R"(
uniform mat4 uMvp;
layout(location = 0) in vec3 aPosition;
layout(location = 1) in vec2 aTexCoord;
layout(location = 2) in vec4 aColor;
out vec2 vTexCoord;
out vec4 vColor;
void main() {
    gl_Position = uMvp * vec4(aPosition, 1.0);
    vTexCoord = aTexCoord;
    // Fixed function clamps each vertex's colour before it is interpolated.
    vColor = clamp(aColor, 0.0, 1.0);
}
)";

// GL_MODULATE with the kit's GL_CLAMP wrap: linear filtering near an edge
// reaches half a texel into a border of transparent black. Per axis the
// border's share is what lies outside the texture of the two texels read,
// and with the edge texel repeated (CLAMP_TO_EDGE) the rest is that texel,
// so the wrap is the clamped sample times the inside shares.
const char* const FRAGMENT_SHADER = R"(
precision highp float;
uniform sampler2D uTexture;
uniform bool uTextured;
in vec2 vTexCoord;
in vec4 vColor;
out vec4 fragColor;
void main() {
    if (!uTextured) {
        fragColor = vColor;
        return;
    }
    vec2 size = vec2(textureSize(uTexture, 0));
    vec2 st = clamp(vTexCoord, 0.0, 1.0);
    vec2 u = st * size - 0.5;
    vec2 inside = clamp(min(u + 1.0, size - u), 0.0, 1.0);
    fragColor = vColor * texture(uTexture, st) * (inside.x * inside.y);
}
)";

GlesRenderer::Matrix identity() {
    GlesRenderer::Matrix r;
    for (int i = 0; i < 16; i++) r.m[i] = (i % 5 == 0) ? 1.0f : 0.0f;
    return r;
}

// a = a * b, column-major, in float as the GL library multiplies.
void multiply(GlesRenderer::Matrix& a, const float b[16]) {
    float r[16];
    for (int i = 0; i < 4; i++) {
        for (int j = 0; j < 4; j++) {
            r[j * 4 + i] = a.m[0 * 4 + i] * b[j * 4 + 0] + a.m[1 * 4 + i] * b[j * 4 + 1] +
                           a.m[2 * 4 + i] * b[j * 4 + 2] + a.m[3 * 4 + i] * b[j * 4 + 3];
        }
    }
    std::memcpy(a.m, r, sizeof r);
}

bool hasExtension(const char* name) {
    GLint count = 0;
    glGetIntegerv(GL_NUM_EXTENSIONS, &count);
    for (GLint i = 0; i < count; i++) {
        const GLubyte* e = glGetStringi(GL_EXTENSIONS, GLuint(i));
        if (e && std::strcmp(reinterpret_cast<const char*>(e), name) == 0) return true;
    }
    return false;
}

}  // namespace

// GLSL ES 3.00 wherever the context takes it: ES itself, and desktop drivers
// with ES 3 compatibility (Mesa's all have it), so that one text is compiled
// everywhere it can be. Other desktop contexts get GLSL 3.30, whose language
// is the same for these shaders (precision qualifiers are accepted and
// ignored).
const char* glesShaderVersion() {
    const char* version = reinterpret_cast<const char*>(glGetString(GL_VERSION));
    if (!version) return "#version 300 es\n";
    if (std::strncmp(version, "OpenGL ES", 9) == 0 || hasExtension("GL_ARB_ES3_compatibility"))
        return "#version 300 es\n";
    return "#version 330 core\n";
}

namespace {

GLuint compile(GLenum type, const char* body, std::vector<char>* log) {
    GLuint shader = glCreateShader(type);
    const char* source[2] = {glesShaderVersion(), body};
    glShaderSource(shader, 2, source, nullptr);
    glCompileShader(shader);
    GLint ok = GL_FALSE;
    glGetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (ok) return shader;
    if (log) {
        GLint length = 0;
        glGetShaderiv(shader, GL_INFO_LOG_LENGTH, &length);
        log->assign(size_t(length) + 1, 0);
        glGetShaderInfoLog(shader, length, nullptr, log->data());
    }
    glDeleteShader(shader);
    return 0;
}

}  // namespace

GlesRenderer::GlesRenderer()
    : mMatrixMode(MODELVIEW), mOutline(false), mTexturing(false), mReady(false), mSaved2D(), mProgram(0),
      mVao(), mVertexBuffer(), mIndexBuffer(), mNextBuffer(0), mMvpLocation(-1), mTexturedLocation(-1),
      mSamplerLocation(-1) {
    mModelview.push_back(identity());
    mProjection.push_back(identity());
}

// The GL objects go with the context; nothing is deleted at exit, when the
// context may already be gone.
GlesRenderer::~GlesRenderer() {}

void GlesRenderer::forgetGL() {
    mReady = false;
    mProgram = 0;
    for (int i = 0; i < BUFFER_RING; i++) mVao[i] = mVertexBuffer[i] = mIndexBuffer[i] = 0;
    mNextBuffer = 0;
}

bool GlesRenderer::setupGL(std::vector<char>* log) {
    forgetGL();
    mModelview.assign(1, identity());
    mProjection.assign(1, identity());
    mMatrixMode = MODELVIEW;
    mOutline = false;
    mTexturing = false;
    GLuint vs = compile(GL_VERTEX_SHADER, VERTEX_SHADER, log);
    GLuint fs = vs ? compile(GL_FRAGMENT_SHADER, FRAGMENT_SHADER, log) : 0;
    if (!vs || !fs) {
        if (vs) glDeleteShader(vs);
        return false;
    }
    mProgram = glCreateProgram();
    glAttachShader(mProgram, vs);
    glAttachShader(mProgram, fs);
    glLinkProgram(mProgram);
    glDeleteShader(vs);
    glDeleteShader(fs);
    GLint linked = GL_FALSE;
    glGetProgramiv(mProgram, GL_LINK_STATUS, &linked);
    if (!linked) {
        glDeleteProgram(mProgram);
        mProgram = 0;
        return false;
    }
    mMvpLocation = glGetUniformLocation(mProgram, "uMvp");
    mTexturedLocation = glGetUniformLocation(mProgram, "uTextured");
    mSamplerLocation = glGetUniformLocation(mProgram, "uTexture");

    glGenVertexArrays(BUFFER_RING, mVao);
    glGenBuffers(BUFFER_RING, mVertexBuffer);
    glGenBuffers(BUFFER_RING, mIndexBuffer);
    const GLsizei stride = sizeof(GlesVertex);
    for (int i = 0; i < BUFFER_RING; i++) {
        glBindVertexArray(mVao[i]);
        glBindBuffer(GL_ARRAY_BUFFER, mVertexBuffer[i]);
        glBindBuffer(GL_ELEMENT_ARRAY_BUFFER, mIndexBuffer[i]);
        glEnableVertexAttribArray(0);
        glVertexAttribPointer(0, 3, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<const void*>(offsetof(GlesVertex, x)));
        glEnableVertexAttribArray(1);
        glVertexAttribPointer(1, 2, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<const void*>(offsetof(GlesVertex, s)));
        glEnableVertexAttribArray(2);
        glVertexAttribPointer(2, 4, GL_FLOAT, GL_FALSE, stride, reinterpret_cast<const void*>(offsetof(GlesVertex, r)));
    }
    glBindVertexArray(0);

    glUseProgram(mProgram);
    glUniform1i(mSamplerLocation, 0);
    mReady = true;
    return true;
}

// ---------------------------------------------------------------- matrices

std::vector<GlesRenderer::Matrix>& GlesRenderer::stack() {
    return mMatrixMode == PROJECTION ? mProjection : mModelview;
}

const GlesRenderer::Matrix& GlesRenderer::current() const {
    return mMatrixMode == PROJECTION ? mProjection.back() : mModelview.back();
}

void GlesRenderer::matrixMode(MatrixMode mode) { mMatrixMode = mode; }

void GlesRenderer::loadIdentity() { stack().back() = identity(); }

void GlesRenderer::loadMatrix(const float m[16]) { std::memcpy(stack().back().m, m, sizeof(float) * 16); }

void GlesRenderer::multMatrix(const float m[16]) { multiply(stack().back(), m); }

void GlesRenderer::frustum(float left, float right, float bottom, float top, float zNear, float zFar) {
    float m[16] = {};
    m[0] = (2.0f * zNear) / (right - left);
    m[5] = (2.0f * zNear) / (top - bottom);
    m[8] = (right + left) / (right - left);
    m[9] = (top + bottom) / (top - bottom);
    m[10] = -(zFar + zNear) / (zFar - zNear);
    m[11] = -1.0f;
    m[14] = -(2.0f * zFar * zNear) / (zFar - zNear);
    multMatrix(m);
}

void GlesRenderer::ortho(float left, float right, float bottom, float top, float zNear, float zFar) {
    float m[16] = {};
    m[0] = 2.0f / (right - left);
    m[5] = 2.0f / (top - bottom);
    m[10] = -2.0f / (zFar - zNear);
    m[12] = -(right + left) / (right - left);
    m[13] = -(top + bottom) / (top - bottom);
    m[14] = -(zFar + zNear) / (zFar - zNear);
    m[15] = 1.0f;
    multMatrix(m);
}

void GlesRenderer::translate(float x, float y, float z) {
    float m[16] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, x, y, z, 1};
    multMatrix(m);
}

void GlesRenderer::rotate(float degrees, float x, float y, float z) {
    // The GL library's arithmetic: the angle to radians in double, its sine
    // and cosine in float.
    float s = std::sin(static_cast<float>(degrees * M_PI / 180.0));
    float c = std::cos(static_cast<float>(degrees * M_PI / 180.0));
    // Turns about an axis get the exact matrix, as the GL library gives them.
    if (y == 0 && z == 0 && x != 0) {
        if (x < 0) s = -s;
        float m[16] = {1, 0, 0, 0, 0, c, s, 0, 0, -s, c, 0, 0, 0, 0, 1};
        multMatrix(m);
        return;
    }
    if (x == 0 && z == 0 && y != 0) {
        if (y < 0) s = -s;
        float m[16] = {c, 0, -s, 0, 0, 1, 0, 0, s, 0, c, 0, 0, 0, 0, 1};
        multMatrix(m);
        return;
    }
    float len = std::sqrt(x * x + y * y + z * z);
    if (len == 0) return;
    x /= len;
    y /= len;
    z /= len;
    float t = 1 - c;
    float m[16] = {x * x * t + c,     y * x * t + z * s, z * x * t - y * s, 0,
                   x * y * t - z * s, y * y * t + c,     z * y * t + x * s, 0,
                   x * z * t + y * s, y * z * t - x * s, z * z * t + c,     0,
                   0,                 0,                 0,                 1};
    multMatrix(m);
}

void GlesRenderer::scale(float x, float y, float z) {
    float m[16] = {x, 0, 0, 0, 0, y, 0, 0, 0, 0, z, 0, 0, 0, 0, 1};
    multMatrix(m);
}

// GL's stacks never go below one entry: a pop too many is an error that
// changes nothing, and so it is here.
void GlesRenderer::push() { stack().push_back(stack().back()); }

void GlesRenderer::pop() {
    if (stack().size() > 1) stack().pop_back();
}

// ---------------------------------------------------------------- drawing

void GlesRenderer::submit(unsigned glMode, bool textured, const GlesVertex* vertices, int count,
                          const unsigned* indices, int indexCount) {
    if (!mReady || count <= 0) return;
    Matrix mvp = mProjection.back();
    multiply(mvp, mModelview.back().m);
    glUseProgram(mProgram);
    glUniformMatrix4fv(mMvpLocation, 1, GL_FALSE, mvp.m);
    glUniform1i(mTexturedLocation, textured && mTexturing ? 1 : 0);
    const int slot = mNextBuffer;
    mNextBuffer = (mNextBuffer + 1) % BUFFER_RING;
    glBindVertexArray(mVao[slot]);
    glBindBuffer(GL_ARRAY_BUFFER, mVertexBuffer[slot]);
    glBufferData(GL_ARRAY_BUFFER, GLsizeiptr(count) * GLsizeiptr(sizeof(GlesVertex)), vertices, GL_STREAM_DRAW);
    if (indices && indexCount > 0) {
        glBufferData(GL_ELEMENT_ARRAY_BUFFER, GLsizeiptr(indexCount) * GLsizeiptr(sizeof(unsigned)), indices,
                     GL_STREAM_DRAW);
        glDrawElements(glMode, indexCount, GL_UNSIGNED_INT, nullptr);
    } else {
        glDrawArrays(glMode, 0, count);
    }
    glBindVertexArray(0);
}

void GlesRenderer::draw(Primitive primitive, bool textured, const GlesVertex* vertices, int count,
                        const unsigned* indices, int indexCount, const int* firsts, const int* counts,
                        int strips) {
    if (count <= 0) return;
    std::vector<unsigned>& out = mScratchIndices;
    out.clear();
    if (primitive == LINES) {
        submit(GL_LINES, textured, vertices, count, nullptr, 0);
        return;
    }
    if (primitive == TRIANGLES && !mOutline) {
        submit(GL_TRIANGLES, textured, vertices, count, indices, indexCount);
        return;
    }
    if (primitive == TRIANGLES) {
        // Each triangle's three edges.
        for (int i = 0; i + 2 < indexCount; i += 3) {
            for (int k : {0, 1, 1, 2, 2, 0}) out.push_back(indices[i + k]);
        }
    } else if (primitive == QUADS) {
        for (unsigned q = 0; q + 3 < unsigned(count); q += 4) {
            if (mOutline) {
                for (unsigned k : {0u, 1u, 1u, 2u, 2u, 3u, 3u, 0u}) out.push_back(q + k);
            } else {
                for (unsigned k : {0u, 1u, 2u, 0u, 2u, 3u}) out.push_back(q + k);
            }
        }
    } else {   // QUAD_STRIPS
        for (int s = 0; s < strips; s++) {
            for (int i = firsts[s]; i + 3 < firsts[s] + counts[s]; i += 2) {
                unsigned v = unsigned(i);
                if (mOutline) {
                    // The driver splits each quad into (v2 v0 v3) and
                    // (v0 v1 v3) and outlines every edge but the diagonal,
                    // so a rung shared by two quads is drawn by both.
                    for (unsigned k : {v + 2, v, v + 3, v + 2, v, v + 1, v + 1, v + 3}) out.push_back(k);
                } else {
                    for (unsigned k : {v + 2, v, v + 3, v, v + 1, v + 3}) out.push_back(k);
                }
            }
        }
    }
    submit(mOutline ? GL_LINES : GL_TRIANGLES, textured, vertices, count, out.data(), int(out.size()));
}

void GlesRenderer::drawLines(const float* ends, int count) {
    mScratch.resize(size_t(count > 0 ? count : 0));
    for (int i = 0; i < count; i++) {
        const float* e = ends + 7 * i;
        mScratch[size_t(i)] = {e[0], e[1], e[2], 0, 0, e[3], e[4], e[5], e[6]};
    }
    submit(GL_LINES, false, mScratch.data(), count, nullptr, 0);
}

void GlesRenderer::drawImage(unsigned texture, float x0, float y0, float x1, float y1, float u0, float v0,
                             float u1, float v1, const float c[4]) {
    const GlesVertex quad[4] = {{x0, y0, 0, u0, v0, c[0], c[1], c[2], c[3]},
                                {x1, y0, 0, u1, v0, c[0], c[1], c[2], c[3]},
                                {x1, y1, 0, u1, v1, c[0], c[1], c[2], c[3]},
                                {x0, y1, 0, u0, v1, c[0], c[1], c[2], c[3]}};
    glBindTexture(GL_TEXTURE_2D, texture);
    draw(QUADS, true, quad, 4);
    glBindTexture(GL_TEXTURE_2D, 0);
}

void GlesRenderer::begin2D(float width, float height) {
    Saved2D& s = mSaved2D;
    s.blend = glIsEnabled(GL_BLEND);
    s.depthTest = glIsEnabled(GL_DEPTH_TEST);
    GLboolean mask = GL_TRUE;
    glGetBooleanv(GL_DEPTH_WRITEMASK, &mask);
    s.depthMask = mask;
    glGetIntegerv(GL_BLEND_SRC_RGB, &s.blendSrcRGB);
    glGetIntegerv(GL_BLEND_DST_RGB, &s.blendDstRGB);
    glGetIntegerv(GL_BLEND_SRC_ALPHA, &s.blendSrcAlpha);
    glGetIntegerv(GL_BLEND_DST_ALPHA, &s.blendDstAlpha);
    glGetIntegerv(GL_BLEND_EQUATION_RGB, &s.blendEquation);
    s.outline = mOutline;
    s.texturing = mTexturing;
    mOutline = false;
    mTexturing = true;

    matrixMode(PROJECTION);
    push();
    loadIdentity();
    ortho(0, width, height, 0, -1, 1);
    matrixMode(MODELVIEW);
    push();
    loadIdentity();

    glDisable(GL_DEPTH_TEST);
    glDepthMask(GL_FALSE);
    glEnable(GL_BLEND);
    glBlendEquation(GL_FUNC_ADD);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
}

void GlesRenderer::end2D() {
    const Saved2D& s = mSaved2D;
    matrixMode(PROJECTION);
    pop();
    matrixMode(MODELVIEW);
    pop();
    if (s.blend) glEnable(GL_BLEND); else glDisable(GL_BLEND);
    if (s.depthTest) glEnable(GL_DEPTH_TEST); else glDisable(GL_DEPTH_TEST);
    glDepthMask(s.depthMask);
    mOutline = s.outline;
    mTexturing = s.texturing;
    glBlendEquation(GLenum(s.blendEquation));
    glBlendFuncSeparate(GLenum(s.blendSrcRGB), GLenum(s.blendDstRGB), GLenum(s.blendSrcAlpha),
                        GLenum(s.blendDstAlpha));
}
