#include "client/avatar/part_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "engine/io/file_loader.h"

namespace tarvo::client {
namespace {

std::vector<float> Times(const std::vector<VectorKey>& keys) {
  std::vector<float> times;
  for (const auto& key : keys) times.push_back(key.time);
  return times;
}

std::vector<float> Times(const std::vector<RotationKey>& keys) {
  std::vector<float> times;
  for (const auto& key : keys) times.push_back(key.time);
  return times;
}

TEST(PartTableValues, MeshesAndKeyTimesInPartOrder) {
  const PartEntries table = MakePartTable();
  const char* meshes[] = {"head.x",      "body.x",     "armright.x",  "armleft.x",
                          "handright.x", "handleft.x", "footright.x", "footleft.x"};
  const std::vector<float> swing = {0, 1, 11, 21, 31, 41};
  for (int i = 0; i < kPartCount; ++i) {
    EXPECT_EQ(table[i].mesh_file, meshes[i]);
    EXPECT_TRUE(table[i].scale_keys.empty());
  }
  EXPECT_EQ(Times(table[kPartHead].position_keys), (std::vector<float>{0, 1, 40}));
  EXPECT_TRUE(table[kPartHead].rotation_keys.empty());
  EXPECT_EQ(Times(table[kPartBody].rotation_keys), (std::vector<float>{0, 1, 40}));
  for (int part : {kPartRightArm, kPartLeftArm}) {
    EXPECT_EQ(Times(table[part].position_keys), swing);
    EXPECT_EQ(Times(table[part].rotation_keys), swing);
  }
  for (int part : {kPartRightFoot, kPartLeftFoot}) {
    EXPECT_EQ(Times(table[part].position_keys), (std::vector<float>{0}));
    EXPECT_EQ(Times(table[part].rotation_keys), swing);
  }
}

TEST(PartTableValues, StandingAndWalkingKeys) {
  const PartEntries table = MakePartTable();
  const auto& head = table[kPartHead].position_keys;
  EXPECT_FLOAT_EQ(head[0].y, 34);
  EXPECT_FLOAT_EQ(head[0].z, 3.5f);
  EXPECT_FLOAT_EQ(head[1].z, 0.5f);
  const auto& body = table[kPartBody].rotation_keys[1];
  EXPECT_FLOAT_EQ(body.s, 0.9f);
  EXPECT_FLOAT_EQ(body.vx, 0.1f);
  const auto& right_arm = table[kPartRightArm];
  EXPECT_FLOAT_EQ(right_arm.position_keys[0].x, -6.8f);
  EXPECT_FLOAT_EQ(right_arm.rotation_keys[1].vy, 0.5916f);
  EXPECT_FLOAT_EQ(right_arm.rotation_keys[1].vz, 0.1f);
  EXPECT_FLOAT_EQ(right_arm.rotation_keys[3].vy, -0.4358f);
  const auto& left_arm = table[kPartLeftArm];
  EXPECT_FLOAT_EQ(left_arm.position_keys[3].x, 6);
  EXPECT_FLOAT_EQ(left_arm.rotation_keys[3].s, 0.8f);
  EXPECT_FLOAT_EQ(left_arm.rotation_keys[3].vy, -0.5916f);
  // The last swing key repeats the first walking key.
  for (int part : {kPartRightArm, kPartLeftArm, kPartRightFoot, kPartLeftFoot}) {
    const auto& r = table[part].rotation_keys;
    EXPECT_EQ(r[1].s, r[5].s);
    EXPECT_EQ(r[1].vx, r[5].vx);
    EXPECT_EQ(r[1].vy, r[5].vy);
  }
  // Hands move exactly like the arm of their side; the feet swing in opposition.
  for (auto [hand, arm] :
       {std::pair{kPartRightHand, kPartRightArm}, {kPartLeftHand, kPartLeftArm}}) {
    ASSERT_EQ(table[hand].position_keys.size(), table[arm].position_keys.size());
    for (size_t k = 0; k < table[arm].position_keys.size(); ++k) {
      EXPECT_EQ(table[hand].position_keys[k].x, table[arm].position_keys[k].x);
      EXPECT_EQ(table[hand].rotation_keys[k].vy, table[arm].rotation_keys[k].vy);
    }
  }
  EXPECT_FLOAT_EQ(table[kPartRightFoot].position_keys[0].x, -6);
  EXPECT_FLOAT_EQ(table[kPartLeftFoot].position_keys[0].y, 9);
  EXPECT_FLOAT_EQ(table[kPartRightFoot].rotation_keys[1].vx, 0.4358f);
  EXPECT_FLOAT_EQ(table[kPartLeftFoot].rotation_keys[1].vx, -0.4358f);
}

TEST(PartTableValues, BuildReplacesWhatTheTableHeld) {
  PartTable()[0].mesh_file = "other.x";
  PartTable()[3].position_keys.clear();
  BuildPartTable();
  EXPECT_EQ(PartTable()[0].mesh_file, "head.x");
  EXPECT_EQ(PartTable()[3].position_keys.size(), 6u);
}

class AvatarFixture : public ::testing::Test {
 protected:
  void SetUp() override { scene.SetLoader(&loader); }

