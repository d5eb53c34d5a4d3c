#include "engine/io/x_check.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "engine/io/mesh_file.h"
#include "engine/io/x_writer.h"

namespace tarvo::engine::io {
namespace {

namespace fs = std::filesystem;

constexpr char kHeader[] = "xof 0303txt 0032\n";
constexpr char kTriangle[] = "3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; ";
constexpr char kMaterial[] = "Material { 1;1;1;1;; 0; 0;0;0;; 0;0;0;; } ";

std::string X(const std::string& body) { return kHeader + body + "\n"; }
std::string Triangle(const std::string& children) {
  return X(std::string("Mesh m { ") + kTriangle + children + "}");
}

// Each of these crashes assimp 5.2's reader (checked by hand against the unguarded reader: a null
// or out-of-range read or write, a stack overflow, or an endless allocation).
TEST(XCheckTest, CountsTheReaderWouldTrustAreRefused) {
  std::string frames;
  for (int i = 0; i < 5000; ++i) frames += "Frame{";
  const std::string deep = X(frames + std::string(5000, '}'));
  const std::pair<const char*, std::string> cases[] = {
      {"declares a material, holds none", Triangle("MeshMaterialList { 1; 1; 0;; } ")},
      {"declares none, a face names one", Triangle("MeshMaterialList { 0; 1; 0;; } ")},
      {"holds fewer than declared",
       Triangle(std::string("MeshMaterialList { 2; 1; 1;; ") + kMaterial + "} ")},
      {"one index standing for no faces",
       X(std::string("Mesh m { 3; 0;0;0;, 1;0;0;, 0;1;0;; 0; MeshMaterialList { 1; 1; 0;; ") +
         kMaterial + "} }")},
      {"two lists in one mesh", Triangle(std::string("MeshMaterialList { 1; 1; 0;; ") + kMaterial +
                                         "} MeshMaterialList { 1; 1; 0;; " + kMaterial + "} ")},
      {"a normal index past the normals",
       Triangle("MeshNormals { 1; 0;1;0;; 1; 3;0,0,500000;; } ")},
      {"a skin weight on a missing vertex",
       Triangle("SkinWeights { \"b\"; 1; 5000000; 1.0; 1;0;0;0;0;1;0;0;0;0;1;0;0;0;0;1;; } ")},
      {"a face naming one vertex past the end",
       X("Mesh m { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,3;; }")},
      {"a face naming a negative vertex", X("Mesh m { 3; 0;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,-1;; }")},
      {"four billion vertices announced", X("Mesh m { 4000000000; 0;0;0;; }")},
      {"four billion skin weights announced", Triangle("SkinWeights { \"b\"; 4000000000; 0; } ")},
      {"frames nested 5000 deep", deep},
      {"the same behind a byte-order mark",
       "\xEF\xBB\xBF" + Triangle("MeshMaterialList { 1; 1; 0;; } ")},
  };
  for (const auto& [what, text] : cases) {
    EXPECT_NE(FindXFileProblem(text), "") << what;
  }
  EXPECT_NE(FindXFileProblem(Triangle("MeshMaterialList { 1; 1; 0;; } ")).find("declares 1"),
            std::string::npos);
}

TEST(XCheckTest, WellFormedFilesPassHoweverTheyAreSpelled) {
  const std::string cases[] = {
      Triangle(std::string("MeshMaterialList { 1; 1; 0;; ") + kMaterial + "} "),
      // Comments, spacing and separators as exporters write them; commented-out materials and
      // braces do not count.
      X("// a level\n# more\nMesh\tfloor{3;0;0;0;,1;0;0;,\n0;1;0;;1;3;0,1,2;;\n"
        "MeshMaterialList{1;1;0;;\n// Material { }\nMaterial red{1;0;0;1;;0;0;0;0;;0;0;0;;\n"
        "TextureFilename{\"my tex {1}.bmp\";}}}}"),
      // A material named by reference, even one named like a brace, and more held than declared.
      Triangle("MeshMaterialList { 1; 1; 0; { red } } "),
      Triangle("MeshMaterialList { 1; 1; 0;; { { } } "),
      Triangle(std::string("MeshMaterialList { 1; 1; 0;; ") + kMaterial + kMaterial + "} "),
      // A template with braces inside ends at its first closing brace, as the reader has it.
      X("template Odd { <0A> { } Mesh m { 3; 0;0;0;, 1;0;0;, 0;1;0;; 0; }"),
      // Normals, texture coordinates, colours, skin, unknown objects, frames and animations.
      X(std::string("Frame root { FrameTransformMatrix { 1;0;0;0;0;1;0;0;0;0;1;0;0;0;0;1;; }\n"
                    "Frame child { Mesh m { ") +
        kTriangle +
        "MeshNormals { 1; 0;1;0;; 1; 3;0,0,0;; }\n"
        "MeshTextureCoords { 3; 0;0;, 1;0;, 0;1;; }\n"
        "MeshVertexColors { 3; 0;1;0;0;1;;, 1;0;1;0;1;;, 2;0;0;1;1;;; }\n"
        "VertexDuplicationIndices { 3; 3; 0, 1, 2; }\n"
        "XSkinMeshHeader { 1; 1; 1; }\n"
        "SkinWeights { \"bone\"; 1; 2; -1.#IND00; 1;0;0;0;0;1;0;0;0;0;1;0;0;0;0;1;; }\n"
        "} } }\n"
        "AnimTicksPerSecond { 24; }\n"
        "AnimationSet walk { Animation { { child } AnimationKey { 0; 1; 0; 4; 1;0;0;0;;; } "
        "AnimationKey { 2; 2; 0; 3; 0;0;0;;, 10; 3; 1;0;0;;; } AnimationOptions { 1; 0; } } }"),
      // Not .x at all: other readers decide.
      "v 0 0 0\nv 1 0 0\nv 0 1 0\nf 1 2 3\n",
  };
  for (const std::string& text : cases) {
    EXPECT_EQ(FindXFileProblem(text), "") << text;
  }
  std::string frames;
  for (int i = 0; i < 64; ++i) frames += "Frame{";
  EXPECT_EQ(FindXFileProblem(X(frames + std::string(64, '}'))), "");
}

TEST(XCheckTest, NumbersAreReadAsTheReaderReadsThem) {
  // To the reader a comma between digits is a decimal point: "0,5" is one coordinate, and a
  // vertex written "0,0,0" is one number short.
  EXPECT_EQ(FindXFileProblem(X("Mesh m { 3; 0,5;0;0;, 1;0;0;, 0;1;0;; 1; 3;0,1,2;; }")), "");
  EXPECT_NE(FindXFileProblem(X("Mesh m { 3; 0,0,0;, 1,0,0;, 0,1,0;; 1; 3;0,1,2;; }")), "");
  EXPECT_EQ(FindXFileProblem(X("Mesh m { 3; -1.5e+2;.5;NaN;, +2.;INFINITY;1E3;, 0;1;0;; 0; }")),
            "");
  EXPECT_NE(FindXFileProblem(X("Mesh m { 1; 99999999999999999999;0;0;; 0; }")), "");
  // The shorter "not a number" spelling swallows the byte after it.
  EXPECT_EQ(FindXFileProblem(X("Mesh m { 1; 1.#IND00;;1.#QNAN0;-1.#IND00;; 0; }")), "");
  EXPECT_NE(FindXFileProblem(X("Mesh m { 1; 1.#IND00;1.#QNAN0;-1.#IND00;; 0; }")), "");
}

TEST(XCheckTest, MaterialsHiddenWhereTheReaderDoesNotLookAreNotCounted) {
  // Inside an unknown object, a string or a comment, a Material is no material of the list.
  EXPECT_NE(FindXFileProblem(Triangle(std::string("MeshMaterialList { 1; 1; 0;; Extra { ") +
                                      kMaterial + "} } ")),
            "");
  EXPECT_NE(FindXFileProblem(Triangle("MeshMaterialList { 1; 1; 0;; # Material { 1;1;1;1;; }\n} ")),
            "");
  EXPECT_NE(
      FindXFileProblem(Triangle(std::string("MeshMaterialList { 2; 1; 0;; Material { 1;1;1;1;; 0; "
                                            "0;0;0;; 0;0;0;; TextureFilename { \"} ") +
                                kMaterial + "\"; } } } ")),
      "");
}

TEST(XCheckTest, BinaryCompressedAndCutFilesAreRefusedWithoutReadingPastTheData) {
  EXPECT_NE(FindXFileProblem("xof 0303bin 0032\x01\x00"), "");
  EXPECT_NE(FindXFileProblem("xof 0303bzip0032 rest"), "");
  EXPECT_NE(FindXFileProblem("xof 0303tzip0032 rest"), "");
  EXPECT_NE(FindXFileProblem("xof 0303"), "");
  const std::string whole = Triangle(std::string("MeshNormals { 1; 0;1;0;; 1; 3;0,0,0;; } "
                                                 "MeshMaterialList { 1; 1; 0;; ") +
                                     kMaterial + "} ");
  ASSERT_EQ(FindXFileProblem(whole), "");
  // Every cut inside the mesh is refused; each cut is its own copy, so reading past it shows
  // under the address sanitizer.
  const size_t last_brace = whole.rfind('}');
  for (size_t size = 4; size <= last_brace; ++size) {
    const std::string cut = whole.substr(0, size);
    if (size < 16 || size > sizeof(kHeader) - 1) {
      EXPECT_NE(FindXFileProblem(cut), "") << size;
    }
  }
}

class XCheckFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = fs::temp_directory_path() /
           ("x_check_test_" + std::to_string(::getpid()) + "_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(dir_);
  }
  void TearDown() override { fs::remove_all(dir_); }

