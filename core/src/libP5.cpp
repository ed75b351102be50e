// The drawing kit's free functions, the colour conversions, PImage and the
// millisecond clock.
//
//   numbers           random, constrain, degrees, dist
//   clock             millis and its sources (wall clock, installed sources)
//   colour            color::hsbf and the other HSB conversions
//   images            PImage
//   drawing state     matrices, perspective, camera, image, printMatrix
//
// Float arithmetic below is written in the order and width the simulation's
// reference results depend on; the casts are deliberate.
#include "libp5.h"

#include <GL/glext.h>

#include <boost/date_time/posix_time/posix_time.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "glesRenderer.h"
#include "renderer.h"

const float PI = 3.14159274f;
const float TWO_PI = 6.28318548f;

int width = -1;
int height = -1;

// ================================================================ numbers

float randomScaled(int draw, float min, float max) {
    float r = static_cast<float>(draw);
    return min + (r * 4.656612873e-10f) * (max - min);
}

float random(float min, float max) { return randomScaled(std::rand(), min, max); }

float random(float max) {
    float r = static_cast<float>(std::rand());
    return (r * 4.656612873e-10f) * max + 0.0f;
}

float constrain(float value, float min, float max) {
    if (value < min) return min;
    if (max < value) return max;
    return value;
}

int constrain(int value, int min, int max) {
    if (value < min) return min;
    if (value <= max) return value;
    return max;
}

float degrees(float radians) { return (radians / PI) * 180.0f; }

float dist(float x1, float y1, float x2, float y2) {
    float dx = x1 - x2;
    float dy = y1 - y2;
    return std::sqrt(dx * dx + dy * dy);
}

float dist(float x1, float y1, float z1, float x2, float y2, float z2) {
    float dx = x1 - x2;
    float dy = y1 - y2;
    float dz = z1 - z2;
    return std::sqrt((dx * dx + dy * dy) + dz * dz);
}

// ================================================================ clock
//
// The count is kept as accumulated microseconds rather than "now - origin" so
// that a step of the underlying clock can be dropped without disturbing what
// was counted before it. On this ABI `long` is 64 bits, so the millisecond
// count does not wrap (a 32-bit count would after 24.8 days).

