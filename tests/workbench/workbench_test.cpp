// The workbench driven headless: open, edit, fit, stop, save and export, and what bad input
// leaves behind.
#include "workbench/workbench.hpp"

#include <gtest/gtest.h>

#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace kelvarin::workbench {
namespace {

namespace fs = std::filesystem;

std::string readAll(const fs::path& p) {
    std::ifstream in(p);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

/// A folder with the example project and its measured curve; `generations` shortens the fit.
class WorkbenchTest : public ::testing::Test {
protected:
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("kelvarin-workbench-" +
               std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        const fs::path examples = fs::path(KELVARIN_SOURCE_DIR) / "examples";
        fs::copy_file(examples / "measured.dat", dir / "measured.dat");
        project = (dir / "fit.toml").string();
        writeProject(project, 100);
    }
    void TearDown() override { fs::remove_all(dir); }

    /// The example with its [profile] table replaced by `profile`.
    std::string withProfile(const std::string& profile) {
        std::string text = readAll(fs::path(KELVARIN_SOURCE_DIR) / "examples" / "fit.toml");
        const std::size_t from = text.find("[profile]");
        text.replace(from, text.find("[[dataset]]") - from, profile + "\n");
        const fs::path path = dir / "model.toml";
        std::ofstream(path) << text;
        return path.string();
    }

    void writeProject(const std::string& path, int generations) {
        std::string text = readAll(fs::path(KELVARIN_SOURCE_DIR) / "examples" / "fit.toml");
        const std::string key = "generations = 100";
        text.replace(text.find(key), key.size(), "generations = " + std::to_string(generations));
        std::ofstream(path) << text;
    }

    fs::path dir;
    std::string project;
    HeadlessPlatform platform;
};

TEST_F(WorkbenchTest, FitOfTheExampleReachesTheCommandLinesErrorAndBecomesTheProjectsValues) {
#ifdef KELVARIN_SANITIZED
    GTEST_SKIP() << "a whole fit takes minutes under the sanitizers; make test runs it";
#endif
    Workbench bench(platform);
    ASSERT_TRUE(bench.open(project)) << bench.message();
    EXPECT_FALSE(bench.dirty());
    ASSERT_EQ(bench.parameters().size(), 5u);
    // The file's 1801 pairs (the store repeats the last one after them).
    EXPECT_EQ(bench.dataSummary().rfind("measured.dat: 1801 points, ", 0), 0u)
        << bench.dataSummary();
    // The last measured points lie beyond the computed curve.
    EXPECT_GT(bench.curve().computed.size(), bench.curve().angle.size() - 5);
    int updates = 0;
    bench.onChanged = [&] { ++updates; };
    bench.fit();
    ASSERT_EQ(bench.message(), "");
    // examples/fit.toml with kelvarin-cli fit: 3.34295 %, the same report with standard errors.
    EXPECT_NE(bench.report().find("error         3.34295 %"), std::string::npos) << bench.report();
    EXPECT_NE(bench.report().find("tau = 0.0040770997 ± 3.85e-05"), std::string::npos)
        << bench.report();
    EXPECT_NEAR(bench.parameters()[0].error.value_or(0), 3.85e-05, 5e-8);
    EXPECT_EQ(bench.progress().generation, 100);
    EXPECT_EQ(bench.progress().bestByGeneration.size(), 100u);
    EXPECT_FALSE(bench.progress().running);
    EXPECT_GE(updates, 2);  // the start, at least one generation, the end
    // No more than about ten a second.
    // (a generation may land just past a tenth of a second: one more is allowed for it; the end
    // shows the values, then their standard errors, then the band)
    EXPECT_LE(updates, 6 + bench.progress().elapsedSeconds / 0.1);
    EXPECT_TRUE(bench.dirty());
    EXPECT_TRUE(bench.parameters()[0].fitted);
    // Residuals are those of the curve shown, and the profile starts at the surface.
    const CurveView& c = bench.curve();
    for (std::size_t i = 0; i < c.computed.size(); i += 37) {
        if (c.measured[i] > 0) {
            EXPECT_NEAR(c.residual[i], std::log10(c.measured[i]) - std::log10(c.computed[i]),
                        1e-12);
        }
    }
    ASSERT_FALSE(bench.profile().depth.empty());
    EXPECT_EQ(bench.profile().depth.front(), 0);

    // Saved and opened again, the fitted values are the project's.
    const Extended tau = bench.parameters()[0].parameter.value;
    ASSERT_TRUE(bench.save());
    Workbench again(platform);
    ASSERT_TRUE(again.open(project)) << again.message();
    EXPECT_NEAR(static_cast<double>(again.parameters()[0].parameter.value),
                static_cast<double>(tau), 1e-12);
}

TEST_F(WorkbenchTest, StopEndsTheFitAfterTheCurrentGenerationWithTheBestKept) {
    Workbench bench(platform);
    ASSERT_TRUE(bench.open(project));
    bench.onChanged = [&] {
        if (bench.progress().running && bench.progress().generation >= 1) bench.stop();
    };
    bench.fit();
    EXPECT_LT(bench.progress().generation, 100);
    EXPECT_NE(bench.report().find("stopped"), std::string::npos) << bench.report();
    ASSERT_TRUE(bench.exportReport((dir / "report.txt").string())) << bench.message();
    EXPECT_EQ(readAll(dir / "report.txt"), bench.report());
    EXPECT_FALSE(bench.exportReport((dir / "missing" / "report.txt").string()));
    EXPECT_NE(bench.message().find((dir / "missing").string()), std::string::npos);
    // A refit runs its course again.
    bench.onChanged = nullptr;
    writeProject(project, 3);
    ASSERT_TRUE(bench.open(project));
    bench.fit();
    EXPECT_EQ(bench.progress().generation, 3);
}

TEST_F(WorkbenchTest, ABadProjectOrMeasuredFileLeavesTheOpenProjectAsItWas) {
    Workbench bench(platform);
    ASSERT_TRUE(bench.open(project));
    ASSERT_TRUE(bench.setParameter(0, ParameterField::Value, "0.0041"));
    struct Case {
        const char* what;
        std::string text;
        std::vector<std::string> expected;  // in the message
    };
    const std::string good = readAll(project);
    const Case cases[] = {
        {"unknown key", good + "\n[fit2]\nfoo = 1\n", {"fit2"}},
        {"wrong type", "[sample]\nsubstrate = 3\n", {"substrate", "line 2"}},
        {"missing measured file",
         [&] {
             std::string t = good;
             t.replace(t.find("\"measured.dat\""), 14, "\"absent.dat\"");
             return t;
         }(),
         {"absent.dat", "key 'dataset.file', line 16"}},
    };
    for (const Case& c : cases) {
        const fs::path bad = dir / "bad.toml";
        std::ofstream(bad) << c.text;
        EXPECT_FALSE(bench.open(bad.string())) << c.what;
        for (const std::string& part : c.expected)
            EXPECT_NE(bench.message().find(part), std::string::npos)
                << c.what << ": " << bench.message();
        EXPECT_EQ(bench.project().path, project) << c.what;
        EXPECT_NEAR(static_cast<double>(bench.parameters()[0].parameter.value), 0.0041, 1e-9)
            << c.what;
        EXPECT_TRUE(bench.dirty()) << c.what;
    }
    EXPECT_FALSE(bench.newProject((dir / "absent.dat").string()));
    EXPECT_EQ(bench.project().path, project);
}

TEST_F(WorkbenchTest, ParameterEditsAreCheckedAndSavedWhereTheMeasuredFileIsStillFound) {
    Workbench bench(platform);
    ASSERT_TRUE(bench.open(project));
    struct Case {
        int row;
        ParameterField field;
        const char* text;
        bool accepted;
    };
    const Case cases[] = {
        {1, ParameterField::Max, " 900 ", true},  {1, ParameterField::Min, "12x", false},
        {1, ParameterField::Value, "", false},    {1, ParameterField::Value, "nan", false},
        {2, ParameterField::Free, "false", true}, {2, ParameterField::Free, "maybe", false},
        {4, ParameterField::Value, "9.5", true},  {9, ParameterField::Value, "1", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(bench.setParameter(c.row, c.field, c.text), c.accepted) << c.row << " " << c.text;
    EXPECT_TRUE(bench.dirty());
    fs::create_directories(dir / "elsewhere");
    const std::string moved = (dir / "elsewhere" / "copy.toml").string();
    ASSERT_TRUE(bench.save(moved)) << bench.message();
    EXPECT_FALSE(bench.dirty());
    Workbench again(platform);
    ASSERT_TRUE(again.open(moved)) << again.message();
    EXPECT_EQ(again.parameters()[1].parameter.max, 900);
    EXPECT_FALSE(again.parameters()[2].parameter.free);
    EXPECT_EQ(again.parameters()[4].parameter.value, Extended(9.5));
    EXPECT_EQ(again.parameters()[4].parameter.name, "width");
}

TEST_F(WorkbenchTest, ExportAndSaveIntoAMissingFolderNameTheFolder) {
    Workbench bench(platform);
    EXPECT_FALSE(bench.exportProfileCsv((dir / "x.csv").string()));  // nothing open
    ASSERT_TRUE(bench.open(project));
    EXPECT_FALSE(bench.exportReport((dir / "report.txt").string()));  // no fit yet
    EXPECT_FALSE(fs::exists(dir / "report.txt"));
    ASSERT_TRUE(bench.exportProfileCsv((dir / "profile.csv").string())) << bench.message();
    EXPECT_EQ(readAll(dir / "profile.csv").rfind("depth_angstrom,strain_percent,damage\n", 0), 0u);
    const fs::path missing = dir / "no-such-folder";
    EXPECT_FALSE(bench.exportProfileCsv((missing / "profile.csv").string()));
    EXPECT_NE(bench.message().find(missing.string()), std::string::npos) << bench.message();
    EXPECT_FALSE(bench.save((missing / "p.toml").string()));
    EXPECT_NE(bench.message().find(missing.string()), std::string::npos) << bench.message();
    EXPECT_EQ(bench.project().path, project);
}

TEST_F(WorkbenchTest, NewProjectAroundAMeasuredFileCanBeFittedAndSaved) {
    Workbench bench(platform);
    ASSERT_TRUE(bench.newProject((dir / "measured.dat").string())) << bench.message();
    EXPECT_EQ(bench.project().path, (dir / "measured.toml").string());
    EXPECT_TRUE(bench.dirty());
    ASSERT_TRUE(bench.save());
    Workbench again(platform);
    ASSERT_TRUE(again.open((dir / "measured.toml").string())) << again.message();
    EXPECT_EQ(again.parameters().size(), bench.parameters().size());
}

TEST_F(WorkbenchTest, TheProfileShownIsTheModelsOwnWithItsDamageAndBand) {
    struct Case {
        const char* profile;
        bool damage;
        double firstStrainPercent;  // of the lamella at the surface
        double firstDamage;
    };
    const Case cases[] = {
        {"model = \"2gauss\"\nlayers = 16", false, NAN, 1},
        {"model = \"boxes\"\nboxes = 2\nbox1_strain = 0.7\nbox1_damage = 0.6\n"
         "box1_thickness = 300",
         true, 0.7, 0.6},
        {"model = \"bspline\"\ndamage = \"proportional\"\nweights = 4\nstrain1 = 0.9\n"
         "strain2 = 0.9\nstrain3 = 0.9\nstrain4 = 0.9\ndamage_max = 0.5",
         true, 0.9, 0.5},
    };
    for (const Case& c : cases) {
        Workbench bench(platform);
        ASSERT_TRUE(bench.open(withProfile("[profile]\n" + std::string(c.profile))))
            << c.profile << ": " << bench.message();
        EXPECT_EQ(bench.hasDamage(), c.damage) << c.profile;
        const ProfileView& p = bench.profile();
        ASSERT_GE(p.depth.size(), 3u) << c.profile;
        ASSERT_EQ(p.damage.size(), p.depth.size()) << c.profile;
        if (!std::isnan(c.firstStrainPercent)) {
            EXPECT_NEAR(p.strainPercent[0], c.firstStrainPercent, 0.02) << c.profile;
        }
        EXPECT_NEAR(p.damage[0], c.firstDamage, 1e-6) << c.profile;
        EXPECT_EQ(p.damage.back(), 1) << c.profile;  // the substrate

        // A band must have the lamellae of the profile; it reaches the CSV and goes with an edit.
        const std::size_t lamellae = (p.depth.size() - 1) / 2;
        fit::ProfileBand band;
        for (std::size_t k = 0; k < lamellae; ++k) {
            band.depth.push_back(p.depth[2 * k] + 1);
            band.low.push_back(p.strainPercent[2 * k] / 100 - 0.001);
            band.high.push_back(p.strainPercent[2 * k] / 100 + 0.001);
            band.damageLow.push_back(0.4);
            band.damageHigh.push_back(1);
        }
        band.draws = 100;
        fit::ProfileBand short_ = band;
        short_.low.pop_back();
        EXPECT_FALSE(bench.setBand(short_)) << c.profile;
        ASSERT_TRUE(bench.setBand(band)) << c.profile;
        EXPECT_NEAR(bench.band().strainHighPercent[0] - bench.band().strainLowPercent[0], 0.2,
                    1e-9);
        const fs::path csv = dir / "band.csv";
        ASSERT_TRUE(bench.exportProfileCsv(csv.string()));
        EXPECT_NE(readAll(csv).find("strain_low_percent"), std::string::npos) << c.profile;
        ASSERT_TRUE(bench.setParameter(
            0, ParameterField::Value,
            std::to_string(static_cast<double>(bench.parameters()[0].parameter.value))));
        EXPECT_TRUE(bench.band().depth.empty()) << c.profile;
        ASSERT_TRUE(bench.exportProfileCsv(csv.string()));
        EXPECT_EQ(readAll(csv).find("strain_low_percent"), std::string::npos) << c.profile;
    }
}

TEST_F(WorkbenchTest, ModelAndSetUpChosenFromListsRebuildTheTableAndSurviveTheSave) {
    Workbench bench(platform);
    ASSERT_TRUE(bench.open(project));
    ASSERT_TRUE(bench.setParameter(0, ParameterField::Value, "0.0041"));
    std::ofstream(dir / "ions.dat") << "0 0\n200 1\n400 3\n800 0\n";
    using D = fit::DamageKind;
    struct Case {
        ProfileKind strain;
        D damage;
        std::string ionFile;
        bool accepted;
        std::size_t rows;  // of the table afterwards (the width last)
        const char* inMessage;
    };
    const Case cases[] = {
        {ProfileKind::BSpline, D::Proportional, "", true, 1 + 10 + 1 + 1, ""},
        {ProfileKind::Boxes, D::BSpline, "", false, 13, "damage"},
        {ProfileKind::IonProfile, D::None, "", false, 13, "file"},
        {ProfileKind::IonProfile, D::None, (dir / "measured.dat").string(), false, 13,
         "measured.dat"},
        {ProfileKind::IonProfile, D::None, (dir / "ions.dat").string(), true, 2, ""},
        {ProfileKind::Boxes, D::None, "", true, 3 + 1, ""},
        {ProfileKind::PearsonVII, D::BSpline, "", true, 5 + 8 + 1, ""},  // with thickness
        {ProfileKind::TwoGauss, D::None, "", true, 5, ""},
    };
    for (const Case& c : cases) {
        const std::string what = std::string(fit::profileKindName(c.strain)) + "/" +
                                 fit::damageKindName(c.damage) + " " + c.ionFile;
        EXPECT_EQ(bench.setModel(c.strain, c.damage, c.ionFile), c.accepted)
            << what << ": " << bench.message();
        EXPECT_NE(bench.message().find(c.inMessage), std::string::npos) << what;
        EXPECT_EQ(bench.parameters().size(), c.rows) << what;
        EXPECT_EQ(bench.parameters().back().parameter.name, "width") << what;
        EXPECT_FALSE(bench.profile().depth.empty()) << what;
    }
    // Back on the double half-Gaussian, the edited tau is still there, through other models.
    EXPECT_NEAR(static_cast<double>(bench.parameters()[0].parameter.value), 0.0041, 1e-9);

    EXPECT_FALSE(bench.setSetup("Unobtainium", {0, 0, 4}, "Cua1"));
    EXPECT_NE(bench.message().find("Unobtainium"), std::string::npos);
    EXPECT_FALSE(bench.setSetup("GaAs", {0, 0, 4}, "Xxa1"));
    EXPECT_EQ(bench.project().substrate, "GaAs");
    ASSERT_TRUE(bench.setSetup("InP", {0, 0, 4}, "Cua1")) << bench.message();
    // A synchrotron wavelength stays when only the substrate changes.
    fs::path synchrotron = dir / "synchrotron.toml";
    {
        std::string text = readAll(project);
        text.replace(text.find("radiation = \"Cua1\""), 18, "wavelength = 1.3");
        std::ofstream(synchrotron) << text;
    }
    Workbench other(platform);
    ASSERT_TRUE(other.open(synchrotron.string())) << other.message();
    ASSERT_TRUE(other.setSetup("InP", {0, 0, 4}, "synchrotron")) << other.message();
    EXPECT_EQ(other.project().datasets[0].radiation.synchrotronWavelength, Extended(1.3));
    ASSERT_TRUE(bench.setModel(ProfileKind::BSpline, D::Proportional));
    const std::string moved = (dir / "sub" / "moved.toml").string();
    fs::create_directories(dir / "sub");
    ASSERT_TRUE(
        bench.setModel(ProfileKind::IonProfile, D::Proportional, (dir / "ions.dat").string()));
    ASSERT_TRUE(bench.save(moved)) << bench.message();
    Workbench again(platform);
    ASSERT_TRUE(again.open(moved)) << again.message();  // the ion file is still found
    EXPECT_EQ(again.project().profile, ProfileKind::IonProfile);
    EXPECT_EQ(again.project().damage, D::Proportional);
    EXPECT_EQ(again.project().substrate, "InP");
    EXPECT_EQ(again.parameters().size(), bench.parameters().size());
}

TEST_F(WorkbenchTest, ControlPointsSitOnTheirModelAndADragRecomputesWithinTheLimits) {
    struct Case {
        const char* profile;
        std::vector<double> depth;  // of each control point (strain and damage alike), Å
        std::vector<double> strainPercent;
        std::vector<double> damage;
    };
    const Case cases[] = {
        {"model = \"2gauss\"\ndamage = \"proportional\"", {}, {}, {}},
        // Five control points (the last fixed at the depth): knots 0,0,0,0,½,1,1,1,1. The
        // damage spline lies over the strain's 1200 Å.
        {"model = \"bspline\"\nweights = 4\ndepth = 1200\n"
         "strain1 = { value = 0.5, min = 0, max = 2 }\nstrain2 = 0.8\n"
         "strain3 = 0.3\nstrain4 = 0.1\ndamage = \"bspline\"\ndamage_weights = 4\n"
         "damage1 = 0.6\ndamage2 = 0.7\ndamage3 = 0.8\ndamage4 = 0.9",
         {0, 200, 600, 1000},
         {0.5, 0.8, 0.3, 0.1},
         {0.6, 0.7, 0.8, 0.9}},
        {"model = \"boxes\"\nboxes = 2\nbox1_thickness = 100\n"
         "box1_strain = { value = 0.4, min = 0, max = 2 }\nbox1_damage = 0.7\n"
         "box2_thickness = 300\nbox2_strain = 0.2\nbox2_damage = 0.9",
         {50, 250},
         {0.4, 0.2},
         {0.7, 0.9}},
    };
    for (const Case& c : cases) {
        Workbench bench(platform);
        ASSERT_TRUE(bench.open(withProfile("[profile]\n" + std::string(c.profile))))
            << c.profile << ": " << bench.message();
        const std::vector<ControlPoint> points = bench.controlPoints();
        const std::vector<ControlPoint> damage = bench.controlPoints(ProfilePart::Damage);
        ASSERT_EQ(points.size(), c.depth.size()) << c.profile;
        ASSERT_EQ(damage.size(), c.depth.size()) << c.profile;
        for (std::size_t i = 0; i < points.size(); ++i) {
            EXPECT_NEAR(points[i].depth, c.depth[i], 1e-9) << c.profile << " " << i;
            EXPECT_NEAR(points[i].value, c.strainPercent[i], 1e-6) << c.profile;
            EXPECT_NEAR(damage[i].depth, c.depth[i], 1e-6) << c.profile << " " << i;
            EXPECT_NEAR(damage[i].value, c.damage[i], 1e-6) << c.profile;
        }
        EXPECT_FALSE(bench.moveControlPoint(static_cast<int>(points.size()), 0.5)) << c.profile;
        if (points.empty()) continue;
        // A damage factor stays a factor, and the sample a usable one.
        ASSERT_TRUE(bench.moveControlPoint(0, 0.3, ProfilePart::Damage)) << c.profile;
        EXPECT_NEAR(bench.profile().damage[0], 0.3, 0.05) << c.profile;
        ASSERT_TRUE(bench.moveControlPoint(0, 5, ProfilePart::Damage)) << c.profile;
        EXPECT_EQ(bench.controlPoints(ProfilePart::Damage)[0].value, 1) << c.profile;
        ASSERT_TRUE(bench.moveControlPoint(0, -1, ProfilePart::Damage)) << c.profile;
        EXPECT_GT(bench.controlPoints(ProfilePart::Damage)[0].value, 0) << c.profile;

        EXPECT_FALSE(bench.moveControlPoint(0, NAN)) << c.profile;
        const std::vector<double> before = bench.curve().computed;
        ASSERT_TRUE(bench.moveControlPoint(0, 1.5)) << c.profile;
        ASSERT_TRUE(bench.moveControlPoint(0, 99)) << c.profile;  // free: held at the limit
        const fit::Parameter& moved =
            bench.parameters()[static_cast<std::size_t>(points[0].row)].parameter;
        EXPECT_EQ(moved.value, moved.max) << c.profile;
        EXPECT_NEAR(bench.controlPoints()[0].value, static_cast<double>(moved.max), 1e-9);
        EXPECT_NE(bench.curve().computed, before) << c.profile;
        EXPECT_NEAR(bench.profile().strainPercent[0], static_cast<double>(moved.max), 0.1)
            << c.profile;
        EXPECT_TRUE(bench.dirty());
        // A fixed value goes where it is dragged, its limits with it.
        ASSERT_TRUE(bench.moveControlPoint(1, 2.5)) << c.profile;
        const fit::Parameter& fixed =
            bench.parameters()[static_cast<std::size_t>(points[1].row)].parameter;
        EXPECT_EQ(fixed.value, Extended(2.5)) << c.profile;
        EXPECT_EQ(fixed.max, Extended(2.5)) << c.profile;

        // Sideways a box keeps its top and takes its middle to the cursor; spline weights stay.
        const bool boxes = points[0].thicknessRow >= 0;
        EXPECT_EQ(bench.moveControlPointTo(1, 400), boxes) << c.profile;
        if (boxes) {
            EXPECT_NEAR(bench.controlPoints()[1].depth, 400, 1e-9);
            EXPECT_NEAR(bench.profile().depth.back(), 100 + 2 * (400 - 100), 1e-6);
            EXPECT_TRUE(bench.moveControlPointTo(0, -50));  // at least 1 Å thick
            EXPECT_NEAR(bench.controlPoints()[0].depth, 0.5, 1e-9);
        }

        // While a fit runs the profile is its best, which the table's points do not describe.
        std::size_t whileRunning = 99;
        bench.onChanged = [&] {
            if (!bench.progress().running || bench.progress().generation < 1) return;
            whileRunning = bench.controlPoints().size();
            bench.stop();
        };
        bench.fit();
        bench.onChanged = nullptr;
        EXPECT_EQ(whileRunning, 0u) << c.profile;
        EXPECT_EQ(bench.controlPoints().size(), points.size()) << c.profile;
    }
}

TEST_F(WorkbenchTest, StandardErrorsOfAFitResultStandBesideTheirValuesUntilAValueChanges) {
    Workbench bench(platform);
    ASSERT_TRUE(bench.open(project));
    fit::Uncertainty u;
    u.valid = true;
    u.parameters = {{0, 0.004, 1e-4, false, false, false}, {2, 150, 0, false, false, true}};
    fit::Uncertainty foreign = u;
    foreign.parameters.push_back({99, 1, 1, false, false, false});
    fit::Uncertainty invalid = u;
    invalid.valid = false;
    invalid.message = "singular";
    EXPECT_FALSE(bench.setUncertainty(foreign));
    EXPECT_FALSE(bench.setUncertainty(invalid));
    EXPECT_NE(bench.message().find("singular"), std::string::npos) << bench.message();
    EXPECT_FALSE(bench.parameters()[0].error.has_value());
    ASSERT_TRUE(bench.setUncertainty(u));
    EXPECT_EQ(bench.parameters()[0].error, 1e-4);
    EXPECT_TRUE(std::isnan(*bench.parameters()[2].error));  // not determined by the data
    EXPECT_FALSE(bench.parameters()[1].error.has_value());
    ASSERT_TRUE(bench.setParameter(1, ParameterField::Value, "310"));
    EXPECT_FALSE(bench.parameters()[0].error.has_value());
}

TEST_F(WorkbenchTest, MeasuredFilesOfEveryFormatAreReadAndABadOneLeavesTheDataAsItWas) {
    const fs::path examples = fs::path(KELVARIN_SOURCE_DIR) / "examples";
    const fs::path peers = fs::path(KELVARIN_SHARED_DIR) / "peers" / "data";
    std::ofstream(dir / "broken.xrdml") << "<?xml version=\"1.0\"?><xrdMeasurements>";
    std::ofstream(dir / "words.dat") << "angle counts\nnot numbers\n";
    // A file of the user's where the offsets would go is kept.
    std::ofstream(dir / "measured-offset.dat") << "mine\n";
    {
        std::ofstream degrees(dir / "omega.txt");  // a peak at 33°, in degrees of ω
        for (int i = -500; i <= 500; ++i)
            degrees << 33 + i * 0.001 << " " << 30 + 1e5 * std::exp(-i * i / 25.0) << "\n";
    }
    struct Case {
        fs::path file;
        int scan;
        std::optional<ScanAxis> axis;  // declared, in degrees
        bool accepted;
        const char* format;  // or a part of the message
        std::size_t points;
    };
    const Case cases[] = {
        {examples / "measured.x00", 0, {}, true, "PANalytical .x00", 1001},
        {dir / "broken.xrdml", 0, {}, false, "broken.xrdml", 0},
        {dir / "words.dat", 0, {}, false, "words.dat", 0},
        {dir / "absent.uxd", 0, {}, false, "absent.uxd", 0},
        {dir / "omega.txt", 0, {}, false, "degrees", 0},
        {dir / "omega.txt", 0, ScanAxis::Omega, true, "plain text", 1001},
        {peers / "xrayutilities_AlGaAs_GaAs_004.xrdml", 0, {}, true, "XRDML", 0},
        {peers / "xrayutilities_InMnAs_InAs_002_004.ras", 0, {}, false, "scan", 0},
        {peers / "xrayutilities_InMnAs_InAs_002_004.ras", 2, {}, true, "Rigaku RAS", 0},
        {dir / "measured.dat", 0, {}, true, "plain text", 1801},
    };
    Workbench bench(platform);
    ASSERT_TRUE(bench.open(project));
    EXPECT_EQ(bench.dataInfo().points, 1801u);
    EXPECT_EQ(bench.dataInfo().format, "plain text");
    EXPECT_TRUE(Workbench::isPlainText((dir / "omega.txt").string()));
    EXPECT_FALSE(Workbench::isPlainText((examples / "measured.x00").string()));
    for (const Case& c : cases) {
        if (!fs::exists(c.file) && c.accepted) continue;  // the shared scans are absent
        const std::string what = c.file.filename().string();
        const CurveView before = bench.curve();
        const DataInfo info = bench.dataInfo();
        const std::string file = bench.project().datasets[0].file;
        ScanReadOptions read;
        read.scanNumber = c.scan;
        read.axis = c.axis;
        read.unit = c.axis ? std::optional(AngleUnit::Degrees) : std::nullopt;
        EXPECT_EQ(bench.importMeasured(c.file.string(), read), c.accepted)
            << what << ": " << bench.message();
        if (!c.accepted) {
            EXPECT_NE(bench.message().find(c.format), std::string::npos)
                << what << ": " << bench.message();
            EXPECT_EQ(bench.curve().angle, before.angle) << what;
            EXPECT_EQ(bench.dataInfo().file, info.file) << what;
            EXPECT_EQ(bench.project().datasets[0].file, file) << what;
            continue;
        }
        EXPECT_EQ(bench.dataInfo().format, c.format) << what;
        if (c.points > 0) {
            EXPECT_EQ(bench.dataInfo().points, c.points) << what;
        }
        EXPECT_GE(bench.curve().angle.size(), 10u) << what;
        EXPECT_FALSE(bench.curve().computed.empty()) << what;
        EXPECT_TRUE(bench.dirty());
    }
    EXPECT_EQ(readAll(dir / "measured-offset.dat"), "mine\n");

    // The .x00 (ω of an ω/2θ scan) zeroed on its peak, then the zero moved by 0.01°: the
    // offsets move by 36″.
    ASSERT_TRUE(bench.importMeasured((examples / "measured.x00").string()));
    const DataInfo x00 = bench.dataInfo();
    EXPECT_EQ(x00.axis, "omega/2theta");
    EXPECT_EQ(x00.unit, "°");
    ASSERT_TRUE(x00.countingTime.has_value());
    EXPECT_EQ(*x00.countingTime, 1);
    EXPECT_EQ(fs::path(x00.fitFile).filename(), "measured-offset-2.dat");
    EXPECT_EQ(bench.project().datasets[0].file, "measured-offset-2.dat");
    const double first = bench.curve().angle.front();
    ASSERT_TRUE(bench.setZero(x00.zero + 0.01)) << bench.message();
    EXPECT_NEAR(bench.curve().angle.front(), first - 36, 1e-3);
    EXPECT_NEAR(bench.dataInfo().zero, x00.zero + 0.01, 1e-12);
    // The file the project read before is not overwritten under it.
    EXPECT_NE(bench.dataInfo().fitFile, x00.fitFile);
    EXPECT_FALSE(bench.setZero(x00.zero + 50));  // outside the scan
    EXPECT_NE(bench.message().find("outside the scan"), std::string::npos) << bench.message();
    EXPECT_NEAR(bench.dataInfo().zero, x00.zero + 0.01, 1e-12);

    // Saved and opened again, the project reads the same curve.
    ASSERT_TRUE(bench.save());
    Workbench again(platform);
    ASSERT_TRUE(again.open(project)) << again.message();
    EXPECT_EQ(again.curve().angle.size(), bench.curve().angle.size());
    EXPECT_NEAR(again.curve().angle.front(), bench.curve().angle.front(), 1e-6);
}

}  // namespace
}  // namespace kelvarin::workbench
