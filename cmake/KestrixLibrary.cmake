# Kestrix, the crash-report library: its layers in their order (each folder
# may use only the folders above it in this list), the target `kestrix`
# (Kestrix::kestrix) that programs link, and the package that
# `cmake --install` writes. Needs no GoogleTest and no analyzer.
include_guard(GLOBAL)
include(${CMAKE_CURRENT_LIST_DIR}/KestrixLayers.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/Kestrix.cmake)
if(WIN32)
  # The system functions bound on first call are small assembly stubs.
  enable_language(ASM)
  include(${CMAKE_CURRENT_LIST_DIR}/KestrixLazyImports.cmake)
endif()

# The public headers (crash/include/kestrix), the only ones installed.
add_library(kx_api INTERFACE)
target_include_directories(kx_api INTERFACE
  $<BUILD_INTERFACE:${KESTRIX_SOURCE_ROOT}/crash/include> $<INSTALL_INTERFACE:include>)
# The public headers are C++17.
target_compile_features(kx_api INTERFACE cxx_std_17)

# What the library's code and every program linking it are compiled and
# linked with: a complete frame-pointer chain, unwind tables everywhere and
# exceptions from any instruction, so that processor faults can become C++
# exceptions; the static runtime, so that no runtime DLL is needed beside
# the program.
add_library(kx_options INTERFACE)
if(WIN32)
  target_compile_options(kx_options INTERFACE
    -g -fno-omit-frame-pointer -fnon-call-exceptions -fasynchronous-unwind-tables)
  target_link_options(kx_options INTERFACE -static -static-libgcc -static-libstdc++)
endif()
# Only for the library's own code.
add_library(kx_build_options INTERFACE)
target_link_libraries(kx_build_options INTERFACE kx_options)
if(WIN32)
  target_compile_definitions(kx_build_options INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
endif()
target_compile_features(kx_build_options INTERFACE cxx_std_20)

# zlib (static in the Windows build) for the compact map's payload.
set(ZLIB_USE_STATIC_LIBS ON)
find_package(ZLIB REQUIRED)

foreach(dir crash/base crash/settings crash/exception crash/threads crash/sysinfo crash/report crash/dump
            debuginfo/map debuginfo/readers crash/handling crash/watchdog debuginfo/decoder debuginfo/parser
            debuginfo/stack report_ui/progress report_ui/imaging report_ui/mail report_ui/delivery
            report_ui/assistant report_ui/views report_ui/dialog
            crash/startup)
  add_subdirectory(${KESTRIX_SOURCE_ROOT}/${dir} ${CMAKE_BINARY_DIR}/kestrix/${dir})
endforeach()

if(WIN32)
  # What a program links: every layer through the composition root, the
  # start-up always linked in, every C++ throw leaving its raise record and
  # counted until caught, the runtime's pure virtual call and terminate
  # reported with their callers.
  add_library(kestrix INTERFACE)
  target_link_libraries(kestrix INTERFACE kx_startup kx_options)
  target_link_options(kestrix INTERFACE -Wl,-u,_kestrix_startup_anchor -Wl,--wrap=__cxa_throw
    -Wl,--wrap=__cxa_rethrow -Wl,--wrap=__cxa_begin_catch -Wl,--wrap=__cxa_pure_virtual
    -Wl,--wrap=_ZSt9terminatev)
  add_library(Kestrix::kestrix ALIAS kestrix)
endif()
