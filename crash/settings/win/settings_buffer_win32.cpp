#include "crash/settings/win/settings_buffer_win32.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "crash/base/win/scoped_handle.h"
#include "crash/settings/kx_cipher.h"
#include "crash/settings/settings_record.h"
#include "crash/settings/win/settings_state_win32.h"

namespace kestrix {

namespace {

std::string ProcessName(const char* prefix) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%s$%lx", prefix,
                static_cast<unsigned long>(GetCurrentProcessId()));
  return buffer;
}

// Security attributes without an access list (everyone may open), not
// inherited. The descriptor is filled as InitializeSecurityDescriptor and
// SetSecurityDescriptorDacl(TRUE, null) fill it, without advapi32, which a
// program need not load to start.
struct TOpenSecurity {
  SECURITY_DESCRIPTOR descriptor{};
  SECURITY_ATTRIBUTES attributes;
  TOpenSecurity() {
    descriptor.Revision = SECURITY_DESCRIPTOR_REVISION;
    descriptor.Control = SE_DACL_PRESENT;
    descriptor.Dacl = nullptr;
    attributes.nLength = sizeof attributes;
    attributes.lpSecurityDescriptor = &descriptor;
    attributes.bInheritHandle = FALSE;
  }
};

// Holds the named settings mutex.
class TSettingsMutex {
 public:
  TSettingsMutex() {
    TOpenSecurity security;
    handle_.Reset(CreateMutexA(&security.attributes, FALSE, ProcessName("KestrixSettingsMtx").c_str()));
    if (handle_) WaitForSingleObject(handle_.Get(), INFINITE);
  }
  ~TSettingsMutex() {
    if (handle_) ReleaseMutex(handle_.Get());
  }

 private:
  TScopedHandle handle_;
};

TSharedSettingsBuffer* AcquireBuffer() {
  TSettingsMutex mutex;
  TOpenSecurity security;
  TScopedHandle mapping(CreateFileMappingA(INVALID_HANDLE_VALUE, &security.attributes, PAGE_READWRITE, 0,
                                           sizeof(TSharedSettingsBuffer), ProcessName("KestrixSettingsBuf").c_str()));
  if (!mapping) return nullptr;
  bool existed = GetLastError() == ERROR_ALREADY_EXISTS;
  TMappedView mapped(MapViewOfFile(mapping.Get(), FILE_MAP_ALL_ACCESS, 0, 0, sizeof(TSharedSettingsBuffer)));
  if (!mapped) return nullptr;
  auto* view = mapped.As<TSharedSettingsBuffer>();
  TSharedSettingsBuffer* buffer = view;
  if (!existed) {
    // The buffer keeps the mapping and the view until ReleaseBuffer.
    std::memset(view, 0, sizeof *view);
    view->mapping = mapping.Release();
    view->view = static_cast<TSharedSettingsBuffer*>(mapped.Release());
    InitializeCriticalSection(&view->lock);
  } else {
    // Another copy of the library made it: use its view, drop ours.
    buffer = view->view;
    mapped.Reset();
    mapping.Reset();
    if (!buffer) return nullptr;
  }
  ++buffer->refCount;
  SettingsState().buffer = buffer;
  return buffer;
}

void ReleaseBuffer(TSharedSettingsBuffer* buffer) {
  TSettingsMutex mutex;
  if (buffer->refCount > 1) {
    --buffer->refCount;
    return;
  }
  // Taken back from the buffer: unmapped, then closed, when they go.
  TScopedHandle mapping(buffer->mapping);
  TMappedView view(buffer);
  TInitializedCriticalSection(&buffer->lock).Reset();
  buffer->view = nullptr;
  if (SettingsState().buffer == buffer) SettingsState().buffer = nullptr;
}

std::string WideToAnsiCodePage(const char16_t* units, size_t count) {
  if (count == 0) return std::string();
  auto* wide = reinterpret_cast<const wchar_t*>(units);
  int n = WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(count), nullptr, 0, nullptr, nullptr);
  if (n <= 0) return std::string();
  std::string out(static_cast<size_t>(n), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide, static_cast<int>(count), out.data(), n, nullptr, nullptr);
  return out;
}

void FreeProperties(TModuleSettingsEntry* entry) {
  for (int32_t i = 0; i < entry->count; ++i) {
    SharedFree(entry->properties[i].name);
    SharedFree(entry->properties[i].textValue);
  }
  SharedFree(entry->properties);
  entry->properties = nullptr;
  entry->count = entry->capacity = 0;
}

const char* EntryText(TModuleSettingsEntry* entry, const char* name) {
  TPropertyEntry* p = FindEntryProperty(entry, name);
  return p && p->kind == pkText && p->textValue ? p->textValue : "";
}

void DecodeEntryPassword(TModuleSettingsEntry* entry, const char* password, const char* account,
                         const char* server) {
  TPropertyEntry* p = FindEntryProperty(entry, password);
  if (!p || p->kind != pkText || !p->textValue) return;
  SetPropertyText(p, DecodePassword(p->textValue, EntryText(entry, account), EntryText(entry, server)));
}

