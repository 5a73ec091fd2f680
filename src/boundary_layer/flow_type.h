#pragma once
// Flow regime of a boundary-layer station.
#include <cstdint>

namespace velaro {

enum class FlowType : std::uint8_t {
  Laminar = 0,
  Turbulent = 1,
  Wake = 2,
};

// Debug text of a flow type: the variant name.
constexpr const char* flow_type_name(FlowType flow) {
  switch (flow) {
    case FlowType::Laminar:
      return "Laminar";
    case FlowType::Turbulent:
      return "Turbulent";
    case FlowType::Wake:
      return "Wake";
  }
  return "Unknown";
}

}  // namespace velaro
