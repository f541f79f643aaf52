#include "crash/report/win/code_locations_win32.h"

#include <cxxabi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
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

// The symbols read so far, leaked: reports at exit still use them.
struct TSymbolCache {
  std::mutex mutex;
  std::map<HMODULE, std::shared_ptr<TModuleSymbols>> modules;
};
TSymbolCache& Cache() {
  static auto* cache = new TSymbolCache;
  return *cache;
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string UnitName(const std::string& file) {
  std::string base = BaseName(file);
  size_t dot = base.rfind('.');
  return dot == std::string::npos ? base : base.substr(0, dot);
}

std::string Demangled(const std::string& raw) {
  std::string name = raw;
  if (!name.empty() && name[0] == '_') name.erase(0, 1);  // the i386 C prefix
  size_t at = name.rfind('@');  // stdcall decoration
  if (at != std::string::npos && at > 0 && name.find_first_not_of("0123456789", at + 1) == std::string::npos)
    name.erase(at);
  if (name.compare(0, 2, "_Z") == 0) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> text(abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status),
                                                std::free);
    if (status == 0 && text) return DisplayFunctionName(text.get());
  }
  return name;
}

// The COFF symbol table of the module's file: functions with their units.
void ReadCoffSymbols(HMODULE module, const std::string& path, TModuleSymbols& out) {
  HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                            nullptr, OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return;
  const DWORD size = GetFileSize(file, nullptr);
  HANDLE mapping = CreateFileMappingA(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  CloseHandle(file);
  if (!mapping) return;
  auto* base = static_cast<const uint8_t*>(MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0));
  CloseHandle(mapping);
  if (!base) return;
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  if (size < sizeof *dos || dos->e_magic != IMAGE_DOS_SIGNATURE ||
      static_cast<DWORD>(dos->e_lfanew) + sizeof(IMAGE_NT_HEADERS32) > size) {
    UnmapViewOfFile(base);
    return;
  }
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
  const DWORD symOffset = nt->FileHeader.PointerToSymbolTable;
  const DWORD symCount = nt->FileHeader.NumberOfSymbols;
  auto* sections = IMAGE_FIRST_SECTION(nt);
  const int sectionCount = nt->FileHeader.NumberOfSections;
  if (symOffset && symCount && static_cast<uint64_t>(symOffset) + symCount * 18ull + 4 <= size) {
    const uint8_t* table = base + symOffset;
    const uint8_t* strings = table + symCount * 18;
    const DWORD stringsSize = std::min<DWORD>(*reinterpret_cast<const uint32_t*>(strings), size - (strings - base));
    std::string unit;
    for (DWORD i = 0; i < symCount; ++i) {
      const uint8_t* s = table + i * 18;
      std::string name;
      if (*reinterpret_cast<const uint32_t*>(s) == 0) {
        const DWORD off = *reinterpret_cast<const uint32_t*>(s + 4);
        if (off < stringsSize) name = reinterpret_cast<const char*>(strings + off);
      } else {
        name.assign(reinterpret_cast<const char*>(s), strnlen(reinterpret_cast<const char*>(s), 8));
      }
      const uint32_t value = *reinterpret_cast<const uint32_t*>(s + 8);
      const int16_t sectionNumber = *reinterpret_cast<const int16_t*>(s + 12);
      const uint16_t type = *reinterpret_cast<const uint16_t*>(s + 14);
      const uint8_t storage = s[16];
      const uint8_t aux = s[17];
      if (storage == IMAGE_SYM_CLASS_FILE && aux > 0 && i + 1 < symCount) {
        const char* f = reinterpret_cast<const char*>(s + 18);
        unit = UnitName(std::string(f, strnlen(f, 18u * aux)));
      } else if ((storage == IMAGE_SYM_CLASS_EXTERNAL || storage == IMAGE_SYM_CLASS_STATIC) &&
                 (type & 0x30) == 0x20 && sectionNumber > 0 && sectionNumber <= sectionCount) {
        const uint32_t address = reinterpret_cast<uint32_t>(module) + sections[sectionNumber - 1].VirtualAddress + value;
        out.symbols.push_back({address, Demangled(name), unit});
      }
      i += aux;
    }
  }
  UnmapViewOfFile(base);
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

std::shared_ptr<TModuleSymbols> SymbolsOf(HMODULE module) {
  TSymbolCache& cache = Cache();
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

std::string DisplayFunctionName(const std::string& full) {
  // Functions of anonymous namespaces are named without it.
  std::string demangled = full;
  for (size_t at; (at = demangled.find("(anonymous namespace)::")) != std::string::npos;) demangled.erase(at, 23);
  std::string name;
  int angle = 0;
  for (size_t i = 0; i < demangled.size(); ++i) {
    const char c = demangled[i];
    if (c == '<') ++angle;
    if (c == '>') --angle;
    if (c == '(' && angle == 0 && !(name.size() >= 8 && name.compare(name.size() - 8, 8, "operator") == 0)) break;
    if (c == ':' && i + 1 < demangled.size() && demangled[i + 1] == ':' && angle == 0) {
      name += '.';
      ++i;
      continue;
    }
    name += c;
  }
  return name;
}

bool SafeRead(const void* source, void* dest, size_t count) {
  SIZE_T got = 0;
  return ReadProcessMemory(GetCurrentProcess(), source, dest, count, &got) && got == count;
}

int WalkFrameChain(uint32_t eip, uint32_t ebp, uint32_t* out, int max) {
  int n = 0;
  if (max <= 0) return 0;
  out[n++] = eip;
  uint32_t frame = ebp;
  while (n < max && frame && (frame & 3) == 0) {
    uint32_t pair[2];
    if (!SafeRead(reinterpret_cast<const void*>(frame), pair, sizeof pair) || pair[1] == 0) break;
    out[n++] = pair[1];
    if (pair[0] <= frame || pair[0] - frame > 0x1000000) break;
    frame = pair[0];
  }
  return n;
}

TCodeLocation DescribeCodeAddress(uint32_t address) {
  TCodeLocation loc;
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(address), &module))
    return loc;
  std::shared_ptr<TModuleSymbols> symbols = SymbolsOf(module);
  loc.module = symbols->file;
  loc.inModule = true;
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

bool IsProgramCode(uint32_t address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(address), &module))
    return false;
  return module == GetModuleHandleA(nullptr) || FindResourceA(module, "TKESTRIX", MAKEINTRESOURCEA(10));
}

}  // namespace kestrix
