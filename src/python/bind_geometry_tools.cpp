// Module functions that reshape a given contour: the curvature-based
// repaneler and the flap deflector.
#include "geometry/flap.h"
#include "geometry/repanel.h"
#include "python/conversions.h"
#include "python/docstrings.h"
#include "python/registry.h"

namespace velaro::python {

void register_repanel_kelvo(py::module_& m) {
  m.def(
      "repanel_kelvo",
      [](py::object coords, py::object n_panels, py::object curv_param, py::object te_le_ratio,
         py::object te_spacing_ratio) {
        const std::vector<double> c = to_float_list(coords, "coords");
        const std::uint64_t n = to_u64(n_panels, "n_panels");
        RepanelParams params;
        params.curv_param = to_float(curv_param, "curv_param");
        params.te_le_ratio = to_float(te_le_ratio, "te_le_ratio");
        params.te_spacing_ratio = to_float(te_spacing_ratio, "te_spacing_ratio");
        auto points = velaro::repanel_coordinates(c, n, params);
        if (!points) {
          // A node count below the minimum is a bad argument; one whose
          // storage cannot exist is a memory error.
          PyObject* type = points.error().kind == RepanelError::Kind::TooFewNodes ? PyExc_ValueError : PyExc_MemoryError;
          PyErr_SetString(type, points.error().to_string().c_str());
          throw py::error_already_set();
        }
        return to_point_list(*points);
      },
      doc::repanel_kelvo, py::arg("coords"), py::arg("n_panels") = kDefaultRepanelNodes,
      py::arg("curv_param") = RepanelParams{}.curv_param, py::arg("te_le_ratio") = RepanelParams{}.te_le_ratio,
      py::arg("te_spacing_ratio") = RepanelParams{}.te_spacing_ratio);
}

void register_deflect_flap(py::module_& m) {
  m.def(
      "deflect_flap",
      [](py::object coords, py::object hinge_x_frac, py::object deflection_deg, py::object hinge_y_frac) {
        const std::vector<double> c = to_float_list(coords, "coords");
        const double hx = to_float(hinge_x_frac, "hinge_x_frac");
        const double deg = to_float(deflection_deg, "deflection_deg");
        const double hy = to_float(hinge_y_frac, "hinge_y_frac");
        return to_point_list(velaro::deflect_flap(c, hx, deg, hy));
      },
      doc::deflect_flap, py::arg("coords"), py::arg("hinge_x_frac"), py::arg("deflection_deg"),
      py::arg("hinge_y_frac") = 0.5);
}

}  // namespace velaro::python
