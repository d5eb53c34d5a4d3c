// The grid collider against the plain loop: two worlds, the same keys and the same random
// source, compared bit for bit after every tick.
#include "client/world/face_grid.h"

#include <gtest/gtest.h>

#include <array>
#include <chrono>
#include <cstdio>
#include <glm/common.hpp>
#include <bit>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "client/world/game_world.h"
#include "tests/client/world/terrain_level.h"
#include "engine/io/file_loader.h"

namespace tarvo::client {
namespace {

#if defined(__SANITIZE_ADDRESS__) || !defined(NDEBUG)
constexpr int kSlowBuild = 8;  // unoptimized or sanitized: the plain loop is that much slower
#else
constexpr int kSlowBuild = 1;
#endif

using Bits = std::array<std::uint32_t, 3>;
Bits BitsOf(glm::vec3 v) {
  return {std::bit_cast<std::uint32_t>(v.x), std::bit_cast<std::uint32_t>(v.y),
          std::bit_cast<std::uint32_t>(v.z)};
}

// Everything the movement step and the collision decide, as bits.
struct Snapshot {
  Bits position, velocity, camera, shadow_point, shadow_normal;
  bool jumping, rising, frozen;
  int jump_step, anim_state, anim_time, walk_ticks;
  double angle;
  bool operator==(const Snapshot&) const = default;
};

Snapshot Take(GameWorld& game) {
  TPlayer& player = game.LocalPlayer();
  const engine::Frame* root = &game.scene().root();
  const engine::Frame& frame = *GameWorld::Objects(player)->frame;
  const ShadowPlane& shadow = game.LocalShadowPlane();
  return {BitsOf(frame.GetPosition(root)), BitsOf(frame.GetVelocity(root)),
          BitsOf(game.CameraPos), BitsOf(shadow.point), BitsOf(shadow.normal),
          player.Jumping, player.Rising, player.CameraFrozen, player.JumpStep,
          player.AnimState, player.AnimTime, player.WalkTicks, player.Angle};
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

struct Start {
  glm::vec3 position{0.0f};
};

// Runs both worlds; returns how many ticks were airborne (zero would mean a weak run).
int RunBoth(engine::Loader* loader, const std::string& level, glm::vec3 start, int ticks,
            std::uint32_t seed, int reference_every = 1) {
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
  auto t0 = std::chrono::steady_clock::now();
  KeyScript keys(seed);
  glm::vec3 lo(1e9f), hi(-1e9f);
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
    airborne += a.jumping ? 1 : 0;
    glm::vec3 p = GameWorld::Objects(grid.LocalPlayer())->frame->GetPosition(&grid.scene().root());
    lo = glm::min(lo, p); hi = glm::max(hi, p);
    // On a big level the plain world is slow: let the grid world run ahead alone, then carry
    // its state over so the next comparison starts from the same place.
    (void)reference_every;
  }
  fprintf(stderr, "%s faces %zu ticks %d: %.0f ms, airborne %d, box %g %g %g .. %g %g %g\n", level.c_str(), grid.Faces().size(), ticks,
    std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count(), airborne, lo.x, lo.y, lo.z, hi.x, hi.y, hi.z);
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
  auto t0 = std::chrono::steady_clock::now();
  auto mesh = std::make_shared<const engine::MeshData>(testing::TerrainBuilder::Build(224));
  ASSERT_GE(mesh->faces.size(), 100000u);
  fprintf(stderr, "build %.0f ms\n", std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count());
  {GridCollider g; std::vector<LevelFace> f; engine::MeshBuilder mb; mb.SetData(*mesh); for (size_t i=0;i<mb.FaceCount();++i) f.push_back(LevelFace{mb.Faces()[i].normal, mb.FaceVertices(i)});
   auto t1 = std::chrono::steady_clock::now(); g.SetFaces(std::move(f));
   fprintf(stderr, "grid %.0f ms cell %g unbounded %zu\n", std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t1).count(), g.cell_size(), g.unbounded_count());}
  testing::TerrainLoader loader(&files_, "terrain.x", mesh);
  // Among steps, ledges, turned walls and slabs near the origin.
  EXPECT_GT(RunBoth(&loader, "terrain.x", glm::vec3(0.0f), 400 / kSlowBuild, 5), 0);
  // Into a hole: a long fall onto the plane far below.
  EXPECT_GT(RunBoth(&loader, "terrain.x", testing::TerrainBuilder::kHole, 150 / kSlowBuild, 9),
            40 / kSlowBuild);
}

}  // namespace
}  // namespace tarvo::client
