// The settings object TIKXSettings: IKXModuleSettings and IKXSettings over
// the module's shared parsed record, with the built-in defaults and the
// process's main settings object behind it.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "crash/settings/win/settings_buffer_win32.h"
#include "kestrix/settings.h"

namespace kestrix {

// The settings object. The exception object derives from it and keeps a
// private property list by overriding LookupSetting.
class TIKXSettings : public virtual IKXSettings, public IKXModuleSettings, protected TKXRefCounted {
 public:
  // With `reference`, the module's shared entry is referenced (parsed on
  // first use); the object is valid when an entry was obtained.
  TIKXSettings(HMODULE module, bool reference = true);

  bool QueryInterface(const KXIID& iid, void** out) override;
  uint32_t AddRef() override { return DoAddRef(); }
  uint32_t Release() override { return DoRelease(); }

  // IKXModuleSettings
  bool ReadBoolSetting(const char* name) override;
  int32_t ReadIntSetting(const char* name) override;
  bool ReadTextSetting(const char* name, std::string& text) override;
  uint32_t ReadDwordSetting(const char* name) override;
  void StoreFormValues(INVAssistant* assistant) override;
  void RestoreFormValues(INVAssistant* assistant) override;

  // IKXSettings
#define KX_GET(T, N) KX##T N() override;
#define KX_SET(T, N) bool Set##N(const KX##T& value) override;
#define KX_PAIR(T, N) KX_GET(T, N) KX_SET(T, N)
#define KX_OP(R, N, P) R N P override;
#include "kestrix/settings_slots.inc"
#undef KX_GET
#undef KX_SET
#undef KX_PAIR
#undef KX_OP

  // Generic access by name. Text getters expand the placeholders, with the
  // exception message and the report left as "%exceptMsg%" and "%bugReport%".
  bool GetBoolSetting(const char* name);
  int32_t GetIntSetting(const char* name);
  std::string GetTextSetting(const char* name);
  std::string GetRawTextSetting(const char* name);  // without expansion
  bool SetBoolSetting(const char* name, bool value);
  bool SetIntSetting(const char* name, int32_t value);
  bool SetTextSetting(const char* name, const std::string& value);

  // Placeholder expansion for this object's module.
  std::string ExpandText(const std::string& text, const std::string& exceptMsg = "%exceptMsg%",
                         const std::string& bugReport = "%bugReport%");

  TModuleSettingsEntry* Entry() const { return entry_; }

 protected:
  ~TIKXSettings() override;

  // The value of a setting, copied out. Found: true. The base looks in the
  // module's entry (appending a new entry there when `create` is set), then,
  // with useDefaults, in the built-in table.
  struct TValue {
    uint8_t kind = pkText;
    bool boolValue = false;
    int32_t intValue = 0;
    std::string textValue;
  };
  virtual bool LookupValue(const char* name, bool useDefaults, TValue& value);
  // Stores a value under the setter rules: creates the setting with the
  // setter's kind when missing; fails on a kind mismatch.
  virtual bool StoreValue(const char* name, const TValue& value);
  // Whether the built-in defaults apply to this object (no main settings
  // object yet, or it is the main module's).
  virtual bool UseDefaults();
  // Whether assistants keep the screenshot page.
  virtual bool WantsScreenshot();
  // The exception handed to assistant forms; none for plain settings.
  virtual IKXSettings* AssistantException() { return nullptr; }

  bool valid_ = false;
  HMODULE module_ = nullptr;
  TModuleSettingsEntry* entry_ = nullptr;
  std::string versionText_;
  KXPtr<IKXAttachments> attachments_;
  KXPtr<IKXFields> fields_;
  KXPtr<IKXFields> formCache_;

 private:
  template <class T, class Read>
  T GenericGet(const char* name, T (TIKXSettings::*inherit)(const char*), Read read);
};

// The assistant runtime installs its loader here.
// Builds an assistant from the form definitions of the module's resources;
// `exception` is the exception object when the settings object is one.
using TAssistantLoader = KXPtr<INVAssistant> (*)(HMODULE module, const std::string& title,
                                                 const std::vector<std::string>& forms,
                                                 IKXSettings* exception);
// Returns the previous loader.
TAssistantLoader SetAssistantLoader(TAssistantLoader loader);
TAssistantLoader GetAssistantLoader();

// The process's main settings object (the executable's, set at start-up).
void SetMainSettings(const KXPtr<IKXSettings>& settings);

// Placeholder expansion against a module's names and versions.
std::string ExpandPlaceholderText(const std::string& text, HMODULE module,
                                  const std::string& exceptMsg, const std::string& bugReport);

// File name (without directory) and file version of a loaded module.
std::string ModuleFileName(HMODULE module);
bool ModuleFileVersion(HMODULE module, uint32_t& versionMS, uint32_t& versionLS);
// The text that VersionVar points at inside the module; empty when it is 0,
// outside the image or unreadable.
std::string ReadModuleVersionText(HMODULE module, int32_t offset);

}  // namespace kestrix
