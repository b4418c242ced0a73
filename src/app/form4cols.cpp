#include "app/form4cols.hpp"

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "app/application.hpp"
#include "app/formmain.hpp"
#include "app/profile_import.hpp"
#include "setup/formdata.hpp"

namespace kelvarin {

namespace {

constexpr const char* kMaxDepthField = "Maximum depth for simulation";
constexpr const char* kLayersField = "Number of layers";
constexpr const char* kThicknessField = "Layer Thickness";
constexpr const char* kMaximumStrainField = "Maximum strain (%)";

bool allDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

}  // namespace

Tform4cols::Tform4cols(Application& app) : Window(app, "Four-Column Data File") {}

bool Tform4cols::readMaxDepth(long double& out) const {
    // Digits with one optional decimal separator, either "." or ","; nothing else (no sign, no
    // exponent, no blanks), so that a half-typed text never counts.
    const std::string& text = maxdepth.text;
    int separators = 0;
    int digits = 0;
    for (char c : text) {
        if (c >= '0' && c <= '9') {
            ++digits;
        } else if (c == '.' || c == ',') {
            ++separators;
        } else {
            return false;
        }
    }
    if (digits == 0 || separators > 1) return false;
    const Locale& locale = app_.locale();
    return locale.tryTextToFloat(locale.NormalizeDecimalSeparator(text), out);
}

bool Tform4cols::readLayerCount(int& out) const {
    return allDigits(nlayers.text) && Locale::tryTextToInt(nlayers.text, out);
}

void Tform4cols::scanIonFile() {
    const std::string& path = app_.formmain().file.text;
    const std::vector<float> depths = readIonDepths(path);
    // The deepest ion in whole Å, truncated toward zero; ions above the surface do not count.
    long double deepestDepth = 0;
    for (float x : depths)
        if (x > deepestDepth) deepestDepth = std::trunc(static_cast<long double>(x));

    StringGrid& table = app_.formdata().data;
    table.setCell(0, 0, "Thickness");
    table.setCell(1, 0, "Strain");
    deepest.caption = app_.locale().floatToText(deepestDepth) + "Å";
    show();
}

void Tform4cols::maxdepthChange() {
    long double depth = 0;
    int layers = 0;
    if (readMaxDepth(depth) && readLayerCount(layers) && layers != 0)
        layerthickness.caption = app_.locale().floatToText(depth / layers);
    Button1.enabled = true;
}

void Tform4cols::Button1Click() {
    const Locale& locale = app_.locale();
    const Tformmain& main = app_.formmain();

    // The fields: a whole number of layers, at least one, and a depth range above zero. The
    // layer thickness shown is brought up to date with them before it is used, so that a
    // caption left from earlier texts never builds the histogram.
    const int layers = locale.textToInt(nlayers.text, kLayersField);
    if (layers < 1 || layers > kMaxLayers) {
        app_.showError(std::string(kLayersField) + " must be between 1 and " +
                       std::to_string(kMaxLayers) + " (it is " + nlayers.text + ").");
        return;
    }
    long double depthRange = 0;
    if (!readMaxDepth(depthRange)) throw ConversionError(maxdepth.text, kMaxDepthField, false);
    if (!(depthRange > 0)) {
        app_.showError(std::string(kMaxDepthField) + " must be greater than zero (it is " +
                       maxdepth.text + ").");
        return;
    }
    layerthickness.caption = locale.floatToText(depthRange / layers);
    const long double thickness = locale.textToFloat(layerthickness.caption, kThicknessField);
    if (!(thickness > 0)) {
        app_.showError(std::string(kThicknessField) + " " + layerthickness.caption +
                       " Å is too small: choose a larger maximum depth or fewer layers.");
        return;
    }

    try {
        const std::string& path = main.file.text;
        const std::vector<float> depths = readIonDepths(path);

        // Histogram: counter i holds the ions with i*T <= x < (i+1)*T.
        std::vector<double> counts(static_cast<std::size_t>(layers), 0.0);
        std::size_t outside = 0;
        float shallowest = depths.front();
        float deepestDepth = depths.front();
        for (float x : depths) {
            shallowest = std::min(shallowest, x);
            deepestDepth = std::max(deepestDepth, x);
            const long double index = std::floor(static_cast<long double>(x) / thickness);
            if (!(index >= 0 && index < layers)) {
                ++outside;
                continue;
            }
            counts[static_cast<std::size_t>(index)] += 1;
        }
        if (outside > 0)
            throw ImportError(
                "File '" + path + "': " + std::to_string(outside) + " of " +
                std::to_string(depths.size()) + " ions lie outside the layers from 0 to " +
                locale.floatToText(thickness * layers) + " Å (the ions lie between " +
                locale.floatToText(shallowest) + " and " + locale.floatToText(deepestDepth) +
                " Å). Choose a maximum depth that covers every ion.");

        // The table texts: the layer thickness as shown, the counts as number texts; the
        // scaling reads the counts back from those texts.
        std::vector<ProfileRow> rows;
        rows.reserve(counts.size());
        long long largest = 0;
        for (double count : counts) {
            rows.push_back({layerthickness.caption, locale.floatToText(count)});
            largest = std::max(largest, static_cast<long long>(count));
        }
        const double maximumStrain =
            static_cast<double>(locale.textToFloat(main.mstrain.text, kMaximumStrainField));
        if (largest == 0)
            throw ImportError("File '" + path +
                              "' holds no ion within the layers; nothing was imported.");
        for (ProfileRow& row : rows) {
            const long double count = locale.textToFloat(row.strain);
            row.strain = locale.floatToText(count * maximumStrain / largest);
        }

        Button1.enabled = false;
        Tformdata& form = app_.formdata();
        writeProfileTable(form.data, rows);
        form.data.fixedRows = 1;
        hide();
        form.show();
    } catch (const ImportError& e) {
        app_.showError(e.what());
    }
}

}  // namespace kelvarin
