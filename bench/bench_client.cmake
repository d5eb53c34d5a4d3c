# The game client's frame in the real main window (needs a display: run under xvfb-run).
if(TARGET client_mainwindow)
  tarvo_add_bench(bench_main_window SOURCES main_window_bench.cpp LIBS client_mainwindow)
  target_compile_definitions(bench_main_window PRIVATE TARVO_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
endif()
