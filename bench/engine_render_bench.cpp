// Time to draw one 640 x 480 frame of the default level with 1, 50 and 200 avatars. Needs a
// display with OpenGL 3.3 (run under xvfb-run for Mesa's software renderer).
#include <benchmark/benchmark.h>

#include <QGuiApplication>

#include "bench/engine_scene_setup.h"
#include "engine/gl/offscreen_renderer.h"
#include "engine/io/canvas.h"
#include "engine/io/surface.h"

namespace {

using tarvo::engine::Texture;
namespace io = tarvo::engine::io;

std::vector<std::shared_ptr<io::Surface>> g_surfaces;
// Made in main after the application and freed before it, as the GL context requires.
std::unique_ptr<tarvo::engine::gl::OffscreenRenderer> g_renderer;

std::shared_ptr<Texture> Label(int i) {
  auto surface = io::Surface::Create(512, 32);
  io::Canvas canvas(*surface);
  canvas.SetFont("Dialog", true, 20);
  canvas.SetBrushTransparent(true);
  canvas.SetFontColor(0xFFFFFF);
  const std::string text = "Player " + std::to_string(i);
  canvas.TextOut((512 - canvas.TextWidth(text)) / 2, 0, text);
  canvas.Release();
  auto texture = surface->CreateTexture();
  texture->SetDecalScale(true);
  texture->SetDecalOrigin(256, 137 + 24);
  texture->SetDecalSize(512 * 0.4f, 32 * 0.4f);
  texture->SetDecalTransparency(true);
  g_surfaces.push_back(surface);
  return texture;
}

void BM_RenderFrame(benchmark::State& state) {
  auto& renderer = *g_renderer;
  if (!renderer.ok()) {
    state.SkipWithError("no OpenGL 3.3 context");
    return;
  }
  auto bench = tarvo::bench::MakeBenchScene(static_cast<int>(state.range(0)), Label);
  renderer.DrawOnly(bench->scene);  // uploads meshes and textures once
  for (auto _ : state) renderer.DrawOnly(bench->scene);
  state.SetLabel(std::to_string(state.range(0)) + " avatars");
}
BENCHMARK(BM_RenderFrame)->Arg(1)->Arg(50)->Arg(200)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  QGuiApplication app(argc, argv);
  g_renderer = std::make_unique<tarvo::engine::gl::OffscreenRenderer>(640, 480);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  g_renderer.reset();
  g_surfaces.clear();
  return 0;
}
