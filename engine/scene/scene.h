#pragma once

#include <glm/mat4x4.hpp>
#include <glm/vec3.hpp>
#include <memory>
#include <string>
#include <vector>

#include "engine/scene/color.h"
#include "engine/scene/frame.h"
#include "engine/scene/mesh_builder.h"
#include "engine/scene/texture.h"

namespace tarvo::engine {

class Scene;

/// Draws a scene; attached to a scene, it is called at the end of every tick.
class Renderer {
 public:
  virtual ~Renderer() = default;
  /// Draws (or schedules drawing of) the scene as it stands.
  virtual void Render(Scene& scene) = 0;
};

/// Reads meshes and textures from files for the scene.
class Loader {
 public:
  virtual ~Loader() = default;
  /// Fills `builder` from a mesh file; on failure leaves it empty and gives false.
  virtual bool LoadMesh(const std::string& file, MeshBuilder& builder) = 0;
  /// Reads a texture from a picture file; none on failure.
  virtual std::shared_ptr<Texture> LoadTexture(const std::string& file) = 0;
};

/// The window into the scene: size in pixels, field of view and clipping distances.
struct Viewport {
  int width = 640;
  int height = 456;
  float field = 0.5f;   ///< Half the height of the view at distance 1 from the camera.
  float front = 1.0f;   ///< Front clipping distance.
  float back = 100.0f;  ///< Back clipping distance.

  /// The projection from camera coordinates (looking along +z) to clip space.
  glm::mat4 Projection() const;
};

/// A point light as the renderer sees it.
struct PlacedLight {
  const Light* light;
  glm::vec3 position;  ///< World position of the light's frame.
};

/// The retained-mode scene: the scene frame, the camera, the viewport, the background colour,
/// the tick and the renderer that draws it.
class Scene {
 public:
  Scene();
  Scene(const Scene&) = delete;
  Scene& operator=(const Scene&) = delete;

  /// The scene frame; everything shown hangs below it.
  Frame& root() { return *root_; }
  const Frame& root() const { return *root_; }
  /// The camera frame, a child of the scene frame.
  const std::shared_ptr<Frame>& camera() const { return camera_; }
  /// Releases everything the scene holds: every frame but the camera, the scene frame's lights
  /// and visuals; the camera goes back to the origin, unturned and still. Loader and renderer
  /// stay.
  void Clear();
  /// A new frame below `parent` (the scene frame when none is given).
  std::shared_ptr<Frame> CreateFrame(Frame* parent = nullptr);

  /// The viewport.
  Viewport& viewport() { return viewport_; }
  const Viewport& viewport() const { return viewport_; }
  /// Sets the back clipping distance.
  void SetBack(float distance) { viewport_.back = distance; }
  /// Sets the background colour.
  void SetBackground(Color color) { background_ = color; }
  /// The background colour.
  Color background() const { return background_; }

  /// Sets the loader used by `LoadMesh` and `LoadTexture` (none: loads fail).
  void SetLoader(Loader* loader) { loader_ = loader; }
  /// Fills `builder` from a mesh file; a failed load leaves it empty and gives false.
  bool LoadMesh(const std::string& file, MeshBuilder& builder);
  /// Reads a texture file; none on failure.
  std::shared_ptr<Texture> LoadTexture(const std::string& file);

  /// Attaches the renderer called at the end of each tick (none: ticks draw nothing).
  void SetRenderer(Renderer* renderer) { renderer_ = renderer; }
  /// One engine step: applies every frame's velocity, then calls the move callbacks, then hands
  /// the scene to the renderer.
  void Tick(double delta);

  /// The world-to-camera transform.
  glm::mat4 ViewMatrix() const;
  /// The point lights below the scene frame with their positions, and the sum of the ambients.
  std::vector<PlacedLight> CollectLights(Color* ambient) const;

 private:
  std::shared_ptr<Frame> root_;
  std::shared_ptr<Frame> camera_;
  Viewport viewport_;
  Color background_{0.0f, 0.0f, 0.0f};
  Loader* loader_ = nullptr;
  Renderer* renderer_ = nullptr;
};

}  // namespace tarvo::engine
