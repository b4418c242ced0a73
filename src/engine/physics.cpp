#include "engine/physics.hpp"

#include <cmath>

#include "engine/engine_error.hpp"

namespace kelvarin {

namespace {

/// A monochromator crystal and the spacing of its reflection, Å (cubic: a/√(h² + k² + l²), with
/// a = 5.6579 Å for Ge and 5.43102 Å for Si at room temperature).
struct Monochromator {
    const char* name;
    double spacing;
};

constexpr Monochromator kMonochromators[] = {
    {"Ge220", 5.6579 / 2.8284271247461903},
    {"Ge440", 5.6579 / 5.6568542494923806},
    {"Si111", 5.43102 / 1.7320508075688772},
    {"Si220", 5.43102 / 2.8284271247461903},
};

}  // namespace

std::optional<PhysicsModel> physicsModelNamed(std::string_view name) {
    if (name == "classic") return PhysicsModel::Classic;
    if (name == "full") return PhysicsModel::Full;
    return std::nullopt;
}

std::optional<Polarisation> polarisationNamed(std::string_view name) {
    if (name == "sigma") return Polarisation::Sigma;
    if (name == "pi") return Polarisation::Pi;
    if (name == "unpolarised") return Polarisation::Unpolarised;
    return std::nullopt;
}

std::optional<ScatteringGeometry> geometryNamed(std::string_view name) {
    if (name == "symmetric") return ScatteringGeometry::Symmetric;
    if (name == "grazing-incidence") return ScatteringGeometry::GrazingIncidence;
    if (name == "grazing-exit") return ScatteringGeometry::GrazingExit;
    return std::nullopt;
}

const char* physicsModelName(PhysicsModel model) {
    return model == PhysicsModel::Full ? "full" : "classic";
}

const char* polarisationName(Polarisation polarisation) {
    switch (polarisation) {
        case Polarisation::Sigma:
            return "sigma";
        case Polarisation::Pi:
            return "pi";
        case Polarisation::Unpolarised:
            break;
    }
    return "unpolarised";
}

const char* geometryName(ScatteringGeometry geometry) {
    switch (geometry) {
        case ScatteringGeometry::Symmetric:
            return "symmetric";
        case ScatteringGeometry::GrazingIncidence:
            return "grazing-incidence";
        case ScatteringGeometry::GrazingExit:
            return "grazing-exit";
        case ScatteringGeometry::FromMillerIndices:
            break;
    }
    return "";
}

std::optional<double> monochromatorSpacing(std::string_view name) {
    for (const Monochromator& m : kMonochromators)
        if (name == m.name) return m.spacing;
    return std::nullopt;
}

std::string monochromatorNames() {
    std::string names;
    for (const Monochromator& m : kMonochromators) {
        if (!names.empty()) names += ", ";
        names += m.name;
    }
    return names;
}

double monochromatorTwoTheta(std::string_view name, double wavelength) {
    if (name == "none") return 0;
    const std::optional<double> d = monochromatorSpacing(name);
    if (!d) {
        throw EngineError("Unknown monochromator \"" + std::string(name) + "\": choose one of " +
                          monochromatorNames() + " or \"none\".");
    }
    const double sine = wavelength / (2 * *d);
    if (!(sine > 0 && sine < 1)) {
        throw EngineError("The monochromator " + std::string(name) + " cannot reflect the " +
                          "wavelength " + engineNumber(wavelength) + " Å.");
    }
    return 2 * std::asin(sine);
}

}  // namespace kelvarin
