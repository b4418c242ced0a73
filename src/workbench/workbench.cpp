#include "workbench/workbench.hpp"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <limits>
#include <mutex>

#include "engine/catalogue.hpp"
#include "engine/engine_error.hpp"
#include "engine/io/scan.hpp"
#include "fit/project_fit.hpp"
#include "fit/project_search.hpp"
#include "results/output_files.hpp"

namespace kelvarin::workbench {

namespace {

using Clock = std::chrono::steady_clock;

/// The number in `text` (surrounding blanks allowed), or nullopt.
std::optional<double> numberOf(const std::string& text) {
    const std::size_t first = text.find_first_not_of(" \t");
    const std::size_t last = text.find_last_not_of(" \t");
    if (first == std::string::npos) return std::nullopt;
    double v = 0;
    const char* end = text.data() + last + 1;
    const auto [ptr, ec] = std::from_chars(text.data() + first, end, v);
    if (ec != std::errc() || ptr != end || !std::isfinite(v)) return std::nullopt;
    return v;
}

/// The computed curve of `ws` beside the measured curve of `state`, on the measured angles.
CurveView curveFrom(const EngineState& state, const Workspace* ws) {
    const CurveStore& cs = state.curveStore;
    CurveView view;
    // The store repeats the last measured pair after the others (index measLast): it is shown
    // once.
    const int n = cs.measLast;
    const int computed = ws ? std::min(ws->curve.calcCount, n) : 0;
    for (int i = 0; i < n; ++i) {
        const auto k = static_cast<std::size_t>(i);
        const double m = static_cast<double>(cs.measIntensity[k]);
        view.angle.push_back(static_cast<double>(cs.measAngle[k]));
        view.measured.push_back(m);
        if (i >= computed) continue;
        const double c = static_cast<double>(ws->curve.calcCurve[k]);
        view.computed.push_back(c);
        view.residual.push_back(m > 0 && c > 0 ? std::log10(m) - std::log10(c)
                                               : std::numeric_limits<double>::quiet_NaN());
    }
    return view;
}

}  // namespace

ProfileView profileOf(const Sample& sample) {
    ProfileView view;
    const auto corner = [&view](double depth, double strain, double damage) {
        view.depth.push_back(depth);
        view.strainPercent.push_back(strain);
        view.damage.push_back(damage);
    };
    double depth = 0;
    for (const Lamella& l : sample.lamellae) {
        corner(depth, 100 * l.strain, l.damage);
        depth += l.thicknessAngstrom;
        corner(depth, 100 * l.strain, l.damage);
    }
    if (!view.depth.empty()) corner(depth, 0, 1);  // the substrate below
    return view;
}

ProfileView profileOf(const StrainProfile& profile) {
    return profileOf(sampleOf(profile));
}

BandView bandOf(const fit::ProfileBand& band) {
    BandView view;
    view.depth = band.depth;
    for (std::size_t k = 0; k < band.low.size() && k < band.high.size(); ++k) {
        view.strainLowPercent.push_back(100 * band.low[k]);
        view.strainHighPercent.push_back(100 * band.high[k]);
    }
    view.damageLow = band.damageLow;
    view.damageHigh = band.damageHigh;
    return view;
}

CurveView curveOf(const EngineState& state) {
    return curveFrom(state, nullptr);
}

Workbench::Workbench(Platform& platform) : platform_(platform) {}

std::string Workbench::title() const {
    std::string name = project_.path.empty()
                           ? std::string("no project")
                           : std::filesystem::path(project_.path).filename().string();
    return "Workbench — " + name + (dirty_ ? " *" : "");
}

std::string Workbench::dataSummary() const {
    if (!problem_ || curve_.angle.empty()) return {};
    const auto [lo, hi] = std::minmax_element(curve_.measured.begin(), curve_.measured.end());
    char text[200];
    std::snprintf(text, sizeof text, ": %zu points, %g … %g arcsec, %g … %g counts",
                  curve_.angle.size(), curve_.angle.front(), curve_.angle.back(), *lo, *hi);
    return std::filesystem::path(problem_->dataset(0).label).filename().string() + text;
}

void Workbench::changed() {
    if (onChanged) onChanged();
}

bool Workbench::busy() {
    if (!progress_.running) return false;
    message_ = "A fit is running: stop it first.";
    changed();
    return true;
}

bool Workbench::adopt(fit::Project project) {
    if (busy()) return false;
    std::unique_ptr<fit::FitProblem> problem;
    try {
        problem = fit::buildProblem(project);
    } catch (const std::exception& e) {
        message_ = e.what();
        changed();
        return false;
    }
    if (project.path != project_.path) remembered_.clear();
    project_ = std::move(project);
    problem_ = std::move(problem);
    report_.clear();
    progress_ = FitProgress{};
    progress_.generations = project_.fit.generations;
    rebuildRows();
    show(evaluated(problem_->parameters().values()));
    message_.clear();
    return true;
}

bool Workbench::adoptChange(fit::Project project) {
    if (!adopt(std::move(project))) return false;
    dirty_ = true;
    changed();
    return true;
}

bool Workbench::setModel(ProfileKind strain, fit::DamageKind damage,
                         const std::string& ionProfileFile) {
    if (!problem_ || busy()) return false;
    fit::Project p = project_;
    p.hasProfile = true;
    p.profile = strain;
    p.damage = damage;
    if (!ionProfileFile.empty()) {
        // Kept relative to the project's folder, as the project file names it.
        const auto folder = std::filesystem::absolute(project_.path).parent_path();
        p.ionProfileFile = std::filesystem::absolute(ionProfileFile)
                               .lexically_normal()
                               .lexically_relative(folder)
                               .string();
    }
    if (strain == ProfileKind::IonProfile && p.ionProfileFile.empty()) {
        message_ = "The ion-profile model needs its depth/concentration file.";
        changed();
        return false;
    }
    std::vector<fit::Parameter> declared;
    try {
        declared = fit::makeProfileModel(fit::profileSettings(p))->declare();
    } catch (const std::exception& e) {
        message_ = e.what();
        changed();
        return false;
    }
    for (const fit::Parameter& now : project_.profileParameters) {
        const auto same = [&now](const fit::Parameter& q) { return q.name == now.name; };
        std::erase_if(remembered_, same);
        remembered_.push_back(now);
    }
    for (fit::Parameter& d : declared)
        for (const fit::Parameter& old : remembered_)
            if (old.name == d.name) d = old;
    p.profileParameters = std::move(declared);
    return adoptChange(std::move(p));
}

bool Workbench::setSetup(const std::string& substrate, const std::array<int, 3>& hkl,
                         const std::string& radiation) {
    if (!problem_ || busy()) return false;
    fit::Project p = project_;
    p.substrate = substrate;
    try {
        if (substrate != project_.substrate && !findCrystal(substrate))
            throw std::runtime_error("'" + substrate + "' is no crystal of the catalogue.");
        // A synchrotron wavelength is kept while its name stands; a tube line replaces it.
        if (radiation != p.datasets.front().radiation.name())
            p.datasets.front().radiation = Radiation::tubeLine(radiation);
    } catch (const std::exception& e) {
        message_ = e.what();
        changed();
        return false;
    }
    p.datasets.front().hkl = hkl;
    return adoptChange(std::move(p));
}

namespace {

/// The line (1-based) of the `file` key of the `index`-th [[dataset]] table of the project file
/// `path`, or 0.
int datasetFileLine(const std::string& path, std::size_t index) {
    std::ifstream in(path);
    std::string text;
    int tables = 0;
    for (int line = 1; std::getline(in, text); ++line) {
        const std::size_t first = text.find_first_not_of(" \t");
        if (first == std::string::npos) continue;
        const std::string_view rest = std::string_view(text).substr(first);
        if (rest.starts_with("[")) {
            tables += rest.starts_with("[[dataset]]") ? 1 : 0;
            if (!rest.starts_with("[[dataset]]") && tables > 0 &&
                tables == static_cast<int>(index) + 1)
                return 0;  // the table ended without the key
            continue;
        }
        if (tables != static_cast<int>(index) + 1 || !rest.starts_with("file")) continue;
        const std::size_t eq = rest.find_first_not_of(" \t", 4);
        if (eq != std::string_view::npos && rest[eq] == '=') return line;
    }
    return 0;
}

/// The curve as the fit reads a measured file: counts interpolated linearly onto whole seconds
/// of arc in whole steps (the measured step rounded, at least 1″), from the first whole second
/// inside the scan. Throws for a curve too short for that.
std::string offsetsText(const RockingCurve& curve, int& step) {
    const std::vector<double>& x = curve.offset;
    const std::size_t n = x.size();
    if (n < 2) throw std::runtime_error("the scan has too few points");
    step = std::max(1, static_cast<int>(std::lround((x.back() - x.front()) / double(n - 1))));
    std::string text;
    std::size_t points = 0;
    std::size_t k = 0;
    for (double t = std::ceil(x.front()); t <= x.back(); t += step) {
        while (k + 2 < n && x[k + 1] < t)
            ++k;
        const double w = x[k + 1] > x[k] ? std::clamp((t - x[k]) / (x[k + 1] - x[k]), 0.0, 1.0) : 0;
        const double counts = curve.counts[k] + w * (curve.counts[k + 1] - curve.counts[k]);
        text += fit::shortNumber(t, 10) + " " + fit::shortNumber(counts, 10) + "\n";
        ++points;
    }
    if (points < kMinScanPoints)
        throw std::runtime_error("the scan spans fewer than " + std::to_string(kMinScanPoints) +
                                 " steps of whole seconds of arc");
    return text;
}

/// Offsets are kept as the file gives them; any other axis is zeroed on the strongest peak.
ZeroChoice zeroFor(const Scan& scan) {
    if (scan.axis == ScanAxis::OmegaOffset) return {ZeroChoice::Kind::Angle, 0};
    return {};
}

}  // namespace

bool Workbench::newProject(const std::string& measuredPath, const ScanReadOptions& read) {
    if (busy()) return false;
    const std::optional<Scan> scan = readMeasured(measuredPath, read);
    if (!scan) return false;
    fit::Project p;
    p.path = std::filesystem::path(measuredPath).replace_extension(".toml").string();
    p.hasProfile = true;
    p.profile = ProfileKind::TwoGauss;
    p.profileParameters = fit::makeProfileModel(p.profile, p.profileLayers)->declare();
    fit::DatasetSpec d;
    d.width = {"width", "arcsec", 8.5L, 5, 20, 1, true};
    d.background = 30;
    if (scan->reflection) d.hkl = *scan->reflection;
    p.datasets.push_back(d);
    p.fit.seeded = true;
    return adoptScan(std::move(p), *scan, zeroFor(*scan));
}

std::optional<Scan> Workbench::readMeasured(const std::string& path, const ScanReadOptions& read) {
    try {
        return readScan(path, read);
    } catch (const std::exception& e) {
        message_ = e.what();
        changed();
        return std::nullopt;
    }
}

int Workbench::scansIn(const std::string& path) {
    try {
        ScanReadOptions first;
        first.scanNumber = 1;
        return readScan(path, first).scanCount;
    } catch (const std::exception&) {
        return 0;
    }
}

bool Workbench::isPlainText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string head(4096, '\0');
    in.read(head.data(), static_cast<std::streamsize>(head.size()));
    head.resize(static_cast<std::size_t>(in.gcount()));
    return in.gcount() > 0 && scanFormatOf(head) == ScanFormat::PlainText;
}

