// TIKXSettings: lookup, generic getters and setters, placeholders, lists,
// assistants and the form cache; obtaining the settings of a module.
#include <windows.h>

#include <mutex>

#include "crash/settings/placeholders.h"
#include "crash/settings/win/settings_object.h"
#include "crash/settings/settings_lists.h"
#include "crash/settings/win/settings_state_win32.h"

namespace kestrix {

namespace {

TIKXSettings* MainObject(KXPtr<IKXSettings>& holder) {
  holder = MainSettings();
  return dynamic_cast<TIKXSettings*>(holder.get());
}

// Names and versions of a module for placeholder expansion.
class TModulePlaceholders final : public TPlaceholderSource {
 public:
  TModulePlaceholders(HMODULE module, const std::string& versionText)
      : module_(module), versionText_(versionText) {}

  std::string AppName() override { return ModuleFileName(nullptr); }
  std::string ModName() override { return ModuleFileName(module_); }
  std::string AppVersion() override {
    HMODULE exe = GetModuleHandleA(nullptr);
    if (exe == module_) return ModVersion();
    KXPtr<TIKXSettings> exeSettings(new TIKXSettings(exe));
    return Version(exe, exeSettings->VersionText());
  }
  std::string ModVersion() override { return Version(module_, versionText_); }
  TLocalTime Now() override {
    SYSTEMTIME t;
    GetLocalTime(&t);
    return {t.wYear, t.wMonth, t.wDay, t.wHour, t.wMinute, t.wSecond, t.wMilliseconds};
  }

 private:
  static std::string Version(HMODULE module, const std::string& text) {
    uint32_t ms = 0, ls = 0;
    if (text.empty()) ModuleFileVersion(module, ms, ls);
    return VersionDisplayText(text, ms, ls);
  }

