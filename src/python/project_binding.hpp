// kelvarin.Project (load, save, fit) and kelvarin.FitResult.
#pragma once

#include <pybind11/pybind11.h>

namespace kelvarin::python {

void bindProject(pybind11::module_& m);

}  // namespace kelvarin::python
