// Projects with crystals of their own: bad input named by file, line and key; a layer whose
// composition is fitted on a real GaAsP scan; a strain-and-damage fit of a YSZ substrate.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>

#include "engine/io/rocking_curve.hpp"
#include "fit/differential_evolution.hpp"
#include "fit/project_curves.hpp"
#include "fit/project_file.hpp"

namespace kelvarin::fit {
namespace {

const std::string kDataset =
    "\n[[dataset]]\nscan = [-2000, 4000, 10]\nhkl = [0, 0, 4]\nradiation = \"Cua1\"\n";

TEST(MaterialsProject, BadCrystalsAndLayersAreRefusedNamingLineAndKey) {
    struct Case {
        const char* sample;
        const char* message;
    };
    const std::vector<Case> cases = {
        {"substrate = \"Unobtainium\"", "line 2: key 'sample.substrate' names no crystal"},
        {"[[sample.layer]]\nthickness = 100\nmaterial = \"AlQqAs\"",
         "line 4: key 'sample.layer.material' names no usable crystal: The formula 'AlQqAs' holds "
         "'Qq'"},
        {"[[sample.layer]]\nthickness = 100\nmaterial = \"Al0.8Ga0.3As\"", "do not fill the sites"},
        {"[[sample.layer]]\nthickness = 100\nmaterial = \"GaAs1-xPx\"", "give 'x' too"},
        {"[[sample.layer]]\nthickness = 100\nmaterial = \"GaAs1-xPx\"\nx = 1.5",
         "key 'sample.layer.x' must lie between 0 and 1"},
        {"[[sample.layer]]\nthickness = 100\nx = 0.5", "'x' without a 'material'"},
        {"[[sample.layer]]\nthickness = 100\nmaterial = \"GaAs\"\nx = 0.5",
         "line 5: key 'sample.layer.x' has no composition to set"},
        {"[[sample.layer]]\nthickness = 100\nmaterial = \"AlAs\"\nrelaxation = 2",
         "must lie between 0 (pseudomorphic) and 1"},
        {"[[sample.layer]]\nthickness = 100\nmaterial = \"AlAs\"\nrelaxation = 0\nstrain = 0.1",
         "cannot stand beside 'strain'"},
        {"[[sample.layer]]\nthickness = 100\nmaterial = \"CdSe\"", "no elastic constants"},
        {"crystals = \"no-such-file.toml\"", "crystal catalogue 'no-such-file.toml' has errors"},
    };
    for (const Case& c : cases) {
        const std::string text = "[sample]\n" + std::string(c.sample) + "\n" + kDataset;
        try {
            parseProject(text, "p.toml");
            ADD_FAILURE() << c.sample << " was accepted";
        } catch (const ProjectError& e) {
            EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
            EXPECT_EQ(std::string(e.what()).rfind("p.toml", 0), 0u) << e.what();
        }
    }
}

TEST(MaterialsProject, LayersKeepTheirCrystalsThroughTheProjectText) {
    const std::string text =
        "[sample]\nsubstrate = \"GaAs\"\n\n[[sample.layer]]\nthickness = 300\nmaterial = "
        "\"GaAs1-xPx\"\nx = { value = 0.3, min = 0.1, max = 0.5 }\n\n[[sample.layer]]\nthickness "
        "= 2000\nmaterial = \"Al0.8Ga0.2As\"\nrelaxation = 0.5\n" +
        kDataset;
    const Project p = parseProject(text, "p.toml");
    ASSERT_EQ(p.layerMaterials.size(), 2u);
    const Project again = parseProject(projectText(p), "again.toml");
    EXPECT_EQ(projectText(again), projectText(p));
    EXPECT_EQ(again.layerMaterials[0].material, "GaAs1-xPx");
    EXPECT_TRUE(again.layerMaterials[0].x->free);
    EXPECT_EQ(again.layerMaterials[1].relaxation, 0.5);
    // The GaAsP layer (smaller cell) reflects above the substrate, the AlGaAs one below.
    const auto curves = projectCurves(p);
    ASSERT_EQ(curves.size(), 1u);
    const auto& c = curves[0];
    const auto peakIn = [&](double from, double to) {
        double best = 0, at = 0;
        for (std::size_t i = 0; i < c.angle.size(); ++i)
            if (c.angle[i] > from && c.angle[i] < to && c.reflectivity[i] > best) {
                best = static_cast<double>(c.reflectivity[i]);
                at = c.angle[i];
            }
        return at;
    };
    EXPECT_GT(peakIn(1500, 4000), 2000);
    EXPECT_LT(peakIn(-1500, -150), -180);
}

TEST(MaterialsProject, CurvesWithoutAFitTakeTheWholeModelDamageAndBoxesIncluded) {
    // A model's damage factors and depth used to be dropped (the windows' form was computed),
    // and the boxes were refused.
    const auto peak = [](const std::string& profile) {
        const Project p = parseProject(
            "[sample]\nsubstrate = \"GaAs\"\n[profile]\n" + profile + kDataset, "p.toml");
        const ProjectCurve c = projectCurves(p).front();
        double top = 0;
        for (std::size_t i = 0; i < c.angle.size(); ++i)
            if (c.angle[i] < -300) top = std::max(top, static_cast<double>(c.reflectivity[i]));
        return top;
    };
    const std::string gauss =
        "model = \"2gauss\"\ntau = 0.01\nro = 300\nsigma1 = 150\nsigma2 = 250\n";
    const double perfect = peak(gauss);
    EXPECT_LT(peak(gauss + "damage = \"proportional\"\ndamage_max = 0.3\n"), 0.5 * perfect);
    EXPECT_GT(peak(gauss + "depth_ratio = 8\n"), 0);
    EXPECT_GT(peak("model = \"boxes\"\nboxes = 1\nbox1_thickness = 2000\nbox1_strain = 0.5\n"),
              0.01);
}

/// Writes a measured rocking curve as whole-second offsets and counts; a curve on another grid
/// is interpolated onto steps of `step` seconds of arc; the counts are multiplied by `scale`.
std::string writeCurve(const RockingCurve& rc, const std::string& name, double step,
                       double scale = 1) {
    const auto dir = std::filesystem::temp_directory_path() / "kelvarin_materials_test";
    std::filesystem::create_directories(dir);
    const auto path = dir / name;
    std::ofstream out(path);
    std::size_t j = 0;
    for (double t = std::ceil(rc.offset.front() / step) * step; t <= rc.offset.back(); t += step) {
        while (j + 2 < rc.offset.size() && rc.offset[j + 1] < t)
            ++j;
        double f = (t - rc.offset[j]) / (rc.offset[j + 1] - rc.offset[j]);
        if (std::fabs(f) < 1e-6) f = 0;  // on a measured point: its counts, not a rounding
        if (std::fabs(f - 1) < 1e-6) f = 1;
        out << t << ' ' << scale * (rc.counts[j] + f * (rc.counts[j + 1] - rc.counts[j])) << '\n';
    }
    return path.string();
}

/// Differential evolution (its settings from the project's [fit]) on the project `text`, written
/// beside the measured file `data`; returns the problem's parameter names and the best values.
std::vector<std::pair<std::string, double>> fitWithDe(const std::string& text,
                                                      const std::string& data, double& error) {
    const std::string projectPath =
        (std::filesystem::path(data).parent_path() / "project.toml").string();
    std::ofstream(projectPath) << text;
    const Project p = loadProject(projectPath);
    auto problem = buildProblem(p);
    problem->setSinglePrecision(false);
    DeOptions de;
    de.population = p.fit.population;
    de.maxGenerations = p.fit.generations;
    de.seed = p.fit.seed;
    de.threads = 2;
    const DeResult r = runDifferentialEvolution(*problem, de);
    EXPECT_TRUE(r.summary.usable());
    error = r.summary.bestError;
    std::vector<std::pair<std::string, double>> out;
    for (int i = 0; i < problem->parameters().size() && r.summary.usable(); ++i)
        out.emplace_back(problem->parameters()[i].name,
                         static_cast<double>(r.summary.best[static_cast<std::size_t>(i)]));
    return out;
}

std::string shared(const char* file) {
    return std::string(KELVARIN_SHARED_DIR) + "/peers/data/" + file;
}

TEST(MaterialsProject, GaAsPLayerFitFindsTheCompositionAndThicknessOfItsSource) {
#ifdef KELVARIN_SANITIZED
    GTEST_SKIP() << "whole fits are too slow under the sanitizers";
#endif
    const std::string scanFile = shared("micronovaxrd_GaAsP_on_GaAs_004.x00");
    if (!std::filesystem::exists(scanFile)) GTEST_SKIP() << scanFile << " is absent";
    const Scan scan = readScan(scanFile);
    const std::string data =
        writeCurve(toRockingCurve(scan, ZeroChoice{}, std::nullopt), "gaasp.dat", 9);
    const std::string text =
        "[sample]\nsubstrate = \"GaAs\"\n[[sample.layer]]\nmaterial = \"GaAs1-xPx\"\n"
        "x = { value = 0.3, min = 0.2, max = 0.5 }\n[profile]\nmodel = \"boxes\"\nboxes = 1\n"
        "box1_thickness = { value = 500, min = 200, max = 1000 }\nbox1_strain = 0\n"
        "[[dataset]]\nfile = \"gaasp.dat\"\nhkl = [0, 0, 4]\nradiation = \"Cua1\"\n"
        "width = { value = 20, min = 5, max = 60 }\nscaling = \"lsm-scale-and-background\"\n"
        "[fit]\noptimizer = \"de\"\npopulation = 30\ngenerations = 200\nseed = 7\n";
    double error = 0, x = 0, thickness = 0;
    for (const auto& [name, value] : fitWithDe(text, data, error)) {
        if (name == "layer1_x") x = value;
        if (name == "box1_thickness") thickness = value;
    }
    // Its source reports x = 0.3626 and 535 Å.
    EXPECT_NEAR(x, 0.3626, 0.005);
    EXPECT_NEAR(thickness, 535, 30);
}

TEST(MaterialsProject, YszSubstrateStrainAndDamageFitRuns) {
#ifdef KELVARIN_SANITIZED
    GTEST_SKIP() << "whole fits are too slow under the sanitizers";
#endif
    const std::string scanFile = shared("radmax_YSZ_400_irradiated.txt");
    if (!std::filesystem::exists(scanFile)) GTEST_SKIP() << scanFile << " is absent";
    ScanReadOptions options;
    options.axis = ScanAxis::TwoTheta;
    options.unit = AngleUnit::Degrees;
    const Scan scan = readScan(scanFile, options);
    const std::string data =
        // Normalised intensities (0.02 at the tails) as counts of a 100 times longer count.
        writeCurve(toRockingCurve(scan, ZeroChoice{}, std::nullopt), "ysz.dat", 4, 100);
    const std::string text =
        "[sample]\nsubstrate = \"YSZ\"\n[profile]\nmodel = \"bspline\"\nweights = 6\n"
        "damage = \"proportional\"\nlamella_thickness = 40\n"
        "depth = { value = 2500, min = 800, max = 4000 }\n"
        "[[dataset]]\nfile = \"ysz.dat\"\nhkl = [0, 0, 4]\nradiation = \"Cua1\"\n"
        "width = { value = 30, min = 5, max = 60 }\nscaling = \"lsm-scale-and-background\"\n"
        "[fit]\noptimizer = \"de\"\npopulation = 20\ngenerations = 40\nseed = 3\n";
    double error = 0;
    fitWithDe(text, data, error);
    EXPECT_LT(error, 40);
}

}  // namespace
}  // namespace kelvarin::fit
