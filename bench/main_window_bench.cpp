// The game client's frame: the main window's tick (the game world's tick without a session)
// followed by the drawing of the scene and the overlays, with 1, 50 and 200 avatars on the
// default level; a frame drawn between ticks; the same tick for the world alone; and a few
// seconds of the real timers at 640x480 and 1920x1080, with and without frames between ticks,
// giving frames and CPU per second. Needs a display with OpenGL 3.3 of at least 1920x1080 (run
// under xvfb-run -s "-screen 0 1920x1080x24" for Mesa's software renderer).
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <chrono>
#include <cmath>
#include <ctime>
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

// A frame between ticks: the local avatar and camera placed between tick states, remote avatars
// from their tracks, the scene and overlays drawn, everything put back.
void BM_FrameBetweenTicks(benchmark::State& state) {
  TAdventure& window = *g_window;
  if (!window.view().Initialized()) {
    state.SkipWithError("no OpenGL 3.3 context");
    return;
  }
  Populate(window, static_cast<int>(state.range(0)));
  for (int i = 0; i < 5; ++i) Frame(window);
  for (auto _ : state) {
    window.view().repaint();
    QApplication::processEvents();
  }
  state.SetLabel(std::to_string(state.range(0)) + " avatars");
}
BENCHMARK(BM_FrameBetweenTicks)
    ->Arg(1)
    ->Arg(50)
    ->Arg(200)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->MeasureProcessCPUTime();

double ProcessCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

// Two seconds of the window as it runs: the 50 ms tick timer and, with range(2), the frame
// timer. Counters: frames drawn per second and CPU seconds per second.
void BM_RunningWindow(benchmark::State& state) {
  TAdventure& window = *g_window;
  if (!window.view().Initialized()) {
    state.SkipWithError("no OpenGL 3.3 context");
    return;
  }
  Populate(window, static_cast<int>(state.range(0)));
  const bool large = state.range(1) != 0;
  window.resize(large ? 1920 : 640, large ? 1080 : 480);
  window.SetFramesBetweenTicks(state.range(2) != 0);
  int frames = 0;
  const auto connection =
      QObject::connect(&window.view(), &QOpenGLWidget::frameSwapped, [&frames] { ++frames; });
  for (int i = 0; i < 5; ++i) Frame(window);
  double seconds = 0, cpu = 0;
  for (auto _ : state) {
    frames = 0;
    const double cpu_start = ProcessCpuSeconds();
    QElapsedTimer elapsed;
    elapsed.start();
    QEventLoop loop;
    QTimer::singleShot(2000, &loop, &QEventLoop::quit);
    loop.exec();
    seconds = elapsed.elapsed() / 1000.0;
    cpu = ProcessCpuSeconds() - cpu_start;
  }
  QObject::disconnect(connection);
  state.counters["fps"] = frames / seconds;
  state.counters["cpu_per_s"] = cpu / seconds;
  window.SetFramesBetweenTicks(true);
  window.resize(640, 480);
  state.SetLabel(std::to_string(state.range(0)) + " avatars, " + (large ? "1920x1080" : "640x480") +
                 (state.range(2) != 0 ? ", frames between ticks" : ", a frame per tick"));
}
BENCHMARK(BM_RunningWindow)
    ->ArgsProduct({{1, 50, 200}, {0, 1}, {0, 1}})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

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
