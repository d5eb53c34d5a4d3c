#include "tools/assetgen/meshes.h"

#include <algorithm>
#include <glm/geometric.hpp>

namespace tarvo::assetgen {
namespace {

using engine::Color;
using engine::MeshData;

// Adds polygons wound so that their front faces the given way: clockwise seen from the front.
class Shaper {
 public:
  explicit Shaper(MeshData& mesh) : mesh_(mesh) {}

  // A polygon whose corners run around its outline in either direction; `outward` picks the
  // front. Textured polygons get coordinates spanning the picture as seen from the front.
  void Polygon(std::vector<glm::vec3> corners, glm::vec3 outward, Color color,
               const std::shared_ptr<engine::Texture>& texture = nullptr) {
    if (glm::dot(engine::FaceNormal(corners), outward) < 0)
      std::reverse(corners.begin(), corners.end());
    const glm::vec3 forward = -glm::normalize(outward);
    glm::vec3 up(0, 1, 0);
    if (std::abs(forward.y) > 0.9f) up = glm::vec3(0, 0, forward.y > 0 ? -1 : 1);
    const glm::vec3 right = glm::normalize(glm::cross(up, forward));
    up = glm::cross(forward, right);
    float min_r = 1e9f, max_r = -1e9f, min_u = 1e9f, max_u = -1e9f;
    for (const auto& c : corners) {
      min_r = std::min(min_r, glm::dot(c, right));
      max_r = std::max(max_r, glm::dot(c, right));
      min_u = std::min(min_u, glm::dot(c, up));
      max_u = std::max(max_u, glm::dot(c, up));
    }
    std::vector<uint32_t> indices;
    for (const auto& c : corners) {
      glm::vec2 uv(0.0f);
      if (texture) {
        uv.x = (glm::dot(c, right) - min_r) / std::max(max_r - min_r, 1e-6f);
        uv.y = (max_u - glm::dot(c, up)) / std::max(max_u - min_u, 1e-6f);
      }
      indices.push_back(mesh_.AddVertex(c, uv));
    }
    mesh_.AddFace(std::move(indices), color, texture);
  }

  // An axis-aligned box with its faces looking outwards; `bottom` false leaves the underside
  // open (nobody sees it and it costs collision time).
  void Box(glm::vec3 lo, glm::vec3 hi, Color color, bool bottom = true,
           const std::shared_ptr<engine::Texture>& texture = nullptr) {
    const float x0 = lo.x, y0 = lo.y, z0 = lo.z, x1 = hi.x, y1 = hi.y, z1 = hi.z;
    Polygon({{x0, y1, z0}, {x0, y1, z1}, {x1, y1, z1}, {x1, y1, z0}}, {0, 1, 0}, color);
    Polygon({{x0, y0, z0}, {x0, y1, z0}, {x1, y1, z0}, {x1, y0, z0}}, {0, 0, -1}, color, texture);
    Polygon({{x0, y0, z1}, {x0, y1, z1}, {x1, y1, z1}, {x1, y0, z1}}, {0, 0, 1}, color, texture);
    Polygon({{x0, y0, z0}, {x0, y1, z0}, {x0, y1, z1}, {x0, y0, z1}}, {-1, 0, 0}, color, texture);
    Polygon({{x1, y0, z0}, {x1, y1, z0}, {x1, y1, z1}, {x1, y0, z1}}, {1, 0, 0}, color, texture);
    if (bottom)
      Polygon({{x0, y0, z0}, {x0, y0, z1}, {x1, y0, z1}, {x1, y0, z0}}, {0, -1, 0}, color);
  }

  // A box standing on the level's floor, open below. Its top comes after its sides: collision
  // takes faces from the last, so a probe reaching the top edge is carried up before the sides
  // can stop it, and a box low enough is a step.
  void LevelBox(glm::vec3 lo, glm::vec3 hi, Color color) {
    const float x0 = lo.x, y0 = lo.y, z0 = lo.z, x1 = hi.x, y1 = hi.y, z1 = hi.z;
    Polygon({{x0, y0, z0}, {x0, y1, z0}, {x1, y1, z0}, {x1, y0, z0}}, {0, 0, -1}, color);
    Polygon({{x0, y0, z1}, {x0, y1, z1}, {x1, y1, z1}, {x1, y0, z1}}, {0, 0, 1}, color);
    Polygon({{x0, y0, z0}, {x0, y1, z0}, {x0, y1, z1}, {x0, y0, z1}}, {-1, 0, 0}, color);
    Polygon({{x1, y0, z0}, {x1, y1, z0}, {x1, y1, z1}, {x1, y0, z1}}, {1, 0, 0}, color);
    Polygon({{x0, y1, z0}, {x0, y1, z1}, {x1, y1, z1}, {x1, y1, z0}}, {0, 1, 0}, color);
  }

