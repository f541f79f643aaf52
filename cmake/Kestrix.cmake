# kestrix_embed(<target> SETTINGS <file> [NAMES_IN_KX_FILE] [STRIP_DEBUG ON|OFF])
#
# Build steps for a Windows program that links Kestrix::kestrix:
# writes the settings record from the readable settings file <file>; links
# the program twice to embed the compact map of its own debug information
# as the resource KX "EXCEPT" and the settings record as RCDATA "TKESTRIX"
# (the second link must not move code); the library's own resources (its
# pictures) go in with both links. With NAMES_IN_KX_FILE the embedded map
# carries no names: the full map is written to <program>.kx beside the
# program, and the settings record names its fingerprint (MinDebugInfo), so
# that reports name units, functions and lines only beside the ".kx" file of
# the same build. With STRIP_DEBUG (default: ON for Release and MinSizeRel
# builds and with NAMES_IN_KX_FILE) the DWARF is removed afterwards, with
# NAMES_IN_KX_FILE every symbol. The PE checksum is the last step. The
# program's project must have the RC language enabled. In a cross build the
# host tools are built from tools/ with the host compiler.
include_guard(GLOBAL)

get_filename_component(_kestrix_root ${CMAKE_CURRENT_LIST_DIR}/.. ABSOLUTE)
set_property(GLOBAL PROPERTY KESTRIX_ROOT ${_kestrix_root})

# Sets <var> to the command of the host tool <name> and <var>_DEPENDS to
# what a custom command using it must depend on.
function(_kestrix_host_tool name var)
  if(KESTRIX_TOOLS_DIR)
    # Installed package: the tools come prebuilt.
    set(${var} ${KESTRIX_TOOLS_DIR}/${name} PARENT_SCOPE)
    set(${var}_DEPENDS ${KESTRIX_TOOLS_DIR}/${name} PARENT_SCOPE)
    return()
  endif()
  get_property(root GLOBAL PROPERTY KESTRIX_ROOT)
  if(NOT CMAKE_CROSSCOMPILING AND TARGET ${name})
    set(${var} $<TARGET_FILE:${name}> PARENT_SCOPE)
    set(${var}_DEPENDS ${name} PARENT_SCOPE)
    return()
  endif()
  set(dir ${CMAKE_BINARY_DIR}/kestrix-host-tools)
  if(NOT TARGET kestrix_host_tools)
    # The host's own C++ compiler, not the cross compiler.
    find_program(KESTRIX_HOST_CXX NAMES c++ g++ clang++ NO_CMAKE_FIND_ROOT_PATH)
    if(NOT KESTRIX_HOST_CXX)
      message(FATAL_ERROR "Kestrix build steps need a C++ compiler for the build host")
    endif()
    include(ExternalProject)
    ExternalProject_Add(kestrix_host_tools
      SOURCE_DIR ${root}/tools
      BINARY_DIR ${dir}
      CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_COMPILER=${KESTRIX_HOST_CXX}
      INSTALL_COMMAND ""
      BUILD_ALWAYS ON
      BUILD_BYPRODUCTS ${dir}/kxsettings ${dir}/kxpechecksum ${dir}/kxdebugmap ${dir}/kxmap ${dir}/kxforms
      USES_TERMINAL_BUILD OFF)
  endif()
  set(${var} ${dir}/${name} PARENT_SCOPE)
  set(${var}_DEPENDS kestrix_host_tools ${dir}/${name} PARENT_SCOPE)
endfunction()

