// Program-wide values of the diffraction engine, kept in one explicit object owned by the
// application (one per running program; tests make as many as they like).
#pragma once

#include <array>
#include <memory>
#include <ostream>
#include <vector>

namespace kelvarin {

class MaterialScattering;

using Extended = long double;

/// Capacity of every curve array, in points.
inline constexpr int kCurveCapacity = 40000;

/// Most lamellae a strain profile may have (the profile arrays keep entry 0 unused).
inline constexpr int kMaxLayers = 49;

/// Measured and computed curves with their counters and the scan (seconds of arc).
struct CurveStore {
    std::vector<Extended> measAngle = std::vector<Extended>(kCurveCapacity);
    std::vector<Extended> measIntensity = std::vector<Extended>(kCurveCapacity);
    std::vector<Extended> calcAngle = std::vector<Extended>(kCurveCapacity);
    std::vector<Extended> calcRaw = std::vector<Extended>(kCurveCapacity);
    std::vector<Extended> calcCurve = std::vector<Extended>(kCurveCapacity);
    int measLast = 0;      ///< index of the last measured point in use
    Extended measMax = 0;  ///< largest measured intensity of the last read
    int calcCount = 0;     ///< computed points stored
    Extended calcMax = 0;  ///< running maximum of every reflectivity computed; never reset
    int scanStart = 0;
    int scanEnd = 0;
    int scanStep = 1;
    /// Points written by the last calculation. The layered calculation leaves calcCount one
    /// below it (its last point is not scored); broadening reads computed points up to here and
    /// treats anything beyond as zero.
    int calcComputed = 0;

    /// Starts a new computed curve: calcCount and calcComputed back to 0 (calcMax is kept).
    void beginCalculation() {
        calcCount = 0;
        calcComputed = 0;
    }
    /// Appends one computed point (angle in seconds of arc, reflectivity) to calcAngle, calcRaw
    /// and calcCurve and raises calcMax. Throws EngineError when the arrays are full.
    void addCalculatedPoint(Extended angleArcsec, Extended reflectivity);
};

/// Slots: 4 wavelength (Å), 5/6 f', f'' of site 1, 7/8 f', f'' of site 2.
using RadiationRecord = std::array<Extended, 11>;
inline constexpr int kSlotLambda = 4;
inline constexpr int kSlotF1Real = 5;
inline constexpr int kSlotF1Imag = 6;
inline constexpr int kSlotF2Real = 7;
inline constexpr int kSlotF2Imag = 8;

/// Fractional coordinates (x, y, z) of the four atoms of each site: [site 0|1][atom 0..3][xyz].
using SitePositions = std::array<std::array<std::array<double, 3>, 4>, 2>;

/// The twelve per-crystal scattering-coefficient tables, index 1..12, terms 1..6 (index 0 of
/// both unused): 1..3 site 1 amplitudes of the sets s < 2, 2 <= s <= 4, s > 4; 4..6 their
/// widths; 7..12 the same for site 2.
using CoefficientTables = std::array<std::array<Extended, 7>, 13>;

/// One candidate row: w (instrument FWHM, arcsec), four profile parameters, error.
/// 2Gauss: tau, ro (Å), sigma1 (Å), sigma2 (Å); Pearson VII: xc (Å), A, w (Å), mu.
using CandidateRow = std::array<float, 6>;

/// Lamella thickness (Å) or strain per lamella, entries 1..kMaxLayers (entry 0 unused).
using ProfileArray = std::array<Extended, kMaxLayers + 1>;

/// Smallest reach of the instrument kernel: offsets −20..+21 steps, 42 weights.
inline constexpr int kKernelMinCentre = 20;
inline constexpr int kKernelMinSize = 42;

/// Gaussian instrument weights: weights[j] belongs to the offset (j − centre)·step seconds of
/// arc, so the kernel covers −centre .. size − 1 − centre steps (at least −20..+21). Rebuilt for
/// every width; the storage is kept, so a kernel no longer than an earlier one allocates nothing.
struct InstrumentKernel {
    std::vector<Extended> weights;
    int centre = 0;