 private:
  MeshData& mesh_;
};

const Color kSkin = Color::FromRgb(0xF0C090);

}  // namespace

// The head's frame stands at (0, 34, 3.5): the head is centred 3.5 units towards -z from it.
MeshData MakeHead() {
  MeshData mesh;
  Shaper s(mesh);
  s.Box({-3.5f, -4, -7}, {3.5f, 4, 0}, kSkin);
  s.Box({-3.8f, 3, -7.3f}, {3.8f, 5.2f, 0.3f}, Color::FromRgb(0x4A2A10));  // hair
  const Color eye = Color::FromRgb(0x202040);
  for (float x : {-1.6f, 1.6f}) {
    s.Polygon({{x - 0.7f, 0.4f, -7.05f},
               {x - 0.7f, 1.6f, -7.05f},
               {x + 0.7f, 1.6f, -7.05f},
               {x + 0.7f, 0.4f, -7.05f}},
              {0, 0, -1}, eye);
  }
  s.Polygon({{-1.5f, -2.4f, -7.05f},
             {-1.5f, -1.8f, -7.05f},
             {1.5f, -1.8f, -7.05f},
             {1.5f, -2.4f, -7.05f}},
            {0, 0, -1}, Color::FromRgb(0xA03020));  // mouth
  return mesh;
}

// The body's frame stands at (0, 4, 4), low at the hips' pivot: the torso spans y 9 to 30.
MeshData MakeBody(const std::shared_ptr<engine::Texture>& body_texture) {
  MeshData mesh;
  Shaper s(mesh);
  s.Box({-5, 5, -6.5f}, {5, 26, -1.5f}, Color{1, 1, 1}, true, body_texture);
  return mesh;
}

// An arm's frame is its shoulder; the arm hangs 13 units down from it.
MeshData MakeArm(bool right) {
  MeshData mesh;
  Shaper s(mesh);
  // Both arms hang straight; the part table places them on either side.
  (void)right;
  s.Box({-1.5f, -13, -1.5f}, {1.5f, 0.5f, 1.5f}, Color::FromRgb(0xFF0000));
  return mesh;
}

// A hand is modelled in its arm's coordinates, at the end of the arm.
MeshData MakeHand(bool /*right*/) {
  MeshData mesh;
  Shaper s(mesh);
  s.Box({-1.3f, -17, -1.4f}, {1.3f, -13, 1.4f}, Color::FromRgb(0xFDCC47));
  return mesh;
}

// A foot's frame is the hip (9 units up): leg and shoe down to the floor, the toe forward.
MeshData MakeFoot(bool /*right*/) {
  MeshData mesh;
  Shaper s(mesh);
  const Color shoe = Color::FromRgb(0x800000);
  s.Box({-1.8f, -7, -1.8f}, {1.8f, 0, 1.8f}, shoe, false);
  s.Box({-2, -9, -4.5f}, {2, -7, 2}, shoe);
  return mesh;
}

MeshData MakeLevel() {
  MeshData mesh;
  Shaper s(mesh);
  constexpr float kHalf = 600;
  constexpr float kTile = 150;
  // Floor tiles in two shades, so that distance and movement can be seen.
  for (float x = -kHalf; x < kHalf; x += kTile) {
    for (float z = -kHalf; z < kHalf; z += kTile) {
      const bool dark = static_cast<int>((x + kHalf) / kTile + (z + kHalf) / kTile) % 2 != 0;
      s.Polygon({{x, 0, z}, {x, 0, z + kTile}, {x + kTile, 0, z + kTile}, {x + kTile, 0, z}},
                {0, 1, 0}, Color::FromRgb(dark ? 0x4C7A3A : 0x6E9E52));
    }
  }
  // Walls around the floor, facing inwards.
  const Color wall = Color::FromRgb(0xB0A080);
  constexpr float kWall = 120;
  s.Polygon({{-kHalf, 0, kHalf}, {-kHalf, kWall, kHalf}, {kHalf, kWall, kHalf}, {kHalf, 0, kHalf}},
            {0, 0, -1}, wall);
  s.Polygon(
      {{-kHalf, 0, -kHalf}, {-kHalf, kWall, -kHalf}, {kHalf, kWall, -kHalf}, {kHalf, 0, -kHalf}},
      {0, 0, 1}, wall);
  s.Polygon({{kHalf, 0, -kHalf}, {kHalf, kWall, -kHalf}, {kHalf, kWall, kHalf}, {kHalf, 0, kHalf}},
            {-1, 0, 0}, wall);
  s.Polygon(
      {{-kHalf, 0, -kHalf}, {-kHalf, kWall, -kHalf}, {-kHalf, kWall, kHalf}, {-kHalf, 0, kHalf}},
      {1, 0, 0}, wall);
  // A step low enough to walk onto.
  s.LevelBox({-300, 0, 150}, {-150, 15, 300}, Color::FromRgb(0x8080A0));
  // A platform too high to step onto, reached by a ramp along +z.
  const Color stone = Color::FromRgb(0x909090);
  s.LevelBox({150, 0, 350}, {330, 45, 520}, stone);
  s.Polygon({{150, 0, 170}, {150, 45, 350}, {330, 45, 350}, {330, 0, 170}}, {0, 1, -0.25f},
            Color::FromRgb(0xA08060));
  s.Polygon({{150, 0, 170}, {150, 45, 350}, {150, 0, 350}}, {-1, 0, 0}, stone);
  s.Polygon({{330, 0, 170}, {330, 45, 350}, {330, 0, 350}}, {1, 0, 0}, stone);
  // A pillar to walk around.
  s.LevelBox({-260, 0, -320}, {-200, 90, -260}, Color::FromRgb(0xA05030));
  return mesh;
}

}  // namespace tarvo::assetgen
