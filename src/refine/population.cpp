#include "refine/population.hpp"

#include <algorithm>

#include "app/application.hpp"
#include "refine/formrefine.hpp"

namespace kelvarin {

namespace {

void perturb(RefineState& state, Candidate& row, int column, Extended maxMutation) {
    const bool up = parityDraw(state.generator);
    const Extended m = uniformDraw(state.generator, 0, maxMutation);
    const Extended value = static_cast<Extended>(row[column]);
    row[column] = static_cast<float>(up ? value + m : value - m);
}

int lastRow(const RefineState& state) {
    return std::clamp(state.nelements, 1, kMaxPopulation) - 1;
}

}  // namespace

void drawGenes(RefineState& state, Candidate& row, Extended wLo, Extended wHi, Extended tauLo,
               Extended tauHi, Extended roLo, Extended roHi, Extended sigma1Lo, Extended sigma1Hi,
               Extended sigma2Lo, Extended sigma2Hi) {
    row[kColW] = static_cast<float>(uniformDraw(state, wLo, wHi));
    row[kColTau] = static_cast<float>(uniformDraw(state, tauLo, tauHi));
    row[kColRo] = static_cast<float>(uniformDraw(state, roLo, roHi));
    row[kColSigma1] = static_cast<float>(uniformDraw(state, sigma1Lo, sigma1Hi));
    row[kColSigma2] = static_cast<float>(uniformDraw(state, sigma2Lo, sigma2Hi));
}

static void copyEliteRows(RefineState& state, int keep) {
    const int last = lastRow(state);
    const Candidate kept = state.population[keep];
    for (int d = 0; d < kGeneCount; ++d) {
        state.population[0][d] = kept[d];
        state.population[last][d] = kept[d];
    }
}

static void redrawInner(RefineState& state) {
    const RefineSettings& s = state.refineSettings;
    for (int j = 1; j <= lastRow(state) - 1; ++j)
        drawGenes(state, state.population[j], s.wLo, s.wHi, s.tauLo, s.tauHi, s.roLo, s.roHi,
                  s.sigma1Lo, s.sigma1Hi, s.sigma2Lo, s.sigma2Hi);
}

void redrawPopulation(RefineState& state, int keep) {
    copyEliteRows(state, keep);
    redrawInner(state);
}

void newPopulation(Application& app, int keep) {
    RefineState& state = app.refine();
    copyEliteRows(state, keep);

    const Tformrefine& f = app.formrefine();
    const Locale& loc = app.locale();
    auto field = [&](const Edit& edit, const char* name) {
        return loc.textToFloat(loc.NormalizeDecimalSeparator(edit.text),
                               std::string(name) + " (Refinement window)");
    };
    RefineSettings& s = state.refineSettings;
    s.wLo = field(f.wmin, "width min. value");
    s.wHi = field(f.wmax, "width max. value");
    s.tauLo = field(f.taui, "tau min. value");
    s.tauHi = field(f.tauf, "tau max. value");
    s.roLo = field(f.roi, "ro min. value");
    s.roHi = field(f.rof, "ro max. value");
    s.sigma1Lo = field(f.sigma1i, "sigma1 min. value");
    s.sigma1Hi = field(f.sigma1f, "sigma1 max. value");
    s.sigma2Lo = field(f.sigma2i, "sigma2 min. value");
    s.sigma2Hi = field(f.sigma2f, "sigma2 max. value");
    s.maxMutW = field(f.maxmutw, "width max mutation");
    s.maxMutTau = field(f.maxmuttau, "tau max mutation");
    s.maxMutRo = field(f.maxmutro, "ro max mutation");
    s.maxMutSigma1 = field(f.maxmutsigma1, "sigma1 max mutation");
    s.maxMutSigma2 = field(f.maxmutsigma2, "sigma2 max mutation");

    redrawInner(state);
}

void crossover(RefineState& state, int p1, int p2, int c) {
    const Candidate& a = state.population[p1];
    const Candidate& b = state.population[p2];
    Candidate& first = state.offspring[c];
    Candidate& second = state.offspring[c + 1];
    for (int d = 0; d < kGeneCount; ++d) {
        if (parityDraw(state.generator)) {
            first[d] = a[d];
            second[d] = b[d];
        } else {
            second[d] = a[d];
            first[d] = b[d];
        }
    }
}

void mutate(RefineState& state, int k) {
    const RefineSettings& s = state.refineSettings;
    Candidate& row = state.population[k];
    switch (state.generator.next() % 5) {
        case 0:
            perturb(state, row, kColW, s.maxMutW);
            perturb(state, row, kColTau, s.maxMutTau);
            break;
        case 1:
            perturb(state, row, kColTau, s.maxMutTau);
            break;
        case 2:
            perturb(state, row, kColRo, s.maxMutRo);
            break;
        case 3:
            perturb(state, row, kColSigma1, s.maxMutSigma1);
            break;
        default:
            perturb(state, row, kColSigma2, s.maxMutSigma2);
            break;
    }
}

std::string candidateText(const Application& app, float value) {
    return app.locale().singleToText(value);
}

void showPopulation(Application& app) {
    const RefineState& state = app.refine();
    StringGrid& grid = app.formrefine().StringGrid1;
    const int n = std::clamp(state.nelements, 0, kMaxPopulation);
    for (int i = 0; i < n; ++i)
        for (int j = 0; j < kCandidateColumns; ++j)
            grid.setCell(j, i, candidateText(app, state.population[i][j]));
}

}  // namespace kelvarin
