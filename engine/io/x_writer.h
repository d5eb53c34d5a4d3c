#pragma once

#include <string>

#include "base/result.h"
#include "engine/scene/mesh_builder.h"

namespace tarvo::engine::io {

/// The mesh as DirectX .x text: vertices, faces with their corners, texture coordinates and
/// materials (colour and texture file name). Each run of faces with the same material is its own
/// mesh, so a reader that groups faces by material still sees them in this order.
std::string WriteXText(const MeshData& mesh);

/// Writes `WriteXText` to a file, replacing it atomically.
base::Result<void> SaveXFile(const MeshData& mesh, const std::string& path);

}  // namespace tarvo::engine::io
