#include "tools/assetgen/preview_scene.h"

namespace tarvo::assetgen {

std::optional<PreviewScene> BuildPreviewScene(engine::Scene& scene, const PreviewOptions& options) {
  using engine::Color;
  using engine::Light;
  PreviewScene out;
  out.loader =
      std::make_unique<engine::io::FileLoader>(std::vector<std::string>{options.data_folder});
  scene.SetLoader(out.loader.get());
  scene.viewport().width = options.width;
  scene.viewport().height = options.height;

  auto point = std::make_shared<Light>(Light::Type::kPoint, Color{0.8f, 0.8f, 0.8f});
  auto ambient = std::make_shared<Light>(Light::Type::kAmbient, Color{0.4f, 0.4f, 0.4f});
  out.shadow_light = std::make_shared<Light>(Light::Type::kPoint, Color{0.3f, 0.3f, 0.3f});
  out.light_frame = scene.CreateFrame();
  out.shadow_light_frame = scene.CreateFrame();
  out.light_frame->AddLight(point);
  out.shadow_light_frame->AddLight(out.shadow_light);
  scene.root().AddLight(ambient);
  out.light_frame->SetPosition(&scene.root(), {0, 60, 0});
  out.shadow_light_frame->SetPosition(&scene.root(), {200, 20000, 240});

  out.level = scene.CreateFrame();
  auto level_mesh = std::make_shared<engine::MeshBuilder>();
  if (!scene.LoadMesh("level1.x", *level_mesh)) return std::nullopt;
  level_mesh->SetPerspective(true);
  out.level->AddVisual(level_mesh);

  out.avatar = client::AssembleAvatar(scene, client::MakePartTable());
  engine::MeshBuilder snapshot;
  snapshot.AddFrame(*out.avatar.frame);
  out.shadow = std::make_shared<engine::Shadow>(snapshot.CreateMesh(), out.shadow_light,
                                                glm::vec3(0, 0, 0), glm::vec3(0, 1, 0));
  out.avatar.frame->AddVisual(out.shadow);
  out.avatar.frame->SetPosition(&scene.root(), {0, 0, 0});
  out.avatar.frame->SetOrientation(&scene.root(), {1, 0, 0}, {0, 1, 0});  // angle 0
  // Requested as the client does for every avatar: 256 wide, 55 units above the feet.
  out.name_label = std::make_unique<client::SurfaceNameLabel>(options.name, 256, 55);
  out.label = out.name_label->texture();
  out.avatar.frame->AddVisual(out.label);

  auto& camera = *scene.camera();
  // Where the camera follow settles: 205 units behind the avatar (its +z) and 80 up.
  camera.SetPosition(&scene.root(), {205, 80, 0});
  camera.LookAt(*out.avatar.frame, &scene.root(), engine::LookAtConstraint::kZ);
  camera.AddRotation(engine::Combine::kBefore, {1, 0, 0}, -0.15f);
  scene.SetBack(500000);
  scene.SetBackground(Color{0.0f, 0.25f, 0.875f});
  return out;
}

}  // namespace tarvo::assetgen
