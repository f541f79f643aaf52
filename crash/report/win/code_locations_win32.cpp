#include "crash/report/win/code_locations_win32.h"

#include "crash/base/win/scoped_handle.h"
#include "crash/exception/frame_walk.h"
#include "crash/report/call_stack_text.h"
#include "crash/report/coff_symbols.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <vector>

namespace kestrix {
namespace {

struct TSymbol {
  uint32_t address;
  std::string name;
  std::string unit;
};

struct TModuleSymbols {
  std::string file;
  std::vector<TSymbol> symbols;  // sorted by address
};

// The code-location layer's state, leaked: reports at exit still use it.
struct TCodeLocationsState {
  // The symbols read so far, by module (filled by SymbolsOf).
  std::mutex mutex;
  std::map<HMODULE, std::shared_ptr<TModuleSymbols>> modules;
  // Set once at start-up (SetNameLineProvider).
  std::atomic<TNameLineProvider> provider{nullptr};
};
TCodeLocationsState& Cache() {
  static auto* state = new TCodeLocationsState;
  return *state;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The COFF symbol table of the module's file: functions with their units.
void ReadCoffSymbols(HMODULE module, const std::string& path, TModuleSymbols& out) {
  const TMappedFile file = MapFileReadOnly(path);
  if (!file) return;
  for (TCoffFunction& f : ReadCoffFunctions(file.Data(), file.size))
    out.symbols.push_back({reinterpret_cast<uint32_t>(module) + f.rva, std::move(f.name), std::move(f.unit)});
}

void ReadExports(HMODULE module, TModuleSymbols& out) {
  auto* base = reinterpret_cast<const uint8_t*>(module);
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (!dir.VirtualAddress || !dir.Size) return;
  auto* exp = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
  auto* functions = reinterpret_cast<const uint32_t*>(base + exp->AddressOfFunctions);
  auto* names = reinterpret_cast<const uint32_t*>(base + exp->AddressOfNames);
  auto* ordinals = reinterpret_cast<const uint16_t*>(base + exp->AddressOfNameOrdinals);
  for (DWORD i = 0; i < exp->NumberOfNames; ++i) {
    if (ordinals[i] >= exp->NumberOfFunctions) continue;
    const uint32_t rva = functions[ordinals[i]];
    if (rva >= dir.VirtualAddress && rva < dir.VirtualAddress + dir.Size) continue;  // forwarder
    out.symbols.push_back({reinterpret_cast<uint32_t>(base) + rva, reinterpret_cast<const char*>(base + names[i]), ""});
  }
}

bool ReadOwnMemory(uint32_t address, void* dest, size_t count, void*) {
  return SafeRead(reinterpret_cast<const void*>(address), dest, count);
}

std::shared_ptr<TModuleSymbols> SymbolsOf(HMODULE module) {
  TCodeLocationsState& cache = Cache();
  std::lock_guard<std::mutex> lock(cache.mutex);
  auto it = cache.modules.find(module);
  if (it != cache.modules.end()) return it->second;
  auto symbols = std::make_shared<TModuleSymbols>();
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
  if (n > 0 && n < MAX_PATH) {
    symbols->file = BaseName(path);
    ReadCoffSymbols(module, path, *symbols);
  }
  if (symbols->symbols.empty()) ReadExports(module, *symbols);
  std::sort(symbols->symbols.begin(), symbols->symbols.end(),
            [](const TSymbol& a, const TSymbol& b) { return a.address < b.address; });
  cache.modules[module] = symbols;
  return symbols;
}

}  // namespace

void SetNameLineProvider(TNameLineProvider provider) { Cache().provider = provider; }

bool SafeRead(const void* source, void* dest, size_t count) {
  SIZE_T got = 0;
  return ReadProcessMemory(GetCurrentProcess(), source, dest, count, &got) && got == count;
}

int WalkFrameChain(uint32_t eip, uint32_t ebp, uint32_t* out, int max) {
  return WalkFrameChain(eip, ebp, ReadOwnMemory, nullptr, out, max);
}

// The module whose image holds address, or null.
static HMODULE ModuleHolding(uint32_t address) {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(address), &module);
  return module;
}

TCodeLocation DescribeCodeAddress(uint32_t address) {
  TCodeLocation loc;
  const HMODULE module = ModuleHolding(address);
  if (!module) return loc;
  loc.inModule = true;
  if (const TNameLineProvider provider = Cache().provider.load()) {
    TCodeLocation mapped = loc;
    bool known = false;
    try {
      known = provider(address, mapped);
    } catch (...) {
    }
    // The map knows the function, perhaps without its name (a stripped
    // map): the module's symbol tables would only name it wrongly.
    if (known && (!mapped.function.empty() || mapped.entry != 0)) {
      char path[MAX_PATH];
      const DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
      if (n > 0 && n < MAX_PATH) mapped.module = BaseName(path);
      return mapped;
    }
  }
  return DescribeFromModuleSymbols(address);
}

TCodeLocation DescribeFromModuleSymbols(uint32_t address) {
  TCodeLocation loc;
  const HMODULE module = ModuleHolding(address);
  if (!module) return loc;
  loc.inModule = true;
  std::shared_ptr<TModuleSymbols> symbols = SymbolsOf(module);
  loc.module = symbols->file;
  auto it = std::upper_bound(symbols->symbols.begin(), symbols->symbols.end(), address,
                             [](uint32_t a, const TSymbol& s) { return a < s.address; });
  if (it != symbols->symbols.begin()) {
    --it;
    loc.function = it->name;
    loc.unit = it->unit;
    loc.entry = it->address;
  }
  return loc;
}

std::string FormatCodeAddress(uint32_t address, bool showRelAddr, bool showRelLine) {
  const TCodeLocation loc = DescribeCodeAddress(address);
  TLocationFacts facts;
  facts.described = loc.inModule && (!loc.function.empty() || loc.entry != 0);
  facts.entry = loc.entry;
  facts.module = loc.module;
  facts.unit = loc.unit;
  facts.function = loc.function;
  facts.line = loc.line;
  facts.firstLine = loc.entryLine;
  return FormatCodeLocation(address, facts, showRelAddr, showRelLine);
}

bool IsProgramCode(uint32_t address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(address), &module))
    return false;
  return module == GetModuleHandleA(nullptr) || FindResourceA(module, "TKESTRIX", MAKEINTRESOURCEA(10));
}

}  // namespace kestrix