bool Workbench::importMeasured(const std::string& path, const ScanReadOptions& read) {
    if (!problem_) return newProject(path, read);
    if (busy()) return false;
    const std::optional<Scan> scan = readMeasured(path, read);
    return scan && adoptScan(project_, *scan, zeroFor(*scan));
}

bool Workbench::setZero(double zero) {
    if (!problem_ || !scan_ || busy()) return false;
    const std::vector<double>& a = scan_->angle;
    if (!(zero >= a.front() && zero <= a.back())) {
        message_ = "The zero " + fit::shortNumber(zero) + " " + dataInfo_.unit +
                   " lies outside the scan (" + fit::shortNumber(a.front()) + " … " +
                   fit::shortNumber(a.back()) + " " + dataInfo_.unit + ").";
        changed();
        return false;
    }
    return adoptScan(project_, *scan_, {ZeroChoice::Kind::Angle, zero});
}

bool Workbench::adoptScan(fit::Project project, const Scan& scan, const ZeroChoice& zero) {
    namespace fs = std::filesystem;
    const fs::path folder = fs::absolute(project.path).parent_path();
    const fs::path source = fs::absolute(scan.source).lexically_normal();
    DataInfo info;
    info.file = scan.source;
    info.format = scan.format;
    info.axis = axisName(scan.axis);
    info.unit = scan.unit == AngleUnit::Degrees ? "°" : "arcsec";
    info.points = scan.angle.size();
    info.countingTime = scan.countingTime;
    info.notes = scan.notes;
    fs::path fitFile = source;
    bool created = false;
    if (scan.format == "plain text" && scan.axis == ScanAxis::OmegaOffset &&
        scan.unit == AngleUnit::ArcSeconds && zero.kind == ZeroChoice::Kind::Angle &&
        zero.angle == 0) {
        info.zeroReason = "the file holds offsets from the Bragg angle";
    } else {
        RockingCurve curve;
        try {
            curve = toRockingCurve(scan, zero, std::nullopt);
        } catch (const std::exception& e) {
            message_ = e.what();
            changed();
            return false;
        }
        info.zero = curve.zero;
        info.zeroReason = curve.zeroReason;
        // The fit reads offsets (arcsec) and counts: written beside the project, never over a
        // file of the user's nor over the one the loaded project reads.
        const std::string stem = source.stem().string() + "-offset";
        const auto usable = [this](const fs::path& f) {
            if (!fs::exists(f)) return true;
            const std::string name = fs::absolute(f).lexically_normal().string();
            return std::find(written_.begin(), written_.end(), name) != written_.end() &&
                   name != dataInfo_.fitFile;
        };
        fitFile = folder / (stem + ".dat");
        for (int k = 2; !usable(fitFile); ++k)
            fitFile = folder / (stem + "-" + std::to_string(k) + ".dat");
        fitFile = fs::absolute(fitFile).lexically_normal();
        std::string text;
        try {
            text = offsetsText(curve, info.resampledStep);
        } catch (const std::exception& e) {
            message_ = scan.source + ": " + e.what();
            changed();
            return false;
        }
        created = !fs::exists(fitFile);
        try {
            writeResultFile(fitFile.string(), text);
        } catch (const std::exception& e) {
            message_ = e.what();
            changed();
            return false;
        }
        if (std::find(written_.begin(), written_.end(), fitFile.string()) == written_.end())
            written_.push_back(fitFile.string());
    }
    info.fitFile = fitFile.string();
    const fs::path relative = fitFile.lexically_relative(folder);
    fit::DatasetSpec& dataset = project.datasets.front();
    dataset.file = relative.empty() ? fitFile.string() : relative.string();
    if (fitFile != source) {
        // The file written holds offsets (arcsec) from the chosen zero: nothing to declare.
        dataset.scanNumber = 0;
        dataset.axis.reset();
        dataset.unit.reset();
        dataset.zero.reset();
    }
    if (!adoptChange(std::move(project))) {
        if (created) {
            std::error_code ignored;
            fs::remove(fitFile, ignored);
        }
        return false;
    }
    scan_ = scan;
    dataInfo_ = std::move(info);
    changed();
    return true;
}

