#include "debuginfo/readers/win/module_maps_win32.h"

#include <windows.h>

#include <algorithm>
#include <mutex>
#include <utility>
#include <vector>

#include "crash/base/win/scoped_handle.h"
#include "debuginfo/readers/module_map.h"

namespace kestrix {

namespace {

// A module loaded in this process, read through its image.
class TLoadedModule : public TModuleSource {
 public:
  explicit TLoadedModule(HMODULE module) : module_(module) {}
  TPeView Image() override {
    TPeView view;
    auto* base = reinterpret_cast<const uint8_t*>(module_);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    view.data = base;
    view.size = nt->OptionalHeader.SizeOfImage;
    view.mapped = true;
    return view;
  }
  uint32_t Handle() override { return reinterpret_cast<uint32_t>(module_); }
  bool ReadWholeFile(const std::string& path, std::string& bytes) override {
    const TMappedFile file = MapFileReadOnly(path);
    if (!file) return false;
    bytes.assign(reinterpret_cast<const char*>(file.Data()), file.size);
    return true;
  }
  // Only the part is copied: module files are looked into for every module.
  bool ReadFilePart(const std::string& path, uint64_t offset, size_t count, std::string& bytes) override {
    const TMappedFile file = MapFileReadOnly(path);
    if (!file) return false;
    bytes.clear();
    if (offset < file.size)
      bytes.assign(reinterpret_cast<const char*>(file.Data()) + offset,
                   std::min<size_t>(count, file.size - static_cast<size_t>(offset)));
    return true;
  }
  bool FileDay(const std::string& path, int64_t& day) override {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return false;
    const uint64_t t = (uint64_t(data.ftLastWriteTime.dwHighDateTime) << 32) | data.ftLastWriteTime.dwLowDateTime;
    day = static_cast<int64_t>(t / 864000000000ull);
    return true;
  }

