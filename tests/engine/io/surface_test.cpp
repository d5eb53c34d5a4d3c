#include "engine/io/surface.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "engine/gui_app.h"
#include "engine/io/canvas.h"

namespace tarvo::engine::io {
namespace {

class SurfaceTest : public ::testing::Test {
 protected:
  void SetUp() override { testing::EnsureGuiApplication(); }
};

TEST_F(SurfaceTest, FillAndBlitWithAndWithoutATransparentColour) {
  auto target = Surface::Create(8, 8);
  EXPECT_EQ(target->PixelAt(3, 3), 0u);  // new surfaces are black
  target->Fill(0x102030);
  auto source = Surface::Create(4, 4);
  source->Fill(0x000000);
  source->FillRect(QRect(1, 1, 2, 2), 0xFF8000);

  auto keyed = Surface::Create(8, 8);
  keyed->Fill(0x102030);
  keyed->Draw(2, 2, *source, std::optional<uint32_t>(0x000000));
  EXPECT_EQ(keyed->PixelAt(2, 2), 0x102030u);  // black was skipped
  EXPECT_EQ(keyed->PixelAt(3, 3), 0xFF8000u);

  target->Draw(2, 2, *source);
  EXPECT_EQ(target->PixelAt(2, 2), 0x000000u);  // opaque copy
  EXPECT_EQ(target->PixelAt(4, 4), 0xFF8000u);
  EXPECT_EQ(target->PixelAt(6, 6), 0x102030u);
}

TEST_F(SurfaceTest, BlitsAreClippedOnBothSides) {
  auto target = Surface::Create(4, 4);
  auto source = Surface::Create(4, 4);
  source->Fill(0xFFFFFF);
  source->FillRect(QRect(0, 0, 1, 1), 0x00FF00);
  // The rectangle's corner lands at (-1, -1); its part inside the source starts at (1, 1).
  target->Draw(-1, -1, *source, QRect(-2, -2, 10, 10));
  EXPECT_EQ(target->PixelAt(0, 0), 0u);
  EXPECT_EQ(target->PixelAt(1, 1), 0x00FF00u);
  EXPECT_EQ(target->PixelAt(3, 3), 0xFFFFFFu);
  auto fresh = Surface::Create(4, 4);
  fresh->Draw(-1, -1, *source);
  EXPECT_EQ(fresh->PixelAt(0, 0), 0xFFFFFFu);  // source pixel (1, 1)
  fresh->Draw(100, 100, *source);              // entirely outside: nothing happens
  EXPECT_EQ(fresh->PixelAt(99, 99), 0u);
}

TEST_F(SurfaceTest, LoadBitmapReplacesOrKeepsThePicture) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("surface_test_" + std::to_string(::getpid()) + ".bmp");
  QImage picture(5, 3, QImage::Format_RGB32);
  picture.fill(QColor(1, 2, 3));
  ASSERT_TRUE(picture.save(QString::fromStdString(path.string()), "BMP"));
  auto surface = Surface::Create(2, 2);
  EXPECT_TRUE(surface->LoadBitmap(path.string()));
  EXPECT_EQ(surface->width(), 5);
  EXPECT_EQ(surface->PixelAt(4, 2), 0x010203u);
  std::filesystem::remove(path);
  EXPECT_FALSE(surface->LoadBitmap(path.string()));
  EXPECT_EQ(surface->width(), 5);
}

TEST_F(SurfaceTest, TextureFollowsTheSurfaceWhenToldItChanged) {
  auto surface = Surface::Create(4, 2);
  auto texture = surface->CreateTexture();
  EXPECT_EQ(texture->width(), 4);
  surface->Fill(0xFF0000);
  EXPECT_EQ(texture->image().At(0, 0) & 0xFFFFFF, 0u);  // not yet told
  texture->Changed(true, false);
  EXPECT_EQ(texture->image().At(0, 0) & 0xFFFFFF, 0xFF0000u);
  // A texture outliving its surface keeps its last pixels.
  surface.reset();
  texture->Changed(true, false);
  EXPECT_EQ(texture->image().At(3, 1) & 0xFFFFFF, 0xFF0000u);
}

TEST_F(SurfaceTest, CanvasMeasuresAndDrawsText) {
  auto surface = Surface::Create(200, 40);
  Canvas canvas(*surface);
  canvas.SetFont("Dialog", true, 20);
  const int width = canvas.TextWidth("Nickname");
  EXPECT_GT(width, canvas.TextWidth("Nick"));
  EXPECT_GT(canvas.TextHeight("Nickname"), 15);
  EXPECT_EQ(canvas.TextWidth(""), 0);

  canvas.SetBrushTransparent(true);
  canvas.SetFontColor(0xFFFFFF);
  canvas.TextOut(2, 2, "WWW");
  canvas.SetBrushColor(0x00FF00);
  canvas.FillRect(150, 0, 10, 10);
  canvas.Release();
  canvas.TextOut(0, 0, "ignored after release");

  // Text pixels are exactly white or untouched black: no smoothing.
  int white = 0;
  for (int y = 0; y < 40; ++y) {
    for (int x = 0; x < 140; ++x) {
      const uint32_t pixel = surface->PixelAt(x, y);
      EXPECT_TRUE(pixel == 0 || pixel == 0xFFFFFF) << x << "," << y;
      white += pixel == 0xFFFFFF;
    }
  }
  EXPECT_GT(white, 20);
  EXPECT_EQ(surface->PixelAt(155, 5), 0x00FF00u);
}

TEST_F(SurfaceTest, SolidBrushFillsBehindText) {
  auto surface = Surface::Create(100, 40);
  Canvas canvas(*surface);
  canvas.SetFont("Dialog", false, 10);
  canvas.SetBrushColor(0x0000FF);
  canvas.SetFontColor(0xFFFFFF);
  canvas.TextOut(0, 0, "a b");
  const int height = canvas.TextHeight("a b");
  canvas.Release();
  EXPECT_EQ(surface->PixelAt(0, height - 1), 0x0000FFu);
  EXPECT_EQ(surface->PixelAt(0, height + 2), 0u);
}

}  // namespace
}  // namespace tarvo::engine::io
