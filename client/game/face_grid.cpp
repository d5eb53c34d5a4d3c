#include "client/game/face_grid.h"

#include <algorithm>
#include <cmath>
#include <glm/common.hpp>
#include <limits>

namespace tarvo::client {
namespace {

constexpr float kU = GridCollider::kUniverse;
// Bounded faces stay well inside the universe, which keeps rounding in the reach margins far
// below the slack those margins carry.
constexpr float kFaceLimit = kU / 2.0f;
// Box tests one face may spend proving where it cannot act before it is examined every tick.
constexpr int kProofBudget = 4096;
// A face over more cells is kept in a list of its own and checked by its box.
constexpr long kMaxCellsPerFace = 256;
constexpr int kMaxColumns = 1024;

// Plain floats: the proof runs box tests by the ten thousand per level, also in debug builds.
struct Box {
  float lo[3];
  float hi[3];
};

// A face's corners, one array per axis.
struct Corners {
  explicit Corners(const std::vector<glm::vec3>& vertices) {
    for (int a = 0; a < 3; ++a) {
      axis[a].reserve(vertices.size());
      for (const glm::vec3& v : vertices) axis[a].push_back(v[a]);
    }
  }
  std::vector<float> axis[3];
};

// Whether the inside test's edge value for edge (a, b) is negative at every point of the box.
// The value is written as the collision writes it; each rounded operation in it is monotone in
// p, so its largest value over a box lies at one corner. The small allowance covers a compiler
// that fuses the multiply and add in one place but not in the other.
bool NegativeAllOver(float ax, float ay, float bx, float by, const Box& box, int u, int v) {
  const float px = by - ay >= 0.0f ? box.hi[u] : box.lo[u];
  const float py = ax - bx >= 0.0f ? box.hi[v] : box.lo[v];
  const float along = (px - ax) * (by - ay);
  const float across = (py - ay) * (ax - bx);
  return along + across < -(std::fabs(along) + std::fabs(across)) * 0x1p-20f;
}

// True when the inside test on the (u, v) projection fails at every point of the box: both
// windings meet an edge that is negative all over it.
bool OutsideEverywhere(const Corners& corners, const Box& box, int u, int v) {
  const std::vector<float>& cu = corners.axis[u];
  const std::vector<float>& cv = corners.axis[v];
  const size_t n = cu.size();
  bool forward_fails = false;
  for (size_t i = 0; i < n && !forward_fails; ++i) {
    const size_t j = (i + 1) % n;
    forward_fails = NegativeAllOver(cu[i], cv[i], cu[j], cv[j], box, u, v);
  }
  if (!forward_fails) return false;
  for (size_t k = n; k-- > 0;) {
    const size_t j = (n + k - 1) % n;
    if (NegativeAllOver(cu[k], cv[k], cu[j], cv[j], box, u, v)) return true;
  }
  return false;
}

// The probe tests floors on (x, z) only, walls on (x, y), (x, z) and (z, y).
bool Outside(const Corners& corners, const Box& box, bool wall) {
  return OutsideEverywhere(corners, box, 0, 2) ||
         (wall && (OutsideEverywhere(corners, box, 0, 1) || OutsideEverywhere(corners, box, 2, 1)));
}

// Boxes of floors span no height: only x and z (axes 0 and 2) count for them.
bool Disjoint(const Box& box, const Box& region, bool wall) {
  for (int a = 0; a < 3; a += wall ? 1 : 2) {
    if (box.hi[a] <= region.lo[a] || box.lo[a] >= region.hi[a]) return true;
  }
  return false;
}

bool Within(const Box& box, const Box& region, bool wall) {
  for (int a = 0; a < 3; a += wall ? 1 : 2) {
    if (box.lo[a] < region.lo[a] || box.hi[a] > region.hi[a]) return false;
  }
  return true;
}

// Where to cut a box along one axis, and how much the cut is worth: at a side of the region
// first, then nearer the region than far from it, then at a corner of the face.
struct Cut {
  int rank = -1;
  float at = 0.0f;
};

Cut CutAlong(const Corners& corners, const Box& box, const Box& region, int a) {
  const float lo = box.lo[a], hi = box.hi[a];
  if (!(hi - lo >= 1e-3f)) return {};
  Cut cut;
  if (lo < region.lo[a] && region.lo[a] < hi) {
    cut = {3, region.lo[a]};
  } else if (lo < region.hi[a] && region.hi[a] < hi) {
    cut = {3, region.hi[a]};
  } else if (lo >= region.hi[a]) {
    cut = {2, lo + std::max(lo - region.hi[a], region.hi[a] - region.lo[a])};
  } else if (hi <= region.lo[a]) {
    cut = {2, hi - std::max(region.lo[a] - hi, region.hi[a] - region.lo[a])};
  } else {
    // Within the region's span: at the corner nearest the middle, where edge lines cross.
    const float middle = lo + (hi - lo) * 0.5f;
    cut = {0, middle};
    for (float c : corners.axis[a]) {
      if (c > lo && c < hi &&
          (cut.rank == 0 || std::fabs(c - middle) < std::fabs(cut.at - middle))) {
        cut = {1, c};
      }
    }
  }
  if (!(cut.at > lo && cut.at < hi)) cut = {0, lo + (hi - lo) * 0.5f};
  if (!(cut.at > lo && cut.at < hi)) return {};
  return cut;
}

// Whether the face's inside test fails at every point of `box` outside `region`, cutting the
// box where one test over all of it is not enough.
bool Prove(const Corners& corners, bool wall, const Box& box, const Box& region, int& budget) {
  if (Within(box, region, wall)) return true;
  if (--budget < 0) return false;
  if (Disjoint(box, region, wall) && Outside(corners, box, wall)) return true;
  int axis = -1;
  Cut best;
  for (int a = 0; a < 3; a += wall ? 1 : 2) {
    const Cut cut = CutAlong(corners, box, region, a);
    if (cut.rank > best.rank || (cut.rank == best.rank && cut.rank >= 0 &&
                                 box.hi[a] - box.lo[a] > box.hi[axis] - box.lo[axis])) {
      best = cut;
      axis = a;
    }
  }
  if (axis < 0) return false;
  Box first = box;
  Box second = box;
  first.hi[axis] = best.at;
  second.lo[axis] = best.at;
  return Prove(corners, wall, first, region, budget) &&
         Prove(corners, wall, second, region, budget);
}

bool Finite(glm::vec3 v) { return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.z); }

float Speed(glm::vec3 v) { return std::fabs(v.x) + std::fabs(v.y) + std::fabs(v.z); }

// The size the candidates are gathered for: room to spare, so small pushes need no new query.
float PaddedSpeed(float speed) { return speed * 1.5f + 8.0f; }

bool Overlaps(float lo, float hi, float window_lo, float window_hi) {
  return lo <= window_hi && hi >= window_lo;
}

}  // namespace