 private:
  HMODULE module_;
};

// True when the module's headers can be read and look like a PE image.
bool HeadersReadable(HMODULE module) {
  IMAGE_DOS_HEADER dos;
  SIZE_T got = 0;
  if (!ReadProcessMemory(GetCurrentProcess(), module, &dos, sizeof dos, &got) || dos.e_magic != IMAGE_DOS_SIGNATURE)
    return false;
  IMAGE_NT_HEADERS32 nt;
  return ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const uint8_t*>(module) + dos.e_lfanew, &nt,
                           sizeof nt, &got) &&
         nt.Signature == IMAGE_NT_SIGNATURE;
}

struct TCacheEntry {
  uint32_t date;
  std::shared_ptr<const TMapFile> map;
  uint64_t siblings;  // a module without a map: the map files beside it then
};

// The dates of the map files that may be put beside a module later (0 for
// one that is not there).
uint64_t SiblingDates(const std::string& module) {
  uint64_t dates = 0;
  for (const char* extension : {".map", ".kx", ".jdbg"})
    dates = dates * 1000003 + FileDate(ChangeFileExt(module, extension));
  return dates;
}

// The readers' state: the maps read so far. Leaked: reports at exit still
// look addresses up.
struct TMapCacheState {
  std::mutex lock;
  // Written under `lock` by MapFileForAddress (a map read or found stale)
  // and ClearMapCache.
  std::vector<TCacheEntry> entries;
};
TMapCacheState& State() {
  static auto* state = new TMapCacheState;
  return *state;
}

std::shared_ptr<const TMapFile> CachedMap(const std::string& file) {
  std::vector<TCacheEntry>& cache = State().entries;
  for (size_t i = 0; i < cache.size(); ++i) {
    if (!SameText(cache[i].map->ModuleFileName, file)) continue;
    if (FileDate(file) == cache[i].date && (cache[i].map->Valid || SiblingDates(file) == cache[i].siblings))
      return cache[i].map;
    cache[i] = std::move(cache.back());
    cache.pop_back();
    return nullptr;
  }
  return nullptr;
}

std::string BaseName(const std::string& path) {
  const size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

}  // namespace

uint32_t FileDate(const std::string& path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
  FILETIME local;
  WORD date = 0, time = 0;
  if (!FileTimeToLocalFileTime(&data.ftLastWriteTime, &local) || !FileTimeToDosDateTime(&local, &date, &time))
    return 0;
  return static_cast<uint32_t>(date) << 16 | time;
}

std::shared_ptr<const TMapFile> MapFileForAddress(uint32_t address) {
  try {
    if (!address) address = reinterpret_cast<uint32_t>(&MapFileForAddress);
    MEMORY_BASIC_INFORMATION info;
    if (!VirtualQuery(reinterpret_cast<const void*>(address), &info, sizeof info) || info.State != MEM_COMMIT ||
        !info.AllocationBase)
      return std::make_shared<TMapFile>();
    auto module = static_cast<HMODULE>(info.AllocationBase);
    char path[MAX_PATH + 1];
    const DWORD n = GetModuleFileNameA(module, path, sizeof path);
    if (n == 0 || n > MAX_PATH - 1) return std::make_shared<TMapFile>();
    std::lock_guard<std::mutex> lock(State().lock);
    if (auto map = CachedMap(path)) return map;
    if (!HeadersReadable(module)) return std::make_shared<TMapFile>();
    auto map = std::make_shared<TMapFile>(false, reinterpret_cast<uint32_t>(module), path);
    TLoadedModule source(module);
    std::string error;
    BuildModuleMap(*map, source, error);
    // A module without debug information is remembered as such too (the
    // search reads its file, and reports ask for system modules often),
    // until a map file appears beside it.
    State().entries.push_back({FileDate(path), map, map->Valid ? 0 : SiblingDates(path)});
    return map;
  } catch (...) {
    return std::make_shared<TMapFile>();
  }
}

bool DescribeAddress(uint32_t address, std::string& moduleFileName, std::string& unitName, int32_t& line,
                     uint32_t& publicAddress, std::string& publicName) {
  if (!address) address = reinterpret_cast<uint32_t>(__builtin_return_address(0)) - 1;
  const std::shared_ptr<const TMapFile> map = MapFileForAddress(address);
  if (!map->Valid) return false;
  moduleFileName = map->ModuleFileName;
  const TMfSegment* segment = map->FindSegment(true, address);
  unitName = segment ? segment->UnitName : std::string();
  const TMfPublic* pub = map->FindPublic(address);
  publicAddress = pub ? pub->Address : 0;
  publicName = pub ? pub->Name : std::string();
  uint32_t next = 0;
  line = map->LineAt(address, next);
  if (line < 0) line = 0;
  return true;
}

std::string ProcNameAtAddress(uint32_t address) {
  const std::shared_ptr<const TMapFile> map = MapFileForAddress(address);
  if (!map->Valid) return {};
  const TMfPublic* pub = map->FindPublic(address);
  if (!pub || pub->Address != address) return {};
  const TMfSegment* segment = map->FindSegment(true, address);
  std::string text = segment ? segment->UnitName + "." + pub->Name : pub->Name;
  if (IsGeneratedName(text)) text += " (" + BaseName(map->ModuleFileName) + ")";
  return text;
}

void CachedLineNumber(uint32_t address, int32_t& line, uint32_t& rangeStart, uint32_t& rangeEnd) {
  if (!address || (line != 0 && rangeStart <= address && address < rangeEnd)) return;
  const std::shared_ptr<const TMapFile> map = MapFileForAddress(address);
  rangeEnd = address + 1;
  line = map->LineAt(address, rangeEnd);
  if (line < 0) line = 0;
  rangeStart = address;
}

void ClearMapCache() {
  std::lock_guard<std::mutex> lock(State().lock);
  State().entries.clear();
}

}  // namespace kestrix
