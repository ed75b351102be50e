// Shared set-up of the field tests: a fresh scene on the real GL test bed,
// exact band levels, plain white sprites in place of the artwork (so drawn
// colours are exactly the tints), a flat 1-unit-per-pixel view, and GL
// feedback mode to read back what was drawn as numbers.
#pragma once

#include <gtest/gtest.h>

#include <GL/gl.h>

#include <initializer_list>
#include <utility>
#include <vector>

#include "GLInit.h"
#include "gl_test_env.h"
#include "lumenvortexApplet.h"

namespace fieldtest {

constexpr int kCanvas = 200;

// getLevel(band) then answers `level` (exactly, while multi is a power of two).
inline void setBand(int band, float level) { sounds.levels[band] = level / sounds.multi; }
inline void silence() {
    for (int i = 0; i < Sounds::numBands; i++) sounds.levels[i] = 0;
}

// The flow flag is drawn at random by every mode change; tests pick it.
inline void setMode(int mode, bool flow = false) {
    while (gMode.currentMode() != mode) gMode.nextMode();
    gMode.setPerlinFlow(flow);
}

// A fresh scene in `mode`, flow off, silent, with the shape lists and white
// sprites in this context. Scene coordinates are pixels from the canvas
// centre, y up, camera angles 0.
inline void freshScene(int mode = 0) {
    lvtest::requireGL(kCanvas, kCanvas);
    resetScene();
    initEllipse();
    static std::vector<unsigned char> white(128 * 128 * 4, 255);
    static PImage* sprite = new PImage(white.data(), 128, 128);   // one per process, like the context
    orb = haloOrb = rainbow = rainbowBlur = sprite;
    setMode(mode);
    gMode.setupGL();
    silence();
    glViewport(0, 0, kCanvas, kCanvas);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(-kCanvas / 2, kCanvas / 2, -kCanvas / 2, kCanvas / 2, -1000, 1000);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    pov.xRot = pov.yRot = 0;
    glPolygonMode(GL_FRONT_AND_BACK, GL_FILL);
    glBindTexture(GL_TEXTURE_2D, 0);
}

// The same scene for the physics, with no GL context: wells and particles
// are stepped through their own operations, and what those draw on the way
// goes to libglvnd's no-op dispatch, which is what GL calls reach while no
// context is current.
inline void freshField(int mode = 0, bool flow = false) {
    resetScene();
    setMode(mode, flow);
    silence();
}

// The control's list made exactly these bodies, at rest, at these levels.
template <class Control>
void placeAtRest(Control& control, std::initializer_list<std::pair<Vector3D, float>> where) {
    control.total = (int)where.size();
    while (control.count != control.total) control.adjustAmount();
    auto body = control.myList.begin();
    for (auto [l, level] : where) {
        body->loc = l;
        body->vel = body->acc = Vector3D();
        (body++)->myLevel = level;
    }
}

// Three draws of random(-r, r) from seed 7, the first for z; then seed 7
// again, so that the code under test makes the same draws.
inline Vector3D drawnZYX(float r) {
    srand(7);
    float z = random(-r, r), y = random(-r, r);
    Vector3D v(random(-r, r), y, z);
    srand(7);
    return v;
}

// A particle outside the list, as one of a 525 target makes it.
inline Particle loose(int index = 0) {
    particleControl.total = 525;
    return Particle(index, &particleControl, &particleControl.myList, gravityControl.getList(), Vector3D(), Vector3D(),
                    Vector3D());
}

// A vector equal to `want` within 4 ulps in each component.
inline ::testing::AssertionResult sameVec(const Vector3D& want, const Vector3D& got) {
    auto same = [](float w, float g) {
        return ::testing::internal::FloatingPoint<float>(w).AlmostEquals(::testing::internal::FloatingPoint<float>(g));
    };
    if (same(want.x, got.x) && same(want.y, got.y) && same(want.z, got.z)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "want (" << want.x << ", " << want.y << ", " << want.z << "), got ("
                                         << got.x << ", " << got.y << ", " << got.z << ")";
}
#define EXPECT_VEC(want, got) EXPECT_TRUE(fieldtest::sameVec(want, got))

struct FbVertex {
    float x, y, z;   // window coordinates: scene + kCanvas / 2
    float r, g, b, a;
    float s, t;
};

// Everything drawn between begin() and end(), as vertices in draw order.
class Feedback {
public:
    int lines = 0;

    void begin() {
        glFeedbackBuffer((GLsizei)mBuffer.size(), GL_3D_COLOR_TEXTURE, mBuffer.data());
        glRenderMode(GL_FEEDBACK);
    }
    std::vector<FbVertex> end() {
        GLint n = glRenderMode(GL_RENDER);
        std::vector<FbVertex> out;
        lines = 0;
        for (GLint i = 0; i < n;) {
            GLint token = (GLint)mBuffer[i++], count = 1;   // points, bitmaps, pixel rectangles: one vertex
            if (token == GL_POLYGON_TOKEN || token == GL_PASS_THROUGH_TOKEN) count = (int)mBuffer[i++];
            if (token == GL_PASS_THROUGH_TOKEN) continue;
            if (token == GL_LINE_TOKEN || token == GL_LINE_RESET_TOKEN) count = 2, lines++;
            for (int k = 0; k < count; k++, i += 11) {   // 3 + 4 + 4 floats a vertex
                const float* f = &mBuffer[i];
                out.push_back({f[0], f[1], f[2], f[3], f[4], f[5], f[6], f[7], f[8]});
            }
        }
        return out;
    }

private:
    std::vector<GLfloat> mBuffer = std::vector<GLfloat>(1 << 20);
};

}  // namespace fieldtest
