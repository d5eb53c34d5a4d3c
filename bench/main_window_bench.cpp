// The game client's frame: the main window's tick (the game world's tick without a session)
// followed by the drawing of the scene and the overlays, with 1, 50 and 200 avatars on the
// default level; and the same frame for the world alone. Needs a display with OpenGL 3.3 (run
// under xvfb-run for Mesa's software renderer).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <cmath>
#include <memory>

#include "client/mainwindow/adventure_window.h"
#include "protocol/encoding.h"

namespace {

using namespace tarvo::client;

std::unique_ptr<TAdventure> g_window;

// Puts `count` - 1 remote players in a ring around the local one, each with a nickname.
void Populate(TAdventure& window, int count) {
  window.world().ClearOtherPlayers();
  for (int i = 1; i < count; ++i) {
    TPlayer& other = window.world().AddOtherPlayer(i + 1);
    other.BuildAvatar();
    std::string entries = ",";
    tarvo::protocol::PutShortString(entries, "Player " + std::to_string(i));
    entries += "!";
    tarvo::protocol::PutCoordinate(entries, 300 * std::cos(i * 0.7));
    entries += "#";
    tarvo::protocol::PutCoordinate(entries, 300 * std::sin(i * 0.7));
    other.ApplyProperties(entries, false);
  }
}

void Frame(TAdventure& window) {
  window.Tick();
  window.view().repaint();
  QApplication::processEvents();
}

void BM_MainWindowFrame(benchmark::State& state) {
  TAdventure& window = *g_window;
  if (!window.view().Initialized()) {
    state.SkipWithError("no OpenGL 3.3 context");
    return;
  }
  Populate(window, static_cast<int>(state.range(0)));
  window.game().AddChatLine("Player 1: hello");
  for (int i = 0; i < 5; ++i) Frame(window);
  for (auto _ : state) Frame(window);
  state.SetLabel(std::to_string(state.range(0)) + " avatars");
}
BENCHMARK(BM_MainWindowFrame)
    ->Arg(1)
    ->Arg(50)
    ->Arg(200)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

// The world's part of a frame alone: no drawing.
void BM_WorldTickOnly(benchmark::State& state) {
  TAdventure& window = *g_window;
  Populate(window, static_cast<int>(state.range(0)));
  for (auto _ : state) window.game().Tick();
  state.SetLabel(std::to_string(state.range(0)) + " avatars");
}
BENCHMARK(BM_WorldTickOnly)->Arg(1)->Arg(200)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  ClientPaths paths;
  paths.asset_folders = {TARVO_SOURCE_DIR "/data/client"};
  g_window = std::make_unique<TAdventure>(paths);
  g_window->show();
  for (int i = 0; i < 20 && !g_window->view().Initialized(); ++i) {
    QApplication::processEvents(QEventLoop::AllEvents, 50);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  g_window.reset();
  return 0;
}
