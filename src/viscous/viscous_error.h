#pragma once
// Error of the viscous solver. Each variant has a fixed display text that
// reaches Python callers unprefixed.
#include <string>

namespace velaro {

struct InviscidError;

struct ViscousError {
  enum class Kind { Message, Geometry, Inviscid };
  Kind kind = Kind::Message;
  std::string text;  // the payload

  static ViscousError message(std::string text) { return {Kind::Message, std::move(text)}; }
  static ViscousError geometry(std::string text) { return {Kind::Geometry, std::move(text)}; }
  static ViscousError inviscid(std::string text) { return {Kind::Inviscid, std::move(text)}; }
  // Wraps an error of the inviscid layer, keeping its own message.
  static ViscousError from(const InviscidError& error);

  // "the text", "geometry error: the text" or "inviscid solver error: the text".
  std::string to_string() const;
};

}  // namespace velaro