void Workbench::describeData() {
    namespace fs = std::filesystem;
    scan_.reset();
    dataInfo_ = {};
    if (project_.datasets.empty() || project_.datasets.front().file.empty()) return;
    const fs::path file =
        (fs::absolute(project_.path).parent_path() / project_.datasets.front().file)
            .lexically_normal();
    dataInfo_.file = dataInfo_.fitFile = file.string();
    dataInfo_.points = curve_.angle.size();
    dataInfo_.axis = axisName(ScanAxis::OmegaOffset);
    dataInfo_.unit = "arcsec";
    dataInfo_.zeroReason = "the file holds offsets from the Bragg angle";
    try {
        // Read as the project reads it: its scan number, axis, unit and zero.
        const fit::DatasetSpec& d = project_.datasets.front();
        ScanReadOptions options;
        options.scanNumber = d.scanNumber;
        options.axis = d.axis;
        options.unit = d.unit;
        Scan scan = readScan(file.string(), options);
        dataInfo_.format = scan.format;
        dataInfo_.points = scan.angle.size();
        dataInfo_.axis = axisName(scan.axis);
        dataInfo_.unit = scan.unit == AngleUnit::Degrees ? "°" : "arcsec";
        dataInfo_.countingTime = scan.countingTime;
        dataInfo_.notes = scan.notes;
        if (scan.axis != ScanAxis::OmegaOffset || d.zero) {
            const RockingCurve curve = fit::datasetScan(file.string(), project_, d);
            dataInfo_.zero = curve.zero;
            dataInfo_.zeroReason = curve.zeroReason;
        }
        scan_ = std::move(scan);
    } catch (const std::exception&) {
        // Read by the fit as it stands; only the zero cannot be moved.
        dataInfo_.format = "plain text";
    }
}

