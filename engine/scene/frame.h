#pragma once

#include <functional>
#include <glm/gtc/quaternion.hpp>
#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>
#include <memory>
#include <vector>

#include "engine/scene/light.h"
#include "engine/scene/visual.h"

namespace tarvo::engine {

/// How `AddRotation` combines a rotation with the frame's transform.
enum class Combine {
  kReplace,  ///< The rotation becomes the whole transform (position at the parent's origin).
  kBefore,   ///< Rotate about the frame's own axes first, then apply the old transform.
  kAfter,    ///< Apply the old transform, then rotate about the parent's axes.
};

/// What `LookAt` keeps fixed.
enum class LookAtConstraint {
  kNone,  ///< Turn freely; the up vector follows the reference's y axis.
  kZ,     ///< No roll about the frame's own z axis: it stays upright in the reference.
};

/// A frame's z axis (direction) and y axis (up), expressed in some reference frame.
struct Orientation {
  glm::vec3 direction{0.0f, 0.0f, 1.0f};
  glm::vec3 up{0.0f, 1.0f, 0.0f};
};

/// A frame's position and rotation relative to its parent, as stored.
struct FramePose {
  glm::vec3 position{0.0f};
  glm::quat rotation{1.0f, 0.0f, 0.0f, 0.0f};
};

/// A node of the scene: a transform relative to its parent, children, visuals, lights, a
/// velocity and move callbacks. Coordinates are left-handed with y up; a frame looks along +z.
class Frame : public std::enable_shared_from_this<Frame> {
 public:
  /// Called once per tick after all velocities were applied, with the tick's delta.
  using MoveCallback = std::function<void(Frame& frame, double delta)>;

  /// A new frame, added as a child of `parent` when one is given.
  static std::shared_ptr<Frame> Create(Frame* parent = nullptr);

  Frame(const Frame&) = delete;
  Frame& operator=(const Frame&) = delete;
  ~Frame();

  /// The parent, or none for a root or a frame that was taken out of the tree.
  Frame* parent() const { return parent_; }
  /// The top of this frame's tree (this frame when it has no parent).
  const Frame& Root() const;
  /// Makes `child` a child of this frame, taking it from its old parent; its transform relative
  /// to its parent is kept. Adding an ancestor of this frame is refused.
  bool AddChild(std::shared_ptr<Frame> child);
  /// Takes a child out of this frame; false when it is not a child.
  bool DeleteChild(const Frame* child);
  /// The children in the order they were added.
  const std::vector<std::shared_ptr<Frame>>& children() const { return children_; }

  /// Adds a visual (mesh builder, mesh, shadow or decal texture).
  void AddVisual(std::shared_ptr<Visual> visual);
  /// Removes a visual; false when the frame does not hold it.
  bool DeleteVisual(const Visual* visual);
  /// The visuals in the order they were added.
  const std::vector<std::shared_ptr<Visual>>& visuals() const { return visuals_; }

  /// Adds a light that shines from this frame.
  void AddLight(std::shared_ptr<Light> light);
  /// Removes a light; false when the frame does not hold it.
  bool DeleteLight(const Light* light);
  /// The lights of this frame.
  const std::vector<std::shared_ptr<Light>>& lights() const { return lights_; }

  /// Places the frame's origin at `position` given in `reference` (none: the world, that is the
  /// top of the tree).
  void SetPosition(const Frame* reference, glm::vec3 position);
  /// The frame's origin in `reference` (none: the world).
  glm::vec3 GetPosition(const Frame* reference) const;
  /// Turns the frame so that its z axis points along `direction` and its y axis is `up` made
  /// perpendicular, both given in `reference`; the position stays. Degenerate input is ignored.
  void SetOrientation(const Frame* reference, glm::vec3 direction, glm::vec3 up);
  /// The frame's z and y axes in `reference`.
  Orientation GetOrientation(const Frame* reference) const;
  /// Sets a velocity given in `reference`, applied once per tick (times the tick's delta).
  void SetVelocity(const Frame* reference, glm::vec3 velocity);
  /// The velocity expressed in `reference`.
  glm::vec3 GetVelocity(const Frame* reference) const;
  /// Sets a rotation per tick about `axis` given in `reference`, `theta` radians.
  void SetRotation(const Frame* reference, glm::vec3 axis, float theta);
  /// Rotates the frame by `theta` radians about `axis` (positive turns clockwise seen from the
  /// axis' tip, as left-handed coordinates expect).
  void AddRotation(Combine combine, glm::vec3 axis, float theta);
  /// Turns the frame's z axis towards `target`'s origin; `reference` gives the up direction.
  void LookAt(const Frame& target, const Frame* reference, LookAtConstraint constraint);

  /// Adds a move callback and gives its handle.
  int AddMoveCallback(MoveCallback callback);
  /// Removes a move callback by handle.
  void DeleteMoveCallback(int handle);

  /// Position relative to the parent.
  glm::vec3 local_position() const { return position_; }
  /// Rotation relative to the parent.
  glm::quat local_rotation() const { return rotation_; }
  /// Scale relative to the parent.
  glm::vec3 local_scale() const { return scale_; }
  /// Sets the position relative to the parent.
  void SetLocalPosition(glm::vec3 position) { position_ = position; }
  /// Sets the rotation relative to the parent.
  void SetLocalRotation(glm::quat rotation);
  /// Sets the scale relative to the parent.
  void SetLocalScale(glm::vec3 scale) { scale_ = scale; }
  /// The position and rotation relative to the parent.
  FramePose pose() const { return {position_, rotation_}; }
  /// Puts back a pose taken with `pose()` bit for bit: unlike `SetLocalRotation` it does not
  /// normalize, so drawing can move a frame and restore it without touching the simulation.
  void SetPose(const FramePose& pose) {
    position_ = pose.position;
    rotation_ = pose.rotation;
  }
  /// The transform from this frame's coordinates to its parent's.
  glm::mat4 LocalMatrix() const;
  /// The transform from this frame's coordinates to the world (top of the tree).
  glm::mat4 WorldMatrix() const;

  /// Applies the velocity and rotation of this frame for one tick of `delta`.
  void ApplyMotion(double delta);
  /// Calls the move callbacks of this frame.
  void RunMoveCallbacks(double delta);

 private:
  Frame() = default;

  Frame* parent_ = nullptr;
  std::vector<std::shared_ptr<Frame>> children_;
  std::vector<std::shared_ptr<Visual>> visuals_;
  std::vector<std::shared_ptr<Light>> lights_;
  glm::vec3 position_{0.0f};
  glm::quat rotation_{1.0f, 0.0f, 0.0f, 0.0f};
  glm::vec3 scale_{1.0f};
  glm::vec3 velocity_{0.0f};   // in the parent's coordinates
  glm::vec3 spin_axis_{0.0f};  // in the parent's coordinates
  float spin_theta_ = 0.0f;
  std::vector<std::pair<int, MoveCallback>> callbacks_;
  int next_callback_ = 1;
};

}  // namespace tarvo::engine
