#pragma once

#include <cstdint>
#include <glm/vec3.hpp>
#include <vector>

#include "client/game/collision.h"

namespace tarvo::client {

/// Collision over a uniform grid on x and z. Each tick examines, from the last to the first,
/// only the faces whose reach overlaps the probes' reach; every other face is proven to leave
/// velocity, landing, jump state and shadow untouched, so results are bit-identical to
/// `PlainCollider`.
class GridCollider : public LevelCollider {
 public:
  /// Where the index holds: a face with a corner beyond half of this is examined on every
  /// tick, and a tick whose probes reach beyond it examines every face.
  static constexpr float kUniverse = 131072.0f;

  void SetFaces(std::vector<LevelFace> faces) override;
  const std::vector<LevelFace>& Faces() const override { return faces_; }
  void Collide(glm::vec3& velocity, glm::vec3 right, glm::vec3 forward,
               Mover& mover) const override;

  /// Edge length of a grid cell; 0 while no face is in the grid.
  float cell_size() const { return cell_; }
  /// Faces examined on every tick because no bound on where they act could be proven.
  size_t unbounded_count() const { return unbounded_.size(); }

 private:
  enum class Kind : std::uint8_t { kInert, kFloor, kWall };
  // Where a face can act: a floor only when a moved ground probe lies in `lo`..`hi` on (x, z);
  // a wall only when a probe moved onto its plane lies in the box.
  struct Reach {
    Kind kind = Kind::kInert;
    bool bounded = false;
    glm::vec3 lo{0.0f};
    glm::vec3 hi{0.0f};
  };
  // The query of one tick for a given bound on the velocity's size.
  struct Window {
    glm::vec3 floor_lo, floor_hi, wall_lo, wall_hi;
  };

  bool MakeWindow(glm::vec3 position, glm::vec3 right, glm::vec3 forward, float speed,
                  Window& window) const;
  bool Acts(std::uint32_t index, const Window& window, bool landed) const;
  void Gather(const Window& window, bool landed, std::uint32_t below,
              std::vector<std::uint32_t>& out) const;
  // Cells of a coordinate, clamped to the grid. Faces and queries use the same monotone mapping,
  // so a face box and a window that overlap share a cell.
  int Column(float x) const;
  int Row(float z) const;
  void BuildGrid();

  std::vector<LevelFace> faces_;
  std::vector<Reach> reach_;
  std::vector<std::uint32_t> unbounded_;  // ascending
  std::vector<std::uint32_t> wide_;       // bounded but over too many cells; ascending
  float origin_x_ = 0.0f;
  float origin_z_ = 0.0f;
  float cell_ = 0.0f;
  int columns_ = 0;
  int rows_ = 0;
  std::vector<std::uint32_t> cell_start_;  // per cell, into cell_faces_; one extra at the end
  std::vector<std::uint32_t> cell_faces_;  // ascending within a cell
};

}  // namespace tarvo::client
