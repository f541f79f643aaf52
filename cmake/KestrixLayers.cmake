# kestrix_layer(<target> [SOURCES files...] [WIN_SOURCES files...]
#               [DEPENDS layers...] [LIBS libraries...])
#
# One library per folder of Kestrix. SOURCES build everywhere (natively for
# tests, sanitizers and fuzzers too), WIN_SOURCES only for Windows. The
# layers point one way: DEPENDS may name only layers defined before this
# one, and every `#include "crash/..."`, `"report_ui/..."` or
# `"debuginfo/..."` in the folder must name a header of this layer or of
# one it depends on (directly or through others). A header of a layer that
# comes later, or of none, fails the configuration: an include circle cannot
# be built.
include_guard(GLOBAL)

set(KESTRIX_SOURCE_ROOT ${CMAKE_CURRENT_LIST_DIR}/..)
get_filename_component(KESTRIX_SOURCE_ROOT ${KESTRIX_SOURCE_ROOT} ABSOLUTE)

function(kestrix_layer target)
  cmake_parse_arguments(L "" "" "SOURCES;WIN_SOURCES;DEPENDS;LIBS" ${ARGN})
  set(closure "")
  foreach(dep IN LISTS L_DEPENDS)
    if(NOT TARGET ${dep})
      message(FATAL_ERROR "${target}: layer ${dep} must be defined before the layers that use it")
    endif()
    get_property(dep_closure GLOBAL PROPERTY KESTRIX_CLOSURE_${dep})
    list(APPEND closure ${dep} ${dep_closure})
  endforeach()
  list(REMOVE_DUPLICATES closure)

  if(WIN32 AND KESTRIX_LAZY_LIBRARIES)
    # The system libraries the library binds on first call: their import
    # libraries give way to the stubs (cmake/KestrixLazyImports.cmake).
    list(JOIN KESTRIX_LAZY_LIBRARIES "|" lazy)
    list(TRANSFORM L_LIBS REPLACE "^(.*:)?(${lazy})(>?)$" "kx_lazy_imports")
    list(REMOVE_DUPLICATES L_LIBS)
  endif()
  set(sources ${L_SOURCES})
  if(WIN32)
    list(APPEND sources ${L_WIN_SOURCES})
  endif()
  if(sources)
    add_library(${target} STATIC ${sources})
    if(WIN32 AND COMMAND kestrix_lazy_rename)
      kestrix_lazy_rename(${target})
    endif()
    target_link_libraries(${target} PUBLIC kx_api ${L_DEPENDS} ${L_LIBS} PRIVATE $<BUILD_INTERFACE:kx_build_options>)
    target_include_directories(${target} PUBLIC $<BUILD_INTERFACE:${KESTRIX_SOURCE_ROOT}>)
  else()
    add_library(${target} INTERFACE)
    target_link_libraries(${target} INTERFACE kx_api ${L_DEPENDS})
    target_include_directories(${target} INTERFACE $<BUILD_INTERFACE:${KESTRIX_SOURCE_ROOT}>)
  endif()
  set_property(GLOBAL APPEND PROPERTY KESTRIX_LAYERS ${target})
  set_property(GLOBAL PROPERTY KESTRIX_CLOSURE_${target} ${closure})
  file(RELATIVE_PATH folder ${KESTRIX_SOURCE_ROOT} ${CMAKE_CURRENT_SOURCE_DIR})
  set_property(GLOBAL PROPERTY KESTRIX_LAYER_OF_${folder} ${target})

  # The include check, over every file of the folder (Windows-only ones too).
  file(GLOB_RECURSE files LIST_DIRECTORIES false
       ${CMAKE_CURRENT_SOURCE_DIR}/*.h ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.inc)
  foreach(file IN LISTS files)
    file(STRINGS ${file} lines REGEX "^[ \t]*#[ \t]*include[ \t]*\"(crash|report_ui|debuginfo)/")
    foreach(line IN LISTS lines)
      string(REGEX REPLACE "^[^\"]*\"([^\"]+)\".*$" "\\1" header "${line}")
      get_filename_component(header_folder ${header} DIRECTORY)
      string(REGEX REPLACE "/win$" "" header_folder ${header_folder})
      if(header_folder STREQUAL folder)
        continue()
      endif()
      get_property(owner GLOBAL PROPERTY KESTRIX_LAYER_OF_${header_folder})
      file(RELATIVE_PATH shown ${KESTRIX_SOURCE_ROOT} ${file})
      if(NOT owner)
        message(FATAL_ERROR "${shown} includes ${header}, which belongs to no layer defined before "
                            "${target}: layers include only layers below them")
      endif()
      if(NOT owner IN_LIST closure)
        message(FATAL_ERROR "${shown} includes ${header} of ${owner}, which ${target} does not depend on")
      endif()
    endforeach()
  endforeach()
endfunction()
