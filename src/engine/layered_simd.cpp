#include "engine/layered_simd.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "engine/engine_error.hpp"
#include "engine/simd/layered_job.hpp"

namespace kelvarin {

namespace {

/// Coefficients of the kernel, linear in the scan index p, worked out in extended precision
/// from the slab constants: θ(p) = π·(start + p·step)/648000 radians, so η and x are linear in p.
void fillSlab(simd::LayeredJob& job, int s, const SlabConstants& c, Extended theta0,
              Extended thetaStep, int points) {
    const Extended scale = c.etaRoot * c.etaSin2Theta / c.etaDenominator;
    const Extended eta0 = (theta0 + c.strainShift) * scale;
    const Extended eta1 = thetaStep * scale;
    const Extended kappa = c.kappa;
    const Extended g = c.g;
    const Extended inv = 1 / static_cast<Extended>(1 + c.kappa * c.kappa);
    const Extended xr0 = (eta0 + g * kappa) * inv;
    const Extended xr1 = eta1 * inv;
    const Extended xi0 = (g - eta0 * kappa) * inv;
    const Extended xi1 = -eta1 * kappa * inv;
    const Extended tr = c.T.real();
    const Extended ti = c.T.imag();
    job.xr0[s] = static_cast<double>(xr0);
    job.xr1[s] = static_cast<double>(xr1);
    job.xi0[s] = static_cast<double>(xi0);
    job.xi1[s] = static_cast<double>(xi1);
    job.tr[s] = c.T.real();
    job.ti[s] = c.T.imag();
    job.u0[s] = static_cast<double>(xr0 * tr - xi0 * ti);
    job.u1[s] = static_cast<double>(xr1 * tr - xi1 * ti);
    // With T = A·(1 + i·κ), Im(x·T) = A·g whatever the angle: the kinematical attenuation of the
    // slab is then one number. A slope that moves it by less than 1e-12 over the scan is
    // rounding of T and is dropped.
    const Extended v0 = xr0 * ti + xi0 * tr;
    const Extended v1 = xr1 * ti + xi1 * tr;
    const Extended span = static_cast<Extended>(std::max(points - 1, 0));
    if (std::fabs(v1) * span <= 1e-12L * std::fabs(v0)) {
        const Extended v = v0 + v1 * span / 2;
        job.v0[s] = static_cast<double>(v);
        job.v1[s] = 0;
        job.attenuation[s] = static_cast<double>(std::exp(2 * v));
    } else {
        job.v0[s] = static_cast<double>(v0);
        job.v1[s] = static_cast<double>(v1);
        job.attenuation[s] = 0;
    }
}

/// The full calculation's slab s for the polarisation factor selection `pi`.
void fillFullSlab(simd::LayeredJob& job, int s, const FullSlabConstants& f, bool pi) {
    const double C = pi ? std::fmax(f.cosTwoTheta, 1e-12) : 1.0;
    job.hx[s] = f.hx;
    job.hz[s] = f.hz;
    job.hh[s] = f.hh;
    job.chi0r[s] = f.chi0r;
    job.chi0i[s] = f.chi0i;
    job.scale[s] = f.inverseScale / C;
    job.kappa[s] = f.kappa;
    job.damping[s] = 1 / (1 + f.kappa * f.kappa);
    job.thick[s] = f.thicknessScale * C;
}

simd::LayeredKernel kernelFor(SimdLevel level);

/// cos and sin of the turns j·Δ, j = 0 … kChunkPoints − 1, in extended precision: exact values
/// for the powers of two, every other j as the product of the turns of its bits, so at most
/// nine roundings of extended precision (some 1e-18) from the exact value.
struct Turns {
    Extended step = std::numeric_limits<Extended>::quiet_NaN();  ///< Δ of the table, radians
    Extended c[simd::kChunkPoints];
    Extended s[simd::kChunkPoints];

