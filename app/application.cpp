#include "app/application.h"

#include <windows.h>
#include <commctrl.h>

namespace quorrin {

TApplication Application;

void TApplication::Initialize() {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_TREEVIEW_CLASSES | ICC_STANDARD_CLASSES};
  InitCommonControlsEx(&icc);
}

int TApplication::Run() {
  MSG msg;
  while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
    HWND top = GetAncestor(msg.hwnd, GA_ROOT);
    if (top && IsDialogMessageA(top, &msg)) continue;
    TranslateMessage(&msg);
    DispatchMessageA(&msg);
  }
  return static_cast<int>(msg.wParam);
}

void TApplication::HandleException(std::exception_ptr error) noexcept {
  try {
    if (hook_ && hook_(error, hookContext_)) return;
    std::rethrow_exception(error);
  } catch (const std::exception& e) {
    ShowException(e.what());
  } catch (...) {
    ShowException("Unknown exception");
  }
}

void TApplication::ShowException(const std::string& message) noexcept {
  std::string text = message;
  // As the runtime does: a message that ends in a letter or digit gets a full stop.
  if (!text.empty() && static_cast<unsigned char>(text.back()) > '.') text += '.';
  MessageBoxA(GetActiveWindow(), text.c_str(), Title.c_str(), MB_OK | MB_ICONERROR);
}

void TApplication::SetExceptionHook(ExceptionHook hook, void* context) {
  hook_ = hook;
  hookContext_ = context;
}

}  // namespace quorrin
