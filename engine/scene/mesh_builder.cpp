#include "engine/scene/mesh_builder.h"

#include <glm/geometric.hpp>
#include <glm/mat3x3.hpp>
#include <glm/mat4x4.hpp>

#include "engine/scene/frame.h"

namespace tarvo::engine {

glm::vec3 FaceNormal(const std::vector<glm::vec3>& corners) {
  const size_t n = corners.size();
  if (n < 3) return glm::vec3(0.0f);
  for (size_t i = 0; i < n; ++i) {
    const glm::vec3& a = corners[i];
    const glm::vec3& b = corners[(i + 1) % n];
    const glm::vec3& c = corners[(i + 2) % n];
    const glm::vec3 cross = glm::cross(b - a, c - b);
    const float length = glm::length(cross);
    if (length > 1e-12f) return cross / length;
  }
  return glm::vec3(0.0f);
}

uint32_t MeshData::AddVertex(glm::vec3 position, glm::vec2 uv) {
  positions.push_back(position);
  uvs.push_back(uv);
  return static_cast<uint32_t>(positions.size() - 1);
}

bool MeshData::AddFace(std::vector<uint32_t> indices, Color color,
                       std::shared_ptr<Texture> texture) {
  if (indices.size() < 3) return false;
  for (uint32_t index : indices) {
    if (index >= positions.size()) return false;
  }
  Face face;
  face.indices = std::move(indices);
  face.color = color;
  face.texture = std::move(texture);
  face.normal = FaceNormal(FaceVertices(face));
  faces.push_back(std::move(face));
  return true;
}

std::vector<glm::vec3> MeshData::FaceVertices(const Face& face) const {
  std::vector<glm::vec3> corners;
  corners.reserve(face.indices.size());
  for (uint32_t index : face.indices) corners.push_back(positions[index]);
  return corners;
}

void MeshData::Append(const MeshData& other, const glm::mat4& transform) {
  const uint32_t base = static_cast<uint32_t>(positions.size());
  for (size_t i = 0; i < other.positions.size(); ++i) {
    positions.push_back(glm::vec3(transform * glm::vec4(other.positions[i], 1.0f)));
    uvs.push_back(i < other.uvs.size() ? other.uvs[i] : glm::vec2(0.0f));
  }
  for (const Face& face : other.faces) {
    Face moved = face;
    for (uint32_t& index : moved.indices) index += base;
    moved.normal = FaceNormal(FaceVertices(moved));
    faces.push_back(std::move(moved));
  }
}

Mesh::Mesh(MeshData data) : id_(NextObjectId()), data_(std::move(data)) {}

MeshBuilder::MeshBuilder() : id_(NextObjectId()) {}

void MeshBuilder::SetData(MeshData data) {
  const bool perspective = data_.perspective;
  data_ = std::move(data);
  data_.perspective = data_.perspective || perspective;
  ++version_;
}

void MeshBuilder::Clear() {
  data_.positions.clear();
  data_.uvs.clear();
  data_.faces.clear();
  ++version_;
}

uint32_t MeshBuilder::AddVertex(glm::vec3 position, glm::vec2 uv) {
  ++version_;
  return data_.AddVertex(position, uv);
}

bool MeshBuilder::AddFace(std::vector<uint32_t> indices, Color color) {
  ++version_;
  return data_.AddFace(std::move(indices), color);
}

std::vector<glm::vec3> MeshBuilder::FaceVertices(size_t index) const {
  if (index >= data_.faces.size()) return {};
  return data_.FaceVertices(data_.faces[index]);
}

void MeshBuilder::SetColor(Color color) {
  for (Face& face : data_.faces) face.color = color;
  ++version_;
}

void MeshBuilder::SetTexture(const std::shared_ptr<Texture>& texture) {
  for (Face& face : data_.faces) face.texture = texture;
  ++version_;
}

std::shared_ptr<Texture> MeshBuilder::GetTexture() const {
  return data_.faces.empty() ? nullptr : data_.faces.front().texture;
}

void MeshBuilder::SetPerspective(bool on) {
  data_.perspective = on;
  ++version_;
}

namespace {

void AddFrameRecursive(MeshData& out, const Frame& frame, const glm::mat4& to_target) {
  for (const auto& visual : frame.visuals()) {
    if (visual->kind() == Visual::Kind::kMeshBuilder) {
      out.Append(static_cast<const MeshBuilder&>(*visual).data(), to_target);
    } else if (visual->kind() == Visual::Kind::kMesh) {
      out.Append(static_cast<const Mesh&>(*visual).data(), to_target);
    }
  }
  for (const auto& child : frame.children()) {
    AddFrameRecursive(out, *child, to_target * child->LocalMatrix());
  }
}

}  // namespace

void MeshBuilder::AddFrame(const Frame& frame) {
  AddFrameRecursive(data_, frame, glm::mat4(1.0f));
  ++version_;
}

void MeshBuilder::AddMesh(const MeshData& data, const glm::mat4& transform) {
  data_.Append(data, transform);
  ++version_;
}

std::shared_ptr<Mesh> MeshBuilder::CreateMesh() const { return std::make_shared<Mesh>(data_); }

}  // namespace tarvo::engine
