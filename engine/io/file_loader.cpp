#include "engine/io/file_loader.h"

#include <spdlog/spdlog.h>

#include <filesystem>

#include "engine/io/image_file.h"
#include "engine/io/mesh_file.h"

namespace tarvo::engine::io {

namespace fs = std::filesystem;

FileLoader::FileLoader(std::vector<std::string> folders) : folders_(std::move(folders)) {}

std::string FileLoader::Resolve(const std::string& file) const {
  if (file.empty()) return {};
  std::error_code error;
  const fs::path path(file);
  if (path.is_absolute() || folders_.empty()) {
    return fs::is_regular_file(path, error) ? file : std::string();
  }
  for (const auto& folder : folders_) {
    const fs::path candidate = fs::path(folder) / path;
    if (fs::is_regular_file(candidate, error)) return candidate.string();
  }
  return {};
}

bool FileLoader::LoadMesh(const std::string& file, MeshBuilder& builder) {
  const std::string path = Resolve(file);
  MeshData data;
  data.perspective = builder.perspective();
  bool ok = false;
  if (path.empty()) {
    spdlog::warn("mesh file {} not found", file);
  } else {
    const std::string folder = fs::path(path).parent_path().string();
    ok = LoadMeshFile(path, data, [&](const std::string& name) {
           // Textures named by a mesh sit beside it or in the search folders.
           const std::string beside = (fs::path(folder) / name).string();
           std::error_code error;
           return LoadTexture(fs::is_regular_file(beside, error) ? beside : name);
         }).ok();
  }
  builder.SetData(std::move(data));
  return ok;
}

std::shared_ptr<Texture> FileLoader::LoadTexture(const std::string& file) {
  const std::string path = Resolve(file);
  if (path.empty()) {
    spdlog::warn("texture {} not found", file);
    return nullptr;
  }
  auto& cached = textures_[path];
  if (auto texture = cached.lock()) return texture;
  std::optional<Image> image = LoadImageFile(path);
  if (!image) return nullptr;
  auto texture = std::make_shared<Texture>(std::move(*image), fs::path(path).filename().string());
  cached = texture;
  return texture;
}

}  // namespace tarvo::engine::io
