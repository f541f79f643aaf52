# The installed Kestrix package: Kestrix::kestrix and kestrix_embed().
#
#   find_package(Kestrix REQUIRED)
#   target_link_libraries(app PRIVATE Kestrix::kestrix)
#   kestrix_embed(app SETTINGS app.kxsettings)
include_guard(GLOBAL)
get_filename_component(_kestrix_prefix ${CMAKE_CURRENT_LIST_DIR}/../../.. ABSOLUTE)
# The compact map's payload is zlib data; the library links zlib statically.
include(CMakeFindDependencyMacro)
set(ZLIB_USE_STATIC_LIBS ON)
find_dependency(ZLIB)
include(${CMAKE_CURRENT_LIST_DIR}/KestrixTargets.cmake)

# kestrix_embed's build steps come prebuilt with the package.
set(KESTRIX_TOOLS_DIR ${_kestrix_prefix}/bin)
include(${CMAKE_CURRENT_LIST_DIR}/Kestrix.cmake)

# The library's own resources (its pictures), embedded into every program.
set(_kestrix_resources ${_kestrix_prefix}/share/kestrix/resources)
file(STRINGS ${_kestrix_resources}/resources.txt _kestrix_lines)
foreach(_kestrix_line IN LISTS _kestrix_lines)
  if(_kestrix_line MATCHES "^([^ ]+) ([^ ]+) \"(.+)\"$")
    kestrix_add_resource(${CMAKE_MATCH_1} ${CMAKE_MATCH_2} ${_kestrix_resources}/${CMAKE_MATCH_3})
  endif()
endforeach()

# Resources need the resource compiler.
if(NOT CMAKE_RC_COMPILER_LOADED)
  enable_language(RC)
endif()