void GridCollider::SetFaces(std::vector<LevelFace> faces) {
  faces_ = std::move(faces);
  reach_.assign(faces_.size(), Reach{});
  unbounded_.clear();
  // Each face gets a box outside of which its inside test (a floor's on x and z, a wall's in
  // all three projections) fails everywhere in the universe. A face for which that cannot be
  // shown is examined on every tick.
  for (size_t i = 0; i < faces_.size(); ++i) {
    const LevelFace& face = faces_[i];
    Reach& reach = reach_[i];
    if (face.vertices.empty()) continue;  // a probe returns at once
    // The same test that picks the branch in the probe (a NaN normal is a floor there).
    const bool wall = face.normal.y <= 0.0f;
    reach.kind = wall ? Kind::kWall : Kind::kFloor;
    glm::vec3 lo(std::numeric_limits<float>::max());
    glm::vec3 hi(std::numeric_limits<float>::lowest());
    bool inside = true;
    for (const glm::vec3& v : face.vertices) {
      inside = inside && std::fabs(v.x) <= kFaceLimit && std::fabs(v.y) <= kFaceLimit &&
               std::fabs(v.z) <= kFaceLimit;
      lo = glm::min(lo, v);
      hi = glm::max(hi, v);
    }
    const glm::vec3 n = face.normal;
    // A wall's push moves the probe along its normal; the reach margins assume a unit one.
    if (wall && !(std::fabs(n.x) <= 1.001f && std::fabs(n.y) <= 1.001f && std::fabs(n.z) <= 1.001f))
      inside = false;
    bool bounded = inside;
    if (bounded) {
      const float extent = std::max({std::fabs(lo.x), std::fabs(lo.y), std::fabs(lo.z),
                                     std::fabs(hi.x), std::fabs(hi.y), std::fabs(hi.z)});
      // Unequal margins per axis keep the region's corners off the lines of edges running
      // diagonally through the face's box, where no edge alone proves a box outside.
      const float margin = 0.25f + extent * 1e-4f;
      const glm::vec3 margins(margin, margin * 1.19f, margin * 1.37f);
      lo -= margins;
      hi += margins;
      // Everywhere in the universe outside the box (floors: on x and z only).
      const float y0 = wall ? -kU : 0.0f;
      const float y1 = wall ? kU : 0.0f;
      const Box universe{{-kU, y0, -kU}, {kU, y1, kU}};
      const Box region{{lo.x, wall ? lo.y : 0.0f, lo.z}, {hi.x, wall ? hi.y : 0.0f, hi.z}};
      int budget = kProofBudget;
      bounded = Prove(Corners(face.vertices), wall, universe, region, budget);
    }
    reach.bounded = bounded;
    reach.lo = lo;
    reach.hi = hi;
    if (!bounded) unbounded_.push_back(static_cast<std::uint32_t>(i));
  }
  BuildGrid();
}

