// Circle primitives: a disc, a ring band and an outline, compiled once per GL
// context into display lists by initEllipse() and replayed by the render
// functions. Discs and rings face the camera (they undo pov's rotation).
// Opacity: renderEllipse/Ring/Stroke take 0..255, the gradient pair 0..1.
#pragma once

#include <GL/gl.h>

#include "libp5.h"

extern GLuint ellipseList;
extern GLuint strokeList;
extern GLuint ringList;

void initEllipse();
void renderEllipse(float xSent, float ySent, float zSent, float diaSent, color colorSent, float aSent);
void renderRing(float xSent, float ySent, float zSent, float diaSent, color colorSent, float aSent);
void renderStroke(float xSent, float ySent, float zSent, float diaSent, color colorSent, float aSent);
void renderGradientLine(float lWidth, float x1, float y1, float x2, float y2,
                        color color1, float a1, color color2, float a2);
void renderGradientBox(float x1, float y1, float x2, float y2,
                       color color1, float alpha1, color color2, float alpha2);
