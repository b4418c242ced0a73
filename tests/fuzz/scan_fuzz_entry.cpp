#include "fuzz/scan_fuzz_entry.hpp"

#include <cmath>
#include <optional>
#include <string>

#include "engine/io/rocking_curve.hpp"
#include "engine/io/scan.hpp"
#include "fuzz/fuzz_check.hpp"

namespace kelvarin::fuzz {

bool scanFile(std::string_view target, const std::uint8_t* data, std::size_t size) {
    static const std::string name = "scan-fuzz.dat";
    const std::string text(reinterpret_cast<const char*>(data), size);
    ScanReadOptions options[3];
    options[1].scanNumber = 1;
    options[2].axis = ScanAxis::TwoThetaOmega;
    options[2].unit = AngleUnit::Degrees;
    bool read = false;
    for (const ScanReadOptions& o : options) {
        Scan scan;
        try {
            scan = parseScan(text, name, o);
        } catch (const DataFileError& e) {
            checkMessage(target, e.what(), name);
            continue;
        }
        read = true;
        require(scan.angle.size() == scan.counts.size() && scan.angle.size() >= kMinScanPoints,
                target, "scan sizes");
        for (std::size_t i = 0; i < scan.angle.size(); ++i) {
            require(std::isfinite(scan.angle[i]) && std::isfinite(scan.counts[i]) &&
                        scan.counts[i] >= 0,
                    target, "scan point not finite or negative");
            if (i > 0) require(scan.angle[i] > scan.angle[i - 1], target, "angles not increasing");
        }
        const double middle = (scan.angle.front() + scan.angle.back()) / 2;
        const double scale = scan.unit == AngleUnit::Degrees ? 1 : 3600;
        const SubstrateBragg bragg{isTwoThetaAxis(scan.axis) ? middle / 2 / scale : middle / scale,
                                   0};
        for (ZeroChoice::Kind kind : {ZeroChoice::Kind::SubstratePeak, ZeroChoice::Kind::Bragg}) {
            for (bool withBragg : {false, true}) {
                RockingCurve curve;
                try {
                    curve = toRockingCurve(scan, ZeroChoice{kind, 0},
                                           withBragg ? std::optional(bragg) : std::nullopt);
                } catch (const DataFileError& e) {
                    checkMessage(target, e.what(), name);
                    continue;
                }
                require(curve.offset.size() == scan.angle.size(), target, "curve size");
                for (std::size_t i = 0; i < curve.offset.size(); ++i) {
                    require(std::isfinite(curve.offset[i]), target, "offset not finite");
                    if (i > 0)
                        require(curve.offset[i] > curve.offset[i - 1], target,
                                "offsets not increasing");
                }
            }
        }
    }
    return read;
}

}  // namespace kelvarin::fuzz
