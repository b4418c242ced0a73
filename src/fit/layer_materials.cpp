#include "fit/layer_materials.hpp"

#include <filesystem>

#include "engine/engine_error.hpp"
#include "fit/project_file.hpp"

namespace kelvarin::fit {

namespace {

std::string layerName(std::size_t k) {
    return "layer " + std::to_string(k + 1);
}

/// A composition that every element of an alloy holds, to resolve its element data once.
constexpr double kMidComposition = 0.5;

}  // namespace

std::shared_ptr<const CrystalCatalogue> projectCatalogue(const std::string& projectPath,
                                                         const std::string& crystalsFile) {
    auto catalogue = std::make_shared<CrystalCatalogue>(CrystalCatalogue::standard());
    if (crystalsFile.empty()) return catalogue;
    const std::filesystem::path file =
        std::filesystem::path(projectPath).parent_path() / crystalsFile;
    std::vector<std::string> problems;
    catalogue->addFile(file.string(), problems);
    if (!problems.empty()) {
        std::string all;
        for (const std::string& p : problems)
            all += "\n  " + p;
        throw ProjectError(projectPath + ": the crystal catalogue '" + crystalsFile +
                           "' has errors:" + all);
    }
    return catalogue;
}

Setup substrateSetup(const Project& project, const Reflection& reflection) {
    const CrystalCatalogue& catalogue =
        project.catalogue ? *project.catalogue : CrystalCatalogue::standard();
    const CatalogueCrystal* crystal = catalogue.find(project.substrate);
    if (crystal == nullptr)
        throw ProjectError(project.path + ": the substrate '" + project.substrate +
                           "' is not in the crystal catalogue");
    try {
        return buildSetup(*crystal, reflection);
    } catch (const MaterialError& e) {
        throw ProjectError(project.path + ": substrate " + project.substrate + ": " + e.what());
    }
}

LayerMaterials::LayerMaterials(const Project& project, const std::vector<Radiation>& radiations,
                               std::vector<int> xParameters)
    : catalogue_(project.catalogue
                     ? project.catalogue
                     : std::make_shared<CrystalCatalogue>(CrystalCatalogue::standard())) {
    const CatalogueCrystal* substrate = catalogue_->find(project.substrate);
    if (substrate == nullptr)
        throw ProjectError(project.path + ": the substrate '" + project.substrate +
                           "' is not in the crystal catalogue");
    substrateA_ = substrate->a;
    for (std::size_t k = 0; k < project.layerMaterials.size(); ++k) {
        Layer layer;
        layer.spec = project.layerMaterials[k];
        layer.xParameter = k < xParameters.size() ? xParameters[k] : -1;
        if (!layer.spec.material.empty()) {
            const std::string where = project.path + ": " + layerName(k);
            try {
                const bool variable = layer.spec.x.has_value();
                const LayerMaterial m = resolveMaterial(
                    layer.spec.material, *catalogue_,
                    variable ? std::optional<double>(kMidComposition) : std::nullopt);
                for (const Radiation& r : radiations)
                    layer.scattering.push_back(std::make_shared<const MaterialScattering>(
                        m.name, m.structure, r.index, r.synchrotronWavelength));
                const LayerMaterial given =
                    variable ? resolveMaterial(layer.spec.material, *catalogue_,
                                               static_cast<double>(layer.spec.x->value))
                             : m;
                if (!layer.spec.strainGiven)
                    layer.strain =
                        layerStrain(given, substrateA_, layer.spec.relaxation, layerName(k));
            } catch (const MaterialError& e) {
                throw ProjectError(where + ": " + e.what());
            }
        }
        layers_.push_back(std::move(layer));
    }
}

bool LayerMaterials::any() const {
    for (const Layer& l : layers_)
        if (!l.spec.material.empty()) return true;
    return false;
}

void LayerMaterials::applyLayer(const Layer& layer, std::size_t k, std::size_t dataset,
                                std::optional<double> x, Sample& sample) const {
    if (layer.spec.material.empty()) return;
    if (k >= sample.lamellae.size())
        throw EngineError("The sample has " + std::to_string(sample.lamellae.size()) +
                          " lamellae; " + layerName(k) +
                          " has a crystal of its own but no lamella");
    Lamella& lamella = sample.lamellae[k];
    const auto& scattering = layer.scattering[dataset];
    if (!x) {
        lamella.material = scattering;
        lamella.strain += layer.spec.strainGiven ? 0 : layer.strain;
        return;
    }
    try {
        const LayerMaterial m = resolveMaterial(layer.spec.material, *catalogue_, *x);
        lamella.material = std::make_shared<const MaterialScattering>(
            scattering->withStructure(m.name, m.structure));
        if (!layer.spec.strainGiven)
            lamella.strain += layerStrain(m, substrateA_, layer.spec.relaxation, layerName(k));
    } catch (const MaterialError& e) {
        throw CandidateRejected(layerName(k) + ": " + e.what());
    }
}

void LayerMaterials::apply(std::span<const Extended> values, std::size_t dataset,
                           Sample& sample) const {
    for (std::size_t k = 0; k < layers_.size(); ++k) {
        const Layer& layer = layers_[k];
        std::optional<double> x;
        if (layer.spec.x) {
            x = layer.xParameter >= 0 && static_cast<std::size_t>(layer.xParameter) < values.size()
                    ? static_cast<double>(values[static_cast<std::size_t>(layer.xParameter)])
                    : static_cast<double>(layer.spec.x->value);
        }
        applyLayer(layer, k, dataset, x, sample);
    }
}

void LayerMaterials::applyGiven(std::size_t dataset, Sample& sample) const {
    for (std::size_t k = 0; k < layers_.size(); ++k) {
        const Layer& layer = layers_[k];
        std::optional<double> x;
        if (layer.spec.x) x = static_cast<double>(layer.spec.x->value);
        applyLayer(layer, k, dataset, x, sample);
    }
}

}  // namespace kelvarin::fit
