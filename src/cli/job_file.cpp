#include "cli/job_file.hpp"

#include <toml++/toml.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <fstream>
#include <initializer_list>
#include <limits>
#include <map>
#include <sstream>
#include <vector>

#include "app/form4cols.hpp"
#include "engine/catalogue.hpp"
#include "engine/state.hpp"
#include "refine/refine_state.hpp"

namespace kelvarin::cli {

namespace {

/// Largest number of generations a job may ask for.
constexpr std::int64_t kMaxGenerations = 1000000;
/// Largest job file read.
constexpr std::uintmax_t kMaxJobFileBytes = 1u << 20;

std::string lowered(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string typeName(const toml::node& node) {
    switch (node.type()) {
        case toml::node_type::table:
            return "a table";
        case toml::node_type::array:
            return "an array";
        case toml::node_type::string:
            return "a string";
        case toml::node_type::integer:
            return "an integer";
        case toml::node_type::floating_point:
            return "a floating-point number";
        case toml::node_type::boolean:
            return "a boolean";
        case toml::node_type::date:
        case toml::node_type::time:
        case toml::node_type::date_time:
            return "a date or time";
        default:
            return "nothing";
    }
}

/// Reads one job text: every key is looked up through here, so unknown keys can be found
/// afterwards and every message names the file, the line and the key.
class Reader {
public:
    Reader(const toml::table& root, std::string jobName) : root_(root), job_(std::move(jobName)) {}

    [[noreturn]] void fail(const std::string& key, const toml::node* node,
                           const std::string& what) const {
        std::string where = job_;
        if (node != nullptr && node->source().begin.line > 0)
            where += ", line " + std::to_string(node->source().begin.line);
        throw JobError(where + ": key '" + key + "' " + what);
    }

    /// The table `name`, or nullptr when the file has none. A key of that name that is not a
    /// table is an error.
    const toml::table* table(const std::string& name) {
        const toml::node* node = root_.get(name);
        if (node == nullptr) return nullptr;
        if (!node->is_table())
            fail(name, node, "must be a table ([" + name + "]), found " + typeName(*node));
        return node->as_table();
    }

    /// Key `key` of table `t` (nullptr when either is missing).
    static const toml::node* find(const toml::table* t, const std::string& key) {
        return t == nullptr ? nullptr : t->get(key);
    }

    /// Unknown tables and keys, in file order.
    void rejectUnknown(const std::map<std::string, std::vector<std::string>>& known) const {
        for (auto&& [k, node] : root_) {
            const std::string name(k.str());
            auto it = known.find(name);
            if (it == known.end()) {
                std::string tables;
                for (const auto& [t, keys] : known)
                    tables += (tables.empty() ? "[" : ", [") + t + "]";
                fail(name, &node, "is unknown (the tables of a job are " + tables + ")");
            }
            const toml::table* t = node.as_table();
            if (t == nullptr) continue;  // reported by table()
            for (auto&& [key, value] : *t) {
                const std::string full = name + "." + std::string(key.str());
                if (std::find(it->second.begin(), it->second.end(), std::string(key.str())) ==
                    it->second.end()) {
                    std::string list;
                    for (const auto& s : it->second)
                        list += (list.empty() ? "" : ", ") + s;
                    fail(full, &value, "is unknown (the keys of [" + name + "] are " + list + ")");
                }
            }
        }
    }

    std::string text(const toml::node& node, const std::string& key) const {
        if (!node.is_string()) fail(key, &node, "must be a string, found " + typeName(node));
        return std::string(node.as_string()->get());
    }

    bool boolean(const toml::node& node, const std::string& key) const {
        if (!node.is_boolean()) fail(key, &node, "must be true or false, found " + typeName(node));
        return node.as_boolean()->get();
    }

    std::int64_t integer(const toml::node& node, const std::string& key, std::int64_t lo,
                         std::int64_t hi) const {
        if (!node.is_integer()) fail(key, &node, "must be an integer, found " + typeName(node));
        const std::int64_t v = node.as_integer()->get();
        if (v < lo || v > hi)
            fail(key, &node,
                 "must lie between " + std::to_string(lo) + " and " + std::to_string(hi) +
                     " (found " + std::to_string(v) + ")");
        return v;
    }

    double number(const toml::node& node, const std::string& key) const {
        double v = 0;
        if (node.is_integer())
            v = static_cast<double>(node.as_integer()->get());
        else if (node.is_floating_point())
            v = node.as_floating_point()->get();
        else
            fail(key, &node, "must be a number, found " + typeName(node));
        if (!std::isfinite(v)) fail(key, &node, "must be a finite number");
        return v;
    }

    const toml::array& array(const toml::node& node, const std::string& key, std::size_t size,
                             const std::string& meaning) const {
        const toml::array* a = node.as_array();
        if (a == nullptr || a->size() != size)
            fail(key, &node,
                 "must be an array of " + std::to_string(size) + " numbers [" + meaning + "]" +
                     (a == nullptr ? ", found " + typeName(node)
                                   : ", found " + std::to_string(a->size()) + " values"));
        return *a;
    }

private:
    const toml::table& root_;
    std::string job_;
};

template <typename T>
T choice(Reader& r, const toml::node& node, const std::string& key,
         std::initializer_list<std::pair<const char*, T>> options) {
    const std::string value = r.text(node, key);
    std::string names;
    for (const auto& [name, v] : options) {
        if (value == name) return v;
        names += std::string(names.empty() ? "" : ", ") + "\"" + name + "\"";
    }
    r.fail(key, &node, "must be one of " + names + " (found \"" + value + "\")");
}

bool isPlainFileName(const std::string& name) {
    if (name.empty() || name == "." || name == "..") return false;
    return name.find_first_of("/\\") == std::string::npos && name.find('\0') == std::string::npos;
}

void requireExistingFile(Reader& r, const toml::node& node, const std::string& key,
                         const std::filesystem::path& folder, const std::string& name) {
    if (name.empty()) r.fail(key, &node, "must name a file (it is empty)");
    if (name.find('\0') != std::string::npos)
        r.fail(key, &node, "must not contain a NUL character");
    std::error_code ec;
    const std::filesystem::path p =
        std::filesystem::path(name).is_absolute() ? std::filesystem::path(name) : folder / name;
    if (!std::filesystem::exists(p, ec))
        r.fail(
            key, &node,
            "names the file '" + name + "', which does not exist (looked for " + p.string() + ")");
    if (!std::filesystem::is_regular_file(p, ec))
        r.fail(key, &node, "names '" + name + "', which is not a regular file");
}

ParameterLimits limits(Reader& r, const toml::node& node, const std::string& key) {
    const toml::array& a = r.array(node, key, 3, "minimum, maximum, maximum mutation");
    ParameterLimits out;
    out.minimum = r.number(*a.get(0), key);
    out.maximum = r.number(*a.get(1), key);
    out.maxMutation = r.number(*a.get(2), key);
    if (out.maxMutation < 0)
        r.fail(
            key, &node,
            "must have a maximum mutation of 0 or more (found " + fieldText(out.maxMutation) + ")");
    return out;
}

}  // namespace

std::string fieldText(double value) {
    // The plain decimal form: the windows' whole-number fields take digits only, so 100000
    // must not become "1e+05". The largest doubles need over 300 digits.
    char buffer[400];
    const auto res = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed);
    return std::string(buffer, res.ptr);
}

int radiationIndex(const std::string& name) {
    const std::string want = lowered(name);
    for (std::size_t i = 0; i < kRadiationNames.size(); ++i)
        if (lowered(kRadiationNames[i]) == want) return static_cast<int>(i);
    return -1;
}

JobSpec parseJob(const std::string& text, const std::filesystem::path& path) {
    const std::string jobName = path.string();
    toml::table root;
    try {
        root = toml::parse(text, jobName);
    } catch (const toml::parse_error& e) {
        std::ostringstream msg;
        msg << jobName << ", line " << e.source().begin.line
            << ": not a valid TOML file: " << e.description();
        throw JobError(msg.str());
    }

    JobSpec job;
    job.jobFile = path;
    job.folder = path.has_parent_path() ? path.parent_path() : std::filesystem::path(".");
    Reader r(root, jobName);

    r.rejectUnknown({
        {"main",
         {"job", "theory", "file", "integer_angles", "file_type", "max_strain", "layers",
          "scan_number"}},
        {"ion_positions", {"max_depth", "layers"}},
        {"data_entry", {"hkl", "scan", "radiation", "wavelength", "crystal"}},
        {"refinement",
         {"model", "tau", "ro", "sigma1", "sigma2", "width", "mutation_probability", "population",
          "normalisation", "background", "generations", "seed"}},
        {"output", {"name", "log_scale", "svg"}},
    });

    const toml::table* main = r.table("main");
    const toml::table* ions = r.table("ion_positions");
    const toml::table* data = r.table("data_entry");
    const toml::table* refine = r.table("refinement");
    const toml::table* output = r.table("output");
    if (main == nullptr) throw JobError(jobName + ": the table [main] is missing");
    if (data == nullptr) throw JobError(jobName + ": the table [data_entry] is missing");

    auto missing = [&](const std::string& key, const std::string& why) {
        throw JobError(jobName + ": key '" + key + "' is missing" + why);
    };

    // [main]
    const toml::node* n = r.find(main, "job");
    if (n == nullptr) missing("main.job", " (\"calculation\" or \"refinement\")");
    job.job = choice<JobKind>(
        r, *n, "main.job",
        {{"calculation", JobKind::Calculation}, {"refinement", JobKind::Refinement}});
    const bool refinement = job.job == JobKind::Refinement;

    if ((n = r.find(main, "theory")))
        job.theory = choice<int>(r, *n, "main.theory", {{"kinematical", 0}, {"dynamical", 1}});

    n = r.find(main, "file");
    if (n == nullptr)
        missing("main.file", refinement ? " (the measured rocking curve)"
                                        : " (the depth-profile or ion-position file)");
    job.file = r.text(*n, "main.file");
    requireExistingFile(r, *n, "main.file", job.folder, job.file);

    if ((n = r.find(main, "integer_angles")))
        job.integerAngles = r.boolean(*n, "main.integer_angles");

    n = r.find(main, "file_type");
    if (refinement) {
        if (n != nullptr)
            r.fail("main.file_type", n,
                   "applies only to calculation jobs (a refinement reads a measured curve)");
    } else {
        if (n == nullptr)
            missing("main.file_type",
                    " (\"thickness-concentration\", \"thickness-strain\" or \"ion-positions\")");
        job.fileType =
            choice<ProfileFileType>(r, *n, "main.file_type",
                                    {{"thickness-concentration", ProfileFileType::Concentration},
                                     {"thickness-strain", ProfileFileType::Strain},
                                     {"ion-positions", ProfileFileType::IonPositions}});
    }

    n = r.find(main, "max_strain");
    const bool needsMaxStrain = job.fileType == ProfileFileType::Concentration ||
                                job.fileType == ProfileFileType::IonPositions;
    if (n != nullptr) {
        if (!needsMaxStrain)
            r.fail("main.max_strain", n,
                   refinement ? "applies only to calculation jobs"
                              : "applies only to the file types \"thickness-concentration\" and "
                                "\"ion-positions\" (a strain file carries its own strains)");
        job.maxStrainPercent = r.number(*n, "main.max_strain");
        if (!(*job.maxStrainPercent > 0))
            r.fail("main.max_strain", n,
                   "must be a maximum strain above 0 percent (found " +
                       fieldText(*job.maxStrainPercent) + ")");
    } else if (needsMaxStrain) {
        missing("main.max_strain", " (maximum strain in percent, needed by this file type)");
    }

    if ((n = r.find(main, "layers"))) {
        if (!refinement)
            r.fail("main.layers", n,
                   "applies only to refinement jobs (the number of layers used in fitting)");
        job.layers = static_cast<int>(r.integer(*n, "main.layers", 1, kMaxLayers));
    }

    if ((n = r.find(main, "scan_number"))) {
        if (!refinement)
            r.fail("main.scan_number", n,
                   "applies only to refinement jobs (which scan of a measured file)");
        job.scanNumber = static_cast<int>(r.integer(*n, "main.scan_number", 1, 1000000));
    }

    // [ion_positions]
    if (job.fileType == ProfileFileType::IonPositions) {
        if (ions == nullptr)
            throw JobError(jobName +
                           ": the table [ion_positions] (max_depth, layers) is missing; the "
                           "file type \"ion-positions\" needs it");
        n = r.find(ions, "max_depth");
        if (n == nullptr) missing("ion_positions.max_depth", " (depth range in Å)");
        job.ionMaxDepth = r.number(*n, "ion_positions.max_depth");
        if (!(*job.ionMaxDepth > 0))
            r.fail("ion_positions.max_depth", n,
                   "must be a depth above 0 Å (found " + fieldText(*job.ionMaxDepth) + ")");
        n = r.find(ions, "layers");
        if (n == nullptr) missing("ion_positions.layers", " (number of layers)");
        job.ionLayers =
            static_cast<int>(r.integer(*n, "ion_positions.layers", 1, Tform4cols::kMaxLayers));
    } else if (ions != nullptr) {
        throw JobError(jobName +
                       ": the table [ion_positions] applies only to calculation jobs with "
                       "file_type = \"ion-positions\"");
    }

    // [data_entry]
    if ((n = r.find(data, "hkl"))) {
        const toml::array& a = r.array(*n, "data_entry.hkl", 3, "h, k, l");
        for (std::size_t i = 0; i < 3; ++i)
            job.hkl[i] = static_cast<int>(r.integer(*a.get(i), "data_entry.hkl", -1000, 1000));
        if (job.hkl == std::array<int, 3>{0, 0, 0})
            r.fail("data_entry.hkl", n, "must not be [0, 0, 0] (no reflection)");
    }

    if ((n = r.find(data, "scan"))) {
        const toml::array& a = r.array(*n, "data_entry.scan", 3, "initial, final, step");
        std::array<int, 3> s{};
        for (std::size_t i = 0; i < 3; ++i)
            s[i] = static_cast<int>(r.integer(*a.get(i), "data_entry.scan", -100000000, 100000000));
        if (s[2] <= 0)
            r.fail("data_entry.scan", n,
                   "must have a step above 0 seconds of arc (found " + std::to_string(s[2]) + ")");
        if (s[1] < s[0])
            r.fail("data_entry.scan", n,
                   "must have a final angle not below the initial one (found " +
                       std::to_string(s[0]) + " to " + std::to_string(s[1]) + ")");
        const long long points = (static_cast<long long>(s[1]) - s[0]) / s[2] + 1;
        if (points > kCurveCapacity)
            r.fail("data_entry.scan", n,
                   "gives " + std::to_string(points) + " points; at most " +
                       std::to_string(kCurveCapacity) + " can be computed");
        job.scan = s;
    } else if (!refinement) {
        missing("data_entry.scan", " ([initial, final, step] in seconds of arc)");
    }

    n = r.find(data, "radiation");
    if (n == nullptr) missing("data_entry.radiation", " (\"Cra1\" … \"Moa1\" or \"Synchrotron\")");
    job.radiation = radiationIndex(r.text(*n, "data_entry.radiation"));
    if (job.radiation < 0)
        r.fail("data_entry.radiation", n,
               "must be one of \"Cra1\", \"Fea1\", \"Coa1\", \"Nia1\", \"Cua1\", \"Moa1\", "
               "\"Synchrotron\" (found \"" +
                   r.text(*n, "data_entry.radiation") + "\")");
    const bool synchrotron = job.radiation == static_cast<int>(kRadiationNames.size()) - 1;
    n = r.find(data, "wavelength");
    if (n != nullptr) {
        if (!synchrotron)
            r.fail("data_entry.wavelength", n,
                   "applies only to radiation = \"Synchrotron\" (a tube line has its own)");
        job.wavelength = r.number(*n, "data_entry.wavelength");
        if (!(*job.wavelength > 0))
            r.fail("data_entry.wavelength", n,
                   "must be a wavelength above 0 Å (found " + fieldText(*job.wavelength) + ")");
    } else if (synchrotron) {
        missing("data_entry.wavelength", " (in Å, needed for synchrotron radiation)");
    }

    n = r.find(data, "crystal");
    if (n == nullptr) missing("data_entry.crystal", " (a catalogue name such as \"GaAs\")");
    job.crystal = r.text(*n, "data_entry.crystal");
    if (findCrystal(job.crystal) == nullptr) {
        std::string names;
        for (const CrystalEntry& e : crystalCatalogue())
            names += std::string(names.empty() ? "" : ", ") + std::string(e.name);
        r.fail("data_entry.crystal", n,
               "must be a catalogue crystal (" + names + "), found \"" + job.crystal + "\"");
    }

    // [refinement]
    if (refine != nullptr) {
        for (auto&& [k, node] : *refine) {
            const std::string key(k.str());
            if (!refinement && key != "width")
                r.fail("refinement." + key, &node,
                       "applies only to refinement jobs (a calculation job uses only "
                       "refinement.width, the instrument width limits)");
        }
        if ((n = r.find(refine, "model")))
            job.pearson =
                choice<bool>(r, *n, "refinement.model", {{"2gauss", false}, {"pearson", true}});
        auto lim = [&](const char* key, std::optional<ParameterLimits>& out) {
            const std::string full = std::string("refinement.") + key;
            if (const toml::node* node = r.find(refine, key)) out = limits(r, *node, full);
        };
        lim("tau", job.tau);
        lim("ro", job.ro);
        lim("sigma1", job.sigma1);
        lim("sigma2", job.sigma2);
        lim("width", job.width);
        if (job.width && !(job.width->minimum > 0 && job.width->maximum > 0))
            r.fail("refinement.width", r.find(refine, "width"),
                   "must have limits above 0 seconds of arc (found " +
                       fieldText(job.width->minimum) + " and " + fieldText(job.width->maximum) +
                       ")");
        if ((n = r.find(refine, "mutation_probability"))) {
            job.mutationProbability = r.number(*n, "refinement.mutation_probability");
            if (*job.mutationProbability < 0 || *job.mutationProbability > 1)
                r.fail(
                    "refinement.mutation_probability", n,
                    "must lie between 0 and 1 (found " + fieldText(*job.mutationProbability) + ")");
        }
        if ((n = r.find(refine, "population")))
            job.population = static_cast<int>(
                r.integer(*n, "refinement.population", kMinPopulation, kMaxPopulation));
        if ((n = r.find(refine, "normalisation")))
            job.normalisation = choice<int>(
                r, *n, "refinement.normalisation",
                {{"match-top", 0}, {"lsm-fixed-background", 1}, {"lsm-scale-and-background", 2}});
        if ((n = r.find(refine, "background")))
            job.background = r.number(*n, "refinement.background");
        if ((n = r.find(refine, "generations")))
            job.generations =
                static_cast<int>(r.integer(*n, "refinement.generations", 0, kMaxGenerations));
        if ((n = r.find(refine, "seed")))
            job.seed = static_cast<std::uint32_t>(
                r.integer(*n, "refinement.seed", 0, std::numeric_limits<std::uint32_t>::max()));
    }

    // [output]
    job.outputName = path.stem().string();
    if (output != nullptr) {
        if ((n = r.find(output, "name"))) {
            job.outputName = r.text(*n, "output.name");
            if (!isPlainFileName(job.outputName))
                r.fail("output.name", n,
                       "must be a plain file name without folder or extension (found \"" +
                           job.outputName + "\"); the results go to the job file's folder");
        }
        if ((n = r.find(output, "log_scale"))) job.logScale = r.boolean(*n, "output.log_scale");
        if ((n = r.find(output, "svg"))) job.svg = r.boolean(*n, "output.svg");
    }
    if (!isPlainFileName(job.outputName))
        throw JobError(jobName +
                       ": key 'output.name' is missing and the job file's name gives "
                       "no usable result name");
    return job;
}

JobSpec readJobFile(const std::filesystem::path& path) {
    std::error_code ec;
    if (!std::filesystem::is_regular_file(path, ec))
        throw JobError(path.string() + ": no such job file");
    if (std::filesystem::file_size(path, ec) > kMaxJobFileBytes)
        throw JobError(path.string() + ": the job file is larger than 1 MiB");
    std::ifstream in(path, std::ios::binary);
    if (!in) throw JobError(path.string() + ": the job file cannot be opened");
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) throw JobError(path.string() + ": the job file cannot be read");
    return parseJob(buffer.str(), path);
}

}  // namespace kelvarin::cli
