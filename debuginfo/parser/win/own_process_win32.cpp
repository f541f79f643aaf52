// Modules of the own process as the parser and the formatter ask for them.
#include "debuginfo/parser/win/own_process_win32.h"

#include <windows.h>

#include <algorithm>
#include <type_traits>
#include <vector>

#include "crash/report/win/code_locations_win32.h"
#include "debuginfo/decoder/win/safe_read_win32.h"
#include "debuginfo/parser/address_correction.h"
#include "debuginfo/parser/disassembly_listing.h"

namespace kestrix::parser {
namespace {

using decoder::TDATryRead;

uint32_t Address(const void* p) { return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(p)); }

HMODULE ModuleAt(uint32_t address) {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(static_cast<uintptr_t>(address)), &module);
  return module;
}

HMODULE OwnModule() { return ModuleAt(Address(reinterpret_cast<const void*>(&DisassembleOwnFunction))); }

// The module's headers through guarded reads.
struct ModuleHeaders {
  uint32_t base = 0;
  IMAGE_NT_HEADERS32 nt{};
  bool ok = false;
};

ModuleHeaders HeadersOf(HMODULE module, const TDATryRead* regions) {
  ModuleHeaders h;
  h.base = Address(module);
  IMAGE_DOS_HEADER dos;
  h.ok = module != nullptr && decoder::SafeRead(h.base, &dos, sizeof dos, regions) && dos.e_magic == IMAGE_DOS_SIGNATURE &&
         decoder::SafeRead(h.base + dos.e_lfanew, &h.nt, sizeof h.nt, regions) && h.nt.Signature == IMAGE_NT_SIGNATURE;
  return h;
}

// The export named at address, from the module's export directory (its
// tables read whole: each guarded read is a system call).
std::string ExportNameAt(uint32_t address, const TDATryRead* regions) {
  const ModuleHeaders h = HeadersOf(ModuleAt(address), regions);
  if (!h.ok) return std::string();
  const IMAGE_DATA_DIRECTORY& dir = h.nt.OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  IMAGE_EXPORT_DIRECTORY exports;
  if (dir.VirtualAddress == 0 || !decoder::SafeRead(h.base + dir.VirtualAddress, &exports, sizeof exports, regions) ||
      exports.NumberOfNames == 0 || exports.NumberOfNames > 65536 || exports.NumberOfFunctions > 65536)
    return std::string();
  std::vector<uint32_t> functions(exports.NumberOfFunctions), names(exports.NumberOfNames);
  std::vector<uint16_t> ordinals(exports.NumberOfNames);
  if (functions.empty() ||
      !decoder::SafeRead(h.base + exports.AddressOfFunctions, functions.data(), functions.size() * 4, regions) ||
      !decoder::SafeRead(h.base + exports.AddressOfNameOrdinals, ordinals.data(), ordinals.size() * 2, regions) ||
      !decoder::SafeRead(h.base + exports.AddressOfNames, names.data(), names.size() * 4, regions))
    return std::string();
  const uint32_t rva = address - h.base;
  for (size_t i = 0; i < ordinals.size(); ++i) {
    if (ordinals[i] >= functions.size() || functions[ordinals[i]] != rva) continue;
    // The name up to its end or the end of its page, then the next page.
    char name[256];
    const uint32_t at = h.base + names[i];
    const uint32_t first = std::min<uint32_t>(sizeof name - 1, 4096 - (at & 4095));
    size_t n = 0;
    if (decoder::SafeRead(at, name, first, regions)) {
      n = first;
      if (first < sizeof name - 1 && std::find(name, name + first, '\0') == name + first &&
          decoder::SafeRead(at + first, name + first, sizeof name - 1 - first, regions))
        n = sizeof name - 1;
    }
    return std::string(name, std::find(name, name + n, '\0'));
  }
  return std::string();
}

class ProcessModules final : public CodeEnvironment, public decoder::SymbolSource {
 public:
  explicit ProcessModules(const TDATryRead* regions) : regions_(regions) {}

  bool IsCommitted(uint32_t address) const override { return IsCommittedAddress(address); }
  // The code sections of the module (executable ones), else the memory region.
  bool CodeRange(uint32_t address, uint32_t* begin, uint32_t* end) const override {
    const ModuleHeaders h = HeadersOf(ModuleAt(address), regions_);
    if (h.ok) {
      IMAGE_DOS_HEADER dos;
      decoder::SafeRead(h.base, &dos, sizeof dos, regions_);
      const uint32_t sections = h.base + dos.e_lfanew + 4 + sizeof(IMAGE_FILE_HEADER) + h.nt.FileHeader.SizeOfOptionalHeader;
      bool any = false;
      for (uint32_t i = 0; i < h.nt.FileHeader.NumberOfSections && i < 96; ++i) {
        IMAGE_SECTION_HEADER s;
        if (!decoder::SafeRead(sections + i * sizeof s, &s, sizeof s, regions_)) break;
        if (!(s.Characteristics & (IMAGE_SCN_MEM_EXECUTE | IMAGE_SCN_CNT_CODE))) continue;
        const uint32_t b = h.base + s.VirtualAddress, e = b + s.Misc.VirtualSize;
        *begin = any ? std::min(*begin, b) : b;
        *end = any ? std::max(*end, e) : e;
        any = true;
      }
      if (any) return true;
    }
    MEMORY_BASIC_INFORMATION info;
    if (VirtualQuery(reinterpret_cast<const void*>(static_cast<uintptr_t>(address)), &info, sizeof info) != sizeof info)
      return false;
    *begin = Address(info.BaseAddress);
    *end = *begin + static_cast<uint32_t>(info.RegionSize);
    return true;
  }
  bool IsNamedExport(uint32_t address) const override { return !ExportNameAt(address, regions_).empty(); }
  std::string SystemErrorText(uint32_t error) const override { return SystemErrorMessage(error); }

