// std::rand and std::srand as glibc's, for the page. The scene draws from
// the C library's generator (core/src/libP5.cpp, perlin.cpp), seeded where
// it says; musl's rand (Emscripten's C library) is another generator, so the
// same seed would give the page another scene than the programs, and the
// field's determinism hash (tests/core/field_determinism_test.cpp) would not
// hold. This is glibc's default random(): the additive feedback generator
// r[i] = r[i-3] + r[i-31] over 34 words seeded by the minimal standard LCG,
// its first 310 outputs dropped, each output shifted right by one.
#include <cstdint>
#include <cstdlib>

namespace {

struct GlibcRandom {
    int32_t state[31];
    int front = 3, rear = 0;   // the feedback taps, 3 words apart
    GlibcRandom() { seed(1); }

    void seed(unsigned s) {
        state[0] = int32_t(s == 0 ? 1 : s);
        for (int i = 1; i < 31; ++i) {
            // 16807 * previous % 2147483647 by Schrage's method, as glibc does.
            const int32_t word = state[i - 1];
            const long hi = word / 127773, lo = word % 127773;
            int32_t next = int32_t(16807 * lo - 2836 * hi);
            if (next < 0) next += 2147483647;
            state[i] = next;
        }
        front = 3;
        rear = 0;
        for (int i = 0; i < 310; ++i) next();
    }

    int32_t next() {
        const uint32_t value = uint32_t(state[front]) + uint32_t(state[rear]);
        state[front] = int32_t(value);
        if (++front >= 31) {
            front = 0;
            ++rear;
        } else if (++rear >= 31) {
            rear = 0;
        }
        return int32_t(value >> 1);
    }
};

GlibcRandom& generator() {
    static GlibcRandom g;
    return g;
}

}  // namespace

extern "C" {

int rand(void) { return generator().next(); }
void srand(unsigned seed) { generator().seed(seed); }

}