namespace {

// Plain data with constant initialisation: scene objects call millis()
// during static initialisation, before any constructor of this file could run.
struct ClockState {
    ClockSource source;         // nowMicros null: the wall clock
    bool started;               // false until the first reading after a reset
    long long lastReading;      // the source's previous reading
    long long elapsedMicros;    // the count since the origin
    // wall clock only: the previous wall and steady readings
    bool wallPrimed;
    long long lastWall;
    long long lastSteady;
    long long wallTime;         // the wall clock with its steps taken out
};

constinit ClockState gClock = {{nullptr, nullptr, nullptr}, false, 0, 0, false, 0, 0, 0};

long long wallMicros() {
    using namespace boost::posix_time;
    static const ptime epoch(boost::gregorian::date(1970, 1, 1));
    return (microsec_clock::local_time() - epoch).total_microseconds();
}

long long steadyMicros() {
    return std::chrono::duration_cast<std::chrono::microseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The local wall clock with its steps removed: it advances as the wall clock
// does while the two agree with the steady clock, and otherwise by what
// absorbWallClockStep allows.
long long absorbedWallMicros() {
    long long wall = wallMicros();
    long long steady = steadyMicros();
    if (gClock.wallPrimed) {
        gClock.wallTime += absorbWallClockStep(wall - gClock.lastWall, steady - gClock.lastSteady);
    } else {
        gClock.wallPrimed = true;
    }
    gClock.lastWall = wall;
    gClock.lastSteady = steady;
    return gClock.wallTime;
}

long long currentReading() {
    if (gClock.source.nowMicros) return gClock.source.nowMicros(gClock.source.user);
    return absorbedWallMicros();
}

long long virtualNow(void* user) { return static_cast<VirtualClock*>(user)->mMicros; }
void virtualSleep(void* user, long long micros) {
    if (micros > 0) static_cast<VirtualClock*>(user)->mMicros += micros;
}

}  // namespace

long long absorbWallClockStep(long long wallDeltaMicros, long long steadyDeltaMicros) {
    // Set back (a daylight-saving change, the clock being corrected): hold.
    if (wallDeltaMicros < 0) return 0;
    if (steadyDeltaMicros < 0) steadyDeltaMicros = 0;
    // Between two readings the clocks drift apart by no more than a slew
    // rate of a few hundred ppm; anything beyond that is a step of the wall
    // clock, and the steady clock's account of the interval is the true one.
    long long slack = WALL_CLOCK_STEP_SLACK_MICROS + steadyDeltaMicros / 1000;
    long long gap = wallDeltaMicros - steadyDeltaMicros;
    if (gap > slack || gap < -slack) return steadyDeltaMicros;
    return wallDeltaMicros;
}

long millis() {
    long long reading = currentReading();
    if (!gClock.started) {
        gClock.started = true;
        gClock.elapsedMicros = 0;
    } else if (reading > gClock.lastReading) {
        gClock.elapsedMicros += reading - gClock.lastReading;
    }
    // A source that went backwards is held: the count resumes from the
    // earlier reading's value once the source moves forward again.
    gClock.lastReading = reading;
    return static_cast<long>(gClock.elapsedMicros / 1000);
}

void sleepMicros(long long micros) {
    if (gClock.source.nowMicros && gClock.source.sleepMicros) {
        gClock.source.sleepMicros(gClock.source.user, micros);
        return;
    }
    if (micros > 0) std::this_thread::sleep_for(std::chrono::microseconds(micros));
}

void setClockSource(const ClockSource* source) {
    if (source && source->nowMicros) {
        gClock.source = *source;
    } else {
        gClock.source = ClockSource{nullptr, nullptr, nullptr};
    }
    resetMillis();
}

void resetMillis() {
    gClock.started = false;
    gClock.elapsedMicros = 0;
}

void VirtualClock::install() {
    ClockSource source{virtualNow, virtualSleep, this};
    setClockSource(&source);
}

// ================================================================ colour

namespace {

// value × 255 truncated toward zero, keeping the low eight bits: no rounding
// and no clamping, so a brightness above 1 wraps. Values too large for an
// integer (and NaN) give 0 rather than undefined behaviour.
unsigned char colorByte(float value) {
    float scaled = value * 255.0f;
    if (!(std::fabs(scaled) < 9.0e18f)) return 0;
    return static_cast<unsigned char>(static_cast<long long>(scaled) & 0xFF);
}

// The sector of the hue circle and the three intermediate values shared by
// hsbf and hsbToRGB. Returns the sector, or -1 for a negative or NaN hue.
int hsbSector(float h, float saturation, float brightness, float* p, float* q, float* t) {
    float x = (h == 360.0f) ? 0.0f : h / 60.0f;
    float fl = std::floor(x);
    if (!(fl >= 0.0f && fl < 6.0f)) return -1;
    int i = static_cast<int>(fl);
    float f = x - static_cast<float>(i);
    *p = (1.0f - saturation) * brightness;
    *q = (1.0f - saturation * f) * brightness;
    *t = (1.0f - (1.0f - f) * saturation) * brightness;
    return i;
}

void sectorChannels(int i, float v, float p, float q, float t, float* r, float* g, float* b) {
    switch (i) {
        case 0: *r = v; *g = t; *b = p; break;
        case 1: *r = q; *g = v; *b = p; break;
        case 2: *r = p; *g = v; *b = t; break;
        case 3: *r = p; *g = q; *b = v; break;
        case 4: *r = t; *g = p; *b = v; break;
        case 5: *r = v; *g = p; *b = q; break;
        default: *r = 0; *g = 0; *b = 0; break;
    }
}

}  // namespace

color color::hsbf(float hueAngle, float saturation, float brightness) {
    float h = static_cast<float>(std::fmod(static_cast<double>(hueAngle), 360.0));
    if (saturation == 0.0f) {
        unsigned char grey = colorByte(brightness);
        return color(grey, grey, grey);
    }
    float p = 0, q = 0, t = 0;
    int i = hsbSector(h, saturation, brightness, &p, &q, &t);
    float r, g, b;
    sectorChannels(i, brightness, p, q, t, &r, &g, &b);
    return color(colorByte(r), colorByte(g), colorByte(b));
}

color color::hsb(unsigned char hueAngle, unsigned char saturation, unsigned char brightness) {
    return hsbf((static_cast<float>(hueAngle) / 255.0f) * 360.0f, static_cast<float>(saturation) / 255.0f,
                static_cast<float>(brightness) / 255.0f);
}

void color::hsbToRGB(float h, float s, float v, float* r, float* g, float* b) {
    h = static_cast<float>(std::fmod(static_cast<double>(h), 360.0));
    if (s == 0.0f) {
        *r = *g = *b = v;
        return;
    }
    float p = 0, q = 0, t = 0;
    int i = hsbSector(h, s, v, &p, &q, &t);
    sectorChannels(i, v, p, q, t, r, g, b);
}

void color::rgbToHSB(float r, float g, float b, float* h, float* s, float* v) {
    float max, min;
    if (r > g) {
        if (r > b) {
            max = r;
            min = (b > g) ? g : b;
        } else {
            max = b;
            min = g;
        }
    } else {
        if (b > r) {
            max = (b > g) ? b : g;
            min = r;
        } else {
            max = g;
            min = b;
        }
    }
    *v = max;
    if (max == 0.0f) {
        *s = 0;
        *h = 0;
        return;
    }
    *s = (max - min) / max;
    if (*s == 0.0f) {
        *h = 0;
        return;
    }
    float delta = max - min;
    float hue = 0;
    if (r == max) {
        hue = (g - b) / delta;
    } else if (g == max) {
        hue = (b - r) / delta + 2.0f;
    } else if (b == max) {
        hue = (r - g) / delta + 4.0f;
    }
    *h = hue * 60.0f;
    if (*h < 0.0f) *h += 360.0f;
}

void color::getHSB(float* h, float* s, float* v) const {
    rgbToHSB(red / 255.0f, green / 255.0f, blue / 255.0f, h, s, v);
}

unsigned char red(const color& col) { return col.red; }
unsigned char green(const color& col) { return col.green; }
unsigned char blue(const color& col) { return col.blue; }

// ================================================================ images

namespace {

// How far from the centre linear filtering can read a texel with any opacity:
// the farthest such texel's centre plus a texel's diagonal, as a fraction of
// the half-size; 1 (no trimming) when opacity reaches the edges.
float opaqueReach(const unsigned char* rgba, int width, int height) {
    if (!rgba || width <= 0 || height <= 0) return 1;
    double farthest = 0;
    for (int y = 0; y < height; y++) {
        for (int x = 0; x < width; x++) {
            if (rgba[4 * (static_cast<size_t>(y) * width + x) + 3] == 0) continue;
            double dx = (x + 0.5 - width * 0.5) / (width * 0.5);
            double dy = (y + 0.5 - height * 0.5) / (height * 0.5);
            farthest = std::fmax(farthest, std::sqrt(dx * dx + dy * dy));
        }
    }
    double reach = farthest + std::sqrt(2.0) * 2.0 / std::fmin(width, height);
    return reach >= 1 ? 1.0f : static_cast<float>(reach);
}

}  // namespace

PImage::PImage(unsigned char* data, int aWidth, int aHeight)
    : mWidth(aWidth), mHeight(aHeight), mTexID(0), mOpaqueReach(opaqueReach(data, aWidth, aHeight)) {
    glGenTextures(1, &mTexID);
    glBindTexture(GL_TEXTURE_2D, mTexID);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 1);
    // GL_RGBA: what 4 components mean on desktop GL, and all ES accepts.
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, aWidth, aHeight, 0, GL_RGBA, GL_UNSIGNED_BYTE, data);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, textureWrap());
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, textureWrap());
}

