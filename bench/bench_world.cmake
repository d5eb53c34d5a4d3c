# The game world without drawing: the movement step on a large generated level (plain loop and
# grid) and one tick with 200 remote avatars.
if(TARGET client_game AND TARGET engine_io)
  tarvo_add_bench(bench_world SOURCES world_bench.cpp LIBS client_game engine_io)
  target_compile_definitions(bench_world PRIVATE TARVO_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
endif()
