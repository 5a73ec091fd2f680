// Module function generate_naca4: NACA 4-series coordinates from the
// designation alone.
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

}  // namespace velaro::python
