// The kit's drawing on a real Mesa context: the y-down projection, textured
// images, the circle primitives and the matrix helpers, checked by the
// pixels they produce.
#include <gtest/gtest.h>

#include <GL/gl.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "GLInit.h"
#include "gl_test_env.h"
#include "imageBinaries.h"
#include "libp5.h"
#include "lumenvortexApplet.h"

namespace {

constexpr int W = 200;
constexpr int H = 200;

// A y-down pixel projection over the canvas, the state every case starts from.
void startCanvas() {
    lvtest::requireGL(W, H);
    glDisable(GL_DEPTH_TEST);
    glDisable(GL_TEXTURE_2D);
    glDisable(GL_BLEND);
    glDisable(GL_CULL_FACE);
    glClearColor(0, 0, 0, 1);
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT);
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glOrtho(0, W, H, 0, -100, 100);
    glMatrixMode(GL_MODELVIEW);
    glLoadIdentity();
    pov.xRot = 0;
    pov.yRot = 0;
}

bool lit(int x, int y) { return lvtest::pixel(x, y).r > 128; }

// The first and last lit pixel along row y between x0 and x1.
std::pair<int, int> litSpan(int y, int x0, int x1) {
    int first = -1, last = -1;
    for (int x = x0; x <= x1; ++x) {
        if (lit(x, y)) {
            if (first < 0) first = x;
            last = x;
        }
    }
    return {first, last};
}

std::string captureStdout(void (*print)()) {
    std::fflush(stdout);
    testing::internal::CaptureStdout();
    print();
    std::fflush(stdout);
    return testing::internal::GetCapturedStdout();
}

}  // namespace

TEST(KitDraw, PerspectiveTurnsSceneYDownward) {
    ASSERT_NO_FATAL_FAILURE(startCanvas());
    perspective(PI / 3, 1, 10, 5000);
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_MODELVIEW);

    GLfloat p[16];
    glGetFloatv(GL_PROJECTION_MATRIX, p);
    EXPECT_NEAR(p[0], 1.7320508f, 1e-5);    // 2n / (right - left)
    EXPECT_NEAR(p[5], -1.7320508f, 1e-5);   // mirrored: top and bottom swapped

    glLoadIdentity();
    glColor3f(1, 1, 1);
    glBegin(GL_QUADS);   // a square below the axis (scene y > 0), 200 units ahead
    glVertex3f(-10, 40, -200);
    glVertex3f(10, 40, -200);
    glVertex3f(10, 60, -200);
    glVertex3f(-10, 60, -200);
    glEnd();
    // tan(30°) × 200 = 115.5 units fill half the canvas: y = 50 lands 43
    // pixels below the centre.
    EXPECT_TRUE(lit(W / 2, H / 2 + 43));
    EXPECT_FALSE(lit(W / 2, H / 2 - 43));
    EXPECT_FALSE(lit(W / 2, H / 2));
}

TEST(KitDraw, CameraAndMatrixHelpers) {
    ASSERT_NO_FATAL_FAILURE(startCanvas());
    camera(0, 0, 100, 0, 0, 0, 0, 1, 0);
    GLint mode = 0;
    glGetIntegerv(GL_MATRIX_MODE, &mode);
    EXPECT_EQ(mode, GL_PROJECTION);
    GLfloat m[16];
    glGetFloatv(GL_PROJECTION_MATRIX, m);
    EXPECT_FLOAT_EQ(m[14], -100);   // looking down -z from z = 100
    EXPECT_FLOAT_EQ(m[0], 1);
    EXPECT_FLOAT_EQ(m[5], 1);

    glMatrixMode(GL_MODELVIEW);
    setMatrix(1, 0, 0, 5, 0, 1, 0, 6, 0, 0, 1, 7, 0, 0, 0, 1);
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    EXPECT_EQ(m[12], 5);
    EXPECT_EQ(m[13], 6);
    EXPECT_EQ(m[14], 7);

    // rotateY(PI / 2) turns +x onto -z (a 90° turn in degrees for the GL).
    glLoadIdentity();
    pushMatrix();
    rotateY(PI / 2);
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    EXPECT_NEAR(m[2], -1, 1e-6);
    rotateX(PI);
    scale(2, 3);
    popMatrix();
    glGetFloatv(GL_MODELVIEW_MATRIX, m);
    EXPECT_EQ(m[0], 1);
    EXPECT_EQ(m[2], 0);
}