  HMODULE module_;
  std::string versionText_;
};

}  // namespace

TAssistantLoader SetAssistantLoader(TAssistantLoader loader) {
  TAssistantLoader old = SettingsState().assistantLoader;
  SettingsState().assistantLoader = loader;
  return old;
}

TAssistantLoader GetAssistantLoader() { return SettingsState().assistantLoader; }

void SetMainSettings(const KXPtr<IKXSettings>& settings) {
  KXPtr<IKXSettings> previous;
  {
    TSettingsState& state = SettingsState();
    std::lock_guard<std::mutex> lock(state.mainLock);
    previous = state.main;
    state.main = settings;
  }
  // The previous object is released outside the lock (its release may read
  // settings).
}

KXPtr<IKXSettings> MainSettings() {
  TSettingsState& state = SettingsState();
  std::lock_guard<std::mutex> lock(state.mainLock);
  return state.main;
}

// --- life --------------------------------------------------------------

TIKXSettings::TIKXSettings(HMODULE module, bool reference) : module_(module) {
  if (reference) entry_ = ReferenceModuleSettings(module);
  valid_ = entry_ != nullptr;
  versionText_ = ReadModuleVersionText(module, GetIntSetting("VersionVar"));
}

TIKXSettings::~TIKXSettings() {
  if (attachments_) attachments_->SetChangeSink(nullptr);
  if (fields_) fields_->SetChangeSink(nullptr);
  ReleaseModuleSettings(entry_);
}

bool TIKXSettings::QueryInterface(const KXIID& iid, void** out) {
  if (iid == IKXSettings::IID) {
    *out = static_cast<IKXSettings*>(this);
  } else if (iid == IKXModuleSettings::IID) {
    *out = static_cast<IKXModuleSettings*>(this);
  } else {
    return false;
  }
  AddRef();
  return true;
}

// --- lookup ------------------------------------------------------------

bool TIKXSettings::UseDefaults() {
  KXPtr<IKXSettings> main = MainSettings();
  return !main || main->Module() == module_;
}

bool TIKXSettings::LookupValue(const char* name, bool useDefaults, TValue& value) {
  if (entry_) {
    TSettingsLock lock;
    if (const TPropertyEntry* p = FindEntryProperty(entry_, name)) {
      value = {p->kind, p->boolValue != 0, p->intValue, p->textValue ? p->textValue : ""};
      return true;
    }
  }
  if (useDefaults) {
    if (const TPropertyEntry* d = FindDefaultSetting(name)) {
      value = {d->kind, d->boolValue != 0, d->intValue, d->textValue ? d->textValue : ""};
      return true;
    }
  }
  return false;
}

bool TIKXSettings::StoreValue(const char* name, const TValue& value) {
  if (!valid_ || !entry_) return false;
  TSettingsLock lock;
  TPropertyEntry* p = FindEntryProperty(entry_, name);
  if (!p) p = AppendEntryProperty(entry_, name, static_cast<TPropertyKind>(value.kind));
  if (!p || p->kind != value.kind) return false;
  switch (value.kind) {
    case pkBoolean: p->boolValue = value.boolValue ? 1 : 0; break;
    case pkInteger: p->intValue = value.intValue; break;
    default: SetPropertyText(p, value.textValue); break;
  }
  return true;
}

bool TIKXSettings::GetBoolSetting(const char* name) {
  bool useDefaults = UseDefaults();
  TValue v;
  if (LookupValue(name, useDefaults, v)) return v.boolValue;
  KXPtr<IKXSettings> holder;
  TIKXSettings* main = useDefaults ? nullptr : MainObject(holder);
  return main ? main->GetBoolSetting(name) : false;
}

int32_t TIKXSettings::GetIntSetting(const char* name) {
  bool useDefaults = UseDefaults();
  TValue v;
  if (LookupValue(name, useDefaults, v)) return v.intValue;
  KXPtr<IKXSettings> holder;
  TIKXSettings* main = useDefaults ? nullptr : MainObject(holder);
  return main ? main->GetIntSetting(name) : 0;
}

std::string TIKXSettings::GetRawTextSetting(const char* name) {
  bool useDefaults = UseDefaults();
  TValue v;
  if (LookupValue(name, useDefaults, v)) return v.textValue;
  KXPtr<IKXSettings> holder;
  TIKXSettings* main = useDefaults ? nullptr : MainObject(holder);
  return main ? main->GetRawTextSetting(name) : std::string();
}

std::string TIKXSettings::GetTextSetting(const char* name) {
  return ExpandText(GetRawTextSetting(name));
}

bool TIKXSettings::SetBoolSetting(const char* name, bool value) {
  TValue v;
  v.kind = pkBoolean;
  v.boolValue = value;
  return StoreValue(name, v);
}

bool TIKXSettings::SetIntSetting(const char* name, int32_t value) {
  TValue v;
  v.kind = pkInteger;
  v.intValue = value;
  return StoreValue(name, v);
}

bool TIKXSettings::SetTextSetting(const char* name, const std::string& value) {
  TValue v;
  v.kind = pkText;
  v.textValue = value;
  return StoreValue(name, v);
}

// --- IKXModuleSettings -------------------------------------------------

bool TIKXSettings::ReadBoolSetting(const char* name) { return GetBoolSetting(name); }
int32_t TIKXSettings::ReadIntSetting(const char* name) { return GetIntSetting(name); }
uint32_t TIKXSettings::ReadDwordSetting(const char* name) {
  return static_cast<uint32_t>(GetIntSetting(name));
}
bool TIKXSettings::ReadTextSetting(const char* name, std::string& text) {
  text = GetTextSetting(name);
  return !text.empty();
}

void TIKXSettings::StoreFormValues(INVAssistant* assistant) {
  if (!assistant) return;
  for (int i = 0; i < assistant->PageCount(); ++i) {
    KXPtr<INVForm> form = assistant->Page(i);
    if (!form || form->ModalResult() != nvmrContinue) continue;
    for (int k = 0; k < form->ItemCount(); ++k) {
      KXPtr<INVItem> item = form->Item(k);
      if (!item) continue;
      TNVItemKind kind = item->Kind();
      if (kind != nvkEdit && kind != nvkCheckBox) continue;
      if (!formCache_) formCache_ = NewFields();
      formCache_->SetContent(item->Name(),
                             kind == nvkEdit ? item->Text() : item->Checked() ? "+" : "-");
    }
  }
}

void TIKXSettings::RestoreFormValues(INVAssistant* assistant) {
  if (!assistant || !formCache_) return;
  for (int i = 0; i < assistant->PageCount(); ++i) {
    KXPtr<INVForm> form = assistant->Page(i);
    if (!form) continue;
    int filled = 0;
    bool allFound = true;
    for (int k = 0; k < form->ItemCount(); ++k) {
      KXPtr<INVItem> item = form->Item(k);
      if (!item) continue;
      TNVItemKind kind = item->Kind();
      if (kind != nvkEdit && kind != nvkCheckBox) continue;
      int index = formCache_->FindItem(item->Name());
      if (index < 0) {
        allFound = false;
        continue;
      }
      std::string value = formCache_->ContentAt(index);
      if (kind == nvkEdit)
        item->SetText(value);
      else
        item->SetChecked(value == "+");
      ++filled;
    }
    if (filled > 0 && allFound) {
      KXPtr<INVItem> button = form->ContinueBtn();
      if (button && button->Enabled()) form->SetActiveControl(button.get());
    }
  }
}

// --- operations of IKXSettings that are not plain settings ---------------

HMODULE TIKXSettings::Module() { return module_; }
bool TIKXSettings::IsValid() { return valid_; }
std::string TIKXSettings::VersionText() { return versionText_; }
bool TIKXSettings::HasMinimalDebugInfo() { return !GetRawTextSetting("MinDebugInfo").empty(); }
bool TIKXSettings::WantsScreenshot() { return ScrShotDepth() > 0; }

void TIKXSettings::Reload() {
  if (entry_) ReloadModuleSettings(entry_);
}

KXPtr<IKXFields> TIKXSettings::AdditionalFields() {
  if (!fields_) {
    KXPtr<IKXFields> fields = NewFields();
    for (const auto& [name, content] : ParseAdditionalFields(GetTextSetting("AddFields")))
      fields->SetContent(name, content);
    fields_ = fields;
  }
  return fields_;
}

KXPtr<IKXAttachments> TIKXSettings::AdditionalAttachments() {
  if (!attachments_) {
    KXPtr<IKXAttachments> list = NewAttachments();
    for (const TAttachmentSpec& a : ParseAdditionalAttachments(GetTextSetting("AddAttachs")))
      list->Add(a.file, a.sendAs, a.zipName, a.fieldName);
    attachments_ = list;
  }
  return attachments_;
}

bool TIKXSettings::PluginEnabled(const std::string& name) {
  return ListContains(GetRawTextSetting("Plugins"), name);
}

bool TIKXSettings::SetPluginEnabled(const std::string& name, bool enabled) {
  std::string list = GetRawTextSetting("Plugins");
  std::string changed = SetPluginInList(list, name, enabled);
  return changed == list || SetTextSetting("Plugins", changed);
}

bool TIKXSettings::LoadAssistantByName(const std::string& name, KXPtr<INVAssistant>& assistant) {
  assistant = KXPtr<INVAssistant>();
  std::string definition;
  for (int n = 1;; ++n) {
    std::string text = GetTextSetting(("Assistant" + std::to_string(n)).c_str());
    if (text.empty()) return false;
    if (SameText(ListItem(text, 1), name)) {
      definition = text;
      break;
    }
  }
  if (!WantsScreenshot()) definition = DropListItem(definition, "ScrShotForm");
  std::vector<std::string> items = ListItems(definition);
  std::vector<std::string> forms(items.size() > 2 ? items.begin() + 2 : items.end(), items.end());
  TAssistantLoader loader = GetAssistantLoader();
  if (!loader) return false;
  assistant = loader(module_, ListItem(definition, 2), forms, AssistantException());
  if (!assistant) return false;
  RestoreFormValues(assistant.get());
  return true;
}

// --- placeholders ------------------------------------------------------

std::string TIKXSettings::ExpandText(const std::string& text, const std::string& exceptMsg,
                                     const std::string& bugReport) {
  if (text.find('%') == std::string::npos) return text;
  TModulePlaceholders source(module_, versionText_);
  return ExpandPlaceholders(text, source, exceptMsg, bugReport);
}

std::string ExpandPlaceholderText(const std::string& text, HMODULE module,
                                  const std::string& exceptMsg, const std::string& bugReport) {
  if (text.find('%') == std::string::npos) return text;
  KXPtr<TIKXSettings> settings(new TIKXSettings(module));
  return settings->ExpandText(text, exceptMsg, bugReport);
}

// --- obtaining settings -------------------------------------------------

namespace {

KXPtr<IKXSettings> NewSettings(HMODULE module) {
  return KXPtr<IKXSettings>(new TIKXSettings(module));
}

bool Authoritative(const KXPtr<IKXSettings>& s) { return s && s->IsValid() && !s->NoSettings(); }

bool IsModuleImage(const void* base) {
  HMODULE module = nullptr;
  return GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                                GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            static_cast<LPCSTR>(base), &module) &&
         module == base;
}

}  // namespace