int GridCollider::Column(float x) const {
  return std::clamp(static_cast<int>(std::floor((x - origin_x_) / cell_)), 0, columns_ - 1);
}

int GridCollider::Row(float z) const {
  return std::clamp(static_cast<int>(std::floor((z - origin_z_) / cell_)), 0, rows_ - 1);
}

void GridCollider::BuildGrid() {
  wide_.clear();
  cell_start_.clear();
  cell_faces_.clear();
  columns_ = rows_ = 0;
  cell_ = 0.0f;
  glm::vec2 lo(std::numeric_limits<float>::max());
  glm::vec2 hi(std::numeric_limits<float>::lowest());
  size_t count = 0;
  for (const Reach& reach : reach_) {
    if (reach.kind == Kind::kInert || !reach.bounded) continue;
    lo = glm::min(lo, glm::vec2(reach.lo.x, reach.lo.z));
    hi = glm::max(hi, glm::vec2(reach.hi.x, reach.hi.z));
    ++count;
  }
  if (count == 0) return;
  const float width = hi.x - lo.x;
  const float depth = hi.y - lo.y;
  // About two faces' worth of area per cell, within a bounded number of cells.
  float cell = 2.0f * std::sqrt(width * depth / static_cast<float>(count));
  cell = std::max({cell, 1.0f, width / kMaxColumns, depth / kMaxColumns});
  cell_ = cell;
  origin_x_ = lo.x;
  origin_z_ = lo.y;
  columns_ = std::clamp(static_cast<int>(width / cell) + 1, 1, kMaxColumns);
  rows_ = std::clamp(static_cast<int>(depth / cell) + 1, 1, kMaxColumns);

  // Two passes over the faces: count per cell, then fill, keeping each cell in face order.
  const size_t cells = static_cast<size_t>(columns_) * static_cast<size_t>(rows_);
  cell_start_.assign(cells + 1, 0);
  for (int pass = 0; pass < 2; ++pass) {
    std::vector<std::uint32_t> fill;
    if (pass == 1) {
      for (size_t c = 0; c < cells; ++c) cell_start_[c + 1] += cell_start_[c];
      cell_faces_.resize(cell_start_[cells]);
      fill.assign(cell_start_.begin(), cell_start_.end() - 1);
    }
    for (size_t i = 0; i < reach_.size(); ++i) {
      const Reach& reach = reach_[i];
      if (reach.kind == Kind::kInert || !reach.bounded) continue;
      const int c0 = Column(reach.lo.x), c1 = Column(reach.hi.x);
      const int r0 = Row(reach.lo.z), r1 = Row(reach.hi.z);
      if (static_cast<long>(c1 - c0 + 1) * (r1 - r0 + 1) > kMaxCellsPerFace) {
        if (pass == 0) wide_.push_back(static_cast<std::uint32_t>(i));
        continue;
      }
      for (int r = r0; r <= r1; ++r) {
        for (int c = c0; c <= c1; ++c) {
          const size_t cell_index = static_cast<size_t>(r) * columns_ + c;
          if (pass == 0) {
            ++cell_start_[cell_index + 1];
          } else {
            cell_faces_[fill[cell_index]++] = static_cast<std::uint32_t>(i);
          }
        }
      }
    }
  }
}

