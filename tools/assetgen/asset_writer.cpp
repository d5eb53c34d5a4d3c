#include "tools/assetgen/asset_writer.h"

#include <QGuiApplication>
#include <QImage>
#include <filesystem>
#include <iostream>
#include <memory>
#include <system_error>

#include "engine/gl/offscreen_renderer.h"
#include "engine/io/x_writer.h"
#include "tools/assetgen/meshes.h"
#include "tools/assetgen/pictures.h"
#include "tools/assetgen/preview_scene.h"

namespace tarvo::assetgen {
namespace {

bool SaveImage(const QImage& image, const std::filesystem::path& path, const char* format) {
  const bool ok = image.save(QString::fromStdString(path.string()), format, 90);
  if (!ok) std::cerr << "assetgen: cannot write " << path << "\n";
  return ok;
}

bool SaveMesh(const engine::MeshData& mesh, const std::filesystem::path& path) {
  const auto saved = engine::io::SaveXFile(mesh, path.string());
  if (!saved) std::cerr << "assetgen: cannot write " << path << ": " << saved.error() << "\n";
  return saved.ok();
}

// Draws the level with one avatar from the files in `options.data_folder` into a PNG file.
bool WritePreview(const PreviewOptions& options, const std::filesystem::path& path) {
  engine::gl::OffscreenRenderer renderer(options.width, options.height);
  if (!renderer.ok()) {
    std::cerr << "assetgen: cannot render the preview: no OpenGL 3.3 context could be made "
                 "(run it on a display, or under xvfb-run -a)\n";
    return false;
  }
  engine::Scene scene;
  const auto preview = BuildPreviewScene(scene, options);
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

void ChooseQtPlatform(const AssetgenOptions& options) {
  const bool display =
      qEnvironmentVariableIsSet("DISPLAY") || qEnvironmentVariableIsSet("WAYLAND_DISPLAY");
  if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM") && (!options.preview_file || !display)) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
  }
}

int WriteAssets(const AssetgenOptions& options) {
  std::error_code error;
  std::filesystem::create_directories(options.folder, error);
  const std::filesystem::path& dir = options.folder;
  auto body_texture = std::make_shared<engine::Texture>(engine::Image{}, "body.bmp");

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
  if (options.preview_file && !WritePreview(options.preview, *options.preview_file)) return 2;
  return 0;
}

}  // namespace tarvo::assetgen
