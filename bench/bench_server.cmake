# Load on a real kserver: 200 players in one level, each moving every tick, TCP relay only.
if(TARGET kserver)
  tarvo_add_bench(bench_server_load SOURCES server_load_bench.cpp LIBS tarvo_net tarvo_protocol ZLIB::ZLIB)
  target_include_directories(bench_server_load PRIVATE ${CMAKE_SOURCE_DIR}/tests)
  target_compile_definitions(bench_server_load PRIVATE
    TARVO_SOURCE_DIR="${CMAKE_SOURCE_DIR}" TARVO_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
  add_dependencies(bench_server_load kserver)
endif()
