#pragma once

#include <functional>
#include <memory>
#include <string>

#include "base/result.h"
#include "engine/scene/mesh_builder.h"
#include "engine/scene/texture.h"

namespace tarvo::engine::io {

/// Gives the texture for a file name found in a mesh file (a base name), or none.
using TextureResolver = std::function<std::shared_ptr<Texture>(const std::string& name)>;

/// Reads a mesh file (DirectX .x text, or any other format assimp reads) as it lies in the file:
/// vertices unchanged, faces in order with their corners as written (a quad stays a quad),
/// material colours, and textures through `resolve` (may be empty). Frames in the file are
/// flattened. A .x file that FindXFileProblem refuses (binary or compressed ones among them) is
/// not read. On failure `out` is left empty, a line is logged and the reason returned.
base::Result<void> LoadMeshFile(const std::string& path, MeshData& out,
                                const TextureResolver& resolve = {});

}  // namespace tarvo::engine::io
