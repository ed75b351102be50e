// The fast field step around the vectorised pair pass: gathering the list
// into packed arrays, cutting the rows into fixed chunks, sharing chunks and
// particles with the helper thread (workers.h), writing the results back, and drawing
// the collected proximity lines.
#include "fieldStep.h"

#include <algorithm>
#include <thread>

#include "GLInit.h"
#include "glesRenderer.h"
#include "lumenvortexApplet.h"
#include "particleControl.h"
#include "renderer.h"
#include "workers.h"

namespace lvfield {
void repelChunk(FieldStep& s, int chunk, int n, bool lines);
void wellPull(FieldStep& s, int begin, int end);
void noiseSums(const Perlin& noise, const float* x, const float* y, const float* z, float* out, int begin,
               int end);
}

namespace {

// Particles per task of the per-particle steps: enough to make the atomic
// hand-out cheap, few enough that two threads finish together.
const int MOVE_BLOCK = 64;

void resizeZeroed(std::vector<float>& v, size_t n) {
    v.assign(n, 0.0f);
}

}  // namespace

FieldStep::FieldStep() : mThreads(std::thread::hardware_concurrency() >= 2 ? 2 : 1) {}

void FieldStep::forces(ParticleControl& field, bool flow) {
    bool lines = gMode.renderProximityLines();
    int n = (int)field.myList.size();
    bool threaded = mThreads > 1 && n >= THREAD_MIN_PARTICLES;
    gather(field);
    if (!flow) pullWells(field, threaded);
    runChunks(lines);
    scatter(field);
    linesPending = lines;
}

// One pass over the list: colour and level (the particle's own steps), then
// the packed copies: position, acceleration, last frame's charge and mass
// for the wells' pull, and this frame's charge as the literal pass sets it.
void FieldStep::gather(ParticleControl& field) {
    int n = (int)field.myList.size();
    size_t padded = (size_t)(n + PAIR_LANES - 1) / PAIR_LANES * PAIR_LANES;
    float strength = gMode.particleRepelStrength();
    for (std::vector<float>* v : {&px, &py, &pz, &pq, &ax, &ay, &az, &lastQ, &lastM, &rowT, &rowX, &rowY, &rowZ}) {
        resizeZeroed(*v, padded);
    }
    for (int c = 0; c < PAIR_CHUNKS; c++) {
        resizeZeroed(colX[c], padded);
        resizeZeroed(colY[c], padded);
        resizeZeroed(colZ[c], padded);
        lines[c].clear();
    }
    for (size_t i = 0; i < (size_t)n; i++) {
        Particle& p = field.myList[i];
        p.getColor();
        p.updateSoundLevel();
        px[i] = p.loc.x;
        py[i] = p.loc.y;
        pz[i] = p.loc.z;
        ax[i] = p.acc.x;
        ay[i] = p.acc.y;
        az[i] = p.acc.z;
        lastQ[i] = p.Q;
        lastM[i] = p.M;
        p.Q = p.myLevel / (-10.0f) - 0.1f;
        p.M = -p.Q;
        p.invM = 1.0f / p.M;
        pq[i] = p.Q;
        rowT[i] = strength * (p.invM * p.Q);
    }
    planChunks(n);
}

// Particle::setGravForce() for every particle, vectorised over particles.
// The wells' working values are left as the literal step leaves them: from
// the last particle.
void FieldStep::pullWells(ParticleControl& field, bool threaded) {
    std::vector<Gravity>& list = *gravityControl.getList();
    if (field.myList.empty() || list.empty()) return;
    wells.clear();
    for (const Gravity& g : list) wells.push_back({g.loc.x, g.loc.y, g.loc.z, g.radius, g.Q, g.M});
    wellBaseSize = gravityControl.baseSize;
    int padded = (int)px.size();
    int blocks = (padded + MOVE_BLOCK - 1) / MOVE_BLOCK;
    runTasks(threaded, blocks, [&](int b) {
        lvfield::wellPull(*this, b * MOVE_BLOCK, std::min(padded, (b + 1) * MOVE_BLOCK));
    });

    Particle last = field.myList.back();
    last.Q = lastQ[field.myList.size() - 1];
    for (Gravity& g : list) g.calcGravForce(last);
}

// Chunk boundaries with about equal numbers of pairs, from n alone.
void FieldStep::planChunks(int n) {
    double total = (double)n * (n - 1) / 2, done = 0;
    int c = 1;
    chunkBegin[0] = 0;
    for (int r = 0; r < n && c < PAIR_CHUNKS; r++) {
        done += n - 1 - r;
        while (c < PAIR_CHUNKS && done >= total * c / PAIR_CHUNKS) chunkBegin[c++] = r + 1;
    }
    while (c <= PAIR_CHUNKS) chunkBegin[c++] = n;
}

void FieldStep::runChunks(bool withLines) {
    int n = chunkBegin[PAIR_CHUNKS];
    bool threaded = mThreads > 1 && n >= THREAD_MIN_PARTICLES;
    runTasks(threaded, PAIR_CHUNKS, [&](int c) { lvfield::repelChunk(*this, c, n, withLines); });
}

