#include "engine/io/mesh_file.h"

#include <assimp/postprocess.h>
#include <assimp/scene.h>
#include <spdlog/spdlog.h>

#include <assimp/Importer.hpp>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

#include "engine/io/x_check.h"

namespace tarvo::engine::io {
namespace {

glm::mat4 ToGlm(const aiMatrix4x4& m) {
  glm::mat4 out;
  for (int row = 0; row < 4; ++row) {
    for (int col = 0; col < 4; ++col) out[col][row] = m[row][col];
  }
  return out;
}

struct Material {
  Color color;
  std::shared_ptr<Texture> texture;
};

void AddNode(const aiScene& scene, const aiNode& node, const glm::mat4& parent,
             const std::vector<Material>& materials, MeshData& out) {
  const glm::mat4 transform = parent * ToGlm(node.mTransformation);
  for (unsigned i = 0; i < node.mNumMeshes; ++i) {
    if (node.mMeshes[i] >= scene.mNumMeshes) continue;
    const aiMesh& mesh = *scene.mMeshes[node.mMeshes[i]];
    const Material material =
        mesh.mMaterialIndex < materials.size() ? materials[mesh.mMaterialIndex] : Material{};
    const uint32_t base = static_cast<uint32_t>(out.positions.size());
    for (unsigned v = 0; v < mesh.mNumVertices; ++v) {
      const aiVector3D& p = mesh.mVertices[v];
      glm::vec2 uv(0.0f);
      if (mesh.HasTextureCoords(0)) uv = {mesh.mTextureCoords[0][v].x, mesh.mTextureCoords[0][v].y};
      out.AddVertex(glm::vec3(transform * glm::vec4(p.x, p.y, p.z, 1.0f)), uv);
    }
    for (unsigned f = 0; f < mesh.mNumFaces; ++f) {
      const aiFace& face = mesh.mFaces[f];
      if (face.mNumIndices < 3) continue;  // points and lines are not drawn
      std::vector<uint32_t> indices(face.mIndices, face.mIndices + face.mNumIndices);
      for (uint32_t& index : indices) index += base;
      out.AddFace(std::move(indices), material.color, material.texture);
    }
  }
  for (unsigned i = 0; i < node.mNumChildren; ++i) {
    AddNode(scene, *node.mChildren[i], transform, materials, out);
  }
}

}  // namespace

base::Result<void> LoadMeshFile(const std::string& path, MeshData& out,
                                const TextureResolver& resolve) {
  const bool perspective = out.perspective;
  out = MeshData{};
  out.perspective = perspective;
  std::error_code error;
  if (!std::filesystem::is_regular_file(path, error)) {
    spdlog::warn("mesh file {} not found", path);
    return base::Fail("mesh file " + path + " not found");
  }
  std::string reason;
  try {
    // Levels come from servers: a .x file is checked before assimp's reader sees it, and the
    // reader is then given the very bytes that were checked.
    std::ifstream file(path, std::ios::binary);
    if (!file.is_open()) {
      spdlog::warn("mesh file {} could not be opened", path);
      return base::Fail("mesh file " + path + " could not be opened");
    }
    const std::string data{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
    const bool is_x = IsXFile(data);
    if (is_x) {
      if (const std::string problem = FindXFileProblem(data); !problem.empty()) {
        spdlog::warn("mesh file {} refused: {}", path, problem);
        return base::Fail("mesh file " + path + " refused: " + problem);
      }
    }
    Assimp::Importer importer;
    // The .x reader turns files right-handed by default; asking for left-handed output undoes
    // that, so vertices, face order and texture coordinates come back as written. Faces are
    // neither triangulated nor merged: collision needs the polygons as they are.
    constexpr unsigned kFlags = aiProcess_ConvertToLeftHanded;
    const aiScene* scene = is_x ? importer.ReadFileFromMemory(data.data(), data.size(), kFlags, "x")
                                : importer.ReadFile(path, kFlags);
    if (!scene || !scene->mRootNode) {
      spdlog::warn("mesh file {} could not be read: {}", path, importer.GetErrorString());
      return base::Fail("mesh file " + path + " could not be read: " + importer.GetErrorString());
    }
    std::vector<Material> materials(scene->mNumMaterials);
    std::map<std::string, std::shared_ptr<Texture>> textures;
    for (unsigned i = 0; i < scene->mNumMaterials; ++i) {
      const aiMaterial& material = *scene->mMaterials[i];
      aiColor4D diffuse(1.0f, 1.0f, 1.0f, 1.0f);
      if (material.Get(AI_MATKEY_COLOR_DIFFUSE, diffuse) == AI_SUCCESS) {
        materials[i].color = Color{diffuse.r, diffuse.g, diffuse.b};
      }
      aiString file;
      if (resolve && material.GetTexture(aiTextureType_DIFFUSE, 0, &file) == AI_SUCCESS) {
        // A mesh may come from the network: only its base name is used.
        std::string name = file.C_Str();
        const size_t slash = name.find_last_of("/\\");
        if (slash != std::string::npos) name = name.substr(slash + 1);
        if (name.empty()) continue;
        auto it = textures.find(name);
        if (it == textures.end()) it = textures.emplace(name, resolve(name)).first;
        materials[i].texture = it->second;
      }
    }
    AddNode(*scene, *scene->mRootNode, glm::mat4(1.0f), materials, out);
    return base::Ok();
  } catch (const std::exception& e) {
    reason = e.what();
  } catch (...) {
    reason = "an unknown error";
  }
  spdlog::warn("mesh file {} could not be read: {}", path, reason);
  out = MeshData{};
  out.perspective = perspective;
  return base::Fail("mesh file " + path + " could not be read: " + reason);
}

}  // namespace tarvo::engine::io
