// "Evolutionary refinement of experimental data": search limits, mutation settings,
// population size, normalisation and profile model of a refinement job.
#pragma once

#include "app/controls.hpp"
#include "app/window.hpp"
#include "engine/state.hpp"

namespace kelvarin {

class Tformrefinedata : public Window {
public:
    explicit Tformrefinedata(Application& app);

    Label Label1{{}, "Limits for function parameters:", ""};
    Label Label7{{}, "Minimum:", ""};
    Label Label8{{}, "Maximum:", ""};
    Label Label13{{}, "Max mutation:", ""};
    /// Row captions; the caption of Label3 also selects the profile model ("tau:" = 2Gauss).
    Label Label3{{}, "tau:", "maximum strain"};
    Label Label4{{}, "ro:", "implanted range"};
    Label Label2{{}, "sigma1:", ""};
    Label Label5{{}, "sigma2:", ""};

    Edit taui{{}, "0.003", "maximum strain"};
    Edit tauf{{}, "0.005", "maximum strain"};
    Edit maxmuttau{{}, "0.0005", ""};
    Edit roi{{}, "50", "implanted range"};
    Edit rof{{}, "800", "implanted range"};
    Edit maxmutro{{}, "10", ""};
    Edit sigma1i{{}, "50", ""};
    Edit sigma1f{{}, "800", ""};
    Edit maxmutsigma1{{}, "10", ""};
    Edit sigma2i{{}, "50", ""};
    Edit sigma2f{{}, "800", ""};
    Edit maxmutsigma2{{}, "10", ""};

    Label Label15{{}, "Gaussian width limits:", ""};
    Label Label16{{}, "Min:", ""};
    Label Label17{{}, "Max:", ""};
    Label Label9{{}, "Max. Mutation:", ""};
    /// Instrument width limits and maximum mutation, seconds of arc.
    Edit wmin{{}, "7", ""};
    Edit wmax{{}, "10", ""};
    Edit maxmutw{{}, "1", ""};

    Label Label18{{}, "Evolutionary parameters:", ""};
    Label Label11{{}, "Mutation probability:", ""};
    /// Mutation probability; the design text is written with a comma and read after
    /// decimal-separator replacement.
    Edit Edit2{{}, "0,5", ""};
    Label Label10{{}, "# of elements:", ""};
    /// Population size.
    Edit Edit1{{}, "50", ""};

    RadioGroup normtype{{},
                        "Experimental-Theoretical Normalization",
                        {"Match top intensities", "LSM fitting, fixed background:",
                         "LSM fitting of scale factor and background"},
                        1};
    /// Fixed background of the second normalisation.
    Edit bg{{}, "30", ""};

    /// Picture of the double half-Gaussian profile (164 x 106 pixels); drawn by the binding.
    Control Image1{};

    Button Button2{{}, "-> Pearson VII"};
    Button Button1{{}, "Done"};

    /// "Done": seed, normalise and copy the limits, draw the first population, take the scan
    /// from the measured file and go on to the Data Entry window.
    void Button1Click();
    /// Switches the row captions between the double half-Gaussian and Pearson VII models.
    void Button2Click();

    /// The strain-depth model the window is set to ("-> Pearson VII" / "-> 2Gauss" toggles it).
    ProfileKind profileKind() const {
        return Label3.caption == "tau:" ? ProfileKind::TwoGauss : ProfileKind::PearsonVII;
    }
    /// The scaling chosen under "Normalisation".
    Scaling scaling() const { return static_cast<Scaling>(normtype.itemIndex); }
};

}  // namespace kelvarin
