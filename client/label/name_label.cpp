#include "client/label/name_label.h"

#include "engine/io/canvas.h"

namespace tarvo::client {
namespace {

constexpr int kMaxSurfaceWidth = 512;

void SetLabelFont(engine::io::Canvas& canvas) {
  canvas.SetFont("Dialog", true, 20);
  canvas.SetBrushTransparent(true);
}

// The blue shadow first, then the white text over it, centred on the surface.
void DrawLabelText(engine::io::Canvas& canvas, int surface_width, const std::string& text) {
  const int w = canvas.TextWidth(text);
  canvas.SetFontColor(0x0000FF);
  canvas.TextOut((surface_width - w) / 2 + 1, 1, text);
  canvas.SetFontColor(0xFFFFFF);
  canvas.TextOut((surface_width - w) / 2, 0, text);
}

}  // namespace

std::string ShownText(std::string_view latin1) {
  std::string out(latin1);
  for (char& c : out) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || (byte >= 0x7F && byte < 0xA0)) c = '?';
  }
  return out;
}

int SurfaceNameLabel::SurfaceWidth(int requested_width, int text_width) {
  const int need = (requested_width < 0 ? text_width : requested_width) + 1;
  int width = 1;
  while (width < need && width < kMaxSurfaceWidth) width *= 2;
  return width;
}

SurfaceNameLabel::SurfaceNameLabel(const std::string& text, int width, int height) {
  const std::string shown = text.empty() ? " " : text;
  int w = 0, h = 0;
  {
    // Measured on a scratch surface: the real one's width depends on the measure.
    auto scratch = engine::io::Surface::Create(1, 1);
    engine::io::Canvas canvas(*scratch);
    SetLabelFont(canvas);
    w = canvas.TextWidth(shown);
    h = canvas.TextHeight(shown);
  }
  const int c = SurfaceWidth(width, w);
  surface_ = engine::io::Surface::Create(c, kSurfaceHeight);
  surface_->Fill(0x000000);
  {
    engine::io::Canvas canvas(*surface_);
    SetLabelFont(canvas);
    DrawLabelText(canvas, c, shown);
  }
  texture_ = surface_->CreateTexture();
  texture_->SetDecalScale(true);
  texture_->SetDecalOrigin(c / 2, static_cast<int>(height / 0.4) + h);
  texture_->SetDecalSize(static_cast<float>(c) * kUnitsPerPixel, kSurfaceHeight * kUnitsPerPixel);
  texture_->SetDecalTransparency(true);
}

void SurfaceNameLabel::Redraw(const std::string& text) {
  surface_->Fill(0x000000);
  {
    engine::io::Canvas canvas(*surface_);
    SetLabelFont(canvas);
    DrawLabelText(canvas, surface_->width(), text);
  }
  texture_->Changed(true, false);
}

std::unique_ptr<NameLabel> SurfaceLabelMaker::MakeNameLabel(const std::string& text, int width,
                                                            int height) {
  return std::make_unique<SurfaceNameLabel>(text, width, height);
}

}  // namespace tarvo::client
