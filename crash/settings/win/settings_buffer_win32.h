// The parsed settings of the modules of one process, shared by every copy
// of the library loaded into it through the named shared memory
// "KestrixSettingsBuf$<pid in hex>" (creation and release serialised by the
// mutex "KestrixSettingsMtx$<pid in hex>").
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

#include "crash/base/win/critical_section.h"
#include "crash/settings/settings_defaults.h"

namespace kestrix {

// The settings of one module. Allocated on the process heap, so that any
// copy of the library may free it.
struct TModuleSettingsEntry {
  HMODULE module;
  int32_t capacity;
  int32_t count;
  TPropertyEntry* properties;
  LONG refCount;
  TModuleSettingsEntry* next;
};

// The 40 bytes of shared memory.
struct TSharedSettingsBuffer {
  LONG refCount;
  HANDLE mapping;
  CRITICAL_SECTION lock;  // guards the module list and the entries' arrays
  TModuleSettingsEntry* head;
  // The buffer's own view address: later copies of the library use the
  // view the first one mapped, so that the critical section has one address.
  TSharedSettingsBuffer* view;
};
static_assert(sizeof(void*) != 4 || sizeof(TSharedSettingsBuffer) == 40,
              "the shared settings buffer is 40 bytes");

constexpr int32_t kInitialPropertyCapacity = 131;
constexpr int32_t kPropertyGrowth = 20;

// True when the module carries the resource RCDATA "TKESTRIX".
bool ModuleHasSettingsRecord(HMODULE module);

// The module's entry with one more reference, parsing its record the first
// time; nullptr when the module has no record or the buffer cannot be had
// (then the message "internal error (opening settings buffer)" was shown).
TModuleSettingsEntry* ReferenceModuleSettings(HMODULE module);
void ReleaseModuleSettings(TModuleSettingsEntry* entry);
// Frees the entry's properties and parses the record again.
void ReloadModuleSettings(TModuleSettingsEntry* entry);

// Holds the buffer's critical section (recursive) while it lives.
class TSettingsLock {
 public:
  TSettingsLock();
  TSettingsLock(const TSettingsLock&) = delete;
  TSettingsLock& operator=(const TSettingsLock&) = delete;

 private:
  TCriticalSectionGuard guard_;
};

// Callers hold TSettingsLock.
TPropertyEntry* FindEntryProperty(TModuleSettingsEntry* entry, const char* name);
TPropertyEntry* AppendEntryProperty(TModuleSettingsEntry* entry, const char* name,
                                    TPropertyKind kind);
void SetPropertyText(TPropertyEntry* property, const std::string& text);

// Heap helpers for entries that any copy of the library may free.
char* SharedStrDup(const std::string& text);  // nullptr for an empty text
void SharedFree(void* p);

// Message boxes of the settings code go through here, so that tests can
// catch them. Returns the previous handler.
using TSettingsMessageHandler = void (*)(const char* text, const char* caption);
TSettingsMessageHandler SetSettingsMessageHandler(TSettingsMessageHandler handler);
void ShowSettingsMessage(const char* text);

}  // namespace kestrix
