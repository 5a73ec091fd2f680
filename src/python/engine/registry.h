#pragma once
// Registration functions of the _engine module, called by its module.cpp.
#include <pybind11/pybind11.h>

namespace velaro::python::engine {

void register_sweeps(pybind11::module_& m);
void register_boundary_layer(pybind11::module_& m);

}  // namespace velaro::python::engine
