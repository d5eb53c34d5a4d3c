#include "engine/io/mesh_file.h"

#include <gtest/gtest.h>

#include <QImage>
#include <filesystem>
#include <fstream>

#include "engine/gui_app.h"
#include "engine/io/file_loader.h"
#include "engine/io/x_writer.h"
#include "engine/test_util.h"

namespace tarvo::engine::io {
namespace {

namespace fs = std::filesystem;
using testing::Near;

constexpr char kFloorQuad[] = R"(xof 0303txt 0032
Mesh Floor {
 4;
 -1.5; 0.25; -2.0;,
 -1.5; 0.25; 2.0;,
 1.5; 0.25; 2.0;,
 1.5; 0.25; -2.0;;
 2;
 4; 0, 1, 2, 3;,
 3; 3, 2, 1;;
 MeshMaterialList {
  1; 2; 0, 0;;
  Material {
   0.5; 0.25; 1.0; 1.0;;
   0.0;
   0.0; 0.0; 0.0;;
   0.0; 0.0; 0.0;;
   TextureFilename { "../../elsewhere/tex.bmp"; }
  }
 }
 MeshTextureCoords {
  4;
  0.0; 0.0;,
  0.0; 1.0;,
  1.0; 1.0;,
  1.0; 0.0;;
 }
}
)";

class MeshFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    testing::EnsureGuiApplication();
    dir_ = fs::temp_directory_path() /
           ("mesh_file_test_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& name, const std::string& text) {
    const std::string path = (dir_ / name).string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  fs::path dir_;
};

TEST_F(MeshFileTest, TextFileArrivesAsWritten) {
  MeshData mesh;
  ASSERT_TRUE(LoadMeshFile(Write("floor.x", kFloorQuad), mesh));
  ASSERT_EQ(mesh.faces.size(), 2u);
  // No handedness conversion: the file's vertices, corner order and polygon sizes stay.
  const auto quad = mesh.FaceVertices(mesh.faces[0]);
  ASSERT_EQ(quad.size(), 4u);
  EXPECT_TRUE(Near(quad[0], {-1.5f, 0.25f, -2.0f}));
  EXPECT_TRUE(Near(quad[1], {-1.5f, 0.25f, 2.0f}));
  EXPECT_TRUE(Near(quad[3], {1.5f, 0.25f, -2.0f}));
  EXPECT_EQ(mesh.faces[1].VertexCount(), 3u);
  // A floor wound clockwise seen from above faces up; the second face, wound the other way, down.
  EXPECT_TRUE(Near(mesh.faces[0].normal, {0, 1, 0}));
  EXPECT_TRUE(Near(mesh.faces[1].normal, {0, -1, 0}));
  EXPECT_NEAR(mesh.faces[0].color.r, 0.5f, 1e-6f);
  EXPECT_NEAR(mesh.faces[0].color.g, 0.25f, 1e-6f);
  // Texture coordinates as written, (0, 0) at the picture's top left.
  EXPECT_FLOAT_EQ(mesh.uvs[mesh.faces[0].indices[1]].y, 1.0f);
  EXPECT_FLOAT_EQ(mesh.uvs[mesh.faces[0].indices[3]].x, 1.0f);
}

TEST_F(MeshFileTest, TextureNamesAreReducedToTheirBaseNameBesideTheMesh) {
  QImage picture(4, 2, QImage::Format_RGB32);
  picture.fill(QColor(10, 200, 30));
  ASSERT_TRUE(picture.save(QString::fromStdString((dir_ / "tex.bmp").string()), "BMP"));
  const std::string path = Write("floor.x", kFloorQuad);
  FileLoader loader;
  MeshBuilder builder;
  ASSERT_TRUE(loader.LoadMesh(path, builder));
  auto texture = builder.GetTexture();
  ASSERT_NE(texture, nullptr);
  EXPECT_EQ(texture->name(), "tex.bmp");
  EXPECT_EQ(texture->width(), 4);
  EXPECT_EQ(texture->image().At(1, 1) & 0xFFFFFF, 0x0AC81Eu);
  // The same picture named twice is read once.
  EXPECT_EQ(loader.LoadTexture((dir_ / "tex.bmp").string()), texture);
}

TEST_F(MeshFileTest, FrameTransformsAreFlattenedIntoTheVertices) {
  const std::string text = R"(xof 0303txt 0032
Frame Root {
 FrameTransformMatrix {
  1.0,0.0,0.0,0.0,0.0,1.0,0.0,0.0,0.0,0.0,1.0,0.0,10.0,20.0,-5.0,1.0;;
 }
 Mesh M {
  3;
  0.0;0.0;0.0;, 0.0;1.0;0.0;, 1.0;0.0;0.0;;
  1;
  3; 0, 1, 2;;
 }
}
)";
  MeshData mesh;
  ASSERT_TRUE(LoadMeshFile(Write("moved.x", text), mesh));
  ASSERT_EQ(mesh.faces.size(), 1u);
  EXPECT_TRUE(Near(mesh.FaceVertices(mesh.faces[0])[1], {10, 21, -5}));
  // Seen from -z, clockwise: the face looks towards -z.
  EXPECT_TRUE(Near(mesh.faces[0].normal, {0, 0, -1}));
}

