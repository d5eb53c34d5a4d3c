#include "engine/scene/animation.h"

#include <gtest/gtest.h>

#include <cmath>
#include <glm/geometric.hpp>

#include "engine/scene/scene.h"
#include "engine/test_util.h"

namespace tarvo::engine {
namespace {

using testing::Near;

struct AnimationFixture : ::testing::Test {
  Scene scene;
  std::shared_ptr<Frame> frame = scene.CreateFrame();
  std::shared_ptr<Animation> animation = std::make_shared<Animation>();

  void SetUp() override {
    animation->SetOptions(kAnimationLinearPosition | kAnimationScaleAndRotation |
                          kAnimationPosition);
    animation->SetFrame(frame);
  }
};

TEST_F(AnimationFixture, PositionsAtKeysBetweenKeysAndOutside) {
  animation->AddPositionKey(0, {0, 34, 3.5f});
  animation->AddPositionKey(1, {0, 33, 0.5f});
  animation->AddPositionKey(40, {0, 33, 0.5f});
  animation->SetTime(0);
  EXPECT_TRUE(Near(frame->local_position(), {0, 34, 3.5f}));
  animation->SetTime(0.5f);
  EXPECT_TRUE(Near(frame->local_position(), {0, 33.5f, 2.0f}));
  animation->SetTime(20);
  EXPECT_TRUE(Near(frame->local_position(), {0, 33, 0.5f}));
  animation->SetTime(-3);
  EXPECT_TRUE(Near(frame->local_position(), {0, 34, 3.5f}));
  animation->SetTime(41);
  EXPECT_TRUE(Near(frame->local_position(), {0, 33, 0.5f}));
}

TEST_F(AnimationFixture, KeysAddedOutOfOrderAreSortedByTime) {
  animation->AddPositionKey(10, {10, 0, 0});
  animation->AddPositionKey(0, {0, 0, 0});
  animation->SetTime(5);
  EXPECT_TRUE(Near(frame->local_position(), {5, 0, 0}));
}

TEST_F(AnimationFixture, RotationKeysAreNormalizedAndTheBodyLeansForward) {
  animation->AddRotateKey(0, 1, 0, 0, 0);
  animation->AddRotateKey(1, 0.9f, 0.1f, 0, 0);  // not of unit length
  animation->SetTime(1);
  const glm::quat q = frame->local_rotation();
  EXPECT_NEAR(glm::length(q), 1.0f, 1e-5f);
  const float angle = 2.0f * std::atan2(0.1f, 0.9f);
  // The body's top (+y) tips towards -z, the way the avatar walks.
  EXPECT_TRUE(
      Near(frame->GetOrientation(frame->parent()).up, {0, std::cos(angle), -std::sin(angle)}));
  // Halfway between the keys the turn is half the angle (spherical interpolation).
  animation->SetTime(0.5f);
  EXPECT_TRUE(Near(frame->GetOrientation(frame->parent()).up,
                   {0, std::cos(angle / 2), -std::sin(angle / 2)}));
}

TEST_F(AnimationFixture, FrameWithoutRotationKeysKeepsItsRotation) {
  frame->SetOrientation(&scene.root(), {1, 0, 0}, {0, 1, 0});
  animation->AddPositionKey(0, {1, 2, 3});
  animation->SetTime(0);
  EXPECT_TRUE(Near(frame->GetOrientation(&scene.root()).direction, {1, 0, 0}));
  EXPECT_TRUE(Near(frame->local_position(), {1, 2, 3}));
}

TEST_F(AnimationFixture, OptionsChooseWhichKeysApply) {
  animation->AddPositionKey(0, {1, 2, 3});
  animation->AddRotateKey(0, 0.8f, 0, 0.5916f, 0.1f);
  animation->AddScaleKey(0, {2, 2, 2});
  animation->SetOptions(kAnimationLinearPosition | kAnimationScaleAndRotation);
  animation->SetTime(0);
  EXPECT_TRUE(Near(frame->local_position(), {0, 0, 0}));
  EXPECT_TRUE(Near(frame->local_scale(), {2, 2, 2}));
  animation->SetOptions(kAnimationPosition);
  frame->SetLocalRotation(glm::quat(1, 0, 0, 0));
  animation->SetTime(0);
  EXPECT_TRUE(Near(frame->local_position(), {1, 2, 3}));
  EXPECT_NEAR(frame->local_rotation().w, 1.0f, 1e-6f);
}

TEST_F(AnimationFixture, ClosedAnimationWrapsAround) {
  animation->SetOptions(kAnimationClosed | kAnimationLinearPosition | kAnimationPosition);
  animation->AddPositionKey(0, {0, 0, 0});
  animation->AddPositionKey(10, {10, 0, 0});
  animation->SetTime(13);
  EXPECT_TRUE(Near(frame->local_position(), {3, 0, 0}));
}

TEST(AnimationSetTest, OneTimePosesEveryBoundFrame) {
  Scene scene;
  AnimationSet set;
  std::vector<std::shared_ptr<Frame>> frames;
  for (int i = 0; i < 3; ++i) {
    auto frame = scene.CreateFrame();
    auto animation = std::make_shared<Animation>();
    animation->SetFrame(frame);
    animation->AddPositionKey(0, {0, 0, 0});
    animation->AddPositionKey(10, {static_cast<float>(i + 1), 0, 0});
    set.AddAnimation(animation);
    frames.push_back(frame);
  }
  set.SetTime(5);
  EXPECT_FLOAT_EQ(set.time(), 5.0f);
  for (int i = 0; i < 3; ++i) {
    EXPECT_FLOAT_EQ(frames[i]->local_position().x, (i + 1) * 0.5f);
  }
  // An animation whose frame is gone is skipped.
  scene.root().DeleteChild(frames[0].get());
  frames[0].reset();
  set.SetTime(10);
  EXPECT_FLOAT_EQ(frames[2]->local_position().x, 3.0f);
  EXPECT_TRUE(set.DeleteAnimation(set.animations()[0].get()));
  EXPECT_EQ(set.animations().size(), 2u);
}

}  // namespace
}  // namespace tarvo::engine
