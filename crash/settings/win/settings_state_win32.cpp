#include "crash/settings/win/settings_state_win32.h"

namespace kestrix {

void DefaultSettingsMessage(const char* text, const char* caption) { MessageBoxA(nullptr, text, caption, MB_OK); }

TSettingsState& SettingsState() {
  static auto* state = new TSettingsState;
  return *state;
}

}  // namespace kestrix
