#include "engine/measured_curve.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <sstream>

namespace kelvarin {

namespace {

struct Pair {
    float angle = 0;
    float intensity = 0;
    int line = 0;
};

std::string fileText(const NumberReader& reader) {
    return "Measured curve file '" + reader.name() + "'";
}

/// Reads every pair of the file and checks the angles.
std::vector<Pair> readPairs(NumberReader& reader, std::size_t maxPairs) {
    std::vector<Pair> pairs;
    float a = 0;
    float y = 0;
    while (true) {
        if (reader.atEnd()) break;
        const int line = reader.line();
        reader.nextOrThrow(a);
        if (!reader.nextOrThrow(y)) {
            std::ostringstream msg;
            msg << fileText(reader) << " ends within a pair: the angle on line " << line
                << " has no intensity";
            throw DataFileError(msg.str());
        }
        if (!(std::fabs(a) <= kMaxMeasuredAngle)) {
            std::ostringstream msg;
            msg << fileText(reader) << ", line " << line << ": the angle " << a << " lies beyond "
                << kMaxMeasuredAngle << " seconds of arc";
            throw DataFileError(msg.str());
        }
        if (!pairs.empty() && !(a > pairs.back().angle)) {
            std::ostringstream msg;
            msg << fileText(reader) << ", line " << line << ": the angle " << a
                << " does not increase (the angle before it is " << pairs.back().angle << ")";
            throw DataFileError(msg.str());
        }
        if (pairs.size() >= maxPairs) {
            std::ostringstream msg;
            msg << fileText(reader) << " holds more than " << maxPairs
                << " points, more than the curve arrays take";
            throw DataFileError(msg.str());
        }
        pairs.push_back(Pair{a, y, line});
    }
    if (pairs.empty()) throw DataFileError(fileText(reader) + " holds no (angle, intensity) pair");
    if (pairs.size() < 2)
        throw DataFileError(fileText(reader) +
                            " holds only one (angle, intensity) pair; a curve needs at least two");
    return pairs;
}

/// The curve is compared point by point with a scan of equal steps from its first angle: every
/// step must be the first one.
void requireEqualSteps(const NumberReader& reader, const std::vector<Pair>& pairs) {
    const double first = static_cast<double>(pairs[1].angle) - pairs[0].angle;
    for (std::size_t i = 2; i < pairs.size(); ++i) {
        const double step = static_cast<double>(pairs[i].angle) - pairs[i - 1].angle;
        const double widest = std::max(std::fabs(pairs[i].angle), std::fabs(pairs[i - 1].angle));
        const double tolerance =
            std::max(1e-3 * first, 4.0 * std::numeric_limits<float>::epsilon() * widest);
        if (std::fabs(step - first) > tolerance) {
            std::ostringstream msg;
            msg << fileText(reader) << ", line " << pairs[i].line << ": the step from "
                << pairs[i - 1].angle << " to " << pairs[i].angle << " is " << step
                << ", not the first step " << first
                << "; with \"Integer, equally spaced angle values\" every step must be the same "
                   "(a gap or an uneven step would pair the points with the wrong angles)";
            throw DataFileError(msg.str());
        }
    }
}

MeasuredCurve rawCurve(const std::vector<Pair>& pairs) {
    MeasuredCurve curve;
    curve.angle.reserve(pairs.size() + 1);
    curve.intensity.reserve(pairs.size() + 1);
    for (const Pair& p : pairs) {
        curve.angle.push_back(static_cast<Extended>(p.angle));
        const Extended counts = p.intensity;
        curve.intensity.push_back(counts);
        if (counts > curve.max) curve.max = counts;
    }
    // The last point is repeated once after the data, so that `last` counts the pairs: the
    // plot and the broadening bounds are laid out for that.
    curve.angle.push_back(curve.angle.back());
    curve.intensity.push_back(curve.intensity.back());
    curve.last = static_cast<int>(pairs.size());
    return curve;
}

MeasuredCurve resampledCurve(const NumberReader& reader, const std::vector<Pair>& pairs,
                             int capacity) {
    MeasuredCurve curve;
    std::size_t next = 0;
    float a0 = pairs[next].angle;
    float y0 = pairs[next].intensity;
    ++next;
    float t = std::floor(a0) + 1.0f;
    curve.scanStart = static_cast<int>(t);
    float a1 = pairs[next].angle;
    float y1 = pairs[next].intensity;
    ++next;
    const float step = 1.0f;
    // Single precision holds whole seconds only up to 2^24: beyond, t + 1 rounds back to t and
    // the scan would stand still.
    const float widest = std::fabs(pairs.front().angle) > std::fabs(pairs.back().angle)
                             ? pairs.front().angle
                             : pairs.back().angle;
    if (!(std::fabs(widest) + step < 16777216.0f)) {
        std::ostringstream msg;
        msg << fileText(reader) << ": the angle " << widest
            << " is too large to resample onto whole seconds of arc (at most 16777215)";
        throw DataFileError(msg.str());
    }
    while (true) {
        bool ended = false;
        while (a1 <= t) {
            a0 = a1;
            y0 = y1;
            if (next >= pairs.size()) {
                ended = true;
                break;
            }
            a1 = pairs[next].angle;
            y1 = pairs[next].intensity;
            ++next;
        }
        if (ended) break;
        // a0 <= t < a1 here, and a1 > a0 because the angles increase.
        const Extended ea0 = a0;
        const float y =
            static_cast<float>(static_cast<Extended>(y0) + (static_cast<Extended>(t) - ea0) *
                                                               (static_cast<Extended>(y1) - y0) /
                                                               (static_cast<Extended>(a1) - ea0));
        t = t + step;
        // The computed scan holds one point more than the measured curve.
        if (static_cast<int>(curve.angle.size()) + 2 > capacity) {
            std::ostringstream msg;
            msg << fileText(reader) << " spans more than " << capacity - 1
                << " whole seconds of arc, more than the curve arrays take";
            throw DataFileError(msg.str());
        }
        curve.angle.push_back(t);
        curve.intensity.push_back(y);
        if (y > curve.max) curve.max = y;
    }
    if (curve.angle.empty()) {
        std::ostringstream msg;
        msg << fileText(reader) << ": no whole second of arc lies within its angles ("
            << pairs.front().angle << " to " << pairs.back().angle
            << "), so nothing can be resampled";
        throw DataFileError(msg.str());
    }
    curve.scanEnd = static_cast<int>(curve.angle.back());
    curve.last = static_cast<int>(curve.angle.size()) - 1;
    return curve;
}

}  // namespace

MeasuredCurve parseMeasuredCurve(NumberReader& reader, MeasuredMode mode, int capacity) {
    if (reader.atEnd()) throw DataFileError(fileText(reader) + " is empty");
    if (mode == MeasuredMode::Raw) {
        // The repeated last point needs one slot of its own.
        const std::vector<Pair> pairs =
            readPairs(reader, static_cast<std::size_t>(capacity > 1 ? capacity - 1 : 0));
        requireEqualSteps(reader, pairs);
        return rawCurve(pairs);
    }
    const std::vector<Pair> pairs = readPairs(reader, std::size_t{1} << 24);
    return resampledCurve(reader, pairs, capacity);
}

void storeMeasuredCurve(CurveStore& store, RadiationRecord& /*radiation: no longer written*/,
                        const MeasuredCurve& curve, MeasuredMode mode) {
    const std::size_t n = std::min(curve.angle.size(), store.measAngle.size());
    for (std::size_t i = 0; i < n; ++i) {
        store.measAngle[i] = curve.angle[i];
        store.measIntensity[i] = curve.intensity[i];
    }
    store.measMax = curve.max;
    store.measLast = curve.last;
    if (mode == MeasuredMode::Resampled) {
        store.scanStart = curve.scanStart;
        store.scanEnd = curve.scanEnd;
    }
}

void readMeasuredCurve(CurveStore& store, RadiationRecord& radiation, const std::string& path,
                       MeasuredMode mode) {
    NumberReader reader = NumberReader::fromFile(path);
    const MeasuredCurve curve = parseMeasuredCurve(reader, mode, kCurveCapacity);
    storeMeasuredCurve(store, radiation, curve, mode);
}

}  // namespace kelvarin
