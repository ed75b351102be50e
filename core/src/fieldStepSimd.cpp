// The vectorised parts of the fast field step, the pair repulsion and the
// noise flow's octave sums, compiled once per instruction set (Highway's
// foreach_target) and picked at run time.
//
// Each lane does exactly the literal code's arithmetic for one pair or one
// sample, in the same order, with exactly rounded IEEE operations only
// (division, no reciprocal estimate, no fused multiply-add), so a lane's
// result is the same on every target. What differs per target is only how
// many of the PAIR_LANES lanes one vector holds; the lanes are summed the
// same way on all of them.
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "fieldStepSimd.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>

#include "fieldStep.h"
#include "perlin.h"

HWY_BEFORE_NAMESPACE();
namespace lvfield {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Squared distance under which the lines mode draws a line, and the line's
// opacity at zero distance.
constexpr float LINE_R2 = 1500.0f;
constexpr float LINE_ALPHA = 0.15f;

// The lines of one lane block, in lane (= j) order, as the literal pass
// draws them.
void collectLines(FieldStep& s, int chunk, int i, int j0, const float* r2, int n) {
    for (int l = 0; l < FieldStep::PAIR_LANES; l++) {
        int j = j0 + l;
        if (j <= i || j >= n || !(r2[l] < LINE_R2)) continue;
        float a = (r2[l] / (-LINE_R2) + 1) * LINE_ALPHA;
        s.lines[chunk].push_back({s.px[i], s.py[i], s.pz[i], 1, 1, 1, a});
        s.lines[chunk].push_back({s.px[j], s.py[j], s.pz[j], 1, 1, 1, a});
    }
}

// Each row's lane sums folded into its sum by a fixed tree: the upper half
// of the lanes onto the lower half, down to one, the same on every vector
// width.
void foldRows(FieldStep& s, int chunk) {
    constexpr int L = FieldStep::PAIR_LANES;
    for (int i = s.chunkBegin[chunk]; i < s.chunkBegin[chunk + 1]; i++) {
        float* pi = s.lanes[chunk].data() + (size_t)(i - s.chunkBegin[chunk]) * 3 * L;
        for (int half = L / 2; half >= 1; half /= 2) {
            for (int c = 0; c < 3; c++) {
                for (int l = 0; l < half; l++) pi[c * L + l] = pi[c * L + l] + pi[c * L + l + half];
            }
        }
        s.rowX[i] = pi[0];
        s.rowY[i] = pi[L];
        s.rowZ[i] = pi[2 * L];
    }
}

// Lane blocks of particles j per tile: the tile's positions, charges and
// column sums (7 x 256 floats) stay in the first-level cache while every
// row of the chunk passes over them.
constexpr int TILE_BLOCKS = 16;

// Rows [chunkBegin[chunk], chunkBegin[chunk + 1]): row i's pushes on the
// particles after it, summed per lane into rowX/Y/Z[i], and their opposites
// summed into this chunk's colX/Y/Z, in increasing i. The particles j are
// taken a tile at a time, all rows over one tile before the next: every
// lane and every column still sums in increasing order, so the tiles change
// nothing but the speed. With lines the tile is the whole row, which keeps
// the lines in the literal pass's order. The lines test is a template
// parameter: the modes without lines keep it out of the loop. It stays one
// function, a little over a screen, so that the row and column sums stay in
// registers across the tile and row loops instead of going through memory.
template <bool kLines>
void RepelRows(FieldStep& s, int chunk, int n) {
    const hn::ScalableTag<float> d;
    constexpr size_t N = hn::MaxLanes(d);
    constexpr size_t K = FieldStep::PAIR_LANES / N;   // vectors per lane block
    static_assert(FieldStep::PAIR_LANES % N == 0, "a vector must divide the lane block");
    using V = hn::Vec<decltype(d)>;
    constexpr size_t L = FieldStep::PAIR_LANES;

    const float* X = s.px.data();
    const float* Y = s.py.data();
    const float* Z = s.pz.data();
    const float* Q = s.pq.data();
    float* cx = s.colX[chunk].data();
    float* cy = s.colY[chunk].data();
    float* cz = s.colZ[chunk].data();
    const V one = hn::Set(d, 1.0f);
    const V nf = hn::Set(d, (float)n);
    const int blocks = (n + (int)L - 1) / (int)L;
    const int rowBegin = s.chunkBegin[chunk], rowEnd = s.chunkBegin[chunk + 1];
    if (rowBegin >= rowEnd) return;
    HWY_ALIGN float r2Lanes[L];
    // Each row's lane sums between tiles: x, y, z lanes per row.
    std::vector<float>& part = s.lanes[chunk];
    part.assign((size_t)(rowEnd - rowBegin) * 3 * L, 0.0f);

    const int tileBlocks = kLines ? blocks : TILE_BLOCKS;
    for (int tile = (rowBegin + 1) / (int)L; tile < blocks; tile += tileBlocks) {
        const int tileEnd = std::min(blocks, tile + tileBlocks);
        for (int i = rowBegin; i < rowEnd; i++) {
            const int first = (i + 1) / (int)L;
            if (first >= tileEnd) break;   // later rows start later still
            const V xi = hn::Set(d, X[i]), yi = hn::Set(d, Y[i]), zi = hn::Set(d, Z[i]);
            const V t = hn::Set(d, s.rowT[i]);
            const V iv = hn::Set(d, (float)i);
            float* pi = part.data() + (size_t)(i - rowBegin) * 3 * L;
            V sx[K], sy[K], sz[K];
            for (size_t k = 0; k < K; k++) {
                sx[k] = hn::LoadU(d, pi + k * N);
                sy[k] = hn::LoadU(d, pi + L + k * N);
                sz[k] = hn::LoadU(d, pi + 2 * L + k * N);
            }
            for (int b = std::max(first, tile); b < tileEnd; b++) {
                const bool edge = b == first || b == blocks - 1;
                bool anyLine = false;
                for (size_t k = 0; k < K; k++) {
                    const size_t j = (size_t)b * L + k * N;
                    V dx = hn::Sub(xi, hn::LoadU(d, X + j));
                    V dy = hn::Sub(yi, hn::LoadU(d, Y + j));
                    V dz = hn::Sub(zi, hn::LoadU(d, Z + j));
                    const V r2 = hn::Add(hn::Add(hn::Mul(dx, dx), hn::Mul(dy, dy)), hn::Mul(dz, dz));
                    // Closer than 1: the raw difference (factor exactly 1).
                    V f = hn::Mul(hn::Div(hn::LoadU(d, Q + j), r2), t);
                    f = hn::IfThenElse(hn::Gt(r2, one), f, one);
                    if (edge) {
                        const V jv = hn::Iota(d, (float)j);
                        f = hn::IfThenElseZero(hn::And(hn::Gt(jv, iv), hn::Lt(jv, nf)), f);
                    }
                    dx = hn::Mul(dx, f);
                    dy = hn::Mul(dy, f);
                    dz = hn::Mul(dz, f);
                    sx[k] = hn::Add(sx[k], dx);
                    sy[k] = hn::Add(sy[k], dy);
                    sz[k] = hn::Add(sz[k], dz);
                    hn::StoreU(hn::Add(hn::LoadU(d, cx + j), dx), d, cx + j);
                    hn::StoreU(hn::Add(hn::LoadU(d, cy + j), dy), d, cy + j);
                    hn::StoreU(hn::Add(hn::LoadU(d, cz + j), dz), d, cz + j);
                    if (kLines) {
                        hn::Store(r2, d, r2Lanes + k * N);
                        anyLine = anyLine || !hn::AllFalse(d, hn::Lt(r2, hn::Set(d, LINE_R2)));
                    }
                }
                if (kLines && anyLine) collectLines(s, chunk, i, b * (int)L, r2Lanes, n);
            }
            for (size_t k = 0; k < K; k++) {
                hn::StoreU(sx[k], d, pi + k * N);
                hn::StoreU(sy[k], d, pi + L + k * N);
                hn::StoreU(sz[k], d, pi + 2 * L + k * N);
            }
        }
    }

    foldRows(s, chunk);
}

void RepelChunk(FieldStep& s, int chunk, int n, bool lines) {
    if (lines) {
        RepelRows<true>(s, chunk, n);
    } else {
        RepelRows<false>(s, chunk, n);
    }
}

// Gravity::calcGravForce() of every well on particles [begin, end) (whole
// lane blocks), each divided by the particle's mass and added to its
// acceleration in well order, as Particle::setGravForce() does.
void WellPull(FieldStep& s, int begin, int end) {
    const hn::ScalableTag<float> d;
    const size_t N = hn::Lanes(d);
    const auto zero = hn::Zero(d);
    const auto base = hn::Set(d, s.wellBaseSize);
    for (size_t k = (size_t)begin; k < (size_t)end; k += N) {
        const auto x = hn::LoadU(d, s.px.data() + k), y = hn::LoadU(d, s.py.data() + k),
                   z = hn::LoadU(d, s.pz.data() + k);
        const auto q = hn::LoadU(d, s.lastQ.data() + k), m = hn::LoadU(d, s.lastM.data() + k);
        auto ax = hn::LoadU(d, s.ax.data() + k), ay = hn::LoadU(d, s.ay.data() + k),
             az = hn::LoadU(d, s.az.data() + k);
        for (const FieldStep::WellTerms& w : s.wells) {
            auto dx = hn::Sub(hn::Set(d, w.x), x);
            auto dy = hn::Sub(hn::Set(d, w.y), y);
            auto dz = hn::Sub(hn::Set(d, w.z), z);
            const auto len = hn::Sqrt(hn::Add(hn::Add(hn::Mul(dx, dx), hn::Mul(dy, dy)), hn::Mul(dz, dz)));
            const auto R = hn::Add(len, hn::Set(d, w.radius / (-5.0f)));
            const auto E = hn::Div(q, hn::Mul(R, R));
            const auto F = hn::Mul(E, hn::Set(d, w.Q));
            auto A = hn::Mul(hn::Div(F, hn::Set(d, 0.0001f + w.M)), hn::Sub(hn::Set(d, 500.0f), R));
            A = hn::Div(A, hn::Set(d, 15.0f));
            const auto k2 = hn::IfThenElse(hn::Gt(R, base), A, hn::Sub(base, R));
            // At a shifted distance of exactly 0 the raw difference.
            const auto scale = hn::IfThenElse(hn::Eq(R, zero), hn::Set(d, 1.0f), hn::Neg(k2));
            ax = hn::Add(ax, hn::Div(hn::Mul(dx, scale), m));
            ay = hn::Add(ay, hn::Div(hn::Mul(dy, scale), m));
            az = hn::Add(az, hn::Div(hn::Mul(dz, scale), m));
        }
        hn::StoreU(ax, d, s.ax.data() + k);
        hn::StoreU(ay, d, s.ay.data() + k);
        hn::StoreU(az, d, s.az.data() + k);
    }
}

// Perlin::noise3 for a vector of points, operation for operation.
template <class D, class V = hn::Vec<D>>
struct Lattice {
    hn::Vec<hn::RebindToSigned<D>> b0, b1;
    V r0, r1;
    Lattice(D d, V x) {
        const hn::RebindToSigned<D> di;
        const auto mask = hn::Set(di, Perlin::SAMPLE_SIZE - 1);
        V t = hn::Add(x, hn::Set(d, 4096.0f));
        // Far outside any scene (or not a number): lattice cell 0, as the
        // scalar noise does.
        t = hn::IfThenElseZero(hn::And(hn::Gt(t, hn::Set(d, -2147483520.0f)), hn::Lt(t, hn::Set(d, 2147483520.0f))),
                               t);
        const auto ti = hn::ConvertTo(di, t);
        b0 = hn::And(ti, mask);
        b1 = hn::And(hn::Add(b0, hn::Set(di, 1)), mask);
        r0 = hn::Sub(t, hn::ConvertTo(d, ti));
        r1 = hn::Sub(r0, hn::Set(d, 1.0f));
    }
};

template <class D, class V = hn::Vec<D>>
V sCurve(D d, V t) {
    return hn::Mul(hn::Mul(t, t), hn::Sub(hn::Set(d, 3.0f), hn::Mul(hn::Set(d, 2.0f), t)));
}

template <class V>
V lerp(V t, V a, V b) {
    return hn::Add(a, hn::Mul(t, hn::Sub(b, a)));
}

// The gradient at lattice entry `at` dotted with (rx, ry, rz).
template <class D, class VI, class V = hn::Vec<D>>
V gradDot(D d, const Perlin& noise, VI at, V rx, V ry, V rz) {
    const float* g = &noise.g3[0][0];
    const VI i3 = hn::Add(at, hn::Add(at, at));
    V gx = hn::GatherIndex(d, g, i3);
    V gy = hn::GatherIndex(d, g + 1, i3);
    V gz = hn::GatherIndex(d, g + 2, i3);
    return hn::Add(hn::Add(hn::Mul(rx, gx), hn::Mul(ry, gy)), hn::Mul(rz, gz));
}

template <class D, class V = hn::Vec<D>>
V noise3(D d, const Perlin& noise, V x, V y, V z) {
    const hn::RebindToSigned<D> di;
    const Lattice<D> lx(d, x), ly(d, y), lz(d, z);
    const auto i = hn::GatherIndex(di, noise.p, lx.b0);
    const auto j = hn::GatherIndex(di, noise.p, lx.b1);
    const auto b00 = hn::GatherIndex(di, noise.p, hn::Add(i, ly.b0));
    const auto b10 = hn::GatherIndex(di, noise.p, hn::Add(j, ly.b0));
    const auto b01 = hn::GatherIndex(di, noise.p, hn::Add(i, ly.b1));
    const auto b11 = hn::GatherIndex(di, noise.p, hn::Add(j, ly.b1));
    const V sx = sCurve(d, lx.r0), sy = sCurve(d, ly.r0), sz = sCurve(d, lz.r0);

    V u = gradDot(d, noise, hn::Add(b00, lz.b0), lx.r0, ly.r0, lz.r0);
    V v = gradDot(d, noise, hn::Add(b10, lz.b0), lx.r1, ly.r0, lz.r0);
    V a = lerp(sx, u, v);
    u = gradDot(d, noise, hn::Add(b01, lz.b0), lx.r0, ly.r1, lz.r0);
    v = gradDot(d, noise, hn::Add(b11, lz.b0), lx.r1, ly.r1, lz.r0);
    V b = lerp(sx, u, v);
    const V c = lerp(sy, a, b);

    u = gradDot(d, noise, hn::Add(b00, lz.b1), lx.r0, ly.r0, lz.r1);
    v = gradDot(d, noise, hn::Add(b10, lz.b1), lx.r1, ly.r0, lz.r1);
    a = lerp(sx, u, v);
    u = gradDot(d, noise, hn::Add(b01, lz.b1), lx.r0, ly.r1, lz.r1);
    v = gradDot(d, noise, hn::Add(b11, lz.b1), lx.r1, ly.r1, lz.r1);
    b = lerp(sx, u, v);
    const V e = lerp(sy, a, b);
    return lerp(sz, c, e);
}

// out[k] = noise.perlin_noise_3D({x[k], y[k], z[k]}) for k in [begin, end),
// a whole number of lane blocks. The tables must be built.
void NoiseSums(const Perlin& noise, const float* x, const float* y, const float* z, float* out, int begin,
               int end) {
    const hn::ScalableTag<float> d;
    const size_t N = hn::Lanes(d);
    const auto freq = hn::Set(d, noise.mFrequency), two = hn::Set(d, 2.0f);
    for (size_t k = (size_t)begin; k < (size_t)end; k += N) {
        auto vx = hn::Mul(hn::LoadU(d, x + k), freq);
        auto vy = hn::Mul(hn::LoadU(d, y + k), freq);
        auto vz = hn::Mul(hn::LoadU(d, z + k), freq);
        auto result = hn::Zero(d);
        float amp = noise.mAmplitude;
        for (int octave = 0; octave < noise.mOctaves; octave++) {
            result = hn::Add(result, hn::Mul(noise3(d, noise, vx, vy, vz), hn::Set(d, amp)));
            vx = hn::Mul(vx, two);
            vy = hn::Mul(vy, two);
            vz = hn::Mul(vz, two);
            amp *= 0.5f;
        }
        hn::StoreU(result, d, out + k);
    }
}

}  // namespace HWY_NAMESPACE
}  // namespace lvfield
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lvfield {
HWY_EXPORT(RepelChunk);
HWY_EXPORT(NoiseSums);
HWY_EXPORT(WellPull);

void wellPull(FieldStep& s, int begin, int end) {
    HWY_DYNAMIC_DISPATCH(WellPull)(s, begin, end);
}

void noiseSums(const Perlin& noise, const float* x, const float* y, const float* z, float* out, int begin,
               int end) {
    HWY_DYNAMIC_DISPATCH(NoiseSums)(noise, x, y, z, out, begin, end);
}

void repelChunk(FieldStep& s, int chunk, int n, bool lines) {
    HWY_DYNAMIC_DISPATCH(RepelChunk)(s, chunk, n, lines);
}
}  // namespace lvfield

