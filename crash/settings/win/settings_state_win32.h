// The settings subsystem's state, shared by its Windows files: the main
// settings object, the assistant loader, this copy's view of the process's
// settings buffer and the message handler.
#pragma once

#include <windows.h>

#include <mutex>

#include "crash/settings/win/settings_buffer_win32.h"
#include "crash/settings/win/settings_object.h"

namespace kestrix {

// A message box: the settings code's messages when no one else takes them.
void DefaultSettingsMessage(const char* text, const char* caption);

// Made on first use (the library's start-up, in a static initializer) and
// never destroyed: reports of errors in the program's static destructors
// still read the settings.
struct TSettingsState {
  // The main settings object, written under `mainLock` by SetMainSettings:
  // set at start-up, dropped by the library's shutdown.
  std::mutex mainLock;
  KXPtr<IKXSettings> main;
  // Registered by the assistant layer at start-up (and by tests).
  TAssistantLoader assistantLoader = nullptr;
  // This copy's view of the process's buffer while it holds references:
  // written under the settings mutex by AcquireBuffer and ReleaseBuffer.
  TSharedSettingsBuffer* buffer = nullptr;
  // Where the settings code's messages go: replaced by tests.
  TSettingsMessageHandler message = DefaultSettingsMessage;
};
TSettingsState& SettingsState();

}  // namespace kestrix
