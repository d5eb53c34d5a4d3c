// The engine tick alone for 200 avatars: velocities, move callbacks running the walk cycle, and
// the animation sets posing every part.
#include <benchmark/benchmark.h>

#include "bench/engine_scene_setup.h"

namespace {

void BM_EngineTick(benchmark::State& state) {
  const int count = static_cast<int>(state.range(0));
  auto bench = tarvo::bench::MakeBenchScene(count);
  struct Walker {
    int32_t anim_time = 0;
    int32_t walk_ticks = 0;
  };
  std::vector<Walker> walkers(count);
  for (int i = 0; i < count; ++i) {
    auto& avatar = bench->avatars[i];
    avatar.frame->SetVelocity(&bench->scene.root(), {0.0f, 0.0f, (i % 2) ? 0.001f : -0.001f});
    Walker* walker = &walkers[i];
    walker->walk_ticks = i % 30;
    auto set = avatar.anim_set.get();
    avatar.frame->AddMoveCallback([walker, set](tarvo::engine::Frame&, double) {
      tarvo::client::AnimationTicker(tarvo::client::kAnimWalking, walker->walk_ticks,
                                     walker->anim_time, set);
    });
  }
  for (auto _ : state) bench->scene.Tick(1.0);
  state.SetLabel(std::to_string(count) + " avatars");
}
BENCHMARK(BM_EngineTick)->Arg(200)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
