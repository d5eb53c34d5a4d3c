#include "engine/scene/frame.h"

#include <algorithm>
#include <cmath>
#include <glm/geometric.hpp>
#include <glm/gtc/matrix_transform.hpp>
#include <glm/mat3x3.hpp>

namespace tarvo::engine {
namespace {

constexpr float kEpsilon = 1e-9f;

glm::mat4 WorldOf(const Frame* frame) { return frame ? frame->WorldMatrix() : glm::mat4(1.0f); }

// The rotation part of a transform, with any scale taken out.
glm::mat3 RotationOf(const glm::mat4& m) {
  glm::mat3 r(m);
  for (int i = 0; i < 3; ++i) {
    const float length = glm::length(r[i]);
    if (length > kEpsilon) r[i] /= length;
  }
  return r;
}

}  // namespace

std::shared_ptr<Frame> Frame::Create(Frame* parent) {
  std::shared_ptr<Frame> frame(new Frame());
  if (parent) parent->AddChild(frame);
  return frame;
}

Frame::~Frame() {
  for (auto& child : children_) child->parent_ = nullptr;
}

const Frame& Frame::Root() const {
  const Frame* frame = this;
  while (frame->parent_) frame = frame->parent_;
  return *frame;
}

bool Frame::AddChild(std::shared_ptr<Frame> child) {
  if (!child) return false;
  for (const Frame* f = this; f; f = f->parent_) {
    if (f == child.get()) return false;
  }
  if (child->parent_ == this) return true;
  if (child->parent_) child->parent_->DeleteChild(child.get());
  child->parent_ = this;
  children_.push_back(std::move(child));
  return true;
}

bool Frame::DeleteChild(const Frame* child) {
  auto it = std::find_if(children_.begin(), children_.end(),
                         [child](const auto& c) { return c.get() == child; });
  if (it == children_.end()) return false;
  (*it)->parent_ = nullptr;
  children_.erase(it);
  return true;
}

void Frame::AddVisual(std::shared_ptr<Visual> visual) {
  if (visual) visuals_.push_back(std::move(visual));
}

bool Frame::DeleteVisual(const Visual* visual) {
  auto it = std::find_if(visuals_.begin(), visuals_.end(),
                         [visual](const auto& v) { return v.get() == visual; });
  if (it == visuals_.end()) return false;
  visuals_.erase(it);
  return true;
}

void Frame::AddLight(std::shared_ptr<Light> light) {
  if (light) lights_.push_back(std::move(light));
}

bool Frame::DeleteLight(const Light* light) {
  auto it = std::find_if(lights_.begin(), lights_.end(),
                         [light](const auto& l) { return l.get() == light; });
  if (it == lights_.end()) return false;
  lights_.erase(it);
  return true;
}

glm::mat4 Frame::LocalMatrix() const {
  glm::mat4 m = glm::mat4_cast(rotation_);
  m[0] *= scale_.x;
  m[1] *= scale_.y;
  m[2] *= scale_.z;
  m[3] = glm::vec4(position_, 1.0f);
  return m;
}

glm::mat4 Frame::WorldMatrix() const {
  glm::mat4 m = LocalMatrix();
  for (const Frame* f = parent_; f; f = f->parent_) m = f->LocalMatrix() * m;
  return m;
}

void Frame::SetLocalRotation(glm::quat rotation) {
  const float length = glm::length(rotation);
  rotation_ = length > kEpsilon ? rotation / length : glm::quat(1.0f, 0.0f, 0.0f, 0.0f);
}

void Frame::SetPosition(const Frame* reference, glm::vec3 position) {
  const glm::vec4 world = WorldOf(reference) * glm::vec4(position, 1.0f);
  position_ = glm::vec3(glm::inverse(WorldOf(parent_)) * world);
}

glm::vec3 Frame::GetPosition(const Frame* reference) const {
  const glm::vec4 world = WorldMatrix() * glm::vec4(0.0f, 0.0f, 0.0f, 1.0f);
  return glm::vec3(glm::inverse(WorldOf(reference)) * world);
}

void Frame::SetOrientation(const Frame* reference, glm::vec3 direction, glm::vec3 up) {
  if (glm::length(direction) < kEpsilon) return;
  const glm::vec3 z = glm::normalize(direction);
  glm::vec3 x = glm::cross(up, z);
  if (glm::length(x) < 1e-6f) return;
  x = glm::normalize(x);
  const glm::vec3 y = glm::cross(z, x);
  const glm::mat3 in_reference(x, y, z);
  const glm::mat3 world = RotationOf(WorldOf(reference)) * in_reference;
  const glm::mat3 local = glm::transpose(RotationOf(WorldOf(parent_))) * world;
  rotation_ = glm::normalize(glm::quat_cast(local));
}

Orientation Frame::GetOrientation(const Frame* reference) const {
  const glm::mat3 m = glm::transpose(RotationOf(WorldOf(reference))) * RotationOf(WorldMatrix());
  return Orientation{glm::normalize(m[2]), glm::normalize(m[1])};
}

void Frame::SetVelocity(const Frame* reference, glm::vec3 velocity) {
  const glm::vec3 world = glm::mat3(WorldOf(reference)) * velocity;
  velocity_ = glm::inverse(glm::mat3(WorldOf(parent_))) * world;
}

glm::vec3 Frame::GetVelocity(const Frame* reference) const {
  const glm::vec3 world = glm::mat3(WorldOf(parent_)) * velocity_;
  return glm::inverse(glm::mat3(WorldOf(reference))) * world;
}

void Frame::SetRotation(const Frame* reference, glm::vec3 axis, float theta) {
  const glm::vec3 world = RotationOf(WorldOf(reference)) * axis;
  spin_axis_ = glm::transpose(RotationOf(WorldOf(parent_))) * world;
  spin_theta_ = glm::length(spin_axis_) > kEpsilon ? theta : 0.0f;
}

void Frame::AddRotation(Combine combine, glm::vec3 axis, float theta) {
  if (glm::length(axis) < kEpsilon) return;
  const glm::quat q = glm::angleAxis(theta, glm::normalize(axis));
  switch (combine) {
    case Combine::kReplace:
      rotation_ = q;
      position_ = glm::vec3(0.0f);
      scale_ = glm::vec3(1.0f);
      break;
    case Combine::kBefore:
      rotation_ = glm::normalize(rotation_ * q);
      break;
    case Combine::kAfter:
      rotation_ = glm::normalize(q * rotation_);
      position_ = q * position_;
      break;
  }
}

void Frame::LookAt(const Frame& target, const Frame* reference, LookAtConstraint /*constraint*/) {
  // Both constraints keep the frame upright in the reference; nothing here ever rolls a frame.
  const glm::vec3 direction = target.GetPosition(reference) - GetPosition(reference);
  if (glm::length(direction) < 1e-6f) return;
  glm::vec3 up(0.0f, 1.0f, 0.0f);
  if (glm::length(glm::cross(up, glm::normalize(direction))) < 1e-6f) {
    up = GetOrientation(reference).up;  // looking straight up or down: keep the current up
  }
  SetOrientation(reference, direction, up);
}

int Frame::AddMoveCallback(MoveCallback callback) {
  const int handle = next_callback_++;
  callbacks_.emplace_back(handle, std::move(callback));
  return handle;
}

void Frame::DeleteMoveCallback(int handle) {
  std::erase_if(callbacks_, [handle](const auto& entry) { return entry.first == handle; });
}

void Frame::ApplyMotion(double delta) {
  position_ += velocity_ * static_cast<float>(delta);
  if (spin_theta_ != 0.0f) {
    const glm::quat q =
        glm::angleAxis(spin_theta_ * static_cast<float>(delta), glm::normalize(spin_axis_));
    rotation_ = glm::normalize(q * rotation_);
  }
}

void Frame::RunMoveCallbacks(double delta) {
  if (callbacks_.empty()) return;
  // A callback may add or remove callbacks (or free this frame's siblings); work on a copy.
  auto callbacks = callbacks_;
  for (auto& [handle, callback] : callbacks) {
    if (callback) callback(*this, delta);
  }
}

}  // namespace tarvo::engine
