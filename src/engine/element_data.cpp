#include "engine/element_data.hpp"

#include <xraylib/xraylib.h>

#include <cmath>

#include "engine/engine_error.hpp"
#include "engine/numio.hpp"
#include "engine/scattering.hpp"
#include "engine/scattering_catalogue.hpp"

namespace kelvarin {

namespace {

constexpr std::array<std::string_view, kMaxAtomicNumber + 1> kSymbols = {
    "",   "H",  "He", "Li", "Be", "B",  "C",  "N",  "O",  "F",  "Ne", "Na", "Mg", "Al", "Si", "P",
    "S",  "Cl", "Ar", "K",  "Ca", "Sc", "Ti", "V",  "Cr", "Mn", "Fe", "Co", "Ni", "Cu", "Zn", "Ga",
    "Ge", "As", "Se", "Br", "Kr", "Rb", "Sr", "Y",  "Zr", "Nb", "Mo", "Tc", "Ru", "Rh", "Pd", "Ag",
    "Cd", "In", "Sn", "Sb", "Te", "I",  "Xe", "Cs", "Ba", "La", "Ce", "Pr", "Nd", "Pm", "Sm", "Eu",
    "Gd", "Tb", "Dy", "Ho", "Er", "Tm", "Yb", "Lu", "Hf", "Ta", "W",  "Re", "Os", "Ir", "Pt", "Au",
    "Hg", "Tl", "Pb", "Bi", "Po", "At", "Rn", "Fr", "Ra", "Ac", "Th", "Pa", "U"};

/// Photon energy (keV) of a wavelength (Å): E = hc/λ with hc = 12.398419843 keV·Å.
double energyKeV(Extended lambda) {
    return 12.398419843320026 / static_cast<double>(lambda);
}

/// A value from xraylib; its error (an energy outside its tables) becomes a MaterialError.
template <class Call>
double fromXraylib(const std::string& what, Call&& call) {
    xrl_error* error = nullptr;
    const double v = call(&error);
    if (error != nullptr) {
        const std::string message = error->message != nullptr ? error->message : "no data";
        xrl_clear_error(&error);
        throw MaterialError(what + ": " + message);
    }
    return v;
}

}  // namespace

int atomicNumber(std::string_view symbol) {
    for (int z = 1; z <= kMaxAtomicNumber; ++z)
        if (kSymbols[static_cast<std::size_t>(z)] == symbol) return z;
    return 0;
}

std::string elementSymbol(int z) {
    if (z < 1 || z > kMaxAtomicNumber) return {};
    return std::string(kSymbols[static_cast<std::size_t>(z)]);
}

ResolvedElement::ResolvedElement(std::string_view symbol, int radiationIndex, Extended lambda)
    : symbol_(symbol), z_(kelvarin::atomicNumber(symbol)) {
    if (z_ == 0)
        throw MaterialError("'" + symbol_ + "' is not an element symbol (H to U, as in \"Zr\")");
    if (radiationIndex >= 0 && radiationIndex < kSynchrotron)
        lambda = tubeWavelength(radiationIndex);
    if (!(lambda > 0) || !std::isfinite(lambda))
        throw MaterialError("The wavelength " + engineNumber(lambda) +
                            " Å is not a positive number");
    const ElementScattering* builtIn = findElement(symbol_);
    if (builtIn != nullptr) {
        // The six-term sets of the built-in tables, as the two-site crystals take them.
        tables_ = true;
        for (std::size_t set = 0; set < 3; ++set)
            for (std::size_t j = 0; j < 6; ++j) {
                t_[set][j + 1] = builtIn->sets[set].a[j];
                t_[set + 3][j + 1] = builtIn->sets[set].b[j];
            }
    }
    if (builtIn != nullptr && radiationIndex >= 0 && radiationIndex < kSynchrotron) {
        const auto& pair = builtIn->tube[static_cast<std::size_t>(radiationIndex)];
        anomalous_ = {pair.fReal, pair.fImag};
        source_ = "built-in tables";
        return;
    }
    if (builtIn != nullptr) {
        // A shipped dispersion file that covers the wavelength wins over the library.
        std::string path;
        try {
            path = findDispersionFile(symbol_ + "lambda.dat", dispersionSearchPath());
        } catch (const DataFileError&) {
            path.clear();
        }
        if (!path.empty()) {
            const std::vector<DispersionRow> rows = readDispersionFile(path);
            try {
                const DispersionRow row = interpolateDispersion(rows, lambda, path);
                anomalous_ = {row.fReal, row.fImag};
                source_ = "built-in tables, shipped dispersion file";
                return;
            } catch (const DataFileError&) {
                // The wavelength lies outside the file: the library takes over.
            }
        }
    }
    const double e = energyKeV(lambda);
    const std::string what = "xraylib data of " + symbol_ + " at " + engineNumber(lambda) + " Å";
    anomalous_.fReal = fromXraylib(what, [&](xrl_error** err) { return Fi(z_, e, err); });
    // xraylib gives f'' with the opposite sign; here f'' > 0 is absorption.
    anomalous_.fImag =
        std::fabs(fromXraylib(what, [&](xrl_error** err) { return Fii(z_, e, err); }));
    source_ = tables_ ? "built-in tables, xraylib f', f''" : "xraylib";
}

Extended ResolvedElement::formFactor(Extended s) const {
    if (tables_) return kelvarin::formFactor(t_[0], t_[1], t_[2], t_[3], t_[4], t_[5], s);
    xrl_error* error = nullptr;
    const double f = FF_Rayl(z_, static_cast<double>(s), &error);
    if (error != nullptr) {
        xrl_clear_error(&error);
        return 0;
    }
    return f;
}

bool dispersionFileCovers(std::string_view symbol, Extended lambda) {
    std::string path;
    try {
        path = findDispersionFile(std::string(symbol) + "lambda.dat", dispersionSearchPath());
    } catch (const DataFileError&) {
        return true;
    }
    const std::vector<DispersionRow> rows = readDispersionFile(path);
    try {
        interpolateDispersion(rows, lambda, path);
    } catch (const DataFileError&) {
        return false;
    }
    return true;
}

std::string xraylibVersion() {
#ifdef KELVARIN_XRAYLIB_VERSION
    return KELVARIN_XRAYLIB_VERSION;
#else
    return "unknown";
#endif
}

}  // namespace kelvarin
