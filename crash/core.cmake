# Start-up and catch points, the handling flow, the bug report and its file:
# joined to the library `kestrix` (included by crash/CMakeLists.txt).
target_sources(kestrix PRIVATE
  ${CMAKE_CURRENT_LIST_DIR}/exception/fault_conversion_win32.cpp
  ${CMAKE_CURRENT_LIST_DIR}/startup/thread_table_win32.cpp
  ${CMAKE_CURRENT_LIST_DIR}/startup/startup_win32.cpp
  ${CMAKE_CURRENT_LIST_DIR}/handling/handling_win32.cpp
  ${CMAKE_CURRENT_LIST_DIR}/handling/handlers_win32.cpp
  ${CMAKE_CURRENT_LIST_DIR}/bugreport/kx_exception_object_win32.cpp
  ${CMAKE_CURRENT_LIST_DIR}/bugreport/bug_report_win32.cpp
  ${CMAKE_CURRENT_LIST_DIR}/bugreport/code_locations_win32.cpp
  ${CMAKE_CURRENT_LIST_DIR}/bugreport/system_info_win32.cpp
  ${CMAKE_CURRENT_LIST_DIR}/bugreport/save_bug_report_win32.cpp
  ${CMAKE_CURRENT_LIST_DIR}/bugreport/process_trace_win32.cpp)
target_link_libraries(kestrix PUBLIC kestrix_report psapi comdlg32 shell32)
# The start-up is linked into every program; every C++ throw leaves its
# raise record (throw site and call chain) for the report.
target_link_options(kestrix INTERFACE -Wl,-u,_kestrix_startup_anchor -Wl,--wrap=__cxa_throw)