    int size() const { return static_cast<int>(weights.size()); }
    Extended operator[](int j) const { return weights[static_cast<std::size_t>(j)]; }
    Extended& operator[](int j) { return weights[static_cast<std::size_t>(j)]; }
};

/// How the computed curve is scaled onto the measured one.
enum class Scaling : int {
    MatchTop = 0,         ///< "Match top intensities"
    FixedBackground = 1,  ///< "LSM fitting, fixed background:"
    FitBackground = 2,    ///< "LSM fitting of scale factor and background"
};
inline constexpr Scaling kNormTopIntensities = Scaling::MatchTop;
inline constexpr Scaling kNormFixedBackground = Scaling::FixedBackground;
inline constexpr Scaling kNormFitBackground = Scaling::FitBackground;

/// Theory of the strained lamellae.
enum class Theory : int {
    Kinematical = 0,
    Dynamical = 1,
};
inline constexpr Theory kTheoryKinematical = Theory::Kinematical;
inline constexpr Theory kTheoryDynamical = Theory::Dynamical;

/// Strain-depth models of the windows.
enum class ProfileKind : int {
    TwoGauss = 0,    ///< double half-Gaussian: tau, ro, sigma1, sigma2; the stack spans 5·ro
    PearsonVII = 1,  ///< Pearson VII: xc, A, w, mu; lamellae of 62.01 Å
    BSpline = 2,     ///< cubic B-spline of free weights over a damaged depth (fit path only)
    Boxes = 3,       ///< layers of their own thickness, strain and damage (fit path only)
    IonProfile = 4,  ///< an imported depth profile scaled to a maximum strain (fit path only)
};
inline constexpr ProfileKind kModelTwoGauss = ProfileKind::TwoGauss;
inline constexpr ProfileKind kModelPearsonVII = ProfileKind::PearsonVII;

/// The names of the choices, as job and project files spell them (for messages and logs).
inline std::ostream& operator<<(std::ostream& out, Theory t) {
    return out << (t == Theory::Dynamical     ? "dynamical"
                   : t == Theory::Kinematical ? "kinematical"
                                              : "none");
}
inline std::ostream& operator<<(std::ostream& out, ProfileKind k) {
    return out << (k == ProfileKind::TwoGauss     ? "2gauss"
                   : k == ProfileKind::PearsonVII ? "pearson"
                                                  : "model?");
}
inline std::ostream& operator<<(std::ostream& out, Scaling m) {
    switch (m) {
        case Scaling::MatchTop:
            return out << "match-top";
        case Scaling::FixedBackground:
            return out << "lsm-fixed-background";
        case Scaling::FitBackground:
            return out << "lsm-scale-and-background";
    }
    return out << "unscaled";
}

struct EngineState {
    CurveStore curveStore;
    RadiationRecord radiationRecord{};

    // Crystal and reflection set-up, stored by the Start run.
    Extended latticeA = 0;  ///< lattice constant a, Å
    Extended latticeB = 0;  ///< lattice constant b, Å
    Extended latticeC = 0;  ///< lattice constant c, Å (the surface normal)
    Extended millerH = 0;   ///< Miller indices, whole numbers held as extended values
    Extended millerK = 0;
    Extended millerL = 0;
    SitePositions sitePositions{};
    CoefficientTables scatteringCoefficients{};  ///< fetched by the Start run
    /// A substrate given as a list of sites (fluorite, perovskite, mixed sites) replaces the
    /// two-site tables above for every slab without a crystal of its own; null otherwise.
    std::shared_ptr<const MaterialScattering> substrateMaterial;

    // Job options, stored by the Start run.
    Theory theoryChoice = Theory::Dynamical;
    int layerCount = 1;  ///< lamellae of the strain profile, 1..kMaxLayers
    ProfileKind profileModel = ProfileKind::TwoGauss;
    Scaling normMode = Scaling::FixedBackground;
    Extended background = 0;  ///< background intensity (mode 2 replaces it)

    // Results of the last evaluation.
    ProfileArray profileThickness{};  ///< Å, entries 1..layerCount
    ProfileArray profileStrain{};     ///< fraction, entry 1 deepest, entry layerCount surface
    InstrumentKernel instrumentKernel{};
    Extended scaleFactor = 1.0L;  ///< scale of the last normalisation
    Extended errorRatio = 0;      ///< unscaled ratio of the last error computation
};

}  // namespace kelvarin
