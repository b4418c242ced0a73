// The Python module `kelvarin`: the crystal, the reflection, a sample of lamellae and its
// rocking curve, and the project with its fit (python/project_binding.cpp).
#include <pybind11/numpy.h>
#include <pybind11/pybind11.h>
#include <pybind11/stl.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

#include "engine/crystal_catalogue.hpp"
#include "engine/engine_error.hpp"
#include "engine/io/rocking_curve.hpp"
#include "engine/io/scan.hpp"
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

/// The recursion through the lamellae: "dynamical" or "kinematical". Before the physics and the
/// theory were separate keywords, `physics` named the theory ("kinematical"; "full" meant the
/// dynamical one); those names are still taken from `physics` when `theory` is not given.
Theory theoryOf(const std::optional<std::string>& theory, const std::string& physics) {
    const std::string name = theory                     ? *theory
                             : physics == "kinematical" ? "kinematical"
                                                        : "dynamical";
    if (name == "dynamical") return kTheoryDynamical;
    if (name == "kinematical") return kTheoryKinematical;
    throw EngineError("theory must be \"dynamical\" or \"kinematical\", not \"" + name + "\"");
}

/// The physics of the angle and intensity arithmetic: "classic" (the windows' arithmetic) or
/// "full" (exact wave vectors, refraction, polarisation), with the polarisation of the beam
/// ("sigma", "pi", "unpolarised"; by default what the radiation gives: unpolarised for a tube
/// line, σ for synchrotron radiation). The old theory names are still taken from `physics` when
/// `theory` is not given, as the classic arithmetic.
PhysicsOptions physicsOf(const std::string& physics, const std::optional<std::string>& theory,
                         const std::optional<std::string>& polarisation,
                         const Reflection& reflection) {
    PhysicsOptions options;
    const bool theoryName = !theory && (physics == "dynamical" || physics == "kinematical");
    const std::optional<PhysicsModel> model =
        theoryName ? PhysicsModel::Classic : physicsModelNamed(physics);
    if (!model)
        throw EngineError("physics must be \"classic\" or \"full\", not \"" + physics + "\"");
    options.model = *model;
    if (polarisation && !options.full())
        throw EngineError(
            "polarisation is a setting of physics=\"full\"; the classic arithmetic "
            "is σ-polarised");
    if (!options.full()) return options;
    options.polarisation = defaultPolarisation(reflection.radiation.index);
    if (polarisation) {
        const std::optional<Polarisation> p = polarisationNamed(*polarisation);
        if (!p)
            throw EngineError("polarisation must be \"sigma\", \"pi\" or \"unpolarised\", not \"" +
                              *polarisation + "\"");
        options.polarisation = *p;
    }
    return options;
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
    std::optional<double> width, const std::string& physics,
    const std::optional<std::string>& theory, const std::optional<std::string>& polarisation) {
    const PhysicsOptions options = physicsOf(physics, theory, polarisation, reflection);
    if (angles.ndim() != 1) throw EngineError("the angles must be a one-dimensional array");
    SampleCurveRequest request;
    request.sample = s.sample;
    request.theory = theoryOf(theory, physics);
    request.physics = options;
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

/// `values` as a numpy array that owns them, without copying them.
py::array_t<double> ownedArray(std::vector<double>&& values) {
    auto* owned = new std::vector<double>(std::move(values));
    const py::capsule free(owned, [](void* p) { delete static_cast<std::vector<double>*>(p); });
    return py::array_t<double>(static_cast<py::ssize_t>(owned->size()), owned->data(), free);
}

/// A measured scan as offsets from its zero (seconds of arc) and counts, and what was read.
py::tuple readScanOf(const std::string& path, int scanNumber, std::optional<std::string> axis,
                     std::optional<std::string> unit, std::optional<double> wavelength,
                     std::optional<std::string> crystal, std::optional<std::array<int, 3>> hkl,
                     std::optional<std::string> radiation, const py::object& zero) {
    ScanReadOptions options;
    options.scanNumber = scanNumber;
    options.wavelength = wavelength;
    if (axis) {
        options.axis = axisFromName(*axis);
        if (!options.axis) throw EngineError("read_scan: unknown axis '" + *axis + "'");
    }
    if (unit) {
        if (*unit == "deg" || *unit == "degrees")
            options.unit = AngleUnit::Degrees;
        else if (*unit == "arcsec")
            options.unit = AngleUnit::ArcSeconds;
        else
            throw EngineError("read_scan: the unit must be \"deg\" or \"arcsec\", not '" + *unit +
                              "'");
    }
    ZeroChoice choice;
    if (py::isinstance<py::str>(zero)) {
        const std::string z = zero.cast<std::string>();
        if (z == "bragg")
            choice.kind = ZeroChoice::Kind::Bragg;
        else if (z != "substrate-peak")
            throw EngineError("read_scan: zero must be \"substrate-peak\", \"bragg\" or an angle");
    } else {
        choice.kind = ZeroChoice::Kind::Angle;
        choice.angle = zero.cast<double>();
    }
    Scan scan;
    RockingCurve curve;
    {
        py::gil_scoped_release release;
        runWithFiles({path}, [&] { scan = readScan(path, options); });
        std::optional<SubstrateBragg> bragg;
        if (crystal) {
            const std::array<int, 3> r = hkl ? *hkl : scan.reflection.value_or(std::array{0, 0, 4});
            const Extended lambda =
                radiation
                    ? tubeWavelength(Radiation::tubeLine(*radiation).index)
                    : static_cast<Extended>(wavelength ? *wavelength : scan.wavelength.value_or(0));
            // Any crystal of the catalogue file, as kelvarin-cli scan --crystal takes it.
            const CatalogueCrystal* entry = CrystalCatalogue::standard().find(*crystal);
            if (entry == nullptr) throw EngineError("Unknown crystal '" + *crystal + "'");
            bragg = substrateBragg(Crystal::fromCatalogueEntry(*entry), r[0], r[1], r[2], lambda);
        }
        curve = toRockingCurve(scan, choice, bragg);
    }
    py::dict meta;
    meta["format"] = scan.format;
    meta["axis"] = axisName(scan.axis);
    meta["unit"] = scan.unit == AngleUnit::Degrees ? "deg" : "arcsec";
    meta["points"] = scan.angle.size();
    meta["counting_time"] = scan.countingTime ? py::cast(*scan.countingTime) : py::none();
    meta["wavelength"] = scan.wavelength ? py::cast(*scan.wavelength) : py::none();
    meta["scan_number"] = scan.scanNumber;
    meta["scan_count"] = scan.scanCount;
    meta["sample"] = scan.sample;
    meta["date"] = scan.date;
    meta["instrument"] = scan.instrument;
    meta["zero"] = curve.zero;
    meta["zero_reason"] = curve.zeroReason;
    meta["notes"] = scan.notes;
    return py::make_tuple(ownedArray(std::move(curve.offset)), ownedArray(std::move(curve.counts)),
                          meta);
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
          py::arg("width") = std::nullopt, py::arg("physics") = "classic",
          py::arg("theory") = std::nullopt, py::arg("polarisation") = std::nullopt,
          "The reflectivity of the sample at each angle (seconds of arc from the substrate's "
          "Bragg angle), as a numpy array; with width (FWHM of the instrument Gaussian, seconds "
          "of arc) broadened over equally spaced angles. theory: \"dynamical\" (default) or "
          "\"kinematical\" recursion through the lamellae; physics: \"classic\" (the windows' "
          "arithmetic) or \"full\" (exact wave vectors, refraction, polarisation); polarisation "
          "(full only): \"sigma\", \"pi\" or \"unpolarised\" (default: unpolarised for a tube "
          "line, sigma for synchrotron radiation). The engine "
          "runs without the GIL.");

    m.def("read_scan", &readScanOf, py::arg("path"), py::arg("scan_number") = 0,
          py::arg("axis") = std::nullopt, py::arg("unit") = std::nullopt,
          py::arg("wavelength") = std::nullopt, py::arg("crystal") = std::nullopt,
          py::arg("hkl") = std::nullopt, py::arg("radiation") = std::nullopt,
          py::arg("zero") = "substrate-peak",
          "Reads a measured scan (XRDML, .x00, RAS, UXD or plain text, chosen by its content) and "
          "returns (offsets, counts, metadata): the offsets in seconds of arc from the zero (the "
          "substrate peak, nearest the substrate's Bragg angle when crystal is given; \"bragg\"; "
          "or an angle on the file's axis), the counts after attenuation and counting time.");

    bindProject(m);
}
