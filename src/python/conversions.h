#pragma once
// Conversion of Python arguments into native values, shared by every module
// function. Each converter names the parameter in its errors:
//  - wrong types raise TypeError "argument 'NAME': <reason>";
//  - integers that do not fit raise OverflowError (the interpreter's own
//    message for negative values of unsigned parameters, "out of range
//    integral type conversion attempted" for narrow types).
#include <pybind11/pybind11.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace velaro::python {

namespace py = pybind11;

// Any sequence except str; items go through the float protocol.
std::vector<double> to_float_list(py::handle obj, const char* name);
double to_float(py::handle obj, const char* name);
// Integers through the index protocol (floats are refused).
std::uint64_t to_u64(py::handle obj, const char* name);
std::uint32_t to_u32(py::handle obj, const char* name);
std::uint8_t to_u8(py::handle obj, const char* name);
std::optional<std::uint64_t> to_optional_u64(py::handle obj, const char* name);
// A str or a subclass of str; path-like objects are refused.
std::string to_str(py::handle obj, const char* name);

// A list of (x, y) float tuples.
template <typename PointRange>
py::list to_point_list(const PointRange& points) {
  py::list out(points.size());
  std::size_t i = 0;
  for (const auto& p : points) out[i++] = py::make_tuple(p.x, p.y);
  return out;
}

py::list to_py_list(const std::vector<double>& values);

// The analysis functions accept a coordinate list of at least three points
// (six values) and an even count.
inline bool valid_coordinate_count(std::size_t count) { return count >= 6 && count % 2 == 0; }

// The two-key dictionary {"success": False, "error": error}.
py::dict failure_dict(const std::string& error);

// The "error" value of a result dictionary: the text, or None.
py::object error_value(const std::optional<std::string>& error);

}  // namespace velaro::python
