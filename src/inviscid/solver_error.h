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
    InvalidGeometry,
    TooManyNodes,
  };
  Kind kind;
  std::size_t count = 0;  // NotConverged (iterations), MarchFailed (station), NewtonFailed (iteration)
  double value = 0.0;     // NotConverged / NewtonFailed (residual), Separation (x/c)
  std::string message;    // InvalidFlow, TransitionFailed, MarchFailed, InvalidGeometry
  std::size_t limit = 0;  // TooManyNodes (the largest node count accepted; count holds the given one)

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

  static SolverError invalid_geometry(std::string text) { return {Kind::InvalidGeometry, 0, 0.0, std::move(text)}; }
  static SolverError too_many_nodes(std::size_t nodes, std::size_t limit) {
    return {Kind::TooManyNodes, nodes, 0.0, {}, limit};
  }

  std::string to_string() const;
};

}  // namespace velaro
