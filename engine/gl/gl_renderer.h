#pragma once

#include <QOpenGLExtraFunctions>
#include <QSurfaceFormat>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "engine/scene/scene.h"
#include "engine/scene/shadow.h"

namespace tarvo::engine::gl {

/// The context format the renderer needs: OpenGL 3.3 core with depth and stencil buffers.
QSurfaceFormat RendererFormat();

/// Draws a scene with OpenGL 3.3 into the bound framebuffer: ambient and point lights, face
/// colours and textures, planar shadows, camera-facing decals, the background colour and the
/// viewport's clipping distances. Meshes and textures are uploaded once and again only when they
/// change. Every call needs the same current context.
class GlRenderer {
 public:
  GlRenderer();
  ~GlRenderer();
  GlRenderer(const GlRenderer&) = delete;
  GlRenderer& operator=(const GlRenderer&) = delete;

  /// Compiles the shaders in the current context; false (with a log line) when it fails.
  bool Initialize();
  /// Draws the scene into the bound framebuffer of `width` by `height` pixels.
  void Draw(const Scene& scene, int width, int height);
  /// Frees every GPU object; the context must still be current.
  void Release();

 private:
  struct Batch {
    int first = 0;
    int count = 0;
    const Texture* texture = nullptr;
    std::shared_ptr<Texture> keep;  // the texture stays alive while the batch may be drawn
  };
  struct GpuMesh {
    unsigned vao = 0;
    unsigned vbo = 0;
    uint32_t version = 0;
    uint64_t last_frame = 0;
    std::vector<Batch> batches;
  };
  struct GpuTexture {
    unsigned id = 0;
    uint32_t version = 0;
    uint64_t last_frame = 0;
  };
  struct Program;
  struct Frame3d;

  GpuMesh* Upload(uint64_t id, uint32_t version, const MeshData& data);
  unsigned BindTexture(const Texture& texture, bool decal);
  void DrawFrame(const Frame& frame, const glm::mat4& parent_world, Frame3d& state);
  void DrawMesh(const MeshData& data, uint64_t id, uint32_t version, const glm::mat4& world);
  void DrawShadow(const Shadow& shadow, const glm::mat4& world, Frame3d& state);
  void DrawDecal(const Texture& texture, const glm::mat4& world, Frame3d& state);
  void Evict();

  QOpenGLExtraFunctions* gl_ = nullptr;
  std::unique_ptr<Program> mesh_program_;
  std::unique_ptr<Program> shadow_program_;
  std::unique_ptr<Program> decal_program_;
  unsigned decal_vao_ = 0;
  unsigned decal_vbo_ = 0;
  std::unordered_map<uint64_t, GpuMesh> meshes_;
  std::unordered_map<uint64_t, GpuTexture> textures_;
  uint64_t frame_number_ = 0;
};

}  // namespace tarvo::engine::gl
