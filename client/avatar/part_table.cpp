#include "client/avatar/part_table.h"

namespace tarvo::client {
namespace {

// The arm swing; a hand moves exactly like the arm of its side.
const std::vector<VectorKey> kRightArmPositions = {
    {0, -6.8f, 30.5f, -0.6f}, {1, -6.1f, 30, -2.5f},  {11, -6.3f, 30, -2.6f},
    {21, -6, 30, -2},         {31, -6.3f, 30, -2.6f}, {41, -6.1f, 30, -2.5f}};
const std::vector<RotationKey> kRightArmRotations = {
    {0, 1, 0, 0, 0},  {1, 0.8f, 0, 0.5916f, 0.1f}, {11, 1, 0, 0, 0}, {21, 0.9f, 0, -0.4358f, 0},
    {31, 1, 0, 0, 0}, {41, 0.8f, 0, 0.5916f, 0.1f}};
const std::vector<VectorKey> kLeftArmPositions = {{0, 6.8f, 30.5f, -0.6f}, {1, 6.1f, 30, -2.5f},
                                                  {11, 6.3f, 30, -2.6f},   {21, 6, 30, -2},
                                                  {31, 6.3f, 30, -2.6f},   {41, 6.1f, 30, -2.5f}};
const std::vector<RotationKey> kLeftArmRotations = {{0, 1, 0, 0, 0},  {1, 0.9f, 0, 0.4358f, 0},
                                                    {11, 1, 0, 0, 0}, {21, 0.8f, 0, -0.5916f, 0.1f},
                                                    {31, 1, 0, 0, 0}, {41, 0.9f, 0, 0.4358f, 0}};

}  // namespace

PartEntries& PartTable() {
  static PartEntries table;
  return table;
}

PartEntries MakePartTable() {
  PartEntries table;
  table[kPartHead] = {"head.x", {{0, 0, 34, 3.5f}, {1, 0, 33, 0.5f}, {40, 0, 33, 0.5f}}, {}, {}};
  table[kPartBody] = {"body.x",
                      {{0, 0, 4, 4}, {1, 0, 4, 6}, {40, 0, 4, 6}},
                      {},
                      {{0, 1, 0, 0, 0}, {1, 0.9f, 0.1f, 0, 0}, {40, 0.9f, 0.1f, 0, 0}}};
  table[kPartRightArm] = {"armright.x", kRightArmPositions, {}, kRightArmRotations};
  table[kPartLeftArm] = {"armleft.x", kLeftArmPositions, {}, kLeftArmRotations};
  table[kPartRightHand] = {"handright.x", kRightArmPositions, {}, kRightArmRotations};
  table[kPartLeftHand] = {"handleft.x", kLeftArmPositions, {}, kLeftArmRotations};
  table[kPartRightFoot] = {"footright.x",
                           {{0, -6, 9, 0}},
                           {},
                           {{0, 1, 0, 0, 0},
                            {1, 0.9f, 0.4358f, 0, 0},
                            {11, 1, 0, 0, 0},
                            {21, 0.9f, -0.4358f, 0, 0},
                            {31, 1, 0, 0, 0},
                            {41, 0.9f, 0.4358f, 0, 0}}};
  table[kPartLeftFoot] = {"footleft.x",
                          {{0, 6, 9, 0}},
                          {},
                          {{0, 1, 0, 0, 0},
                           {1, 0.9f, -0.4358f, 0, 0},
                           {11, 1, 0, 0, 0},
                           {21, 0.9f, 0.4358f, 0, 0},
                           {31, 1, 0, 0, 0},
                           {41, 0.9f, -0.4358f, 0, 0}}};
  return table;
}

void BuildPartTable() { PartTable() = MakePartTable(); }

Part CreatePart(engine::Scene& scene, const PartEntry& entry) {
  Part part;
  part.frame = scene.CreateFrame();
  part.mesh = std::make_shared<engine::MeshBuilder>();
  scene.LoadMesh(entry.mesh_file, *part.mesh);  // a missing part stays empty and invisible
  part.mesh->SetPerspective(true);
  part.frame->AddVisual(part.mesh);
  part.animation = std::make_shared<engine::Animation>();
  part.animation->SetOptions(engine::kAnimationLinearPosition | engine::kAnimationScaleAndRotation |
                             engine::kAnimationPosition);
  part.animation->SetFrame(part.frame);
  for (const VectorKey& key : entry.position_keys) {
    part.animation->AddPositionKey(key.time, {key.x, key.y, key.z});
  }
  for (const VectorKey& key : entry.scale_keys) {
    part.animation->AddScaleKey(key.time, {key.x, key.y, key.z});
  }
  for (const RotationKey& key : entry.rotation_keys) {
    part.animation->AddRotateKey(key.time, key.s, key.vx, key.vy, key.vz);
  }
  return part;
}

AvatarParts AssembleAvatar(engine::Scene& scene, const PartEntries& table) {
  AvatarParts avatar;
  avatar.frame = scene.CreateFrame();
  avatar.anim_set = std::make_shared<engine::AnimationSet>();
  for (int i = 0; i < kPartCount; ++i) {
    avatar.parts[i] = CreatePart(scene, table[i]);
    avatar.frame->AddChild(avatar.parts[i].frame);
    avatar.anim_set->AddAnimation(avatar.parts[i].animation);
  }
  avatar.anim_set->SetTime(0);
  return avatar;
}

void UpdateAnimState(bool jumping, bool moving, bool second_leg, int32_t& anim_state,
                     int32_t& anim_time) {
  if (jumping && anim_state != kAnimAirborne) {
    anim_state = kAnimAirborne;
    anim_time = 40;
  }
  if (moving) {
    if (!jumping) {
      if (anim_state == kAnimStanding) anim_time = second_leg ? 20 : 0;
      anim_state = kAnimWalking;
    }
  } else if (!jumping) {
    anim_state = kAnimStanding;
  }
}

int32_t NextAnimTime(int32_t anim_state, int32_t anim_time, int32_t walk_ticks) {
  switch (anim_state) {
    case kAnimStanding:
      return 0;
    case kAnimWalking: {
      const int32_t next = anim_time + (walk_ticks >= kRunWalkTicks ? 3 : 2);
      return next >= 40 ? 1 : next;
    }
    default:
      return anim_time;
  }
}

void AnimationTicker(int32_t anim_state, int32_t walk_ticks, int32_t& anim_time,
                     engine::AnimationSet* anim_set) {
  anim_time = NextAnimTime(anim_state, anim_time, walk_ticks);
  if (anim_set) anim_set->SetTime(static_cast<float>(anim_time));
}

}  // namespace tarvo::client
