#pragma once

#include <cstdint>
#include <glm/mat4x4.hpp>
#include <glm/vec2.hpp>
#include <glm/vec3.hpp>
#include <memory>
#include <vector>

#include "engine/scene/color.h"
#include "engine/scene/texture.h"
#include "engine/scene/visual.h"

namespace tarvo::engine {

class Frame;

/// One polygon of a mesh, kept with as many corners as it was given.
struct Face {
  std::vector<uint32_t> indices;  ///< Corners, indices into the mesh's vertices.
  glm::vec3 normal{0.0f};         ///< Unit normal; front faces run clockwise seen from the front.
  Color color;                    ///< Material colour.
  std::shared_ptr<Texture> texture;  ///< Texture of the face, or none.

  /// Number of corners.
  size_t VertexCount() const { return indices.size(); }
};

/// The geometry shared by mesh builders and still meshes.
struct MeshData {
  std::vector<glm::vec3> positions;  ///< Vertex positions.
  std::vector<glm::vec2> uvs;        ///< Texture coordinates, one per vertex (0, 0 at top left).
  std::vector<Face> faces;           ///< Faces in the order they were added.
  bool perspective = false;          ///< Perspective-correct texturing asked for.

  /// Adds a vertex and gives its index.
  uint32_t AddVertex(glm::vec3 position, glm::vec2 uv = {});
  /// Adds a face over existing vertices and computes its normal; bad indices drop the face.
  bool AddFace(std::vector<uint32_t> indices, Color color,
               std::shared_ptr<Texture> texture = nullptr);
  /// The positions of a face's corners in order.
  std::vector<glm::vec3> FaceVertices(const Face& face) const;
  /// Appends another mesh's geometry moved by `transform`.
  void Append(const MeshData& other, const glm::mat4& transform);
};

/// The normal of a polygon: (v1 - v0) x (v2 - v1), normalized, taken at the first corner where
/// the edges are not parallel; zero for a degenerate polygon.
glm::vec3 FaceNormal(const std::vector<glm::vec3>& corners);

/// A still snapshot of geometry, as made by `MeshBuilder::CreateMesh`.
class Mesh : public Visual {
 public:
  /// A mesh holding a copy of `data`.
  explicit Mesh(MeshData data);
  Kind kind() const override { return Kind::kMesh; }
  /// A number unique to this mesh.
  uint64_t id() const { return id_; }
  /// The geometry.
  const MeshData& data() const { return data_; }

 private:
  uint64_t id_;
  MeshData data_;
};

/// Editable geometry with colours and textures, loaded from a file or assembled from frames.
class MeshBuilder : public Visual {
 public:
  MeshBuilder();
  Kind kind() const override { return Kind::kMeshBuilder; }

  /// A number unique to this builder.
  uint64_t id() const { return id_; }
  /// Counts changes; renderers rebuild their copy when it moves.
  uint32_t version() const { return version_; }
  /// The geometry.
  const MeshData& data() const { return data_; }
  /// Replaces the geometry (a loader fills a builder this way).
  void SetData(MeshData data);
  /// Removes every vertex and face.
  void Clear();

  /// Adds a vertex and gives its index.
  uint32_t AddVertex(glm::vec3 position, glm::vec2 uv = {});
  /// Adds a face over existing vertices; false when an index is out of range or it has < 3.
  bool AddFace(std::vector<uint32_t> indices, Color color = {});

  /// The faces in order, each with normal, corner count and corners.
  const std::vector<Face>& Faces() const { return data_.faces; }
  /// Number of faces.
  size_t FaceCount() const { return data_.faces.size(); }
  /// The corners of face `index` in order.
  std::vector<glm::vec3> FaceVertices(size_t index) const;

  /// Gives every face the colour.
  void SetColor(Color color);
  /// Gives every face the colour 0xRRGGBB.
  void SetColorRgb(uint32_t rgb) { SetColor(Color::FromRgb(rgb)); }
  /// Gives every face the texture (none removes it).
  void SetTexture(const std::shared_ptr<Texture>& texture);
  /// The first face's texture, or none.
  std::shared_ptr<Texture> GetTexture() const;
  /// Switches perspective-correct texturing.
  void SetPerspective(bool on);
  /// Whether perspective-correct texturing is on.
  bool perspective() const { return data_.perspective; }

  /// Adds the meshes of `frame` and of all frames below it, in `frame`'s own coordinates.
  void AddFrame(const Frame& frame);
  /// Adds a mesh's geometry moved by `transform`.
  void AddMesh(const MeshData& data, const glm::mat4& transform);
  /// A still snapshot of the current geometry.
  std::shared_ptr<Mesh> CreateMesh() const;

 private:
  uint64_t id_;
  uint32_t version_ = 0;
  MeshData data_;
};

}  // namespace tarvo::engine
