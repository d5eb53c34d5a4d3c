#pragma once

#include <glm/vec2.hpp>
#include <glm/vec3.hpp>
#include <optional>
#include <span>
#include <vector>

namespace tarvo::client {

/// One face of the level as collision sees it: its unit normal and its corners in scene
/// coordinates, in the mesh's corner order.
struct LevelFace {
  glm::vec3 normal{0.0f};
  std::vector<glm::vec3> vertices;
};

/// A plane the local avatar's shadow falls on: a point of it and its normal.
struct ShadowPlane {
  glm::vec3 point{0.0f};
  glm::vec3 normal{0.0f, 1.0f, 0.0f};
  bool operator==(const ShadowPlane&) const = default;
};

/// Collision constants: distances in scene units.
inline constexpr float kGroundProbeOffset = 5.0f;
inline constexpr float kWallProbeHeight = 35.0f;
inline constexpr float kWallProbeSide = 10.0f;
inline constexpr float kWallDistance = 3.0f;
inline constexpr float kWallReachBehind = 5.0f;
inline constexpr float kStepRange = 30.0f;
inline constexpr float kShadowSlopeLimit = 0.2f;

/// What one tick's collision works on and changes: where the avatar stands, its jump state and
/// the plane its shadow was last put on during this tick.
struct Mover {
  glm::vec3 position{0.0f};  ///< The avatar's origin (the point on the floor), before the move.
  bool jumping = false;
  bool rising = true;
  int jump_step = 0;
  std::optional<ShadowPlane> shadow_plane;  ///< Set when the shadow moved this tick.
  /// The first floor found more than a step below a ground probe this tick: the avatar falls
  /// towards it unless another floor carries it.
  std::optional<ShadowPlane> far_floor;
};

/// Whether (p, q) lies inside or on the edge of a convex polygon of either winding, given as
/// (a, b) pairs. A polygon without area counts a point on its line as inside.
bool PointInPolygon(std::span<const glm::vec2> points, glm::vec2 point);

/// One probe at `probe` against one face: walls and ceilings push the velocity back so the
/// probe stops 3 units in front of them; floors (ground probes only) carry, land or start a
/// fall. True when a floor within a step of the probe handled it; a floor further below is only
/// noted in `mover.far_floor`.
bool ProbeFace(const LevelFace& face, bool ground, glm::vec3 probe, glm::vec3& velocity,
               Mover& mover);

/// After every face: with nothing carrying the avatar but a floor far below, the fall starts
/// (unless it is already in the air) and the shadow goes onto that floor.
void FinishCollision(bool landed, Mover& mover);

/// The seven probes of one face: four ground probes around the origin while nothing carried the
/// avatar yet, then three wall probes at head height. Gives the new `landed`.
bool CollideFace(const LevelFace& face, glm::vec3& velocity, bool landed, glm::vec3 right,
                 glm::vec3 forward, Mover& mover);

/// The collision of one tick over every face, from the last to the first.
void CollideAllFaces(std::span<const LevelFace> faces, glm::vec3& velocity, glm::vec3 right,
                     glm::vec3 forward, Mover& mover);

/// Hands each tick's collision the faces it must examine. The plain one examines every face;
/// an index may skip faces that cannot change the outcome, but must give identical results.
class LevelCollider {
 public:
  virtual ~LevelCollider() = default;
  /// Replaces the faces.
  virtual void SetFaces(std::vector<LevelFace> faces) = 0;
  /// The faces in mesh order.
  virtual const std::vector<LevelFace>& Faces() const = 0;
  /// Runs one tick's collision: the result of `CollideAllFaces` over `Faces()`.
  virtual void Collide(glm::vec3& velocity, glm::vec3 right, glm::vec3 forward,
                       Mover& mover) const = 0;
};

/// Examines every face in every tick.
class PlainCollider : public LevelCollider {
 public:
  void SetFaces(std::vector<LevelFace> faces) override { faces_ = std::move(faces); }
  const std::vector<LevelFace>& Faces() const override { return faces_; }
  void Collide(glm::vec3& velocity, glm::vec3 right, glm::vec3 forward,
               Mover& mover) const override {
    CollideAllFaces(faces_, velocity, right, forward, mover);
  }

 private:
  std::vector<LevelFace> faces_;
};

}  // namespace tarvo::client
