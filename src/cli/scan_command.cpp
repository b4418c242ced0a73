#include "cli/scan_command.hpp"

#include <cmath>
#include <cstdio>
#include <sstream>

#include "app/locale.hpp"
#include "cli/simulate.hpp"
#include "engine/catalogue.hpp"
#include "engine/engine_error.hpp"
#include "engine/geometry.hpp"

namespace kelvarin::cli {

namespace {

std::string g(double v) {
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.10g", v);
    return buf;
}

std::string unitName(AngleUnit unit) {
    return unit == AngleUnit::Degrees ? "degrees" : "seconds of arc";
}

}  // namespace

namespace {

/// The Bragg angle of `hkl` of `substrate` (named `crystal` in messages), a refused reflection
/// reported as a SimulationError naming crystal and reflection.
SubstrateBragg braggOf(const Crystal& substrate, const std::string& crystal,
                       const std::array<int, 3>& hkl, Extended wavelength) {
    try {
        return kelvarin::substrateBragg(substrate, hkl[0], hkl[1], hkl[2], wavelength);
    } catch (const EngineError& e) {
        throw SimulationError(crystal + " " + std::to_string(hkl[0]) + " " +
                              std::to_string(hkl[1]) + " " + std::to_string(hkl[2]) + ": " +
                              e.what());
    }
}

/// "unknown crystal 'X' (the catalogue has A, B, …)".
SimulationError unknownCrystal(const std::string& crystal, const std::string& names) {
    return SimulationError("unknown crystal '" + crystal + "' (the catalogue has " + names + ")");
}

}  // namespace

SubstrateBragg substrateBragg(const std::string& crystal, const std::array<int, 3>& hkl,
                              Extended wavelength) {
    if (findCrystal(crystal) == nullptr) {
        std::string names;
        for (const CrystalEntry& e : crystalCatalogue())
            names += std::string(names.empty() ? "" : ", ") + std::string(e.name);
        throw unknownCrystal(crystal, names);
    }
    return braggOf(Crystal::fromCatalogue(crystal), crystal, hkl, wavelength);
}

SubstrateBragg catalogueSubstrateBragg(const std::string& crystal, const std::array<int, 3>& hkl,
                                       Extended wavelength) {
    const CatalogueCrystal* entry = CrystalCatalogue::standard().find(crystal);
    if (entry == nullptr) {
        std::string names;
        for (const CatalogueCrystal& c : CrystalCatalogue::standard().crystals())
            names += (names.empty() ? "" : ", ") + c.name;
        throw unknownCrystal(crystal, names);
    }
    return braggOf(Crystal::fromCatalogueEntry(*entry), crystal, hkl, wavelength);
}

std::string scanText(const ScanRequest& request) {
    const Scan scan = readScan(request.file, request.read);
    std::ostringstream out;
    out << "# file: " << request.file << "\n";
    out << "# format: " << scan.format << ", scan " << scan.scanNumber << " of " << scan.scanCount
        << "\n";
    if (!scan.sample.empty()) out << "# sample: " << scan.sample << "\n";
    if (!scan.date.empty()) out << "# date: " << scan.date << "\n";
    if (!scan.instrument.empty()) out << "# instrument: " << scan.instrument << "\n";
    out << "# axis: " << axisName(scan.axis) << ", " << unitName(scan.unit) << "\n";
    out << "# points: " << scan.angle.size() << ", " << g(scan.angle.front()) << " to "
        << g(scan.angle.back()) << "\n";
    out << "# counting time: "
        << (scan.countingTime ? g(*scan.countingTime) + " s per point" : "not stated")
        << (scan.countsPerSecond ? "; counts per second multiplied by it" : "; counts as stated")
        << "\n";
    out << "# attenuation: "
        << (scan.attenuationMin == 1 && scan.attenuationMax == 1
                ? std::string("none (factor 1)")
                : "factors " + g(scan.attenuationMin) + " to " + g(scan.attenuationMax) +
                      " applied")
        << "\n";
    if (scan.fractionalCounts > 0)
        out << "# counts: " << scan.fractionalCounts
            << " are not whole numbers; they are kept as they are\n";
    if (scan.wavelength) out << "# wavelength: " << g(*scan.wavelength) << " Å\n";
    if (scan.reflection)
        out << "# reflection: " << (*scan.reflection)[0] << " " << (*scan.reflection)[1] << " "
            << (*scan.reflection)[2] << "\n";

    std::optional<SubstrateBragg> bragg;
    if (!request.crystal.empty()) {
        const std::optional<std::array<int, 3>> hkl = request.hkl ? request.hkl : scan.reflection;
        if (!hkl) throw SimulationError("the file states no reflection: give it with --hkl H K L");
        const std::optional<Extended> lambda =
            request.wavelength
                ? request.wavelength
                : (scan.wavelength ? std::optional<Extended>(*scan.wavelength) : std::nullopt);
        if (!lambda)
            throw SimulationError(
                "the file states no wavelength: give it with --radiation or --wavelength");
        bragg = catalogueSubstrateBragg(request.crystal, *hkl, *lambda);
        out << "# substrate: " << request.crystal << " " << (*hkl)[0] << " " << (*hkl)[1] << " "
            << (*hkl)[2] << " at " << g(static_cast<double>(*lambda)) << " Å: Bragg angle "
            << g(bragg->thetaB) << "°, asymmetry " << g(bragg->phi) << "°\n";
    }
    const RockingCurve curve = toRockingCurve(scan, request.zero, bragg);
    out << "# zero: " << curve.zeroReason << "\n";
    for (const std::string& note : scan.notes)
        out << "# note: " << note << "\n";
    out << "# offset_arcsec counts\n";
    for (std::size_t i = 0; i < curve.offset.size(); ++i)
        out << g(curve.offset[i]) << " " << g(curve.counts[i]) << "\n";
    return out.str();
}

}  // namespace kelvarin::cli
