# Relay latency of movement between clients through a real kserver (TCP) and directly (UDP).
# Needs the server program, so it joins once that exists.
if(TARGET kserver AND TARGET client_session)
  tarvo_add_bench(bench_relay_latency SOURCES relay_latency_bench.cpp LIBS client_session)
  target_compile_definitions(bench_relay_latency PRIVATE
    TARVO_SOURCE_DIR="${CMAKE_SOURCE_DIR}" TARVO_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
  add_dependencies(bench_relay_latency kserver)
endif()
