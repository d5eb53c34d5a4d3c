#pragma once

// The client's scene for the engine benchmarks: lights, the default level and `count` avatars
// standing in rows in front of the camera, each with its name label.

#include <memory>
#include <string>
#include <vector>

#include "client/avatar/part_table.h"
#include "engine/io/file_loader.h"
#include "engine/scene/scene.h"
#include "engine/scene/shadow.h"

namespace tarvo::bench {

struct BenchScene {
  engine::io::FileLoader loader{{std::string(TARVO_SOURCE_DIR) + "/data/client"}};
  engine::Scene scene;
  std::vector<client::AvatarParts> avatars;
  std::shared_ptr<engine::Light> shadow_light;
};

/// Builds the scene; `label` makes a name decal for avatar i (none: no labels).
inline std::unique_ptr<BenchScene> MakeBenchScene(
    int count, const std::function<std::shared_ptr<engine::Texture>(int)>& label = {}) {
  auto bench = std::make_unique<BenchScene>();
  engine::Scene& scene = bench->scene;
  scene.SetLoader(&bench->loader);
  scene.viewport().width = 640;
  scene.viewport().height = 480;
  auto f1 = scene.CreateFrame();
  auto f2 = scene.CreateFrame();
  f1->AddLight(std::make_shared<engine::Light>(engine::Light::Type::kPoint,
                                               engine::Color{0.8f, 0.8f, 0.8f}));
  bench->shadow_light =
      std::make_shared<engine::Light>(engine::Light::Type::kPoint, engine::Color{0.3f, 0.3f, 0.3f});
  f2->AddLight(bench->shadow_light);
  scene.root().AddLight(std::make_shared<engine::Light>(engine::Light::Type::kAmbient,
                                                        engine::Color{0.4f, 0.4f, 0.4f}));
  f1->SetPosition(&scene.root(), {0, 60, 0});
  f2->SetPosition(&scene.root(), {200, 20000, 240});
  auto level = scene.CreateFrame();
  auto level_mesh = std::make_shared<engine::MeshBuilder>();
  scene.LoadMesh("level1.x", *level_mesh);
  level->AddVisual(level_mesh);

  const client::PartEntries table = client::MakePartTable();
  for (int i = 0; i < count; ++i) {
    client::AvatarParts avatar = client::AssembleAvatar(scene, table);
    // Rows of 20, 25 units apart, from the camera's feet into the level.
    const float x = -240.0f + static_cast<float>(i % 20) * 25.0f;
    const float z = 150.0f - static_cast<float>(i / 20) * 45.0f;
    avatar.frame->SetPosition(&scene.root(), {x, 0, z});
    avatar.frame->SetOrientation(&scene.root(), {0, 0, -1}, {0, 1, 0});
    if (i == 0) {
      engine::MeshBuilder snapshot;
      snapshot.AddFrame(*avatar.frame);
      avatar.frame->AddVisual(std::make_shared<engine::Shadow>(
          snapshot.CreateMesh(), bench->shadow_light, glm::vec3(0), glm::vec3(0, 1, 0)));
    }
    if (label) avatar.frame->AddVisual(label(i));
    bench->avatars.push_back(std::move(avatar));
  }
  auto& camera = *scene.camera();
  camera.SetPosition(&scene.root(), {0, 80, 380});
  camera.SetOrientation(&scene.root(), {0, -0.3f, -1}, {0, 1, 0});
  scene.SetBack(500000);
  scene.SetBackground(engine::Color{0.0f, 0.25f, 0.875f});
  return bench;
}

}  // namespace tarvo::bench
