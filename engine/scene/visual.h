#pragma once

namespace tarvo::engine {

/// Something a frame shows: a mesh builder, a still mesh, a shadow or a texture decal.
class Visual {
 public:
  /// What kind of visual this is; the renderer draws each kind its own way.
  enum class Kind { kMeshBuilder, kMesh, kShadow, kDecal };

  virtual ~Visual() = default;
  /// The kind of this visual.
  virtual Kind kind() const = 0;
};

}  // namespace tarvo::engine
