// The vectorised angle loop, one template for every instruction set. Included only by the
// layered_kernel_<isa>.cpp units, each compiled for its own instruction set; everything here has
// internal linkage so that no unit's machine code can stand in for another's at link time.
#pragma once

#include <cstdint>
#include <type_traits>

#include <xsimd/xsimd.hpp>

#include "engine/simd/layered_job.hpp"
#include "engine/state.hpp"

namespace kelvarin::simd {
namespace {

/// N vectors handled as one value. Every operation is issued for all N one after another, so the
/// processor finds N independent dependency chains side by side in the instruction stream: the
/// long latencies of one step (square roots, division, the exponential's polynomial) overlap.
template <class T, int N>
struct Multi {
    using value_type = T;
    T v[N];

    Multi() = default;
    /// Every element set to `s` (a constant, or false for a mask).
    template <class S>
    requires std::is_arithmetic_v<S> Multi(
        S s) {  // NOLINT(google-explicit-constructor): constants read as in scalar code
        _Pragma("GCC unroll 8") for (int j = 0; j < N; ++j) v[j] = T(s);
    }
};

#define KELVARIN_MULTI_BINARY(op)                                                                \
    template <class T, class U, int N>                                                           \
    [[gnu::always_inline]] inline auto operator op(const Multi<T, N>& a, const Multi<U, N>& b) { \
        Multi<decltype(a.v[0] op b.v[0]), N> r;                                                  \
        _Pragma("GCC unroll 8") for (int j = 0; j < N; ++j) r.v[j] = a.v[j] op b.v[j];           \
        return r;                                                                                \
    }
KELVARIN_MULTI_BINARY(+)
KELVARIN_MULTI_BINARY(-)
KELVARIN_MULTI_BINARY(*)
KELVARIN_MULTI_BINARY(/)
KELVARIN_MULTI_BINARY(&)
KELVARIN_MULTI_BINARY(|)
KELVARIN_MULTI_BINARY(^)
KELVARIN_MULTI_BINARY(==)
KELVARIN_MULTI_BINARY(<)
KELVARIN_MULTI_BINARY(>)
KELVARIN_MULTI_BINARY(<=)
KELVARIN_MULTI_BINARY(>=)
#undef KELVARIN_MULTI_BINARY

#define KELVARIN_MULTI_APPLY(T, expression)                                  \
    Multi<T, N> r;                                                           \
    _Pragma("GCC unroll 8") for (int j = 0; j < N; ++j) r.v[j] = expression; \
    return r

template <class T, int N>
[[gnu::always_inline]] inline Multi<T, N> operator-(const Multi<T, N>& a) {
    KELVARIN_MULTI_APPLY(T, -a.v[j]);
}
template <class T, int N>
[[gnu::always_inline]] inline Multi<T, N> operator!(const Multi<T, N>& a) {
    KELVARIN_MULTI_APPLY(T, !a.v[j]);
}
template <class T, int N>
[[gnu::always_inline]] inline Multi<T, N> operator<<(const Multi<T, N>& a, int bits) {
    KELVARIN_MULTI_APPLY(T, a.v[j] << bits);
}
template <class T, int N>
[[gnu::always_inline]] inline Multi<T, N> fma(const Multi<T, N>& a, const Multi<T, N>& b,
                                              const Multi<T, N>& c) {
    KELVARIN_MULTI_APPLY(T, xsimd::fma(a.v[j], b.v[j], c.v[j]));
}
template <class T, int N>
[[gnu::always_inline]] inline Multi<T, N> fms(const Multi<T, N>& a, const Multi<T, N>& b,
                                              const Multi<T, N>& c) {
    KELVARIN_MULTI_APPLY(T, xsimd::fms(a.v[j], b.v[j], c.v[j]));
}
template <class T, int N>
[[gnu::always_inline]] inline Multi<T, N> fnma(const Multi<T, N>& a, const Multi<T, N>& b,
                                               const Multi<T, N>& c) {
    KELVARIN_MULTI_APPLY(T, xsimd::fnma(a.v[j], b.v[j], c.v[j]));
}
template <class T, int N>
[[gnu::always_inline]] inline Multi<T, N> sqrt(const Multi<T, N>& a) {
    KELVARIN_MULTI_APPLY(T, xsimd::sqrt(a.v[j]));
}
template <class T, int N>
[[gnu::always_inline]] inline Multi<T, N> abs(const Multi<T, N>& a) {
    KELVARIN_MULTI_APPLY(T, xsimd::abs(a.v[j]));
}
template <class T, int N>
[[gnu::always_inline]] inline Multi<T, N> copysign(const Multi<T, N>& a, const Multi<T, N>& b) {
    KELVARIN_MULTI_APPLY(T, xsimd::copysign(a.v[j], b.v[j]));
}
template <class C, class T, int N>
[[gnu::always_inline]] inline Multi<T, N> select(const Multi<C, N>& c, const Multi<T, N>& a,
                                                 const Multi<T, N>& b) {
    KELVARIN_MULTI_APPLY(T, xsimd::select(c.v[j], a.v[j], b.v[j]));
}
template <class To, class T, int N>
[[gnu::always_inline]] inline To bitcast(const Multi<T, N>& a) {
    To r;
    _Pragma("GCC unroll 8") for (int j = 0; j < N; ++j) r.v[j] =
        xsimd::bitwise_cast<typename To::value_type>(a.v[j]);
    return r;
}
#undef KELVARIN_MULTI_APPLY

/// Vectors processed side by side: four hide the latencies on every instruction set measured
/// (two leave the dynamical step waiting, eight spill too much).
template <class Arch>
inline constexpr int kUnroll = 4;

template <class Arch>
struct Lanes {
    using Batch = xsimd::batch<double, Arch>;
    using B = Multi<Batch, kUnroll<Arch>>;
    using M = Multi<xsimd::batch_bool<double, Arch>, kUnroll<Arch>>;
    using I = Multi<xsimd::batch<std::int64_t, Arch>, kUnroll<Arch>>;
    /// Angles per value.
    static constexpr int kWidth = static_cast<int>(Batch::size) * kUnroll<Arch>;
    static_assert(kChunkPoints % kWidth == 0, "a chunk is a whole number of values");

