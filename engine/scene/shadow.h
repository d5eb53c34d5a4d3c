#pragma once

#include <glm/vec3.hpp>
#include <memory>

#include "engine/scene/light.h"
#include "engine/scene/visual.h"

namespace tarvo::engine {

/// The flat shadow of a mesh cast by a point light onto a plane given in world coordinates.
/// The mesh is taken in the coordinates of the frame that holds the shadow.
class Shadow : public Visual {
 public:
  /// A shadow of `mesh` (a mesh or mesh builder) from `light` onto the plane through `point`
  /// with `normal`.
  Shadow(std::shared_ptr<Visual> mesh, std::shared_ptr<Light> light, glm::vec3 point,
         glm::vec3 normal)
      : mesh_(std::move(mesh)), light_(std::move(light)), point_(point), normal_(normal) {}

  Kind kind() const override { return Kind::kShadow; }
  /// The mesh whose shadow is drawn.
  const std::shared_ptr<Visual>& mesh() const { return mesh_; }
  /// The light that casts the shadow.
  const std::shared_ptr<Light>& light() const { return light_; }
  /// A point of the plane.
  glm::vec3 point() const { return point_; }
  /// The plane's normal.
  glm::vec3 normal() const { return normal_; }

 private:
  std::shared_ptr<Visual> mesh_;
  std::shared_ptr<Light> light_;
  glm::vec3 point_;
  glm::vec3 normal_;
};

}  // namespace tarvo::engine