  // The avatar's geometry gathered in the avatar frame's coordinates.
  engine::MeshBuilder Gather(const engine::Frame& frame) {
    engine::MeshBuilder all;
    all.AddFrame(frame);
    return all;
  }

  engine::io::FileLoader loader{{std::string(TARVO_SOURCE_DIR) + "/data/client"}};
  engine::Scene scene;
};

TEST_F(AvatarFixture, CreatePartLoadsTheMeshAndBindsTheAnimation) {
  const PartEntries table = MakePartTable();
  Part part = CreatePart(scene, table[kPartHead]);
  EXPECT_EQ(part.frame->parent(), &scene.root());
  ASSERT_EQ(part.frame->visuals().size(), 1u);
  EXPECT_EQ(part.frame->visuals()[0], part.mesh);
  EXPECT_GT(part.mesh->FaceCount(), 6u);
  EXPECT_TRUE(part.mesh->perspective());
  EXPECT_EQ(part.animation->frame(), part.frame);
  EXPECT_EQ(part.animation->options(), 0x34u);
  part.animation->SetTime(1);
  EXPECT_FLOAT_EQ(part.frame->local_position().z, 0.5f);
}

TEST_F(AvatarFixture, MissingMeshLeavesAnEmptyPartThatStillAnimates) {
  PartEntry entry = MakePartTable()[kPartBody];
  entry.mesh_file = "no-such-part.x";
  Part part = CreatePart(scene, entry);
  EXPECT_EQ(part.mesh->FaceCount(), 0u);
  EXPECT_TRUE(part.mesh->perspective());
  part.animation->SetTime(1);
  EXPECT_FLOAT_EQ(part.frame->local_position().z, 6);
}

TEST_F(AvatarFixture, StandingFigureIsAboutFortyUnitsTallOnTheFloor) {
  AvatarParts avatar = AssembleAvatar(scene, MakePartTable());
  ASSERT_EQ(avatar.frame->children().size(), 8u);
  EXPECT_EQ(avatar.anim_set->animations().size(), 8u);
  for (int i = 0; i < kPartCount; ++i) {
    EXPECT_EQ(avatar.frame->children()[i], avatar.parts[i].frame);
    EXPECT_GT(avatar.parts[i].mesh->FaceCount(), 0u) << i;
  }
  const engine::MeshBuilder all = Gather(*avatar.frame);
  float low = std::numeric_limits<float>::max(), high = -low;
  for (const auto& p : all.data().positions) {
    low = std::min(low, p.y);
    high = std::max(high, p.y);
  }
  EXPECT_NEAR(low, 0.0f, 0.5f);
  EXPECT_NEAR(high, 40.0f, 2.0f);
  // The head is at 34, the arms hang from the shoulders beside the body.
  EXPECT_FLOAT_EQ(avatar.parts[kPartHead].frame->GetPosition(avatar.frame.get()).y, 34);
  EXPECT_LT(avatar.parts[kPartRightArm].frame->GetPosition(avatar.frame.get()).x, -5);
}

TEST_F(AvatarFixture, WalkingPoseLeansForwardAndHandsFollowArms) {
  AvatarParts avatar = AssembleAvatar(scene, MakePartTable());
  auto& body = *avatar.parts[kPartBody].frame;
  // The top of the torso, in the body's own coordinates.
  const auto top_at = [&](float time) {
    avatar.anim_set->SetTime(time);
    return glm::vec3(body.LocalMatrix() * glm::vec4(0, 26, -4, 1));
  };
  const glm::vec3 standing = top_at(0);
  const glm::vec3 walking = top_at(1);
  EXPECT_LT(walking.z, standing.z - 2);  // forward is -z
  // The torso's top stays under the head, which also moves forward.
  const glm::vec3 head = avatar.parts[kPartHead].frame->local_position() + glm::vec3(0, -4, -3.5f);
  EXPECT_NEAR(walking.z, head.z, 1.5f);
  EXPECT_NEAR(walking.y, head.y, 1.5f);
  for (float time : {0.0f, 6.0f, 15.5f, 21.0f, 33.0f, 40.0f}) {
    avatar.anim_set->SetTime(time);
    const glm::mat4 arm = avatar.parts[kPartLeftArm].frame->LocalMatrix();
    const glm::mat4 hand = avatar.parts[kPartLeftHand].frame->LocalMatrix();
    for (int c = 0; c < 4; ++c) {
      for (int r = 0; r < 4; ++r) EXPECT_NEAR(arm[c][r], hand[c][r], 1e-5f);
    }
  }
}

TEST(WalkCycle, WalkFromStandingBeginsAtTwoOrTwentyTwo) {
  for (auto [second_leg, expected] : {std::pair{false, 2}, {true, 22}}) {
    int32_t state = kAnimStanding, time = 0;
    UpdateAnimState(false, true, second_leg, state, time);
    EXPECT_EQ(state, kAnimWalking);
    AnimationTicker(state, 1, time, nullptr);
    EXPECT_EQ(time, expected);
    // Walking on does not restart the cycle.
    UpdateAnimState(false, true, !second_leg, state, time);
    EXPECT_EQ(time, expected);
  }
}

TEST(WalkCycle, RunningAdvancesByThreeAndWrapsToOne) {
  EXPECT_EQ(NextAnimTime(kAnimWalking, 10, 24), 12);
  EXPECT_EQ(NextAnimTime(kAnimWalking, 10, 25), 13);
  EXPECT_EQ(NextAnimTime(kAnimWalking, 37, 0), 39);
  EXPECT_EQ(NextAnimTime(kAnimWalking, 38, 0), 1);
  EXPECT_EQ(NextAnimTime(kAnimWalking, 36, 25), 39);
  EXPECT_EQ(NextAnimTime(kAnimWalking, 37, 25), 1);
  EXPECT_EQ(NextAnimTime(kAnimWalking, 39, 25), 1);
  // A walk cycle takes 20 ticks.
  int32_t time = 1;
  for (int tick = 0; tick < 20; ++tick) time = NextAnimTime(kAnimWalking, time, 0);
  EXPECT_EQ(time, 1);
}

TEST(WalkCycle, StoppingSnapsToStandingInTheSameTick) {
  int32_t state = kAnimWalking, time = 17;
  UpdateAnimState(false, false, false, state, time);
  EXPECT_EQ(state, kAnimStanding);
  engine::Scene scene;
  engine::AnimationSet set;
  AnimationTicker(state, 25, time, &set);
  EXPECT_EQ(time, 0);
  EXPECT_FLOAT_EQ(set.time(), 0.0f);
}

TEST(WalkCycle, JumpHoldsFortyAndLandingWalksOnFromIt) {
  int32_t state = kAnimWalking, time = 12;
  UpdateAnimState(true, true, false, state, time);
  EXPECT_EQ(state, kAnimAirborne);
  EXPECT_EQ(time, 40);
  for (int tick = 0; tick < 5; ++tick) {
    UpdateAnimState(true, tick % 2 == 0, true, state, time);
    AnimationTicker(state, 25, time, nullptr);
    EXPECT_EQ(time, 40);
  }
  // Landing with a movement key held: walking again, and 40 + 2 wraps to 1.
  UpdateAnimState(false, true, true, state, time);
  EXPECT_EQ(state, kAnimWalking);
  AnimationTicker(state, 0, time, nullptr);
  EXPECT_EQ(time, 1);
}

TEST(WalkCycle, TickerRunsOncePerEngineTickAndPosesTheAvatar) {
  engine::Scene scene;
  AvatarParts avatar = AssembleAvatar(scene, MakePartTable());
  int32_t state = kAnimWalking, time = 0, walk_ticks = 0;
  avatar.frame->AddMoveCallback([&](engine::Frame&, double) {
    AnimationTicker(state, walk_ticks, time, avatar.anim_set.get());
  });
  scene.Tick(1.0);
  scene.Tick(1.0);
  EXPECT_EQ(time, 4);
  EXPECT_FLOAT_EQ(avatar.anim_set->time(), 4.0f);
  EXPECT_NE(avatar.parts[kPartRightFoot].frame->local_rotation().w, 1.0f);
}

}  // namespace
}  // namespace tarvo::client
