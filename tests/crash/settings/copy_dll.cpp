// A library with its own copy of Kestrix and its own settings record: the
// test program reaches the copy's settings code through these exports.
#include <windows.h>

#include <cstring>

#include "crash/settings/win/settings_object.h"
#include "crash/threads/win/thread_table_win32.h"

using namespace kestrix;

namespace {
HMODULE g_self = nullptr;

void Copy(const std::string& text, char* buffer, int size) {
  if (size <= 0) return;
  std::strncpy(buffer, text.c_str(), static_cast<size_t>(size) - 1);
  buffer[size - 1] = '\0';
}
}  // namespace

BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) g_self = instance;
  return TRUE;
}

// The shared entry this copy finds for the module (the test compares it
// with the program's own copy).
extern "C" __declspec(dllexport) void* KxCopyEntry(HMODULE module) {
  KXPtr<TIKXSettings> s(new TIKXSettings(module ? module : g_self));
  return s->Entry();
}

extern "C" __declspec(dllexport) BOOL KxCopySetText(HMODULE module, const char* name,
                                                    const char* value) {
  KXPtr<TIKXSettings> s(new TIKXSettings(module ? module : g_self));
  return s->SetTextSetting(name, value);
}

extern "C" __declspec(dllexport) void KxCopyGetText(HMODULE module, const char* name,
                                                    char* buffer, int size) {
  KXPtr<TIKXSettings> s(new TIKXSettings(module ? module : g_self));
  Copy(s->GetTextSetting(name), buffer, size);
}

// Holds one settings object of the copy until KxCopyDrop.
static KXPtr<IKXSettings> g_held;
extern "C" __declspec(dllexport) void KxCopyHold() { g_held = SettingsForModule(g_self); }
extern "C" __declspec(dllexport) void KxCopyDrop() { g_held = KXPtr<IKXSettings>(); }
// Settings for the code `level` frames up from here: 0 this library,
// 1 its caller.
extern "C" __declspec(dllexport) HMODULE KxCopySettingsModule(int level) {
  return SettingsForCaller(level)->Module();
}

// The copy's thread registry, for the tests of its creation.
extern "C" __declspec(dllexport) BOOL KxCopyOpenThreadTable() { return OpenThreadTable(); }
extern "C" __declspec(dllexport) void KxCopyNameThread(DWORD id, const char* name) { AssignThreadName(id, name); }
extern "C" __declspec(dllexport) void KxCopyThreadName(DWORD id, char* buffer, int size) {
  TThreadInfo info;
  Copy(LookupThread(id, info, INFINITE) && info.registered ? info.name : std::string(), buffer, size);
}
