// The particle field's fast frame step. The particles stay plain records in
// the population's list; in one pass over it this step gathers what the
// forces read (position, charge, acceleration) into packed arrays, runs the
// wells' pull, the pair repulsion and the noise flow's octave sums with the
// widest vector instructions the CPU has, and writes the accelerations back
// once. When the field is large, one persistent worker thread takes part of
// every stage.
//
// Same input, same frames: nothing here depends on the instruction set or on
// the number of threads. Every pair's arithmetic is IEEE single precision
// with no fused multiply-add and no approximate reciprocal; a row's sum is
// kept in PAIR_LANES lanes (particle j in lane j % PAIR_LANES, in increasing
// j) and folded by a fixed tree; the rows are cut into PAIR_CHUNKS fixed
// chunks, each summing its pushes on later particles apart, and the chunks
// are added in chunk order. The result is not the literal pass's bit for bit
// (its sums run in another order), only within float rounding of it.
#pragma once

#include <string>
#include <vector>

class ParticleControl;

class FieldStep {
public:
    // Lanes of a row's sum, whatever the vector width (16 floats = AVX-512).
    static const int PAIR_LANES = 16;
    // Row chunks of the pair pass; fixed so that the sums do not depend on
    // how many threads take them.
    static const int PAIR_CHUNKS = 4;
    // Below this many particles the hand-off to the worker costs more than
    // it saves.
    static const int THREAD_MIN_PARTICLES = 1024;

    // A proximity line's end: position and colour, drawn as GL client
    // arrays with a stride of 7 floats.
    struct LineVertex {
        float x, y, z;
        float r, g, b, a;
    };

    // A well as its pull on particles reads it.
    struct WellTerms {
        float x, y, z, radius, Q, M;
    };

    // Packed copies of the list, padded to whole lane blocks.
    std::vector<float> px, py, pz, pq;
    std::vector<float> ax, ay, az;            // accelerations until written back
    std::vector<float> lastQ, lastM;          // last frame's charge and mass, for the wells' pull
    std::vector<WellTerms> wells;
    float wellBaseSize = 0;
    std::vector<float> rowT;                  // strength x invM x Q of each particle
    std::vector<float> rowX, rowY, rowZ;      // each particle's sum over later particles
    std::vector<float> colX[PAIR_CHUNKS], colY[PAIR_CHUNKS], colZ[PAIR_CHUNKS];
    std::vector<float> lanes[PAIR_CHUNKS];    // each row's lane sums while the pass runs
    int chunkBegin[PAIR_CHUNKS + 1] = {};
    // The noise flow: the three sample points of each particle and the
    // three octave sums taken there.
    std::vector<float> noiseIn[3][3], drift[3];
    // The lines mode's lines of this frame, in the literal pass's order.
    std::vector<LineVertex> lines[PAIR_CHUNKS];
    bool linesPending = false;
    // Threads used for large fields: 1 or 2 (default: 2 where the machine has them).
    int mThreads;

    FieldStep();
    // The frame's forces, as ParticleControl::simulate() runs them before
    // the particles move: colour, level, the wells' pull (when the noise
    // flow is off), then the repulsion pass with its charges, pushes, damped
    // newest history velocity and (lines mode) lines.
    void forces(ParticleControl& field, bool flow);
    // The per-particle steps after it: pull to the centre, noise drift (with
    // `flow`), move, history.
    void moveAll(ParticleControl& field, bool flow);
    // Draws the lines collected by the last repulsion pass with one call,
    // then forgets them.
    void drawLines();

private:
    void gather(ParticleControl& field);
    void pullWells(ParticleControl& field, bool threaded);
    void planChunks(int n);
    void runChunks(bool lines);
    void scatter(ParticleControl& field);
    void sampleDrift(ParticleControl& field, bool threaded);
};

// The instruction sets the fast step can run on this CPU, best first
// ("AVX3", "AVX2", "SSE4", "SSSE3", "SCALAR"), and the one it runs now.
std::vector<std::string> fieldStepTargets();
std::string fieldStepTarget();
// Makes the fast step run on one of them; "" goes back to the best. False
// (and nothing changed) for a name not in fieldStepTargets().
bool forceFieldStepTarget(const std::string& name);
