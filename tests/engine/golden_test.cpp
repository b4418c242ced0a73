// Reference curves kept in tests/data/golden: the perfect crystal of several reflections and a
// strained stack in both theories, computed with the reference arithmetic. A curve that moves
// writes the new one beside the build and says how to make it the reference.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "engine/layered.hpp"
#include "engine/sample.hpp"

namespace kelvarin {
namespace {

struct Golden {
    const char* name;
    const char* crystal;
    int h, k, l;
    bool layered;  ///< a strained 2Gauss stack of 12 lamellae, else the perfect crystal
    Theory theory;
};

std::vector<double> curveOf(const Golden& g, const ScanGrid& grid) {
    const Setup setup =
        buildSetup(Crystal::fromCatalogue(g.crystal),
                   Reflection{static_cast<Extended>(g.h), static_cast<Extended>(g.k),
                              static_cast<Extended>(g.l), Radiation{4, 0}});
    std::vector<double> out;
    if (!g.layered) {
        for (int p = 0; p < grid.points; ++p)
            out.push_back(static_cast<double>(perfectCrystalReflectivity(setup, grid.angle(p))));
        return out;
    }
    EngineState state;
    storeSetup(setup, state);
    StrainProfile profile;
    strainProfile(CandidateRow{0, 0.008f, 400, 150, 300, 0}, kModelTwoGauss, 12, profile);
    LayerStack stack;
    layerStack(profile, state, stack);
    LayeredConstants constants;
    prepareLayered(state, stack, constants);
    auto curve = std::make_unique<ComputedCurve>();
    layeredCurve(constants, g.theory, grid, *curve, LayeredPath::Reference);
    for (int p = 0; p < grid.points; ++p)
        out.push_back(static_cast<double>(curve->calcRaw[static_cast<std::size_t>(p)]));
    return out;
}

std::string text(const ScanGrid& grid, const std::vector<double>& r) {
    std::ostringstream out;
    out.precision(17);
    for (int p = 0; p < grid.points; ++p)
        out << grid.angle(p) << ' ' << r[static_cast<std::size_t>(p)] << '\n';
    return out.str();
}

TEST(GoldenCurves, StayWhereTheyWere) {
    const Golden cases[] = {
        {"gaas_004_perfect", "GaAs", 0, 0, 4, false, Theory::Dynamical},
        {"si_1_1_-5_perfect", "Si", 1, 1, -5, false, Theory::Dynamical},
        {"gaas_1_1_-3_perfect", "GaAs", 1, 1, -3, false, Theory::Dynamical},
        {"inp_1_1_-5_perfect", "InP", 1, 1, -5, false, Theory::Dynamical},
        {"gaas_004_2gauss_dynamical", "GaAs", 0, 0, 4, true, Theory::Dynamical},
        {"gaas_004_2gauss_kinematical", "GaAs", 0, 0, 4, true, Theory::Kinematical},
        {"si_224_2gauss_dynamical", "Si", 2, 2, 4, true, Theory::Dynamical},
    };
    const ScanGrid grid{-1500, 7.5, 241};
    const std::filesystem::path folder =
        std::filesystem::path(KELVARIN_SOURCE_DIR) / "tests" / "data" / "golden";
    for (const Golden& g : cases) {
        const std::vector<double> now = curveOf(g, grid);
        const std::filesystem::path reference = folder / (std::string(g.name) + ".txt");
        std::ifstream in(reference);
        std::vector<double> kept;
        double angle = 0, r = 0;
        while (in >> angle >> r)
            kept.push_back(r);
        bool same = kept.size() == now.size();
        for (std::size_t i = 0; same && i < now.size(); ++i)
            same = std::fabs(now[i] - kept[i]) <= 1e-12 * std::fabs(kept[i]) + 1e-300;
        if (!same) {
            const std::filesystem::path fresh =
                std::filesystem::current_path() / (std::string(g.name) + ".txt");
            std::ofstream(fresh) << text(grid, now);
            ADD_FAILURE() << g.name << " differs from " << reference.string()
                          << ". The new curve is " << fresh.string()
                          << "; if the change is meant, promote it with: cp " << fresh.string()
                          << ' ' << reference.string();
        }
    }
}

}  // namespace
}  // namespace kelvarin
