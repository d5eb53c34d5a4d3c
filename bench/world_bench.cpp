// The game world without drawing: the movement step on a generated level of over 100,000 faces
// with the plain loop and with the grid, the grid's build, and one tick with 200 remote avatars.
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include "client/game/face_grid.h"
#include "client/game/game_world.h"
#include "engine/io/file_loader.h"
#include "protocol/properties.h"
#include "tests/client/game/terrain_level.h"

namespace {

using tarvo::client::GameKey;
using tarvo::client::GameWorld;

tarvo::engine::io::FileLoader& Files() {
  static tarvo::engine::io::FileLoader files{{std::string(TARVO_SOURCE_DIR) + "/data/client"}};
  return files;
}

const std::shared_ptr<const tarvo::engine::MeshData>& Terrain() {
  static const auto mesh =
      std::make_shared<const tarvo::engine::MeshData>(tarvo::testing::TerrainBuilder::Build(224));
  return mesh;
}

// Walks around the origin among the terrain's features, starting over every 400 steps; only
// the movement step is timed.
template <typename Collider>
void BM_StepLocalPlayer(benchmark::State& state) {
  tarvo::testing::TerrainLoader loader(&Files(), "terrain.x", Terrain());
  GameWorld game(&loader);
  game.SetCollider(std::make_unique<Collider>());
  game.LocalPlayer().LevelFile = "terrain.x";
  game.Initialize();
  game.input().Press(GameKey::kPad8);
  int tick = 0;
  for (auto _ : state) {
    game.StepLocalPlayer();
    state.PauseTiming();
    if (++tick % 400 == 0) {
      // Back to the start before the walk leaves the features (or falls through a hole).
      tarvo::client::TPlayer& player = game.LocalPlayer();
      player.X = player.Y = player.Z = 0.0;
      player.Jumping = false;
      game.PlaceAvatar(player, true);
    }
    if (tick % 40 == 0) {
      // Turn now and then, so the walk stays among the features.
      const GameKey side = (tick / 40) % 2 ? GameKey::kPad6 : GameKey::kPad4;
      game.input().Release(GameKey::kPad4);
      game.input().Release(GameKey::kPad6);
      game.input().Press(side);
    }
    game.FollowCamera();
    game.scene().Tick(1.0);
    state.ResumeTiming();
  }
  state.SetLabel(std::to_string(game.Faces().size()) + " faces");
}
BENCHMARK(BM_StepLocalPlayer<tarvo::client::PlainCollider>)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_StepLocalPlayer<tarvo::client::GridCollider>)->Unit(benchmark::kMicrosecond);

// What a level load adds: proving where each face can act and filling the grid.
void BM_GridBuild(benchmark::State& state) {
  tarvo::engine::MeshBuilder mesh;
  mesh.SetData(*Terrain());
  std::vector<tarvo::client::LevelFace> faces;
  for (size_t i = 0; i < mesh.FaceCount(); ++i) {
    faces.push_back({mesh.Faces()[i].normal, mesh.FaceVertices(i)});
  }
  for (auto _ : state) {
    tarvo::client::GridCollider grid;
    grid.SetFaces(faces);
    benchmark::DoNotOptimize(grid.cell_size());
  }
  state.SetLabel(std::to_string(faces.size()) + " faces");
}
BENCHMARK(BM_GridBuild)->Unit(benchmark::kMillisecond);

// One tick without drawing or session: 1 local avatar walking on the bundled level and
// `count` remote avatars standing in rows.
void BM_WorldTick(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  GameWorld game(&Files());
  game.Initialize();
  for (int i = 0; i < count; ++i) {
    tarvo::client::TPlayer& other = game.world().AddOtherPlayer(1000 + i);
    other.BuildAvatar();
    std::string text;
    tarvo::protocol::PutEntry(text, tarvo::protocol::kPropX, 40.0 * (i % 20) - 400.0);
    tarvo::protocol::PutEntry(text, tarvo::protocol::kPropZ, 40.0 * (i / 20) - 200.0);
    tarvo::protocol::PutEntry(text, tarvo::protocol::kPropViewAngle, (i * 37) % 360);
    other.ApplyProperties(text, false);
  }
  game.input().Press(GameKey::kPad8);
  game.input().Press(GameKey::kPad6);
  for (auto _ : state) game.Tick();
  state.counters["frames"] = static_cast<double>(game.scene().root().children().size());
  state.SetLabel(std::to_string(count) + " remote avatars");
}
BENCHMARK(BM_WorldTick)->Arg(200)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
