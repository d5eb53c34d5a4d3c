#include "client/game/game_world.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <glm/geometric.hpp>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "engine/io/file_loader.h"

namespace tarvo::client {
namespace {

using engine::MeshData;

// Serves meshes built by the test under file names; the bundled files for everything else.
class TestLoader : public engine::Loader {
 public:
  TestLoader() : files_({TARVO_SOURCE_DIR "/data/client"}) {}
  void Add(const std::string& name, MeshData mesh) { meshes_[name] = std::move(mesh); }
  bool LoadMesh(const std::string& file, engine::MeshBuilder& builder) override {
    if (auto it = meshes_.find(file); it != meshes_.end()) {
      builder.SetData(it->second);
      return true;
    }
    return files_.LoadMesh(file, builder);
  }
  std::shared_ptr<engine::Texture> LoadTexture(const std::string& file) override {
    return files_.LoadTexture(file);
  }

 private:
  engine::io::FileLoader files_;
  std::map<std::string, MeshData> meshes_;
};

// A square of floor at height y, seen from above.
void AddFloor(MeshData& mesh, float half, float y) {
  const uint32_t a = mesh.AddVertex({-half, y, -half}), b = mesh.AddVertex({-half, y, half}),
                 c = mesh.AddVertex({half, y, half}), d = mesh.AddVertex({half, y, -half});
  mesh.AddFace({a, b, c, d}, {});
}

struct World {
  explicit World(const std::string& level, GameWorldOptions options = {}) : game(&loader, options) {
    game.SetRandomSource([] { return false; });
    game.LocalPlayer().LevelFile = level;
  }
  void Start() { game.Initialize(); }
  // Puts the local player at (x, y, z) facing `angle`; the camera goes behind it.
  void Place(double x, double y, double z, double angle) {
    TPlayer& me = game.LocalPlayer();
    me.X = x, me.Y = y, me.Z = z, me.Angle = angle;
    game.PlaceAvatar(me, true);
  }
  engine::Frame& Avatar() { return *GameWorld::Objects(game.LocalPlayer())->frame; }
  glm::vec3 Position() { return Avatar().GetPosition(&game.scene().root()); }
  glm::vec3 Velocity() { return Avatar().GetVelocity(&game.scene().root()); }
  void Ticks(int n) {
    for (int i = 0; i < n; ++i) game.Tick();
  }
  TestLoader loader;
  GameWorld game;
};

float Horizontal(glm::vec3 v) { return std::hypot(v.x, v.z); }

MeshData Flat(float ceiling = 0) {
  MeshData mesh;
  AddFloor(mesh, 2000, 0);
  if (ceiling > 0) {
    const uint32_t a = mesh.AddVertex({-2000, ceiling, -2000}),
                   b = mesh.AddVertex({2000, ceiling, -2000}),
                   c = mesh.AddVertex({2000, ceiling, 2000}),
                   d = mesh.AddVertex({-2000, ceiling, 2000});
    mesh.AddFace({a, b, c, d}, {});  // seen from below
  }
  return mesh;
}

// The vertical speeds of a jump, tick by tick, with keypad 5 held for `held` ticks.
std::vector<float> JumpSpeeds(World& w, int held, int ticks) {
  std::vector<float> speeds;
  w.game.input().Press(GameKey::kPad5);
  for (int i = 0; i < ticks; ++i) {
    if (i == held) w.game.input().Release(GameKey::kPad5);
    w.game.Tick();
    speeds.push_back(w.Velocity().y);
  }
  return speeds;
}

TEST(Movement, WalkingAndRunningSpeeds) {
  World w("flat.x");
  w.loader.Add("flat.x", Flat());
  w.Start();
  w.game.input().Press(GameKey::kPad8);
  w.game.input().Press(GameKey::kPad6);
  w.Ticks(1);
  EXPECT_NEAR(Horizontal(w.Velocity()), 8 * std::sqrt(2.0f), 0.01);
  w.Ticks(24);
  EXPECT_EQ(w.game.LocalPlayer().WalkTicks, 25);
  EXPECT_NEAR(Horizontal(w.Velocity()), 12 * std::sqrt(2.0f), 0.01);
}

TEST(Movement, BackKeyKeepsTheDirectionItStartedWith) {
  World w("flat.x");
  w.loader.Add("flat.x", Flat());
  w.Start();
  w.Place(0, 0, 0, 30);
  w.game.input().Press(GameKey::kPad2);
  w.Ticks(1);
  const glm::vec3 first = glm::normalize(w.Velocity() * glm::vec3(1, 0, 1));
  const glm::vec3 camera = w.game.CameraPos;
  w.Ticks(40);
  EXPECT_GT(glm::length(w.game.CameraPos - camera), 10.0f);  // the camera swung
  EXPECT_NEAR(glm::dot(glm::normalize(w.Velocity() * glm::vec3(1, 0, 1)), first), 1.0f, 1e-5);
}

TEST(Movement, WithoutFloorTheHeightStaysAndTheBobLifts) {
  World w("nothing-here.x");
  w.Start();
  EXPECT_TRUE(w.game.Faces().empty());
  w.game.input().Press(GameKey::kPad8);
  float y = w.Position().y;
  for (int i = 0; i < 30; ++i) {
    w.game.Tick();
    EXPECT_GE(w.Position().y, y);
    EXPECT_FALSE(w.game.LocalPlayer().Jumping);
    y = w.Position().y;
  }
  EXPECT_GT(y, 10.0f);
}

TEST(Movement, FourThousandIsOutside) {
  for (auto [x, angle, vx] : {std::tuple{3992.0, 180.0, 0.0f}, std::tuple{3991.5, 180.0, 8.0f},
                              std::tuple{-3992.0, 0.0, -8.0f}}) {
    World w("nothing-here.x");
    w.Start();
    w.Place(x, 0, 0, angle);
    w.game.input().Press(GameKey::kPad8);
    w.Ticks(1);
    EXPECT_NEAR(w.Velocity().x, vx, 1e-3) << x;
    EXPECT_GT(w.Velocity().y, 0.0f) << "the bob stays";
  }
}

TEST(Movement, LowestJumpAndCeiling) {
  World low("nothing-here.x");
  low.Start();
  EXPECT_EQ(JumpSpeeds(low, 1, 8), (std::vector<float>{10, -3, -6, -8, -9, -10, -10, -10}));

  World full("nothing-here.x");
  full.Start();
  EXPECT_EQ(JumpSpeeds(full, 20, 9), (std::vector<float>{10, 10, 9, 8, 6, 3, 1, -1, -3}));

  World bump("low-ceiling.x");
  bump.loader.Add("low-ceiling.x", Flat(50));
  bump.Start();
  // The head probe (35 up) would pass 47 in the second tick: pushed back to 3 below the
  // ceiling, and the fall begins.
  const std::vector<float> speeds = JumpSpeeds(bump, 20, 3);
  EXPECT_EQ(speeds[0], 10);
  EXPECT_EQ(speeds[1], 2);
  EXPECT_EQ(speeds[2], -3);
}

TEST(Movement, ANewJumpNeedsTheKeyAgain) {
  World w("flat.x");
  w.loader.Add("flat.x", Flat());
  w.Start();
  JumpSpeeds(w, 100, 40);  // held through the landing
  TPlayer& me = w.game.LocalPlayer();
  EXPECT_FALSE(me.Jumping);
  EXPECT_NEAR(w.Position().y, 0, 1e-3);
  w.game.input().Release(GameKey::kPad5);
  w.Ticks(1);
  EXPECT_FALSE(me.Jumping);
  w.game.input().Press(GameKey::kPad5);
  w.Ticks(1);
  EXPECT_TRUE(me.Jumping);
  EXPECT_EQ(w.Velocity().y, 10);
}

TEST(Movement, AFloorFarBelowDoesNotPullTheAvatarThroughItsOwn) {
  // The lower floor comes last in the mesh, so it is examined first.
  MeshData bridge;
  AddFloor(bridge, 2000, 0);
  AddFloor(bridge, 2000, -200);
  World w("bridge.x");
  w.loader.Add("bridge.x", std::move(bridge));
  w.Start();
  w.game.input().Press(GameKey::kPad8);
  w.Ticks(20);
  EXPECT_FALSE(w.game.LocalPlayer().Jumping);
  EXPECT_GT(w.Position().y, -1.0f);
  EXPECT_EQ(w.game.LocalShadowPlane().point.y, 0.0f);
}

TEST(Movement, KeypadZeroFreezesTheCameraAlsoWhileTyping) {
  World w("flat.x");
  w.loader.Add("flat.x", Flat());
  w.Start();
  w.game.SetChatMode(true);
  w.game.input().Press(GameKey::kPad8);
  w.game.input().Press(GameKey::kPad0);
  w.Ticks(2);
  EXPECT_TRUE(w.game.LocalPlayer().CameraFrozen);
  EXPECT_EQ(Horizontal(w.Velocity()), 0.0f) << "movement keys do not count while typing";
  w.game.input().Release(GameKey::kPad0);
  w.game.SetChatMode(false);
  // Frozen: the camera neither moves nor turns while the avatar walks away.
  engine::Frame& camera = *w.game.scene().camera();
  const glm::vec3 place = camera.GetPosition(nullptr);
  const glm::vec3 look = camera.GetOrientation(nullptr).direction;
  w.Ticks(20);
  EXPECT_EQ(camera.GetPosition(nullptr), place);
  EXPECT_EQ(camera.GetOrientation(nullptr).direction, look);
  EXPECT_GT(Horizontal(w.Position()), 100.0f);
  w.game.input().Press(GameKey::kPad0);
  w.Ticks(1);
  EXPECT_FALSE(w.game.LocalPlayer().CameraFrozen);
}

// The bundled level: walls at +-600 (120 high), a step 15 high over x -300..-150 and z
// 150..300, a platform 45 high over x 150..330 and z 350..520.
TEST(BundledLevel, WallStopsTheForwardProbeThreeUnitsInFront) {
  World w("level1.x");
  w.Start();
  w.Place(0, 0, 450, 270);  // ahead is +z
  w.game.input().Press(GameKey::kPad8);
  w.Ticks(40);
  // The ground probe 5 units ahead stops 3 units in front of the face at z = 600.
  EXPECT_NEAR(w.Position().z, 592, 1e-3);
  EXPECT_NEAR(w.Position().x, 0, 1e-3);
}

TEST(BundledLevel, StepIsClimbedAndLedgeFallsAndLands) {
  World step("level1.x");
  step.Start();
  step.Place(-225, 0, 50, 270);
  step.game.input().Press(GameKey::kPad8);
  step.Ticks(25);
  EXPECT_GT(step.Position().z, 200);
  EXPECT_GE(step.Position().y, 15 - 1e-3);

  World ledge("level1.x");
  ledge.Start();
  ledge.Place(300, 45, 435, 180);  // ahead is +x, off the platform's edge at 330
  ledge.game.input().Press(GameKey::kPad8);
  bool fell = false;
  for (int i = 0; i < 30; ++i) {
    ledge.game.Tick();
    fell = fell || ledge.game.LocalPlayer().Jumping;
  }
  EXPECT_TRUE(fell);
  EXPECT_FALSE(ledge.game.LocalPlayer().Jumping);
  EXPECT_LT(ledge.Position().y, 3.5);  // on the floor, give or take the bob
  EXPECT_EQ(ledge.game.LocalShadowPlane().normal, glm::vec3(0, 1, 0));
}

TEST(BundledLevel, HighAboveTheFloorFallsAndLands) {
  World w("level1.x");
  w.Start();
  w.Place(0, 300, 0, 0);
  w.Ticks(1);
  EXPECT_TRUE(w.game.LocalPlayer().Jumping);
  EXPECT_FALSE(w.game.LocalPlayer().Rising);
  w.Ticks(40);
  EXPECT_FALSE(w.game.LocalPlayer().Jumping);
  EXPECT_NEAR(w.Position().y, 0, 1e-3);
}

TEST(Collision, PointInPolygonBothWindingsEdgesAndEdgeOn) {
  const std::vector<glm::vec2> square = {{0, 0}, {0, 10}, {10, 10}, {10, 0}};
  const std::vector<glm::vec2> reversed(square.rbegin(), square.rend());
  for (const auto& poly : {square, reversed}) {
    EXPECT_TRUE(PointInPolygon(poly, {5, 5}));
    EXPECT_TRUE(PointInPolygon(poly, {10, 5}));  // on an edge
    EXPECT_TRUE(PointInPolygon(poly, {0, 0}));   // on a corner
    EXPECT_FALSE(PointInPolygon(poly, {10.01f, 5}));
    EXPECT_FALSE(PointInPolygon(poly, {-5, 5}));
  }
  // A wall seen from above is a line: only points on it count.
  const std::vector<glm::vec2> edge_on = {{0, 5}, {0, 5}, {10, 5}, {10, 5}};
  EXPECT_TRUE(PointInPolygon(edge_on, {3, 5}));
  EXPECT_FALSE(PointInPolygon(edge_on, {3, 6}));
}

TEST(Camera, ClosesInBacksOffAndSwingsBehind) {
  World w("flat.x");
  w.loader.Add("flat.x", Flat());
  w.Start();
  w.Place(0, 0, 0, 0);  // behind the avatar is +x
  engine::Frame& camera = *w.game.scene().camera();
  auto distance_after_tick = [&](glm::vec3 at) {
    camera.SetPosition(nullptr, at);
    w.game.FollowCamera();
    w.game.scene().Tick(1.0);
    return glm::length(camera.GetPosition(nullptr) - w.Position());
  };
  EXPECT_LT(distance_after_tick({400, 80, 0}), 400 * 1.0f);
  EXPECT_GT(distance_after_tick({100, 80, 0}), 100 * 1.0f);
  // Beside the avatar: the camera swings round towards behind it.
  camera.SetPosition(nullptr, {0, 80, 220});
  for (int i = 0; i < 200; ++i) {
    w.game.FollowCamera();
    w.game.scene().Tick(1.0);
  }
  const glm::vec3 behind =
      camera.GetPosition(GameWorld::Objects(w.game.LocalPlayer())->frame.get());
  EXPECT_LE(std::fabs(behind.x), 5.0f);
  EXPECT_GT(behind.z, 0.0f);
  w.game.FollowCamera();
  EXPECT_EQ(w.game.CameraPos, camera.GetPosition(&w.game.scene().root()));
}

TEST(Camera, ExactlyAtTheDistanceKeepsThePreviousVelocity) {
  World w("flat.x");
  w.loader.Add("flat.x", Flat());
  w.Start();
  engine::Frame& avatar = w.Avatar();
  avatar.SetPosition(nullptr, {0, 0, 0});
  avatar.SetOrientation(nullptr, {0, 0, 1}, {0, 1, 0});
  engine::Frame& camera = *w.game.scene().camera();
  camera.SetPosition(nullptr, {0, 0, GameWorld::kCameraDistance});
  camera.SetVelocity(nullptr, {1, 2, 3});
  w.game.FollowCamera();
  EXPECT_EQ(camera.GetVelocity(nullptr), glm::vec3(1, 2, 3));
}

// Counts what the engine side does to a label.
class CountingLabels : public LabelMaker {
 public:
  struct Label : NameLabel {
    explicit Label(CountingLabels& owner) : owner(owner) {}
    std::shared_ptr<engine::Texture> texture() const override { return tex; }
    void Redraw(const std::string& text) override { owner.redrawn.push_back(text); }
    CountingLabels& owner;
    std::shared_ptr<engine::Texture> tex = std::make_shared<engine::Texture>(engine::Image{});
  };
  std::unique_ptr<NameLabel> MakeNameLabel(const std::string& text, int width,
                                           int height) override {
    made.push_back(text + "/" + std::to_string(width) + "/" + std::to_string(height));
    return std::make_unique<Label>(*this);
  }
  std::vector<std::string> made, redrawn;
};

engine::Color PartColour(const TPlayer& player, int part) {
  return GameWorld::Objects(player)->parts[part].mesh->Faces().at(0).color;
}

TEST(Avatars, LookReplayShadowLabelAndRebuild) {
  World w("flat.x");
  w.loader.Add("flat.x", Flat());
  CountingLabels labels;
  w.game.SetLabelMaker(&labels);
  TPlayer& me = w.game.LocalPlayer();
  me.ArmColor = 0x00FF00;
  w.Start();
  const engine::Color shoe_from_file = PartColour(me, kPartRightFoot);
  EXPECT_EQ(PartColour(me, kPartLeftArm), engine::Color::FromRgb(0x00FF00));
  EXPECT_EQ(me.ArmColor, 0x00FF00u);

  TPlayer& other = w.game.world().AddOtherPlayer(7);
  other.BuildAvatar();
  EXPECT_NE(GameWorld::Objects(me)->shadow, nullptr);
  EXPECT_EQ(GameWorld::Objects(other)->shadow, nullptr);
  EXPECT_EQ(labels.made, (std::vector<std::string>{" /256/55", " /256/55"}));
  other.ApplyProperties(",#Ann", false);  // nickname "Ann"
  EXPECT_EQ(labels.redrawn, std::vector<std::string>{"Ann"});

  // A rebuild (full-screen switch) shows the same look and keeps the camera.
  const glm::vec3 camera = w.game.CameraPos;
  w.game.Finalize();
  EXPECT_EQ(me.avatar_objects, nullptr);
  w.game.Initialize();
  EXPECT_EQ(PartColour(me, kPartRightArm), engine::Color::FromRgb(0x00FF00));
  EXPECT_EQ(PartColour(me, kPartRightFoot), shoe_from_file);
  EXPECT_NE(GameWorld::Objects(other), nullptr);
  EXPECT_EQ(w.game.scene().camera()->GetPosition(nullptr), camera);
}

TEST(ChatLines, LiveTwoHundredTicks) {
  World w("flat.x");
  w.loader.Add("flat.x", Flat());
  w.Start();
  w.game.AddChatLine("a: hi");
  // A line lives 200 ticks and is gone at its 201st.
  w.Ticks(200);
  EXPECT_EQ(w.game.ChatLines().size(), 1u);
  w.Ticks(1);
  EXPECT_TRUE(w.game.ChatLines().empty());
}

}  // namespace
}  // namespace tarvo::client

