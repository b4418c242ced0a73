// The parameters of a fit, each declared once with its unit and limits: every draw, mutation,
// window, project file and report iterates over this table.
#pragma once

#include <string>
#include <vector>

#include "engine/state.hpp"

namespace kelvarin::fit {

/// One fitted or fixed quantity.
struct Parameter {
    std::string name;  ///< as the project file and the reports spell it ("tau", "width")
    std::string unit;  ///< "Å", "arcsec", "" for a plain number
    Extended value = 0;
    Extended min = 0;
    Extended max = 0;
    Extended maxMutation = 0;  ///< largest step of one mutation of the evolutionary search
    bool free = true;          ///< false: the parameter keeps its value
};

class ParameterTable {
public:
    /// Appends `p`; returns its index.
    int add(Parameter p);
    int size() const { return static_cast<int>(params_.size()); }
    Parameter& operator[](int i) { return params_[static_cast<std::size_t>(i)]; }
    const Parameter& operator[](int i) const { return params_[static_cast<std::size_t>(i)]; }
    /// Index of the parameter `name`, or −1.
    int find(const std::string& name) const;
    /// Indices of the free parameters, in table order (the genes of a search).
    std::vector<int> freeIndices() const;
    /// The value of every parameter.
    std::vector<Extended> values() const;

    /// Empty when the table can be fitted; otherwise why not, naming the parameter: a name used
    /// twice, a limit or value that is not a finite number, a minimum above the maximum, a free
    /// value outside its limits (checked only with `checkValues`), a negative mutation step.
    std::string validate(bool checkValues = true) const;

    const std::vector<Parameter>& all() const { return params_; }

private:
    std::vector<Parameter> params_;
};

}  // namespace kelvarin::fit
