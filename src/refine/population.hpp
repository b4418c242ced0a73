// Genetic operators on the candidate tables: random redraw within the limits, uniform
// crossover, mutation, and the copy of the table into the progress window's grid.
#pragma once

#include <string>

#include "refine/refine_state.hpp"

namespace kelvarin {

class Application;

/// Draws the five genes of one row within the limits, in the order w, tau, ro, sigma1, sigma2
/// (five draws), each stored in single precision. The error column is left alone.
void drawGenes(RefineState& state, Candidate& row, Extended wLo, Extended wHi, Extended tauLo,
               Extended tauHi, Extended roLo, Extended roHi, Extended sigma1Lo, Extended sigma1Hi,
               Extended sigma2Lo, Extended sigma2Hi);

/// Copies the genes of row `keep` into rows 0 and nelements − 1 and redraws rows 1 to
/// nelements − 2 within the limits held in refineSettings.
void redrawPopulation(RefineState& state, int keep);

/// The full "new population": keeps row `keep` in the two elite rows, reads the limits and the
/// maximum mutations from the progress window's working copy, and redraws the other rows.
/// A limit that is not a number throws ConversionError after the elite rows were written.
void newPopulation(Application& app, int keep);

/// Uniform crossover of parent rows p1 and p2 into offspring rows c and c + 1: one coin toss
/// per gene decides which child takes which parent's value. Five draws.
void crossover(RefineState& state, int p1, int p2, int c);

/// Perturbs one or two genes of row k by up to their maximum mutation, up or down. The result
/// is not clamped to the limits.
void mutate(RefineState& state, int k);

/// Writes population rows 0 to nelements − 1 into the progress grid, row i into grid row i
/// (so row 0 covers the header).
void showPopulation(Application& app);

/// Text of one stored single-precision value for the grids: the general form with the fewest
/// digits that give back the same float.
std::string candidateText(const Application& app, float value);

}  // namespace kelvarin
