# Run with `cmake -P` from the source root: a listed folder that does not exist must stop the
# configuration (it did once skip silently).
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/TarvoTargets.cmake)
tarvo_add_subdirectories(tests/no-such-folder)
