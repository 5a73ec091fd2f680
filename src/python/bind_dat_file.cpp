// Module function parse_dat_file: the coordinates of a plain-text airfoil
// file.
#include "geometry/dat_file.h"
#include "python/conversions.h"
#include "python/docstrings.h"
#include "python/registry.h"

namespace velaro::python {

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
