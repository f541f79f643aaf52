// The screenshot: the whole virtual screen, or only the visible parts of
// the program's own windows, with the mouse cursor drawn in.
#pragma once

#include <windows.h>

#include "report_ui/imaging/inv_bitmap.h"

namespace kestrix::imaging {

// None when there is no display, no visible window of the program (with
// appOnly), an empty visible region, or the copy fails.
KXPtr<INVBitmap> CaptureScreen(bool appOnly);

// The visible region of the program's top-level windows in screen
// coordinates (each window minus every visible window above it); null when
// the program shows no window. The caller deletes it.
HRGN VisibleRegionOfProcess(DWORD processId, RECT& bounds);

}  // namespace kestrix::imaging
