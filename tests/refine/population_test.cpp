// The random generator and the genetic operators: exact draws, draw counts and edge cases.
#include <gtest/gtest.h>

#include <cstdint>

#include "app/application.hpp"
#include "refine/default_limits.hpp"
#include "refine/formrefine.hpp"
#include "refine/population.hpp"
#include "support/app_fixture.hpp"

namespace kelvarin {
namespace {

/// The generator written out from its definition: state·22695477 + 1 mod 2^32, bits 16..30.
struct ReferenceLcg {
    std::uint64_t state;
    explicit ReferenceLcg(std::uint32_t seed) : state(seed) { next(); }
    int next() {
        state = (state * 22695477ull + 1ull) % 4294967296ull;
        return static_cast<int>((state / 65536) % 32768);
    }
};

TEST(CRandom, FirstValuesAfterKnownSeeds) {
    // Values worked out by hand from the recurrence.
    const struct {
        std::uint32_t seed;
        int values[6];
    } cases[] = {
        {1, {130, 10982, 1090, 11656, 7117, 17595}},
        {12345, {24996, 10921, 23577, 19316, 10386, 21959}},
        {1765152000u, {18946, 11927, 29526, 26361, 3115, 1243}},
    };
    for (const auto& c : cases) {
        CRandom g;
        g.seed(c.seed);
        for (int v : c.values)
            EXPECT_EQ(g.next(), v) << "seed " << c.seed;
    }
}

TEST(CRandom, MatchesTheRecurrenceOverALongStretchAndWrapsTheState) {
    CRandom g;
    g.seed(0xFFFFFFFFu);
    ReferenceLcg ref(0xFFFFFFFFu);
    for (int i = 0; i < 100000; ++i)
        ASSERT_EQ(g.next(), ref.next()) << "draw " << i;
}

TEST(UniformDraw, GridOfTenThousandStepsFromAUpToButExcludingB) {
    CRandom g;
    g.seed(1);  // first values 130, 10982, 1090
    EXPECT_EQ(uniformDraw(g, 0, 1), 130 * 0.0001L);
    EXPECT_EQ(uniformDraw(g, 10, 20), 10 + 982 * 10 * 0.0001L);  // 10982 mod 10000 = 982
    // Reversed limits: the draw runs from a towards b.
    EXPECT_EQ(uniformDraw(g, 10, 7), 10 + 1090 * (-3) * 0.0001L);

    // Equal limits give the limit and still advance the generator once.
    CRandom h;
    h.seed(1);
    const auto before = h.draws();
    EXPECT_EQ(uniformDraw(h, 0, 0), 0);
    EXPECT_EQ(uniformDraw(h, 5, 5), 5);
    EXPECT_EQ(h.draws(), before + 2);
    EXPECT_EQ(h.next(), 1090);

    // Over many draws the values stay in [a, b) and (b, a] respectively.
    for (int i = 0; i < 20000; ++i) {
        const Extended u = uniformDraw(g, 0, 1);
        ASSERT_GE(u, 0);
        ASSERT_LE(u, 0.9999L);
        const Extended r = uniformDraw(g, 10, 7);
        ASSERT_GT(r, 7);
        ASSERT_LE(r, 10);
    }
}

RefineState seededState(int n, std::uint32_t seed = 99) {
    RefineState s;
    s.nelements = n;
    s.generator.seed(seed);
    RefineSettings& r = s.refineSettings;
    testing::setDesignLimits(r);
    for (int i = 0; i < kMaxPopulation; ++i)
        for (int j = 0; j < kCandidateColumns; ++j)
            s.population[i][j] = static_cast<float>(100 * i + j);
    return s;
}

TEST(Crossover, EachGeneFollowsItsCoinAndChildrenAreComplementary) {
    RefineState s = seededState(10);
    ReferenceLcg ref(99);
    crossover(s, 3, 7, 1);
    for (int d = 0; d < kGeneCount; ++d) {
        const bool odd = ref.next() % 2 == 1;
        EXPECT_EQ(s.offspring[1][d], s.population[odd ? 3 : 7][d]) << d;
        EXPECT_EQ(s.offspring[2][d], s.population[odd ? 7 : 3][d]) << d;
    }
    EXPECT_EQ(s.offspring[1][kColError], 0);  // the error column is not bred
    EXPECT_EQ(s.generator.next(), ref.next());

    // A row crossed with itself gives two copies and still takes five draws.
    const auto before = s.generator.draws();
    crossover(s, 4, 4, 5);
    EXPECT_EQ(s.generator.draws(), before + 5);
    for (int d = 0; d < kGeneCount; ++d) {
        EXPECT_EQ(s.offspring[5][d], s.population[4][d]);
        EXPECT_EQ(s.offspring[6][d], s.population[4][d]);
    }
}

TEST(Mutate, PerturbsTheChosenGenesWithOwnCoinAndDraw) {
    // Walk through many mutations against the reference generator and check every change.
    RefineState s = seededState(10, 4242);
    ReferenceLcg ref(4242);
    const Extended maxMut[kGeneCount] = {1, 0.0005L, 10, 10, 10};
    int seen[5] = {};
    for (int it = 0; it < 500; ++it) {
        const Candidate before = s.population[5];
        mutate(s, 5);
        const int r = ref.next() % 5;
        ++seen[r];
        Candidate expected = before;
        auto perturb = [&](int d) {
            const bool up = ref.next() % 2 == 1;
            const Extended m = (ref.next() % 10000) * maxMut[d] * 0.0001L;
            expected[d] =
                static_cast<float>(up ? Extended(before[d]) + m : Extended(before[d]) - m);
        };
        if (r == 0) {
            perturb(kColW);
            perturb(kColTau);
        } else {
            perturb(r);
        }
        ASSERT_EQ(s.population[5], expected) << "mutation " << it << " choice " << r;
    }
    for (int r = 0; r < 5; ++r)
        EXPECT_GT(seen[r], 50);
}

TEST(Mutate, NeverClampsAndZeroMaximumStillDraws) {
    RefineState s = seededState(10);
    s.refineSettings.maxMutTau = 0;
    s.refineSettings.maxMutSigma1 = 1000;  // far beyond the limits 50..800
    s.population[2][kColSigma1] = 60;
    const float tau = s.population[2][kColTau];
    bool outside = false;
    for (int it = 0; it < 400; ++it) {
        const auto before = s.generator.draws();
        mutate(s, 2);
        const auto used = s.generator.draws() - before;
        EXPECT_TRUE(used == 3 || used == 5) << used;  // choice + (coin, draw) per gene
        EXPECT_EQ(s.population[2][kColTau], tau);
        const float v = s.population[2][kColSigma1];
        if (v < 50 || v > 800) outside = true;
    }
    EXPECT_TRUE(outside);
}

TEST(RedrawPopulation, KeepsTheElitesAndRedrawsTheRestInOrder) {
    RefineState s = seededState(6, 7);
    ReferenceLcg ref(7);
    const Candidate kept = s.population[3];
    redrawPopulation(s, 3);
    for (int d = 0; d < kGeneCount; ++d) {
        EXPECT_EQ(s.population[0][d], kept[d]);
        EXPECT_EQ(s.population[5][d], kept[d]);
    }
    const RefineSettings& r = s.refineSettings;
    const Extended lo[5] = {r.wLo, r.tauLo, r.roLo, r.sigma1Lo, r.sigma2Lo};
    const Extended hi[5] = {r.wHi, r.tauHi, r.roHi, r.sigma1Hi, r.sigma2Hi};
    for (int j = 1; j <= 4; ++j) {
        for (int d = 0; d < kGeneCount; ++d) {
            const float v =
                static_cast<float>(lo[d] + (ref.next() % 10000) * (hi[d] - lo[d]) * 0.0001L);
            EXPECT_EQ(s.population[j][d], v) << j << "," << d;
        }
        // The error column keeps its old value until the next evaluation.
        EXPECT_EQ(s.population[j][kColError], 100 * j + kColError);
    }
    EXPECT_EQ(s.population[6], seededState(6).population[6]);  // beyond nelements: untouched
}

TEST(RedrawPopulation, SizeThreeRedrawsOnlyTheMiddleRow) {
    RefineState s = seededState(3);
    const Candidate row0 = s.population[0];
    const auto before = s.generator.draws();
    redrawPopulation(s, 0);
    EXPECT_EQ(s.generator.draws(), before + 5);
    EXPECT_EQ(s.population[0], row0);
    for (int d = 0; d < kGeneCount; ++d)
        EXPECT_EQ(s.population[2][d], row0[d]);
    EXPECT_EQ(s.population[2][kColError], 200 + kColError);
}

class PopulationWindowTest : public testing::AppTest {};

TEST_P(PopulationWindowTest, NewPopulationReadsTheWorkingCopyOfTheLimits) {
    RefineState& s = app->refine();
    s.nelements = 4;
    s.generator.seed(5);
    Tformrefine& f = app->formrefine();
    f.wmin.text = num("2.5");
    f.wmax.text = "2,5";  // either separator is accepted in these fields
    f.maxmuttau.text = num("0.25");
    newPopulation(*app, 0);
    EXPECT_EQ(s.refineSettings.wLo, 2.5L);
    EXPECT_EQ(s.refineSettings.wHi, 2.5L);
    EXPECT_EQ(s.refineSettings.maxMutTau, 0.25L);
    EXPECT_EQ(s.population[1][kColW], 2.5f);
    EXPECT_EQ(s.population[2][kColW], 2.5f);

    // A bad limit stops after the elite rows were written; the middle rows stay.
    s.population[0][kColTau] = 42;
    const Candidate middle = s.population[1];
    f.rof.text = "eight hundred";
    EXPECT_THROW(newPopulation(*app, 0), ConversionError);
    EXPECT_EQ(s.population[3][kColTau], 42);
    EXPECT_EQ(s.population[1], middle);
}

TEST_P(PopulationWindowTest, ShowPopulationWritesRowIIntoGridRowI) {
    RefineState& s = app->refine();
    s.nelements = 3;
    s.population[0] = {8.5f, 0.0041769f, 496.09f, 830.8f, 646.39f, 12.25f};
    s.population[2][kColError] = 1.5f;
    StringGrid& grid = app->formrefine().StringGrid1;
    grid.setRowCount(4);
    grid.setCell(0, 3, "untouched");
    showPopulation(*app);
    EXPECT_EQ(grid.cell(0, 0), num("8.5"));  // the header row is overwritten by row 0
    EXPECT_EQ(grid.cell(5, 0), num("12.25"));
    EXPECT_EQ(grid.cell(5, 2), num("1.5"));
    EXPECT_EQ(grid.cell(0, 3), "untouched");
    // Every text gives back the stored single-precision value.
    for (int j = 0; j < kCandidateColumns; ++j)
        EXPECT_EQ(static_cast<float>(app->locale().textToFloat(grid.cell(j, 0))),
                  s.population[0][j])
            << j;
}

KELVARIN_BOTH_SEPARATORS(PopulationWindowTest);

}  // namespace
}  // namespace kelvarin