namespace tarvo::client {
namespace {

using std::chrono::milliseconds;
using TimePoint = std::chrono::steady_clock::time_point;

// Counts what would go out.
class CountingSession : public PlayerSession {
 public:
  void ReceiveTcp() override {}
  void ReceiveUdp() override {}
  void MaintainUdpChannel() override {}
  void SendPending() override { ++sends; }
  int UdpPort() const override { return 0; }
  void SendProperties(std::string_view) override { ++sends; }
  void SendMovement(std::string_view) override { ++sends; }
  void SendChat(std::string_view) override { ++sends; }
  void ApplyUdpSettings() override {}
  void AddPeer(TPlayer&) override {}
  void RemovePeer(TPlayer&) override {}
  int sends = 0;
};

bool SamePose(const engine::FramePose& a, const engine::FramePose& b) {
  return a.position == b.position && a.rotation == b.rotation;
}

TEST(FramesBetweenTicks, DrawOnTheLineBetweenTickStatesAndChangeNothing) {
  TimePoint now{};
  World smooth("flat.x", {.smooth_drawing = true});
  World plain("flat.x");
  CountingSession session;
  for (World* w : {&smooth, &plain}) {
    w->loader.Add("flat.x", Flat());
    w->Start();
    w->Place(0, 0, 0, 30);
    w->game.input().Press(GameKey::kPad8);
    w->game.input().Press(GameKey::kPad6);
  }
  smooth.game.SetClock([&] { return now; });
  smooth.game.world().SetCurrentSession(&session);
  engine::Frame& camera = *smooth.game.scene().camera();
  for (int tick = 0; tick < 30; ++tick) {
    const glm::vec3 avatar_from = smooth.Position(), camera_from = camera.GetPosition(nullptr);
    engine::AnimationSet& walk = *GameWorld::Objects(smooth.game.LocalPlayer())->anim_set;
    const float walk_from = walk.time();
    smooth.game.Tick();
    plain.game.Tick();
    const glm::vec3 avatar_to = smooth.Position(), camera_to = camera.GetPosition(nullptr);
    const engine::FramePose avatar_pose = smooth.Avatar().pose(), camera_pose = camera.pose();
    const float walk_time = walk.time();
    const TPlayer& me = smooth.game.LocalPlayer();
    const double x = me.X, z = me.Z, angle = me.Angle;
    const int anim_time = me.AnimTime;
    const int sends = session.sends;
    for (int ms = 0; ms <= 50; ms += 10) {
      now += milliseconds(ms == 0 ? 0 : 10);
      smooth.game.BeginFrame();
      const glm::vec3 drawn = smooth.Position(), drawn_camera = camera.GetPosition(nullptr);
      if (ms == 50) {
        EXPECT_TRUE(SamePose(smooth.Avatar().pose(), avatar_pose)) << "tick " << tick;
        EXPECT_TRUE(SamePose(camera.pose(), camera_pose)) << "tick " << tick;
      } else {
        const float f = ms / 50.0f;
        EXPECT_LT(glm::distance(drawn, avatar_from + (avatar_to - avatar_from) * f), 1e-3f);
        EXPECT_LT(glm::distance(drawn_camera, camera_from + (camera_to - camera_from) * f), 1e-3f);
        EXPECT_NEAR(walk.time(), BetweenAnimTimes(walk_from, walk_time, f), 1e-4);
      }
      smooth.game.EndFrame();
      EXPECT_EQ(walk.time(), walk_time);
      EXPECT_TRUE(SamePose(smooth.Avatar().pose(), avatar_pose));
      EXPECT_TRUE(SamePose(camera.pose(), camera_pose));
    }
    EXPECT_EQ(me.X, x);
    EXPECT_EQ(me.Z, z);
    EXPECT_EQ(me.Angle, angle);
    EXPECT_EQ(me.AnimTime, anim_time);
    EXPECT_EQ(session.sends, sends) << "frames send nothing";
  }
  // The simulation with frames between its ticks is the one without, bit for bit.
  EXPECT_TRUE(SamePose(smooth.Avatar().pose(), plain.Avatar().pose()));
  EXPECT_TRUE(SamePose(camera.pose(), plain.game.scene().camera()->pose()));
  smooth.game.world().SetCurrentSession(nullptr);
}

// Keeps where the player stood whenever its movement went out.
class MovementRecorder : public CountingSession {
 public:
  explicit MovementRecorder(const TPlayer& player) : player_(player) {}
  void SendMovement(std::string_view) override { reported.emplace_back(player_.X, player_.Z); }
  std::vector<std::pair<double, double>> reported;