KXPtr<IKXSettings> FindProcessSettings() {
  HMODULE exe = GetModuleHandleA(nullptr);
  if (ModuleHasSettingsRecord(exe)) {
    KXPtr<IKXSettings> s = NewSettings(exe);
    if (Authoritative(s)) return s;
  }
  if (HMODULE ide = GetModuleHandleA("KestrixIde_.bpl"); ide && ModuleHasSettingsRecord(ide)) {
    KXPtr<IKXSettings> s = NewSettings(ide);
    if (Authoritative(s)) return s;
  }
  // Every module image, in address order.
  MEMORY_BASIC_INFORMATION info;
  for (uintptr_t p = 0x10000;
       VirtualQuery(reinterpret_cast<const void*>(p), &info, sizeof info) == sizeof info;
       p = reinterpret_cast<uintptr_t>(info.BaseAddress) + info.RegionSize) {
    if (info.RegionSize == 0) break;
    if (info.Type != MEM_IMAGE || info.AllocationBase != info.BaseAddress ||
        !IsModuleImage(info.BaseAddress))
      continue;
    auto module = static_cast<HMODULE>(info.AllocationBase);
    if (module == exe || !ModuleHasSettingsRecord(module)) continue;
    KXPtr<IKXSettings> s = NewSettings(module);
    if (Authoritative(s)) return s;
  }
  return KXPtr<IKXSettings>();
}