    [[gnu::always_inline]] static B load(const double* from) {
        B r;
        _Pragma("GCC unroll 8") for (int j = 0; j < kUnroll<Arch>; ++j) r.v[j] =
            Batch::load_unaligned(from + j * static_cast<int>(Batch::size));
        return r;
    }

    [[gnu::always_inline]] static void store(const B& value, double* to) {
        _Pragma("GCC unroll 8") for (int j = 0; j < kUnroll<Arch>; ++j) value.v[j].store_unaligned(
            to + j * static_cast<int>(Batch::size));
    }

    /// Scan offsets of the lanes: 0, 1, …, width − 1.
    [[gnu::always_inline]] static B iota() {
        alignas(64) double v[kWidth];
        for (int i = 0; i < kWidth; ++i)
            v[i] = i;
        return load(v);
    }

    /// Adding 1.5·2⁵² rounds a double of magnitude below 2⁵¹ to a whole number k, which then
    /// sits in the low bits of the sum.
    static constexpr double kRoundingShift = 0x1.8p52;

    /// exp(x) for x ≤ 0 to about one unit in the last place: x = k·ln 2 + r with |r| ≤ ln 2 / 2,
    /// e^r by its Taylor series to r¹³, 2^k written into the exponent. Below −708, where the
    /// result would be subnormal, it returns 0.
    [[gnu::always_inline]] static B expNonPositive(B x) {
        const B shifted = fma(x, B(1.4426950408889634), B(kRoundingShift));
        const B k = shifted - B(kRoundingShift);
        const B r = fnma(k, B(0x1.a39ef35793c76p-33), fnma(k, B(0x1.62e42feep-1), x));
        // Estrin's scheme: a shallow tree of multiply-adds instead of one long chain.
        const B r2 = r * r;
        const B r4 = r2 * r2;
        const B a0 = fma(r, B(1.0), B(1.0));
        const B a1 = fma(r, B(1.0 / 6.0), B(0.5));
        const B a2 = fma(r, B(1.0 / 120.0), B(1.0 / 24.0));
        const B a3 = fma(r, B(1.0 / 5040.0), B(1.0 / 720.0));
        const B a4 = fma(r, B(1.0 / 362880.0), B(1.0 / 40320.0));
        const B a5 = fma(r, B(1.0 / 39916800.0), B(1.0 / 3628800.0));
        const B a6 = fma(r, B(1.0 / 6227020800.0), B(1.0 / 479001600.0));
        const B b0 = fma(a1, r2, a0);
        const B b1 = fma(a3, r2, a2);
        const B b2 = fma(a5, r2, a4);
        const B c0 = fma(b1, r4, b0);
        const B c1 = fma(a6, r4, b2);
        const B p = fma(c1, r4 * r4, c0);
        const I exponent = (bitcast<I>(shifted) - bitcast<I>(B(kRoundingShift)) + I(1023)) << 52;
        return select(x < B(-708.0), B(0.0), p * bitcast<B>(exponent));
    }

