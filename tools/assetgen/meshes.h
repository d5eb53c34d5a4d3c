#pragma once

#include <memory>

#include "engine/scene/mesh_builder.h"

namespace tarvo::assetgen {

/// The eight avatar part meshes, each in its part frame's coordinates so that the part table's
/// standing keys pose a figure about 40 units tall facing -z. `body_texture` is named by the
/// body's material.
engine::MeshData MakeHead();
engine::MeshData MakeBody(const std::shared_ptr<engine::Texture>& body_texture);
engine::MeshData MakeArm(bool right);
engine::MeshData MakeHand(bool right);
engine::MeshData MakeFoot(bool right);

/// The default level: a tiled floor with walls around it, a step, a ramp up to a platform.
engine::MeshData MakeLevel();

}  // namespace tarvo::assetgen
