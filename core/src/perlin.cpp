// Gradient noise on a 1024-entry lattice. The tables come from the C library
// generator right after srand(mSeed), so the same seed gives the same field on
// every run of this platform; the first sample also fixes where everyone
// else's rand() sequence starts.
#include "perlin.h"

#include <cmath>
#include <cstdlib>

Perlin perlin(8, 1.0f, 1.0f, 123);
// Nothing samples perlin2, so its tables are never built and it costs nothing
// but its size. It is kept as the second of the two noise generators made at
// load, ahead of the scene objects, so that the load-time construction order
// stays what it has always been.
Perlin perlin2(4, 1.1f, 0.1f, 1234);

namespace {

const int B = Perlin::SAMPLE_SIZE;
const int BM = Perlin::SAMPLE_SIZE - 1;
const float N = 4096.0f;   // shifts every sane coordinate to positive before truncation

inline float sCurve(float t) { return t * t * (3.0f - 2.0f * t); }
inline float lerp(float t, float a, float b) { return a + t * (b - a); }

// Lower and upper lattice index of one coordinate and the offsets from them.
inline void setup(float x, int& b0, int& b1, float& r0, float& r1) {
    float t = x + N;
    // Far outside any scene (or not a number): keep the conversion to int
    // defined; such a coordinate samples lattice cell 0.
    if (!(t > -2147483520.0f && t < 2147483520.0f)) t = 0;
    int ti = (int)t;
    b0 = ti & BM;
    b1 = (b0 + 1) & BM;
    r0 = t - (float)ti;
    r1 = r0 - 1.0f;
}

// One gradient component from one draw: (m - 1024) / 1024 for m in 0..2047.
inline float drawComponent() { return (float)((std::rand() % (B + B)) - B) / (float)B; }

}  // namespace

Perlin::Perlin(int octaves, float freq, float amp, int seed)
    : mOctaves(octaves), mFrequency(freq), mAmplitude(amp), mSeed(seed), mStart(true) {}

float Perlin::noise1(float arg) {
    if (mStart) {
        std::srand(mSeed);
        mStart = false;
        init();
    }
    int bx0, bx1;
    float rx0, rx1;
    setup(arg, bx0, bx1, rx0, rx1);

    float sx = sCurve(rx0);
    float u = rx0 * g1[p[bx0]];
    float v = rx1 * g1[p[bx1]];
    return lerp(sx, u, v);
}

float Perlin::noise2(float vec[2]) {
    if (mStart) {
        std::srand(mSeed);
        mStart = false;
        init();
    }
    int bx0, bx1, by0, by1;
    float rx0, rx1, ry0, ry1;
    setup(vec[0], bx0, bx1, rx0, rx1);
    setup(vec[1], by0, by1, ry0, ry1);

    int i = p[bx0];
    int j = p[bx1];
    int b00 = p[i + by0];
    int b10 = p[j + by0];
    int b01 = p[i + by1];
    int b11 = p[j + by1];

    float sx = sCurve(rx0);
    float sy = sCurve(ry0);

    float* q = g2[b00];
    float u = rx0 * q[0] + ry0 * q[1];
    q = g2[b10];
    float v = rx1 * q[0] + ry0 * q[1];
    float a = lerp(sx, u, v);

    q = g2[b01];
    u = rx0 * q[0] + ry1 * q[1];
    q = g2[b11];
    v = rx1 * q[0] + ry1 * q[1];
    float b = lerp(sx, u, v);

    return lerp(sy, a, b);
}

