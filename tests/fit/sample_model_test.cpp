// Strain models that fill a sample with damage: the B-spline against an independent Cox–de Boor
// evaluation, the double half-Gaussian and Pearson VII against the windows' profiles, the damage
// models' physics, and the refusal of values and project keys no sample can have.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <vector>

#include "engine/engine_error.hpp"
#include "fit/bspline.hpp"
#include "fit/project_file.hpp"
#include "fit/project_refusals.hpp"
#include "fit/sample_profile_model.hpp"

namespace kelvarin::fit {
namespace {

/// Cubic B-spline basis function j on the clamped uniform knots of m control points at x, by the
/// Cox–de Boor recursion (not the de Boor blending the program uses).
double basis(int j, int degree, int m, double x) {
    const int spans = m - 3;
    const auto knot = [spans](int i) { return std::clamp(i - 3, 0, spans) / double(spans); };
    if (degree == 0) {
        const bool last = x >= 1 && knot(j + 1) >= 1 && knot(j) < 1;
        return (knot(j) <= x && x < knot(j + 1)) || last ? 1 : 0;
    }
    double v = 0;
    if (knot(j + degree) > knot(j))
        v += (x - knot(j)) / (knot(j + degree) - knot(j)) * basis(j, degree - 1, m, x);
    if (knot(j + degree + 1) > knot(j + 1))
        v += (knot(j + degree + 1) - x) / (knot(j + degree + 1) - knot(j + 1)) *
             basis(j + 1, degree - 1, m, x);
    return v;
}

TEST(BSpline, AgreesWithTheCoxDeBoorSumAndKeepsItsEndsAndBounds) {
    const std::vector<std::vector<double>> controls = {{1, 2, 3, 4},
                                                       {0.9, 0.5, 1.2, 1.1, 0.6, 0.2, 0},
                                                       {3, 3, 3, 3, 3},
                                                       {-1, 4, 0, 2, 7, 1, 1, 5}};
    for (const auto& c : controls) {
        const int m = static_cast<int>(c.size());
        for (double x = 0; x <= 1.0001; x += 0.01) {
            double expected = 0;
            for (int j = 0; j < m; ++j)
                expected += c[static_cast<std::size_t>(j)] * basis(j, 3, m, std::min(x, 1.0));
            const double got = clampedCubicBSpline(c, x);
            EXPECT_NEAR(got, expected, 1e-12) << m << " at " << x;
            EXPECT_GE(got, *std::min_element(c.begin(), c.end()) - 1e-12);
            EXPECT_LE(got, *std::max_element(c.begin(), c.end()) + 1e-12);
        }
        EXPECT_DOUBLE_EQ(clampedCubicBSpline(c, 0), c.front());
        EXPECT_DOUBLE_EQ(clampedCubicBSpline(c, 1), c.back());
    }
}

Sample filled(const ProfileSettings& settings, std::vector<Extended> values) {
    SampleProfileModel model(settings);
    EXPECT_EQ(model.declare().size(), values.size());
    Sample s;
    model.fillSample(values, s);
    return s;
}

TEST(SampleProfileModel, KeepsTheWindowsFormsAtTheirDefaultDepthAndThickness) {
    struct Case {
        ProfileKind kind;
        ProfileKind windowsModel;
        CandidateRow row;
    };
    const Case cases[] = {
        {ProfileKind::TwoGauss, kModelTwoGauss, {0, 0.006f, 200, 100, 150, 0}},
        {ProfileKind::PearsonVII, kModelPearsonVII, {0, 300, 1.5f, 200, 1.7f, 0}}};
    for (const Case& c : cases) {
        StrainProfile windows;
        strainProfile(c.row, c.windowsModel, 12, windows);
        const Extended extra = c.kind == ProfileKind::TwoGauss ? 5 : kPearsonThickness;
        const Sample s =
            filled({c.kind, DamageKind::None, 12}, {c.row[1], c.row[2], c.row[3], c.row[4], extra});
        const Sample expected = sampleOf(windows);
        ASSERT_EQ(s.lamellae.size(), expected.lamellae.size());
        for (std::size_t i = 0; i < s.lamellae.size(); ++i) {
            EXPECT_NEAR(s.lamellae[i].strain, expected.lamellae[i].strain,
                        1e-5 * std::abs(expected.lamellae[i].strain))
                << i;
            EXPECT_NEAR(s.lamellae[i].thicknessAngstrom, expected.lamellae[i].thicknessAngstrom,
                        1e-9);
        }
    }
    // A deeper stack spreads the same lamellae over more depth.
    const Sample deep = filled({ProfileKind::TwoGauss, DamageKind::None, 12, 10, 8, 20, true},
                               {0.006L, 200, 100, 150, 8});
    EXPECT_NEAR(deep.lamellae[0].thicknessAngstrom, 8 * 200 / 12.0, 1e-9);
}

TEST(SampleProfileModel, BSplineDepthIsCutIntoThinLamellaeWithDamageFromItsOwnWeights) {
    ProfileSettings settings{ProfileKind::BSpline, DamageKind::BSpline, 16, 4, 4, 20};
    const Sample s = filled(settings, {1510, 1.0L, 1.2L, 0.5L, 0.1L, 0.3L, 0.5L, 0.7L, 0.9L});
    ASSERT_EQ(s.lamellae.size(), 76u);  // ceil(1510 / 20)
    double depth = 0;
    for (const Lamella& l : s.lamellae) {
        depth += l.thicknessAngstrom;
        EXPECT_GT(l.damage, 0.3 - 1e-9);
        EXPECT_LE(l.damage, 1);
    }
    EXPECT_NEAR(depth, 1510, 1e-9);
    EXPECT_NEAR(s.lamellae.front().strain, 0.01, 1e-3);   // the first weight, in %
    EXPECT_LT(std::abs(s.lamellae.back().strain), 1e-4);  // 0 at the depth
    EXPECT_NEAR(s.lamellae.back().damage, 1, 0.05);       // perfect below the depth
    EXPECT_NEAR(s.lamellae.front().damage, 0.3, 0.02);    // damage1 is at the surface too

    // Proportional: the factor at the strain maximum, 1 where the lattice is unstrained, and
    // L_H = −ln f in proportion to the strain in between.
    const Sample p = filled({ProfileKind::TwoGauss, DamageKind::Proportional, 30},
                            {0.01L, 300, 100, 200, 5, 0.25L});
    double peak = 0;
    for (const Lamella& l : p.lamellae)
        peak = std::max(peak, l.strain);
    for (const Lamella& l : p.lamellae)
        EXPECT_NEAR(std::log(l.damage), std::log(0.25) * l.strain / peak, 1e-12);
}

TEST(SampleProfileModel, RejectsValuesNoSampleCanHaveNamingTheParameter) {
    struct Case {
        ProfileSettings settings;
        std::vector<Extended> values;
        const char* name;
    };
    const ProfileSettings spline{ProfileKind::BSpline, DamageKind::BSpline, 16, 4, 4, 20};
    const ProfileSettings gauss{ProfileKind::TwoGauss, DamageKind::Proportional, 16};
    const ProfileSettings boxes{ProfileKind::Boxes, DamageKind::None, 16, 10, 8, 20, false, 2};
    const Case cases[] = {
        {spline, {1000, 1, 1, -100, 1, 0.5, 0.5, 0.5, 0.5}, "strain3"},
        {spline, {1000, 1, 1, 1, 1, 0.5, 0, 0.5, 0.5}, "damage2"},
        {spline, {1000, 1, 1, 1, 1, 0.5, 0.5, 1.5, 0.5}, "damage3"},
        {spline, {0, 1, 1, 1, 1, 0.5, 0.5, 0.5, 0.5}, "depth"},
        {spline, {20001, 1, 1, 1, 1, 0.5, 0.5, 0.5, 0.5}, "depth"},
        {gauss, {0.01L, 300, 100, 200, 5, 0}, "damage_max"},
        {gauss, {0.01L, 300, 100, 200, 0, 0.5}, "depth_ratio"},
        {gauss, {0.01L, 300, 0, 200, 5, 0.5}, "sigma1"},
        {boxes, {100, 1, 0.5, 0, 0.5, 1}, "box2_thickness"},
        {boxes, {100, -100, 0.5, 10, 0.5, 1}, "box1_strain"},
        {boxes, {100, 1, 0.5, 10, 0.5, 1.01L}, "box2_damage"},
    };
    for (const Case& c : cases) {
        SampleProfileModel model(c.settings);
        Sample s;
        try {
            model.fillSample(c.values, s);
            ADD_FAILURE() << "accepted " << c.name;
        } catch (const CandidateRejected& e) {
            EXPECT_NE(std::string(e.what()).find(c.name), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(SampleProfileModel({ProfileKind::BSpline, DamageKind::None, 16, 3}), EngineError);
    EXPECT_THROW(SampleProfileModel({ProfileKind::TwoGauss, DamageKind::BSpline, 16, 10, 3}),
                 EngineError);
    EXPECT_THROW(SampleProfileModel({ProfileKind::Boxes, DamageKind::Proportional}), EngineError);
    // Boxes are lamellae as given, from the surface inward.
    const Sample s = filled(boxes, {100, 1, 0.5L, 300, -0.2L, 1});
    ASSERT_EQ(s.lamellae.size(), 2u);
    EXPECT_EQ(s.lamellae[1].thicknessAngstrom, 300);
    EXPECT_DOUBLE_EQ(s.lamellae[0].strain, 0.01);
    EXPECT_EQ(s.lamellae[0].damage, 0.5);
}

constexpr const char* kSplineProject = R"([sample]
substrate = "SiC"

[profile]
model = "bspline"
weights = 5
lamella_thickness = 25
depth = { value = 1500, min = 800, max = 2500 }
damage = "bspline"
damage_weights = 4
damage2 = { value = 0.5, min = 0.1, max = 1 }

[[dataset]]
scan = [-3000, 500, 10]
wavelength = 1.5498
)";

TEST(ProjectFile, HoldsTheBSplineAndDamageModelsAndRefusesRegionsWithoutASample) {
    const Project p = parseProject(kSplineProject, "s.toml");
    EXPECT_EQ(p.profile, ProfileKind::BSpline);
    EXPECT_EQ(p.damage, DamageKind::BSpline);
    ASSERT_EQ(p.profileParameters.size(), 1u + 5 + 4);
    EXPECT_EQ(p.profileParameters[7].name, "damage2");
    EXPECT_EQ(static_cast<double>(p.profileParameters[7].min), 0.1);
    EXPECT_TRUE(makeProfileModel(profileSettings(p))->fillsSample());
    const std::string text = projectText(p);
    EXPECT_EQ(projectText(parseProject(text, "again.toml")), text);

    const testing::ProjectEdit cases[] = {
        {"weights = 5", "weights = 3", "'profile.weights'"},
        {"min = 800", "min = 0", "'profile.depth'"},
        {"max = 2500", "max = 30000", "'profile.depth'"},
        {"min = 0.1", "min = 0", "'profile.damage2'"},
        {"damage = \"bspline\"", "damage = \"heavy\"", "'profile.damage'"},
        {"lamella_thickness = 25", "lamella_thickness = 0", "'profile.lamella_thickness'"},
        {"model = \"bspline\"", "model = \"boxes\"", "its own damage"},
    };
    std::string boxes = kSplineProject;
    boxes.replace(boxes.find("model"), boxes.find("\n[[dataset]]") - boxes.find("model"),
                  "model = \"boxes\"\nboxes = 2\nbox2_thickness = 0\n");
    EXPECT_THROW(parseProject(boxes, "boxes.toml"), ProjectError);
    boxes.replace(boxes.find("box2_thickness = 0"), 18, "box2_thickness = 1");
    EXPECT_EQ(parseProject(boxes, "boxes.toml").profileParameters.size(), 6u);
    // The ion-profile model: its file is read with the measured ones; two parameters.
    std::string ion = kSplineProject;
    ion.replace(ion.find("model"), ion.find("\n[[dataset]]") - ion.find("model"),
                "model = \"ion-profile\"\nfile = \"implant.dat\"\n");
    const Project implant = parseProject(ion, "ion.toml");
    ASSERT_EQ(implant.profileParameters.size(), 2u);
    EXPECT_EQ(implant.profileParameters[1].name, "damage_max");
    EXPECT_EQ(projectText(parseProject(projectText(implant), "again.toml")), projectText(implant));
    ion.replace(ion.find("file = \"implant.dat\""), 20, "");
    EXPECT_THROW(parseProject(ion, "ion.toml"), ProjectError);
    testing::expectRefused(kSplineProject, cases);
}

TEST(IonProfile, ScalesTheImportedShapeToTheMaximumStrainAndRefusesAnEmptyProfile) {
    const auto dir = std::filesystem::temp_directory_path() / "kelvarin_ion_profile_test";
    std::filesystem::create_directories(dir);
    const auto write = [&dir](const char* name, const char* text) {
        std::ofstream(dir / name) << text;
        return (dir / name).string();
    };
    // Two columns: depth (Å), concentration; peak at 300 Å, nothing below 1000 Å.
    ProfileSettings settings{ProfileKind::IonProfile, DamageKind::Proportional};
    settings.ionProfile = readIonProfile(write("ok.dat", "0 1\n300 5e20\n1000 0\n"));
    const Sample s = filled(settings, {1.2L, 0.3L});
    ASSERT_EQ(s.lamellae.size(), 50u);  // 1000 Å in lamellae of at most 20 Å
    std::size_t top = 0;
    for (std::size_t i = 0; i < s.lamellae.size(); ++i)
        if (s.lamellae[i].strain > s.lamellae[top].strain) top = i;
    EXPECT_NEAR(s.lamellae[top].strain, 0.012 * (1 - 10.0 / 700), 1e-9);  // middle at 310 Å
    EXPECT_NEAR(s.lamellae[top].damage, std::pow(0.3, 1.0), 1e-12);
    EXPECT_LT(s.lamellae.back().strain, 0.0003);

    for (const char* bad : {"0 0\n100 0\n", "0 1\n100\n", "100 1\n50 2\n", "0 -1\n10 1\n"})
        EXPECT_THROW(readIonProfile(write("bad.dat", bad)), EngineError) << bad;
    settings.ionProfile = {{0, 0}, {100, 0}};
    EXPECT_THROW(SampleProfileModel{settings}, EngineError);
    std::filesystem::remove_all(dir);
}

TEST(SampleProfileModel, IrradiatedSiCProfileMatchesItsScanOnlyWithTheSurfaceFirst) {
    // The published B-spline strain and damage weights of the ion-irradiated 3C-SiC 400 scan are
    // listed deepest first. Read so (the last weight at the surface) they give the layer peak and
    // fringes of the scan; the mirrored profile, with the same instrument, gives neither. The
    // deepest weight (strain ≈ 0) is the model's own 0 / perfect lattice at the depth.
    const std::filesystem::path data = std::filesystem::path(KELVARIN_SHARED_DIR) / "peers/data";
    const auto weights = [&data](const char* name) {
        std::ifstream in(data / name);
        std::vector<double> w;
        for (double v; in >> v;)
            w.push_back(v);
        return w;
    };
    const std::vector<double> strain = weights("radmax_3C-SiC_400_strain_bspline_weights.txt");
    const std::vector<double> damage = weights("radmax_3C-SiC_400_dw_bspline_weights.txt");
    if (strain.size() < 5 || damage.size() < 5) GTEST_SKIP() << "no 3C-SiC data in " << data;
    const auto error = [&](bool surfaceLast) {
        std::string text =
            "[sample]\nsubstrate = \"SiC\"\n[profile]\nmodel = \"bspline\"\n"
            "depth = 1545\ndamage = \"bspline\"\n";
        const auto list = [&text, surfaceLast](const std::vector<double>& w, const char* count,
                                               const char* stem) {
            const std::size_t n = w.size() - 1;
            text += std::string(count) + " = " + std::to_string(n) + "\n";
            for (std::size_t i = 0; i < n; ++i)
                text += stem + std::to_string(i + 1) + " = " +
                        std::to_string(surfaceLast ? w[n - i] : w[i]) + "\n";
        };
        list(strain, "weights", "strain");
        list(damage, "damage_weights", "damage");
        text +=
            "[[dataset]]\nfile = \"radmax_3C-SiC_400_irradiated.txt\"\naxis = "
            "\"2theta/omega\"\nunit = \"deg\"\nhkl = [0, 0, 4]\nwavelength = 1.5498\n"
            "instrument = \"pseudo-voigt\"\nwidth = 108\nlorentz_fraction = 0.0014\n"
            "offset = -26\nscaling = \"lsm-fixed-background\"\nbackground = 10\n";
        auto problem = buildProblem(parseProject(text, (data / "sic.toml").string()));
        ProblemWorkspace ws = problem->makeWorkspace();
        return problem->evaluate(problem->parameters().values(), ws);
    };
    const double surfaceLast = error(true), mirrored = error(false);
    EXPECT_LT(surfaceLast, 0.75 * mirrored) << surfaceLast << " vs " << mirrored;
}

}  // namespace
}  // namespace kelvarin::fit
