// The kit's drawing on a real Mesa context, checked by the pixels it
// produces: the y-down projection, textured images and the circle shapes.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <utility>
#include <vector>

#include "gl_test_env.h"
#include "libp5.h"
#include "lumenvortexApplet.h"

namespace {

constexpr int W = 200, H = 200;

class KitDraw : public testing::Test {
protected:
    // A y-down pixel projection over a black canvas.
    void SetUp() override {
        lvtest::requireGL(W, H);
        glDisable(GL_DEPTH_TEST);
        glDisable(GL_TEXTURE_2D);
        glDisable(GL_BLEND);
        glClearColor(0, 0, 0, 1);
        glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
        glMatrixMode(GL_PROJECTION);
        glLoadIdentity();
        glOrtho(0, W, H, 0, -100, 100);
        glMatrixMode(GL_MODELVIEW);
        glLoadIdentity();
        pov.xRot = pov.yRot = 0;
    }
};

bool lit(int x, int y) { return lvtest::pixel(x, y).r > 128; }

}  // namespace

TEST_F(KitDraw, PerspectivePutsSceneYBelowTheCentre) {
    perspective(PI / 3, 1, 10, 5000);
    glLoadIdentity();
    glColor3f(1, 1, 1);
    glBegin(GL_QUADS);   // a square at scene y 40..60, 200 units ahead
    for (auto [x, y] : {std::pair{-10, 40}, {10, 40}, {10, 60}, {-10, 60}}) glVertex3f(x, y, -200);
    glEnd();
    // tan(30 deg) x 200 = 115.5 units fill half the canvas: y = 50 lands 43
    // pixels below the centre.
    EXPECT_TRUE(lit(W / 2, H / 2 + 43));
    EXPECT_FALSE(lit(W / 2, H / 2 - 43));
}

TEST_F(KitDraw, ImageDrawsRowZeroAtTheTopAndCleansUp) {
    std::vector<unsigned char> pixels;   // four rows: red, red, blue, blue
    for (int i = 0; i < 16; ++i) {
        unsigned char r = i < 8 ? 255 : 0;
        pixels.insert(pixels.end(), {r, 0, static_cast<unsigned char>(255 - r), 255});
    }
    PImage img(pixels.data(), 4, 4);
    glEnable(GL_TEXTURE_2D);
    image(img, 10, 10, 160, 160);
    // Sampled away from the borders, which GL_CLAMP blends with black.
    lvtest::RGBA top = lvtest::pixel(90, 50), bottom = lvtest::pixel(90, 130);
    EXPECT_TRUE(top.r > 240 && top.b < 15 && bottom.b > 240 && bottom.r < 15);

    GLint bound = -1;
    GLfloat current[4];
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    glGetFloatv(GL_CURRENT_COLOR, current);
    EXPECT_TRUE(bound == 0 && current[0] + current[1] + current[2] + current[3] == 4.0f) << "left bound or tinted";
    glDisable(GL_TEXTURE_2D);
}
