// Circle primitives in display lists, and two gradient helpers.
//
// The flat-shaded particle renderer draws one or two of these per particle
// per frame, so the trigonometry is done once per context in initEllipse()
// and every render call is a push, two turns, a scale, a colour and a replay.
#include "GLInit.h"

#include <cmath>

#include "POV.h"

extern POV pov;

GLuint ellipseList = 0;
GLuint strokeList = 0;
GLuint ringList = 0;

namespace {

constexpr int CIRCLE_STEPS = 32;

float circleAngle(int i) { return (static_cast<float>(i) * TWO_PI) * 0.03125f; }

void circleVertices() {
    for (int i = 0; i < CIRCLE_STEPS; ++i) {
        float theta = circleAngle(i);
        glVertex2f(std::cos(theta), std::sin(theta));
    }
}

void setColor255(const color& c, float aSent) {
    glColor4f(c.red / 255.0f, c.green / 255.0f, c.blue / 255.0f, aSent / 255.0f);
}

void renderFacingCamera(GLuint list, float xSent, float ySent, float zSent, float diaSent, color colorSent,
                        float aSent) {
    glPushMatrix();
    glTranslatef(xSent, ySent, zSent);
    // pov turns the scene by rotateX(xRot) then rotateY(yRot); undoing both,
    // innermost first, leaves the shape's plane facing the viewer.
    glRotatef(degrees(-pov.yRot), 0.0f, 1.0f, 0.0f);
    glRotatef(degrees(-pov.xRot), 1.0f, 0.0f, 0.0f);
    glScalef(diaSent, diaSent, diaSent);
    setColor255(colorSent, aSent);
    glCallList(list);
    glPopMatrix();
}

}  // namespace

void initEllipse() {
    // New names every time: the previous ones died with their context.
    ellipseList = glGenLists(1);
    strokeList = glGenLists(1);
    ringList = glGenLists(1);

    glNewList(ellipseList, GL_COMPILE);
    glBegin(GL_POLYGON);
    circleVertices();
    glEnd();
    glEndList();

    glNewList(ringList, GL_COMPILE);
    glBegin(GL_QUAD_STRIP);
    for (int i = 0; i <= CIRCLE_STEPS; ++i) {
        float theta = circleAngle(i);
        glVertex2f(std::cos(theta), std::sin(theta));
        double t = static_cast<double>(theta);
        glVertex2f(static_cast<float>(std::cos(t) * 0.75), static_cast<float>(std::sin(t) * 0.75));
    }
    glEnd();
    glEndList();

    glNewList(strokeList, GL_COMPILE);
    glBegin(GL_LINE_LOOP);
    circleVertices();
    glEnd();
    glEndList();
}

void renderEllipse(float xSent, float ySent, float zSent, float diaSent, color colorSent, float aSent) {
    renderFacingCamera(ellipseList, xSent, ySent, zSent, diaSent, colorSent, aSent);
}

void renderRing(float xSent, float ySent, float zSent, float diaSent, color colorSent, float aSent) {
    renderFacingCamera(ringList, xSent, ySent, zSent, diaSent, colorSent, aSent);
}

void renderStroke(float xSent, float ySent, float zSent, float diaSent, color colorSent, float aSent) {
    glPushMatrix();
    glTranslatef(xSent, ySent, zSent);
    glScalef(diaSent, diaSent, diaSent);
    setColor255(colorSent, aSent);
    glCallList(strokeList);
    glPopMatrix();
}

// Vertical at x1 from y1 to y2; x2 is accepted and unused. The white tick
// continues one unit past y2.
void renderGradientLine(float lWidth, float x1, float y1, float /*x2*/, float y2, color color1, float a1,
                        color color2, float a2) {
    glLineWidth(lWidth);
    glBegin(GL_LINES);
    glColor4f(color1.red / 255.0f, color1.green / 255.0f, color1.blue / 255.0f, a1);
    glVertex2f(x1, y1);
    glColor4f(color2.red / 255.0f, color2.green / 255.0f, color2.blue / 255.0f, a2);
    glVertex2f(x1, y2);
    glEnd();
    glBegin(GL_LINES);
    glColor3f(1.0f, 1.0f, 1.0f);
    glVertex2f(x1, y2);
    glVertex2f(x1, y2 + 1.0f);
    glEnd();
}

void renderGradientBox(float x1, float y1, float x2, float y2, color color1, float alpha1, color color2,
                       float alpha2) {
    glBegin(GL_POLYGON);
    glColor4f(color1.red / 255.0f, color1.green / 255.0f, color1.blue / 255.0f, alpha1);
    glVertex2f(x1, y1);
    glVertex2f(x2, y1);
    glColor4f(color2.red / 255.0f, color2.green / 255.0f, color2.blue / 255.0f, alpha2);
    glVertex2f(x2, y2);
    glVertex2f(x1, y2);
    glEnd();
}