    /// Bound below which expNearZero serves: its Taylor series to x⁷ is then off by less than
    /// (1/32)⁸/8! ≈ 2e-17, a fifth of the rounding of a result near 1.
    static constexpr double kNearZero = 1.0 / 32.0;

    /// exp(x) for |x| ≤ kNearZero: no range reduction and half the polynomial of expNonPositive.
    /// A lamella a few hundred ångström thick attenuates by far less than that.
    [[gnu::always_inline]] static B expNearZero(B x) {
        const B x2 = x * x;
        const B a0 = fma(x, B(1.0), B(1.0));
        const B a1 = fma(x, B(1.0 / 6.0), B(0.5));
        const B a2 = fma(x, B(1.0 / 120.0), B(1.0 / 24.0));
        const B a3 = fma(x, B(1.0 / 5040.0), B(1.0 / 720.0));
        const B b0 = fma(a1, x2, a0);
        const B b1 = fma(a3, x2, a2);
        return fma(b1, x2 * x2, b0);
    }

    /// exp(x) for x ≤ 0, by the short series where every lane of the value allows it (one
    /// well-predicted branch per value; a NaN lane takes the long way).
    [[gnu::always_inline]] static B expAttenuation(B x) {
        const M near = abs(x) <= B(kNearZero);
        auto all = near.v[0];
        _Pragma("GCC unroll 8") for (int j = 1; j < kUnroll<Arch>; ++j) all = all & near.v[j];
        return xsimd::all(all) ? expNearZero(x) : expNonPositive(x);
    }

