// Module function parse_dat_file: the coordinates of a plain-text airfoil
// file.
#include "geometry/dat_file.h"
#include "python/conversions.h"
#include "python/docstrings.h"
#include "python/registry.h"

namespace velaro::python {
namespace {

// Raises the OSError subclass Python's own open() raises for the same errno
// (FileNotFoundError, PermissionError, IsADirectoryError, ...), with errno
// set and the message as the only argument, so that str() is the message.
[[noreturn]] void raise_file_error(const FileError& error) {
  py::object type = py::reinterpret_borrow<py::object>(PyExc_OSError);
  if (error.code != 0) {
    // OSError(errno, text) picks the subclass that belongs to the errno.
    py::object probe = type(error.code, error.message);
    type = py::reinterpret_borrow<py::object>(reinterpret_cast<PyObject*>(Py_TYPE(probe.ptr())));
  }
  py::object exc = type(error.message);
  if (error.code != 0) exc.attr("errno") = error.code;
  PyErr_SetObject(type.ptr(), exc.ptr());
  throw py::error_already_set();
}

}  // namespace

void register_parse_dat_file(py::module_& m) {
  m.def(
      "parse_dat_file",
      [](py::object path) {
        const std::string p = to_str(path, "path");
        // Opening and reading may wait on the file system: other Python
        // threads run meanwhile.
        std::expected<std::vector<Point>, FileError> parsed;
        {
          py::gil_scoped_release unlocked;
          parsed = velaro::parse_dat_file(p);
        }
        if (!parsed) raise_file_error(parsed.error());
        return to_point_list(*parsed);
      },
      doc::parse_dat_file, py::arg("path"));
}

}  // namespace velaro::python
