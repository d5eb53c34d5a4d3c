#include "engine/scene/mesh_builder.h"

#include <gtest/gtest.h>

#include "engine/scene/scene.h"
#include "engine/test_util.h"

namespace tarvo::engine {
namespace {

using testing::Near;

// A floor quad, clockwise seen from above.
MeshBuilder FloorQuad() {
  MeshBuilder builder;
  builder.AddVertex({-1, 0, -1});
  builder.AddVertex({-1, 0, 1});
  builder.AddVertex({1, 0, 1});
  builder.AddVertex({1, 0, -1});
  builder.AddFace({0, 1, 2, 3}, Color::FromRgb(0x808080));
  return builder;
}

TEST(MeshBuilderFaces, FloorFacesUpAndAQuadStaysAQuad) {
  MeshBuilder floor = FloorQuad();
  ASSERT_EQ(floor.FaceCount(), 1u);
  const Face& face = floor.Faces()[0];
  EXPECT_EQ(face.VertexCount(), 4u);
  EXPECT_TRUE(Near(face.normal, {0, 1, 0}));
  auto corners = floor.FaceVertices(0);
  ASSERT_EQ(corners.size(), 4u);
  EXPECT_TRUE(Near(corners[3], {1, 0, -1}));

  // The same quad wound the other way is a ceiling.
  MeshBuilder ceiling;
  for (auto v : corners) ceiling.AddVertex(v);
  ceiling.AddFace({3, 2, 1, 0});
  EXPECT_TRUE(Near(ceiling.Faces()[0].normal, {0, -1, 0}));
}

TEST(MeshBuilderFaces, WallNormalAndDegenerateCorners) {
  // A wall seen from -z, clockwise: its normal points back at the viewer.
  MeshBuilder wall;
  wall.AddVertex({0, 0, 5});
  wall.AddVertex({0, 1, 5});
  wall.AddVertex({0, 1, 5});  // repeated corner: the normal is taken further on
  wall.AddVertex({1, 1, 5});
  wall.AddVertex({1, 0, 5});
  wall.AddFace({0, 1, 2, 3, 4});
  EXPECT_TRUE(Near(wall.Faces()[0].normal, {0, 0, -1}));
}

TEST(MeshBuilderFaces, BadFacesAreRefused) {
  MeshBuilder builder = FloorQuad();
  EXPECT_FALSE(builder.AddFace({0, 1}));
  EXPECT_FALSE(builder.AddFace({0, 1, 9}));
  EXPECT_EQ(builder.FaceCount(), 1u);
  EXPECT_TRUE(builder.FaceVertices(7).empty());
}

TEST(MeshBuilderLook, ColourTextureAndPerspectiveApplyToEveryFace) {
  MeshBuilder builder = FloorQuad();
  builder.AddFace({0, 2, 3});
  const uint32_t before = builder.version();
  builder.SetColorRgb(0xFF0000);
  EXPECT_GT(builder.version(), before);
  for (const Face& face : builder.Faces()) EXPECT_EQ(face.color, (Color{1, 0, 0}));
  auto texture = std::make_shared<Texture>(Image{2, 2, {0, 0, 0, 0}}, "body.bmp");
  builder.SetTexture(texture);
  EXPECT_EQ(builder.GetTexture(), texture);
  EXPECT_EQ(builder.Faces()[1].texture, texture);
  builder.SetPerspective(true);
  EXPECT_TRUE(builder.perspective());
}

TEST(MeshBuilderFrames, AddFrameGathersChildrenInTheFramesCoordinates) {
  Scene scene;
  auto avatar = scene.CreateFrame();
  avatar->SetPosition(&scene.root(), {500, 0, 500});  // where the avatar stands does not matter
  auto part = scene.CreateFrame(avatar.get());
  part->SetPosition(avatar.get(), {0, 30, 0});
  part->SetOrientation(avatar.get(), {1, 0, 0}, {0, 1, 0});
  auto mesh = std::make_shared<MeshBuilder>(FloorQuad());
  part->AddVisual(mesh);
  auto own = std::make_shared<MeshBuilder>(FloorQuad());
  avatar->AddVisual(own);

  MeshBuilder snapshot_builder;
  snapshot_builder.AddFrame(*avatar);
  ASSERT_EQ(snapshot_builder.FaceCount(), 2u);
  // The avatar's own quad is untouched; the part's quad is turned and lifted by 30.
  EXPECT_TRUE(Near(snapshot_builder.FaceVertices(0)[0], {-1, 0, -1}));
  EXPECT_TRUE(Near(snapshot_builder.FaceVertices(1)[0], {-1, 30, 1}));
  EXPECT_TRUE(Near(snapshot_builder.Faces()[1].normal, {0, 1, 0}));

  // The mesh is a still snapshot: later changes to the builder do not reach it.
  std::shared_ptr<Mesh> still = snapshot_builder.CreateMesh();
  snapshot_builder.Clear();
  EXPECT_EQ(still->data().faces.size(), 2u);
  EXPECT_EQ(snapshot_builder.FaceCount(), 0u);
}

TEST(TextureTest, ChangedPullsPixelsFromItsSource) {
  Texture texture(Image{1, 1, {0xFF000000u}});
  int pulls = 0;
  texture.SetSource([&](Image& image) {
    ++pulls;
    image = Image{1, 1, {0xFFFFFFFFu}};
  });
  const uint32_t version = texture.version();
  texture.Changed(false, true);
  EXPECT_EQ(pulls, 0);
  texture.Changed(true, false);
  EXPECT_EQ(pulls, 1);
  EXPECT_GT(texture.version(), version);
  EXPECT_EQ(texture.image().At(0, 0), 0xFFFFFFFFu);
}

}  // namespace
}  // namespace tarvo::engine
