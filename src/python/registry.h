#pragma once
// One registration function per module function; module.cpp calls them in
// the order of the public function table.
#include <pybind11/pybind11.h>

namespace velaro::python {

void register_analyze_faithful(pybind11::module_& m);
void register_analyze_inviscid(pybind11::module_& m);
void register_analyze_faithful_batch(pybind11::module_& m);
void register_analyze_inviscid_batch(pybind11::module_& m);
void register_generate_naca4(pybind11::module_& m);
void register_repanel_kelvo(pybind11::module_& m);
void register_deflect_flap(pybind11::module_& m);
void register_parse_dat_file(pybind11::module_& m);
void register_get_bl_distribution(pybind11::module_& m);

}  // namespace velaro::python
