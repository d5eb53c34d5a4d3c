# Shared helpers for the project's targets.

# Adds each listed folder. A listed folder without a CMakeLists.txt stops the configuration, so a
# renamed or deleted folder cannot drop its targets (and their tests) from the build unnoticed.
function(tarvo_add_subdirectories)
  foreach(dir IN LISTS ARGN)
    if(NOT EXISTS ${CMAKE_SOURCE_DIR}/${dir}/CMakeLists.txt)
      message(FATAL_ERROR "${dir} is listed in the build but has no CMakeLists.txt")
    endif()
    add_subdirectory(${CMAKE_SOURCE_DIR}/${dir})
  endforeach()
endfunction()

# tarvo_include_parts(PATTERN glob PARTS file...): includes the listed files beside the calling
# CMakeLists.txt. A file that matches the pattern but is not listed stops the configuration, so a
# part added on another branch cannot be dropped unnoticed by a merge.
macro(tarvo_include_parts)
  cmake_parse_arguments(_PARTS "" "PATTERN" "PARTS" ${ARGN})
  file(GLOB _parts_present RELATIVE ${CMAKE_CURRENT_LIST_DIR}
       ${CMAKE_CURRENT_LIST_DIR}/${_PARTS_PATTERN})
  foreach(_part IN LISTS _parts_present)
    if(NOT _part IN_LIST _PARTS_PARTS)
      message(FATAL_ERROR "${CMAKE_CURRENT_LIST_DIR}/${_part} is not listed in its CMakeLists.txt")
    endif()
  endforeach()
  foreach(_part IN LISTS _PARTS_PARTS)
    include(${CMAKE_CURRENT_LIST_DIR}/${_part})
  endforeach()
endmacro()

# Warnings on and fatal in our own code; a dropped [[nodiscard]] result (every base::Result) is
# an error whatever else the flags say.
set(TARVO_WARNING_FLAGS -Wall -Wextra -Werror -Werror=unused-result)
function(tarvo_warnings target)
  target_compile_options(${target} PRIVATE ${TARVO_WARNING_FLAGS})
endfunction()