bool Workbench::open(const std::string& path) {
    fit::Project p;
    try {
        p = fit::loadProject(path);
    } catch (const std::exception& e) {
        message_ = e.what();
        changed();
        return false;
    }
    std::vector<std::string> files;
    for (const fit::DatasetSpec& d : p.datasets)
        files.push_back(d.file);
    if (!adopt(std::move(p))) {
        // The measured files are read once the project's text is checked; a message about one
        // is given the key and line that name it.
        for (std::size_t i = 0; i < files.size(); ++i) {
            if (files[i].empty() || message_.find(files[i]) == std::string::npos) continue;
            if (const int line = datasetFileLine(path, i); line > 0)
                message_ += " (key 'dataset.file', line " + std::to_string(line) + ")";
            break;
        }
        changed();
        return false;
    }
    describeData();
    dirty_ = false;
    changed();
    return true;
}

bool Workbench::save(const std::string& path) {
    if (!problem_ || busy()) return false;
    fit::Project saved = project_;
    if (!path.empty() && path != project_.path) {
        // Measured files are named relative to the project's folder: keep them found.
        const auto from = std::filesystem::absolute(project_.path).parent_path();
        const auto to = std::filesystem::absolute(path).parent_path();
        const auto moved = [&](const std::string& file) {
            return file.empty() ? file
                                : (from / file).lexically_normal().lexically_relative(to).string();
        };
        for (fit::DatasetSpec& d : saved.datasets)
            d.file = moved(d.file);
        saved.ionProfileFile = moved(saved.ionProfileFile);
        saved.path = path;
    }
    try {
        writeResultFile(saved.path, fit::projectText(saved));
    } catch (const std::exception& e) {
        message_ = e.what();
        changed();
        return false;
    }
    project_ = std::move(saved);
    dirty_ = false;
    message_.clear();
    changed();
    return true;
}

