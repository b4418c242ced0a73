// Shared helpers of the calculation-window tests: a scratch folder, files in it, and a crystal
// set up in the Data Entry window's controls as the catalogue leaves it.
#pragma once

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "app/formmain.hpp"
#include "engine/state.hpp"
#include "results/formcalc.hpp"
#include "setup/formdata.hpp"
#include "support/app_fixture.hpp"

namespace kelvarin::testing {

/// A folder of its own for each test, removed afterwards.
class ScratchDir {
public:
    ScratchDir() {
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        std::string name =
            std::string("kelvarin_results_") + info->test_suite_name() + "_" + info->name();
        for (char& ch : name)
            if (ch == '/') ch = '_';
        path_ = std::filesystem::temp_directory_path() / name;
        std::filesystem::remove_all(path_);
        std::filesystem::create_directories(path_);
    }
    ~ScratchDir() {
        std::error_code ec;
        std::filesystem::remove_all(path_, ec);
    }
    std::string file(const std::string& name) const { return (path_ / name).string(); }
    std::string write(const std::string& name, const std::string& text) const {
        std::ofstream(file(name), std::ios::binary) << text;
        return file(name);
    }
    static std::string read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        return s.str();
    }
    const std::filesystem::path& path() const { return path_; }

private:
    std::filesystem::path path_;
};

class CalcTest : public AppTest {
protected:
    Tformmain& main() { return app->formmain(); }
    Tformdata& data() { return app->formdata(); }
    Tformcalc& calc() { return app->formcalc(); }
    CurveStore& store() { return app->engine().curveStore; }

    /// A diamond-type or zinc-blende crystal as the catalogue and "OK" leave it: formula, the
    /// three lattice-constant labels and both atom-position grids.
    void chooseCrystal(const std::string& formula, const std::string& latticePointText) {
        Tformdata& d = data();
        d.Label1.caption = formula;
        for (Label* label : {&d.Label2, &d.Label3, &d.Label4})
            label->caption = num(latticePointText);
        const char* site1[4][3] = {
            {"0", "0", "0"}, {"0", "0.5", "0.5"}, {"0.5", "0", "0.5"}, {"0.5", "0.5", "0"}};
        const char* site2[4][3] = {{"0.25", "0.25", "0.25"},
                                   {"0.25", "0.75", "0.75"},
                                   {"0.75", "0.25", "0.75"},
                                   {"0.75", "0.75", "0.25"}};
        for (int atom = 0; atom < 4; ++atom)
            for (int c = 0; c < 3; ++c) {
                d.posat1.setCell(c, atom, num(site1[atom][c]));
                d.posat2.setCell(c, atom, num(site2[atom][c]));
            }
    }

    /// Reflection, scan and radiation fields (radiation index into the tube lines).
    void setScan(const std::string& h, const std::string& k, const std::string& l,
                 const std::string& from, const std::string& to, const std::string& step,
                 int radiation = 4) {
        Tformdata& d = data();
        d.h.text = h;
        d.k.text = k;
        d.l.text = l;
        d.thetai.text = from;
        d.thetaf.text = to;
        d.step.text = step;
        d.radiacao.select(radiation);
    }

    /// A calculation job, Si 0 0 4 with Cu K-alpha1 over `from`..`to`.
    void siliconCalculation(const std::string& from = "-60", const std::string& to = "60",
                            const std::string& step = "1") {
        main().RadioGroup1.itemIndex = 0;
        chooseCrystal("Si", "5.4309");
        setScan("0", "0", "4", from, to, step);
    }

    /// Runs "Start" as the event loop would.
    bool start() {
        return app->dispatch([&] { calc().Button2Click(); });
    }
};

}  // namespace kelvarin::testing
