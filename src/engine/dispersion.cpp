// Anomalous-dispersion corrections: the built-in values at the tube lines and the per-element
// tables interpolated in wavelength for synchrotron radiation.
#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <locale>
#include <sstream>
#include <string_view>

#include "engine/numio.hpp"
#include "engine/scattering.hpp"
#include "engine/scattering_catalogue.hpp"

namespace kelvarin {

namespace {

bool isOneOf(std::string_view text, std::initializer_list<std::string_view> options) {
    for (std::string_view o : options)
        if (text == o) return true;
    return false;
}

std::string upper(std::string_view s) {
    std::string u(s);
    for (char& c : u)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return u;
}

std::string lengthText(Extended v) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out << static_cast<double>(v);
    return out.str();
}

std::string dispersionFileName(std::string_view symbol) {
    return upper(symbol) + "lambda.dat";
}

/// f', f'' of one element at `lambda` from its dispersion file.
DispersionRow fromFile(std::string_view symbol, Extended lambda,
                       const std::vector<std::string>& searchPath) {
    const std::string name = dispersionFileName(symbol);
    const std::string path = findDispersionFile(name, searchPath);
    return interpolateDispersion(readDispersionFile(path), lambda, path);
}

}  // namespace

Extended tubeWavelength(int radiationIndex) {
    // Cr, Fe, Co, Ni, Cu, Mo K-alpha1 in ångström, held as doubles.
    static constexpr double kLines[6] = {2.2897, 1.93604, 1.78896, 1.65791, 1.540562, 0.7093};
    if (radiationIndex < 0 || radiationIndex > 5)
        throw ScatteringError("Radiation " + std::to_string(radiationIndex) +
                              " is not an X-ray tube line");
    return static_cast<Extended>(kLines[radiationIndex]);
}

std::vector<std::string> dispersionSearchPath() {
    std::vector<std::string> path{""};
    const char* env = std::getenv("KELVARIN_DATA_DIR");
    if (env != nullptr && *env != '\0') {
        path.push_back((std::filesystem::path(env) / "dispersion").string());
    } else {
#ifdef KELVARIN_DATA_DIR
        path.push_back((std::filesystem::path(KELVARIN_DATA_DIR) / "dispersion").string());
#endif
    }
    return path;
}

std::string findDispersionFile(const std::string& fileName,
                               const std::vector<std::string>& searchPath) {
    namespace fs = std::filesystem;
    std::string searched;
    for (const std::string& dir : searchPath) {
        std::error_code ec;
        const fs::path folder = dir.empty() ? fs::current_path(ec) : fs::path(dir);
        if (!searched.empty()) searched += ", ";
        searched += "'" + folder.string() + "'";
        const fs::path exact = dir.empty() ? fs::path(fileName) : folder / fileName;
        if (fs::is_regular_file(exact, ec)) return exact.string();
        // Files copied from a case-insensitive file system may be spelled "Galambda.dat".
        const std::string wanted = upper(fileName);
        fs::directory_iterator it(dir.empty() ? fs::path(".") : folder, ec);
        for (; !ec && it != fs::directory_iterator(); it.increment(ec)) {
            if (upper(it->path().filename().string()) == wanted &&
                fs::is_regular_file(it->path(), ec))
                return dir.empty() ? it->path().filename().string() : it->path().string();
        }
    }
    throw DataFileError("Dispersion file '" + fileName + "' not found (looked in " + searched +
                        ")");
}

std::vector<DispersionRow> readDispersionFile(const std::string& path) {
    NumberReader reader = NumberReader::fromFile(path, 4u << 20);
    std::vector<DispersionRow> rows;
    float v[3];
    int count = 0;
    int rowLine = 1;
    while (reader.nextOrThrow(v[count % 3])) {
        if (count % 3 == 0) rowLine = reader.line();
        ++count;
        if (count % 3 != 0) continue;
        const DispersionRow row{v[0], v[1], v[2]};
        if (!(row.lambda > 0))
            throw DataFileError("File '" + path + "', line " + std::to_string(rowLine) +
                                ": wavelength " + lengthText(row.lambda) + " is not positive");
        if (!rows.empty() && !(row.lambda > rows.back().lambda))
            throw DataFileError("File '" + path + "', line " + std::to_string(rowLine) +
                                ": wavelength " + lengthText(row.lambda) +
                                " does not follow the previous " + lengthText(rows.back().lambda) +
                                " (rows must be in ascending order of wavelength)");
        rows.push_back(row);
    }
    if (count % 3 != 0)
        throw DataFileError("File '" + path +
                            "' ends within a row: every row has three numbers (wavelength, "
                            "f', f'')");
    if (rows.size() < 2)
        throw DataFileError("File '" + path +
                            "' needs at least two rows (wavelength, f', f'') to interpolate");
    return rows;
}

