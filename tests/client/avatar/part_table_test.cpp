#include "client/avatar/part_table.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>

#include "engine/io/file_loader.h"

namespace tarvo::client {
namespace {

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

// The swing ends where it began, so the cycle repeats without a jump, and the feet swing against
// each other.
TEST_F(AvatarFixture, WalkCycleIsSeamlessAndLimbsSwingInOpposition) {
  AvatarParts avatar = AssembleAvatar(scene, MakePartTable());
  const auto pose = [&](int part, float time) {
    avatar.anim_set->SetTime(time);
    return avatar.parts[part].frame->LocalMatrix();
  };
  // The turn about the sideways axis, from the limb's forward direction.
  const auto pitch = [&](int part, float time) { return pose(part, time)[1][2]; };
  for (int part = 0; part < kPartCount; ++part) {
    const glm::mat4 start = pose(part, 1), end = pose(part, 41);
    for (int c = 0; c < 4; ++c) {
      for (int r = 0; r < 4; ++r) EXPECT_NEAR(start[c][r], end[c][r], 1e-5f) << part;
    }
  }
  for (float time : {1.0f, 6.0f, 21.0f, 26.0f}) {
    EXPECT_NEAR(pitch(kPartRightFoot, time), -pitch(kPartLeftFoot, time), 1e-4f) << time;
    EXPECT_NE(pitch(kPartRightFoot, time), 0.0f) << time;
  }
  EXPECT_LT(pitch(kPartRightFoot, 1) * pitch(kPartRightFoot, 21), 0.0f) << "a foot swings back";
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