TEST_F(MeshFileTest, MissingBrokenAndTruncatedFilesGiveEmptyMeshes) {
  MeshData mesh;
  mesh.AddVertex({1, 2, 3});
  const base::Result<void> absent = LoadMeshFile((dir_ / "absent.x").string(), mesh);
  ASSERT_FALSE(absent);
  EXPECT_NE(absent.error().find("absent.x not found"), std::string::npos) << absent.error();
  EXPECT_TRUE(mesh.positions.empty());
  EXPECT_FALSE(LoadMeshFile(Write("garbage.x", "this is not a mesh at all\n"), mesh));
  EXPECT_TRUE(mesh.faces.empty());
  const std::string text(kFloorQuad);
  for (size_t cut : {20u, 60u, 120u, 200u, 300u}) {
    MeshData truncated;
    (void)LoadMeshFile(Write("cut.x", text.substr(0, cut)), truncated);  // no crash, no throw
  }
  EXPECT_FALSE(LoadMeshFile(dir_.string(), mesh));  // a folder is not a file

  FileLoader loader({dir_.string()});
  MeshBuilder builder;
  builder.AddVertex({0, 0, 0});
  builder.SetPerspective(true);
  EXPECT_FALSE(loader.LoadMesh("nothing.x", builder));
  EXPECT_EQ(builder.FaceCount(), 0u);
  EXPECT_TRUE(builder.data().positions.empty());
  EXPECT_TRUE(builder.perspective());
  EXPECT_EQ(loader.LoadTexture("nothing.bmp"), nullptr);
  Write("broken.bmp", "BM not really");
  EXPECT_EQ(loader.LoadTexture("broken.bmp"), nullptr);
}

TEST_F(MeshFileTest, WrittenMeshesReadBackInOrderWithTheirMaterials) {
  MeshData mesh;
  auto texture = std::make_shared<Texture>(Image{1, 1, {0xFFFFFFFFu}}, "body.bmp");
  for (int i = 0; i < 3; ++i) {
    const float x = static_cast<float>(i) * 10;
    uint32_t a = mesh.AddVertex({x, 0, 0}, {0, 0});
    uint32_t b = mesh.AddVertex({x, 0, 1}, {0, 1});
    uint32_t c = mesh.AddVertex({x + 1, 0, 1}, {1, 1});
    uint32_t d = mesh.AddVertex({x + 1, 0, 0}, {1, 0});
    // Colours alternate, so a reader grouping by material would change the order.
    mesh.AddFace({a, b, c, d}, Color::FromRgb(i % 2 ? 0xFF0000 : 0x0000FF),
                 i == 2 ? texture : nullptr);
  }
  const std::string path = (dir_ / "written.x").string();
  ASSERT_TRUE(SaveXFile(mesh, path));
  MeshData back;
  ASSERT_TRUE(LoadMeshFile(
      path, back, [&](const std::string& name) { return name == "body.bmp" ? texture : nullptr; }));
  ASSERT_EQ(back.faces.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    const auto corners = back.FaceVertices(back.faces[i]);
    ASSERT_EQ(corners.size(), 4u);
    EXPECT_TRUE(Near(corners[0], {i * 10.0f, 0, 0}));
    EXPECT_TRUE(Near(back.faces[i].normal, {0, 1, 0}));
    EXPECT_EQ(back.faces[i].color, mesh.faces[i].color);
  }
  EXPECT_EQ(back.faces[2].texture, texture);
  EXPECT_EQ(back.faces[0].texture, nullptr);
  EXPECT_FLOAT_EQ(back.uvs[back.faces[2].indices[2]].x, 1.0f);
}

}  // namespace
}  // namespace tarvo::engine::io