// acc = acc - the pushes of earlier rows (chunk by chunk) + this row's sum;
// and the newest history velocity damped, as the literal pass does.
void FieldStep::scatter(ParticleControl& field) {
    size_t n = field.myList.size();
    for (size_t i = 0; i < n; i++) {
        Particle& p = field.myList[i];
        Vector3D a(ax[i], ay[i], az[i]);
        for (int c = 0; c < PAIR_CHUNKS; c++) {
            a.x = a.x - colX[c][i];
            a.y = a.y - colY[c][i];
            a.z = a.z - colZ[c][i];
        }
        a.x = a.x + rowX[i];
        a.y = a.y + rowY[i];
        a.z = a.z + rowZ[i];
        p.acc = a;
        p.xv[0] *= p.damp;
        p.yv[0] *= p.damp;
        p.zv[0] *= p.damp;
    }
    for (int c = 1; c < PAIR_CHUNKS; c++) {
        lines[0].insert(lines[0].end(), lines[c].begin(), lines[c].end());
        lines[c].clear();
    }
}

// The noise flow's three octave sums of every particle, at the points
// Particle::perlinDrift() samples, with the vectorised noise (the same
// values, bit for bit).
void FieldStep::sampleDrift(ParticleControl& field, bool threaded) {
    int n = (int)field.myList.size();
    size_t padded = (size_t)(n + PAIR_LANES - 1) / PAIR_LANES * PAIR_LANES;
    for (int s = 0; s < 3; s++) {
        for (int c = 0; c < 3; c++) resizeZeroed(noiseIn[s][c], padded);
        resizeZeroed(drift[s], padded);
    }
    float t = gFrameStartTime;
    for (int i = 0; i < n; i++) {
        const Particle& p = field.myList[(size_t)i];
        float x = p.loc.x * 0.002f, y = p.loc.y * 0.002f, z = p.loc.z * 0.002f;
        const float phase[3] = {(float)p.index / 1000 + t, (float)p.index / 500 + t, (float)p.index / 250 + t};
        const float in[3][3] = {{x, y, phase[0]}, {y, z, phase[1]}, {z, x, phase[2]}};
        for (int s = 0; s < 3; s++) {
            for (int c = 0; c < 3; c++) noiseIn[s][c][(size_t)i] = in[s][c];
        }
    }
    int blocks = (int)padded / MOVE_BLOCK + ((int)padded % MOVE_BLOCK != 0);
    runTasks(threaded, blocks, [&](int b) {
        int begin = b * MOVE_BLOCK, end = std::min((int)padded, begin + MOVE_BLOCK);
        for (int s = 0; s < 3; s++) {
            lvfield::noiseSums(perlin, noiseIn[s][0].data(), noiseIn[s][1].data(), noiseIn[s][2].data(),
                               drift[s].data(), begin, end);
        }
    });
}

// The particles' steps after the pass, each particle on its own, so blocks
// of them can run on either thread. The drift is Particle::perlinDrift()'s
// from the sums sampled above. The noise tables are built (and the C
// library generator reseeded) by the first sample, as in the literal step:
// no other random draw comes between.
void FieldStep::moveAll(ParticleControl& field, bool flow) {
    int n = (int)field.myList.size();
    bool threaded = mThreads > 1 && n >= THREAD_MIN_PARTICLES;
    if (flow && n > 0) {
        if (perlin.mStart) {
            float origin[3] = {0, 0, 0};
            perlin.noise3(origin);
        }
        sampleDrift(field, threaded);
    }
    int blocks = (n + MOVE_BLOCK - 1) / MOVE_BLOCK;
    runTasks(threaded, blocks, [&](int b) {
        int end = std::min(n, (b + 1) * MOVE_BLOCK);
        for (int i = b * MOVE_BLOCK; i < end; i++) {
            Particle& p = field.myList[(size_t)i];
            p.pullTowardsCenter();
            if (flow) {
                float s = 0.2f * p.myLevel;
                p.acc.add(Vector3D(drift[0][(size_t)i] * s, drift[1][(size_t)i] * s, drift[2][(size_t)i] * s));
            }
            p.move();
            p.setMoveHistory();
        }
    });
}

// After drawing, the current colour is the last line's, as after the
// literal pass's immediate-mode lines.
void FieldStep::drawLines() {
    std::vector<LineVertex>& v = lines[0];
    linesPending = false;
    if (v.empty()) return;
    if (rendererIsGles()) {
        static_assert(sizeof(LineVertex) == 7 * sizeof(float), "the ES renderer reads seven floats an end");
        glesRenderer.drawLines(&v[0].x, static_cast<int>(v.size()));
        v.clear();
        return;
    }
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glVertexPointer(3, GL_FLOAT, sizeof(LineVertex), &v[0].x);
    glColorPointer(4, GL_FLOAT, sizeof(LineVertex), &v[0].r);
    glDrawArrays(GL_LINES, 0, (GLsizei)v.size());
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
    const LineVertex& last = v.back();
    glColor4f(last.r, last.g, last.b, last.a);
    v.clear();
}