  bool ModuleOf(uint32_t address, decoder::TModuleRange* out) const override {
    const HMODULE module = ModuleAt(address);
    const ModuleHeaders h = HeadersOf(module, regions_);
    if (!h.ok) return false;
    out->begin = h.base;
    out->end = h.base + h.nt.OptionalHeader.SizeOfImage;
    out->isOwnModule = module == OwnModule();
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
    std::string name(path, n < MAX_PATH ? n : 0);
    const size_t slash = name.find_last_of("\\/");
    out->fileName = slash == std::string::npos ? name : name.substr(slash + 1);
    return true;
  }
  // The export name, else the function's name where the address is its entry.
  std::string NameAt(uint32_t address) const override {
    std::string name = ExportNameAt(address, regions_);
    if (!name.empty()) return name;
    const TCodeLocation loc = DescribeCodeAddress(address);
    if (loc.entry != address || loc.function.empty()) return std::string();
    return loc.unit.empty() ? loc.function : loc.unit + "." + loc.function;
  }

 private:
  const TDATryRead* regions_;
};

// The parser's state: the line-number column's source and the runtime
// routines, registered by the library's start-up. Constant-initialized.
struct TOwnProcessState {
  TOwnLineLookup lineLookup = nullptr;
  TOwnRoutinesLookup routinesLookup = nullptr;
};
constinit TOwnProcessState g_state;
static_assert(std::is_trivially_destructible_v<TOwnProcessState>, "no destructor runs at the process's end");

class TOwnLines final : public LineSource {
 public:
  int LineAt(uint32_t address) const override { return g_state.lineLookup ? g_state.lineLookup(address) : 0; }
};

}  // namespace

void SetOwnLineLookup(TOwnLineLookup lookup) { g_state.lineLookup = lookup; }

bool IsCommittedAddress(uint32_t address) {
  MEMORY_BASIC_INFORMATION info;
  return VirtualQuery(reinterpret_cast<const void*>(static_cast<uintptr_t>(address)), &info, sizeof info) ==
             sizeof info &&
         info.State == MEM_COMMIT;
}

std::string SystemErrorMessage(uint32_t error) {
  char text[512];
  DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error, 0, text,
                           sizeof text, nullptr);
  while (n > 0 && (text[n - 1] == '\r' || text[n - 1] == '\n')) --n;
  return std::string(text, n);
}
void SetOwnRoutinesLookup(TOwnRoutinesLookup lookup) { g_state.routinesLookup = lookup; }

std::string DisassembleOwnFunction(uint32_t entry, uint32_t crashAddress, bool formatted, int lineLimit) {
  const TDATryRead regions = decoder::TakeReadableRegions();
  decoder::ProcessReader reader(&regions);
  ProcessModules modules(&regions);
  TListingContext context;
  context.parse.reader = &reader;
  context.parse.environment = &modules;
  context.symbols = &modules;
  if (g_state.routinesLookup) context.parse.routines = g_state.routinesLookup(entry);
  const TOwnLines lines;
  if (g_state.lineLookup) context.lines = &lines;
  return DisassembleFunction(entry, crashAddress, formatted, lineLimit, context).text;
}

namespace {

// The own process as the parser reads it.
struct TOwnParse {
  const TDATryRead regions = decoder::TakeReadableRegions();
  decoder::ProcessReader reader{&regions};
  ProcessModules modules{&regions};
  TParseContext context;
  TOwnParse() {
    context.reader = &reader;
    context.environment = &modules;
  }
};

}  // namespace

bool ParsesAsOwnFunction(uint32_t entry) {
  TOwnParse own;
  if (g_state.routinesLookup) own.context.routines = g_state.routinesLookup(entry);
  return ParseFunctionCode(entry, own.context).isValid != 0;
}

uint32_t CorrectOwnExceptionAddress(uint32_t address) {
  const TCodeLocation loc = DescribeCodeAddress(address);
  if (loc.entry == 0) return address;
  TOwnParse own;
  return CorrectExceptionAddress(address, loc.entry, own.context);
}

}  // namespace kestrix::parser
