// The _velaro extension module: creates the module and registers its
// functions in the order of the public function table.
#include <pybind11/pybind11.h>

#include "python/interrupts.h"
#include "python/registry.h"

PYBIND11_MODULE(_velaro, m) {
  // Docstrings carry their own text signatures; keep pybind11's out.
  pybind11::options options;
  options.disable_function_signatures();
  m.doc() = "";

  using namespace velaro::python;
  register_analyze_faithful(m);
  register_analyze_inviscid(m);
  register_analyze_faithful_batch(m);
  register_analyze_inviscid_batch(m);
  register_generate_naca4(m);
  register_repanel_kelvo(m);
  register_deflect_flap(m);
  register_parse_dat_file(m);
  register_get_bl_distribution(m);
  register_exit_wait();
}