namespace {
int64_t gForcedTarget = 0;   // 0: whatever the CPU has
}

std::vector<std::string> fieldStepTargets() {
    std::vector<std::string> names;
    hwy::SetSupportedTargetsForTest(0);
    for (int64_t t : hwy::SupportedAndGeneratedTargets()) names.push_back(hwy::TargetName(t));
    hwy::SetSupportedTargetsForTest(gForcedTarget);
    return names;
}

// Dispatch takes the best of the supported targets, the first listed.
std::string fieldStepTarget() {
    std::vector<int64_t> targets = hwy::SupportedAndGeneratedTargets();
    return targets.empty() ? std::string() : hwy::TargetName(targets.front());
}

bool forceFieldStepTarget(const std::string& name) {
    int64_t chosen = 0;
    if (!name.empty()) {
        hwy::SetSupportedTargetsForTest(0);
        for (int64_t t : hwy::SupportedAndGeneratedTargets()) {
            if (name == hwy::TargetName(t)) chosen = t;
        }
        if (chosen == 0) {
            hwy::SetSupportedTargetsForTest(gForcedTarget);
            return false;
        }
    }
    gForcedTarget = chosen;
    hwy::SetSupportedTargetsForTest(chosen);
    hwy::GetChosenTarget().Update(hwy::SupportedTargets());
    return true;
}
#endif
