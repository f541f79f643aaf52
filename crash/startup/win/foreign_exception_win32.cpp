#include "crash/startup/win/foreign_exception_win32.h"

#include <windows.h>

#include <unwind.h>

#include <exception>
#include <string>
#include <typeinfo>

#include "crash/settings/win/settings_object.h"
#include "crash/startup/win/caller_chain_win32.h"

namespace kestrix {
namespace {

constexpr uint64_t kGnuCxxExceptionClass = 0x474E5543432B2B00ull;  // "GNUCC++\0"

// The header the GNU C++ runtime puts before every thrown object (the same
// layout in every copy of the runtime of this compiler).
struct TThrownException {
  const std::type_info* type;
  void (*destructor)(void*);
  void* unexpectedHandler;
  void* terminateHandler;
  void* next;
  int handlerCount;
  int handlerSwitchValue;
  const unsigned char* actionRecord;
  const unsigned char* languageSpecificData;
  _Unwind_Ptr catchTemp;
  void* adjustedPtr;
  _Unwind_Exception unwindHeader;
};
struct TThrownHeader {
  int referenceCount;
  TThrownException exception;
};

}  // namespace

// The throw routine's arguments lie right above the throw site's return
// address.
bool FindForeignException(uint32_t from, TExceptionObjectInfo& info, TCapturedStack& stack) {
  const NT_TIB* tib = reinterpret_cast<const NT_TIB*>(NtCurrentTeb());
  const uint32_t high = reinterpret_cast<uint32_t>(tib->StackBase);
  const HMODULE own = ModuleOf(reinterpret_cast<uint32_t>(&FindForeignException));
  for (uint32_t p = (from & ~3u) + 4; p + 8 <= high && p < from + 64 * 1024; p += 4) {
    const auto* args = reinterpret_cast<const uint32_t*>(p);
    const uint32_t object = args[0], type = args[1];
    if (object < 0x10000 + sizeof(TThrownHeader) || type < 0x10000) continue;
    if (!Readable(object - sizeof(TThrownHeader), sizeof(TThrownHeader))) continue;
    const auto* header = reinterpret_cast<const TThrownHeader*>(object) - 1;
    if (header->exception.unwindHeader.exception_class != kGnuCxxExceptionClass ||
        reinterpret_cast<uint32_t>(header->exception.type) != type || header->referenceCount <= 0 ||
        header->exception.handlerCount == 0)
      continue;
    const HMODULE module = ModuleOf(type);
    if (!module || module == own || !Readable(type, sizeof(std::type_info))) continue;
    const auto* t = reinterpret_cast<const std::type_info*>(type);
    if (!Readable(reinterpret_cast<uint32_t>(t->name()), 2)) continue;
    info = TExceptionObjectInfo();
    info.address = reinterpret_cast<const void*>(object);
    info.type = t;
    info.ancestry = TypeAncestry(*t);
    info.className = info.ancestry.empty() ? std::string("Unknown") : info.ancestry.front();
    std::string what;
    void* adjusted = reinterpret_cast<void*>(object);
    if (typeid(std::exception).__do_catch(t, &adjusted, 1)) what = static_cast<const std::exception*>(adjusted)->what();
    info.message = "C++ exception " + info.className + " left module '" + ModuleFileName(module) +
                   "', which has a C++ runtime of its own" + (what.empty() ? std::string() : ": " + what);
    const uint32_t throwSite = *reinterpret_cast<const uint32_t*>(p - 4);
    if (ModuleOf(throwSite))
      ChainFromCall(throwSite, p - 4, reinterpret_cast<uint32_t>(__builtin_frame_address(0)), stack);
    else
      ChainFromRuntimeCall(from, stack);
    return true;
  }
  return false;
}

}  // namespace kestrix
