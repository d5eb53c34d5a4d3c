#pragma once

// A large generated level for collision tests and benchmarks: rolling ground of triangles with
// a few holes, a plane far below everything, and around the origin boxes (steps and ledges),
// turned walls, ramps, floating slabs with ceilings and a few faces without area.

#include <cmath>
#include <cstdint>
#include <glm/geometric.hpp>
#include <memory>
#include <string>
#include <vector>

#include "engine/scene/mesh_builder.h"
#include "engine/scene/scene.h"

namespace tarvo::testing {

/// Builds the terrain level; `squares` per side of ground, two triangles each.
class TerrainBuilder {
 public:
  /// Half the side of the ground square.
  static constexpr float kHalf = 3900.0f;
  /// The middle of a hole in the ground, away from the other features.
  static constexpr glm::vec3 kHole{0.0f, 0.0f, 1500.0f};

  static float Height(float x, float z) {
    return 30.0f * std::sin(x / 230.0f) * std::cos(z / 190.0f) + 12.0f * std::sin((x + z) / 97.0f);
  }

  /// The level with `squares` x `squares` ground squares (224 gives over 100,000 faces).
  static engine::MeshData Build(int squares) {
    TerrainBuilder b;
    // First in the list, so examined last: it catches whatever falls through a hole.
    b.Quad({-4000, -600, -4000}, {-4000, -600, 4000}, {4000, -600, 4000}, {4000, -600, -4000},
           {0, 1, 0});
    const float step = 2.0f * kHalf / static_cast<float>(squares);
    const uint32_t base = static_cast<uint32_t>(b.mesh_.positions.size());
    for (int r = 0; r <= squares; ++r) {
      for (int c = 0; c <= squares; ++c) {
        const float x = -kHalf + step * static_cast<float>(c);
        const float z = -kHalf + step * static_cast<float>(r);
        b.mesh_.AddVertex({x, Height(x, z), z});
      }
    }
    const uint32_t stride = static_cast<uint32_t>(squares) + 1;
    for (int r = 0; r < squares; ++r) {
      for (int c = 0; c < squares; ++c) {
        if (Hash(r / 2, c / 2) % 293 == 7) continue;  // a hole of up to 2 x 2 squares
        const float cx = -kHalf + step * (static_cast<float>(c) + 0.5f);
        const float cz = -kHalf + step * (static_cast<float>(r) + 0.5f);
        if (std::fabs(cx - kHole.x) < 60.0f && std::fabs(cz - kHole.z) < 60.0f) continue;
        const uint32_t i = base + static_cast<uint32_t>(r) * stride + static_cast<uint32_t>(c);
        // (i, i + stride, i + stride + 1) runs clockwise seen from above: normal up.
        b.mesh_.AddFace({i, i + stride, i + stride + 1}, {});
        b.mesh_.AddFace({i, i + stride + 1, i + 1}, {});
      }
    }
    // Features on a jittered lattice around the origin, the start square left free.
    for (int gz = -10; gz <= 10; ++gz) {
      for (int gx = -10; gx <= 10; ++gx) {
        if (gx == 0 && gz == 0) continue;
        const uint32_t h = Hash(gx + 100, gz + 100);
        const float cx = 120.0f * static_cast<float>(gx) + static_cast<float>(h % 41) - 20.0f;
        const float cz = 120.0f * static_cast<float>(gz) + static_cast<float>(h / 41 % 41) - 20.0f;
        const float size = 25.0f + static_cast<float>(h / 1681 % 30);
        const float ground = Height(cx, cz);
        switch (h / 50421 % 6) {
          case 0:  // a step
            b.Box(cx, cz, size, ground - 20.0f, ground + 12.0f + static_cast<float>(h % 16), 0.0f);
            break;
          case 1:  // a ledge
            b.Box(cx, cz, size, ground - 20.0f, ground + 40.0f + static_cast<float>(h % 60), 0.0f);
            break;
          case 2:  // a turned wall
            b.Box(cx, cz, size, ground - 20.0f, ground + 80.0f, 0.3f + 0.1f * (h % 7));
            break;
          case 3:  // a slab overhead: ceiling below, floor on top
            b.Box(cx, cz, size + 30.0f, ground + 55.0f + static_cast<float>(h % 20),
                  ground + 70.0f + static_cast<float>(h % 20), 0.0f);
            break;
          case 4:  // a ramp up to a ledge
            b.Quad({cx - size, ground - 2.0f, cz - size}, {cx - size, ground + 45.0f, cz + size},
                   {cx + size, ground + 45.0f, cz + size}, {cx + size, ground - 2.0f, cz - size},
                   {0, 1, 0});
            break;
          default:  // faces without area: coincident and collinear corners
            b.Triangle({cx, ground + 5.0f, cz}, {cx, ground + 5.0f, cz}, {cx, ground + 5.0f, cz});
            b.Triangle({cx - size, ground, cz}, {cx, ground + 20.0f, cz},
                       {cx + size, ground + 40.0f, cz});
            break;
        }
      }
    }
    return std::move(b.mesh_);
  }

