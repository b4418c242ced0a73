// "Refinement": the progress window with the current population and the working copy of the
// search limits that redrawing a population reads.
#pragma once

#include "app/controls.hpp"
#include "app/window.hpp"
#include "engine/state.hpp"

namespace kelvarin {

class Tformrefine : public Window {
public:
    explicit Tformrefine(Application& app);

    Label Label3{{}, "Current solutions:", ""};
    /// The population, one candidate a row below the header row; column 0 holds the width w.
    StringGrid StringGrid1{6, 2, 1};

    Label Label2{{}, "Variance:", ""};
    /// Variance of the errors of the last generation.
    Label Label5{{.colour = Colour::Blue}, "-----", ""};

    Label Label1{{}, "Limits for function parameters:", ""};
    Label Label8{{}, "min. value", ""};
    Label Label9{{}, "max. value", ""};
    Label Label13{{}, "Max mutation:", ""};
    Label Label6{{}, "tau:", ""};
    Label Label10{{}, "ro:", ""};
    Label Label4{{}, "sigma1:", ""};
    Label Label7{{}, "sigma2:", ""};
    Label Label11{{}, "width:", ""};

    Edit taui{{}, "0.003", ""};
    Edit roi{{}, "50", ""};
    Edit sigma1i{{}, "50", ""};
    Edit sigma2i{{}, "50", ""};
    Edit wmin{{}, "7", ""};
    Edit tauf{{}, "0.005", ""};
    Edit rof{{}, "800", ""};
    Edit sigma1f{{}, "800", ""};
    Edit sigma2f{{}, "800", ""};
    Edit wmax{{}, "10", ""};
    Edit maxmuttau{{}, "0.0005", ""};
    Edit maxmutro{{}, "10", ""};
    Edit maxmutsigma1{{}, "10", ""};
    Edit maxmutsigma2{{}, "10", ""};
    Edit maxmutw{{}, "1", ""};

    /// The "Best:" column: the best candidate of the last run beside each limit row.
    Label Label12{{}, "Best:", ""};
    Label Label14{{.colour = Colour::Blue}, "---", ""};
    Label Label15{{.colour = Colour::Blue}, "---", ""};
    Label Label16{{.colour = Colour::Blue}, "---", ""};
    Label Label17{{.colour = Colour::Blue}, "---", ""};
    Label Label18{{.colour = Colour::Blue}, "---", ""};

    /// Header texts of StringGrid1, columns 0 to 5.
    static constexpr const char* kGridHeaders[6] = {"Scale Factor", "Tau",    "Ro",
                                                    "Sigma1",       "Sigma2", "Error(%)"};

    /// Fills the "Best:" column with a candidate's genes (w, tau, ro, sigma1, sigma2 in the
    /// order of a candidate row).
    void showBest(const CandidateRow& genes);
    /// A new job: no variance and no best candidate shown yet.
    void clearResults();

    /// Leaving the (unused) field; does nothing.
    void SFISExit() {}
};

}  // namespace kelvarin