void Workbench::rebuildRows() {
    rows_.clear();
    for (const fit::Parameter& p : problem_->parameters().all())
        rows_.push_back({p, false, std::nullopt});
}

bool Workbench::setParameter(int row, ParameterField field, const std::string& text) {
    if (!problem_ || row < 0 || row >= static_cast<int>(rows_.size()) || busy()) return false;
    fit::Parameter p = problem_->parameters()[row];
    if (field == ParameterField::Free) {
        if (text != "0" && text != "1" && text != "true" && text != "false") return false;
        p.free = text == "1" || text == "true";
    } else {
        const std::optional<double> v = numberOf(text);
        if (!v) {
            message_ = p.name + ": \"" + text + "\" is not a number";
            changed();
            return false;
        }
        Extended& slot = field == ParameterField::Value ? p.value
                         : field == ParameterField::Min ? p.min
                                                        : p.max;
        slot = *v;
    }
    store(row, p, field == ParameterField::Value);
    return true;
}

void Workbench::store(int row, const fit::Parameter& p, bool redraw) {
    problem_->parameters()[row] = p;
    // The project keeps its own key names (a table of several datasets says "width2").
    fit::storeParameter(project_, *problem_, row, p);
    const auto r = static_cast<std::size_t>(row);
    rows_[r] = {p, false, std::nullopt};
    if (redraw) show(evaluated(problem_->parameters().values()));
    dirty_ = true;
    message_.clear();
    changed();
}