KXPtr<IKXSettings> SettingsForModule(HMODULE module) {
  KXPtr<IKXSettings> s = NewSettings(module);
  // Without run-time packages only a valid record that says NoSettings is
  // replaced.
  if (s->IsValid() && s->NoSettings()) {
    KXPtr<IKXSettings> found = FindProcessSettings();
    if (Authoritative(found)) return found;
  }
  return s;
}

KXPtr<IKXSettings> SettingsForAddress(const void* address) {
  HMODULE exe = GetModuleHandleA(nullptr);
  HMODULE module = nullptr;
  KXPtr<IKXSettings> result;
  if (GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                             GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         static_cast<LPCSTR>(address), &module) &&
      module != exe && ModuleHasSettingsRecord(module))
    result = NewSettings(module);
  if (!result) {
    result = FindProcessSettings();
  } else if (result->IsValid() && result->NoSettings()) {
    KXPtr<IKXSettings> found = FindProcessSettings();
    if (Authoritative(found)) result = found;
  }
  return result ? result : NewSettings(exe);
}

__attribute__((noinline)) KXPtr<IKXSettings> SettingsForCaller(int level) {
  // Frame chain: [ebp] = the caller's frame, [ebp + 4] = return address.
  auto* frame = static_cast<void**>(__builtin_frame_address(0));
  void* address = __builtin_return_address(0);
  for (int i = 0; i < level; ++i) {
    MEMORY_BASIC_INFORMATION info;
    auto* next = frame ? static_cast<void**>(frame[0]) : nullptr;
    if (!next || next <= frame || !VirtualQuery(next, &info, sizeof info) ||
        info.State != MEM_COMMIT)
      break;
    frame = next;
    address = frame[1];
  }
  return SettingsForAddress(address);
}

}  // namespace kestrix
