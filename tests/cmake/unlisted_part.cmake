# Run with `cmake -P`: a part file beside this one that the list leaves out (missing_folder.cmake)
# must stop the configuration.
cmake_minimum_required(VERSION 3.25)
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/TarvoTargets.cmake)
tarvo_include_parts(PATTERN *.cmake PARTS unlisted_part.cmake)
