// The library's hidden message window of the main thread: it answers the
// library's message (777), runs handlers in the main thread and answers the
// freeze watchdog's probe.
#pragma once

#include <windows.h>

namespace kestrix {

bool CreateLibraryWindow();
void DestroyLibraryWindow();
HWND LibraryWindow();
// One more message the window answers through `handler` (the freeze
// watchdog's probe); 0 and null remove it.
void SetLibraryWindowProbe(UINT message, LRESULT (*handler)(WPARAM, LPARAM));

}  // namespace kestrix
