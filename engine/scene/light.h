#pragma once

#include "engine/scene/color.h"

namespace tarvo::engine {

/// A light of the scene; it shines from the frame it is added to.
class Light {
 public:
  /// Ambient light lights every face alike; a point light shines from its frame's origin.
  enum class Type { kAmbient, kPoint };

  /// A light of the given type and colour.
  Light(Type type, Color color) : type_(type), color_(color) {}

  /// The light's type.
  Type type() const { return type_; }
  /// The light's colour.
  Color color() const { return color_; }
  /// Changes the light's colour.
  void SetColor(Color color) { color_ = color; }

 private:
  Type type_;
  Color color_;
};

}  // namespace tarvo::engine
