#pragma once
// Errors of the standalone panel solver library. Each variant has a fixed
// display text.
#include <cstddef>
#include <string>

namespace velaro {

struct SolverError {
  enum class Kind {
    NoBodies,
    InsufficientPanels,
    SingularMatrix,
    NotConverged,
    InvalidFlow,
    Separation,
    TransitionFailed,
    InvalidReynolds,
    MarchFailed,
    NewtonFailed,
  };
  Kind kind;
  std::size_t count = 0;  // NotConverged (iterations), MarchFailed (station), NewtonFailed (iteration)
  double value = 0.0;     // NotConverged / NewtonFailed (residual), Separation (x/c)
  std::string message;    // InvalidFlow, TransitionFailed, MarchFailed

  static SolverError no_bodies() { return {Kind::NoBodies, 0, 0.0, {}}; }
  static SolverError insufficient_panels() { return {Kind::InsufficientPanels, 0, 0.0, {}}; }
  static SolverError singular_matrix() { return {Kind::SingularMatrix, 0, 0.0, {}}; }
  static SolverError not_converged(std::size_t iterations, double residual) {
    return {Kind::NotConverged, iterations, residual, {}};
  }
  static SolverError invalid_flow(std::string text) { return {Kind::InvalidFlow, 0, 0.0, std::move(text)}; }
  static SolverError separation(double x_over_c) { return {Kind::Separation, 0, x_over_c, {}}; }
  static SolverError transition_failed(std::string text) { return {Kind::TransitionFailed, 0, 0.0, std::move(text)}; }
  static SolverError invalid_reynolds() { return {Kind::InvalidReynolds, 0, 0.0, {}}; }
  static SolverError march_failed(std::size_t station, std::string text) {
    return {Kind::MarchFailed, station, 0.0, std::move(text)};
  }
  static SolverError newton_failed(std::size_t iteration, double residual) {
    return {Kind::NewtonFailed, iteration, residual, {}};
  }

  std::string to_string() const;
};

}  // namespace velaro
