#include "python/project_binding.hpp"

#include <pybind11/numpy.h>
#include <pybind11/stl.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <optional>

#include "fit/project_file.hpp"
#include "fit/project_fit.hpp"
#include "python/errors.hpp"

namespace py = pybind11;

namespace kelvarin::python {

namespace {

/// The outcome of Project.fit, as Python objects.
struct FitResult {
    py::dict parameters;  ///< name → value (every parameter of the table)
    py::dict units;       ///< name → unit
    py::list free;        ///< names of the fitted parameters
    double error = 0;     ///< logarithmic error of the best candidate, percent
    // Filled by the least-squares polish once it exists: one-sigma errors of the free
    // parameters, their correlation matrix and the band of the profile.
    py::object errors = py::none();
    py::object correlations = py::none();
    py::dict profile;  ///< depth (Å, top of each lamella), thickness (Å), strain (%), damage, band
    py::list curves;   ///< per dataset: angle, measured, computed
    py::dict summary;  ///< termination, message, evaluations, seconds, generations, brief
    bool stopped = false;
};

template <typename T>
py::array_t<double> arrayOf(const std::vector<T>& v, std::size_t n) {
    py::array_t<double> a(static_cast<py::ssize_t>(n));
    double* out = a.mutable_data();
    for (std::size_t i = 0; i < n; ++i)
        out[i] = static_cast<double>(v[i]);
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

/// The profile of the best candidate: lamellae from the surface inward.
py::dict profileOf(const StrainProfile& profile) {
    const auto n = static_cast<std::size_t>(profile.layerCount);
    std::vector<double> depth(n), thickness(n), strain(n), damage(n, 1.0);
    double top = 0;
    for (std::size_t j = 0; j < n; ++j) {
        const std::size_t i = n - j;  // lamella n lies at the surface
        depth[j] = top;
        thickness[j] = static_cast<double>(profile.profileThickness[i]);
        strain[j] = 100 * static_cast<double>(profile.profileStrain[i]);
        top += thickness[j];
    }
    py::dict d;
    d["depth"] = arrayOf(depth, n);
    d["thickness"] = arrayOf(thickness, n);
    d["strain"] = arrayOf(strain, n);
    d["damage"] = arrayOf(damage, n);
    d["band"] = py::none();  // from the uncertainties of the least-squares polish, later
    return d;
}

FitResult resultOf(const fit::FitProblem& problem, const fit::ProjectFitResult& fitted) {
    FitResult r;
    const fit::ParameterTable& table = problem.parameters();
    for (int i = 0; i < table.size(); ++i) {
        const fit::Parameter& p = table[i];
        r.parameters[py::str(p.name)] =
            static_cast<double>(fitted.best[static_cast<std::size_t>(i)]);
        r.units[py::str(p.name)] = p.unit;
        if (p.free) r.free.append(p.name);
    }
    const fit::Summary& s = fitted.search.summary;
    r.error = static_cast<double>(s.bestError);
    r.profile = profileOf(fitted.profile);
    for (int d = 0; d < problem.datasetCount(); ++d) {
        const CurveStore& cs = problem.dataset(d).state->curveStore;
        const std::size_t n =
            std::min(static_cast<std::size_t>(std::max(cs.calcCount, 0)), cs.measAngle.size());
        py::dict c;
        c["file"] = problem.dataset(d).label;
        c["angle"] = arrayOf(cs.measAngle, n);
        c["measured"] = arrayOf(cs.measIntensity, n);
        c["computed"] = arrayOf(cs.calcCurve, n);
        r.curves.append(c);
    }
    r.summary["termination"] = fit::terminationName(s.termination);
    r.summary["message"] = s.message;
    r.summary["evaluations"] = s.evaluations;
    r.summary["seconds"] = s.seconds;
    r.summary["generations"] = fitted.search.generationsDone;
    r.summary["brief"] = s.brief();
    r.stopped = s.termination == fit::Termination::Stopped;
    return r;
}

/// Fits the project. `progress(generation, best_error)` is called after each generation with the
/// GIL held; returning False (or raising, or Ctrl-C) stops the search after that generation.
FitResult fitOf(const fit::Project& shared, const py::object& progress, int threads) {
    // Another Python thread may change the project while the search runs without the GIL.
    const fit::Project project = shared;
    std::optional<py::error_already_set> raised;
    fit::SearchCallback callback = [&](const fit::SearchProgress& p) {
        if (p.kind != fit::SearchProgress::Kind::GenerationDone) return true;
        py::gil_scoped_acquire gil;
        if (raised) return false;
        try {
            if (PyErr_CheckSignals() != 0) throw py::error_already_set();
            if (progress.is_none()) return true;
            const py::object answer = progress(p.generation, static_cast<double>(p.bestError));
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
        fitted = fit::fitProject(project, *problem, threads, callback);
    });
    if (raised) throw std::move(*raised);
    if (!fitted.evaluated)
        throw fit::ProjectError(project.path + ": " + fitted.search.summary.message);
    return resultOf(*problem, fitted);
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
        .def_readonly("correlations", &FitResult::correlations)
        .def_readonly("profile", &FitResult::profile)
        .def_readonly("curves", &FitResult::curves)
        .def_readonly("summary", &FitResult::summary)
        .def_readonly("stopped", &FitResult::stopped);

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
                saveText(path, fit::projectText(p));
            },
            py::arg("path"),
            "Writes the project as a TOML text (the measured files stay where "
            "they are: their names are relative to the loaded file's folder).")
        .def_readonly("path", &fit::Project::path)
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
        .def("fit", &fitOf, py::arg("progress") = py::none(), py::arg("threads") = 0,
             "Runs the evolutionary search of the project. progress(generation, best_error) is "
             "called after each generation; returning False stops the search there and the best "
             "candidate so far is kept (result.stopped is True).");
}

}  // namespace kelvarin::python