int Workbench::rowOf(const std::string& name) const {
    for (std::size_t i = 0; i < project_.profileParameters.size(); ++i)
        if (project_.profileParameters[i].name == name) return static_cast<int>(i);
    return -1;
}

namespace {

/// Where each of `weights` control points (and a last, fixed one) of a cubic B-spline on
/// uniform clamped knots over [0, 1] pulls the curve most: its Greville abscissa, the mean of the
/// three knots that follow it.
std::vector<double> grevilleAbscissae(int weights) {
    const int spans = weights + 1 - 3;
    const auto knot = [spans](int j) {
        return static_cast<double>(std::clamp(j - 3, 0, spans)) / spans;
    };
    std::vector<double> x;
    for (int i = 0; i < weights; ++i)
        x.push_back((knot(i + 1) + knot(i + 2) + knot(i + 3)) / 3);
    return x;
}

}  // namespace

std::vector<ControlPoint> Workbench::controlPoints(ProfilePart part) const {
    std::vector<ControlPoint> points;
    // A running fit shows its best profile, not the table's values the points stand for.
    if (!problem_ || progress_.running) return points;
    const auto value = [this](int row) {
        return static_cast<double>(rows_[static_cast<std::size_t>(row)].parameter.value);
    };
    const bool strain = part == ProfilePart::Strain;
    // B-spline weights lie over the depth of the profile: the strain's over its parameter, the
    // damage's over the lamellae the strain model made.
    const auto spline = [&](const char* stem, int weights, double depth) {
        const std::vector<double> x = grevilleAbscissae(weights);
        for (int i = 0; i < weights; ++i) {
            const int row = rowOf(stem + std::to_string(i + 1));
            if (row >= 0)
                points.push_back({x[static_cast<std::size_t>(i)] * depth, value(row), row, -1});
        }
    };
    if (strain && project_.profile == ProfileKind::BSpline) {
        if (const int depthRow = rowOf("depth"); depthRow >= 0)
            spline("strain", project_.weights, value(depthRow));
    } else if (!strain && project_.damage == fit::DamageKind::BSpline) {
        spline("damage", project_.damageWeights,
               profile_.depth.empty() ? 0 : profile_.depth.back());
    } else if (project_.profile == ProfileKind::Boxes) {
        double top = 0;
        for (int k = 1; k <= project_.boxes; ++k) {
            const std::string box = "box" + std::to_string(k) + "_";
            const int thickness = rowOf(box + "thickness");
            const int moved = rowOf(box + (strain ? "strain" : "damage"));
            if (thickness < 0 || moved < 0) break;
            points.push_back({top + value(thickness) / 2, value(moved), moved, thickness});
            top += value(thickness);
        }
    }
    return points;
}

