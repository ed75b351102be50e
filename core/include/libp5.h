// The drawing kit: sketch-style helpers over fixed-function OpenGL.
//
//   numbers and time  random, constrain, degrees, dist, millis (+ clock seam)
//   colour            color and its HSB conversions
//   drawing state     PImage, matrix helpers, perspective, camera, image
//   sketch            PApplet, the base of the visualizer's applet
//
// Everything runs on the host's thread with the plug-in's GL context current.
// Nothing here reports errors: GL failures set GL's error flag and nothing
// else, bad numbers follow IEEE arithmetic.
#pragma once

#include <GL/gl.h>

#include "Vector3D.h"

extern const float PI;
extern const float TWO_PI;

// ---------------------------------------------------------------- numbers

float random(float min, float max);
float random(float max);
// The arithmetic of random(min, max) on one given draw of rand(). A draw of
// 2147483584 or more converts to the float 2^31, so max itself is reachable.
float randomScaled(int draw, float min, float max);
float constrain(float value, float min, float max);
int constrain(int value, int min, int max);
float degrees(float radians);
float dist(float x1, float y1, float x2, float y2);
float dist(float x1, float y1, float z1, float x2, float y2, float z2);

// ---------------------------------------------------------------- time
//
// millis() counts whole milliseconds since its first call. By default it reads
// the local wall clock through Boost.Date_Time; a step of that clock (the
// clock being set, a daylight-saving change) is absorbed, so the count never
// goes backwards and never leaps. Hosts that render offline, and tests,
// install their own time source: the whole system then runs on that time,
// including the frame pacing's sleeps. When an installed source steps
// backwards the step is dropped: the count stands still for that reading and
// then moves on with the source.
// `long` is 64 bits on this ABI: the count does not wrap.

struct ClockSource {
    long long (*nowMicros)(void* user);           // any origin; should not go backwards
    void (*sleepMicros)(void* user, long long);   // the pacing's sleep on this clock
    void* user;
};

long millis();
// Sleeps on the current clock: a real sleep on the wall clock (and on an
// installed source without a sleep of its own), an advance of the virtual
// time on a virtual clock.
void sleepMicros(long long micros);
// Installs a time source (copied), or the wall clock again with null. The
// millisecond count restarts at 0 on the next millis() call.
void setClockSource(const ClockSource* source);
// Forgets the origin: the next millis() call returns 0 again.
void resetMillis();

// How far the step-free wall clock advances between two readings, given how
// far the wall clock and the steady clock moved: the wall clock's own
// interval while the two agree (within WALL_CLOCK_STEP_SLACK_MICROS plus
// 0.1 % of the interval), 0 when the wall clock went backwards, and the
// steady clock's interval when the wall clock leapt.
constexpr long long WALL_CLOCK_STEP_SLACK_MICROS = 100000;
long long absorbWallClockStep(long long wallDeltaMicros, long long steadyDeltaMicros);

// A clock that moves only when told to, or when the pacing sleeps on it.
// Frame n of an offline render is drawn at exactly n / fps seconds.
class VirtualClock {
public:
    long long mMicros = 0;
    void install();            // makes this the system's clock
    void setMicros(long long t) { mMicros = t; }
    void advanceMicros(long long dt) { mMicros += dt; }
};

// ---------------------------------------------------------------- colour

class color {
public:
    unsigned char red, green, blue, alpha;

    color() {}
    // alpha is carried but never read: drawing calls take opacity separately.
    color(unsigned char r, unsigned char g, unsigned char b) : red(r), green(g), blue(b), alpha(255) {}
    explicit color(unsigned char gray) : red(gray), green(gray), blue(gray), alpha(255) {}

    static color hsbf(float hueAngle, float saturation, float brightness);
    static color hsb(unsigned char hueAngle, unsigned char saturation, unsigned char brightness);
    static void hsbToRGB(float h, float s, float v, float* r, float* g, float* b);
    static void rgbToHSB(float r, float g, float b, float* h, float* s, float* v);
    void getHSB(float* h, float* s, float* v) const;
};

unsigned char red(const color& col);
unsigned char green(const color& col);
unsigned char blue(const color& col);

// ---------------------------------------------------------------- images

// One texture in the current GL context, made from raw RGBA bytes (row 0 at
// t = 0, drawn at the top by the kit's y-down projections).
class PImage {
public:
    PImage(unsigned char* data, int aWidth, int aHeight);
    ~PImage();
    PImage(const PImage&) = delete;
    PImage& operator=(const PImage&) = delete;

    int GetWidth() const { return mWidth; }
    int GetHeight() const { return mHeight; }
    GLuint GetTexID() const { return mTexID; }
    // How far from the centre the picture has any opacity that linear
    // filtering can reach, as a fraction of the half-size (1 when it reaches
    // the edges): a sprite drawn from it can leave out what lies beyond.
    float GetOpaqueReach() const { return mOpaqueReach; }
    void CreateDisplayList();

protected:
    int mWidth;
    int mHeight;
    GLuint mTexID;
    float mOpaqueReach;
};

// ---------------------------------------------------------------- drawing state

extern int width;
extern int height;

void background(unsigned char gray);
void setMatrix(float m00, float m01, float m02, float m03,
               float m10, float m11, float m12, float m13,
               float m20, float m21, float m22, float m23,
               float m30, float m31, float m32, float m33);
void perspective(float fov, float aspect, float zNear, float zFar);
void perspective();
void translate(float x, float y, float z);
void scale(float scaleX, float scaleY);
void rotateX(float radians);
void rotateY(float radians);
void pushMatrix();
void popMatrix();
void box(float size);
void camera(float eyeX, float eyeY, float eyeZ, float centerX, float centerY, float centerZ,
            float upX, float upY, float upZ);
void camera();
void image(const PImage& pimage, float x, float y, float width, float height,
           const color& tintColor, unsigned char alpha);
void image(const PImage& pimage, float x, float y, float width, float height);
void printMatrix();
void printProjection();

// The pieces of GL 1 state the scene's passes set and read. Under the ES
// renderer (renderer.h) they are kept by it and never reach GL; otherwise
// each is the one GL call its comment names.
void matrixMode(GLenum mode);                              // glMatrixMode
void setTexturing(bool on);                                // glEnable / glDisable(GL_TEXTURE_2D)
void setPolygonOutline(bool on);                           // glPolygonMode(GL_FRONT_AND_BACK, GL_LINE / GL_FILL)
bool polygonFilled();                                      // glGetIntegerv(GL_POLYGON_MODE): both faces filled
void currentColor(float r, float g, float b, float a);    // glColor4f
// The texture wrap the kit's textures use: GL_CLAMP, or where ES has no
// border (GL_CLAMP_TO_EDGE) the ES renderer's shader works the border out.
GLint textureWrap();

// ---------------------------------------------------------------- sketch

class PAppletWrapper;

class PApplet {
public:
    int mWidth;
    int mHeight;

    PApplet() : mWrapper(nullptr) {}
    virtual ~PApplet() {}
    virtual void setup() {}
    virtual void setupPostGL() {}
    virtual void draw() {}
    virtual void resized() {}
    void size(int, int) {}

protected:
    PAppletWrapper* mWrapper;
};
