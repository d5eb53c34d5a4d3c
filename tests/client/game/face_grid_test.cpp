// The grid collider against the plain loop: two worlds, the same keys and the same random
// source, compared bit for bit after every tick.
#include "client/game/face_grid.h"

#include <gtest/gtest.h>

#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <glm/geometric.hpp>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "client/game/game_world.h"
#include "engine/io/file_loader.h"
#include "tests/client/game/terrain_level.h"

namespace tarvo::client {
namespace {

// Unoptimized or sanitized builds run the plain loop many times slower: fewer ticks there,
// and a smaller terrain.
#if defined(__SANITIZE_ADDRESS__) || !defined(NDEBUG)
constexpr int kSlowBuild = 8;
constexpr int kTerrainSquares = 96;
constexpr size_t kTerrainFaces = 18000;
#else
constexpr int kSlowBuild = 1;
constexpr int kTerrainSquares = 224;
constexpr size_t kTerrainFaces = 100000;
#endif

using Bits = std::array<std::uint32_t, 3>;
Bits BitsOf(glm::vec3 v) {
  return {std::bit_cast<std::uint32_t>(v.x), std::bit_cast<std::uint32_t>(v.y),
          std::bit_cast<std::uint32_t>(v.z)};
}

// Everything the movement step and the collision decide, as bits.
struct Snapshot {
  std::array<Bits, 5> vectors;  // position, velocity, camera, shadow point and normal
  std::array<int, 7> states;    // jumping, rising, frozen camera, jump step, animation, walk
  double angle;
  bool operator==(const Snapshot&) const = default;
};

Snapshot Take(GameWorld& game) {
  const TPlayer& p = game.LocalPlayer();
  const engine::Frame* root = &game.scene().root();
  const engine::Frame& frame = *GameWorld::Objects(p)->frame;
  const ShadowPlane& shadow = game.LocalShadowPlane();
  return {{BitsOf(frame.GetPosition(root)), BitsOf(frame.GetVelocity(root)), BitsOf(game.CameraPos),
           BitsOf(shadow.point), BitsOf(shadow.normal)},
          {p.Jumping, p.Rising, p.CameraFrozen, p.JumpStep, p.AnimState, p.AnimTime, p.WalkTicks},
          p.Angle};
}

// Random key segments: walking in any direction (also both keys of a pair), running, the back
// key alone, jumps held for a while or tapped, the camera key and idling.
class KeyScript {
 public:
  explicit KeyScript(std::uint32_t seed) : random_(seed) {}

  void Next(std::initializer_list<InputState*> inputs) {
    if (left_ > 0) {
      --left_;
      if (left_ == 0 || Chance(8)) Apply(inputs, GameKey::kPad5, false);
      return;
    }
    left_ = Uniform(1, 40);
    const int shape = Uniform(0, 9);
    const bool idle = shape == 0;
    Apply(inputs, GameKey::kPad8, !idle && (shape < 6 || Chance(4)));
    Apply(inputs, GameKey::kPad2, !idle && (shape == 6 || shape == 7 || Chance(10)));
    Apply(inputs, GameKey::kPad6, !idle && (shape == 8 || Chance(3)));
    Apply(inputs, GameKey::kPad4, !idle && (shape == 9 || Chance(3)));
    Apply(inputs, GameKey::kPad5, Chance(3));
    if (Chance(12)) {
      Apply(inputs, GameKey::kPad0, true);
      Apply(inputs, GameKey::kPad0, false);  // a tap still counts once
    }
  }

 private:
  int Uniform(int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(random_); }
  bool Chance(int one_in) { return Uniform(1, one_in) == 1; }
  static void Apply(std::initializer_list<InputState*> inputs, GameKey key, bool down) {
    for (InputState* input : inputs) down ? input->Press(key) : input->Release(key);
  }

