// Writes the client's default meshes and pictures into a folder (data/client in the repository),
// and on request a preview picture of them drawn the way the client draws them.
#include <CLI/CLI.hpp>
#include <QGuiApplication>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>

#include "engine/gl/offscreen_renderer.h"
#include "engine/io/x_writer.h"
#include "tools/assetgen/meshes.h"
#include "tools/assetgen/pictures.h"
#include "tools/assetgen/preview_scene.h"

namespace {

bool SaveImage(const QImage& image, const std::filesystem::path& path, const char* format) {
  const bool ok = image.save(QString::fromStdString(path.string()), format, 90);
  if (!ok) std::cerr << "assetgen: cannot write " << path << "\n";
  return ok;
}

bool SaveMesh(const tarvo::engine::MeshData& mesh, const std::filesystem::path& path) {
  const auto saved = tarvo::engine::io::SaveXFile(mesh, path.string());
  if (!saved) std::cerr << "assetgen: cannot write " << path << ": " << saved.error() << "\n";
  return saved.ok();
}

// Draws the level with one avatar from the files in `options.data_folder` into a PNG file.
bool WritePreview(const tarvo::assetgen::PreviewOptions& options,
                  const std::filesystem::path& path) {
  tarvo::engine::gl::OffscreenRenderer renderer(options.width, options.height);
  if (!renderer.ok()) {
    std::cerr << "assetgen: cannot render the preview: no OpenGL 3.3 context could be made "
                 "(run it on a display, or under xvfb-run -a)\n";
    return false;
  }
  tarvo::engine::Scene scene;
  const auto preview = tarvo::assetgen::BuildPreviewScene(scene, options);
  if (!preview) {
    std::cerr << "assetgen: cannot render the preview: no readable level1.x in "
              << options.data_folder << "\n";
    return false;
  }
  const QImage image = renderer.RenderImage(scene);
  if (image.isNull()) {
    std::cerr << "assetgen: cannot render the preview: drawing failed\n";
    return false;
  }
  if (!SaveImage(image, path, "PNG")) return false;
  std::cout << "assetgen: preview written to " << path.string() << "\n";
  return true;
}

}  // namespace

static int RunProgram(int argc, char** argv) {
  CLI::App cli("Writes the default avatar meshes, level and pictures of the client");
  cli.footer(
      "With --preview the assets are written as usual, then the level with one avatar, its "
      "light, shadow and name label is drawn from the files just written. Drawing needs "
      "OpenGL 3.3: run on a display, or without one under xvfb-run -a (Mesa's software "
      "renderer does). Without OpenGL the preview fails with a message and exit status 2.\n");
  std::string out = "data/client";
  cli.add_option("folder", out, "Folder to write into")->capture_default_str();
  std::string preview_file;
  tarvo::assetgen::PreviewOptions preview;
  auto* preview_option =
      cli.add_option("--preview", preview_file,
                     "Also render a preview of level1.x with one avatar into this PNG file");
  cli.add_option("--width", preview.width, "Preview width in pixels")
      ->check(CLI::Range(16, 8192))
      ->needs(preview_option)
      ->capture_default_str();
  cli.add_option("--height", preview.height, "Preview height in pixels")
      ->check(CLI::Range(16, 8192))
      ->needs(preview_option)
      ->capture_default_str();
  CLI11_PARSE(cli, argc, argv);

  // The pictures are drawn into images and need no display. The preview needs OpenGL, which
  // comes through the display when there is one; without one the off-screen platform is tried.
  const bool display =
      qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && (preview_file.empty() || !display)) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
  QGuiApplication app(argc, argv);

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
  ok &= SaveImage(MakeIcon(), dir / "tarvo3d.png", "PNG");
  if (!ok) return 1;
  if (!preview_file.empty()) {
    preview.data_folder = dir.string();
    if (!WritePreview(preview, preview_file)) return 2;
  }
  return 0;
}

int main(int argc, char** argv) {
  // A failure nobody handled still ends with a line saying what it was.
  try {
    return RunProgram(argc, argv);
  } catch (const std::exception& error) {
    std::fprintf(stderr, "%s: %s\n", "assetgen", error.what());
  } catch (...) {
    std::fprintf(stderr, "%s: unexpected failure\n", "assetgen");
  }
  return 1;
}
