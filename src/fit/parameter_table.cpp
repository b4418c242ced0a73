#include "fit/parameter_table.hpp"

#include <cmath>
#include <sstream>

namespace kelvarin::fit {

namespace {

std::string number(Extended v) {
    std::ostringstream out;
    out.precision(10);
    out << static_cast<double>(v);
    return out.str();
}

}  // namespace

int ParameterTable::add(Parameter p) {
    params_.push_back(std::move(p));
    return size() - 1;
}

int ParameterTable::find(const std::string& name) const {
    for (int i = 0; i < size(); ++i)
        if ((*this)[i].name == name) return i;
    return -1;
}

std::vector<int> ParameterTable::freeIndices() const {
    std::vector<int> out;
    for (int i = 0; i < size(); ++i)
        if ((*this)[i].free) out.push_back(i);
    return out;
}

std::vector<Extended> ParameterTable::values() const {
    std::vector<Extended> out;
    out.reserve(params_.size());
    for (const Parameter& p : params_)
        out.push_back(p.value);
    return out;
}

std::string ParameterTable::validate(bool checkValues) const {
    for (int i = 0; i < size(); ++i) {
        const Parameter& p = (*this)[i];
        if (find(p.name) != i) return "the parameter '" + p.name + "' is declared twice";
        if (!std::isfinite(p.value) || !std::isfinite(p.min) || !std::isfinite(p.max) ||
            !std::isfinite(p.maxMutation))
            return "the parameter '" + p.name + "' has a value or limit that is not a number";
        if (!p.free) continue;
        if (p.min > p.max)
            return "the parameter '" + p.name + "' has its minimum " + number(p.min) +
                   " above its maximum " + number(p.max);
        if (checkValues && (p.value < p.min || p.value > p.max))
            return "the parameter '" + p.name + "' = " + number(p.value) + " lies outside " +
                   number(p.min) + " .. " + number(p.max);
        if (p.maxMutation < 0) return "the parameter '" + p.name + "' has a negative mutation step";
    }
    return {};
}

}  // namespace kelvarin::fit