 private:
  const TPlayer& player_;
};

TEST(TickReport, CarriesTheMovementOfThatTick) {
  World w("flat.x");
  w.loader.Add("flat.x", Flat());
  w.Start();
  w.Place(0, 0, 0, 30);
  TPlayer& me = w.game.LocalPlayer();
  MovementRecorder session(me);
  w.game.world().SetCurrentSession(&session);
  w.Ticks(1);  // the session's first report: the look, no movement
  ASSERT_TRUE(session.reported.empty());
  w.game.input().Press(GameKey::kPad8);
  int moved_ticks = 0;
  for (int tick = 1; tick <= 6; ++tick) {
    const double x = me.X, z = me.Z;
    const size_t sent = session.reported.size();
    w.Ticks(1);
    if (me.X == x && me.Z == z) continue;
    ++moved_ticks;
    // Where the avatar stands after a tick's step goes out in that tick's report.
    ASSERT_EQ(session.reported.size(), sent + 1) << "tick " << tick;
    EXPECT_EQ(session.reported.back(), std::pair(me.X, me.Z)) << "tick " << tick;
  }
  EXPECT_GE(moved_ticks, 4);
  w.game.world().SetCurrentSession(nullptr);
}

TEST(FramesBetweenTicks, RemoteAvatarsAreDrawnFromTheirTrackAndTeleportsAtOnce) {
  TimePoint now{};
  World w("flat.x", {.smooth_drawing = true});
  w.loader.Add("flat.x", Flat());
  w.game.SetClock([&] { return now; });
  w.Start();
  TPlayer& peer = w.game.world().AddOtherPlayer(2);
  peer.BuildAvatar();
  engine::Frame& drawn = *GameWorld::Objects(peer)->frame;
  const auto arrive = [&](int ms, double x) {
    now = TimePoint{} + milliseconds(ms);
    peer.X = x;
    w.game.PlaceAvatar(peer, false);
  };
  for (int i = 0; i <= 4; ++i) arrive(50 * i, 10.0 * i);
  now = TimePoint{} + milliseconds(250);
  w.game.BeginFrame();
  w.game.EndFrame();
  // 110 ms before 250 ms the peer was at 28.
  EXPECT_NEAR(drawn.GetPosition(nullptr).x, 28.0f, 2.0f) << "drawn about 110 ms in the past";
  EXPECT_EQ(peer.X, 40.0);

  arrive(260, 400.0);
  w.game.BeginFrame();
  w.game.EndFrame();
  EXPECT_EQ(drawn.GetPosition(nullptr).x, 400.0f);
}

}  // namespace
}  // namespace tarvo::client
