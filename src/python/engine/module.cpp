// The velaro._engine extension module: the viscous engine's continuation
// sweeps and the boundary layer of one point for the velaro package (numpy
// arrays in and out).
#include <pybind11/pybind11.h>

#include "python/engine/engine_docs.h"
#include "python/engine/registry.h"
#include "python/interrupts.h"

PYBIND11_MODULE(_engine, m) {
  m.doc() = velaro::python::engine::doc::module;
  velaro::python::engine::register_sweeps(m);
  velaro::python::engine::register_boundary_layer(m);
  velaro::python::register_exit_wait();
}
