#include "python/project_binding.hpp"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include "fit/project_file.hpp"
#include "fit/project_fit.hpp"
#include "fit/project_search.hpp"
#include "python/errors.hpp"

namespace py = pybind11;

namespace kelvarin::python {

namespace {

/// The outcome of Project.fit, as Python objects.
struct FitResult {
    py::dict parameters;  ///< name → final value (every parameter of the table)
    py::dict units;       ///< name → unit
    py::list free;        ///< names of the fitted parameters: the rows of `correlations`
    double error = 0;     ///< logarithmic error of the final values, percent
    py::dict errors;      ///< free name → one-sigma standard error (NaN: not determined)
    py::dict flags;       ///< free name → list of "at minimum", "at maximum", "undetermined"
    py::array_t<double> correlations;  ///< free × free
    py::dict profile;  ///< depth, thickness, strain, damage and the 16/84 % band of each lamella
    py::dict curve;    ///< of the first dataset: angles, measured, computed
    py::list curves;   ///< the same for each dataset
    py::dict summary;  ///< how the search ended, its effort, and the statistics of the fit
    std::string reportText;
    bool stopped = false;
};

template <typename T>
py::array_t<double> arrayOf(const std::vector<T>& v, std::size_t n) {
    py::array_t<double> a(static_cast<py::ssize_t>(n));
    double* out = a.mutable_data();
    for (std::size_t i = 0; i < n; ++i)
        out[i] = i < v.size() ? static_cast<double>(v[i]) : std::nan("");
    return a;
}

/// The project's file and its measured files, as buildProblem finds them.
std::vector<std::string> projectFiles(const fit::Project& p) {
    std::vector<std::string> files{p.path};
    const std::filesystem::path folder = std::filesystem::path(p.path).parent_path();
    for (const fit::DatasetSpec& d : p.datasets)
        if (!d.file.empty()) files.push_back((folder / d.file).string());
    return files;
}

/// Writes through a temporary file beside `path`, so that a failed write leaves the old file.
void saveText(const std::string& path, const std::string& text) {
    const std::string temp = path + ".part";
    {
        std::ofstream out(temp, std::ios::binary | std::ios::trunc);
        if (!out)
            throw FileError("project file '" + path +
                            "' cannot be written: " + std::strerror(errno));
        out << text;
        out.flush();
        if (!out) {
            std::remove(temp.c_str());
            throw FileError("project file '" + path +
                            "' cannot be written: " + std::strerror(errno));
        }
    }
    std::error_code ec;
    std::filesystem::rename(temp, path, ec);
    if (ec) {
        std::remove(temp.c_str());
        throw FileError("project file '" + path + "' cannot be written: " + ec.message());
    }
}

/// The fitted profile, lamellae from the surface inward: the depth of each lamella's top (Å), its
/// thickness (Å), strain (%) and damage factor, and the 16 % and 84 % quantiles of strain and
/// damage at its middle (NaN when the uncertainties could not be worked out).
py::dict profileOf(const Sample& sample, const fit::ProfileBand& band) {
    const std::size_t n = sample.lamellae.size();
    std::vector<double> depth(n), thickness(n), strain(n), damage(n), low, high;
    double top = 0;
    for (std::size_t k = 0; k < n; ++k) {
        const Lamella& l = sample.lamellae[k];
        depth[k] = top;
        thickness[k] = l.thicknessAngstrom;
        strain[k] = 100 * l.strain;
        damage[k] = l.damage;
        top += l.thicknessAngstrom;
    }
    const bool withBand = band.low.size() == n;
    if (withBand)
        for (std::size_t k = 0; k < n; ++k) {
            low.push_back(100 * band.low[k]);
            high.push_back(100 * band.high[k]);
        }
    const std::vector<double> none;
    py::dict d;
    d["depth"] = arrayOf(depth, n);
    d["thickness"] = arrayOf(thickness, n);
    d["strain"] = arrayOf(strain, n);
    d["damage"] = arrayOf(damage, n);
    d["strain_lower"] = arrayOf(low, n);
    d["strain_upper"] = arrayOf(high, n);
    d["damage_lower"] = arrayOf(withBand ? band.damageLow : none, n);
    d["damage_upper"] = arrayOf(withBand ? band.damageHigh : none, n);
    return d;
}

FitResult resultOf(const fit::FitProblem& problem, const fit::ProjectFitResult& fitted) {
    FitResult r;
    const fit::FitReport& report = fitted.report;
    const fit::ParameterTable& table = problem.parameters();
    for (int i = 0; i < table.size(); ++i) {
        const fit::Parameter& p = table[i];
        r.parameters[py::str(p.name)] =
            static_cast<double>(report.values[static_cast<std::size_t>(i)]);
        r.units[py::str(p.name)] = p.unit;
    }
    const fit::Uncertainty& u = report.uncertainty;
    const std::vector<int> genes = problem.geneOrder();
    const std::size_t m = genes.size();
    r.correlations =
        py::array_t<double>({static_cast<py::ssize_t>(m), static_cast<py::ssize_t>(m)});
    auto c = r.correlations.mutable_unchecked<2>();
    for (std::size_t i = 0; i < m; ++i) {
        const std::string& name = table[genes[i]].name;
        r.free.append(name);
        const bool known = u.valid && i < u.parameters.size();
        r.errors[py::str(name)] = known ? u.parameters[i].standardError : std::nan("");
        py::list flags;
        if (known && u.parameters[i].atMinimum) flags.append("at minimum");
        if (known && u.parameters[i].atMaximum) flags.append("at maximum");
        if (known && u.parameters[i].undetermined) flags.append("undetermined");
        r.flags[py::str(name)] = flags;
        for (std::size_t j = 0; j < m; ++j)
            c(static_cast<py::ssize_t>(i), static_cast<py::ssize_t>(j)) =
                known && j < u.correlation[i].size() ? u.correlation[i][j] : std::nan("");
    }
    r.error = report.statistics.logError;
    r.profile = profileOf(fitted.sample, fitted.band);
    for (int d = 0; d < problem.datasetCount(); ++d) {
        const CurveStore& cs = problem.dataset(d).state->curveStore;
        const std::size_t n =
            std::min(static_cast<std::size_t>(std::max(cs.calcCount, 0)), cs.measAngle.size());
        py::dict curve;
        curve["file"] = problem.dataset(d).label;
        curve["angles"] = arrayOf(cs.measAngle, n);
        curve["measured"] = arrayOf(cs.measIntensity, n);
        curve["computed"] = arrayOf(cs.calcCurve, n);
        r.curves.append(curve);
        if (d == 0) r.curve = curve;
    }
    const fit::Summary& s = report.global;
    r.summary["search"] = report.search;
    r.summary["termination"] = report.searchStop;
    r.summary["message"] = s.message;
    r.summary["generations"] = fitted.generations;
    r.summary["evaluations"] = s.evaluations;
    r.summary["search_seconds"] = s.seconds;
    r.summary["seconds"] = report.seconds;
    r.summary["search_error"] = static_cast<double>(s.bestError);
    r.summary["error"] = report.statistics.logError;
    r.summary["polish"] = report.polish ? py::cast(report.polish->summary.brief()) : py::none();
    r.summary["warnings"] = report.global.warnings;
    r.summary["uncertainty"] = u.message;
    r.summary["reduced_chi2"] = report.statistics.reducedChi2;
    r.summary["weighted_r"] = report.statistics.weightedR;
    r.summary["points"] = report.statistics.points;
    r.reportText = fit::reportText(report);
    r.stopped = fitted.stopped;
    return r;
}

/// Fits the project. `progress(generation, best_error)` is called after each generation with the
/// GIL held; returning False (or raising, or Ctrl-C) stops the search after that generation.
FitResult fitOf(const fit::Project& shared, const py::object& progress, int threads) {
    // Another Python thread may change the project while the search runs without the GIL.
    const fit::Project project = shared;
    std::optional<py::error_already_set> raised;
    fit::ProjectFitOptions options;
    options.threads = threads;
    options.progress = [&](const fit::ProjectFitProgress& p) {
        py::gil_scoped_acquire gil;
        if (raised) return false;
        try {
            if (PyErr_CheckSignals() != 0) throw py::error_already_set();
            if (progress.is_none()) return true;
            const py::object answer = progress(p.generation, p.bestError);
            return !(py::isinstance<py::bool_>(answer) && !answer.cast<bool>());
        } catch (py::error_already_set& e) {
            raised.emplace(std::move(e));
            return false;
        }
    };
    std::unique_ptr<fit::FitProblem> problem;
    fit::ProjectFitResult fitted;
    runWithFiles(projectFiles(project), [&] {
        py::gil_scoped_release release;
        problem = fit::buildProblem(project);
        fitted = fit::fitProject(project, *problem, options);
    });
    if (raised) throw std::move(*raised);
    if (fitted.failed) throw fit::ProjectError(project.path + ": " + fitted.message);
    return resultOf(*problem, fitted);
}

/// The folder of a file's path as an absolute path ("" when it cannot be worked out).
std::filesystem::path folderOf(const std::string& path) {
    namespace fs = std::filesystem;
    fs::path folder = fs::path(path).parent_path();
    if (folder.empty()) folder = ".";
    std::error_code ec;
    folder = fs::weakly_canonical(fs::absolute(folder, ec), ec);
    return ec ? fs::path() : folder;
}

/// `name`, relative to the folder `from` unless absolute, made relative to the folder `to`.
std::string rebased(const std::string& name, const std::filesystem::path& from,
                    const std::filesystem::path& to) {
    namespace fs = std::filesystem;
    if (name.empty() || fs::path(name).is_absolute()) return name;
    std::error_code ec;
    const fs::path file = fs::weakly_canonical(from / name, ec);
    if (ec) return (from / name).string();
    const fs::path moved = file.lexically_relative(to);
    return moved.empty() ? file.string() : moved.generic_string();
}

/// The project as it is to be written to `path`: saved into another folder, its measured and
/// profile files are named relative to that folder, so that the copy reads the same files.
fit::Project movedTo(const fit::Project& p, const std::string& path) {
    const std::filesystem::path from = folderOf(p.path);
    const std::filesystem::path to = folderOf(path);
    if (from.empty() || to.empty() || from == to) return p;
    fit::Project moved = p;
    for (fit::DatasetSpec& d : moved.datasets)
        d.file = rebased(d.file, from, to);
    moved.ionProfileFile = rebased(moved.ionProfileFile, from, to);
    return moved;
}

/// Sets a setting of the fit through the project text, so that the file's checks and messages
/// apply.
template <typename Set>
void changeFit(fit::Project& p, Set set) {
    fit::Project changed = p;
    set(changed.fit);
    p = fit::parseProject(fit::projectText(changed), p.path);
}

}  // namespace

void bindProject(py::module_& m) {
    py::class_<FitResult>(m, "FitResult", "Parameters, profile, curves and summary of a fit.")
        .def_readonly("parameters", &FitResult::parameters)
        .def_readonly("units", &FitResult::units)
        .def_readonly("free", &FitResult::free)
        .def_readonly("error", &FitResult::error)
        .def_readonly("errors", &FitResult::errors)
        .def_readonly("flags", &FitResult::flags)
        .def_readonly("correlations", &FitResult::correlations)
        .def_readonly("profile", &FitResult::profile)
        .def_readonly("curve", &FitResult::curve)
        .def_readonly("curves", &FitResult::curves)
        .def_readonly("summary", &FitResult::summary)
        .def_readonly("report_text", &FitResult::reportText)
        .def_readonly("stopped", &FitResult::stopped)
        .def("__repr__", [](const FitResult& r) {
            return "<kelvarin.FitResult: error " + fit::shortNumber(r.error) + " %, " +
                   std::to_string(py::len(r.free)) + " fitted parameters, search ended by " +
                   r.summary["termination"].cast<std::string>() + ">";
        });

    py::class_<fit::Project>(m, "Project", "A project file: sample, profile model, datasets, fit.")
        .def_static(
            "load",
            [](const std::string& path) {
                fit::Project p;
                runWithFiles({path}, [&] { p = fit::loadProject(path); });
                return p;
            },
            py::arg("path"))
        .def(
            "save",
            [](const fit::Project& p, const std::string& path) {
                saveText(path, fit::projectText(movedTo(p, path)));
            },
            py::arg("path"),
            "Writes the project as a TOML text. The measured files stay where they are: saved "
            "into another folder, the project names them relative to that folder.")
        .def_readonly("path", &fit::Project::path)
        .def("__repr__",
             [](const fit::Project& p) { return "kelvarin.Project.load('" + p.path + "')"; })
        .def_readonly("substrate", &fit::Project::substrate)
        .def_property_readonly("text", [](const fit::Project& p) { return fit::projectText(p); })
        .def_property(
            "seed",
            [](const fit::Project& p) -> py::object {
                return p.fit.seeded ? py::cast(p.fit.seed) : py::none();
            },
            [](fit::Project& p, std::uint32_t seed) {
                changeFit(p, [seed](fit::FitSettings& f) {
                    f.seed = seed;
                    f.seeded = true;
                });
            })
        .def_property(
            "generations", [](const fit::Project& p) { return p.fit.generations; },
            [](fit::Project& p, int g) {
                changeFit(p, [g](fit::FitSettings& f) { f.generations = g; });
            })
        .def_property(
            "population", [](const fit::Project& p) { return p.fit.population; },
            [](fit::Project& p, int n) {
                changeFit(p, [n](fit::FitSettings& f) { f.population = n; });
            })
        .def_property(
            "optimizer", [](const fit::Project& p) { return p.fit.optimizer; },
            [](fit::Project& p, const std::string& name) {
                changeFit(p, [&name](fit::FitSettings& f) { f.optimizer = name; });
            },
            "the global search: \"evolutionary\", \"de\" or \"none\"")
        .def_property(
            "polish", [](const fit::Project& p) { return p.fit.polish; },
            [](fit::Project& p, bool on) {
                changeFit(p, [on](fit::FitSettings& f) { f.polish = on; });
            },
            "a least-squares polish after the search")
        .def("fit", &fitOf, py::arg("progress") = py::none(), py::arg("threads") = 0,
             "Runs the fit of the project as kelvarin-cli fit does (the same seed gives the same "
             "numbers): the global search, the least-squares polish when the project asks for "
             "it, the standard errors, correlations and the band of the profile. "
             "progress(generation, best_error) is called after each generation of the search; "
             "returning False stops the search there, and the best candidate so far is kept "
             "without a polish (result.stopped is True).");
}

}  // namespace kelvarin::python
