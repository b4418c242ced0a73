// The fit core on its own: the problem scores exactly as the windows' evaluation does, the search
// is the same for any number of threads and finds a known minimum, parameter tables and project
// files refuse what cannot be fitted, and the sample path with damage behaves as the physics says.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "engine/engine_error.hpp"
#include "engine/layered.hpp"
#include "engine/sample.hpp"
#include "fit/fit_problem.hpp"
#include "fit/problem_evaluator.hpp"
#include "fit/project_file.hpp"
#include "fit/project_refusals.hpp"
#include "fit/synthetic_problem.hpp"

namespace kelvarin::fit {
namespace {

using testing::gaasState;

FitProblem problemOn(std::shared_ptr<EngineState> state, ProfileKind kind, int layers) {
    FitProblem p(makeProfileModel(kind, layers));
    p.addDataset(std::move(state), {"width", "arcsec", 8.5L, 7, 10, 1, true}, "synthetic");
    return p;
}

TEST(FitProblem, ScoresExactlyAsTheWindowsEvaluation) {
    struct Case {
        ProfileKind kind;
        ProfileKind model;
        CandidateRow row;
    };
    const Case cases[] = {
        {ProfileKind::TwoGauss, kModelTwoGauss, {8.5f, 0.0042f, 300, 150, 250, 0}},
        {ProfileKind::TwoGauss, kModelTwoGauss, {12.25f, 0.011f, 80, 40, 900, 0}},
        {ProfileKind::PearsonVII, kModelPearsonVII, {9.0f, 300, 1.5f, 200, 1.7f, 0}},
    };
    for (const Case& c : cases) {
        auto state = gaasState(c.model, 16);
        FitProblem problem = problemOn(state, c.kind, 16);
        ASSERT_EQ(problem.validate(), "");
        // Table order: the model's four parameters, then the width; the genes put the width first.
        EXPECT_EQ(problem.geneOrder(), (std::vector<int>{4, 0, 1, 2, 3}));
        const std::vector<Extended> values{c.row[1], c.row[2], c.row[3], c.row[4], c.row[0]};
        ProblemWorkspace ws = problem.makeWorkspace();
        Workspace direct;
        const Extended expected = evaluateProfile(*state, c.row, direct);
        const Extended got = problem.evaluate(values, ws);
        EXPECT_TRUE(got == expected)
            << static_cast<double>(got) << " " << static_cast<double>(expected);

        std::vector<double> residuals;
        problem.residuals(values, ws, residuals);
        double sumAbs = 0, sumLog = 0;
        for (int i = 0; i < ws.datasets[0]->curve.calcCount; ++i)
            sumLog += std::log10(static_cast<double>(state->curveStore.measIntensity[i]));
        for (double r : residuals)
            sumAbs += std::fabs(r);
        ASSERT_EQ(static_cast<int>(residuals.size()), ws.datasets[0]->curve.calcCount);
        EXPECT_NEAR(100 * sumAbs / sumLog, static_cast<double>(expected), 1e-9);
    }
}

/// A smooth bowl over the genes with its minimum at `target`: the search must find it, and the
/// evaluation order must not matter.
class Bowl : public RowEvaluator {
public:
    Evaluation evaluate(const GenePool& pool, int row) override {
        const float* g = pool.row(row);
        double e = 1;
        for (int d = 0; d < pool.genes; ++d)
            e += 100 * (g[d] - 0.3 * (d + 1)) * (g[d] - 0.3 * (d + 1));
        return {e, true, {}};
    }
};

TEST(Evolutionary, FindsTheMinimumOfABowlAndSaysHowItEnded) {
    GenePool pool(3, 40);
    pool.generator.seed(7);
    EvolutionaryOptions opt;
    opt.lo = {0, 0, 0};
    opt.hi = {2, 2, 2};
    opt.maxMutation = {0.05L, 0.05L, 0.05L};
    opt.generations = 150;
    for (int r = 0; r < pool.size; ++r)
        drawRow(pool, pool.row(r), opt.lo, opt.hi);
    Bowl bowl;
    const SearchResult r = runEvolutionary(pool, bowl, opt);
    ASSERT_EQ(r.summary.termination, Termination::Finished) << r.summary.message;
    EXPECT_LT(r.bestError, 1.2);
    EXPECT_NEAR(static_cast<double>(r.bestGenes[2]), 0.9, 0.05);
    EXPECT_GT(r.summary.evaluations, 150 * 40);
    EXPECT_NE(r.summary.brief().find("finished"), std::string::npos);

    // Refusals before anything changes: too small a pool, limits that do not fit the genes.
    GenePool tiny(3, 1);
    EXPECT_EQ(runEvolutionary(tiny, bowl, opt).summary.termination, Termination::Failed);
    EvolutionaryOptions missing = opt;
    missing.maxMutation.pop_back();
    const SearchResult refused = runEvolutionary(pool, bowl, missing);
    EXPECT_EQ(refused.summary.termination, Termination::Failed);
    EXPECT_NE(refused.summary.message.find("mutation step"), std::string::npos);
}

TEST(Evolutionary, OnAProblemTheSameForAnyNumberOfThreads) {
    auto run = [](int threads) {
        auto state = gaasState(kModelTwoGauss, 12);
        FitProblem problem = problemOn(state, ProfileKind::TwoGauss, 12);
        GenePool pool(5, 12);
        pool.generator.seed(99);
        EvolutionaryOptions opt;
        opt.lo = {7, 0.003L, 50, 50, 50};
        opt.hi = {10, 0.005L, 800, 800, 800};
        opt.maxMutation = {1, 0.0005L, 10, 10, 10};
        opt.generations = 4;
        for (int r = 0; r < pool.size; ++r)
            drawRow(pool, pool.row(r), opt.lo, opt.hi);
        ProblemEvaluator evaluator(problem, threads);
        const SearchResult result = runEvolutionary(pool, evaluator, opt);
        return std::make_tuple(pool.population, result.finalError, result.bestErrorByPass,
                               state->curveStore.calcMax,
                               std::vector<Extended>(state->curveStore.calcCurve.begin(),
                                                     state->curveStore.calcCurve.begin() + 400));
    };
    const auto one = run(1);
    EXPECT_EQ(run(2), one);
    EXPECT_EQ(run(3), one);
}

TEST(ParameterTable, RefusesWhatCannotBeFittedNamingTheParameter) {
    struct Case {
        Parameter p;
        const char* expected;  // part of the reason; "" when the table is sound
    };
    const Case cases[] = {
        {{"tau", "", 0.004L, 0.003L, 0.005L, 0.0005L, true}, ""},
        {{"tau", "", 0.004L, 0.005L, 0.003L, 0.0005L, true}, "minimum"},
        {{"ro", "Å", 900, 50, 800, 10, true}, "outside"},
        {{"ro", "Å", 900, 50, 800, 10, false}, ""},  // a fixed value need not lie within
        {{"w", "", 1, 0, 2, -1, true}, "negative mutation"},
        {{"w", "", NAN, 0, 2, 1, true}, "not a number"},
    };
    for (const Case& c : cases) {
        ParameterTable t;
        t.add(c.p);
        const std::string why = t.validate();
        if (std::string(c.expected).empty()) {
            EXPECT_EQ(why, "") << c.p.name;
        } else {
            EXPECT_NE(why.find(c.expected), std::string::npos) << why;
            EXPECT_NE(why.find(c.p.name), std::string::npos) << why;
        }
    }
    ParameterTable twice;
    twice.add({"tau", "", 0, 0, 1, 0, true});
    twice.add({"tau", "", 0, 0, 1, 0, true});
    EXPECT_NE(twice.validate().find("twice"), std::string::npos);
}

TEST(FitProblem, EachDatasetKeepsItsPhysicsAndReportsCurvesBeyondTheirTheory) {
    auto s = gaasState(kModelTwoGauss, 16);
    FitProblem p(makeProfileModel(ProfileKind::TwoGauss, 16));
    p.addDataset(s, {"width", "arcsec", 8.5L, 7, 10, 1, true}, "thick.dat");
    p.setSinglePrecision(false);
    ProblemWorkspace ws = p.makeWorkspace();
    // The centroid of the substrate peak, −40…50″.
    const auto peakAngle = [&] {
        const ComputedCurve& c = ws.datasets[0]->curve;
        double sum = 0, moment = 0;
        for (int i = 0; i < c.calcCount; ++i) {
            const double t = static_cast<double>(c.calcAngle[static_cast<std::size_t>(i)]);
            const double r = static_cast<double>(c.calcRaw[static_cast<std::size_t>(i)]);
            if (t >= -40 && t <= 50) sum += r, moment += r * t;
        }
        return moment / sum;
    };
    // A thin profile: the full physics moves the substrate peak by refraction.
    s->theoryChoice = kTheoryDynamical;
    p.evaluate(std::vector<Extended>{0.004L, 300, 150, 250, 8.5L}, ws);
    const double classic = peakAngle();
    PhysicsOptions sigma = fullPhysicsDefaults();
    sigma.polarisation = Polarisation::Sigma;
    p.setPhysics(0, sigma);
    p.evaluate(std::vector<Extended>{0.004L, 300, 150, 250, 8.5L}, ws);
    EXPECT_NEAR(peakAngle() - classic, 6.5, 1);
    EXPECT_TRUE(rangeWarnings(p, ws).empty());
    // Lamellae 10 µm deep in all: beyond the kinematical theory, not the dynamical one.
    const std::vector<Extended> thick{0.01L, 20000, 5000, 5000, 8.5L};
    s->theoryChoice = kTheoryKinematical;
    p.evaluate(thick, ws);
    const std::vector<std::string> warnings = rangeWarnings(p, ws);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_NE(warnings[0].find("'thick.dat'"), std::string::npos) << warnings[0];
    s->theoryChoice = kTheoryDynamical;
    p.evaluate(thick, ws);
    EXPECT_TRUE(rangeWarnings(p, ws).empty());
}

constexpr const char* kProject = R"([sample]
substrate = "GaAs"

[profile]
model = "2gauss"
layers = 12
tau = { value = 0.004, min = 0.003, max = 0.005 }
ro = 300
sigma1 = { value = 150, min = 50, max = 800, max_mutation = 10 }
sigma2 = { value = 250, min = 50, max = 800, fixed = true }

[[dataset]]
file = "measured.dat"
hkl = [0, 0, 4]
wavelength = 1.43807
width = { value = 8.5, min = 7, max = 10 }
scaling = "lsm-scale-and-background"
background = 30
theory = "kinematical"

[fit]
population = 20
generations = 5
seed = 42
)";

TEST(ProjectFile, ReadsWritesAndReadsBackTheSameProject) {
    const Project p = parseProject(kProject, "p.toml");
    ASSERT_EQ(p.profileParameters.size(), 4u);
    EXPECT_FALSE(p.profileParameters[1].free);  // a plain number fixes a parameter
    EXPECT_FALSE(p.profileParameters[3].free);
    EXPECT_TRUE(p.profileParameters[2].free);
    EXPECT_EQ(p.datasets[0].radiation.index, kSynchrotron);
    EXPECT_EQ(p.datasets[0].scaling, Scaling::FitBackground);
    EXPECT_EQ(p.datasets[0].theory, Theory::Kinematical);
    EXPECT_TRUE(p.fit.seeded);

    // A project computes the full physics unless it says otherwise, for a σ-polarised
    // synchrotron beam or an unpolarised tube beam.
    EXPECT_EQ(p.datasets[0].physics, PhysicsModel::Full);
    EXPECT_EQ(p.datasets[0].polarisation, Polarisation::Sigma);
    std::string tube = kProject;
    tube.replace(tube.find("wavelength = 1.43807"), 20, "radiation = \"Cua1\"");
    EXPECT_EQ(parseProject(tube, "t.toml").datasets[0].polarisation, Polarisation::Unpolarised);

    const std::string text = projectText(p);
    const Project again = parseProject(text, "again.toml");
    EXPECT_EQ(projectText(again), text);
    std::string physics = kProject;
    physics.insert(physics.find("[fit]"),
                   "physics = \"full\"\npolarisation = \"sigma\"\nmonochromator = \"Ge440\"\n"
                   "geometry = \"grazing-exit\"\nsurface = [0, 0, 1]\n\n");
    const Project named = parseProject(projectText(parseProject(physics, "n.toml")), "n.toml");
    EXPECT_EQ(named.datasets[0].polarisation, Polarisation::Sigma);
    EXPECT_EQ(named.datasets[0].monochromator, "Ge440");
    EXPECT_EQ(named.datasets[0].geometry, ScatteringGeometry::GrazingExit);
    EXPECT_EQ(again.profileLayers, 12);
    EXPECT_EQ(again.profileParameters[0].max, p.profileParameters[0].max);
    EXPECT_EQ(again.datasets[0].width.min, 7);
}

TEST(ProjectFile, RefusesBadKeysWithFileLineAndKey) {
    const testing::ProjectEdit cases[] = {
        {"layers = 12", "layers = 50", "'profile.layers'"},
        {"layers = 12", "layers = \"12\"", "whole number"},
        {"theory = \"kinematical\"", "theory = \"quantum\"", "'dataset.theory'"},
        {"population = 20", "populaton = 20", "'fit.populaton' is not known"},
        {"substrate = \"GaAs\"", "substrate = \"Unobtainium\"", "catalogue"},
        {"min = 0.003, max = 0.005", "min = 0.005, max = 0.003", "minimum below"},
        {"hkl = [0, 0, 4]", "hkl = [0, 0]", "[h, k, l]"},
        {"wavelength = 1.43807", "radiation = \"Xxa1\"", "Unknown radiation"},
        {"theory = \"kinematical\"", "physics = \"exact\"", "'dataset.physics'"},
        {"theory = \"kinematical\"", "polarisation = \"circular\"", "'dataset.polarisation'"},
        {"theory = \"kinematical\"", "monochromator = \"Ge111\"", "Ge220, Ge440, Si111"},
        {"theory = \"kinematical\"", "geometry = \"sideways\"", "'dataset.geometry'"},
        {"theory = \"kinematical\"", "surface = [1, 1, 1]", "only the (001) surface"},
        {"theory = \"kinematical\"", "surface = [0, 0]", "'dataset.surface'"},
        {"theory = \"kinematical\"", "physics = \"classic\"\npolarisation = \"pi\"",
         "needs physics = \"full\""},
    };
    testing::expectRefused(kProject, cases, true);
}

TEST(Sample, APerfectLamellaLeavesTheProfilePathAndDamageWeakensTheLayerAsFSquared) {
    EngineState s;
    storeSetup(buildSetup(Crystal::fromCatalogue("Si"), Reflection{0, 0, 4, Radiation{4, 0}}), s);
    s.theoryChoice = kTheoryDynamical;
    const ScanGrid grid{-900, 1, 1000};
    // A strained profile computed through its sample gives the same curve to the last bit.
    StrainProfile profile;
    strainProfile(CandidateRow{0, 0.006f, 200, 100, 150, 0}, kModelTwoGauss, 10, profile);
    LayerStack a, b;
    layerStack(profile, s, a);
    layerStack(sampleOf(profile), s, b);
    LayeredConstants ca, cb;
    prepareLayered(s, a, ca);
    prepareLayered(s, b, cb);
    ComputedCurve curveA, curveB;
    layeredCurve(ca, kTheoryDynamical, grid, curveA);
    layeredCurve(cb, kTheoryDynamical, grid, curveB);
    EXPECT_TRUE(std::equal(curveA.calcRaw.begin(), curveA.calcRaw.begin() + grid.points,
                           curveB.calcRaw.begin()));

    // A weakly scattering lamella (peak reflectivity below 1 %) so far from the substrate peak
    // that the substrate's tail hardly interferes: its peak height goes as f².
    auto layerPeak = [&](double damage) {
        Sample sample{{Lamella{5000, 0.05, damage}}};
        LayerStack st;
        layerStack(sample, s, st);
        LayeredConstants c;
        prepareLayered(s, st, c);
        ComputedCurve curve;
        layeredCurve(c, kTheoryDynamical, ScanGrid{-9000, 2, 4000}, curve);
        return static_cast<double>(
            *std::max_element(curve.calcRaw.begin(), curve.calcRaw.begin() + 4000));
    };
    const double perfect = layerPeak(1);
    for (double f : {0.8, 0.5, 0.25})
        EXPECT_NEAR(layerPeak(f) / perfect, f * f, 0.02 * f * f) << f;

    // The sample path takes up to 1000 lamellae, and refuses a damage factor outside (0, 1].
    Sample thick{std::vector<Lamella>(1000, Lamella{2, 0.001, 0.9})};
    EXPECT_NO_THROW(validateSample(thick));
    thick.lamellae.push_back(Lamella{2, 0.001, 0.9});
    EXPECT_THROW(validateSample(thick), EngineError);
    EXPECT_THROW(validateSample(Sample{{Lamella{10, 0, 1.5}}}), EngineError);
    LayerStack st;
    EXPECT_THROW(layerStack(Sample{{Lamella{10, 0, 0}}}, s, st), CandidateRejected);
}

}  // namespace
}  // namespace kelvarin::fit
