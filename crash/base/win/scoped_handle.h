// Owners of kernel objects: handles (CloseHandle), find handles (FindClose),
// registry keys (RegCloseKey) and mapped views (UnmapViewOfFile), so that no
// path forgets to close one.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "crash/base/win/scoped_resource.h"

namespace kestrix {

// Kernel handles: both null and INVALID_HANDLE_VALUE count as none, since
// functions return one or the other on failure.
struct TKernelHandleTraits {
  using Type = HANDLE;
  static constexpr HANDLE Empty() { return nullptr; }
  static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { CloseHandle(h); }
};
using TScopedHandle = TScoped<TKernelHandleTraits>;

// FindFirstFile's handles, closed with FindClose.
struct TFindHandleTraits {
  using Type = HANDLE;
  static HANDLE Empty() { return INVALID_HANDLE_VALUE; }
  static bool IsValid(HANDLE h) { return h != nullptr && h != INVALID_HANDLE_VALUE; }
  static void Close(HANDLE h) { FindClose(h); }
};
using TScopedFindHandle = TScoped<TFindHandleTraits>;

// Registry keys opened or created by the program; the predefined roots
// (HKEY_CURRENT_USER …) are never held by an owner.
struct TRegistryKeyTraits {
  using Type = HKEY;
  static constexpr HKEY Empty() { return nullptr; }
  static bool IsValid(HKEY k) { return k != nullptr; }
  static void Close(HKEY k) { RegCloseKey(k); }
};
using TScopedRegistryKey = TScoped<TRegistryKeyTraits>;

// A view of a file mapping, unmapped when it goes.
struct TMappedViewTraits {
  using Type = void*;
  static constexpr void* Empty() { return nullptr; }
  static bool IsValid(void* v) { return v != nullptr; }
  static void Close(void* v) { UnmapViewOfFile(v); }
};
class TMappedView : public TScoped<TMappedViewTraits> {
 public:
  using TScoped::TScoped;
  template <class T>
  T* As() const {
    return static_cast<T*>(Get());
  }
};

// A whole file mapped read-only (shared with other readers and writers).
struct TMappedFile {
  TMappedView view;
  size_t size = 0;
  const uint8_t* Data() const { return view.As<const uint8_t>(); }
  explicit operator bool() const { return static_cast<bool>(view); }
};
// An empty result when the file cannot be opened or is empty.
TMappedFile MapFileReadOnly(const std::string& path);

}  // namespace kestrix