bool Workbench::moveControlPoint(int index, double value, ProfilePart part) {
    const std::vector<ControlPoint> points = controlPoints(part);
    if (index < 0 || index >= static_cast<int>(points.size()) || !std::isfinite(value) || busy())
        return false;
    Extended v = static_cast<Extended>(value);
    // A damage factor stays a factor: above 0 and at most 1.
    if (part == ProfilePart::Damage) v = std::clamp(v, Extended(0.001), Extended(1));
    dragTo(points[static_cast<std::size_t>(index)].row, v);
    return true;
}

bool Workbench::moveControlPointTo(int index, double depth, ProfilePart part) {
    const std::vector<ControlPoint> points = controlPoints(part);
    if (index < 0 || index >= static_cast<int>(points.size()) || !std::isfinite(depth) || busy())
        return false;
    const ControlPoint& c = points[static_cast<std::size_t>(index)];
    if (c.thicknessRow < 0) return false;
    const double thickness =
        static_cast<double>(rows_[static_cast<std::size_t>(c.thicknessRow)].parameter.value);
    const double top = c.depth - thickness / 2;
    dragTo(c.thicknessRow, static_cast<Extended>(std::max(1.0, 2 * (depth - top))));
    return true;
}

void Workbench::dragTo(int row, Extended v) {
    fit::Parameter p = problem_->parameters()[row];
    if (p.free) {
        p.value = std::clamp(v, p.min, p.max);  // a search draws within the limits
    } else {
        // A fixed value (often with limits on it alone) goes where it is dragged.
        p.value = v;
        p.min = std::min(p.min, v);
        p.max = std::max(p.max, v);
    }
    store(row, p, true);
}

Workbench::Shown Workbench::evaluated(const std::vector<Extended>& values) const {
    fit::ProblemWorkspace ws = problem_->makeWorkspace();
    const EngineState& state = *problem_->dataset(0).state;
    try {
        problem_->evaluate(values, ws);
    } catch (const std::exception&) {
        return {curveFrom(state, nullptr), {}, {}};  // values the physics refuses: measured only
    }
    const Workspace& w = *ws.datasets[0];
    // Models that fill a sample leave their lamellae (with damage) in the problem's workspace;
    // the windows' models leave a strain profile in the dataset's.
    Sample sample = problem_->model().fillsSample() ? ws.sample : sampleOf(w.profile);
    ProfileView profile = profileOf(sample);
    return {curveFrom(state, &w), std::move(profile), std::move(sample)};
}

void Workbench::show(Shown shown) {
    curve_ = std::move(shown.curve);
    profile_ = std::move(shown.profile);
    sample_ = std::move(shown.sample);
    bandSource_ = {};
    band_ = {};
    for (ParameterRow& r : rows_)
        r.error.reset();
}

bool Workbench::setUncertainty(const fit::Uncertainty& uncertainty) {
    const auto known = [this](const fit::ParameterUncertainty& p) {
        return p.index >= 0 && p.index < static_cast<int>(rows_.size());
    };
    if (!uncertainty.valid ||
        !std::all_of(uncertainty.parameters.begin(), uncertainty.parameters.end(), known)) {
        message_ = "The fit result carries no usable uncertainties" +
                   (uncertainty.message.empty() ? std::string(".") : ": " + uncertainty.message);
        changed();
        return false;
    }
    for (const fit::ParameterUncertainty& p : uncertainty.parameters)
        rows_[static_cast<std::size_t>(p.index)].error =
            p.undetermined ? std::numeric_limits<double>::quiet_NaN() : p.standardError;
    message_.clear();
    changed();
    return true;
}

bool Workbench::hasDamage() const {
    return project_.damage != fit::DamageKind::None || project_.profile == ProfileKind::Boxes;
}

bool Workbench::setBand(const fit::ProfileBand& band) {
    const std::size_t n = sample_.lamellae.size();
    if (n == 0 || band.depth.size() != n || band.low.size() != n || band.high.size() != n ||
        band.damageLow.size() != n || band.damageHigh.size() != n) {
        message_ = "The confidence band does not match the lamellae of the profile shown.";
        changed();
        return false;
    }
    bandSource_ = band;
    band_ = bandOf(band);
    message_.clear();
    changed();
    return true;
}