PImage::~PImage() { glDeleteTextures(1, &mTexID); }

// Images are drawn in immediate mode by image(); a per-image list would save
// nothing over its four vertices.
void PImage::CreateDisplayList() {}

// ================================================================ drawing state

void background(unsigned char gray) {
    float g = gray / 255.0f;
    glClearColor(g, g, g, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
}

void setMatrix(float m00, float m01, float m02, float m03,
               float m10, float m11, float m12, float m13,
               float m20, float m21, float m22, float m23,
               float m30, float m31, float m32, float m33) {
    const GLfloat m[16] = {m00, m10, m20, m30, m01, m11, m21, m31,
                           m02, m12, m22, m32, m03, m13, m23, m33};
    if (rendererIsGles()) return glesRenderer.loadMatrix(m);
    glLoadMatrixf(m);
}

void perspective(float fov, float aspect, float zNear, float zFar) {
    float halfFov = 0.5f * fov;
    float t = static_cast<float>(std::tan(static_cast<double>(halfFov)) * static_cast<double>(zNear));
    float b = -t;
    if (rendererIsGles()) {
        glesRenderer.matrixMode(GlesRenderer::PROJECTION);
        glesRenderer.loadIdentity();
        glesRenderer.frustum(b * aspect, t * aspect, t, b, zNear, zFar);
        glesRenderer.matrixMode(GlesRenderer::MODELVIEW);
        return;
    }
    glMatrixMode(GL_PROJECTION);
    glLoadIdentity();
    // Bottom and top swapped: scene y grows downward on screen, as in the
    // kit's 2-D drawing and its images.
    glFrustum(b * aspect, t * aspect, t, b, zNear, zFar);
    glMatrixMode(GL_MODELVIEW);
}

void perspective() {
    float w = static_cast<float>(width);
    float h = static_cast<float>(height);
    float fov0 = 1.04719758f;
    float cameraZ = static_cast<float>(static_cast<double>(h * 0.5f) / std::tan(static_cast<double>(0.5235987902f)));
    perspective(fov0, w / h, cameraZ / 10.0f, cameraZ * 10.0f);
}

void translate(float x, float y, float z) {
    if (rendererIsGles()) return glesRenderer.translate(x, y, z);
    glTranslatef(x, y, z);
}

void scale(float scaleX, float scaleY) {
    if (rendererIsGles()) return glesRenderer.scale(scaleX, scaleY, 1.0f);
    glScalef(scaleX, scaleY, 1.0f);
}

void rotateX(float radians) {
    if (rendererIsGles()) return glesRenderer.rotate(radians / PI * 180.0f, 1.0f, 0.0f, 0.0f);
    glRotatef(radians / PI * 180.0f, 1.0f, 0.0f, 0.0f);
}

void rotateY(float radians) {
    if (rendererIsGles()) return glesRenderer.rotate(radians / PI * 180.0f, 0.0f, 1.0f, 0.0f);
    glRotatef(radians / PI * 180.0f, 0.0f, 1.0f, 0.0f);
}

void pushMatrix() {
    if (rendererIsGles()) return glesRenderer.push();
    glPushMatrix();
}

void popMatrix() {
    if (rendererIsGles()) return glesRenderer.pop();
    glPopMatrix();
}

void box(float) { currentColor(0.0f, 0.0f, 0.0f, 1.0f); }

void camera(float eyeX, float eyeY, float eyeZ, float centerX, float centerY, float centerZ,
            float upX, float upY, float upZ) {
    matrixMode(GL_PROJECTION);
    if (rendererIsGles()) {
        glesRenderer.loadIdentity();
    } else {
        glLoadIdentity();
    }

    float z0 = eyeX - centerX;
    float z1 = eyeY - centerY;
    float z2 = eyeZ - centerZ;
    float m = std::sqrt(z0 * z0 + z1 * z1 + z2 * z2);
    if (m != 0.0f) {
        z0 /= m;
        z1 /= m;
        z2 /= m;
    }

    float x0 = upY * z2 - upZ * z1;
    float x1 = upZ * z0 - upX * z2;
    float x2 = upX * z1 - upY * z0;

    float y0 = z1 * x2 - z2 * x1;
    float y1 = z2 * x0 - z0 * x2;
    float y2 = z0 * x1 - z1 * x0;

    m = std::sqrt(x0 * x0 + x1 * x1 + x2 * x2);
    if (m != 0.0f) {
        x0 /= m;
        x1 /= m;
        x2 /= m;
    }
    m = std::sqrt(y0 * y0 + y1 * y1 + y2 * y2);
    if (m != 0.0f) {
        y0 /= m;
        y1 /= m;
        y2 /= m;
    }

    const GLfloat look[16] = {x0, y0, z0, 0.0f, x1, y1, z1, 0.0f, x2, y2, z2, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f};
    if (rendererIsGles()) {
        glesRenderer.loadMatrix(look);
        glesRenderer.translate(-eyeX, -eyeY, -eyeZ);
        return;
    }
    glLoadMatrixf(look);
    glTranslatef(-eyeX, -eyeY, -eyeZ);
}

void camera() {
    float cx = static_cast<float>(width) * 0.5f;
    float cy = static_cast<float>(height) * 0.5f;
    float cz = static_cast<float>(static_cast<double>(cy) / std::tan(static_cast<double>(0.5235987902f)));
    camera(cx, cy, cz, cx, cy, 0.0f, 0.0f, 1.0f, 0.0f);
}

void image(const PImage& pimage, float x, float y, float width, float height, const color& tintColor,
           unsigned char alpha) {
    if (rendererIsGles()) {
        const float rgba[4] = {tintColor.red / 255.0f, tintColor.green / 255.0f, tintColor.blue / 255.0f,
                               alpha / 255.0f};
        glesRenderer.drawImage(pimage.GetTexID(), x, y, x + width, y + height, 0, 0, 1, 1, rgba);
        return;
    }
    glBindTexture(GL_TEXTURE_2D, pimage.GetTexID());
    glColor4ub(tintColor.red, tintColor.green, tintColor.blue, alpha);
    glBegin(GL_QUADS);
    glTexCoord2f(0.0f, 0.0f);
    glVertex2f(x, y);
    glTexCoord2f(1.0f, 0.0f);
    glVertex2f(x + width, y);
    glTexCoord2f(1.0f, 1.0f);
    glVertex2f(x + width, y + height);
    glTexCoord2f(0.0f, 1.0f);
    glVertex2f(x, y + height);
    glEnd();
    glBindTexture(GL_TEXTURE_2D, 0);
    glColor4ub(255, 255, 255, 255);
}

void image(const PImage& pimage, float x, float y, float width, float height) {
    image(pimage, x, y, width, height, color(255, 255, 255), 255);
}

namespace {

void printGLMatrix(GLenum which) {
    GLfloat a[16];
    if (rendererIsGles()) {
        glesRenderer.matrixMode(which == GL_PROJECTION_MATRIX ? GlesRenderer::PROJECTION : GlesRenderer::MODELVIEW);
        std::copy_n(glesRenderer.current().m, 16, a);
        glesRenderer.matrixMode(GlesRenderer::MODELVIEW);
    } else {
        glGetFloatv(which, a);
    }
    for (int k = 0; k < 4; ++k) {
        std::printf("%f %f %f %f\n", a[k], a[k + 4], a[k + 8], a[k + 12]);
    }
    std::printf("\n");
}

}  // namespace

void printMatrix() { printGLMatrix(GL_MODELVIEW_MATRIX); }

void printProjection() { printGLMatrix(GL_PROJECTION_MATRIX); }

// ================================================================ GL 1 state

void matrixMode(GLenum mode) {
    if (rendererIsGles()) {
        glesRenderer.matrixMode(mode == GL_PROJECTION ? GlesRenderer::PROJECTION : GlesRenderer::MODELVIEW);
        return;
    }
    glMatrixMode(mode);
}

void setTexturing(bool on) {
    if (rendererIsGles()) {
        glesRenderer.mTexturing = on;
    } else if (on) {
        glEnable(GL_TEXTURE_2D);
    } else {
        glDisable(GL_TEXTURE_2D);
    }
}

void setPolygonOutline(bool on) {
    if (rendererIsGles()) {
        glesRenderer.mOutline = on;
        return;
    }
    glPolygonMode(GL_FRONT_AND_BACK, on ? GL_LINE : GL_FILL);
}

bool polygonFilled() {
    if (rendererIsGles()) return !glesRenderer.mOutline;
    GLint polygonMode[2] = {GL_FILL, GL_FILL};
    glGetIntegerv(GL_POLYGON_MODE, polygonMode);
    return polygonMode[0] == GL_FILL && polygonMode[1] == GL_FILL;
}

void currentColor(float r, float g, float b, float a) {
    // Nothing the ES renderer draws reads a current colour: every vertex
    // carries its own.
    if (!rendererIsGles()) glColor4f(r, g, b, a);
}

GLint textureWrap() { return rendererIsGles() ? GL_CLAMP_TO_EDGE : GL_CLAMP; }
