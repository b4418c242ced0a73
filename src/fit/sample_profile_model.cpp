#include "fit/sample_profile_model.hpp"

#include <algorithm>
#include <cmath>
#include <string>

#include "engine/engine_error.hpp"
#include "engine/numio.hpp"
#include "fit/bspline.hpp"

namespace kelvarin::fit {

namespace {

[[noreturn]] void reject(const std::string& parameter, Extended value, const std::string& why) {
    throw CandidateRejected("The parameter " + parameter + " = " +
                            engineNumber(static_cast<double>(value)) + " " + why + ".");
}

std::string numbered(const char* stem, std::size_t i) {
    return stem + std::to_string(i + 1);
}

}  // namespace

const char* damageKindName(DamageKind kind) {
    switch (kind) {
        case DamageKind::None:
            return "none";
        case DamageKind::Proportional:
            return "proportional";
        case DamageKind::BSpline:
            break;
    }
    return "bspline";
}

SampleProfileModel::SampleProfileModel(const ProfileSettings& settings) : settings_(settings) {
    if (settings.layers < 1 || settings.layers > kMaxLayers)
        throw EngineError("The number of layers must lie between 1 and " +
                          std::to_string(kMaxLayers) + " (it is " +
                          std::to_string(settings.layers) + ").");
    if (settings.strain == ProfileKind::BSpline && settings.weights < 4)
        throw EngineError("The B-spline strain needs 4 weights or more (weights = " +
                          std::to_string(settings.weights) + ").");
    if (settings.damage == DamageKind::BSpline && settings.damageWeights < 4)
        throw EngineError("The B-spline damage needs 4 weights or more (damage_weights = " +
                          std::to_string(settings.damageWeights) + ").");
    if (settings.strain == ProfileKind::Boxes &&
        (settings.boxes < 1 || settings.boxes > kMaxSampleLamellae))
        throw EngineError("The boxes model needs 1 to " + std::to_string(kMaxSampleLamellae) +
                          " boxes (boxes = " + std::to_string(settings.boxes) + ").");
    if (settings.strain == ProfileKind::Boxes && settings.damage != DamageKind::None)
        throw EngineError(
            "Each box has its own damage factor; the boxes model takes no damage "
            "model (damage = \"" +
            std::string(damageKindName(settings.damage)) + "\").");
    if (settings.strain == ProfileKind::IonProfile) {
        if (settings.damage == DamageKind::BSpline)
            throw EngineError(
                "The ion-profile model takes the damage \"proportional\" or "
                "\"none\".");
        double peak = 0;
        for (const auto& point : settings.ionProfile)
            peak = std::max(peak, point[1]);
        if (!(peak > 0)) throw EngineError("The ion profile has no concentration above 0.");
        if (settings.ionProfile.back()[0] / settings.maxLamella > kMaxSampleLamellae)
            throw EngineError("The ion profile is deeper than " +
                              std::to_string(kMaxSampleLamellae) +
                              " lamellae of lamella_thickness.");
    }
    if (!(settings.maxLamella > 0) || !std::isfinite(settings.maxLamella))
        throw EngineError(
            "The lamella thickness of the B-spline must be above 0 Å "
            "(lamella_thickness = " +
            engineNumber(settings.maxLamella) + ").");
}

std::vector<Parameter> SampleProfileModel::declare() const {
    std::vector<Parameter> out;
    switch (settings_.strain) {
        case ProfileKind::TwoGauss:
            out = {{"tau", "", 0.0042L, 0.003L, 0.005L, 0.0005L, true},
                   {"ro", "Å", 300, 50, 800, 10, true},
                   {"sigma1", "Å", 150, 50, 800, 10, true},
                   {"sigma2", "Å", 250, 50, 800, 10, true},
                   // The stack spans depth_ratio·ro; 5 is the windows' stack.
                   {"depth_ratio", "", 5, 5, 5, 0, false}};
            break;
        case ProfileKind::PearsonVII:
            out = {{"xc", "Å", 300, 50, 800, 10, true},
                   {"A", "", 1, 0.1L, 10, 0.1L, true},
                   {"w", "Å", 200, 50, 800, 10, true},
                   {"mu", "", 2, 0.6L, 20, 0.5L, true},
                   {"thickness", "Å", kPearsonThickness, kPearsonThickness, kPearsonThickness, 0,
                    false}};
            break;
        case ProfileKind::Boxes:
            for (std::size_t i = 0; i < static_cast<std::size_t>(settings_.boxes); ++i) {
                const std::string box = numbered("box", i) + "_";
                out.push_back({box + "thickness", "Å", 100, 10, 1000, 20, true});
                out.push_back({box + "strain", "%", 0.5L, -1, 3, 0.1L, true});
                out.push_back({box + "damage", "", 1, 1, 1, 0, false});
            }
            break;
        case ProfileKind::IonProfile:
            out.push_back({"strain_max", "%", 1, 0.1L, 3, 0.1L, true});
            break;
        case ProfileKind::BSpline:
            out.push_back({"depth", "Å", 1500, 500, 3000, 100, true});
            for (std::size_t i = 0; i < static_cast<std::size_t>(settings_.weights); ++i)
                out.push_back({numbered("strain", i), "%", 0.2L, -0.5L, 2, 0.1L, true});
            break;
    }
    if (settings_.damage == DamageKind::Proportional)
        out.push_back({"damage_max", "", 0.5L, 0.05L, 1, 0.05L, true});
    if (settings_.damage == DamageKind::BSpline)
        for (std::size_t i = 0; i < static_cast<std::size_t>(settings_.damageWeights); ++i)
            out.push_back({numbered("damage", i), "", 0.8L, 0.05L, 1, 0.05L, true});
    return out;
}

std::size_t SampleProfileModel::fillStrain(std::span<const Extended> v, Sample& sample) const {
    for (std::size_t i = 0; i < v.size(); ++i)
        if (!std::isfinite(v[i])) reject("value " + std::to_string(i + 1), v[i], "is no number");
    auto& lamellae = sample.lamellae;
    if (settings_.strain == ProfileKind::TwoGauss) {
        const double tau = static_cast<double>(v[0]), ro = static_cast<double>(v[1]);
        const double sigma1 = static_cast<double>(v[2]), sigma2 = static_cast<double>(v[3]);
        if (!(sigma1 > 0)) reject("sigma1", v[2], "must be above 0 Å");
        if (!(sigma2 > 0)) reject("sigma2", v[3], "must be above 0 Å");
        if (ro < 0) reject("ro", v[1], "must not be negative");
        if (!(v[4] > 0)) reject("depth_ratio", v[4], "must be above 0");
        const auto n = static_cast<std::size_t>(settings_.layers);
        const double t = static_cast<double>(v[4]) * ro / static_cast<double>(n);
        lamellae.resize(n);
        // Each lamella takes the strain at its lower edge, as the windows' model does.
        for (std::size_t k = 0; k < n; ++k) {
            const double z = static_cast<double>(k + 1) * t;
            const double u = (z - ro) / (2 * (z > ro ? sigma2 : sigma1));
            lamellae[k] = {t, tau * std::exp(-(u * u)), 1};
        }
        return 5;
    }
    if (settings_.strain == ProfileKind::PearsonVII) {
        const double xc = static_cast<double>(v[0]), area = static_cast<double>(v[1]);
        const double w = static_cast<double>(v[2]), mu = static_cast<double>(v[3]);
        const double t = static_cast<double>(v[4]);
        if (!(mu > 0.5) || !(mu <= kMaxPearsonMu))
            reject("mu", v[3], "must lie above 0.5 and at most " + engineNumber(kMaxPearsonMu));
        if (w == 0) reject("w", v[2], "must not be 0");
        if (!(t > 0)) reject("thickness", v[4], "must be above 0 Å");
        const double q = std::pow(2.0, 1.0 / mu) - 1;
        const double c = 2 * area * std::sqrt(mu) * std::exp(lnGamma(q)) /
                         (3.141592653589793 * w * std::exp(lnGamma(mu - 0.5)));
        if (!std::isfinite(c)) reject("A", v[1], "with w and mu gives no finite strain");
        const auto n = static_cast<std::size_t>(settings_.layers);
        lamellae.resize(n);
        for (std::size_t k = 0; k < n; ++k) {
            const double offset = static_cast<double>(k + 1) * t - xc;
            lamellae[k] = {t, 2.358 * c * std::pow(1 + 4 * q * offset * offset / (w * w), -mu), 1};
        }
        return 5;
    }
    if (settings_.strain == ProfileKind::Boxes) {
        const auto n = static_cast<std::size_t>(settings_.boxes);
        lamellae.resize(n);
        for (std::size_t k = 0; k < n; ++k) {
            const std::string box = numbered("box", k) + "_";
            const Extended t = v[3 * k], strain = v[3 * k + 1], f = v[3 * k + 2];
            if (!(t > 0)) reject(box + "thickness", t, "must be above 0 Å");
            if (!(strain > -100)) reject(box + "strain", strain, "% collapses the cell");
            if (!(f > 0 && f <= 1)) reject(box + "damage", f, "must lie in (0, 1]");
            lamellae[k] = {static_cast<double>(t), static_cast<double>(strain) / 100,
                           static_cast<double>(f)};
        }
        return 3 * n;
    }
    if (settings_.strain == ProfileKind::IonProfile) {
        // The concentration, linear between the imported points, at each lamella's middle,
        // scaled so that its maximum is strain_max.
        const auto& shape = settings_.ionProfile;
        double peak = 0;
        for (const auto& point : shape)
            peak = std::max(peak, point[1]);
        const double depth = shape.back()[0];
        const auto n =
            static_cast<std::size_t>(std::max(1.0, std::ceil(depth / settings_.maxLamella)));
        const double t = depth / static_cast<double>(n);
        if (!(v[0] > -100)) reject("strain_max", v[0], "% collapses the cell");
        const double scale = static_cast<double>(v[0]) / 100 / peak;
        lamellae.resize(n);
        std::size_t j = 0;
        for (std::size_t k = 0; k < n; ++k) {
            const double z = (static_cast<double>(k) + 0.5) * t;
            while (j + 2 < shape.size() && shape[j + 1][0] < z)
                ++j;
            const auto& a = shape[j];
            const auto& b = shape[std::min(j + 1, shape.size() - 1)];
            const double w = b[0] > a[0] ? std::clamp((z - a[0]) / (b[0] - a[0]), 0.0, 1.0) : 0;
            lamellae[k] = {t, scale * (a[1] + w * (b[1] - a[1])), 1};
        }
        return 1;
    }
    // B-spline: the weights from the surface inward, then a strain of 0 at the depth.
    const double depth = static_cast<double>(v[0]);
    if (!(depth > 0)) reject("depth", v[0], "must be above 0 Å");
    const double count = std::ceil(depth / settings_.maxLamella);
    if (count > kMaxSampleLamellae)
        reject("depth", v[0],
               "needs more than " + std::to_string(kMaxSampleLamellae) + " lamellae of at most " +
                   engineNumber(settings_.maxLamella) + " Å");
    const auto weights = static_cast<std::size_t>(settings_.weights);
    thread_local std::vector<double> control;
    control.assign(weights + 1, 0.0);
    for (std::size_t i = 0; i < weights; ++i) {
        if (!(v[1 + i] > -100)) reject(numbered("strain", i), v[1 + i], "% collapses the cell");
        control[i] = static_cast<double>(v[1 + i]) / 100;
    }
    const auto n = static_cast<std::size_t>(count);
    const double t = depth / static_cast<double>(n);
    lamellae.resize(n);
    for (std::size_t k = 0; k < n; ++k)
        lamellae[k] = {t, clampedCubicBSpline(control, (static_cast<double>(k) + 0.5) / count), 1};
    return 1 + weights;
}

void SampleProfileModel::fillDamage(std::span<const Extended> v, Sample& sample) const {
    auto& lamellae = sample.lamellae;
    if (settings_.damage == DamageKind::Proportional) {
        const double top = static_cast<double>(v[0]);
        if (!(top > 0 && top <= 1)) reject("damage_max", v[0], "must lie in (0, 1]");
        double peak = 0;
        for (const Lamella& l : lamellae)
            peak = std::max(peak, l.strain);
        if (peak <= 0) return;
        // L_H = −ln f grows with the strain: f = top at the strain maximum, 1 where unstrained.
        const double lnTop = std::log(top);
        for (Lamella& l : lamellae)
            if (l.strain > 0) l.damage = std::exp(lnTop * l.strain / peak);
        return;
    }
    if (settings_.damage != DamageKind::BSpline) return;
    const auto weights = static_cast<std::size_t>(settings_.damageWeights);
    thread_local std::vector<double> control;
    control.assign(weights + 1, 1.0);
    for (std::size_t i = 0; i < weights; ++i) {
        if (!(v[i] > 0 && v[i] <= 1)) reject(numbered("damage", i), v[i], "must lie in (0, 1]");
        control[i] = static_cast<double>(v[i]);
    }
    double total = 0;
    for (const Lamella& l : lamellae)
        total += l.thicknessAngstrom;
    double top = 0;
    for (Lamella& l : lamellae) {
        const double middle = top + l.thicknessAngstrom / 2;
        l.damage = clampedCubicBSpline(control, total > 0 ? middle / total : 0);
        top += l.thicknessAngstrom;
    }
}

void SampleProfileModel::fillSample(std::span<const Extended> values, Sample& sample) const {
    const std::size_t used = fillStrain(values, sample);
    fillDamage(values.subspan(used), sample);
}

std::vector<std::array<double, 2>> readIonProfile(const std::string& path) {
    std::vector<std::array<double, 2>> points;
    try {
        NumberReader reader = NumberReader::fromFile(path);
        float depth = 0, concentration = 0;
        while (reader.nextOrThrow(depth)) {
            if (!reader.nextOrThrow(concentration))
                throw EngineError("ion profile '" + path +
                                  "': the last depth has no concentration");
            const std::string which =
                "ion profile '" + path + "', line " + std::to_string(reader.line());
            if (!(depth >= 0) || !(concentration >= 0))
                throw EngineError(which + ": depth and concentration must be 0 or more");
            if (!points.empty() && !(depth > points.back()[0]))
                throw EngineError(which + ": the depths must rise");
            points.push_back({depth, concentration});
        }
    } catch (const DataFileError& e) {
        throw EngineError(e.what());
    }
    double peak = 0;
    for (const auto& point : points)
        peak = std::max(peak, point[1]);
    if (!(peak > 0) || !(points.back()[0] > 0))
        throw EngineError("ion profile '" + path + "' has no concentration above 0");
    return points;
}

std::unique_ptr<ProfileModel> makeProfileModel(const ProfileSettings& settings) {
    const bool windowsForm =
        settings.strain == ProfileKind::TwoGauss || settings.strain == ProfileKind::PearsonVII;
    if (windowsForm && settings.damage == DamageKind::None && !settings.extended)
        return makeProfileModel(settings.strain, settings.layers);
    return std::make_unique<SampleProfileModel>(settings);
}

}  // namespace kelvarin::fit
