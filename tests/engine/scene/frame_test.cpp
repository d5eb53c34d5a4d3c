#include "engine/scene/frame.h"

#include <gtest/gtest.h>

#include <cmath>
#include <glm/geometric.hpp>
#include <string>
#include <vector>

#include "engine/scene/scene.h"
#include "engine/test_util.h"

namespace tarvo::engine {
namespace {

using testing::Near;

// A parent at (10, 0, 0) whose z axis points along world +x (its x axis is then world -z).
struct RotatedParent : ::testing::Test {
  Scene scene;
  std::shared_ptr<Frame> parent = scene.CreateFrame();
  std::shared_ptr<Frame> child = scene.CreateFrame(parent.get());

  void SetUp() override {
    parent->SetPosition(&scene.root(), {10, 0, 0});
    parent->SetOrientation(&scene.root(), {1, 0, 0}, {0, 1, 0});
  }
};

TEST_F(RotatedParent, PositionsConvertBetweenFrames) {
  child->SetPosition(&scene.root(), {10, 0, 5});
  EXPECT_TRUE(Near(child->GetPosition(&scene.root()), {10, 0, 5}));
  EXPECT_TRUE(Near(child->GetPosition(parent.get()), {-5, 0, 0}));
  EXPECT_TRUE(Near(child->local_position(), {-5, 0, 0}));

  child->SetPosition(parent.get(), {0, 2, 3});
  EXPECT_TRUE(Near(child->GetPosition(&scene.root()), {13, 2, 0}));
  // The scene given as reference and no reference (the world) agree for frames in the scene.
  EXPECT_TRUE(Near(child->GetPosition(nullptr), {13, 2, 0}));
  // A frame's position relative to itself is its origin.
  EXPECT_TRUE(Near(child->GetPosition(child.get()), {0, 0, 0}));
}

TEST_F(RotatedParent, OrientationsConvertAndKeepThePosition) {
  child->SetPosition(&scene.root(), {10, 0, 5});
  child->SetOrientation(&scene.root(), {0, 0, -2}, {0, 1, 0});
  Orientation in_scene = child->GetOrientation(&scene.root());
  EXPECT_TRUE(Near(in_scene.direction, {0, 0, -1}));
  EXPECT_TRUE(Near(in_scene.up, {0, 1, 0}));
  EXPECT_TRUE(Near(child->GetOrientation(parent.get()).direction, {1, 0, 0}));
  EXPECT_TRUE(Near(child->GetPosition(&scene.root()), {10, 0, 5}));

  // An up vector that is not perpendicular is straightened; a degenerate request is ignored.
  child->SetOrientation(&scene.root(), {1, 0, 0}, {1, 1, 0});
  EXPECT_TRUE(Near(child->GetOrientation(&scene.root()).up, {0, 1, 0}));
  child->SetOrientation(&scene.root(), {0, 1, 0}, {0, 1, 0});
  EXPECT_TRUE(Near(child->GetOrientation(&scene.root()).direction, {1, 0, 0}));
}

TEST_F(RotatedParent, ChildFollowsWhenTheParentTurns) {
  child->SetPosition(parent.get(), {0, 0, 4});
  EXPECT_TRUE(Near(child->GetPosition(&scene.root()), {14, 0, 0}));
  parent->SetOrientation(&scene.root(), {0, 0, 1}, {0, 1, 0});
  EXPECT_TRUE(Near(child->GetPosition(&scene.root()), {10, 0, 4}));
}

TEST(FrameAngle, OrientationFromAnAngleGivesItBack) {
  // The avatar is oriented by (cos a, 0, sin a); the facing angle is read back with arccos.
  Scene scene;
  auto avatar = scene.CreateFrame();
  for (float degrees : {10.0f, 30.0f, 135.0f, 200.0f, 300.0f}) {
    const float a = degrees * 3.14159265f / 180.0f;
    avatar->SetOrientation(&scene.root(), {std::cos(a), 0, std::sin(a)}, {0, 1, 0});
    const glm::vec3 d = avatar->GetOrientation(&scene.root()).direction;
    float angle = std::acos(d.x) * 180.0f / 3.14159265f;
    if (d.z < 0) angle = 360.0f - angle;
    EXPECT_NEAR(angle, degrees, 1e-2f);
  }
}

TEST(FrameLookAt, ZConstraintKeepsTheFrameUpright) {
  Scene scene;
  auto avatar = scene.CreateFrame();
  avatar->SetPosition(&scene.root(), {30, 0, 40});
  auto& camera = *scene.camera();
  camera.SetPosition(&scene.root(), {30, 80, -60});
  camera.LookAt(*avatar, &scene.root(), LookAtConstraint::kZ);

  const Orientation o = camera.GetOrientation(&scene.root());
  EXPECT_TRUE(Near(o.direction, glm::normalize(glm::vec3(0, -80, 100))));
  EXPECT_GT(o.up.y, 0.0f);
  EXPECT_NEAR(glm::dot(o.up, o.direction), 0.0f, 1e-5f);
  // No roll: the camera's x axis stays horizontal.
  const glm::mat4 world = camera.WorldMatrix();
  EXPECT_NEAR(world[0].y, 0.0f, 1e-5f);
  // The avatar lies straight ahead in the camera's own coordinates.
  const glm::vec3 seen = avatar->GetPosition(&camera);
  EXPECT_NEAR(seen.x, 0.0f, 1e-3f);
  EXPECT_NEAR(seen.y, 0.0f, 1e-3f);
  EXPECT_NEAR(seen.z, glm::length(glm::vec3(0, 80, 100)), 1e-3f);
}

TEST(FrameLookAt, TargetStraightBelowKeepsTheOldUp) {
  Scene scene;
  auto target = scene.CreateFrame();
  auto& camera = *scene.camera();
  camera.SetPosition(&scene.root(), {0, 50, 0});
  camera.SetOrientation(&scene.root(), {0, 0, 1}, {0, 1, 0});
  camera.LookAt(*target, &scene.root(), LookAtConstraint::kZ);
  EXPECT_TRUE(Near(camera.GetOrientation(&scene.root()).direction, {0, 0, 1}));
  // Looking at oneself changes nothing either.
  camera.LookAt(camera, &scene.root(), LookAtConstraint::kZ);
  EXPECT_TRUE(Near(camera.GetOrientation(&scene.root()).direction, {0, 0, 1}));
}

TEST(FrameRotation, AddRotationBeforeTurnsAboutTheFramesOwnAxis) {
  Scene scene;
  auto frame = scene.CreateFrame();
  frame->SetPosition(&scene.root(), {5, 6, 7});
  frame->SetOrientation(&scene.root(), {1, 0, 0}, {0, 1, 0});  // own x axis is world -z
  frame->AddRotation(Combine::kBefore, {1, 0, 0}, -0.15f);
  const Orientation o = frame->GetOrientation(&scene.root());
  // A negative turn about x lifts the view: the direction rises by 0.15 radians.
  EXPECT_TRUE(Near(o.direction, {std::cos(0.15f), std::sin(0.15f), 0}));
  EXPECT_TRUE(Near(frame->GetPosition(&scene.root()), {5, 6, 7}));
}

TEST(FrameRotation, AddRotationAfterAndReplaceMoveThePosition) {
  Scene scene;
  auto frame = scene.CreateFrame();
  frame->SetPosition(&scene.root(), {0, 0, 10});
  // A quarter turn about y, clockwise seen from above: +z goes to +x.
  frame->AddRotation(Combine::kAfter, {0, 1, 0}, 3.14159265f / 2);
  EXPECT_TRUE(Near(frame->GetPosition(&scene.root()), {10, 0, 0}));
  EXPECT_TRUE(Near(frame->GetOrientation(&scene.root()).direction, {1, 0, 0}));
  frame->AddRotation(Combine::kReplace, {0, 1, 0}, 0.0f);
  EXPECT_TRUE(Near(frame->GetPosition(&scene.root()), {0, 0, 0}));
  EXPECT_TRUE(Near(frame->GetOrientation(&scene.root()).direction, {0, 0, 1}));
}

TEST(FrameVelocity, AppliedOncePerTickTimesDelta) {
  Scene scene;
  auto frame = scene.CreateFrame();
  frame->SetVelocity(&scene.root(), {1, 0, 2});
  scene.Tick(1.0);
  scene.Tick(1.0);
  scene.Tick(1.0);
  EXPECT_TRUE(Near(frame->GetPosition(&scene.root()), {3, 0, 6}));
  scene.Tick(0.5);
  EXPECT_TRUE(Near(frame->GetPosition(&scene.root()), {3.5, 0, 7}));
  frame->SetVelocity(&scene.root(), {0, 0, 0});
  scene.Tick(1.0);
  EXPECT_TRUE(Near(frame->GetPosition(&scene.root()), {3.5, 0, 7}));
}

TEST(FrameVelocity, RelativeToItselfUsesItsAxesAtTheTimeOfSetting) {
  Scene scene;
  auto& camera = *scene.camera();
  camera.SetOrientation(&scene.root(), {1, 0, 0}, {0, 1, 0});  // own x axis is world -z
  camera.SetVelocity(&camera, {5, 0, 0});
  EXPECT_TRUE(Near(camera.GetVelocity(&scene.root()), {0, 0, -5}));
  EXPECT_TRUE(Near(camera.GetVelocity(&camera), {5, 0, 0}));
  // Turning afterwards does not turn the velocity already set.
  camera.SetOrientation(&scene.root(), {0, 0, 1}, {0, 1, 0});
  scene.Tick(1.0);
  EXPECT_TRUE(Near(camera.GetPosition(&scene.root()), {0, 0, -5}));
}

TEST(FrameVelocity, ChildVelocityInSceneUnitsUnderARotatedParent) {
  Scene scene;
  auto parent = scene.CreateFrame();
  parent->SetOrientation(&scene.root(), {1, 0, 0}, {0, 1, 0});
  auto child = scene.CreateFrame(parent.get());
  child->SetVelocity(&scene.root(), {0, 0, 3});
  scene.Tick(1.0);
  EXPECT_TRUE(Near(child->GetPosition(&scene.root()), {0, 0, 3}));
}

TEST(FrameVelocity, SpinTurnsTheFrameEachTick) {
  Scene scene;
  auto frame = scene.CreateFrame();
  frame->SetRotation(&scene.root(), {0, 1, 0}, 3.14159265f / 4);
  scene.Tick(1.0);
  scene.Tick(1.0);
  EXPECT_TRUE(Near(frame->GetOrientation(&scene.root()).direction, {1, 0, 0}));
}

struct RecordingRenderer : Renderer {
  std::vector<std::string>* log;
  explicit RecordingRenderer(std::vector<std::string>* l) : log(l) {}
  void Render(Scene&) override { log->push_back("render"); }
};

TEST(FrameCallbacks, RunAfterEveryVelocityThenTheRendererDraws) {
  Scene scene;
  std::vector<std::string> log;
  auto first = scene.CreateFrame();
  auto second = scene.CreateFrame();
  second->SetVelocity(&scene.root(), {1, 0, 0});
  float seen_x = -1;
  double seen_delta = 0;
  first->AddMoveCallback([&](Frame&, double delta) {
    // `second` comes later in the tree, yet its move has already been applied.
    seen_x = second->GetPosition(&scene.root()).x;
    seen_delta = delta;
    log.push_back("first");
  });
  second->AddMoveCallback([&](Frame& frame, double) {
    EXPECT_EQ(&frame, second.get());
    log.push_back("second");
  });
  RecordingRenderer renderer(&log);
  scene.SetRenderer(&renderer);
  scene.Tick(1.0);
  EXPECT_FLOAT_EQ(seen_x, 1.0f);
  EXPECT_DOUBLE_EQ(seen_delta, 1.0);
  EXPECT_EQ(log, (std::vector<std::string>{"first", "second", "render"}));
}

TEST(FrameCallbacks, CallbackMayRemoveItselfOrItsFrame) {
  Scene scene;
  auto frame = scene.CreateFrame();
  int calls = 0;
  int handle = 0;
  handle = frame->AddMoveCallback([&](Frame& f, double) {
    ++calls;
    f.DeleteMoveCallback(handle);
    scene.root().DeleteChild(&f);  // the tick keeps the frame alive until it is done
  });
  std::weak_ptr<Frame> weak = frame;
  frame.reset();
  scene.Tick(1.0);
  scene.Tick(1.0);
  EXPECT_EQ(calls, 1);
  EXPECT_TRUE(weak.expired());
}

TEST(FrameTree, AddChildMovesAndRefusesCycles) {
  Scene scene;
  auto a = scene.CreateFrame();
  auto b = scene.CreateFrame();
  auto c = scene.CreateFrame(a.get());
  c->SetPosition(a.get(), {1, 2, 3});
  b->SetPosition(&scene.root(), {100, 0, 0});
  EXPECT_TRUE(b->AddChild(c));
  EXPECT_EQ(c->parent(), b.get());
  EXPECT_TRUE(a->children().empty());
  // The transform relative to the parent is kept, so the frame moves with its new parent.
  EXPECT_TRUE(Near(c->GetPosition(&scene.root()), {101, 2, 3}));
  EXPECT_FALSE(c->AddChild(b));
  EXPECT_FALSE(c->AddChild(c));
  EXPECT_TRUE(b->DeleteChild(c.get()));
  EXPECT_FALSE(b->DeleteChild(c.get()));
  EXPECT_EQ(c->parent(), nullptr);
  EXPECT_EQ(&c->Root(), c.get());
}

TEST(FrameTree, VisualsAndLightsAreAddedAndDeleted) {
  Scene scene;
  auto frame = scene.CreateFrame();
  auto builder = std::make_shared<MeshBuilder>();
  auto light = std::make_shared<Light>(Light::Type::kPoint, Color{1, 1, 1});
  frame->AddVisual(builder);
  frame->AddLight(light);
  frame->SetPosition(&scene.root(), {0, 60, 0});
  Color ambient;
  auto lights = scene.CollectLights(&ambient);
  ASSERT_EQ(lights.size(), 1u);
  EXPECT_TRUE(Near(lights[0].position, {0, 60, 0}));
  EXPECT_TRUE(frame->DeleteVisual(builder.get()));
  EXPECT_FALSE(frame->DeleteVisual(builder.get()));
  EXPECT_TRUE(frame->DeleteLight(light.get()));
  scene.root().AddLight(std::make_shared<Light>(Light::Type::kAmbient, Color{0.4f, 0.4f, 0.4f}));
  lights = scene.CollectLights(&ambient);
  EXPECT_TRUE(lights.empty());
  EXPECT_FLOAT_EQ(ambient.g, 0.4f);
}

}  // namespace
}  // namespace tarvo::engine
