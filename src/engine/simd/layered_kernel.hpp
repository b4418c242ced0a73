// The vectorised angle loop, one template for every instruction set. Included only by the
// layered_kernel_<isa>.cpp units, each compiled for its own instruction set; everything here has
// internal linkage so that no unit's machine code can stand in for another's at link time.
#pragma once

#include <xsimd/xsimd.hpp>

#include "engine/simd/layered_job.hpp"
#include "engine/state.hpp"

namespace kelvarin::simd {
namespace {

template <class Arch>
struct Lanes {
    using B = xsimd::batch<double, Arch>;
    using M = xsimd::batch_bool<double, Arch>;
    static constexpr int kWidth = static_cast<int>(B::size);

    /// Scan offsets of the lanes of one vector: 0, 1, …, width − 1.
    static B iota() {
        alignas(64) double v[kWidth];
        for (int i = 0; i < kWidth; ++i)
            v[i] = i;
        return B::load_aligned(v);
    }

    /// Principal square root of a + i·b (re ≥ 0, im with the sign of b), the same formula as
    /// the scalar step. A zero root is marked in `bad`: the step needs its limit form there.
    static void principalSqrt(B a, B b, B& re, B& im, M& bad) {
        const B modulus = xsimd::sqrt(xsimd::fma(a, a, b * b));
        const B t = xsimd::sqrt(B(0.5) * (modulus + xsimd::abs(a)));
        const B q = xsimd::abs(b) / (t + t);
        bad = bad | (t == B(0.0));
        const M nonNegative = a >= B(0.0);
        re = xsimd::select(nonNegative, t, q);
        im = xsimd::copysign(xsimd::select(nonNegative, q, t), b);
    }

    /// a/b by the textbook formula; a divisor outside (1e-290, 1e290) is marked in `bad`.
    static void divide(B ar, B ai, B br, B bi, B& qr, B& qi, M& bad) {
        const B d = xsimd::fma(br, br, bi * bi);
        bad = bad | !((d > B(1e-290)) & (d < B(1e290)));
        const B inv = B(1.0) / d;
        qr = xsimd::fma(ar, br, ai * bi) * inv;
        qi = xsimd::fms(ai, br, ar * bi) * inv;
    }

    /// The phase to take sine and cosine of: 0 where the modulus has underflowed (the phase no
    /// longer matters there), and 0 with the lane marked where the phase is so large that the
    /// library would reduce it one lane at a time.
    static B safePhase(B phase, B modulus, M& bad) {
        const M huge = xsimd::abs(phase) > B(8e5);
        const M vanished = modulus == B(0.0);
        bad = bad | (huge & !vanished);
        return xsimd::select(huge | vanished, B(0.0), phase);
    }

    static void run(const LayeredJob& job, const LayeredChunk& chunk) {
        const int blocks = (chunk.count + kWidth - 1) / kWidth;
        const B lane = iota();
        for (int blk = 0; blk < blocks; ++blk) {
            const B p = B(chunk.first + blk * kWidth) + lane;
            M bad(false);
            // The semi-infinite substrate: X = x ∓ sqrt(x² − 1), the root of modulus ≤ 1.
            B xr = xsimd::fma(p, B(job.xr1[0]), B(job.xr0[0]));
            B xi = xsimd::fma(p, B(job.xi1[0]), B(job.xi0[0]));
            B rr, ri;
            principalSqrt(xsimd::fms(xr, xr, xi * xi) - B(1.0), (xr + xr) * xi, rr, ri, bad);
            const M negative = xr < B(0.0);
            B Xr = xsimd::select(negative, xr + rr, xr - rr);
            B Xi = xsimd::select(negative, xi + ri, xi - ri);
            if (job.theory == kTheoryDynamical) {
                for (int s = 1; s <= job.lamellae; ++s)
                    dynamical(job, s, p, Xr, Xi, bad);
            } else if (job.theory == kTheoryKinematical) {
                for (int s = 1; s <= job.lamellae; ++s)
                    kinematical(job, s, p, Xr, Xi, bad);
            }
            const B nan(__builtin_nan(""));
            xsimd::select(bad, nan, Xr).store_unaligned(chunk.re + blk * kWidth);
            xsimd::select(bad, nan, Xi).store_unaligned(chunk.im + blk * kWidth);
        }
    }