    /// cos φ and sin φ for |φ| ≤ 8e5: φ = k·π/2 + r with π/2 split in three parts, so that r is
    /// exact to about 2e-16; the classic minimax polynomials on |r| ≤ π/4; k mod 4 turns
    /// (cos r, sin r) by quarter turns.
    [[gnu::always_inline]] static void cosSin(B phi, B& c, B& s) {
        const B shifted = fma(phi, B(0.63661977236758134308), B(kRoundingShift));
        const B k = shifted - B(kRoundingShift);
        B r = fnma(k, B(0x1.921fb544p+0), phi);
        r = fnma(k, B(0x1.0b4611a6p-34), r);
        r = fnma(k, B(0x1.3198a2e037073p-69), r);
        const B z = r * r;
        B ps(1.58969099521155010221e-10);
        ps = fma(ps, z, B(-2.50507602534068634195e-08));
        ps = fma(ps, z, B(2.75573137070700676789e-06));
        ps = fma(ps, z, B(-1.98412698298579493134e-04));
        ps = fma(ps, z, B(8.33333333332248946124e-03));
        ps = fma(ps, z, B(-1.66666666666666324348e-01));
        const B sinR = fma(r * z, ps, r);
        B pc(-1.13596475577881948265e-11);
        pc = fma(pc, z, B(2.08757232129817482790e-09));
        pc = fma(pc, z, B(-2.75573143513906633035e-07));
        pc = fma(pc, z, B(2.48015872894767294178e-05));
        pc = fma(pc, z, B(-1.38888888888741095749e-03));
        pc = fma(pc, z, B(4.16666666666666019037e-02));
        const B cosR = fma(z * z, pc, fnma(z, B(0.5), B(1.0)));
        // Quadrant q = k mod 4: odd q swaps sine and cosine; q = 2, 3 negate the sine and
        // q = 1, 2 the cosine.
        const I q = bitcast<I>(shifted) & I(3);
        const B swap = bitcast<B>(I(0) - (q & I(1)));
        const B sinSign = bitcast<B>((q & I(2)) << 62);
        const B cosSign = bitcast<B>(((q + I(1)) & I(2)) << 62);
        const B exchange = (sinR ^ cosR) & swap;
        s = sinR ^ exchange ^ sinSign;
        c = cosR ^ exchange ^ cosSign;
    }

    /// Principal square root of a + i·b (re ≥ 0, im with the sign of b), the same formula as
    /// the scalar step. A zero root is marked in `bad`: the step needs its limit form there.
    [[gnu::always_inline]] static void principalSqrt(B a, B b, B& re, B& im, M& bad) {
        const B modulus = sqrt(fma(a, a, b * b));
        const B t = sqrt(B(0.5) * (modulus + abs(a)));
        const B q = abs(b) / (t + t);
        bad = bad | (t == B(0.0));
        const M nonNegative = a >= B(0.0);
        re = select(nonNegative, t, q);
        im = copysign(select(nonNegative, q, t), b);
    }

    /// a/b by the textbook formula; a divisor outside (1e-290, 1e290) is marked in `bad`.
    [[gnu::always_inline]] static void divide(B ar, B ai, B br, B bi, B& qr, B& qi, M& bad) {
        const B d = fma(br, br, bi * bi);
        bad = bad | !((d > B(1e-290)) & (d < B(1e290)));
        const B inv = B(1.0) / d;
        qr = fma(ar, br, ai * bi) * inv;
        qi = fms(ai, br, ar * bi) * inv;
    }

    /// The phase to take sine and cosine of: 0 where the modulus has underflowed (the phase no
    /// longer matters there), and 0 with the lane marked where the phase is beyond the range of
    /// cosSin.
    [[gnu::always_inline]] static B safePhase(B phase, B modulus, M& bad) {
        const M huge = abs(phase) > B(8e5);
        const M vanished = modulus == B(0.0);
        bad = bad | (huge & !vanished);
        return select(huge | vanished, B(0.0), phase);
    }

    /// The coefficients of one slab, in every lane.
    struct Slab {
        B xr0, xr1, xi0, xi1, tr, ti, u0, u1, v0, v1, attenuation;
        bool constantAttenuation;

        Slab(const LayeredJob& job, int s)
            : xr0(job.xr0[s]),
              xr1(job.xr1[s]),
              xi0(job.xi0[s]),
              xi1(job.xi1[s]),
              tr(job.tr[s]),
              ti(job.ti[s]),
              u0(job.u0[s]),
              u1(job.u1[s]),
              v0(job.v0[s]),
              v1(job.v1[s]),
              attenuation(job.attenuation[s]),
              constantAttenuation(job.v1[s] == 0) {}
    };