 private:
  static uint32_t Hash(int a, int b) {
    uint32_t h = static_cast<uint32_t>(a) * 73856093u ^ static_cast<uint32_t>(b) * 19349663u;
    h ^= h >> 13;
    h *= 0x5bd1e995u;
    return h ^ (h >> 15);
  }

  void Triangle(glm::vec3 a, glm::vec3 b, glm::vec3 c) {
    const uint32_t i = mesh_.AddVertex(a);
    mesh_.AddVertex(b);
    mesh_.AddVertex(c);
    mesh_.AddFace({i, i + 1, i + 2}, {});
  }

  // A quad whose normal points along `outward`.
  void Quad(glm::vec3 a, glm::vec3 b, glm::vec3 c, glm::vec3 d, glm::vec3 outward) {
    if (glm::dot(engine::FaceNormal({a, b, c, d}), outward) < 0.0f) std::swap(b, d);
    const uint32_t i = mesh_.AddVertex(a);
    mesh_.AddVertex(b);
    mesh_.AddVertex(c);
    mesh_.AddVertex(d);
    mesh_.AddFace({i, i + 1, i + 2, i + 3}, {});
  }

  // A box of half side `half` from y0 to y1, turned by `turn` radians about its centre.
  void Box(float cx, float cz, float half, float y0, float y1, float turn) {
    const float cs = std::cos(turn), sn = std::sin(turn);
    glm::vec3 lo[4], hi[4];
    const float sx[4] = {-1, 1, 1, -1}, sz[4] = {-1, -1, 1, 1};
    for (int k = 0; k < 4; ++k) {
      const float x = cx + half * (sx[k] * cs - sz[k] * sn);
      const float z = cz + half * (sx[k] * sn + sz[k] * cs);
      lo[k] = {x, y0, z};
      hi[k] = {x, y1, z};
    }
    const glm::vec3 centre(cx, (y0 + y1) / 2.0f, cz);
    for (int k = 0; k < 4; ++k) {
      const int n = (k + 1) % 4;
      const glm::vec3 mid = (lo[k] + lo[n]) * 0.5f;
      Quad(lo[k], hi[k], hi[n], lo[n], {mid.x - centre.x, 0.0f, mid.z - centre.z});
    }
    Quad(hi[0], hi[1], hi[2], hi[3], {0, 1, 0});
    Quad(lo[0], lo[1], lo[2], lo[3], {0, -1, 0});
  }

  engine::MeshData mesh_;
};

/// Serves the generated level for one file name and passes every other name on.
class TerrainLoader : public engine::Loader {
 public:
  TerrainLoader(engine::Loader* files, std::string name,
                std::shared_ptr<const engine::MeshData> mesh)
      : files_(files), name_(std::move(name)), mesh_(std::move(mesh)) {}
  bool LoadMesh(const std::string& file, engine::MeshBuilder& builder) override {
    if (file != name_) return files_->LoadMesh(file, builder);
    builder.SetData(*mesh_);
    return true;
  }
  std::shared_ptr<engine::Texture> LoadTexture(const std::string& file) override {
    return files_->LoadTexture(file);
  }

 private:
  engine::Loader* files_;
  std::string name_;
  std::shared_ptr<const engine::MeshData> mesh_;
};

}  // namespace tarvo::testing