TEST(KitDraw, PrintMatrixWritesRowsThenABlankLine) {
    ASSERT_NO_FATAL_FAILURE(startCanvas());
    translate(5, 6, 7);
    EXPECT_EQ(captureStdout(printMatrix),
              "1.000000 0.000000 0.000000 5.000000\n"
              "0.000000 1.000000 0.000000 6.000000\n"
              "0.000000 0.000000 1.000000 7.000000\n"
              "0.000000 0.000000 0.000000 1.000000\n"
              "\n");
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    glMatrixMode(GL_MODELVIEW);
    EXPECT_EQ(captureStdout(printProjection),
              "1.000000 0.000000 0.000000 0.000000\n"
              "0.000000 1.000000 0.000000 0.000000\n"
              "0.000000 0.000000 1.000000 0.000000\n"
              "0.000000 0.000000 0.000000 1.000000\n"
              "\n");
}

TEST(KitDraw, ImageDrawsRowZeroAtTheTopAndCleansUp) {
    ASSERT_NO_FATAL_FAILURE(startCanvas());
    // Four rows: red, red, blue, blue.
    std::vector<unsigned char> pixels;
    for (int row = 0; row < 4; ++row) {
        for (int col = 0; col < 4; ++col) {
            unsigned char r = row < 2 ? 255 : 0;
            pixels.insert(pixels.end(), {r, 0, static_cast<unsigned char>(255 - r), 255});
        }
    }
    PImage img(pixels.data(), 4, 4);
    GLint param = 0;
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, &param);
    EXPECT_EQ(param, GL_CLAMP);
    glGetTexParameteriv(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, &param);
    EXPECT_EQ(param, GL_LINEAR);

    glEnable(GL_TEXTURE_2D);
    image(img, 10, 10, 160, 160);
    // Sampled a texel away from the borders, which GL_CLAMP blends with the
    // (black) border colour.
    lvtest::RGBA top = lvtest::pixel(90, 50);
    lvtest::RGBA bottom = lvtest::pixel(90, 130);
    EXPECT_GT(top.r, 240);
    EXPECT_LT(top.b, 15);
    EXPECT_GT(bottom.b, 240);
    EXPECT_LT(bottom.r, 15);
    EXPECT_EQ(lvtest::pixel(5, 5), (lvtest::RGBA{0, 0, 0, 255}));      // outside the quad
    EXPECT_EQ(lvtest::pixel(175, 90), (lvtest::RGBA{0, 0, 0, 255}));

    GLint bound = -1;
    glGetIntegerv(GL_TEXTURE_BINDING_2D, &bound);
    EXPECT_EQ(bound, 0);
    GLfloat current[4];
    glGetFloatv(GL_CURRENT_COLOR, current);
    EXPECT_EQ(current[0] + current[1] + current[2] + current[3], 4.0f);

    // The tint scales the texels (the default modulate environment).
    glClear(GL_COLOR_BUFFER_BIT);
    image(img, 10, 10, 160, 160, color(128, 255, 255), 255);
    EXPECT_NEAR(lvtest::pixel(90, 50).r, 128, 2);
    glDisable(GL_TEXTURE_2D);
}

TEST(KitDraw, EmbeddedImagesUploadExactly) {
    ASSERT_NO_FATAL_FAILURE(startCanvas());
    // Every texture the applet makes, read back from the GL: the upload takes
    // exactly width × height × 4 bytes, row 0 first.
    struct Case {
        unsigned char* data;
        int size;
    };
    const Case cases[] = {{orbImage, 128}, {haloOrbImage, 128}, {rainbowImage, 128}, {rainbowBlurImage, 512},
                          {infoPanelImage, 256}};
    for (const Case& c : cases) {
        PImage img(c.data, c.size, c.size);
        std::vector<unsigned char> back(static_cast<size_t>(c.size) * c.size * 4);
        glPixelStorei(GL_PACK_ALIGNMENT, 1);
        glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, back.data());
        EXPECT_EQ(std::vector<unsigned char>(c.data, c.data + back.size()), back);
    }
    std::vector<unsigned char> bar(256 * 256 * 4);
    expandGradientBarToRGBA(bar.data());
    PImage gradient(bar.data(), 256, 256);
    std::vector<unsigned char> back(bar.size());
    glGetTexImage(GL_TEXTURE_2D, 0, GL_RGBA, GL_UNSIGNED_BYTE, back.data());
    EXPECT_EQ(back, bar);
    EXPECT_EQ(back[4 * 128], 255);   // column 128 of row 0: the bar's crest
    EXPECT_EQ(back[4 * 128 + 3], 255);
    EXPECT_EQ(glGetError(), static_cast<GLenum>(GL_NO_ERROR));
}