# tarvo_add_library(name SOURCES ... [PUBLIC_LIBS ...] [PRIVATE_LIBS ...])
# A static library whose headers are included as "<folder>/<file>.h" from the source root.
function(tarvo_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;PUBLIC_LIBS;PRIVATE_LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
  target_link_libraries(${name} PUBLIC ${ARG_PUBLIC_LIBS} PRIVATE ${ARG_PRIVATE_LIBS})
  tarvo_warnings(${name})
endfunction()

# tarvo_add_program(name SOURCES ... [LIBS ...]): a program in build/bin.
function(tarvo_add_program name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  tarvo_warnings(${name})
endfunction()

# tarvo_add_gtest(name LABEL unit|e2e|gui|render|package SOURCES ... [LIBS ...] [XVFB] [ONCE]
#                 [TIMEOUT seconds] [SCREEN WxHxD])
# One GoogleTest program; each case becomes a ctest test with the label. XVFB runs the whole
# program once under xvfb-run (render tests need a display with Mesa's software OpenGL); ONCE
# runs it once as it is (cases that share a costly set-up); SCREEN sizes xvfb's screen; the others run with Qt's offscreen
# platform. A test that needs more of the environment sets it
# itself: gtest_discover_tests cannot carry a list-valued ENVIRONMENT property through.
function(tarvo_add_gtest name)
  cmake_parse_arguments(ARG "XVFB;ONCE" "LABEL;TIMEOUT;SCREEN" "SOURCES;LIBS" ${ARGN})
  if(NOT ARG_SCREEN)
    set(ARG_SCREEN 1280x1024x24)
  endif()
  if(NOT ARG_LABEL)
    set(ARG_LABEL unit)
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest GTest::gmock GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    TARVO_SOURCE_DIR="${CMAKE_SOURCE_DIR}" TARVO_BIN_DIR="${CMAKE_BINARY_DIR}/bin")
  tarvo_warnings(${name})
  if(ARG_XVFB)
    add_test(NAME ${name}
             COMMAND xvfb-run -a -s "-screen 0 ${ARG_SCREEN}" $<TARGET_FILE:${name}>)
    set_tests_properties(${name} PROPERTIES LABELS ${ARG_LABEL} TIMEOUT ${ARG_TIMEOUT})
  elseif(ARG_ONCE)
    add_test(NAME ${name} COMMAND $<TARGET_FILE:${name}>)
    set_tests_properties(${name} PROPERTIES LABELS ${ARG_LABEL} TIMEOUT ${ARG_TIMEOUT}
                         ENVIRONMENT "QT_QPA_PLATFORM=offscreen")
  else()
    gtest_discover_tests(${name}
      DISCOVERY_MODE PRE_TEST
      PROPERTIES LABELS ${ARG_LABEL} ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
                 TIMEOUT ${ARG_TIMEOUT})
  endif()
endfunction()

# Fails the configuration when a guarded target reaches a forbidden library, directly or through
# its dependencies.
function(_tarvo_collect_links target out_var)
  set(seen ${${out_var}})
  if(NOT TARGET ${target})
    set(${out_var} ${seen} PARENT_SCOPE)
    return()
  endif()
  get_target_property(aliased ${target} ALIASED_TARGET)
  if(aliased)
    set(target ${aliased})
  endif()
  set(links)
  get_target_property(type ${target} TYPE)
  if(NOT type STREQUAL "INTERFACE_LIBRARY")
    get_target_property(l1 ${target} LINK_LIBRARIES)
    if(l1)
      list(APPEND links ${l1})
    endif()
  endif()
  get_target_property(l2 ${target} INTERFACE_LINK_LIBRARIES)
  if(l2)
    list(APPEND links ${l2})
  endif()
  foreach(dep IN LISTS links)
    string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" dep "${dep}")
    if(dep IN_LIST seen)
      continue()
    endif()
    list(APPEND seen ${dep})
    _tarvo_collect_links(${dep} seen)
  endforeach()
  set(${out_var} ${seen} PARENT_SCOPE)
endfunction()

function(tarvo_check_layers)
  cmake_parse_arguments(ARG "" "" "TARGETS;FORBIDDEN" ${ARGN})
  foreach(t IN LISTS ARG_TARGETS)
    if(NOT TARGET ${t})
      continue()
    endif()
    set(all)
    _tarvo_collect_links(${t} all)
    foreach(bad IN LISTS ARG_FORBIDDEN)
      if(bad IN_LIST all)
        message(FATAL_ERROR "${t} must not link ${bad}: it belongs to a headless layer")
      endif()
      if(TARGET ${bad})
        get_target_property(bad_real ${bad} ALIASED_TARGET)
        if(bad_real AND bad_real IN_LIST all)
          message(FATAL_ERROR "${t} must not link ${bad}: it belongs to a headless layer")
        endif()
      endif()
    endforeach()
  endforeach()
endfunction()

# tarvo_check_folder_loops(ROOT dir FOLDERS folder...): stops the configuration when two of the
# listed source folders include each other's headers, directly or through others. Each folder is
# a library of its own, so such a loop means two layers that cannot be told apart any more.
function(tarvo_check_folder_loops)
  cmake_parse_arguments(ARG "" "ROOT" "FOLDERS" ${ARGN})
  foreach(dir IN LISTS ARG_FOLDERS)
    file(GLOB files LIST_DIRECTORIES false "${ARG_ROOT}/${dir}/*.h" "${ARG_ROOT}/${dir}/*.cpp")
    set(deps "")
    foreach(file IN LISTS files)
      file(STRINGS "${file}" lines REGEX "^[ \t]*#[ \t]*include[ \t]+\"[^\"]+\"")
      foreach(line IN LISTS lines)
        string(REGEX REPLACE "^[ \t]*#[ \t]*include[ \t]+\"([^\"]+)\".*" "\\1" header "${line}")
        get_filename_component(header_dir "${header}" DIRECTORY)
        if(NOT header_dir STREQUAL dir AND header_dir IN_LIST ARG_FOLDERS)
          list(APPEND deps "${header_dir}")
        endif()
      endforeach()
    endforeach()
    list(REMOVE_DUPLICATES deps)
    set("deps_of_${dir}" "${deps}")
  endforeach()
  foreach(dir IN LISTS ARG_FOLDERS)
    set(seen "")
    set(queue ${deps_of_${dir}})
    while(queue)
      list(POP_FRONT queue next)
      if(next STREQUAL dir)
        message(FATAL_ERROR "${dir} includes ${deps_of_${dir}}, and through them ${dir} is "
                            "included again: the folders include each other. Break the loop "
                            "with an interface the lower folder owns.")
      endif()
      if(NOT next IN_LIST seen)
        list(APPEND seen "${next}")
        list(APPEND queue ${deps_of_${next}})
      endif()
    endwhile()
  endforeach()
endfunction()
