#include "engine/scene/scene.h"

#include <algorithm>
#include <glm/gtc/matrix_transform.hpp>

namespace tarvo::engine {
namespace {

void Collect(const std::shared_ptr<Frame>& frame, std::vector<std::shared_ptr<Frame>>& out) {
  out.push_back(frame);
  for (const auto& child : frame->children()) Collect(child, out);
}

void CollectLightsBelow(const Frame& frame, const glm::mat4& parent_world,
                        std::vector<PlacedLight>& out, Color* ambient) {
  const glm::mat4 world = parent_world * frame.LocalMatrix();
  for (const auto& light : frame.lights()) {
    if (light->type() == Light::Type::kAmbient) {
      ambient->r += light->color().r;
      ambient->g += light->color().g;
      ambient->b += light->color().b;
    } else {
      out.push_back(PlacedLight{light.get(), glm::vec3(world[3])});
    }
  }
  for (const auto& child : frame.children()) CollectLightsBelow(*child, world, out, ambient);
}

}  // namespace

glm::mat4 Viewport::Projection() const {
  const float aspect = height > 0 ? static_cast<float>(width) / static_cast<float>(height) : 1.0f;
  const float top = field * front;
  const float right = top * aspect;
  // Left-handed: the camera looks along +z, and depth grows with z.
  return glm::frustumLH_NO(-right, right, -top, top, front, std::max(back, front * 2.0f));
}

Scene::Scene() : root_(Frame::Create()), camera_(Frame::Create(root_.get())) {}

void Scene::Clear() {
  std::vector<std::shared_ptr<Frame>> doomed = root_->children();
  for (const auto& frame : doomed) root_->DeleteChild(frame.get());
  std::vector<std::shared_ptr<Light>> lights = root_->lights();
  for (const auto& light : lights) root_->DeleteLight(light.get());
  std::vector<std::shared_ptr<Visual>> visuals = root_->visuals();
  for (const auto& visual : visuals) root_->DeleteVisual(visual.get());
  // A new camera, so nothing of the old one's place, turn or velocity survives.
  camera_ = Frame::Create(root_.get());
}

std::shared_ptr<Frame> Scene::CreateFrame(Frame* parent) {
  return Frame::Create(parent ? parent : root_.get());
}

bool Scene::LoadMesh(const std::string& file, MeshBuilder& builder) {
  if (!loader_) {
    builder.Clear();
    return false;
  }
  return loader_->LoadMesh(file, builder);
}

std::shared_ptr<Texture> Scene::LoadTexture(const std::string& file) {
  return loader_ ? loader_->LoadTexture(file) : nullptr;
}

void Scene::Tick(double delta) {
  // Frames added or removed by a callback take effect from the next tick.
  std::vector<std::shared_ptr<Frame>> frames;
  Collect(root_, frames);
  for (const auto& frame : frames) frame->ApplyMotion(delta);
  for (const auto& frame : frames) frame->RunMoveCallbacks(delta);
  if (renderer_) renderer_->Render(*this);
}

glm::mat4 Scene::ViewMatrix() const { return glm::inverse(camera_->WorldMatrix()); }

std::vector<PlacedLight> Scene::CollectLights(Color* ambient) const {
  std::vector<PlacedLight> lights;
  *ambient = Color{0.0f, 0.0f, 0.0f};
  CollectLightsBelow(*root_, glm::mat4(1.0f), lights, ambient);
  return lights;
}

}  // namespace tarvo::engine