    /// Takagi–Taupin solution through slab s, in the overflow-free form of the scalar step:
    /// X' = x + r·(N1 + N2)/(N1 − N2), N1 = (X − x + r)·exp(−S), N2 = (X − x − r)·exp(S),
    /// S = i·T·r, both N divided by the larger of exp(±S).
    static void dynamical(const LayeredJob& job, int s, B p, B& Xr, B& Xi, M& bad) {
        const B xr = xsimd::fma(p, B(job.xr1[s]), B(job.xr0[s]));
        const B xi = xsimd::fma(p, B(job.xi1[s]), B(job.xi0[s]));
        B rr, ri;
        principalSqrt(xsimd::fms(xr, xr, xi * xi) - B(1.0), (xr + xr) * xi, rr, ri, bad);
        const B Tr(job.tr[s]);
        const B Ti(job.ti[s]);
        // T·r = a + i·b, so S = −b + i·a; exp(S) grows when −b ≥ 0.
        const B a = xsimd::fms(Tr, rr, Ti * ri);
        const B b = xsimd::fma(Tr, ri, Ti * rr);
        const M growing = b <= B(0.0);
        // The decaying exponential exp(∓2S): modulus exp(−2|b|), phase ∓2a.
        const B modulus = xsimd::exp(B(-2.0) * xsimd::abs(b));
        const B phase = xsimd::select(growing, B(-2.0) * a, B(2.0) * a);
        const auto sc = xsimd::sincos(safePhase(phase, modulus, bad));
        const B dr = modulus * sc.second;
        const B di = modulus * sc.first;
        const B wr = Xr - xr;
        const B wi = Xi - xi;
        B n1r = wr + rr;
        B n1i = wi + ri;
        B n2r = wr - rr;
        B n2i = wi - ri;
        // Only the N with the growing exponential is multiplied by the decay.
        const B mr0 = xsimd::select(growing, n1r, n2r);
        const B mi0 = xsimd::select(growing, n1i, n2i);
        const B mr = xsimd::fms(mr0, dr, mi0 * di);
        const B mi = xsimd::fma(mr0, di, mi0 * dr);
        n1r = xsimd::select(growing, mr, n1r);
        n1i = xsimd::select(growing, mi, n1i);
        n2r = xsimd::select(growing, n2r, mr);
        n2i = xsimd::select(growing, n2i, mi);
        const B sr = n1r + n2r;
        const B si = n1i + n2i;
        const B numr = xsimd::fms(rr, sr, ri * si);
        const B numi = xsimd::fma(rr, si, ri * sr);
        B qr, qi;
        divide(numr, numi, n1r - n2r, n1i - n2i, qr, qi, bad);
        Xr = xr + qr;
        Xi = xi + qi;
    }

    /// Kinematical step through slab s: X' = X·e + (1 − e)/(2x), e = exp(−2i·x·T).
    static void kinematical(const LayeredJob& job, int s, B p, B& Xr, B& Xi, M& bad) {
        const B xr = xsimd::fma(p, B(job.xr1[s]), B(job.xr0[s]));
        const B xi = xsimd::fma(p, B(job.xi1[s]), B(job.xi0[s]));
        // x = 0 takes the limit X + i·T.
        bad = bad | ((xr == B(0.0)) & (xi == B(0.0)));
        const B u = xsimd::fma(p, B(job.u1[s]), B(job.u0[s]));
        // e = exp(2·Im(x·T))·(cos(−2·Re(x·T)) + i·sin(−2·Re(x·T))).
        const B modulus = job.v1[s] == 0
                              ? B(job.attenuation[s])
                              : xsimd::exp(B(2.0) * xsimd::fma(p, B(job.v1[s]), B(job.v0[s])));
        const auto sc = xsimd::sincos(safePhase(B(-2.0) * u, modulus, bad));
        const B er = modulus * sc.second;
        const B ei = modulus * sc.first;
        B qr, qi;
        divide(B(1.0) - er, -ei, xr + xr, xi + xi, qr, qi, bad);
        const B nr = xsimd::fms(Xr, er, Xi * ei) + qr;
        const B ni = xsimd::fma(Xr, ei, Xi * er) + qi;
        Xr = nr;
        Xi = ni;
    }
};

}  // namespace
}  // namespace kelvarin::simd
