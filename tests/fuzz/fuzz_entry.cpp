#include "fuzz/fuzz_entry.hpp"

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string_view>

#include "app/application.hpp"
#include "app/form4cols.hpp"
#include "app/formmain.hpp"
#include "app/profile_import.hpp"
#include "cli/job_file.hpp"
#include "engine/measured_curve.hpp"
#include "engine/numio.hpp"
#include "engine/scattering.hpp"
#include "fuzz/fuzz_check.hpp"
#include "fuzz/scan_fuzz_entry.hpp"
#include "setup/formdata.hpp"

namespace kelvarin::fuzz {

namespace {

/// The fuzz input as a file on disk, for readers that take a path; one per process.
const std::string& writeInput(const std::uint8_t* data, std::size_t size) {
    static const std::string path =
        (std::filesystem::temp_directory_path() /
         ("kelvarin-fuzz-" + std::to_string(static_cast<long>(::getpid())) + ".dat"))
            .string();
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    out.close();
    if (!out) fault("input", "cannot write " + path);
    return path;
}

struct GridSnapshot {
    int rows = 0;
    int cols = 0;
    int fixedRows = 0;
    std::vector<std::string> cells;

    static GridSnapshot of(const StringGrid& grid) {
        GridSnapshot s{grid.rowCount(), grid.colCount(), grid.fixedRows, {}};
        for (int r = 0; r < s.rows; ++r)
            for (int c = 0; c < s.cols; ++c)
                s.cells.push_back(grid.cell(c, r));
        return s;
    }
    bool operator==(const GridSnapshot&) const = default;
};

/// One application for the whole run, brought back to the same state before every input so
/// that a finding reproduces from its file alone.
struct Session {
    HeadlessPlatform platform;
    std::unique_ptr<Application> app = std::make_unique<Application>(platform, Locale('.'));

