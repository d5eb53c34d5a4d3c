// Renders an avatar standing on the default level with the client's lights, reads the pixels
// back and checks what a player would see. Runs under xvfb-run with Mesa's software OpenGL.
#include <gtest/gtest.h>

#include <QDir>
#include <QImage>
#include <cmath>
#include <glm/gtc/matrix_transform.hpp>

#include "engine/gl/offscreen_renderer.h"
#include "engine/gui_app.h"
#include "tools/assetgen/preview_scene.h"

namespace tarvo::engine {
namespace {

constexpr int kWidth = 640;
constexpr int kHeight = 480;
constexpr uint32_t kArmColor = 0xFF00FF;

// The client's scene as the asset preview draws it: lights, level, one avatar with its shadow
// and name label, the camera behind it, the background and the back clipping distance. The
// arms get a colour found nowhere else in the picture.
class RenderTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    testing::EnsureGuiApplication();
    renderer_ = new gl::OffscreenRenderer(kWidth, kHeight);
  }
  static void TearDownTestSuite() {
    delete renderer_;
    renderer_ = nullptr;
  }

  void SetUp() override {
    ASSERT_TRUE(renderer_->ok()) << "no OpenGL 3.3 context";
    assetgen::PreviewOptions options;
    options.data_folder = std::string(TARVO_SOURCE_DIR) + "/data/client";
    options.name = "Tester";
    options.width = kWidth;
    options.height = kHeight;
    auto built = assetgen::BuildPreviewScene(scene_, options);
    ASSERT_TRUE(built) << "level1.x could not be read";
    preview_ = std::move(*built);
    for (int part : {client::kPartRightArm, client::kPartLeftArm}) {
      preview_.avatar.parts[part].mesh->SetColorRgb(kArmColor);
    }
  }

  // Where a point given in `frame`'s coordinates appears in the picture.
  QPoint Project(const Frame& frame, glm::vec3 point) const {
    const glm::vec4 world = frame.WorldMatrix() * glm::vec4(point, 1);
    const glm::vec4 clip = scene_.viewport().Projection() * scene_.ViewMatrix() * world;
    const float x = (clip.x / clip.w * 0.5f + 0.5f) * kWidth;
    const float y = (0.5f - clip.y / clip.w * 0.5f) * kHeight;
    return QPoint(static_cast<int>(std::lround(x)), static_cast<int>(std::lround(y)));
  }

  QImage Render() {
    QImage image = renderer_->RenderImage(scene_);
    EXPECT_EQ(image.size(), QSize(kWidth, kHeight));
    return image;
  }

  static void Keep(const QImage& image, const char* name) {
    const QString path = QDir::current().absoluteFilePath(QString::fromLatin1(name));
    if (image.save(path)) std::printf("picture kept in %s\n", path.toLocal8Bit().constData());
  }

  static gl::OffscreenRenderer* renderer_;
  Scene scene_;
  assetgen::PreviewScene preview_;
};

gl::OffscreenRenderer* RenderTest::renderer_ = nullptr;

// The arm colour as lit: mostly red and blue, hardly any green.
bool IsArmColor(QRgb p) { return qRed(p) > 60 && qBlue(p) > 60 && qGreen(p) < qRed(p) / 3; }

bool NearColor(QRgb pixel, int r, int g, int b, int tolerance = 3) {
  return std::abs(qRed(pixel) - r) <= tolerance && std::abs(qGreen(pixel) - g) <= tolerance &&
         std::abs(qBlue(pixel) - b) <= tolerance;
}

TEST_F(RenderTest, AvatarOnTheLevelWithArmColourShadowLabelAndBackground) {
  const QImage image = Render();
  Keep(image, "render_avatar.png");

  // The background fills the top corners, above the level's walls.
  for (QPoint corner : {QPoint(0, 0), QPoint(kWidth - 1, 0)}) {
    EXPECT_TRUE(NearColor(image.pixel(corner), 0, 64, 223)) << std::hex << image.pixel(corner);
  }
  // The floor fills the bottom corners.
  EXPECT_FALSE(NearColor(image.pixel(0, kHeight - 1), 0, 64, 223, 30));

  // The arm facing the camera shows the arm colour, lit.
  const auto& arm = *preview_.avatar.parts[client::kPartLeftArm].frame;
  const QPoint at = Project(arm, {0, -6, 0});
  int magenta = 0;
  for (int dy = -2; dy <= 2; ++dy) {
    for (int dx = -1; dx <= 1; ++dx) {
      const QRgb p = image.pixel(at + QPoint(dx, dy));
      magenta += IsArmColor(p);
    }
  }
  EXPECT_GE(magenta, 10) << "at " << at.x() << "," << at.y();

  // The arm colour appears nowhere far from the avatar.
  const QPoint feet = Project(*preview_.avatar.frame, {0, 0, 0});
  const QPoint top = Project(*preview_.avatar.frame, {0, 40, 0});
  for (int y = 0; y < kHeight; y += 2) {
    for (int x = 0; x < kWidth; x += 2) {
      const QRgb p = image.pixel(x, y);
      if (IsArmColor(p)) {
        EXPECT_LT(std::abs(x - feet.x()), 60);
        EXPECT_TRUE(y >= top.y() - 10 && y <= feet.y() + 10) << x << "," << y;
      }
    }
  }
}

