// A catalogue of bad input: every field a handler reads gets a set of bad texts, every reader a
// set of bad files. For each case the handler runs as the event loop runs it; the case passes
// when nothing crashes, a text that is no value of the field's kind is refused with a message
// naming the field, a bad file with a message naming the file, and a refused input leaves the
// windows and everything already loaded as it was. Run with both decimal separators.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <iterator>
#include <map>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "app/application.hpp"
#include "app/form4cols.hpp"
#include "app/formmain.hpp"
#include "engine/state.hpp"
#include "refine/formrefine.hpp"
#include "refine/formrefinedata.hpp"
#include "refine/refine_state.hpp"
#include "results/formcalc.hpp"
#include "results/formerro.hpp"
#include "setup/formdata.hpp"

namespace kelvarin::testing {
namespace {

namespace fs = std::filesystem;

// ---- the state a refused input must leave alone ----------------------------------------------

void put(std::ostringstream& s, const StringGrid& g) {
    s << "grid " << g.colCount() << 'x' << g.rowCount() << " fixed " << g.fixedRows << ':';
    for (int r = 0; r < g.rowCount(); ++r)
        for (int c = 0; c < g.colCount(); ++c)
            s << '|' << g.cell(c, r);
    s << '\n';
}

template <typename Range>
void putAll(std::ostringstream& s, const char* name, const Range& values) {
    s << name << ':';
    for (const auto& v : values)
        s << ' ' << v;
    s << '\n';
}

/// Which windows are open, the depth-profile table, the crystal's atom positions, and the
/// engine and refinement state: the loaded data that a refused input must not touch. (Captions
/// and enabled flags that a handler sets before it reads its fields are window dressing and
/// are not part of it.) The curve arrays are compared as numbers, the rest as text.
struct Snapshot {
    std::string text;
    std::vector<Extended> curves;
    bool operator==(const Snapshot&) const = default;
};

Snapshot snapshot(Application& app) {
    std::ostringstream s;
    s.precision(21);
    const Window* windows[] = {&app.formmain(),  &app.formdata(),  &app.formcalc(),
                               &app.formerro(),  &app.form4cols(), &app.formrefinedata(),
                               &app.formrefine()};
    s << "visible:";
    for (const Window* w : windows)
        s << ' ' << w->visible;
    s << '\n';
    put(s, app.formdata().data);
    put(s, app.formdata().posat1);
    put(s, app.formdata().posat2);
    const EngineState& e = app.engine();
    const CurveStore& cs = e.curveStore;
    s << "store " << cs.measLast << ' ' << cs.measMax << ' ' << cs.calcCount << ' ' << cs.calcMax
      << ' ' << cs.scanStart << ' ' << cs.scanEnd << ' ' << cs.scanStep << ' ' << cs.calcComputed
      << '\n';
    putAll(s, "radiation", e.radiationRecord);
    s << "crystal " << e.latticeA << ' ' << e.latticeB << ' ' << e.latticeC << ' ' << e.millerH
      << ' ' << e.millerK << ' ' << e.millerL << ' ' << static_cast<int>(e.theoryChoice) << ' '
      << e.layerCount << ' ' << static_cast<int>(e.profileModel) << ' '
      << static_cast<int>(e.normMode) << ' ' << e.background << '\n';
    putAll(s, "thickness", e.profileThickness);
    putAll(s, "strain", e.profileStrain);
    const RefineState& r = app.refine();
    const RefineSettings& rs = r.refineSettings;
    s << "refine " << r.nelements << ' ' << rs.wLo << ' ' << rs.wHi << ' ' << rs.tauLo << ' '
      << rs.tauHi << ' ' << rs.roLo << ' ' << rs.roHi << '\n';
    for (const Candidate& c : r.population)
        putAll(s, "candidate", c);
    Snapshot snap{s.str(), {}};
    for (const auto* v :
         {&cs.measAngle, &cs.measIntensity, &cs.calcAngle, &cs.calcRaw, &cs.calcCurve})
        snap.curves.insert(snap.curves.end(), v->begin(), v->end());
    return snap;
}

/// Where two snapshots part, for the failure message.
std::string firstDifference(const Snapshot& before, const Snapshot& after) {
    if (before.text == after.text) return "the curve arrays differ";
    const std::string& a = before.text;
    const std::string& b = after.text;
    const auto mismatch = std::mismatch(a.begin(), a.end(), b.begin(), b.end());
    const std::size_t at = static_cast<std::size_t>(mismatch.first - a.begin());
    const std::size_t lineStart = at == 0 ? std::string::npos : a.rfind('\n', at - 1);
    const std::size_t from = lineStart == std::string::npos ? 0 : lineStart + 1;
    return "before: " + a.substr(from, 160) + "\nafter:  " + b.substr(from, 160);
}

std::string lower(std::string s) {
    for (char& c : s)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// ---- the scene: an application with a crystal, a scan and loaded data ------------------------

class Scene {
public:
    Scene(char separator, const fs::path& folder)
        : sep_(separator),
          folder_(folder),
          app_(std::make_unique<Application>(platform_, Locale(separator))) {}

    Application& app() { return *app_; }
    HeadlessPlatform& platform() { return platform_; }
    std::string num(std::string text) const {
        for (char& c : text)
            if (c == '.') c = sep_;
        return text;
    }
    std::string write(const std::string& name, const std::string& text) const {
        std::ofstream(folder_ / name, std::ios::binary) << text;
        return (folder_ / name).string();
    }

    /// Si 0 0 4 with Cu K-alpha1 over -60..60 in steps of 1, as the Data Entry window leaves it.
    void siliconSetup() {
        Tformdata& d = app_->formdata();
        d.Label1.caption = "Si";
        for (Label* label : {&d.Label2, &d.Label3, &d.Label4})
            label->caption = num("5.4309");
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
        d.h.text = "0";
        d.k.text = "0";
        d.l.text = "4";
        d.thetai.text = "-60";
        d.thetaf.text = "60";
        d.step.text = "1";
        d.radiacao.select(4);
    }

    /// A refinement job on a measured curve over -60..60 (raw, integer angles, or resampled).
    void refinementSetup(bool integerAngles) {
        siliconSetup();
        Tformmain& m = app_->formmain();
        m.RadioGroup1.itemIndex = 1;
        m.chkInteiro.checked = integerAngles;
        m.nlayers.text = "16";
        std::string curve;
        for (int a = -60; a <= 60; ++a)
            curve +=
                std::to_string(a + 0.25) + " " + std::to_string(100 + 1000 / (1 + a * a)) + "\n";
        m.file.text = write("good_measured.dat", curve);
    }

    /// "Start", as the event loop runs it; true when it ended without a message.
    bool start() {
        return runClean([&] { app_->formcalc().Button2Click(); });
    }

    /// A two-column profile imported into the table, the main window set for it.
    void profileLoaded(int fileType) {
        Tformmain& m = app_->formmain();
        m.RadioGroup1.itemIndex = 0;
        m.filetype.itemIndex = fileType;
        m.mstrain.text = fileType == 1 ? "" : num("0.8");
        m.file.text = write("good_profile.dat", "100 1.5\n200 3.0\n300 0.5\n");
        runClean([&] { m.butokClick(); });
    }

    /// An ion list scanned, the four-column window open with sound fields.
    void ionsScanned() {
        Tformmain& m = app_->formmain();
        m.RadioGroup1.itemIndex = 0;
        m.filetype.itemIndex = 2;
        m.mstrain.text = num("0.8");
        m.file.text =
            write("good_ions.dat", "1 120.5 3.2 -4.1\n2 340.0 1.0 2.0\n3 560.25 0 0\n4 15 1 1\n");
        runClean([&] { m.butokClick(); });
        Tform4cols& f = app_->form4cols();
        f.maxdepth.text = "1000";
        f.nlayers.text = "10";
    }

    /// A synchrotron run with a good dispersion table for silicon in a folder of its own.
    void synchrotronLoaded() {
        siliconSetup();
        fs::create_directories(folder_ / "dispersion");
        write("dispersion/SIlambda.dat", "1.0 0.1 0.2\n1.5 0.2 0.4\n2.0 0.3 0.5\n");
        ::setenv("KELVARIN_DATA_DIR", folder_.string().c_str(), 1);
        Tformdata& d = app_->formdata();
        d.radiacao.select(Tformdata::kSynchrotron);
        d.wl.text = num("1.54");
        start();
    }

    bool runClean(const std::function<void()>& handler) {
        platform_.clearMessages();
        app_->dispatch(handler);
        const bool clean = platform_.allMessages().empty();
        EXPECT_TRUE(clean) << "set-up step refused: " << platform_.allMessages().front();
        platform_.clearMessages();
        return clean;
    }

private:
    char sep_;
    fs::path folder_;
    HeadlessPlatform platform_;
    std::unique_ptr<Application> app_;
};

// ---- the bad texts and the kinds of field -----------------------------------------------------

enum class Kind {
    Whole,     ///< any whole number (Miller indices, angles)
    Count,     ///< a whole number of at least one
    Real,      ///< any finite number
    Positive,  ///< a finite number above zero
};

struct BadText {
    std::string label;
    std::string text;  ///< "." stands for the run's own separator, ";" for the other one
};

const std::vector<BadText>& badTexts() {
    static const std::vector<BadText> texts = {
        {"empty", ""},
        {"blank", "   "},
        {"letters", "abc"},
        {"digits then letters", "12abc"},
        {"own separator", "1.5"},
        {"other separator", "1;5"},
        {"both separators", "1.234;5"},
        {"huge for double", "1e400"},
        {"huge for extended", "1e5000"},
        {"tiny for double", "1e-400"},
        {"tiny for extended", "1e-5000"},
        {"negative", "-5"},
        {"zero", "0"},
        {"nan", "nan"},
        {"inf", "inf"},
        {"minus inf", "-inf"},
    };
    return texts;
}

/// True when `label` names a text that is no value of `kind` at all, which must be refused.
/// (A value the field takes but the job cannot use may be refused too, with any message.)
bool mustRefuse(Kind kind, const std::string& label) {
    static const std::vector<std::string> never = {
        "empty", "blank", "letters",  "digits then letters", "both separators", "huge for extended",
        "nan",   "inf",   "minus inf"};
    if (std::find(never.begin(), never.end(), label) != never.end()) return true;
    switch (kind) {
        case Kind::Whole:
            return label != "negative" && label != "zero";
        case Kind::Count:
            return true;
        case Kind::Real:
            return false;
        case Kind::Positive:
            return label == "negative" || label == "zero";
    }
    return false;
}

struct FieldCase {
    std::string window;
    std::string field;                 ///< what the message must mention (lower case compare)
    std::vector<std::string> aliases;  ///< other words that name it well enough
    Kind kind;
    std::function<void(Scene&)> prepare;        ///< loads data, makes the field's handler ready
    std::function<Edit&(Application&)> edit;    ///< the field
    std::function<void(Application&)> handler;  ///< what reads it
};

std::vector<FieldCase> fieldCases() {
    auto formdataField = [](Edit Tformdata::*member) {
        return [member](Application& a) -> Edit& { return a.formdata().*member; };
    };
    auto calcField = [](Edit Tformcalc::*member) {
        return [member](Application& a) -> Edit& { return a.formcalc().*member; };
    };
    auto settingsField = [](Edit Tformrefinedata::*member) {
        return [member](Application& a) -> Edit& { return a.formrefinedata().*member; };
    };
    auto start = [](Application& a) { a.formcalc().Button2Click(); };
    auto plotted = [](Scene& s) {
        s.siliconSetup();
        s.start();
        Tformcalc& c = s.app().formcalc();
        c.minX.text = "-60";
        c.maxX.text = "60";
        c.minY.text = "0";
        c.maxY.text = "1";
        s.runClean([&] { c.Button1Click(); });
    };
    auto calculated = [](Scene& s) {
        s.siliconSetup();
        s.start();
    };
    auto synchrotron = [](Scene& s) { s.synchrotronLoaded(); };
    auto plot = [](Application& a) { a.formcalc().Button1Click(); };
    auto four = [](Application& a) { a.form4cols().Button1Click(); };

    std::vector<FieldCase> cases = {
        // Main window: the maximum strain scales an imported concentration profile.
        {"Main",
         "maximum strain",
         {},
         Kind::Real,
         [](Scene& s) {
             s.profileLoaded(0);
             s.app().formdata().hide();
         },
         [](Application& a) -> Edit& { return a.formmain().mstrain; },
         [](Application& a) { a.formmain().butokClick(); }},
        // Four-column window: depth range, layer count, and the maximum strain it scales to.
        {"Four-Column",
         "maximum depth",
         {},
         Kind::Positive,
         [](Scene& s) { s.ionsScanned(); },
         [](Application& a) -> Edit& { return a.form4cols().maxdepth; },
         four},
        {"Four-Column",
         "number of layers",
         {},
         Kind::Count,
         [](Scene& s) { s.ionsScanned(); },
         [](Application& a) -> Edit& { return a.form4cols().nlayers; },
         four},
        {"Four-Column",
         "maximum strain",
         {},
         Kind::Real,
         [](Scene& s) { s.ionsScanned(); },
         [](Application& a) -> Edit& { return a.formmain().mstrain; },
         four},
        // Data Entry fields, read by "Start" after a successful run.
        {"Data Entry", "h", {}, Kind::Whole, calculated, formdataField(&Tformdata::h), start},
        {"Data Entry", "k", {}, Kind::Whole, calculated, formdataField(&Tformdata::k), start},
        {"Data Entry", "l", {}, Kind::Whole, calculated, formdataField(&Tformdata::l), start},
        {"Data Entry",
         "initial angle",
         {},
         Kind::Whole,
         calculated,
         formdataField(&Tformdata::thetai),
         start},
        {"Data Entry",
         "final angle",
         {},
         Kind::Whole,
         calculated,
         formdataField(&Tformdata::thetaf),
         start},
        {"Data Entry",
         "step size",
         {},
         Kind::Count,
         calculated,
         formdataField(&Tformdata::step),
         start},
        {"Data Entry",
         "wavelength",
         {},
         Kind::Positive,
         synchrotron,
         formdataField(&Tformdata::wl),
         start},
        // Calculation window: the plot ranges after a plotted run.
        {"Calculation",
         "minx",
         {"x range"},
         Kind::Real,
         plotted,
         calcField(&Tformcalc::minX),
         plot},
        {"Calculation",
         "maxx",
         {"x range"},
         Kind::Real,
         plotted,
         calcField(&Tformcalc::maxX),
         plot},
        {"Calculation",
         "miny",
         {"y range"},
         Kind::Real,
         plotted,
         calcField(&Tformcalc::minY),
         plot},
        {"Calculation",
         "maxy",
         {"y range"},
         Kind::Real,
         plotted,
         calcField(&Tformcalc::maxY),
         plot},
        // Refinement settings that "Start" reads.
        {"Refinement settings",
         "bg",
         {"background"},
         Kind::Real,
         calculated,
         settingsField(&Tformrefinedata::bg),
         start},
        {"Refinement settings",
         "# of elements",
         {"population"},
         Kind::Whole,
         calculated,
         settingsField(&Tformrefinedata::Edit1),
         start},
        {"Refinement settings",
         "wmin",
         {"width"},
         Kind::Real,
         calculated,
         settingsField(&Tformrefinedata::wmin),
         start},
        {"Refinement settings",
         "wmax",
         {"width"},
         Kind::Real,
         calculated,
         settingsField(&Tformrefinedata::wmax),
         start},
    };

    // Refinement settings "Done": the population size and the search limits it draws from.
    auto refinementStarted = [](Scene& s) {
        s.refinementSetup(true);
        s.app().refine().seedOverride = 7;
        s.app().formrefinedata().Edit1.text = "4";
        s.start();
    };
    auto done = [](Application& a) { a.formrefinedata().Button1Click(); };
    cases.push_back({"Refinement settings",
                     "# of elements",
                     {"number of elements"},
                     Kind::Count,
                     refinementStarted,
                     settingsField(&Tformrefinedata::Edit1),
                     done});
    const std::pair<Edit Tformrefinedata::*, const char*> limits[] = {
        {&Tformrefinedata::taui, "tau minimum"},
        {&Tformrefinedata::tauf, "tau maximum"},
        {&Tformrefinedata::roi, "ro minimum"},
        {&Tformrefinedata::rof, "ro maximum"},
        {&Tformrefinedata::sigma1i, "sigma1 minimum"},
        {&Tformrefinedata::sigma1f, "sigma1 maximum"},
        {&Tformrefinedata::sigma2i, "sigma2 minimum"},
        {&Tformrefinedata::sigma2f, "sigma2 maximum"},
        {&Tformrefinedata::wmin, "gaussian width min"},
        {&Tformrefinedata::wmax, "gaussian width max"}};
    for (const auto& [member, name] : limits)
        cases.push_back({"Refinement settings (Done)",
                         name,
                         {},
                         Kind::Real,
                         refinementStarted,
                         settingsField(member),
                         done});

    // "GO": the generations and the mutation probability, on a drawn population of four.
    auto drawn = [refinementStarted](Scene& s) {
        refinementStarted(s);
        s.runClean([&] { s.app().formrefinedata().Button1Click(); });
        s.app().formcalc().ncycles.text = "1";
    };
    auto go = [](Application& a) { a.formcalc().butGoClick(); };
    // "bufo": evaluates the typed parameter set as candidate 1 with the typed background.
    auto bufo = [](Application& a) { a.formcalc().Button6Click(); };
    const std::pair<Edit Tformcalc::*, const char*> typed[] = {{&Tformcalc::txbg, "background"},
                                                               {&Tformcalc::tau, "tau"},
                                                               {&Tformcalc::ro, "ro"},
                                                               {&Tformcalc::sigma1, "sigma1"},
                                                               {&Tformcalc::sigma2, "sigma2"}};
    for (const auto& [member, name] : typed)
        cases.push_back(
            {"Calculation (bufo)", name, {}, Kind::Real, drawn, calcField(member), bufo});
    // Zero or fewer generations evaluate the drawn population and stop: taken, not refused.
    cases.push_back({"Calculation (GO)",
                     "generations",
                     {},
                     Kind::Whole,
                     drawn,
                     calcField(&Tformcalc::ncycles),
                     go});
    cases.push_back({"Refinement settings (GO)",
                     "mutation probability",
                     {},
                     Kind::Real,
                     drawn,
                     settingsField(&Tformrefinedata::Edit2),
                     go});
    return cases;
}

// ---- the bad files ----------------------------------------------------------------------------

struct BadFile {
    std::string label;
    std::string content;  ///< unused for "missing"
};

struct ReaderCase {
    std::string name;
    std::function<void(Scene&)> prepare;  ///< loads good data first
    /// Points the job at the bad file (returns its path) and runs the handler that reads it.
    std::function<std::string(Scene&, const BadFile&)> feed;
    std::function<std::vector<BadFile>()> files;
    std::vector<std::string> acceptable;  ///< labels of files this reader may take
};

std::string lines(int count, const std::function<std::string(int)>& line) {
    std::string s;
    for (int i = 0; i < count; ++i)
        s += line(i);
    return s;
}

std::string binaryBytes() {
    std::string s;
    for (int i = 0; i < 512; ++i)
        s.push_back(static_cast<char>((i * 73 + 11) & 0xFF));
    return s;
}

std::vector<BadFile> twoColumnFiles() {
    return {
        {"empty", ""},
        {"binary", binaryBytes()},
        {"truncated", "100 1.5\n200 3.0\n30"},
        {"one number", "100"},
        {"text mid-file", "100 1.5\n200 three\n300 0.5\n"},
        {"50000 points", lines(50000, [](int i) { return std::to_string(i + 1) + " 0.5\n"; })},
        {"unsorted", "300 1\n100 2\n200 3\n"},
        {"missing", ""},
    };
}

std::vector<BadFile> ionFiles() {
    return {
        {"empty", ""},
        {"binary", binaryBytes()},
        {"truncated", "1 120 0 0\n2 340"},
        {"one number", "7"},
        {"text mid-file", "1 120 0 0\n2 x 0 0\n3 300 0 0\n"},
        {"50000 points",
         lines(50000,
               [](int i) { return std::to_string(i) + " " + std::to_string(i % 900) + " 0 0\n"; })},
        {"unsorted", "1 500 0 0\n2 100 0 0\n3 300 0 0\n"},
        {"missing", ""},
    };
}

std::vector<BadFile> measuredFiles() {
    return {
        {"empty", ""},
        {"binary", binaryBytes()},
        {"truncated", "-60 100\n-59 120\n-58"},
        {"one number", "-60"},
        {"text mid-file", "-60 100\n-59 counts\n-58 100\n"},
        {"50000 points", lines(50000, [](int i) { return std::to_string(i - 25000) + " 100\n"; })},
        {"unsorted", "-60 100\n-50 120\n-55 110\n60 100\n"},
        {"missing", ""},
    };
}

std::vector<BadFile> dispersionFiles() {
    return {
        {"empty", ""},
        {"binary", binaryBytes()},
        {"truncated", "1.0 0.1 0.2\n2.0 0.3"},
        {"one number", "1.5"},
        {"text mid-file", "1.0 0.1 0.2\n1.5 f' 0.4\n2.0 0.3 0.5\n"},
        {"50000 points",
         lines(50000, [](int i) { return "1." + std::to_string(100000 + i) + " 0.1 0.2\n"; })},
        {"unsorted", "2.0 0.3 0.5\n1.0 0.1 0.2\n1.5 0.2 0.4\n"},
        {"missing", ""},
    };
}

std::vector<ReaderCase> readerCases() {
    auto profileFeed = [](int fileType) {
        return [fileType](Scene& s, const BadFile& f) {
            Tformmain& m = s.app().formmain();
            const std::string path = f.label == "missing" ? s.write("placeholder", "") + ".absent"
                                                          : s.write("bad_profile.dat", f.content);
            m.file.text = path;
            s.app().dispatch([&] { m.butokClick(); });
            return path;
        };
    };
    auto measuredFeed = [](Scene& s, const BadFile& f) {
        Tformmain& m = s.app().formmain();
        const std::string path = f.label == "missing" ? s.write("placeholder", "") + ".absent"
                                                      : s.write("bad_measured.dat", f.content);
        m.file.text = path;
        s.app().dispatch([&] { s.app().formcalc().Button2Click(); });
        return path;
    };
    auto measuredPrepare = [](bool integerAngles) {
        return [integerAngles](Scene& s) {
            s.refinementSetup(integerAngles);
            s.start();
        };
    };
    return {
        {"two columns (thickness, concentration)",
         [](Scene& s) {
             s.profileLoaded(0);
             s.app().formdata().hide();
         },
         profileFeed(0),
         twoColumnFiles,
         {"truncated", "50000 points", "unsorted"}},
        {"two columns (thickness, strain)",
         [](Scene& s) {
             s.profileLoaded(1);
             s.app().formdata().hide();
         },
         profileFeed(1),
         twoColumnFiles,
         {"truncated", "50000 points", "unsorted"}},
        {"four columns (ion positions)",
         [](Scene& s) {
             s.profileLoaded(0);
             s.app().formdata().hide();
             s.app().formmain().filetype.itemIndex = 2;
         },
         profileFeed(2),
         ionFiles,
         {"truncated", "50000 points", "unsorted"}},
        {"measured curve, integer angles", measuredPrepare(true), measuredFeed, measuredFiles, {}},
        {"measured curve, resampled", measuredPrepare(false), measuredFeed, measuredFiles, {}},
        {"dispersion table",
         [](Scene& s) { s.synchrotronLoaded(); },
         [](Scene& s, const BadFile& f) {
             const fs::path table = fs::path(s.write("dispersion/SIlambda.dat", ""));
             if (f.label == "missing")
                 fs::remove(table);
             else
                 s.write("dispersion/SIlambda.dat", f.content);
             s.app().dispatch([&] { s.app().formcalc().Button2Click(); });
             return table.string();
         },
         dispersionFiles,
         {"50000 points"}},
    };
}

// ---- the catalogue ----------------------------------------------------------------------------

class BadInputCatalogue : public ::testing::Test {
protected:
    void SetUp() override {
        folder_ = fs::temp_directory_path() /
                  ("kelvarin_bad_input_" + std::to_string(static_cast<long>(::getpid())));
        fs::remove_all(folder_);
        fs::create_directories(folder_);
        const char* data = std::getenv("KELVARIN_DATA_DIR");
        savedDataDir_ = data ? std::optional<std::string>(data) : std::nullopt;
    }
    void TearDown() override {
        if (savedDataDir_)
            ::setenv("KELVARIN_DATA_DIR", savedDataDir_->c_str(), 1);
        else
            ::unsetenv("KELVARIN_DATA_DIR");
        std::error_code ec;
        fs::remove_all(folder_, ec);
    }

    /// Runs `feed` on a prepared scene and checks the outcome; returns 1 (one case).
    int check(const std::string& label, Scene& scene, bool refuse,
              const std::vector<std::string>& names, const std::function<void()>& feed) {
        const Snapshot before = snapshot(scene.app());
        scene.platform().clearMessages();
        feed();
        const std::vector<std::string> messages = scene.platform().allMessages();
        if (refuse) {
            EXPECT_FALSE(messages.empty()) << label << ": taken without a word";
        }
        if (!messages.empty()) {
            const Snapshot after = snapshot(scene.app());
            EXPECT_EQ(before == after, true) << label << ": refused, but the state changed\n"
                                             << firstDifference(before, after);
            if (refuse) {
                bool named = false;
                for (const std::string& m : messages)
                    for (const std::string& n : names)
                        named =
                            named || (!n.empty() && lower(m).find(lower(n)) != std::string::npos);
                EXPECT_TRUE(named) << label << ": the message does not name it: " << messages[0];
            }
        }
        return 1;
    }

    fs::path folder_;
    std::optional<std::string> savedDataDir_;
};

TEST_F(BadInputCatalogue, EveryFieldAndReaderRefusesBadInputAndKeepsWhatIsLoaded) {
    int cases = 0;
    for (char sep : {'.', ','}) {
        const char other = sep == '.' ? ',' : '.';
        for (const FieldCase& fc : fieldCases()) {
            for (const BadText& bad : badTexts()) {
                std::string text = bad.text;
                for (char& c : text)
                    c = c == '.' ? sep : c == ';' ? other : c;
                Scene scene(sep, folder_);
                fc.prepare(scene);
                const std::string label = fc.window + " / " + fc.field + " = \"" + text + "\" (" +
                                          bad.label + ", separator '" + sep + "')";
                std::vector<std::string> names = fc.aliases;
                names.push_back(fc.field);
                cases += check(label, scene, mustRefuse(fc.kind, bad.label), names, [&] {
                    fc.edit(scene.app()).text = text;
                    scene.app().dispatch([&] { fc.handler(scene.app()); });
                });
            }
        }
        for (const ReaderCase& rc : readerCases()) {
            for (const BadFile& file : rc.files()) {
                Scene scene(sep, folder_);
                rc.prepare(scene);
                const bool mayTake = std::find(rc.acceptable.begin(), rc.acceptable.end(),
                                               file.label) != rc.acceptable.end();
                const std::string label =
                    rc.name + " / " + file.label + " (separator '" + sep + "')";
                std::string path;
                const Snapshot before = snapshot(scene.app());
                scene.platform().clearMessages();
                path = rc.feed(scene, file);
                const std::vector<std::string> messages = scene.platform().allMessages();
                if (!mayTake) {
                    EXPECT_FALSE(messages.empty()) << label << ": taken without a word";
                }
                if (!messages.empty()) {
                    const Snapshot after = snapshot(scene.app());
                    EXPECT_EQ(before == after, true)
                        << label << ": refused, but the state changed\n"
                        << firstDifference(before, after);
                    const std::string name = fs::path(path).filename().string();
                    bool named = false;
                    for (const std::string& m : messages)
                        named = named || m.find(name) != std::string::npos;
                    EXPECT_TRUE(named)
                        << label << ": the message does not name '" << name << "': " << messages[0];
                }
                ++cases;
            }
        }
    }
    std::cout << "[ catalogue ] " << cases << " bad-input cases checked\n";
    RecordProperty("cases", cases);
    EXPECT_GT(cases, 0);
}

}  // namespace
}  // namespace kelvarin::testing

namespace kelvarin::testing {
namespace {

/// Bad result-file names: each is refused with a message naming the file, and the result files
/// of an earlier save stay whole (old or completely new, never cut short), with no temporary
/// file left behind.
TEST_F(BadInputCatalogue, BadResultNamesLeaveEarlierFilesWhole) {
    Scene scene('.', folder_);
    scene.siliconSetup();
    ASSERT_TRUE(scene.start());
    Tformcalc& calc = scene.app().formcalc();
    const std::string base = (folder_ / "run").string();
    calc.nomearquivo.text = base;
    ASSERT_TRUE(scene.runClean([&] { calc.Button4Click(); }));
    std::map<std::string, std::string> saved;
    for (const char* ext : {".fit", ".out", ".ion"}) {
        std::ifstream in(base + ext, std::ios::binary);
        saved[ext] = std::string(std::istreambuf_iterator<char>(in), {});
        // The perfect crystal of a calculation job has no strained lamella: its ".ion" is empty.
        ASSERT_EQ(saved[ext].empty(), std::string(ext) == ".ion") << ext;
    }

    // ".ion" cannot be replaced (a folder holds its name): ".fit" and ".out" are replaced whole.
    fs::create_directories(folder_ / "blocked.ion" / "inside");
    const std::vector<std::pair<std::string, std::string>> names = {
        {"", "name"},
        {(folder_ / "no_such_folder" / "run").string(), "run.fit"},
        {(folder_ / "blocked").string(), "blocked.ion"},
        {std::string(300, 'x'), "xxxx"},
    };
    int cases = 0;
    for (const auto& [name, named] : names) {
        scene.platform().clearMessages();
        calc.nomearquivo.text = name;
        scene.app().dispatch([&] { calc.Button4Click(); });
        const std::vector<std::string> messages = scene.platform().allMessages();
        ASSERT_FALSE(messages.empty()) << "'" << name << "' taken without a word";
        EXPECT_NE(messages[0].find(named), std::string::npos) << messages[0];
        ++cases;
    }
    for (const char* ext : {".fit", ".out", ".ion"}) {
        std::ifstream in(base + ext, std::ios::binary);
        EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), saved[ext]) << ext;
    }
    for (const auto& entry : fs::recursive_directory_iterator(folder_))
        EXPECT_EQ(entry.path().filename().string().find(".tmp"), std::string::npos)
            << "left behind: " << entry.path();
    std::cout << "[ catalogue ] " << cases << " bad result names checked\n";
}

}  // namespace
}  // namespace kelvarin::testing