    /// The semi-infinite substrate: X = x ∓ sqrt(x² − 1), the root of modulus ≤ 1.
    [[gnu::always_inline]] static void substrate(B xr, B xi, B& Xr, B& Xi, M& bad) {
        B rr, ri;
        principalSqrt(fms(xr, xr, xi * xi) - B(1.0), (xr + xr) * xi, rr, ri, bad);
        const M negative = xr < B(0.0);
        Xr = select(negative, xr + rr, xr - rr);
        Xi = select(negative, xi + ri, xi - ri);
    }

    /// The chunk's amplitudes live in chunk.re/chunk.im while the lamellae are crossed one after
    /// another: the vectors of one lamella are independent of each other, which keeps the
    /// processor's pipelines full, and each lamella's coefficients are loaded once. A lane that
    /// needs the scalar arithmetic becomes NaN, and stays NaN through the later lamellae.
    static void run(const LayeredJob& job, const LayeredChunk& chunk) {
        if (job.full) {
            runFull(job, chunk);
            return;
        }
        const int blocks = (chunk.count + kWidth - 1) / kWidth;
        const B lane = iota();
        const B nan(__builtin_nan(""));
        {
            const Slab c(job, 0);
            for (int blk = 0; blk < blocks; ++blk) {
                const B p = B(chunk.first + blk * kWidth) + lane;
                M bad(false);
                B Xr, Xi;
                substrate(fma(p, c.xr1, c.xr0), fma(p, c.xi1, c.xi0), Xr, Xi, bad);
                store(select(bad, nan, Xr), chunk.re + blk * kWidth);
                store(select(bad, nan, Xi), chunk.im + blk * kWidth);
            }
        }
        const bool dynamicalTheory = job.theory == kTheoryDynamical;
        if (!dynamicalTheory && job.theory != kTheoryKinematical) return;
        for (int s = 1; s <= job.lamellae; ++s) {
            const Slab c(job, s);
            for (int blk = 0; blk < blocks; ++blk) {
                const B p = B(chunk.first + blk * kWidth) + lane;
                double* re = chunk.re + blk * kWidth;
                double* im = chunk.im + blk * kWidth;
                B Xr = load(re);
                B Xi = load(im);
                M bad(false);
                if (dynamicalTheory) {
                    dynamical(c, p, Xr, Xi, bad);
                } else {
                    kinematical(c, p, Xr, Xi, bad);
                }
                store(select(bad, nan, Xr), re);
                store(select(bad, nan, Xi), im);
            }
        }
    }

    /// Takagi–Taupin solution through slab s, in the overflow-free form of the scalar step:
    /// X' = x + r·(N1 + N2)/(N1 − N2), N1 = (X − x + r)·exp(−S), N2 = (X − x − r)·exp(S),
    /// S = i·T·r, both N divided by the larger of exp(±S).
    [[gnu::always_inline]] static void dynamical(const Slab& c, B p, B& Xr, B& Xi, M& bad) {
        dynamicalStep(fma(p, c.xr1, c.xr0), fma(p, c.xi1, c.xi0), c.tr, c.ti, Xr, Xi, bad);
    }

