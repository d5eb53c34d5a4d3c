// Mesh files as the client loads them (levels and avatar parts may come from a server): any
// bytes in a .x file load or fail cleanly, faces only name vertices that exist, and texture
// names reach the resolver as base names.
//
// assimp 5.2's .x reader trusts declared counts and crashes on, e.g., a MeshMaterialList that
// announces a material but holds no Material block:
//   Mesh m { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; MeshMaterialList { 1; 1; 0;; } }
// after "xof 0303txt 0032". LoadMeshFile refuses such files before assimp sees them
// (engine/io/x_check.h); a crash here means a case that check does not know yet.
#include <spdlog/spdlog.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "engine/io/mesh_file.h"

namespace {

std::string g_path;

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "mesh file: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Every rejected input would log a line; the fuzzer's own output is what matters here.
  spdlog::set_level(spdlog::level::off);
  // assimp reads from a path: one file per fuzzing process, rewritten for each input.
  g_path = (std::filesystem::temp_directory_path() /
            ("tarvo_fuzz_mesh_" + std::to_string(::getpid()) + ".x"))
               .string();
  std::atexit([] {
    std::error_code error;
    std::filesystem::remove(g_path, error);
  });
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  {
    std::ofstream file(g_path, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
  }
  tarvo::engine::MeshData mesh;
  const bool loaded = tarvo::engine::io::LoadMeshFile(
                          g_path, mesh,
                          [](const std::string& name) -> std::shared_ptr<tarvo::engine::Texture> {
                            if (name.empty() || name.find_first_of("/\\") != std::string::npos)
                              Fail("texture name is not a base name");
                            return nullptr;
                          })
                          .ok();
  if (!loaded && (!mesh.positions.empty() || !mesh.faces.empty())) Fail("failed load not empty");
  if (mesh.uvs.size() != mesh.positions.size()) Fail("texture coordinates do not match vertices");
  for (const auto& face : mesh.faces) {
    if (face.indices.size() < 3) Fail("face with fewer than three corners");
    for (std::uint32_t index : face.indices) {
      if (index >= mesh.positions.size()) Fail("face names a missing vertex");
    }
  }
  return 0;
}