DispersionRow interpolateDispersion(const std::vector<DispersionRow>& rows, Extended lambda,
                                    const std::string& fileName) {
    // The rows hold single-precision wavelengths (0.3 is stored as 0.30000001): a wavelength
    // is inside the table when it is in that precision, and is then taken to its edge.
    const auto tabulated = [](Extended v) { return static_cast<Extended>(static_cast<float>(v)); };
    if (rows.empty() ||
        !(tabulated(lambda) >= rows.front().lambda && tabulated(lambda) <= rows.back().lambda)) {
        std::string range = rows.empty() ? "it has no rows"
                                         : "it covers " + lengthText(rows.front().lambda) + " to " +
                                               lengthText(rows.back().lambda) + " Å";
        throw DataFileError("Wavelength " + lengthText(lambda) +
                            " Å is outside the range of dispersion file '" + fileName + "' (" +
                            range + ")");
    }
    const Extended wanted = lambda;
    lambda = std::clamp(lambda, rows.front().lambda, rows.back().lambda);
    for (std::size_t i = 0; i + 1 < rows.size(); ++i) {
        const DispersionRow& r1 = rows[i];
        const DispersionRow& r2 = rows[i + 1];
        if (r1.lambda <= lambda && lambda < r2.lambda) {
            DispersionRow out;
            out.lambda = wanted;
            out.fReal =
                r1.fReal + (lambda - r1.lambda) * (r2.fReal - r1.fReal) / (r2.lambda - r1.lambda);
            out.fImag =
                r1.fImag + (lambda - r1.lambda) * (r2.fImag - r1.fImag) / (r2.lambda - r1.lambda);
            return out;
        }
    }
    // The last tabulated wavelength itself: no pair brackets it with its upper bound excluded,
    // and the table's own value is the right answer.
    return rows.back();
}

DispersionValues dispersionCorrections(int radiationIndex, Extended synchrotronWavelength,
                                       const std::string& compoundName,
                                       const std::vector<std::string>& searchPath) {
    if (radiationIndex < 0 || radiationIndex >= kRadiationCount)
        throw ScatteringError("Radiation " + std::to_string(radiationIndex) +
                              " is not one of the seven radiation choices");
    const std::string_view name = compoundName;
    const std::string_view first2 = name.substr(0, 2);
    const std::string_view anion = name.size() > 2 ? name.substr(2, 2) : std::string_view{};
    DispersionValues d;

    if (radiationIndex != kSynchrotron) {
        const int line = radiationIndex;
        d.lambda = tubeWavelength(line);
        auto site1 = [&](std::string_view symbol) {
            const DispersionPair p = findElement(symbol)->tube[line];
            d.f1Real = p.fReal;
            d.f1Imag = p.fImag;
        };
        auto site2 = [&](std::string_view symbol) {
            const DispersionPair p = findElement(symbol)->tube[line];
            d.f2Real = p.fReal;
            d.f2Imag = p.fImag;
        };
        if (isOneOf(first2, {"Ga", "Al", "In", "Zn", "Cd"})) site1(first2);
        if (first2 == "Si") {
            site1("Si");
            site2(name == "SiC" ? "C" : "Si");
        }
        if (isOneOf(name, {"C", "Ge", "Sn"})) {
            site1(name);
            site2(name);
        }
        const std::string_view third = anion.substr(0, 1);
        if (third == "N" || third == "P") site2(third);
        if (isOneOf(anion, {"As", "Sb", "S", "Se", "Te"})) site2(anion);
        return d;
    }

    if (!std::isfinite(synchrotronWavelength) || !(synchrotronWavelength > 0))
        throw ScatteringError("The synchrotron wavelength " + lengthText(synchrotronWavelength) +
                              " Å is not a positive number");
    d.lambda = synchrotronWavelength;
    // Site 1 is named by the first two characters ("C" alone for diamond).
    if (findElement(first2) == nullptr) {
        if (compoundName == "0" || compoundName.empty())
            throw ScatteringError("No crystal has been chosen: there are no dispersion tables");
        throw ScatteringError("The crystal '" + compoundName +
                              "' is not in the catalogue: no dispersion file for its site 1");
    }
    const DispersionRow r1 = fromFile(first2, d.lambda, searchPath);
    d.f1Real = r1.fReal;
    d.f1Imag = r1.fImag;
    if (isOneOf(name, {"C", "Si", "Ge", "Sn"})) {
        d.f2Real = d.f1Real;
        d.f2Imag = d.f1Imag;
        return d;
    }
    if (findElement(anion) == nullptr)
        throw ScatteringError("The crystal '" + compoundName +
                              "' is not in the catalogue: no dispersion file for its site 2");
    const DispersionRow r2 = fromFile(anion, d.lambda, searchPath);
    d.f2Real = r2.fReal;
    d.f2Imag = r2.fImag;
    return d;
}

DispersionValues dispersionCorrections(int radiationIndex, Extended synchrotronWavelength,
                                       const std::string& compoundName) {
    return dispersionCorrections(radiationIndex, synchrotronWavelength, compoundName,
                                 dispersionSearchPath());
}

}  // namespace kelvarin
