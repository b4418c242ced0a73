// Crystal set-ups for engine tests: a zinc-blende or diamond cell with its catalogue
// coefficients, a reflection, a radiation and a scan, as the Start run would leave them.
#pragma once

#include <string>

#include "engine/sample.hpp"
#include "engine/scattering.hpp"
#include "engine/state.hpp"

namespace kelvarin::testing {

/// Diamond / zinc-blende positions: site 1 on the fcc lattice, site 2 shifted by (¼, ¼, ¼).
inline SitePositions zincBlendePositions() {
    SitePositions p{};
    const double fcc[4][3] = {{0, 0, 0}, {0, 0.5, 0.5}, {0.5, 0, 0.5}, {0.5, 0.5, 0}};
    for (int n = 0; n < 4; ++n) {
        for (int c = 0; c < 3; ++c) {
            p[0][n][c] = fcc[n][c];
            p[1][n][c] = fcc[n][c] + 0.25;
        }
    }
    return p;
}

/// A cubic crystal `name` (lattice constant a, Å) at reflection (h k l) with tube line
/// `radiation` (4 = Cu Kα1), scanning start..end in `step` arcsec.
inline void setUpCrystal(EngineState& s, const std::string& name, Extended a, int h, int k, int l,
                         int radiation = 4, int start = -2000, int end = 600, int step = 2) {
    Crystal crystal;
    crystal.name = name;
    crystal.a = crystal.b = crystal.c = a;
    crystal.sites = zincBlendePositions();
    storeSetup(buildSetup(crystal, Reflection{static_cast<Extended>(h), static_cast<Extended>(k),
                                              static_cast<Extended>(l), Radiation{radiation, 0}}),
               s);
    s.curveStore.scanStart = start;
    s.curveStore.scanEnd = end;
    s.curveStore.scanStep = step;
}

/// Si 0 0 4 with Cu Kα1 (a = 5.4309 Å).
inline void setUpSilicon004(EngineState& s, int start = -2000, int end = 600, int step = 2) {
    setUpCrystal(s, "Si", 5.4309L, 0, 0, 4, 4, start, end, step);
}

/// A 2Gauss candidate row: w, τ, ρ, σ1, σ2.
inline CandidateRow twoGaussRow(float w, float tau, float ro, float sigma1, float sigma2) {
    return CandidateRow{w, tau, ro, sigma1, sigma2, 0.0f};
}

}  // namespace kelvarin::testing