    /// The same step for x = xr + i·xi and T = Tr + i·Ti.
    [[gnu::always_inline]] static void dynamicalStep(B xr, B xi, const B& Tr, const B& Ti, B& Xr,
                                                     B& Xi, M& bad) {
        B rr, ri;
        principalSqrt(fms(xr, xr, xi * xi) - B(1.0), (xr + xr) * xi, rr, ri, bad);
        // T·r = a + i·b, so S = −b + i·a; exp(S) grows when −b ≥ 0.
        const B a = fms(Tr, rr, Ti * ri);
        const B b = fma(Tr, ri, Ti * rr);
        const M growing = b <= B(0.0);
        // The decaying exponential exp(∓2S): modulus exp(−2|b|), phase ∓2a.
        const B modulus = expNonPositive(B(-2.0) * abs(b));
        const B phase = select(growing, B(-2.0) * a, B(2.0) * a);
        B cosine, sine;
        cosSin(safePhase(phase, modulus, bad), cosine, sine);
        const B dr = modulus * cosine;
        const B di = modulus * sine;
        const B wr = Xr - xr;
        const B wi = Xi - xi;
        B n1r = wr + rr;
        B n1i = wi + ri;
        B n2r = wr - rr;
        B n2i = wi - ri;
        // Only the N with the growing exponential is multiplied by the decay.
        const B mr0 = select(growing, n1r, n2r);
        const B mi0 = select(growing, n1i, n2i);
        const B mr = fms(mr0, dr, mi0 * di);
        const B mi = fma(mr0, di, mi0 * dr);
        n1r = select(growing, mr, n1r);
        n1i = select(growing, mi, n1i);
        n2r = select(growing, n2r, mr);
        n2i = select(growing, n2i, mi);
        const B sr = n1r + n2r;
        const B si = n1i + n2i;
        const B numr = fms(rr, sr, ri * si);
        const B numi = fma(rr, si, ri * sr);
        B qr, qi;
        divide(numr, numi, n1r - n2r, n1i - n2i, qr, qi, bad);
        Xr = xr + qr;
        Xi = xi + qi;
    }

    /// Kinematical step through slab s: X' = X·e + (1 − e)/(2x), e = exp(−2i·x·T).
    [[gnu::always_inline]] static void kinematical(const Slab& c, B p, B& Xr, B& Xi, M& bad) {
        const B xr = fma(p, c.xr1, c.xr0);
        const B xi = fma(p, c.xi1, c.xi0);
        // x = 0 takes the limit X + i·T.
        bad = bad | ((xr == B(0.0)) & (xi == B(0.0)));
        const B u = fma(p, c.u1, c.u0);
        // e = exp(2·Im(x·T))·(cos(−2·Re(x·T)) + i·sin(−2·Re(x·T))).
        B modulus = c.attenuation;
        if (!c.constantAttenuation) {
            // An attenuation that varies over the scan; a gain (never met with absorption) is
            // left to the scalar arithmetic.
            const B twoV = B(2.0) * fma(p, c.v1, c.v0);
            bad = bad | (twoV > B(0.0));
            modulus = expNonPositive(twoV);
        }
        kinematicalStep(xr, xi, u, modulus, Xr, Xi, bad);
    }

    /// The same step for x = xr + i·xi, Re(x·T) = u and exp(2·Im(x·T)) = modulus.
    [[gnu::always_inline]] static void kinematicalStep(B xr, B xi, B u, B modulus, B& Xr, B& Xi,
                                                       M& bad) {
        B cosine, sine;
        cosSin(safePhase(B(-2.0) * u, modulus, bad), cosine, sine);
        const B er = modulus * cosine;
        const B ei = modulus * sine;
        B qr, qi;
        divide(B(1.0) - er, -ei, xr + xr, xi + xi, qr, qi, bad);
        const B nr = fms(Xr, er, Xi * ei) + qr;
        const B ni = fma(Xr, ei, Xi * er) + qi;
        Xr = nr;
        Xi = ni;
    }

