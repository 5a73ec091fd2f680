// Module functions that produce coordinates from nothing but their
// arguments: the NACA 4-series generator and the .dat file reader.
#include "geometry/dat_file.h"
#include "geometry/naca.h"
#include "python/conversions.h"
#include "python/docstrings.h"
#include "python/registry.h"

namespace velaro::python {

void register_generate_naca4(py::module_& m) {
  m.def(
      "generate_naca4",
      [](py::object designation, py::object n_points_per_side) {
        const std::uint32_t d = to_u32(designation, "designation");
        const std::uint64_t n = to_optional_u64(n_points_per_side, "n_points_per_side").value_or(kNacaDefaultPointsPerSide);
        if (n == 0) throw py::value_error("n_points_per_side must be at least 1");
        return to_point_list(velaro::generate_naca4(d, static_cast<std::size_t>(n)));
      },
      doc::generate_naca4, py::arg("designation"), py::arg("n_points_per_side") = py::none());
}

void register_parse_dat_file(py::module_& m) {
  m.def(
      "parse_dat_file",
      [](py::object path) {
        const std::string p = to_str(path, "path");
        auto parsed = velaro::parse_dat_file(p);
        if (!parsed) {
          PyErr_SetString(PyExc_OSError, parsed.error().message.c_str());
          throw py::error_already_set();
        }
        return to_point_list(*parsed);
      },
      doc::parse_dat_file, py::arg("path"));
}

}  // namespace velaro::python
