#include "client/label/name_label.h"

#include <gtest/gtest.h>

#include "engine/gui_app.h"
#include "engine/io/canvas.h"

namespace tarvo::client {
namespace {

TEST(NameLabel, SurfaceWidthIsAPowerOfTwoUpTo512) {
  EXPECT_EQ(SurfaceNameLabel::SurfaceWidth(256, 40), 512);
  EXPECT_EQ(SurfaceNameLabel::SurfaceWidth(255, 40), 256);
  EXPECT_EQ(SurfaceNameLabel::SurfaceWidth(-1, 40), 64);
  EXPECT_EQ(SurfaceNameLabel::SurfaceWidth(-1, 63), 64);
  EXPECT_EQ(SurfaceNameLabel::SurfaceWidth(2000, 40), 512);
}

TEST(NameLabel, ControlBytesShowAsQuestionMarks) {
  // C0 (with the line feed), DEL and C1 (0x9B starts a terminal sequence); 0xA0 on is text.
  EXPECT_EQ(ShownText(std::string("a\0\n\x1b\x1f\x7f\x80\x9b\x9f\xa0\xe4~", 12)),
            "a????????\xa0\xe4~");
}

TEST(NameLabel, WhiteTextWithABlueShadowOnTransparentBlack) {
  engine::testing::EnsureGuiApplication();
  SurfaceNameLabel label("Ann", 256, 55);
  const engine::io::Surface& surface = label.surface();
  ASSERT_EQ(surface.width(), 512);
  ASSERT_EQ(surface.height(), 32);
  int h = 0;
  {
    auto scratch = engine::io::Surface::Create(1, 1);
    engine::io::Canvas canvas(*scratch);
    canvas.SetFont("Dialog", true, 20);
    h = canvas.TextHeight("Ann");
  }
  const engine::Texture& texture = *label.texture();
  EXPECT_EQ(texture.decal_origin_x(), 256);
  EXPECT_EQ(texture.decal_origin_y(), 137 + h);
  EXPECT_FLOAT_EQ(texture.decal_width(), 512 * 0.4f);
  EXPECT_FLOAT_EQ(texture.decal_height(), 32 * 0.4f);
  EXPECT_TRUE(texture.decal_scale());
  EXPECT_TRUE(texture.decal_transparent());
  EXPECT_EQ(texture.decal_transparent_color(), 0u);

  // Every white pixel's blue shadow lies one right and one down, unless white covers it.
  int white = 0, shadowed = 0;
  for (int y = 0; y + 1 < surface.height(); ++y) {
    for (int x = 0; x + 1 < surface.width(); ++x) {
      if (surface.PixelAt(x, y) != 0xFFFFFF) continue;
      ++white;
      const uint32_t below = surface.PixelAt(x + 1, y + 1);
      if (below == 0x0000FF || below == 0xFFFFFF) ++shadowed;
    }
  }
  EXPECT_GT(white, 20);
  EXPECT_EQ(shadowed, white);

  const uint32_t version = texture.version();
  label.Redraw("");
  EXPECT_NE(texture.version(), version);
  for (int x = 0; x < surface.width(); ++x) EXPECT_EQ(surface.PixelAt(x, 10), 0u);
}

}  // namespace
}  // namespace tarvo::client