  std::mt19937 random_;
  int left_ = 0;
};

// Runs both worlds; returns how many ticks were airborne (zero would mean a weak run).
int RunBoth(engine::Loader* loader, const std::string& level, glm::vec3 start, int ticks,
            std::uint32_t seed) {
  GameWorld plain(loader);
  GameWorld grid(loader);
  plain.SetCollider(std::make_unique<PlainCollider>());
  grid.SetCollider(std::make_unique<GridCollider>());
  for (GameWorld* game : {&plain, &grid}) {
    auto legs = std::make_shared<std::mt19937>(seed);
    game->SetRandomSource([legs] { return ((*legs)() & 1u) != 0; });
    TPlayer& player = game->LocalPlayer();
    player.LevelFile = level;
    player.X = start.x;
    player.Y = start.y;
    player.Z = start.z;
    game->CameraPos = start + GameWorld::kStartCameraPos;
    game->Initialize();
  }
  EXPECT_EQ(plain.Faces().size(), grid.Faces().size());
  EXPECT_FALSE(grid.Faces().empty()) << level;
  KeyScript keys(seed);
  int airborne = 0;
  for (int tick = 0; tick < ticks; ++tick) {
    keys.Next({&plain.input(), &grid.input()});
    plain.Tick();
    grid.Tick();
    const Snapshot a = Take(plain);
    const Snapshot b = Take(grid);
    if (!(a == b)) {
      ADD_FAILURE() << level << ": worlds differ after tick " << tick;
      return airborne;
    }
    airborne += a.states[0];
  }
  return airborne;
}

class GridColliderTest : public ::testing::Test {
 protected:
  engine::io::FileLoader files_{{std::string(TARVO_SOURCE_DIR) + "/data/client",
                                 std::string(TARVO_SOURCE_DIR) + "/data/world/levels"}};
};

TEST_F(GridColliderTest, MatchesPlainLoopOnEveryBundledLevel) {
  for (const char* level : {"level1.x", "startlevel.x", "courtyard.x"}) {
    EXPECT_GT(RunBoth(&files_, level, glm::vec3(0.0f), 3000 / kSlowBuild, 17), 0) << level;
  }
}

TEST_F(GridColliderTest, MatchesPlainLoopOnLargeTerrain) {
  auto mesh =
      std::make_shared<const engine::MeshData>(testing::TerrainBuilder::Build(kTerrainSquares));
  ASSERT_GE(mesh->faces.size(), kTerrainFaces);
  testing::TerrainLoader loader(&files_, "terrain.x", mesh);
  // Among steps, ledges, turned walls and slabs near the origin.
  RunBoth(&loader, "terrain.x", glm::vec3(0.0f), 250 / kSlowBuild, 5);
  // Into a hole: a long fall onto the plane far below.
  EXPECT_GT(RunBoth(&loader, "terrain.x", testing::TerrainBuilder::kHole, 90 / kSlowBuild, 9),
            40 / kSlowBuild);
}

// Faces that reach far or behave oddly: a floor far below and a ceiling far above everything,
// slivers, faces without area or with too few corners, a non-convex one, turned and sloped
// walls, a normal that is not unit length or not a number, corners beyond the index.
std::vector<LevelFace> AwkwardFaces(std::mt19937& random) {
  auto face = [](std::vector<glm::vec3> corners) {
    return LevelFace{engine::FaceNormal(corners), std::move(corners)};
  };
  std::vector<LevelFace> faces = {
      face({{-4000, -600, -4000}, {-4000, -600, 4000}, {4000, -600, 4000}, {4000, -600, -4000}}),
      face({{-3000, 300, -3000}, {3000, 300, -3000}, {3000, 300, 3000}, {-3000, 300, 3000}}),
      face({{0, 0, 0}, {1000, 0.01f, 1000.001f}, {2000, 0.02f, 2000}}),
      face({{0, 0, 0}, {2000, 0.01f, 2000}, {1000, 0.02f, 1000.001f}}),
      face({{0, 0, 0}, {10, 10, 10}, {20, 20, 20}}),
      face({{5, 5, 5}, {5, 5, 5}, {5, 5, 5}}),
      LevelFace{{0, 1, 0}, {{0, 0, 0}, {10, 0, 0}}},
      LevelFace{{0, -1, 0}, {{3, 0, 3}}},
      LevelFace{{0, 1, 0}, {}},
      LevelFace{{0, 0, -2}, {{-50, 0, 40}, {-50, 80, 40}, {50, 80, 40}, {50, 0, 40}}},
      LevelFace{{0, std::nanf(""), 0}, {{200, 0, 200}, {200, 0, 260}, {260, 0, 260}}},
      face({{100, 10, 100}, {140, 10, 160}, {110, 10, 110}, {160, 10, 140}}),
      face({{200000, 0, 0}, {200000, 0, 50}, {200050, 0, 50}}),
  };
  std::uniform_real_distribution<float> at(-300.0f, 300.0f), size(5.0f, 120.0f), tilt(-0.3f, 0.3f);
  for (int i = 0; i < 300; ++i) {
    const glm::vec3 c(at(random), at(random) * 0.2f, at(random));
    const float w = size(random), h = size(random), turn = at(random);
    const glm::vec3 along(std::cos(turn) * w, tilt(random) * w, std::sin(turn) * w);
    const glm::vec3 up(tilt(random) * h, h, tilt(random) * h);
    // Walls of either side and tilt, and floors and ceilings lying nearly flat.
    if (i % 30 == 0) {
      // A plumb wall (normal y exactly 0) listed before the floor at its foot.
      const glm::vec3 level(along.x, 0.0f, along.z), height(0.0f, h, 0.0f);
      const LevelFace wall = face({c, c + level, c + level + height, c + height});
      faces.push_back(wall);
      const glm::vec3 out = wall.normal * h;
      faces.push_back(face({c, c + out, c + out + level, c + level}));
    } else if (i % 3 == 0) {
      faces.push_back(face({c, c + along, c + along + up, c + up}));
    } else {
      const glm::vec3 flat(up.x, up.x * 0.2f, h);
      faces.push_back(i % 3 == 1 ? face({c, c + flat, c + along + flat, c + along})
                                 : face({c, c + along, c + along + flat, c + flat}));
    }
  }
  return faces;
}

// What one tick's collision gives, as bits.
struct Outcome {
  Bits velocity;
  bool jumping, rising;
  int jump_step;
  std::optional<std::array<Bits, 2>> shadow;
  bool operator==(const Outcome&) const = default;
};

Outcome Collide(const LevelCollider& collider, Mover mover, glm::vec3 velocity, glm::vec3 forward) {
  collider.Collide(velocity, {forward.z, 0.0f, -forward.x}, forward, mover);
  Outcome out{BitsOf(velocity), mover.jumping, mover.rising, mover.jump_step, std::nullopt};
  if (mover.shadow_plane) {
    out.shadow = {BitsOf(mover.shadow_plane->point), BitsOf(mover.shadow_plane->normal)};
  }
  return out;
}

// Both colliders over the same faces.
struct Pair {
  explicit Pair(const std::vector<LevelFace>& faces) {
    plain.SetFaces(faces);
    grid.SetFaces(faces);
  }
  PlainCollider plain;
  GridCollider grid;
};

TEST(GridColliderProbeTest, MatchesPlainLoopForRandomMovers) {
  std::mt19937 random(11);
  const std::vector<LevelFace> faces = AwkwardFaces(random);
  const Pair pair(faces);
  EXPECT_GT(pair.grid.cell_size(), 0.0f);
  EXPECT_GE(pair.grid.unbounded_count(), 5u);  // every face acting on an unbounded line or plane
  EXPECT_LT(pair.grid.unbounded_count(), 20u);
  std::uniform_real_distribution<float> near(-60.0f, 60.0f), unit(0.0f, 1.0f);
  int changed = 0;
  const int count = 8000 / kSlowBuild;
  for (int i = 0; i < count; ++i) {
    const LevelFace& target = faces[random() % faces.size()];
    Mover mover;
    mover.position = target.vertices.empty() ? glm::vec3(0.0f) : target.vertices[0];
    mover.position += glm::vec3(near(random), near(random), near(random));
    if (i % 500 == 0) mover.position.y = -200000.0f;  // beyond the index: the plain loop
    mover.jumping = unit(random) < 0.4f;
    mover.rising = unit(random) < 0.5f;
    mover.jump_step = static_cast<int>(random() % 7);
    const float turn = unit(random) * 6.3f;
    const glm::vec3 forward(std::cos(turn), 0.0f, std::sin(turn));
    const float scale = i % 10 == 0 ? 400.0f : 25.0f;
    glm::vec3 velocity = (glm::vec3(unit(random), unit(random), unit(random)) - 0.5f) * scale;
    if (i % 50 == 0) velocity = glm::vec3(0.0f);
    const Outcome expected = Collide(pair.plain, mover, velocity, forward);
    ASSERT_TRUE(Collide(pair.grid, mover, velocity, forward) == expected) << "probe " << i;
    changed += expected.velocity != BitsOf(velocity) ? 1 : 0;
  }
  EXPECT_GT(changed, count / 10);  // enough pushes, landings and lifts to mean something
}

// A floor up to 30 above or below the feet carries the avatar onto it; one 31 above stops
// nothing and one 31 below is a fall.
TEST(GridColliderProbeTest, StepsOfThirtyAreTakenAndThirtyOneAreNot) {
  const glm::vec3 ahead(1.0f, 0.0f, 0.0f);
  for (const float height : {30.0f, 31.0f, -30.0f, -31.0f}) {
    const Pair pair({LevelFace{
        {0, 1, 0}, {{-50, height, -50}, {-50, height, 50}, {50, height, 50}, {50, height, -50}}}});
    const Outcome plain = Collide(pair.plain, Mover{}, glm::vec3(0.0f), ahead);
    EXPECT_TRUE(Collide(pair.grid, Mover{}, glm::vec3(0.0f), ahead) == plain) << height;
    const bool taken = std::abs(height) <= 30.0f;
    EXPECT_EQ(plain.velocity, BitsOf({0.0f, taken ? height : 0.0f, 0.0f})) << height;
    EXPECT_EQ(plain.jumping, height == -31.0f) << height;  // only the drop starts a fall
  }
}

TEST(GridColliderProbeTest, MatchesPlainLoopWhereFacesReachFar) {
  const glm::vec3 ahead(1.0f, 0.0f, 0.0f);
  Mover standing;
  {
    // A step 29 up lifts the avatar by 29 in this tick, which brings a ceiling 25 above the
    // head into reach: the faces after the step must be looked up again.
    const Pair pair({
        LevelFace{{0, -1, 0}, {{-50, 60, -50}, {50, 60, -50}, {50, 60, 50}, {-50, 60, 50}}},
        LevelFace{{0, 1, 0}, {{-50, 29, -50}, {-50, 29, 50}, {50, 29, 50}, {50, 29, -50}}},
    });
    const Outcome expected = Collide(pair.plain, standing, glm::vec3(0.0f), ahead);
    EXPECT_EQ(expected.velocity, BitsOf({0.0f, 22.0f, 0.0f}));  // lifted 29, pushed back 7
    EXPECT_TRUE(Collide(pair.grid, standing, glm::vec3(0.0f), ahead) == expected);
  }
  {
    // A floor of two corners has no area: every point of its line counts as inside it, also
    // far beyond its ends, and carries the avatar there.
    const Pair pair({LevelFace{{0, 1, 0}, {{0, 0, 0}, {10, 0, 10}}}});
    standing.position = {500.0f, 0.0f, 500.0f};
    const glm::vec3 along = glm::normalize(glm::vec3(1.0f, 0.0f, 1.0f));
    const Outcome expected = Collide(pair.plain, standing, glm::vec3(0.0f), along);
    EXPECT_TRUE(expected.shadow.has_value());
    EXPECT_TRUE(Collide(pair.grid, standing, glm::vec3(0.0f), along) == expected);
  }
}

}  // namespace
}  // namespace tarvo::client