    /// x, T = A·(1 + i·κ), √(γ0·G) and q = 1/√(γ0·G) of a slab of the full calculation at incidence
    /// cos ω, sin ω (see FullSlabConstants); a diffracted beam that would run into the crystal (G ≤
    /// 0) or an incident one that would not reach it is marked in `bad`.
    struct FullSlab {
        B hx2, hz2, hz, hh, chi0r, chi0i, scale, kappa, damping, thick;
        /// The kinematical step's terms that do not depend on the angle: g′ = hz·Im χ0·scale,
        /// 2/(1 + κ²), 2κ/(1 + κ²), and w = wr0 + i·wi0 at η′ = 0.
        B g, twoDamping, twoKappaDamping, wr0, wi0;
        /// t·g′ > 0: the slab would amplify (never met with absorption).
        bool gain;
        FullSlab(const LayeredJob& job, int s)
            : hx2(2 * job.hx[s]),
              hz2(2 * job.hz[s]),
              hz(job.hz[s]),
              hh(job.hh[s]),
              chi0r(job.chi0r[s]),
              chi0i(job.chi0i[s]),
              scale(job.scale[s]),
              kappa(job.kappa[s]),
              damping(job.damping[s]),
              thick(job.thick[s]),
              g(job.hz[s] * job.chi0i[s] * job.scale[s]),
              twoDamping(2 * job.damping[s]),
              twoKappaDamping(2 * job.kappa[s] * job.damping[s]),
              wr0(2 * job.hz[s] * job.chi0i[s] * job.scale[s] * job.kappa[s] * job.damping[s]),
              wi0(2 * job.hz[s] * job.chi0i[s] * job.scale[s] * job.damping[s]),
              gain(job.thick[s] * (job.hz[s] * job.chi0i[s] * job.scale[s]) > 0) {}
    };

    [[gnu::always_inline]] static void fullSlabAt(const FullSlab& f, B cosOmega, B sinOmega, B& xr,
                                                  B& xi, B& A, B& root, B& q, M& bad) {
        const B G = f.hz - sinOmega;
        bad = bad | !(G > B(0.0)) | !(sinOmega > B(0.0));
        // α = hh + 2·(hx·cos ω − hz·sin ω), exactly; the sum G + γ0 is hz.
        const B alpha = fma(f.hx2, cosOmega, fnma(f.hz2, sinOmega, f.hh));
        root = sqrt(sinOmega * G);
        q = B(1.0) / root;
        const B scale = q * f.scale;
        const B eta = fms(f.hz, f.chi0r, sinOmega * alpha) * scale;
        const B g = f.hz * f.chi0i * scale;
        xr = fma(g, f.kappa, eta) * f.damping;
        xi = fnma(eta, f.kappa, g) * f.damping;
        A = f.thick * q;
    }

    /// The full calculation: every slab's x and T formed at each point from cos ω and sin ω;
    /// the reduced X is rescaled by √(G_below/G) at each interface, where the wave amplitudes
    /// are continuous.
    static void runFull(const LayeredJob& job, const LayeredChunk& chunk) {
        const int blocks = (chunk.count + kWidth - 1) / kWidth;
        const B nan(__builtin_nan(""));
        const bool dynamicalTheory = job.theory == kTheoryDynamical;
        const bool kinematicalTheory = job.theory == kTheoryKinematical;
        {
            const FullSlab f(job, 0);
            for (int blk = 0; blk < blocks; ++blk) {
                const int at = blk * kWidth;
                M bad(false);
                B xr, xi, A, root, q;
                fullSlabAt(f, load(chunk.cosOmega + at), load(chunk.sinOmega + at), xr, xi, A, root,
                           q, bad);
                B Xr, Xi;
                substrate(xr, xi, Xr, Xi, bad);
                if (kinematicalTheory) {
                    // The kinematical steps carry Y = q·X, continuous across interfaces.
                    Xr = Xr * q;
                    Xi = Xi * q;
                    store(root * root, chunk.scratch + at);
                } else {
                    store(q, chunk.scratch + at);
                }
                store(select(bad, nan, Xr), chunk.re + at);
                store(select(bad, nan, Xi), chunk.im + at);
            }
        }
        if (!dynamicalTheory && !kinematicalTheory) return;
        for (int s = 1; s <= job.lamellae; ++s) {
            const FullSlab f(job, s);
            for (int blk = 0; blk < blocks; ++blk) {
                const int at = blk * kWidth;
                M bad(false);
                const B cosOmega = load(chunk.cosOmega + at);
                const B sinOmega = load(chunk.sinOmega + at);
                B Xr = load(chunk.re + at);
                B Xi = load(chunk.im + at);
                if (dynamicalTheory) {
                    B xr, xi, A, root, q;
                    fullSlabAt(f, cosOmega, sinOmega, xr, xi, A, root, q, bad);
                    // q of the slab below over this slab's q.
                    const B rescale = root * load(chunk.scratch + at);
                    Xr = Xr * rescale;
                    Xi = Xi * rescale;
                    dynamicalStep(xr, xi, A, A * f.kappa, Xr, Xi, bad);
                    store(q, chunk.scratch + at);
                } else {
                    if (f.gain) bad = M(true);
                    const B d = kinematicalFullStep(f, cosOmega, sinOmega, Xr, Xi, bad);
                    store(d, chunk.scratch + at);
                }
                store(select(bad, nan, Xr), chunk.re + at);
                store(select(bad, nan, Xi), chunk.im + at);
            }
        }
        if (kinematicalTheory) {
            // X = Y/q of the surface slab, q = 1/√(γ0·G).
            for (int blk = 0; blk < blocks; ++blk) {
                const int at = blk * kWidth;
                const B root = sqrt(load(chunk.scratch + at));
                store(load(chunk.re + at) * root, chunk.re + at);
                store(load(chunk.im + at) * root, chunk.im + at);
            }
        }
    }