function(kestrix_embed target)
  cmake_parse_arguments(KX "NAMES_IN_KX_FILE" "SETTINGS;STRIP_DEBUG" "" ${ARGN})
  if(NOT KX_SETTINGS)
    message(FATAL_ERROR "kestrix_embed(${target}): SETTINGS <file> is required")
  endif()
  if(NOT CMAKE_RC_COMPILER_LOADED)
    message(FATAL_ERROR "kestrix_embed(${target}): enable the RC language (enable_language(RC))")
  endif()
  get_property(root GLOBAL PROPERTY KESTRIX_ROOT)
  get_filename_component(settings ${KX_SETTINGS} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  set(dir ${CMAKE_CURRENT_BINARY_DIR}/${target}.kestrix)
  set(record ${dir}/tkestrix.bin)
  file(MAKE_DIRECTORY ${dir})

  _kestrix_host_tool(kxsettings tool)
  add_custom_command(OUTPUT ${record}
    COMMAND ${tool} ${settings} ${record}
    DEPENDS ${settings} ${tool_DEPENDS}
    COMMENT "Writing the settings record of ${target}"
    VERBATIM)

  # The library's pictures go in with both links; the record joins the map
  # in the second link (kxdebugmap), where it can name the map's fingerprint.
  target_sources(${target} PRIVATE ${record})
  set_property(TARGET ${target} APPEND PROPERTY LINK_DEPENDS ${record})
  get_property(pictures GLOBAL PROPERTY KESTRIX_RESOURCES)
  if(pictures)
    set(script "")
    foreach(line IN LISTS pictures)
      string(APPEND script "${line}\n")
    endforeach()
    file(CONFIGURE OUTPUT ${dir}/kestrix.rc CONTENT "${script}" @ONLY)
    get_property(picture_files GLOBAL PROPERTY KESTRIX_RESOURCE_FILES)
    set_source_files_properties(${dir}/kestrix.rc PROPERTIES OBJECT_DEPENDS "${picture_files}")
    target_sources(${target} PRIVATE ${dir}/kestrix.rc)
    # Resources written by build steps of the library (the assistant forms).
    if(TARGET kx_assistant_forms)
      add_dependencies(${target} kx_assistant_forms)
    endif()
  endif()

  # The debug-information map: the link runs through kxdebugmap, which
  # links twice (the second time with the map as a resource) and checks
  # that code did not move.
  _kestrix_host_tool(kxdebugmap map_tool)
  if(NOT DEFINED KX_STRIP_DEBUG)
    if(KX_NAMES_IN_KX_FILE OR CMAKE_BUILD_TYPE MATCHES "^(Release|MinSizeRel)$")
      set(KX_STRIP_DEBUG ON)
    else()
      set(KX_STRIP_DEBUG OFF)
    endif()
  endif()
  set(launcher ${map_tool} link --dir ${dir} --rc ${CMAKE_RC_COMPILER} --settings ${record})
  if(KX_NAMES_IN_KX_FILE)
    list(APPEND launcher --kx-file)
    set_property(TARGET ${target} APPEND PROPERTY ADDITIONAL_CLEAN_FILES
      $<TARGET_FILE_DIR:${target}>/$<TARGET_FILE_BASE_NAME:${target}>.kx)
  endif()
  if(KX_STRIP_DEBUG)
    if(NOT CMAKE_OBJCOPY)
      message(FATAL_ERROR "kestrix_embed(${target}): STRIP_DEBUG needs objcopy (CMAKE_OBJCOPY)")
    endif()
    list(APPEND launcher --strip ${CMAKE_OBJCOPY})
  endif()
  list(APPEND launcher --)
  set_target_properties(${target} PROPERTIES CXX_LINKER_LAUNCHER "${launcher}" C_LINKER_LAUNCHER "${launcher}")
  foreach(dep IN LISTS map_tool_DEPENDS)
    if(TARGET ${dep})
      add_dependencies(${target} ${dep})
    endif()
  endforeach()

  # Last stage: the PE checksum, which the library tests at start-up when
  # CheckFileCrc is set.
  _kestrix_host_tool(kxpechecksum checksum_tool)
  foreach(dep IN LISTS checksum_tool_DEPENDS)
    if(TARGET ${dep})
      add_dependencies(${target} ${dep})
    endif()
  endforeach()
  add_custom_command(TARGET ${target} POST_BUILD
    COMMAND ${checksum_tool} $<TARGET_FILE:${target}>
    COMMENT "Writing the PE checksum of ${target}"
    VERBATIM)
endfunction()

# Adds a resource line ("NAME TYPE \"file\"") that every program embedding
# Kestrix carries (the library's pictures). The library is configured, or its
# package found, before the programs, so every kestrix_embed sees all lines.
function(kestrix_add_resource name type file)
  get_filename_component(file ${file} ABSOLUTE BASE_DIR ${CMAKE_CURRENT_SOURCE_DIR})
  set_property(GLOBAL APPEND PROPERTY KESTRIX_RESOURCES "${name} ${type} \"${file}\"")
  set_property(GLOBAL APPEND PROPERTY KESTRIX_RESOURCE_FILES ${file})
endfunction()
