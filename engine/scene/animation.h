#pragma once

#include <cstdint>
#include <glm/gtc/quaternion.hpp>
#include <glm/vec3.hpp>
#include <memory>
#include <vector>

namespace tarvo::engine {

class Frame;

/// Option bits of an animation; the values are those the avatar code passes (0x34).
enum AnimationOption : uint32_t {
  kAnimationOpen = 0x01,              ///< Times outside the keys hold the first or last key.
  kAnimationClosed = 0x02,            ///< Times wrap around the keys' span.
  kAnimationLinearPosition = 0x04,    ///< Positions move in straight lines between keys.
  kAnimationSplinePosition = 0x08,    ///< Asked-for splines; positions still move linearly.
  kAnimationScaleAndRotation = 0x10,  ///< Scale and rotation keys are applied.
  kAnimationPosition = 0x20,          ///< Position keys are applied.
};

/// Key frames for one frame: positions, scales and rotations by time.
class Animation {
 public:
  /// Sets the option bits (`AnimationOption`).
  void SetOptions(uint32_t options) { options_ = options; }
  /// The option bits.
  uint32_t options() const { return options_; }
  /// Binds the animation to the frame it moves; the animation does not keep the frame alive.
  void SetFrame(const std::shared_ptr<Frame>& frame) { frame_ = frame; }
  /// The bound frame, if it still exists.
  std::shared_ptr<Frame> frame() const { return frame_.lock(); }

  /// Adds a position key (relative to the frame's parent).
  void AddPositionKey(float time, glm::vec3 position);
  /// Adds a scale key.
  void AddScaleKey(float time, glm::vec3 scale);
  /// Adds a rotation key: quaternion with scalar `s` and vector (x, y, z), normalized here.
  /// With s > 0 and a positive x the frame's top leans towards -z, as the walking body does.
  void AddRotateKey(float time, float s, float x, float y, float z);

  /// The position at `time`; false when there are no position keys.
  bool PositionAt(float time, glm::vec3* position) const;
  /// The scale at `time`; false when there are no scale keys.
  bool ScaleAt(float time, glm::vec3* scale) const;
  /// The rotation at `time`, turned spherically between keys; false without rotation keys.
  bool RotationAt(float time, glm::quat* rotation) const;

  /// Poses the bound frame at `time` with the kinds of keys the options ask for.
  void SetTime(float time);

 private:
  template <typename T>
  struct Key {
    float time;
    T value;
  };
  template <typename T>
  static void Insert(std::vector<Key<T>>& keys, float time, T value);
  float Wrap(float time, float first, float last) const;

  uint32_t options_ =
      kAnimationOpen | kAnimationLinearPosition | kAnimationPosition | kAnimationScaleAndRotation;
  std::weak_ptr<Frame> frame_;
  std::vector<Key<glm::vec3>> positions_;
  std::vector<Key<glm::vec3>> scales_;
  std::vector<Key<glm::quat>> rotations_;
};

/// Animations posed together by one time.
class AnimationSet {
 public:
  /// Adds an animation.
  void AddAnimation(std::shared_ptr<Animation> animation);
  /// Removes an animation; false when the set does not hold it.
  bool DeleteAnimation(const Animation* animation);
  /// The animations in the order they were added.
  const std::vector<std::shared_ptr<Animation>>& animations() const { return animations_; }
  /// Poses every animation at `time`.
  void SetTime(float time);
  /// The time last set.
  float time() const { return time_; }

 private:
  std::vector<std::shared_ptr<Animation>> animations_;
  float time_ = 0.0f;
};

}  // namespace tarvo::engine