TEST(KitDraw, EllipseTakesARadiusAndRingsAreBands) {
    ASSERT_NO_FATAL_FAILURE(startCanvas());
    initEllipse();
    renderEllipse(100, 100, 0, 10, color(255, 255, 255), 255);
    auto span = litSpan(100, 80, 120);
    EXPECT_NEAR(span.first, 90, 1);   // radius 10, not diameter 10
    EXPECT_NEAR(span.second, 109, 1);
    EXPECT_TRUE(lit(100, 91));
    EXPECT_FALSE(lit(100, 88));

    glClear(GL_COLOR_BUFFER_BIT);
    renderRing(100, 100, 0, 40, color(255, 255, 255), 255);
    span = litSpan(100, 100, 150);   // from the centre outwards
    EXPECT_NEAR(span.first, 130, 1);  // inner edge at 0.75 × 40
    EXPECT_NEAR(span.second, 139, 1);
    EXPECT_FALSE(lit(100, 100));
    EXPECT_TRUE(lit(100, 100 - 35));

    // Opacity is on the 0..255 scale.
    glClear(GL_COLOR_BUFFER_BIT);
    glEnable(GL_BLEND);
    glBlendFunc(GL_SRC_ALPHA, GL_ONE_MINUS_SRC_ALPHA);
    renderEllipse(100, 100, 0, 10, color(255, 255, 255), 127.5f);
    glDisable(GL_BLEND);
    EXPECT_NEAR(lvtest::pixel(100, 100).r, 128, 2);

    // The outline lies on the circle and leaves the inside empty. (Its
    // pixels may be partly covered under multisampling: any light counts.)
    glClear(GL_COLOR_BUFFER_BIT);
    renderStroke(100, 100, 0, 30, color(255, 255, 255), 255);
    int first = -1, last = -1;
    for (int x = 60; x <= 140; ++x) {
        if (lvtest::pixel(x, 100).r > 40) {
            if (first < 0) first = x;
            last = x;
        }
    }
    EXPECT_NEAR(first, 70, 1);
    EXPECT_NEAR(last, 130, 1);
    EXPECT_EQ(lvtest::pixel(100, 100).r, 0);
}

TEST(KitDraw, DiscsFaceTheCamera) {
    ASSERT_NO_FATAL_FAILURE(startCanvas());
    initEllipse();
    // The camera's turn, as pov applies it; the disc must still be a full
    // circle of radius 20 on screen.
    pov.xRot = 0.7f;
    pov.yRot = 1.3f;
    glTranslatef(100, 100, 0);
    rotateX(pov.xRot);
    rotateY(pov.yRot);
    renderEllipse(0, 0, 0, 20, color(255, 255, 255), 255);
    auto across = litSpan(100, 60, 140);
    EXPECT_NEAR(across.first, 80, 1);
    EXPECT_NEAR(across.second, 119, 1);
    int top = -1, bottom = -1;
    for (int y = 60; y <= 140; ++y) {
        if (lit(100, y)) {
            if (top < 0) top = y;
            bottom = y;
        }
    }
    EXPECT_NEAR(top, 80, 1);
    EXPECT_NEAR(bottom, 119, 1);
    pov.xRot = 0;
    pov.yRot = 0;
}

TEST(KitDraw, GradientHelpers) {
    ASSERT_NO_FATAL_FAILURE(startCanvas());
    renderGradientBox(20, 20, 180, 180, color(255, 0, 0), 1, color(0, 0, 255), 1);
    lvtest::RGBA top = lvtest::pixel(100, 22);
    lvtest::RGBA bottom = lvtest::pixel(100, 178);
    EXPECT_GT(top.r, 240);
    EXPECT_GT(bottom.b, 240);
    EXPECT_LT(bottom.r, 15);

    // The line runs down x1 whatever x2 says, with a white tick past y2.
    glClear(GL_COLOR_BUFFER_BIT);
    renderGradientLine(3, 50, 20, 150, 120, color(0, 255, 0), 1, color(0, 255, 0), 1);
    EXPECT_GT(lvtest::pixel(50, 70).g, 200);
    EXPECT_EQ(lvtest::pixel(150, 70).g, 0);
    GLfloat current[4];
    glGetFloatv(GL_CURRENT_COLOR, current);
    EXPECT_EQ(current[0] + current[1] + current[2], 3.0f);
    glLineWidth(1);
}
