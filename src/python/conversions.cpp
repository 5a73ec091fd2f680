#include "python/conversions.h"

#include <limits>
#include <string_view>

namespace velaro::python {
namespace {

std::string type_name(py::handle obj) { return Py_TYPE(obj.ptr())->tp_name; }

[[noreturn]] void raise_type_error(const char* name, const std::string& reason) {
  throw py::type_error("argument '" + std::string(name) + "': " + reason);
}

// Re-raises a pending Python error. A TypeError gets the argument prefix;
// any other exception propagates unchanged.
[[noreturn]] void rethrow_with_argument(const char* name) {
  if (PyErr_ExceptionMatches(PyExc_TypeError)) {
    py::error_already_set err;
    raise_type_error(name, py::str(err.value()).cast<std::string>());
  }
  throw py::error_already_set();
}

[[noreturn]] void raise_overflow(const char* message) {
  PyErr_SetString(PyExc_OverflowError, message);
  throw py::error_already_set();
}

double item_to_double(PyObject* item, const char* name) {
  if (PyFloat_CheckExact(item)) return PyFloat_AS_DOUBLE(item);
  const double v = PyFloat_AsDouble(item);
  if (v == -1.0 && PyErr_Occurred()) rethrow_with_argument(name);
  return v;
}

// Reads an integer through the index protocol; returns the Python int.
py::object index_of(py::handle obj, const char* name) {
  PyObject* idx = PyNumber_Index(obj.ptr());
  if (idx == nullptr) rethrow_with_argument(name);
  return py::reinterpret_steal<py::object>(idx);
}

bool is_negative(const py::object& pyint) {
  const int sign = PyObject_RichCompareBool(pyint.ptr(), py::int_(0).ptr(), Py_LT);
  if (sign < 0) throw py::error_already_set();
  return sign == 1;
}

// Narrow unsigned conversion: negative values get the interpreter's own
// message, values above the range the fixed out-of-range message.
std::uint64_t to_bounded_unsigned(py::handle obj, const char* name, std::uint64_t max) {
  py::object v = index_of(obj, name);
  if (is_negative(v)) {
    PyLong_AsUnsignedLongLong(v.ptr());  // sets the interpreter's overflow error
    throw py::error_already_set();
  }
  const unsigned long long value = PyLong_AsUnsignedLongLong(v.ptr());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    PyErr_Clear();
    raise_overflow("out of range integral type conversion attempted");
  }
  if (value > max) raise_overflow("out of range integral type conversion attempted");
  return value;
}

}  // namespace

std::vector<double> to_float_list(py::handle obj, const char* name) {
  if (PyUnicode_Check(obj.ptr())) raise_type_error(name, "Can't extract `str` to `Vec`");
  if (!PySequence_Check(obj.ptr())) raise_type_error(name, "'" + type_name(obj) + "' object cannot be converted to 'Sequence'");
  std::vector<double> out;
  const Py_ssize_t hint = PySequence_Size(obj.ptr());
  if (hint < 0) {
    PyErr_Clear();
  } else {
    out.reserve(static_cast<std::size_t>(hint));
  }
  PyObject* it = PyObject_GetIter(obj.ptr());
  if (it == nullptr) rethrow_with_argument(name);
  py::object iter = py::reinterpret_steal<py::object>(it);
  while (PyObject* raw = PyIter_Next(iter.ptr())) {
    py::object item = py::reinterpret_steal<py::object>(raw);
    out.push_back(item_to_double(item.ptr(), name));
  }
  if (PyErr_Occurred()) rethrow_with_argument(name);
  return out;
}

double to_float(py::handle obj, const char* name) { return item_to_double(obj.ptr(), name); }

std::uint64_t to_u64(py::handle obj, const char* name) {
  py::object v = index_of(obj, name);
  const unsigned long long value = PyLong_AsUnsignedLongLong(v.ptr());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw py::error_already_set();
  return value;
}

std::uint32_t to_u32(py::handle obj, const char* name) {
  return static_cast<std::uint32_t>(to_bounded_unsigned(obj, name, std::numeric_limits<std::uint32_t>::max()));
}

std::uint8_t to_u8(py::handle obj, const char* name) {
  return static_cast<std::uint8_t>(to_bounded_unsigned(obj, name, std::numeric_limits<std::uint8_t>::max()));
}

std::optional<std::uint64_t> to_optional_u64(py::handle obj, const char* name) {
  if (obj.is_none()) return std::nullopt;
  return to_u64(obj, name);
}

std::string to_str(py::handle obj, const char* name) {
  if (!PyUnicode_Check(obj.ptr())) raise_type_error(name, "'" + type_name(obj) + "' object is not an instance of 'str'");
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(obj.ptr(), &size);
  if (data == nullptr) rethrow_with_argument(name);
  return std::string(data, static_cast<std::size_t>(size));
}

py::list to_py_list(const std::vector<double>& values) {
  py::list out(values.size());
  for (std::size_t i = 0; i < values.size(); ++i) out[i] = py::float_(values[i]);
  return out;
}

py::dict failure_dict(const std::string& error) {
  py::dict d;
  d["success"] = false;
  d["error"] = error;
  return d;
}

py::object error_value(const std::optional<std::string>& error) {
  if (error) return py::str(*error);
  return py::none();
}

}  // namespace velaro::python
