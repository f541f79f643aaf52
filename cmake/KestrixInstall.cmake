# The package `cmake --install` writes from a Windows build: the layers'
# libraries, the public headers, the build-step tools (programs of the build
# host), the toolchain file, the library's pictures and the CMake package
# (find_package(Kestrix)).
include_guard(GLOBAL)
if(NOT WIN32)
  return()
endif()
include(GNUInstallDirs)

get_property(layers GLOBAL PROPERTY KESTRIX_LAYERS)
install(TARGETS kx_api kx_options kx_lazy_imports ${layers} kestrix EXPORT KestrixTargets
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR})
install(DIRECTORY ${KESTRIX_SOURCE_ROOT}/crash/include/kestrix DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(config_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Kestrix)
install(EXPORT KestrixTargets NAMESPACE Kestrix:: DESTINATION ${config_dir})
include(CMakePackageConfigHelpers)
write_basic_package_version_file(${CMAKE_BINARY_DIR}/KestrixConfigVersion.cmake
  VERSION ${PROJECT_VERSION} COMPATIBILITY SameMajorVersion)
install(FILES ${KESTRIX_SOURCE_ROOT}/cmake/KestrixConfig.cmake ${CMAKE_BINARY_DIR}/KestrixConfigVersion.cmake
              ${KESTRIX_SOURCE_ROOT}/cmake/Kestrix.cmake
        DESTINATION ${config_dir})
# The toolchain file, which also lets find_package look in this prefix.
file(READ ${KESTRIX_SOURCE_ROOT}/cmake/mingw-i686.cmake toolchain)
string(APPEND toolchain [=[
# The Kestrix package beside this file is found too.
get_filename_component(_kestrix_prefix ${CMAKE_CURRENT_LIST_DIR}/../.. ABSOLUTE)
list(APPEND CMAKE_FIND_ROOT_PATH ${_kestrix_prefix})
]=])
file(WRITE ${CMAKE_BINARY_DIR}/kestrix-mingw-i686.cmake "${toolchain}")
install(FILES ${CMAKE_BINARY_DIR}/kestrix-mingw-i686.cmake DESTINATION ${CMAKE_INSTALL_DATADIR}/kestrix
        RENAME mingw-i686.cmake)

# The library's resource files, and the lines that name them.
get_property(resource_lines GLOBAL PROPERTY KESTRIX_RESOURCES)
get_property(resource_files GLOBAL PROPERTY KESTRIX_RESOURCE_FILES)
install(FILES ${resource_files} DESTINATION ${CMAKE_INSTALL_DATADIR}/kestrix/resources)
set(lines "")
foreach(line IN LISTS resource_lines)
  string(REGEX REPLACE "\"([^\"]*/)?([^\"/]+)\"$" "\"\\2\"" line "${line}")
  string(APPEND lines "${line}\n")
endforeach()
file(WRITE ${CMAKE_BINARY_DIR}/kestrix-resources.txt "${lines}")
install(FILES ${CMAKE_BINARY_DIR}/kestrix-resources.txt DESTINATION ${CMAKE_INSTALL_DATADIR}/kestrix/resources
        RENAME resources.txt)

# The build-step tools, built for the build host.
_kestrix_host_tool(kxsettings settings_tool)
_kestrix_host_tool(kxpechecksum checksum_tool)
_kestrix_host_tool(kxdebugmap map_tool)
_kestrix_host_tool(kxmap kxmap_tool)
install(PROGRAMS ${settings_tool} ${checksum_tool} ${map_tool} ${kxmap_tool} DESTINATION ${CMAKE_INSTALL_BINDIR})