    /// The kinematical step of the full calculation on Y = q·X, q = 1/√(γ0·G): with x = q·z and
    /// T = q·t·(1 + i·κ), Y' = Y·e + (1 − e)/(2z), e = exp(−2i·q²·t·(η′ + i·g′)), where z and
    /// η′ + i·g′ = z·(1 + i·κ) do not depend on q; so one division serves both q² and 1/(2z) and
    /// no square root is needed. Returns γ0·G of the slab (for the final X = Y·√(γ0·G)).
    [[gnu::always_inline]] static B kinematicalFullStep(const FullSlab& f, B cosOmega, B sinOmega,
                                                        B& Yr, B& Yi, M& bad) {
        const B G = f.hz - sinOmega;
        const B d = sinOmega * G;
        // sin ω ≤ 0 has made the lane NaN at the substrate already.
        bad = bad | !(G > B(0.0));
        const B alpha = fma(f.hx2, cosOmega, fnma(f.hz2, sinOmega, f.hh));
        const B eta = fms(f.hz, f.chi0r, sinOmega * alpha) * f.scale;
        // w = 2·z = 2·(η′ + i·g′)/(1 + i·κ), g′ the same at every angle.
        const B wr = fma(eta, f.twoDamping, f.wr0);
        const B wi = fnma(eta, f.twoKappaDamping, f.wi0);
        const B w2 = fma(wr, wr, wi * wi);
        const B product = d * w2;
        bad = bad | !((product > B(1e-290)) & (product < B(1e290)));
        const B inv = B(1.0) / product;
        const B q2t = inv * w2 * f.thick;
        const B u = q2t * eta;
        // Im of the exponent has the sign of t·g′ (d > 0): a gain is the whole slab's, marked
        // once in `f.gain`.
        const B v = q2t * f.g;
        const B modulus = expAttenuation(B(2.0) * v);
        B cosine, sine;
        cosSin(safePhase(B(-2.0) * u, modulus, bad), cosine, sine);
        const B er = modulus * cosine;
        const B ei = modulus * sine;
        // (1 − e)/(2z) = (1 − e)·conj(w)/|w|², 1/|w|² = d/(d·|w|²).
        const B scale = inv * d;
        const B ar = B(1.0) - er;
        const B ai = -ei;
        const B qr = fma(ar, wr, ai * wi) * scale;
        const B qi = fms(ai, wr, ar * wi) * scale;
        const B nr = fms(Yr, er, Yi * ei) + qr;
        const B ni = fma(Yr, ei, Yi * er) + qi;
        Yr = nr;
        Yi = ni;
        return d;
    }
};

}  // namespace
}  // namespace kelvarin::simd
