#include "crash/base/win/scoped_handle.h"

namespace kestrix {

TMappedFile MapFileReadOnly(const std::string& path) {
  TMappedFile result;
  TScopedHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                 nullptr, OPEN_EXISTING, 0, nullptr));
  if (!file) return result;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(file.Get(), &size) || size.QuadPart <= 0 || size.QuadPart > 0x7fffffff) return result;
  TScopedHandle mapping(CreateFileMappingA(file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping) return result;
  result.view = TMappedView(MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0));
  if (result.view) result.size = static_cast<size_t>(size.QuadPart);
  return result;
}

}  // namespace kestrix
