# Run with `cmake -P`: folders that include each other through a third must stop the
# configuration, and the project's own folders must not.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/../../../cmake/TarvoTargets.cmake)
set(root "${CMAKE_CURRENT_BINARY_DIR}/folder-loop-tree")
file(REMOVE_RECURSE "${root}")
file(WRITE "${root}/low/a.h" "#pragma once\n#include <vector>\n")
file(WRITE "${root}/mid/b.h" "#pragma once\n#include \"low/a.h\"\n")
file(WRITE "${root}/top/c.cpp" "#include \"mid/b.h\"\n#include \"top/c.h\"\n")
file(WRITE "${root}/top/c.h" "#pragma once\n")
tarvo_check_folder_loops(ROOT "${root}" FOLDERS low mid top)  # no loop: passes
file(APPEND "${root}/low/a.h" "#include \"top/c.h\"\n")
tarvo_check_folder_loops(ROOT "${root}" FOLDERS low mid top)