// Parses the module's record into its (empty) entry; returns the message to
// show when the record could not be read to its end.
std::string ParseRecordInto(TModuleSettingsEntry* entry) {
  // Modules keep their resources in themselves; a separate resource module
  // would be asked first.
  HRSRC info = FindResourceA(entry->module, "TKESTRIX", MAKEINTRESOURCEA(10) /* RT_RCDATA */);
  HGLOBAL handle = info ? LoadResource(entry->module, info) : nullptr;
  const void* data = handle ? LockResource(handle) : nullptr;
  if (!data) return std::string();
  TRecordParseResult result =
      ParseSettingsRecord(data, SizeofResource(entry->module, info), WideToAnsiCodePage);
  int32_t capacity = kInitialPropertyCapacity;
  while (capacity < static_cast<int32_t>(result.properties.size())) capacity += kPropertyGrowth;
  entry->properties = static_cast<TPropertyEntry*>(
      HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, capacity * sizeof(TPropertyEntry)));
  if (!entry->properties) return std::string();
  entry->capacity = capacity;
  for (const TRecordProperty& r : result.properties) {
    TPropertyEntry& p = entry->properties[entry->count++];
    p.name = SharedStrDup(r.name);
    p.kind = r.kind;
    p.boolValue = r.boolValue ? 1 : 0;
    p.intValue = r.intValue;
    p.textValue = r.kind == pkText ? SharedStrDup(r.textValue) : nullptr;
  }
  DecodeEntryPassword(entry, "SmtpPassword", "SmtpAccount", "SmtpServer");
  DecodeEntryPassword(entry, "HttpPassword", "HttpAccount", "HttpServer");
  if (result.status == TRecordStatus::UnknownType || result.status == TRecordStatus::Truncated)
    return InvalidRecordMessage(result);
  return std::string();
}

}  // namespace

char* SharedStrDup(const std::string& text) {
  if (text.empty()) return nullptr;
  auto* p = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, text.size() + 1));
  if (p) std::memcpy(p, text.c_str(), text.size() + 1);
  return p;
}

void SharedFree(void* p) {
  if (p) HeapFree(GetProcessHeap(), 0, p);
}

TSettingsMessageHandler SetSettingsMessageHandler(TSettingsMessageHandler handler) {
  TSettingsState& state = SettingsState();
  TSettingsMessageHandler old = state.message;
  state.message = handler ? handler : DefaultSettingsMessage;
  return old;
}

void ShowSettingsMessage(const char* text) { SettingsState().message(text, "Kestrix"); }

bool ModuleHasSettingsRecord(HMODULE module) {
  return module && FindResourceA(module, "TKESTRIX", MAKEINTRESOURCEA(10)) != nullptr;
}

TModuleSettingsEntry* ReferenceModuleSettings(HMODULE module) {
  if (!ModuleHasSettingsRecord(module)) return nullptr;
  TSharedSettingsBuffer* buffer = AcquireBuffer();
  if (!buffer) {
    ShowSettingsMessage("internal error (opening settings buffer)");
    return nullptr;
  }
  std::string message;
  TCriticalSectionGuard guard(&buffer->lock);
  TModuleSettingsEntry** link = &buffer->head;
  while (*link && (*link)->module != module) link = &(*link)->next;
  TModuleSettingsEntry* entry = *link;
  if (!entry) {
    entry = static_cast<TModuleSettingsEntry*>(
        HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, sizeof(TModuleSettingsEntry)));
    if (entry) {
      entry->module = module;
      *link = entry;
      message = ParseRecordInto(entry);
    }
  }
  if (entry) ++entry->refCount;
  guard.Unlock();
  if (!message.empty()) ShowSettingsMessage(message.c_str());
  if (!entry) ReleaseBuffer(buffer);
  return entry;
}

void ReleaseModuleSettings(TModuleSettingsEntry* entry) {
  TSharedSettingsBuffer* buffer = SettingsState().buffer;
  if (!entry || !buffer) return;
  TCriticalSectionGuard guard(&buffer->lock);
  if (entry->refCount <= 1) {
    TModuleSettingsEntry** link = &buffer->head;
    while (*link && *link != entry) link = &(*link)->next;
    if (*link) *link = entry->next;
    FreeProperties(entry);
    SharedFree(entry);
  } else {
    --entry->refCount;
  }
  guard.Unlock();
  ReleaseBuffer(buffer);
}

void ReloadModuleSettings(TModuleSettingsEntry* entry) {
  if (!entry || !SettingsState().buffer) return;
  std::string message;
  {
    TSettingsLock lock;
    FreeProperties(entry);
    message = ParseRecordInto(entry);
  }
  if (!message.empty()) ShowSettingsMessage(message.c_str());
}

TSettingsLock::TSettingsLock() : guard_(SettingsState().buffer ? &SettingsState().buffer->lock : nullptr) {}

TPropertyEntry* FindEntryProperty(TModuleSettingsEntry* entry, const char* name) {
  if (!entry || !name) return nullptr;
  for (int32_t i = 0; i < entry->count; ++i)
    if (std::strcmp(entry->properties[i].name ? entry->properties[i].name : "", name) == 0)
      return &entry->properties[i];
  return nullptr;
}

TPropertyEntry* AppendEntryProperty(TModuleSettingsEntry* entry, const char* name,
                                    TPropertyKind kind) {
  if (!entry || !name || !*name) return nullptr;
  if (entry->count >= entry->capacity) {
    int32_t capacity = entry->capacity + kPropertyGrowth;
    void* grown = entry->properties
        ? HeapReAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, entry->properties,
                      capacity * sizeof(TPropertyEntry))
        : HeapAlloc(GetProcessHeap(), HEAP_ZERO_MEMORY, capacity * sizeof(TPropertyEntry));
    if (!grown) return nullptr;
    entry->properties = static_cast<TPropertyEntry*>(grown);
    entry->capacity = capacity;
  }
  TPropertyEntry& p = entry->properties[entry->count];
  p = TPropertyEntry{SharedStrDup(name), static_cast<uint8_t>(kind), 0, 0, nullptr};
  if (!p.name) return nullptr;
  ++entry->count;
  return &p;
}

void SetPropertyText(TPropertyEntry* property, const std::string& text) {
  char* old = property->textValue;
  property->textValue = SharedStrDup(text);
  SharedFree(old);
}

}  // namespace kestrix