float Perlin::noise3(float vec[3]) {
    if (mStart) {
        std::srand(mSeed);
        mStart = false;
        init();
    }
    int bx0, bx1, by0, by1, bz0, bz1;
    float rx0, rx1, ry0, ry1, rz0, rz1;
    setup(vec[0], bx0, bx1, rx0, rx1);
    setup(vec[1], by0, by1, ry0, ry1);
    setup(vec[2], bz0, bz1, rz0, rz1);

    int i = p[bx0];
    int j = p[bx1];
    int b00 = p[i + by0];
    int b10 = p[j + by0];
    int b01 = p[i + by1];
    int b11 = p[j + by1];

    float sx = sCurve(rx0);
    float sy = sCurve(ry0);
    float sz = sCurve(rz0);

    float* q = g3[b00 + bz0];
    float u = rx0 * q[0] + ry0 * q[1] + rz0 * q[2];
    q = g3[b10 + bz0];
    float v = rx1 * q[0] + ry0 * q[1] + rz0 * q[2];
    float a = lerp(sx, u, v);

    q = g3[b01 + bz0];
    u = rx0 * q[0] + ry1 * q[1] + rz0 * q[2];
    q = g3[b11 + bz0];
    v = rx1 * q[0] + ry1 * q[1] + rz0 * q[2];
    float b = lerp(sx, u, v);

    float c = lerp(sy, a, b);

    q = g3[b00 + bz1];
    u = rx0 * q[0] + ry0 * q[1] + rz1 * q[2];
    q = g3[b10 + bz1];
    v = rx1 * q[0] + ry0 * q[1] + rz1 * q[2];
    a = lerp(sx, u, v);

    q = g3[b01 + bz1];
    u = rx0 * q[0] + ry1 * q[1] + rz1 * q[2];
    q = g3[b11 + bz1];
    v = rx1 * q[0] + ry1 * q[1] + rz1 * q[2];
    b = lerp(sx, u, v);

    float d = lerp(sy, a, b);

    return lerp(sz, c, d);
}

// A gradient whose draws all came out 0 has no direction; it stays the zero
// vector and contributes nothing at its lattice point.
void Perlin::normalize2(float v[2]) {
    float s = std::sqrt(v[0] * v[0] + v[1] * v[1]);
    if (s == 0.0f) return;
    s = 1.0f / s;
    v[0] = v[0] * s;
    v[1] = v[1] * s;
}

void Perlin::normalize3(float v[3]) {
    float s = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (s == 0.0f) return;
    s = 1.0f / s;
    v[0] = v[0] * s;
    v[1] = v[1] * s;
    v[2] = v[2] * s;
}

// Six draws per lattice entry, then 1023 for the shuffle: 7167 in all. The
// tables are doubled (plus two) so that p[x] + y never needs a second mask.
void Perlin::init() {
    int i;
    for (i = 0; i < B; i++) {
        p[i] = i;
        g1[i] = drawComponent();
        for (int j = 0; j < 2; j++) g2[i][j] = drawComponent();
        normalize2(g2[i]);
        for (int j = 0; j < 3; j++) g3[i][j] = drawComponent();
        normalize3(g3[i]);
    }

    while (--i) {
        int k = p[i];
        int j = std::rand() % B;
        p[i] = p[j];
        p[j] = k;
    }

    for (i = 0; i < B + 2; i++) {
        p[B + i] = p[i];
        g1[B + i] = g1[i];
        for (int j = 0; j < 2; j++) g2[B + i][j] = g2[i][j];
        for (int j = 0; j < 3; j++) g3[B + i][j] = g3[i][j];
    }
}

// Octave sums scale the caller's array in place (frequency, then doubling per
// octave): callers fill it afresh before every call.
float Perlin::perlin_noise_2D(float vec[2]) {
    int terms = mOctaves;
    vec[0] *= mFrequency;
    vec[1] *= mFrequency;
    if (terms < 1) return 0.0f;

    float result = 0.0f;
    float amp = mAmplitude;
    for (int i = 0; i < terms; i++) {
        result += noise2(vec) * amp;
        vec[0] *= 2.0f;
        vec[1] *= 2.0f;
        amp *= 0.5f;
    }
    return result;
}

float Perlin::perlin_noise_3D(float vec[3]) {
    int terms = mOctaves;
    vec[0] *= mFrequency;
    vec[1] *= mFrequency;
    vec[2] *= mFrequency;
    if (terms < 1) return 0.0f;

    float result = 0.0f;
    float amp = mAmplitude;
    for (int i = 0; i < terms; i++) {
        result += noise3(vec) * amp;
        vec[0] *= 2.0f;
        vec[1] *= 2.0f;
        vec[2] *= 2.0f;
        amp *= 0.5f;
    }
    return result;
}
