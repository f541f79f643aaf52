// The exception dialog's state, shared by its Windows files: the delivery
// channels it calls and the hooks that tests and the freeze report set.
#pragma once

#include <windows.h>

#include "report_ui/dialog/win/exception_box_win32.h"

namespace kestrix {

// Constant-initialized and never destroyed.
struct TDialogState {
  // The delivery layer's send and print: registered by the start-up.
  TDeliveryHooks delivery;
  // Told of each dialog shown (and whether it is the plain message box):
  // set by tests.
  void (*boxHook)(HWND, bool) = nullptr;
  // Given each freeze dialog: set by the freeze report.
  void (*freezeSink)(HWND) = nullptr;
};
TDialogState& DialogState();

}  // namespace kestrix
