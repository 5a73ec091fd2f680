#pragma once
// Errors of the inviscid panel layer (panel geometry, influence system).
// Each variant has a fixed display text.
#include <cstddef>
#include <string>

namespace velaro {

struct InviscidError {
  enum class Kind {
    InsufficientPoints,
    InvalidChord,
    DuplicatePoints,
    SingularMatrix,
    ZeroLengthPanel,
    SplineFailed,
    InvalidAlpha,
  };
  Kind kind;
  std::size_t index = 0;  // InsufficientPoints (count), DuplicatePoints, ZeroLengthPanel
  double value = 0.0;     // InvalidChord (chord), InvalidAlpha (radians)
  std::string message;    // SplineFailed

  static InviscidError insufficient_points(std::size_t count) { return {Kind::InsufficientPoints, count, 0.0, {}}; }
  static InviscidError invalid_chord(double chord) { return {Kind::InvalidChord, 0, chord, {}}; }
  static InviscidError duplicate_points(std::size_t index) { return {Kind::DuplicatePoints, index, 0.0, {}}; }
  static InviscidError singular_matrix() { return {Kind::SingularMatrix, 0, 0.0, {}}; }
  static InviscidError zero_length_panel(std::size_t index) { return {Kind::ZeroLengthPanel, index, 0.0, {}}; }
  static InviscidError spline_failed(std::string text) { return {Kind::SplineFailed, 0, 0.0, std::move(text)}; }
  static InviscidError invalid_alpha(double alpha) { return {Kind::InvalidAlpha, 0, alpha, {}}; }

  std::string to_string() const;
};

}  // namespace velaro