void Workbench::fit() {
    if (!problem_ || progress_.running) return;
    if (problem_->geneOrder().empty()) {
        message_ = project_.path + ": every parameter is fixed; nothing to fit";
        changed();
        return;
    }
    stopRequested_ = false;
    progress_ = FitProgress{};
    progress_.running = true;
    progress_.generations = project_.fit.generations;
    report_.clear();
    message_.clear();
    changed();

    // The same whole fit as kelvarin-cli fit and the Python module: global search, polish,
    // uncertainties and the band of the profile.
    fit::ProjectFitOptions options;
    const Clock::time_point started = Clock::now();
    Clock::time_point lastPost = started - kUpdateInterval;
    std::vector<double> history;
    options.progress = [&](const fit::ProjectFitProgress& p) {
        history.push_back(p.bestError);
        const Clock::time_point now = Clock::now();
        if (now - lastPost < kUpdateInterval && p.generation < p.generations)
            return !stopRequested_.load();
        lastPost = now;
        const double elapsed = std::chrono::duration<double>(now - started).count();
        // Between two generations no candidate is scored: the best so far is drawn here, off
        // the window thread, and only the finished picture is posted.
        platform_.post([this, shown = evaluated(p.best), history, generation = p.generation,
                        elapsed, total = p.generations]() mutable {
            progress_.generation = generation;
            progress_.bestByGeneration = history;
            progress_.elapsedSeconds = elapsed;
            progress_.secondsLeft =
                generation > 0 ? elapsed / generation * std::max(0, total - generation) : 0;
            show(std::move(shown));
            changed();
        });
        return !stopRequested_.load();
    };

    fit::ProjectFitResult result;
    try {
        platform_.runInBackground([&] { result = fit::fitProject(project_, *problem_, options); });
    } catch (const std::exception& e) {
        result.failed = true;
        result.message = e.what();
    }
    progress_.running = false;
    progress_.elapsedSeconds = std::chrono::duration<double>(Clock::now() - started).count();
    progress_.secondsLeft = 0;
    if (result.failed) {
        message_ = project_.path + ": " + result.message;
        changed();
        return;
    }
    progress_.generation = result.generations;
    progress_.bestByGeneration = history;
    const std::vector<Extended>& best = result.report.values;
    const fit::ParameterTable& table = problem_->parameters();
    report_ = fit::reportText(result.report);
    // The fitted values become the project's values (fixed ones are unchanged).
    for (int i = 0; i < table.size(); ++i) {
        const auto k = static_cast<std::size_t>(i);
        problem_->parameters()[i].value = best[k];
        rows_[k] = {table[i], table[i].free, std::nullopt};
        fit::storeParameter(project_, *problem_, i, table[i]);
    }
    show(evaluated(best));
    // A fit without usable uncertainties still shows its values; the report says why.
    if (result.report.uncertainty.valid) setUncertainty(result.report.uncertainty);
    if (!result.band.depth.empty()) setBand(result.band);
    for (const std::string& w : result.report.global.warnings)
        message_ += (message_.empty() ? "" : " ") + w;
    dirty_ = true;
    changed();
}

bool Workbench::exportProfileCsv(const std::string& path) {
    if (sample_.lamellae.empty()) {
        message_ = "There is no profile to export yet.";
        changed();
        return false;
    }
    return writeOut(path, fit::profileCsv(sample_, bandSource_));
}

bool Workbench::exportReport(const std::string& path) {
    if (report_.empty()) {
        message_ = "There is no report before a fit.";
        changed();
        return false;
    }
    return writeOut(path, report_);
}

bool Workbench::writeOut(const std::string& path, const std::string& text) {
    try {
        writeResultFile(path, text);
    } catch (const std::exception& e) {
        message_ = e.what();
        changed();
        return false;
    }
    message_.clear();
    return true;
}

}  // namespace kelvarin::workbench
