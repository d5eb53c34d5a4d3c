// Writes the client's default meshes and pictures into a folder (data/client in the repository).
#include <CLI/CLI.hpp>
#include <QGuiApplication>
#include <filesystem>
#include <iostream>

#include "engine/io/x_writer.h"
#include "tools/assetgen/meshes.h"
#include "tools/assetgen/pictures.h"

namespace {

bool SaveImage(const QImage& image, const std::filesystem::path& path, const char* format) {
  const bool ok = image.save(QString::fromStdString(path.string()), format, 90);
  if (!ok) std::cerr << "assetgen: cannot write " << path << "\n";
  return ok;
}

bool SaveMesh(const tarvo::engine::MeshData& mesh, const std::filesystem::path& path) {
  const bool ok = tarvo::engine::io::SaveXFile(mesh, path.string());
  if (!ok) std::cerr << "assetgen: cannot write " << path << "\n";
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  CLI::App cli("Writes the default avatar meshes, level and pictures of the client");
  std::string out = "data/client";
  cli.add_option("folder", out, "Folder to write into")->capture_default_str();
  CLI11_PARSE(cli, argc, argv);

  namespace fs = std::filesystem;
  using namespace tarvo::assetgen;
  std::error_code error;
  fs::create_directories(out, error);
  const fs::path dir(out);
  auto body_texture = std::make_shared<tarvo::engine::Texture>(tarvo::engine::Image{}, "body.bmp");

  bool ok = true;
  ok &= SaveMesh(MakeHead(), dir / "head.x");
  ok &= SaveMesh(MakeBody(body_texture), dir / "body.x");
  ok &= SaveMesh(MakeArm(true), dir / "armright.x");
  ok &= SaveMesh(MakeArm(false), dir / "armleft.x");
  ok &= SaveMesh(MakeHand(true), dir / "handright.x");
  ok &= SaveMesh(MakeHand(false), dir / "handleft.x");
  ok &= SaveMesh(MakeFoot(true), dir / "footright.x");
  ok &= SaveMesh(MakeFoot(false), dir / "footleft.x");
  ok &= SaveMesh(MakeLevel(), dir / "level1.x");
  ok &= SaveImage(MakeBodyTexture(), dir / "body.bmp", "BMP");
  ok &= SaveImage(MakeFaceTexture(), dir / "man.bmp", "BMP");
  ok &= SaveImage(MakeLogo(), dir / "logo.bmp", "BMP");
  ok &= SaveImage(MakeConnectBackground(), dir / "connect.jpg", "JPG");
  return ok ? 0 : 1;
}
