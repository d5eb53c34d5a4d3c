# The engine: one frame drawn off-screen (needs a display: run under xvfb-run) and the tick alone.
if(TARGET engine_gl AND TARGET client_avatar)
  tarvo_add_bench(bench_engine_render SOURCES engine_render_bench.cpp
                  LIBS engine_gl client_avatar)
  tarvo_add_bench(bench_engine_tick SOURCES engine_tick_bench.cpp
                  LIBS engine_io client_avatar)
  foreach(target bench_engine_render bench_engine_tick)
    target_compile_definitions(${target} PRIVATE TARVO_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  endforeach()
endif()