    Application& reset(const std::string& path) {
        platform.clearMessages();
        Tformdata& data = app->formdata();
        data.hide();
        data.data.setRowCount(3);
        data.data.fixedRows = 0;
        data.data.clear();
        data.data.setCell(0, 0, "Thickness(Å)");
        data.data.setCell(1, 0, "Strain");
        data.data.setCell(0, 1, "100");
        data.data.setCell(1, 1, "0.5");
        app->form4cols().hide();
        Tformmain& main = app->formmain();
        main.file.text = path;
        main.mstrain.text = "2";
        return *app;
    }
};

Session& session() {
    static Session s;
    return s;
}

bool profilePairs(const std::uint8_t* data, std::size_t size) {
    constexpr std::string_view target = "profile_pairs";
    const std::string& path = writeInput(data, size);
    bool read = false;
    for (bool concentration : {true, false}) {
        Application& app = session().reset(path);
        const GridSnapshot before = GridSnapshot::of(app.formdata().data);
        try {
            if (concentration)
                importConcentrationProfile(app);
            else
                importStrainProfile(app);
            const StringGrid& grid = app.formdata().data;
            require(grid.rowCount() >= 2, target, "imported table without a layer");
            require(app.formdata().visible, target, "Data Entry not shown after an import");
            read = true;
        } catch (const ImportError& e) {
            checkMessage(target, e.what(), path);
            require(GridSnapshot::of(app.formdata().data) == before, target,
                    "refused file changed the table");
            require(!app.formdata().visible, target, "refused file showed Data Entry");
        }
    }
    return read;
}

bool ionList(const std::uint8_t* data, std::size_t size) {
    constexpr std::string_view target = "ion_list";
    const std::string& path = writeInput(data, size);
    Application& app = session().reset(path);
    Tform4cols& form = app.form4cols();
    const GridSnapshot before = GridSnapshot::of(app.formdata().data);
    try {
        form.scanIonFile();
    } catch (const ImportError& e) {
        checkMessage(target, e.what(), path);
        require(GridSnapshot::of(app.formdata().data) == before, target,
                "refused file changed the table");
        require(!form.visible, target, "refused file showed the window");
        return false;
    }
    require(form.visible, target, "window not shown after the scan");
    const GridSnapshot scanned = GridSnapshot::of(app.formdata().data);
    form.maxdepth.text = "1000";
    form.nlayers.text = "50";
    form.maxdepthChange();
    form.Button1Click();
    const std::vector<std::string> messages = session().platform.allMessages();
    if (!messages.empty()) {
        for (const std::string& m : messages)
            checkMessage(target, m, path);
        require(GridSnapshot::of(app.formdata().data) == scanned, target,
                "refused histogram changed the table");
        return false;
    }
    require(app.formdata().data.rowCount() == 51, target, "histogram without 50 layers");
    require(app.formdata().visible, target, "Data Entry not shown after the histogram");
    return true;
}

bool measured(std::string_view target, MeasuredMode mode, const std::uint8_t* data,
              std::size_t size) {
    static const std::string name = "measured-fuzz.dat";
    NumberReader reader(std::string(reinterpret_cast<const char*>(data), size), name);
    MeasuredCurve curve;
    try {
        curve = parseMeasuredCurve(reader, mode);
    } catch (const DataFileError& e) {
        checkMessage(target, e.what(), name);
        return false;
    }
    // A resampled curve may hold a single whole-second point; a raw one repeats its last pair.
    const int firstLast = mode == MeasuredMode::Raw ? 2 : 0;
    require(curve.last >= firstLast && curve.last < kCurveCapacity, target,
            "last index out of range");
    require(curve.angle.size() > static_cast<std::size_t>(curve.last) &&
                curve.intensity.size() == curve.angle.size() &&
                curve.angle.size() <= static_cast<std::size_t>(kCurveCapacity),
            target, "curve sizes do not match last");
    for (std::size_t i = 0; i < curve.angle.size(); ++i)
        require(std::isfinite(curve.angle[i]) && std::isfinite(curve.intensity[i]), target,
                "curve point not finite");
    require(std::isfinite(curve.max) && curve.max >= 0, target, "maximum not finite");
    if (mode == MeasuredMode::Resampled) {
        require(curve.scanStart < curve.scanEnd, target, "empty resampled scan");
        for (std::size_t i = 1; i < curve.angle.size(); ++i)
            require(curve.angle[i] == curve.angle[i - 1] + 1, target,
                    "resampled angles not one second apart");
        require(curve.angle.back() == curve.scanEnd, target, "scan end is not the last angle");
    } else {
        for (int i = 1; i < curve.last; ++i)
            require(curve.angle[i] > curve.angle[i - 1], target, "raw angles do not increase");
    }
    static CurveStore store;
    static RadiationRecord radiation;
    storeMeasuredCurve(store, radiation, curve, mode);
    return true;
}

bool dispersion(const std::uint8_t* data, std::size_t size) {
    constexpr std::string_view target = "dispersion";
    const std::string& path = writeInput(data, size);
    std::vector<DispersionRow> rows;
    try {
        rows = readDispersionFile(path);
    } catch (const DataFileError& e) {
        checkMessage(target, e.what(), path);
        return false;
    }
    require(rows.size() >= 2, target, "fewer than two rows read");
    for (std::size_t i = 0; i < rows.size(); ++i) {
        require(rows[i].lambda > 0 && std::isfinite(rows[i].lambda), target, "bad wavelength");
        if (i > 0) require(rows[i].lambda > rows[i - 1].lambda, target, "rows not ascending");
    }
    const Extended first = rows.front().lambda;
    const Extended last = rows.back().lambda;
    for (Extended lambda : {first, last, (first + last) / 2, rows[1].lambda}) {
        const DispersionRow r = interpolateDispersion(rows, lambda, path);
        require(std::isfinite(r.fReal) && std::isfinite(r.fImag), target,
                "interpolated value not finite");
    }
    try {
        interpolateDispersion(rows, last * 2, path);
        fault(target, "wavelength beyond the table accepted");
    } catch (const DataFileError& e) {
        checkMessage(target, e.what(), path);
    }
    return true;
}

/// A job folder holding the input files the seed jobs name, so that sound jobs get past the
/// check of the files they name.
const std::filesystem::path& jobFolder() {
    static const std::filesystem::path folder = [] {
        const std::filesystem::path dir =
            std::filesystem::temp_directory_path() /
            ("kelvarin-fuzz-job-" + std::to_string(static_cast<long>(::getpid())));
        std::filesystem::create_directories(dir);
        std::ofstream(dir / "profile.dat") << "100 0.5\n200 0.2\n";
        std::ofstream(dir / "measured.dat") << "-10 5\n-9 7\n-8 20\n-7 6\n";
        return dir;
    }();
    return folder;
}

bool jobFile(const std::uint8_t* data, std::size_t size) {
    constexpr std::string_view target = "job_file";
    const std::filesystem::path path = jobFolder() / "job-fuzz.toml";
    try {
        cli::parseJob(std::string(reinterpret_cast<const char*>(data), size), path);
    } catch (const cli::JobError& e) {
        checkMessage(target, e.what(), "job-fuzz.toml");
        return false;
    }
    return true;
}

}  // namespace

const std::vector<std::string>& targetNames() {
    static const std::vector<std::string> names = {
        "profile_pairs", "ion_list", "measured_raw", "measured_resampled", "dispersion", "job_file",
        "scan_xrdml",    "scan_x00", "scan_ras",     "scan_uxd",           "scan_text"};
    return names;
}

bool runOne(const std::string& name, const std::uint8_t* data, std::size_t size) {
    try {
        if (name == "profile_pairs") return profilePairs(data, size);
        if (name == "ion_list") return ionList(data, size);
        if (name == "measured_raw") return measured(name, MeasuredMode::Raw, data, size);
        if (name == "measured_resampled")
            return measured(name, MeasuredMode::Resampled, data, size);
        if (name == "dispersion") return dispersion(data, size);
        if (name == "job_file") return jobFile(data, size);
        if (name.rfind("scan_", 0) == 0 && name.size() > 5) return scanFile(name, data, size);
    } catch (const std::exception& e) {
        fault(name, std::string("unexpected exception: ") + e.what());
    }
    fault(name, "unknown target");
}

}  // namespace kelvarin::fuzz
