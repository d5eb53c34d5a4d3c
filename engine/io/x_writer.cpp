#include "engine/io/x_writer.h"

#include <cstdio>

#include "base/files.h"

namespace tarvo::engine::io {
namespace {

std::string Number(float value) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, "%.6f", static_cast<double>(value));
  return buffer;
}

bool SameMaterial(const Face& a, const Face& b) {
  return a.color == b.color && a.texture == b.texture;
}

void WriteRun(const MeshData& mesh, size_t first, size_t last, int index, std::string& out) {
  // Only the vertices the run uses are written, renumbered in order of first use.
  std::vector<int> remap(mesh.positions.size(), -1);
  std::vector<uint32_t> used;
  for (size_t f = first; f < last; ++f) {
    for (uint32_t v : mesh.faces[f].indices) {
      if (remap[v] < 0) {
        remap[v] = static_cast<int>(used.size());
        used.push_back(v);
      }
    }
  }
  out += "Mesh mesh" + std::to_string(index) + " {\n " + std::to_string(used.size()) + ";\n";
  for (size_t i = 0; i < used.size(); ++i) {
    const glm::vec3& p = mesh.positions[used[i]];
    out += " " + Number(p.x) + ";" + Number(p.y) + ";" + Number(p.z) + ";";
    out += i + 1 < used.size() ? ",\n" : ";\n";
  }
  out += " " + std::to_string(last - first) + ";\n";
  for (size_t f = first; f < last; ++f) {
    const Face& face = mesh.faces[f];
    out += " " + std::to_string(face.indices.size()) + ";";
    for (size_t i = 0; i < face.indices.size(); ++i) {
      out += std::to_string(remap[face.indices[i]]);
      out += i + 1 < face.indices.size() ? "," : ";";
    }
    out += f + 1 < last ? ",\n" : ";\n";
  }
  const Face& face = mesh.faces[first];
  out += " MeshMaterialList {\n  1;\n  " + std::to_string(last - first) + ";\n  ";
  for (size_t f = first; f < last; ++f) out += f + 1 < last ? "0," : "0;;\n";
  out += "  Material {\n   " + Number(face.color.r) + ";" + Number(face.color.g) + ";" +
         Number(face.color.b) +
         ";1.000000;;\n   0.000000;\n   0.000000;0.000000;0.000000;;\n"
         "   0.000000;0.000000;0.000000;;\n";
  if (face.texture && !face.texture->name().empty()) {
    out += "   TextureFilename {\n    \"" + face.texture->name() + "\";\n   }\n";
  }
  out += "  }\n }\n";
  if (face.texture) {
    out += " MeshTextureCoords {\n  " + std::to_string(used.size()) + ";\n";
    for (size_t i = 0; i < used.size(); ++i) {
      const glm::vec2 uv = used[i] < mesh.uvs.size() ? mesh.uvs[used[i]] : glm::vec2(0.0f);
      out += "  " + Number(uv.x) + ";" + Number(uv.y) + ";";
      out += i + 1 < used.size() ? ",\n" : ";\n";
    }
    out += " }\n";
  }
  out += "}\n";
}

}  // namespace

std::string WriteXText(const MeshData& mesh) {
  std::string out = "xof 0303txt 0032\n";
  size_t first = 0;
  int index = 0;
  while (first < mesh.faces.size()) {
    size_t last = first + 1;
    while (last < mesh.faces.size() && SameMaterial(mesh.faces[first], mesh.faces[last])) ++last;
    WriteRun(mesh, first, last, index++, out);
    first = last;
  }
  return out;
}

base::Result<void> SaveXFile(const MeshData& mesh, const std::string& path) {
  return base::WriteFileAtomically(path, WriteXText(mesh));
}

}  // namespace tarvo::engine::io
