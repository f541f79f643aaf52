// Settings: every behaviour of the library is set by a settings record that
// kestrix_embed stores in the program. IKXSettings has one getter and setter
// per setting (see kestrix/settings_slots.inc and docs/kestrix-settings.md);
// text getters expand the placeholders ("%appname%", ...).
#pragma once

#include <cstdint>
#include <string>

#include "kestrix/assistant.h"
#include "kestrix/fields.h"
#include "kestrix/interfaces.h"
#include "kestrix/system_types.h"

namespace kestrix {

using KXBool = bool;
using KXInt = int32_t;
using KXText = std::string;

class IKXModuleSettings : public IKXUnknown {
 public:
  static constexpr KXIID IID = {0x4b584d53, 0x0001, 0x0002, 0x0003};
  virtual bool ReadBoolSetting(const char* name) = 0;
  virtual int32_t ReadIntSetting(const char* name) = 0;
  virtual bool ReadTextSetting(const char* name, std::string& text) = 0;
  virtual uint32_t ReadDwordSetting(const char* name) = 0;
  virtual void StoreFormValues(INVAssistant* assistant) = 0;
  virtual void RestoreFormValues(INVAssistant* assistant) = 0;
};

class IKXSettings : public IKXUnknown {
 public:
  static constexpr KXIID IID = {0x4b585354, 0x0001, 0x0002, 0x0003};
#define KX_GET(T, N) virtual KX##T N() = 0;
#define KX_SET(T, N) virtual bool Set##N(const KX##T& value) = 0;
#define KX_PAIR(T, N) KX_GET(T, N) KX_SET(T, N)
#define KX_OP(R, N, P) virtual R N P = 0;
#include "kestrix/settings_slots.inc"
#undef KX_GET
#undef KX_SET
#undef KX_PAIR
#undef KX_OP
};

// The settings object for a module, replaced by the process-wide search
// result when the module's record says NoSettings.
KXPtr<IKXSettings> SettingsForModule(HMODULE module);
// The settings of the module containing the code address (see the rules in
// settings_win32.cpp).
KXPtr<IKXSettings> SettingsForAddress(const void* address);
// SettingsForAddress of the return address `level` frames above the caller.
KXPtr<IKXSettings> SettingsForCaller(int level);
// The first valid settings without NoSettings: the executable's, then the
// IDE helper module's, then every module image in address order.
KXPtr<IKXSettings> FindProcessSettings();

// The process's main settings object (the executable's; empty when the
// executable has no valid settings).
KXPtr<IKXSettings> MainSettings();

}  // namespace kestrix
