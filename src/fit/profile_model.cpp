#include "fit/profile_model.hpp"

#include "engine/engine_error.hpp"

namespace kelvarin::fit {

namespace {

/// The windows' models: four single-precision values in columns 1..4 of a candidate row.
class WindowModel : public ProfileModel {
public:
    WindowModel(ProfileKind kind, int layers) : kind_(kind), layers_(layers) {
        if (layers < 1 || layers > kMaxLayers)
            throw EngineError("The number of layers must lie between 1 and " +
                              std::to_string(kMaxLayers) + " (it is " + std::to_string(layers) +
                              ").");
    }
    ProfileKind kind() const override { return kind_; }
    int layers() const override { return layers_; }

    std::vector<Parameter> declare() const override {
        // Default limits: those the refinement settings window starts with.
        if (kind_ == ProfileKind::TwoGauss)
            return {{"tau", "", 0.0042L, 0.003L, 0.005L, 0.0005L, true},
                    {"ro", "Å", 300, 50, 800, 10, true},
                    {"sigma1", "Å", 150, 50, 800, 10, true},
                    {"sigma2", "Å", 250, 50, 800, 10, true}};
        return {{"xc", "Å", 300, 50, 800, 10, true},
                {"A", "", 1, 0.1L, 10, 0.1L, true},
                {"w", "Å", 200, 50, 800, 10, true},
                {"mu", "", 2, 0.6L, 20, 0.5L, true}};
    }

    void fill(std::span<const Extended> values, StrainProfile& profile) const override {
        // Values are used in double precision as given; the fit problem rounds them to single
        // precision first when it keeps the windows' numbers, which gives their exact profile.
        ProfileValues row{};
        for (std::size_t i = 0; i < 4 && i < values.size(); ++i)
            row[i] = static_cast<double>(values[i]);
        strainProfile(row, kind_ == ProfileKind::TwoGauss ? kModelTwoGauss : kModelPearsonVII,
                      layers_, profile);
    }

private:
    ProfileKind kind_;
    int layers_;
};

}  // namespace

void ProfileModel::fill(std::span<const Extended>, StrainProfile&) const {
    throw EngineError("This strain model fills a sample of lamellae, not a windows' profile.");
}

void ProfileModel::fillSample(std::span<const Extended> values, Sample& sample) const {
    StrainProfile profile;
    fill(values, profile);
    sample = sampleOf(profile);
}

const char* profileKindName(ProfileKind kind) {
    switch (kind) {
        case ProfileKind::TwoGauss:
            return "2gauss";
        case ProfileKind::PearsonVII:
            return "pearson";
        case ProfileKind::BSpline:
            return "bspline";
        case ProfileKind::Boxes:
            return "boxes";
        case ProfileKind::IonProfile:
            break;
    }
    return "ion-profile";
}

std::unique_ptr<ProfileModel> makeProfileModel(ProfileKind kind, int layers) {
    if (kind != ProfileKind::TwoGauss && kind != ProfileKind::PearsonVII)
        throw EngineError(std::string("The strain model ") + profileKindName(kind) +
                          " is made with its settings.");
    return std::make_unique<WindowModel>(kind, layers);
}

}  // namespace kelvarin::fit