bool GridCollider::MakeWindow(glm::vec3 position, glm::vec3 right, glm::vec3 forward, float speed,
                              Window& window) const {
  if (!Finite(position) || !Finite(right) || !Finite(forward) || !std::isfinite(speed))
    return false;
  // The probes exactly as the collision places them.
  const glm::vec3 q = position;
  const glm::vec3 ground[] = {q + kGroundProbeOffset * forward, q - kGroundProbeOffset * forward,
                              q + kGroundProbeOffset * right, q - kGroundProbeOffset * right};
  const glm::vec3 head = q + glm::vec3(0.0f, kWallProbeHeight, 0.0f);
  const glm::vec3 heads[] = {head, head + kWallProbeSide * right, head - kWallProbeSide * right};
  glm::vec3 ground_lo = ground[0], ground_hi = ground[0];
  for (const glm::vec3& p : ground) {
    ground_lo = glm::min(ground_lo, p);
    ground_hi = glm::max(ground_hi, p);
  }
  glm::vec3 all_lo = ground_lo, all_hi = ground_hi;
  for (const glm::vec3& p : heads) {
    all_lo = glm::min(all_lo, p);
    all_hi = glm::max(all_hi, p);
  }
  // A moved ground probe lies within the speed of its probe. A wall acts on a probe moved onto
  // its unit normal's plane from at most 5 behind it or 3 plus the speed in front. The rest of
  // each reach is slack, far more than rounding inside the universe needs.
  const float floor_reach = speed + 1.0f;
  const float wall_reach = 10.0f + 1.01f * speed;
  window.floor_lo = ground_lo - floor_reach;
  window.floor_hi = ground_hi + floor_reach;
  window.wall_lo = all_lo - wall_reach;
  window.wall_hi = all_hi + wall_reach;
  // The faces' bounds were proven inside the universe only.
  return window.wall_lo.x >= -kU && window.wall_lo.y >= -kU && window.wall_lo.z >= -kU &&
         window.wall_hi.x <= kU && window.wall_hi.y <= kU && window.wall_hi.z <= kU;
}

bool GridCollider::Acts(std::uint32_t index, const Window& window, bool landed) const {
  const Reach& reach = reach_[index];
  switch (reach.kind) {
    case Kind::kInert:
      return false;
    case Kind::kFloor:
      // Once landed no ground probe runs, and a floor ignores the others.
      if (landed) return false;
      return !reach.bounded ||
             (Overlaps(reach.lo.x, reach.hi.x, window.floor_lo.x, window.floor_hi.x) &&
              Overlaps(reach.lo.z, reach.hi.z, window.floor_lo.z, window.floor_hi.z));
    case Kind::kWall:
      return !reach.bounded ||
             (Overlaps(reach.lo.x, reach.hi.x, window.wall_lo.x, window.wall_hi.x) &&
              Overlaps(reach.lo.y, reach.hi.y, window.wall_lo.y, window.wall_hi.y) &&
              Overlaps(reach.lo.z, reach.hi.z, window.wall_lo.z, window.wall_hi.z));
  }
  return true;
}

void GridCollider::Gather(const Window& window, bool landed, std::uint32_t below,
                          std::vector<std::uint32_t>& out) const {
  out.clear();
  for (const auto* list : {&unbounded_, &wide_}) {
    for (std::uint32_t i : *list) {
      if (i >= below) break;
      if (Acts(i, window, landed)) out.push_back(i);
    }
  }
  if (columns_ > 0) {
    const int c0 = Column(window.wall_lo.x), c1 = Column(window.wall_hi.x);
    const int r0 = Row(window.wall_lo.z), r1 = Row(window.wall_hi.z);
    for (int r = r0; r <= r1; ++r) {
      for (int c = c0; c <= c1; ++c) {
        const size_t cell = static_cast<size_t>(r) * columns_ + c;
        for (std::uint32_t k = cell_start_[cell]; k < cell_start_[cell + 1]; ++k) {
          const std::uint32_t i = cell_faces_[k];
          if (i >= below) break;
          if (Acts(i, window, landed)) out.push_back(i);
        }
      }
    }
  }
  std::sort(out.begin(), out.end(), std::greater<>());
  out.erase(std::unique(out.begin(), out.end()), out.end());
}

void GridCollider::Collide(glm::vec3& velocity, glm::vec3 right, glm::vec3 forward,
                           Mover& mover) const {
  bool landed = false;
  std::uint32_t below = static_cast<std::uint32_t>(faces_.size());
  float bound = PaddedSpeed(Speed(velocity));
  std::vector<std::uint32_t> candidates;
  Window window;
  for (;;) {
    if (!MakeWindow(mover.position, right, forward, bound, window)) {
      // Beyond what the index covers: the remaining faces one by one.
      for (std::uint32_t i = below; i-- > 0;) {
        landed = CollideFace(faces_[i], velocity, landed, right, forward, mover);
      }
      FinishCollision(landed, mover);
      return;
    }
    Gather(window, landed, below, candidates);
    bool grown = false;
    for (std::uint32_t i : candidates) {
      if (landed && reach_[i].kind == Kind::kFloor) continue;
      landed = CollideFace(faces_[i], velocity, landed, right, forward, mover);
      const float speed = Speed(velocity);
      if (!(speed <= bound)) {
        // Faster than the candidates were gathered for: the rest reach further.
        bound = PaddedSpeed(speed);
        below = i;
        grown = true;
        break;
      }
    }
    if (!grown) {
      FinishCollision(landed, mover);
      return;
    }
  }
}

}  // namespace tarvo::client