  std::string Write(const std::string& text) {
    const std::string path = (dir_ / "mesh.x").string();
    std::ofstream(path, std::ios::binary) << text;
    return path;
  }

  fs::path dir_;
};

TEST_F(XCheckFileTest, RefusedFilesLoadAsEmptyMeshesAndSoundOnesStillLoad) {
  MeshData mesh;
  mesh.AddVertex({1, 2, 3});
  EXPECT_FALSE(LoadMeshFile(Write(Triangle("MeshMaterialList { 1; 1; 0;; } ")), mesh));
  EXPECT_TRUE(mesh.positions.empty());
  EXPECT_TRUE(mesh.faces.empty());
  EXPECT_FALSE(LoadMeshFile(Write(Triangle("SkinWeights { \"b\"; 1; 7; 1.0; "
                                           "1;0;0;0;0;1;0;0;0;0;1;0;0;0;0;1;; } ")),
                            mesh));
  EXPECT_TRUE(mesh.positions.empty());

  ASSERT_TRUE(
      LoadMeshFile(Write("\xEF\xBB\xBF" +
                         Triangle(std::string("MeshMaterialList { 1; 1; 0;; ") + kMaterial + "} ")),
                   mesh));
  EXPECT_EQ(mesh.faces.size(), 1u);
}

TEST_F(XCheckFileTest, BundledAndWrittenMeshesPass) {
  size_t checked = 0;
  for (const auto& entry : fs::recursive_directory_iterator(fs::path(TARVO_SOURCE_DIR) / "data")) {
    if (entry.path().extension() != ".x") continue;
    std::ifstream file(entry.path(), std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    EXPECT_EQ(FindXFileProblem(text.str()), "") << entry.path();
    ++checked;
  }
  EXPECT_GT(checked, 0u);

  MeshData mesh;
  const uint32_t a = mesh.AddVertex({0, 0, 0}, {0, 0});
  const uint32_t b = mesh.AddVertex({0, 0, 1}, {0, 1});
  const uint32_t c = mesh.AddVertex({1, 0, 1}, {1, 1});
  mesh.AddFace({a, b, c}, Color::FromRgb(0xFF0000),
               std::make_shared<Texture>(Image{1, 1, {0xFFFFFFFFu}}, "my skin.bmp"));
  mesh.AddFace({c, b, a}, Color::FromRgb(0x00FF00), nullptr);
  EXPECT_EQ(FindXFileProblem(WriteXText(mesh)), "");
}

}  // namespace
}  // namespace tarvo::engine::io