    /// Makes the table for Δ = delta unless it holds it already.
    void prepare(Extended delta) {
        if (delta == step) return;
        step = delta;
        c[0] = 1;
        s[0] = 0;
        for (int power = 1; power < simd::kChunkPoints; power *= 2) {
            const Extended pc = std::cos(power * delta);
            const Extended ps = std::sin(power * delta);
            for (int j = power; j < 2 * power && j < simd::kChunkPoints; ++j) {
                c[j] = c[j - power] * pc - s[j - power] * ps;
                s[j] = s[j - power] * pc + c[j - power] * ps;
            }
        }
    }
};

/// cos ω and sin ω of the chunk's points: ω of its first point from the extended-precision sine
/// and cosine, the others turned from it by j steps of the scan (points past the scan repeat its
/// last angle). Two sines per chunk instead of two per point: the extended-precision sine costs
/// as much as a lamella's step of a whole vector of angles.
void incidenceAngles(const LayeredConstants& constants, const ScanGrid& grid, const Turns& turns,
                     int first, int count, double* cosOmega, double* sinOmega) {
    const Extended omega =
        constants.omega0 + kPi * static_cast<Extended>(grid.angle(first)) * kArcsecFactor;
    const Extended c0 = std::cos(omega);
    const Extended s0 = std::sin(omega);
    for (int j = 0; j < simd::kChunkPoints; ++j) {
        const int t = std::min(j, count - 1);
        cosOmega[j] = static_cast<double>(c0 * turns.c[t] - s0 * turns.s[t]);
        sinOmega[j] = static_cast<double>(s0 * turns.c[t] + c0 * turns.s[t]);
    }
}

/// The full calculation's curve: one kernel pass per polarisation of non-zero weight, the
/// intensities added with their weights; a point any pass could not compute is recomputed
/// whole by the reference arithmetic.
void layeredCurveFastFull(const LayeredConstants& constants, Theory theory, const ScanGrid& grid,
                          ComputedCurve& out, SimdLevel level) {
    const int points = grid.points;
    thread_local simd::LayeredJob job;
    job.reserveSlabs(constants.layerCount + 1);
    job.theory = theory;
    job.full = true;
    const simd::LayeredKernel kernel = kernelFor(level);
    alignas(64) double re[simd::kChunkPoints];
    alignas(64) double im[simd::kChunkPoints];
    alignas(64) double cosOmega[simd::kChunkPoints];
    alignas(64) double sinOmega[simd::kChunkPoints];
    alignas(64) double scratch[simd::kChunkPoints];
    // One table per thread, kept while the scan step stays the same.
    thread_local Turns turns;
    turns.prepare(kPi * static_cast<Extended>(grid.step) * kArcsecFactor);
    for (int p = 0; p < points; ++p)
        out.calcRaw[p] = 0;
    for (const bool pi : {false, true}) {
        const double weight = pi ? constants.piWeight : constants.sigmaWeight;
        if (!(weight > 0)) continue;
        job.lamellae = 0;
        fillFullSlab(job, 0, constants.full[0], pi);
        if (theory == kTheoryDynamical || theory == kTheoryKinematical) {
            for (int i = 1; i <= constants.layerCount; ++i) {
                const FullSlabConstants& f = constants.full[static_cast<std::size_t>(i)];
                if (f.thicknessScale == 0) continue;
                fillFullSlab(job, ++job.lamellae, f, pi);
            }
        }
        for (int first = 0; first < points; first += simd::kChunkPoints) {
            const int count = std::min(simd::kChunkPoints, points - first);
            incidenceAngles(constants, grid, turns, first, count, cosOmega, sinOmega);
            kernel(job, simd::LayeredChunk{static_cast<double>(first), count, re, im, cosOmega,
                                           sinOmega, scratch});
            for (int j = 0; j < count; ++j)
                out.calcRaw[first + j] += weight * reflectivity(Complex(re[j], im[j]));
        }
    }
    for (int p = 0; p < points; ++p) {
        const double theta = grid.angle(p);
        Extended R = out.calcRaw[p];
        if (!std::isfinite(R)) R = referenceReflectivity(constants, theory, theta);
        if (R > out.calcMax) out.calcMax = R;
        out.calcAngle[p] = theta;
        out.calcRaw[p] = R;
        out.calcCurve[p] = R;
    }
}

simd::LayeredKernel kernelFor(SimdLevel level) {
    switch (level) {
        case SimdLevel::Avx512:
            return simd::layeredKernelAvx512;
        case SimdLevel::Avx2:
            return simd::layeredKernelAvx2;
        case SimdLevel::Sse2:
            break;
    }
    return simd::layeredKernelSse2;
}

}  // namespace

bool simdLevelAvailable(SimdLevel level) {
    // The compiler's run-time check also asks the operating system whether it saves the wider
    // registers.
    __builtin_cpu_init();
    switch (level) {
        case SimdLevel::Sse2:
            return true;
        case SimdLevel::Avx2:
            return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
        case SimdLevel::Avx512:
            return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("fma");
    }
    return false;
}

SimdLevel bestSimdLevel() {
    static const SimdLevel best = [] {
        if (simdLevelAvailable(SimdLevel::Avx512)) return SimdLevel::Avx512;
        if (simdLevelAvailable(SimdLevel::Avx2)) return SimdLevel::Avx2;
        return SimdLevel::Sse2;
    }();
    return best;
}

const char* simdLevelName(SimdLevel level) {
    switch (level) {
        case SimdLevel::Avx512:
            return "avx512";
        case SimdLevel::Avx2:
            return "avx2";
        case SimdLevel::Sse2:
            break;
    }
    return "sse2";
}

void layeredCurveFast(const EngineState& state, const LayeredConstants& constants,
                      ComputedCurve& out, SimdLevel level) {
    layeredCurveFast(constants, state.theoryChoice, scanGridOf(state.curveStore), out, level);
}

void layeredCurveFast(const LayeredConstants& constants, Theory theory, const ScanGrid& grid,
                      ComputedCurve& out, SimdLevel level) {
    const int points = grid.points;
    out.ensure(points);
    out.calcMax = 0;
    out.calcCount = 0;
    out.calcComputed = 0;
    if (constants.model == PhysicsModel::Full) {
        layeredCurveFastFull(constants, theory, grid, out, level);
        out.calcComputed = points;
        out.calcCount = points > 0 ? points - 1 : 0;
        return;
    }

    // One job per thread, reused: the angle loop allocates nothing once it has seen a stack.
    thread_local simd::LayeredJob job;
    job.reserveSlabs(constants.layerCount + 1);
    job.theory = theory;
    job.full = false;
    job.lamellae = 0;
    const Extended theta0 = kPi * static_cast<Extended>(grid.start) * kArcsecFactor;
    const Extended thetaStep = kPi * static_cast<Extended>(grid.step) * kArcsecFactor;
    fillSlab(job, 0, constants.slab[0], theta0, thetaStep, points);
    if (theory == kTheoryDynamical || theory == kTheoryKinematical) {
        for (int i = 1; i <= constants.layerCount; ++i) {
            const SlabConstants& c = constants.slab[static_cast<std::size_t>(i)];
            // A lamella of zero thickness passes X on exactly in both theories.
            if (c.T == Complex(0.0, 0.0)) continue;
            fillSlab(job, ++job.lamellae, c, theta0, thetaStep, points);
        }
    }

    const simd::LayeredKernel kernel = kernelFor(level);
    alignas(64) double re[simd::kChunkPoints];
    alignas(64) double im[simd::kChunkPoints];
    for (int first = 0; first < points; first += simd::kChunkPoints) {
        const int count = std::min(simd::kChunkPoints, points - first);
        kernel(job, simd::LayeredChunk{static_cast<double>(first), count, re, im});
        for (int j = 0; j < count; ++j) {
            const int p = first + j;
            const double theta = grid.angle(p);
            Extended R = reflectivity(Complex(re[j], im[j]));
            // The kernel's NaN: a point for the one-at-a-time arithmetic (which also rejects a
            // candidate whose reflectivity is not finite).
            if (!std::isfinite(R)) R = referenceReflectivity(constants, theory, theta);
            if (R > out.calcMax) out.calcMax = R;
            out.calcAngle[p] = theta;
            out.calcRaw[p] = R;
            out.calcCurve[p] = R;
        }
    }
    out.calcComputed = points;
    out.calcCount = points > 0 ? points - 1 : 0;
}

}  // namespace kelvarin
