#include "engine/scene/animation.h"

#include <algorithm>
#include <cmath>

#include "engine/scene/frame.h"

namespace tarvo::engine {
namespace {

// Finds the keys around `time` and the blend factor between them.
template <typename K>
void Bracket(const std::vector<K>& keys, float time, size_t* a, size_t* b, float* t) {
  if (time <= keys.front().time) {
    *a = *b = 0;
    *t = 0.0f;
    return;
  }
  if (time >= keys.back().time) {
    *a = *b = keys.size() - 1;
    *t = 0.0f;
    return;
  }
  auto upper = std::upper_bound(keys.begin(), keys.end(), time,
                                [](float value, const K& key) { return value < key.time; });
  *b = static_cast<size_t>(upper - keys.begin());
  *a = *b - 1;
  const float span = keys[*b].time - keys[*a].time;
  *t = span > 0.0f ? (time - keys[*a].time) / span : 0.0f;
}

}  // namespace

template <typename T>
void Animation::Insert(std::vector<Key<T>>& keys, float time, T value) {
  auto it = std::upper_bound(keys.begin(), keys.end(), time,
                             [](float t, const Key<T>& key) { return t < key.time; });
  keys.insert(it, Key<T>{time, value});
}

void Animation::AddPositionKey(float time, glm::vec3 position) {
  Insert(positions_, time, position);
}

void Animation::AddScaleKey(float time, glm::vec3 scale) { Insert(scales_, time, scale); }

void Animation::AddRotateKey(float time, float s, float x, float y, float z) {
  // The key is the part's orientation written the way the avatar data was authored: the turn is
  // the conjugate of glm's for the same numbers. Non-unit keys are normalized.
  glm::quat q(s, -x, -y, -z);
  const float length = glm::length(q);
  q = length > 1e-9f ? q / length : glm::quat(1.0f, 0.0f, 0.0f, 0.0f);
  Insert(rotations_, time, q);
}

float Animation::Wrap(float time, float first, float last) const {
  if (!(options_ & kAnimationClosed) || last <= first) return time;
  const float span = last - first;
  float offset = std::fmod(time - first, span);
  if (offset < 0.0f) offset += span;
  return first + offset;
}

bool Animation::PositionAt(float time, glm::vec3* position) const {
  if (positions_.empty()) return false;
  time = Wrap(time, positions_.front().time, positions_.back().time);
  size_t a, b;
  float t;
  Bracket(positions_, time, &a, &b, &t);
  *position = positions_[a].value + (positions_[b].value - positions_[a].value) * t;
  return true;
}

bool Animation::ScaleAt(float time, glm::vec3* scale) const {
  if (scales_.empty()) return false;
  time = Wrap(time, scales_.front().time, scales_.back().time);
  size_t a, b;
  float t;
  Bracket(scales_, time, &a, &b, &t);
  *scale = scales_[a].value + (scales_[b].value - scales_[a].value) * t;
  return true;
}

bool Animation::RotationAt(float time, glm::quat* rotation) const {
  if (rotations_.empty()) return false;
  time = Wrap(time, rotations_.front().time, rotations_.back().time);
  size_t a, b;
  float t;
  Bracket(rotations_, time, &a, &b, &t);
  // glm::slerp takes the shorter way round, so opposite-signed keys do not spin a full turn.
  *rotation = glm::normalize(glm::slerp(rotations_[a].value, rotations_[b].value, t));
  return true;
}

void Animation::SetTime(float time) {
  std::shared_ptr<Frame> frame = frame_.lock();
  if (!frame) return;
  if (options_ & kAnimationPosition) {
    glm::vec3 position;
    if (PositionAt(time, &position)) frame->SetLocalPosition(position);
  }
  if (options_ & kAnimationScaleAndRotation) {
    glm::quat rotation;
    if (RotationAt(time, &rotation)) frame->SetLocalRotation(rotation);
    glm::vec3 scale;
    if (ScaleAt(time, &scale)) frame->SetLocalScale(scale);
  }
}

void AnimationSet::AddAnimation(std::shared_ptr<Animation> animation) {
  if (animation) animations_.push_back(std::move(animation));
}

bool AnimationSet::DeleteAnimation(const Animation* animation) {
  auto it = std::find_if(animations_.begin(), animations_.end(),
                         [animation](const auto& a) { return a.get() == animation; });
  if (it == animations_.end()) return false;
  animations_.erase(it);
  return true;
}

void AnimationSet::SetTime(float time) {
  time_ = time;
  for (const auto& animation : animations_) animation->SetTime(time);
}

}  // namespace tarvo::engine
