// Classic gradient noise in one, two and three dimensions, with octave sums.
// The tables (1024 lattice entries) are built lazily on the first sample,
// which seeds the process-wide rand() with the instance's seed: the whole
// system's random sequence follows from that moment.
#pragma once

class Perlin {
public:
    static const int SAMPLE_SIZE = 1024;

    Perlin(int octaves, float freq, float amp, int seed);

    float noise1(float arg);
    float noise2(float vec[2]);
    float noise3(float vec[3]);
    float perlin_noise_2D(float vec[2]);
    float perlin_noise_3D(float vec[3]);
    void init();
    void normalize2(float v[2]);
    void normalize3(float v[3]);

    int mOctaves;
    float mFrequency;
    float mAmplitude;
    int mSeed;
    int p[SAMPLE_SIZE + SAMPLE_SIZE + 2];
    float g3[SAMPLE_SIZE + SAMPLE_SIZE + 2][3];
    float g2[SAMPLE_SIZE + SAMPLE_SIZE + 2][2];
    float g1[SAMPLE_SIZE + SAMPLE_SIZE + 2];
    bool mStart;
};

extern Perlin perlin;
extern Perlin perlin2;
