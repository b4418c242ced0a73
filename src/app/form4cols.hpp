// "Four-Column Data File": turns a list of ion positions into a strain profile of equal layers.
#pragma once

#include "app/controls.hpp"
#include "app/window.hpp"

namespace kelvarin {

class Tform4cols : public Window {
public:
    explicit Tform4cols(Application& app);

    /// Largest number of layers a histogram may have.
    static constexpr int kMaxLayers = 100000;

    Label Label1{{}, "Deepest Ion found on:", {}};
    /// Depth of the deepest ion in the file, whole Å, followed by "Å".
    Label deepest{{}, "Å", {}};
    Label Label2{{}, "Maximum depth for simulation::", {}};
    /// Depth range D of the histogram, Å.
    Edit maxdepth{{}, "", {}};
    Label Label3{{}, "Number of layers:", {}};
    /// Number of layers L (whole number).
    Edit nlayers{{}, "", {}};
    Label Label4{{}, "Layer Thickness:", {}};
    /// Layer thickness D / L in Å as number text.
    Label layerthickness{{}, "", {}};
    Button Button1{{.enabled = false}, "Calculate Concentration Profile"};

    /// First stage, run by the main window's "OK" for a four-column file: finds the deepest ion
    /// of the main window's `file` and shows this window. ImportError (nothing changed) when the
    /// file cannot be used.
    void scanIonFile();

    /// `maxdepth` or `nlayers` changed: shows D / L when both texts are valid, and enables
    /// "Calculate Concentration Profile".
    void maxdepthChange();

    /// "Calculate Concentration Profile": histogram of the ion depths in L layers of thickness
    /// D / L, scaled so that the fullest layer carries the maximum strain, written into the
    /// depth-profile table of the Data Entry window, which is then shown.
    void Button1Click();

    /// The field check of `maxdepth`: digits with at most one decimal separator ("." or ",").
    bool readMaxDepth(long double& out) const;
    /// The field check of `nlayers`: digits only, within the integer range.
    bool readLayerCount(int& out) const;
};

}  // namespace kelvarin
