#include "app/profile_import.hpp"

#include <cmath>

#include "app/application.hpp"
#include "app/controls.hpp"
#include "app/formmain.hpp"
#include "engine/numio.hpp"
#include "setup/formdata.hpp"

namespace kelvarin {

namespace {

constexpr const char* kMaximumStrainField = "Maximum strain (%)";

/// The numbers of the complete records of `width` numbers, one after the other. A trailing
/// incomplete record is dropped; a token that is not a number stops everything.
std::vector<float> readRecords(const std::string& path, int width, const std::string& what) {
    std::vector<float> numbers;
    try {
        NumberReader reader = NumberReader::fromFile(path);
        float value = 0;
        for (;;) {
            const NumberReader::Status status = reader.next(value);
            if (status == NumberReader::Status::End) break;
            if (status == NumberReader::Status::NotANumber) {
                std::string message = reader.badMessage();
                if (reader.badToken().find(',') != std::string::npos)
                    message += " (data files use a point as decimal separator)";
                throw ImportError(message + "; nothing was imported.");
            }
            numbers.push_back(value);
        }
    } catch (const DataFileError& e) {
        throw ImportError(e.what());
    }
    numbers.resize(numbers.size() - numbers.size() % static_cast<std::size_t>(width));
    if (numbers.empty())
        throw ImportError("File '" + path + "' holds no complete " + what +
                          "; nothing was imported.");
    return numbers;
}

}  // namespace

std::vector<ProfilePair> readProfilePairs(const std::string& path,
                                          const std::string& secondColumn) {
    const std::vector<float> numbers =
        readRecords(path, 2, "pair of numbers (thickness, " + secondColumn + ")");
    std::vector<ProfilePair> pairs;
    pairs.reserve(numbers.size() / 2);
    for (std::size_t i = 0; i < numbers.size(); i += 2)
        pairs.push_back({numbers[i], numbers[i + 1]});
    return pairs;
}

std::vector<float> readIonDepths(const std::string& path) {
    const std::vector<float> numbers =
        readRecords(path, 4, "record of four numbers (ion number, x, y, z)");
    std::vector<float> depths;
    depths.reserve(numbers.size() / 4);
    for (std::size_t i = 0; i < numbers.size(); i += 4)
        depths.push_back(numbers[i + 1]);
    return depths;
}

void writeProfileTable(StringGrid& table, const std::vector<ProfileRow>& rows) {
    table.setRowCount(static_cast<int>(rows.size()) + 1);
    table.setCell(0, 0, "Thickness(Å)");
    table.setCell(1, 0, "Strain");
    int row = 1;
    for (const ProfileRow& r : rows) {
        table.setCell(0, row, r.thickness);
        table.setCell(1, row, r.strain);
        ++row;
    }
}

void importConcentrationProfile(Application& app) {
    const Tformmain& main = app.formmain();
    const Locale& locale = app.locale();
    const std::vector<ProfilePair> pairs = readProfilePairs(main.file.text, "concentration");

    // The table holds number texts (single-precision file numbers with the digits they hold);
    // the scaling works on the numbers as they stand there.
    std::vector<ProfileRow> rows;
    std::vector<long double> concentrations;
    rows.reserve(pairs.size());
    concentrations.reserve(pairs.size());
    long double largest = 0;
    for (const ProfilePair& p : pairs) {
        const std::string concentrationText = locale.singleToText(p.value);
        const long double concentration = locale.textToFloat(concentrationText);
        if (concentration > largest) largest = concentration;
        rows.push_back({locale.singleToText(p.thickness), concentrationText});
        concentrations.push_back(concentration);
    }

    const long double maximumStrain = locale.textToFloat(main.mstrain.text, kMaximumStrainField);
    if (!(largest > 0))
        throw ImportError("File '" + main.file.text +
                          "' holds no concentration greater than zero, so the profile cannot be "
                          "scaled to the maximum strain; nothing was imported.");
    for (std::size_t i = 0; i < rows.size(); ++i) {
        const long double strain = concentrations[i] * maximumStrain / largest;
        if (!std::isfinite(strain))
            throw ImportError(std::string(kMaximumStrainField) + ": '" + main.mstrain.text +
                              "' is too large to scale the profile of file '" + main.file.text +
                              "'; nothing was imported.");
        rows[i].strain = locale.floatToText(strain);
    }

    Tformdata& form = app.formdata();
    writeProfileTable(form.data, rows);
    form.data.fixedRows = 1;
    form.show();
}

void importStrainProfile(Application& app) {
    const Tformmain& main = app.formmain();
    const Locale& locale = app.locale();
    const std::vector<ProfilePair> pairs = readProfilePairs(main.file.text, "strain");
    std::vector<ProfileRow> rows;
    rows.reserve(pairs.size());
    for (const ProfilePair& p : pairs)
        rows.push_back({locale.singleToText(p.thickness), locale.singleToText(p.value)});

    Tformdata& form = app.formdata();
    writeProfileTable(form.data, rows);
    form.show();
}

}  // namespace kelvarin
