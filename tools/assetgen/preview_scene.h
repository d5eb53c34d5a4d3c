#pragma once

#include <memory>
#include <optional>
#include <string>

#include "client/avatar/part_table.h"
#include "client/label/name_label.h"
#include "engine/io/file_loader.h"
#include "engine/io/surface.h"
#include "engine/scene/light.h"
#include "engine/scene/scene.h"
#include "engine/scene/shadow.h"

namespace tarvo::assetgen {

/// What the preview shows and where its files come from.
struct PreviewOptions {
  std::string data_folder;      ///< Folder holding level1.x and the avatar part meshes.
  std::string name = "Player";  ///< Text of the name label above the head.
  int width = 640;              ///< Picture width in pixels.
  int height = 480;             ///< Picture height in pixels.
};

/// The pieces of a preview scene a caller may change afterwards (tests take lights, the shadow
/// and the label away again). Keep it alive as long as the scene is drawn: it owns the loader.
struct PreviewScene {
  std::unique_ptr<engine::io::FileLoader> loader;
  std::shared_ptr<engine::Frame> light_frame;         ///< Holds the main point light.
  std::shared_ptr<engine::Frame> shadow_light_frame;  ///< Holds the light that casts the shadow.
  std::shared_ptr<engine::Light> shadow_light;
  std::shared_ptr<engine::Frame> level;
  client::AvatarParts avatar;
  std::shared_ptr<engine::Shadow> shadow;
  std::unique_ptr<client::SurfaceNameLabel> name_label;  ///< Drawn as the client draws it.
  std::shared_ptr<engine::Texture> label;                ///< `name_label`'s texture.
};

/// Builds the client's view of one avatar in `scene`: ambient and point lights, the level
/// "level1.x", the avatar standing at the origin facing the camera's left with its shadow from
/// an overhead light and its name label, the camera where the follow settles behind it, the
/// background colour and the back clipping distance. Empty when the level cannot be read.
std::optional<PreviewScene> BuildPreviewScene(engine::Scene& scene, const PreviewOptions& options);

}  // namespace tarvo::assetgen
