#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "engine/scene/animation.h"
#include "engine/scene/frame.h"
#include "engine/scene/mesh_builder.h"
#include "engine/scene/scene.h"

namespace tarvo::client {

/// Number of avatar parts.
inline constexpr int kPartCount = 8;
/// Part indices in part-table order.
enum PartIndex {
  kPartHead = 0,
  kPartBody = 1,
  kPartRightArm = 2,
  kPartLeftArm = 3,
  kPartRightHand = 4,
  kPartLeftHand = 5,
  kPartRightFoot = 6,
  kPartLeftFoot = 7,
};

/// A position or scale key: time and a vector.
struct VectorKey {
  float time;
  float x, y, z;
};

/// A rotation key: time and a quaternion with scalar part s and vector part (vx, vy, vz).
struct RotationKey {
  float time;
  float s, vx, vy, vz;
};

/// One avatar part: its mesh file and its key frames over the animation time.
struct PartEntry {
  std::string mesh_file;
  std::vector<VectorKey> position_keys;
  std::vector<VectorKey> scale_keys;
  std::vector<RotationKey> rotation_keys;
};

/// The eight part entries in part order.
using PartEntries = std::array<PartEntry, kPartCount>;

/// The program-wide part table; empty until `BuildPartTable`.
PartEntries& PartTable();
/// The part table's values: meshes and the standing, walking and airborne key frames.
PartEntries MakePartTable();
/// Fills `PartTable` with `MakePartTable`, replacing what it held.
void BuildPartTable();

/// A part made from an entry: its frame, the frame's mesh builder and its animation.
struct Part {
  std::shared_ptr<engine::Frame> frame;
  std::shared_ptr<engine::MeshBuilder> mesh;
  std::shared_ptr<engine::Animation> animation;
};

/// Makes a part: a frame below the scene frame holding a mesh builder loaded from the entry's
/// file (a failed load leaves it empty) with perspective texturing, and an animation bound to
/// the frame with every key of the entry.
Part CreatePart(engine::Scene& scene, const PartEntry& entry);

/// An avatar's frames as first assembled: the avatar frame below the scene frame, the eight
/// parts below it in part order, and the animation set posed at time 0.
struct AvatarParts {
  std::shared_ptr<engine::Frame> frame;
  std::array<Part, kPartCount> parts;
  std::shared_ptr<engine::AnimationSet> anim_set;
};

/// Creates the avatar frame below the scene frame, every part of `table` below it, and the
/// animation set, posed at time 0.
AvatarParts AssembleAvatar(engine::Scene& scene, const PartEntries& table);

/// Animation states of an avatar.
enum AnimState : int32_t { kAnimStanding = 0, kAnimWalking = 1, kAnimAirborne = 2 };

/// Walk ticks from which the avatar runs.
inline constexpr int32_t kRunWalkTicks = 25;

/// The movement step's update of the animation state: becoming airborne sets time 40; a
/// movement key on the ground walks, starting from standing at time 0 or, with `second_leg`,
/// 20; no key on the ground stands.
void UpdateAnimState(bool jumping, bool moving, bool second_leg, int32_t& anim_state,
                     int32_t& anim_time);

/// The animation time after one engine tick: 0 standing; walking +2, or +3 when running,
/// wrapping from 40 or more to 1; airborne unchanged.
int32_t NextAnimTime(int32_t anim_state, int32_t anim_time, int32_t walk_ticks);

/// The walk-cycle move callback of the local avatar: advances `anim_time` and poses the set.
void AnimationTicker(int32_t anim_state, int32_t walk_ticks, int32_t& anim_time,
                     engine::AnimationSet* anim_set);

}  // namespace tarvo::client
