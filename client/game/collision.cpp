#include "client/game/collision.h"

#include <glm/geometric.hpp>

namespace tarvo::client {
namespace {

// The inside test over n corners given by an accessor, so probes need no copy of the corners.
// Both windings are tried; a point on an edge gives e = 0 and counts as inside.
template <typename Corner>
bool InsideConvex(size_t n, Corner corner, glm::vec2 point) {
  if (n == 0) return false;
  bool inside = true;
  for (size_t i = 0; i < n && inside; ++i) {
    const glm::vec2 a = corner(i);
    const glm::vec2 b = corner((i + 1) % n);
    const float e = (point.x - a.x) * (b.y - a.y) + (point.y - a.y) * (a.x - b.x);
    inside = e >= 0.0f;
  }
  if (inside) return true;
  inside = true;
  for (size_t k = n; k-- > 0 && inside;) {
    const glm::vec2 a = corner(k);
    const glm::vec2 b = corner((n + k - 1) % n);
    const float e = (point.x - a.x) * (b.y - a.y) + (point.y - a.y) * (a.x - b.x);
    inside = e >= 0.0f;
  }
  return inside;
}

bool InsideXZ(const LevelFace& face, glm::vec3 p) {
  const auto& v = face.vertices;
  return InsideConvex(
      v.size(), [&](size_t i) { return glm::vec2(v[i].x, v[i].z); }, glm::vec2(p.x, p.z));
}

bool InsideAllProjections(const LevelFace& face, glm::vec3 p) {
  const auto& v = face.vertices;
  return InsideConvex(
             v.size(), [&](size_t i) { return glm::vec2(v[i].x, v[i].y); }, glm::vec2(p.x, p.y)) &&
         InsideXZ(face, p) &&
         InsideConvex(
             v.size(), [&](size_t i) { return glm::vec2(v[i].z, v[i].y); }, glm::vec2(p.z, p.y));
}

void StartFall(Mover& mover) {
  mover.jumping = true;
  mover.rising = false;
  mover.jump_step = 6;
}

}  // namespace

bool PointInPolygon(std::span<const glm::vec2> points, glm::vec2 point) {
  return InsideConvex(
      points.size(), [&](size_t i) { return points[i]; }, point);
}

bool ProbeFace(const LevelFace& face, bool ground, glm::vec3 probe, glm::vec3& velocity,
               Mover& mover) {
  if (face.vertices.empty()) return false;
  const glm::vec3 n = face.normal;
  const glm::vec3 v0 = face.vertices[0];
  const glm::vec3 moved = probe + velocity;
  if (n.y <= 0.0f) {
    // A wall or a ceiling: stop the probe in front of it.
    const float a = glm::dot(moved - v0, n);
    const float b = glm::dot(probe - v0, n);
    const float f = glm::dot(velocity, velocity);
    if (a < kWallDistance && b >= -kWallReachBehind && f > 0.0f) {
      // Tested on the face's plane: seen edge-on, a projection would hold any point of its line.
      const glm::vec3 on_plane = probe - b * n;
      if (InsideAllProjections(face, on_plane)) {
        velocity += (kWallDistance - a) * n;
        if (mover.jumping && mover.rising && n.y < 0.0f) {
          mover.jump_step = 6;  // the head bumps: the fall begins
          mover.rising = false;
        }
      }
    }
    return false;
  }
  if (!ground) return false;
  if (!InsideXZ(face, moved)) return false;
  const float a = glm::dot(moved - v0, n);
  if (a > kStepRange) {
    // Only a possible fall: another floor within a step may still carry the avatar, whatever
    // the order of the faces (a bridge over a lower floor).
    if (!mover.far_floor) mover.far_floor = ShadowPlane{v0, n};
    return false;
  }
  if (a < -kStepRange) return false;
  if (!mover.jumping || (!mover.rising && a <= 0.0f)) {
    mover.jumping = false;
    velocity -= a * n;
    if (n.y > kShadowSlopeLimit) mover.shadow_plane = ShadowPlane{v0, n};
    return true;
  }
  return a > 0.0f;
}

bool CollideFace(const LevelFace& face, glm::vec3& velocity, bool landed, glm::vec3 right,
                 glm::vec3 forward, Mover& mover) {
  const glm::vec3 q = mover.position;
  const glm::vec3 ground_probes[] = {
      q + kGroundProbeOffset * forward, q - kGroundProbeOffset * forward,
      q + kGroundProbeOffset * right, q - kGroundProbeOffset * right};
  for (const glm::vec3& probe : ground_probes) {
    if (!landed) landed = ProbeFace(face, true, probe, velocity, mover);
  }
  const glm::vec3 head = q + glm::vec3(0.0f, kWallProbeHeight, 0.0f);
  ProbeFace(face, false, head, velocity, mover);
  ProbeFace(face, false, head + kWallProbeSide * right, velocity, mover);
  ProbeFace(face, false, head - kWallProbeSide * right, velocity, mover);
  return landed;
}

void FinishCollision(bool landed, Mover& mover) {
  if (landed || !mover.far_floor) return;
  if (!mover.jumping) StartFall(mover);
  mover.shadow_plane = *mover.far_floor;
}

void CollideAllFaces(std::span<const LevelFace> faces, glm::vec3& velocity, glm::vec3 right,
                     glm::vec3 forward, Mover& mover) {
  bool landed = false;
  for (size_t i = faces.size(); i-- > 0;) {
    landed = CollideFace(faces[i], velocity, landed, right, forward, mover);
  }
  FinishCollision(landed, mover);
}

}  // namespace tarvo::client
