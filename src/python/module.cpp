// The Python module `kelvarin`: the crystal, the reflection, a sample of lamellae and its
// rocking curve, and the project with its fit (python/project_binding.cpp).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "engine/engine_error.hpp"
#include "engine/sample.hpp"
#include "engine/sample_curve.hpp"
#include "python/errors.hpp"
#include "python/project_binding.hpp"

namespace py = pybind11;

namespace kelvarin::python {

namespace {

/// A sample as the project file holds it: the substrate crystal and its lamellae.
struct PySample {
    Crystal substrate;
    Sample sample;
};

Theory theoryOf(const std::string& physics) {
    if (physics == "full" || physics == "dynamical") return kTheoryDynamical;
    if (physics == "kinematical") return kTheoryKinematical;
    throw EngineError("physics must be \"full\" (dynamical) or \"kinematical\", not \"" + physics +
                      "\"");
}

Reflection reflectionOf(std::array<int, 3> hkl, const std::string& radiation,
                        std::optional<double> wavelength) {
    Reflection r;
    r.h = hkl[0];
    r.k = hkl[1];
    r.l = hkl[2];
    r.radiation = wavelength ? Radiation::synchrotron(*wavelength) : Radiation::tubeLine(radiation);
    return r;
}

Lamella lamellaOf(double thickness, double strainPercent, double damage) {
    Lamella l{thickness, strainPercent / 100.0, damage};
    validateSample(Sample{{l}});
    return l;
}

py::array_t<double> simulate(
    const PySample& s, const Reflection& reflection,
    const py::array_t<double, py::array::c_style | py::array::forcecast>& angles,
    std::optional<double> width, const std::string& physics) {
    if (angles.ndim() != 1) throw EngineError("the angles must be a one-dimensional array");
    SampleCurveRequest request;
    request.sample = s.sample;
    request.theory = theoryOf(physics);
    if (width) request.width = *width;
    py::array_t<double> out(angles.shape(0));
    const std::span<const double> in(angles.data(), static_cast<std::size_t>(angles.shape(0)));
    const std::span<double> values(out.mutable_data(), static_cast<std::size_t>(out.shape(0)));
    {
        py::gil_scoped_release release;
        request.setup = buildSetup(s.substrate, reflection);
        sampleCurve(request, in, values);
    }
    return out;
}

}  // namespace

}  // namespace kelvarin::python

PYBIND11_MODULE(kelvarin, m) {
    using namespace kelvarin;
    using namespace kelvarin::python;
    m.doc() = "Rocking curves of ion-implanted crystals and their fits.";
    m.attr("__version__") = KELVARIN_VERSION;
    registerErrorTranslators();

    py::class_<Crystal>(m, "Crystal", "A catalogue crystal of zinc-blende or diamond structure.")
        .def(py::init(&Crystal::fromCatalogue), py::arg("name"))
        .def_readonly("name", &Crystal::name)
        .def_property_readonly(
            "a", [](const Crystal& c) { return static_cast<double>(c.a); }, "lattice constant, Å")
        .def("__repr__", [](const Crystal& c) { return "kelvarin.Crystal('" + c.name + "')"; });

    py::class_<Reflection>(m, "Reflection",
                           "Miller indices (the surface is (001)) and the radiation: a tube line "
                           "(Cra1 Fea1 Coa1 Nia1 Cua1 Moa1) or a synchrotron wavelength in Å.")
        .def(py::init(&reflectionOf), py::arg("hkl"), py::arg("radiation") = "Cua1",
             py::arg("wavelength") = std::nullopt)
        .def_property_readonly("hkl",
                               [](const Reflection& r) {
                                   return std::array<int, 3>{static_cast<int>(r.h),
                                                             static_cast<int>(r.k),
                                                             static_cast<int>(r.l)};
                               })
        .def_property_readonly("radiation", [](const Reflection& r) { return r.radiation.name(); });

    py::class_<Lamella>(m, "Lamella",
                        "One lamella: thickness in Å, strain in percent, static Debye-Waller "
                        "damage factor in (0, 1] (1: perfect).")
        .def(py::init(&lamellaOf), py::arg("thickness"), py::arg("strain"), py::arg("damage") = 1.0)
        .def_readonly("thickness", &Lamella::thicknessAngstrom)
        .def_property_readonly("strain", [](const Lamella& l) { return 100.0 * l.strain; })
        .def_readonly("damage", &Lamella::damage)
        .def("__repr__", [](const Lamella& l) {
            return "kelvarin.Lamella(thickness=" + std::to_string(l.thicknessAngstrom) +
                   ", strain=" + std::to_string(100.0 * l.strain) +
                   ", damage=" + std::to_string(l.damage) + ")";
        });

    py::class_<PySample>(m, "Sample",
                         "A substrate crystal with lamellae from the surface inward (none: the "
                         "perfect crystal).")
        .def(py::init([](const py::object& substrate, std::vector<Lamella> lamellae) {
                 PySample s;
                 s.substrate = py::isinstance<Crystal>(substrate)
                                   ? substrate.cast<Crystal>()
                                   : Crystal::fromCatalogue(substrate.cast<std::string>());
                 s.sample.lamellae = std::move(lamellae);
                 if (!s.sample.lamellae.empty()) validateSample(s.sample);
                 return s;
             }),
             py::arg("substrate") = "GaAs", py::arg("lamellae") = std::vector<Lamella>{})
        .def_readonly("substrate", &PySample::substrate)
        .def_property_readonly("lamellae", [](const PySample& s) { return s.sample.lamellae; });

    m.def("simulate", &simulate, py::arg("sample"), py::arg("reflection"), py::arg("angles"),
          py::arg("width") = std::nullopt, py::arg("physics") = "full",
          "The reflectivity of the sample at each angle (seconds of arc from the substrate's "
          "Bragg angle), as a numpy array; with width (FWHM of the instrument Gaussian, seconds "
          "of arc) broadened over equally spaced angles. The engine runs without the GIL.");

    // The instrument-file reader joins the engine later; until then the name says so.
    m.def("read_scan", [](const py::args&, const py::kwargs&) {
        PyErr_SetString(PyExc_NotImplementedError,
                        "kelvarin.read_scan: this build cannot read instrument files yet");
        throw py::error_already_set();
    });

    bindProject(m);
}
