find_package(spdlog REQUIRED)
tarvo_add_fuzzer(fuzz_mesh_file SOURCES mesh_file_fuzz.cpp LIBS engine_io spdlog::spdlog)
