#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "engine/scene/scene.h"

namespace tarvo::engine::io {

/// Loads meshes and textures from files, looking up relative names in a list of folders.
class FileLoader : public Loader {
 public:
  /// A loader that searches `folders` in order for relative names (absolute names are used as
  /// they are). The current folder is searched when the list is empty.
  explicit FileLoader(std::vector<std::string> folders = {});

  /// Adds a folder to the end of the search list.
  void AddSearchFolder(std::string folder) { folders_.push_back(std::move(folder)); }
  /// The path of an existing file for `file`, or empty.
  std::string Resolve(const std::string& file) const;

  bool LoadMesh(const std::string& file, MeshBuilder& builder) override;
  std::shared_ptr<Texture> LoadTexture(const std::string& file) override;

 private:
  std::vector<std::string> folders_;
  // Pictures shared by every mesh that names them, while any still uses them.
  std::map<std::string, std::weak_ptr<Texture>> textures_;
};

}  // namespace tarvo::engine::io