TEST_F(RenderTest, ShadowOnlyDarkensTheFloorUnderTheAvatar) {
  const QImage with_shadow = Render();
  preview_.avatar.frame->DeleteVisual(preview_.shadow.get());
  const QImage without = Render();
  const QPoint feet = Project(*preview_.avatar.frame, {0, 0, 0});
  int darker = 0;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const QRgb a = with_shadow.pixel(x, y);
      const QRgb b = without.pixel(x, y);
      if (a == b) continue;
      EXPECT_LT(qGray(a), qGray(b)) << x << "," << y;
      EXPECT_LT(std::abs(x - feet.x()), 80) << x << "," << y;
      darker += qGray(a) < qGray(b) * 0.8;
    }
  }
  EXPECT_GT(darker, 30);
}

TEST_F(RenderTest, ShadowFromASideLightFallsAwayFromIt) {
  // A low light on the avatar's side (+z, the picture's right) throws the shadow towards -z,
  // onto open floor on the left.
  auto side = scene_.CreateFrame();
  side->SetPosition(&scene_.root(), {0, 120, 150});
  side->AddLight(preview_.shadow_light);
  preview_.shadow_light_frame->DeleteLight(preview_.shadow_light.get());
  const QImage image = Render();
  Keep(image, "render_side_shadow.png");
  preview_.avatar.frame->DeleteVisual(preview_.shadow.get());
  const QImage without = Render();
  const QPoint left = Project(scene_.root(), {0, 0, -30});
  const QPoint right = Project(scene_.root(), {0, 0, 30});
  EXPECT_LT(qGray(image.pixel(left)), qGray(without.pixel(left)) * 0.8);
  EXPECT_EQ(image.pixel(right), without.pixel(right));
}

TEST_F(RenderTest, LabelBlackIsTransparentAndTheTextFacesTheViewer) {
  const QImage with_label = Render();
  preview_.avatar.frame->DeleteVisual(preview_.label.get());
  const QImage without = Render();
  int changed = 0;
  int white = 0;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const QRgb a = with_label.pixel(x, y);
      if (a == without.pixel(x, y)) continue;
      ++changed;
      // Only the text's white and blue reach the picture, never the black around it.
      const bool is_white = qRed(a) > 200 && qGreen(a) > 200 && qBlue(a) > 200;
      const bool is_blue = qBlue(a) > 200 && qRed(a) < 40 && qGreen(a) < 40;
      EXPECT_TRUE(is_white || is_blue) << x << "," << y << " " << std::hex << a;
      white += is_white;
    }
  }
  EXPECT_GT(white, 20);
  // The label floats above the head: it is drawn higher in the picture than the head's top.
  const QPoint head_top = Project(*preview_.avatar.frame, {0, 40, 0});
  for (int y = head_top.y(); y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) EXPECT_EQ(with_label.pixel(x, y), without.pixel(x, y));
  }
  EXPECT_GT(changed, white - 1);
}

TEST_F(RenderTest, LabelRedrawnThroughChangedShowsTheNewText) {
  const QImage before = Render();
  preview_.name_label->Redraw("WWWWWWWWWWWWWWWWWWWWWW");  // far wider than "Player"
  const QImage after = Render();
  int more_white = 0;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      more_white += qRed(after.pixel(x, y)) > 250 && qGreen(after.pixel(x, y)) > 250 &&
                    qRed(before.pixel(x, y)) <= 250;
    }
  }
  EXPECT_GT(more_white, 1000);
}

TEST_F(RenderTest, BackClippingDistanceHidesFarGeometry) {
  scene_.SetBack(150);  // nearer than the avatar (about 220 units away)
  const QImage image = Render();
  const QPoint body = Project(*preview_.avatar.frame, {0, 20, 0});
  EXPECT_TRUE(NearColor(image.pixel(body), 0, 64, 223)) << std::hex << image.pixel(body);
  // The far wall goes too; the floor right in front of the camera stays.
  EXPECT_TRUE(NearColor(image.pixel(kWidth / 2, 150), 0, 64, 223));
  EXPECT_FALSE(NearColor(image.pixel(kWidth / 2, kHeight - 1), 0, 64, 223, 30));
}

TEST_F(RenderTest, PointLightBrightensTheFloorBeyondAmbient) {
  const QPoint floor_point = Project(scene_.root(), {-40, 0, -40});
  const int lit = qGray(Render().pixel(floor_point));
  preview_.light_frame->DeleteLight(preview_.light_frame->lights()[0].get());
  const int ambient_only = qGray(Render().pixel(floor_point));
  EXPECT_GT(lit, ambient_only + 20);
}

TEST_F(RenderTest, WalkingPoseMovesThePartsOnScreen) {
  const QImage standing = Render();
  preview_.avatar.anim_set->SetTime(11);
  const QImage walking = Render();
  Keep(walking, "render_walking.png");
  EXPECT_NE(standing, walking);
}

}  // namespace
}  // namespace tarvo::engine
