// Owners of kernel handles and mapped views: each closes what it holds when
// it goes, so no path forgets a CloseHandle or UnmapViewOfFile.
#pragma once

#include <windows.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <utility>

namespace kestrix {

// A handle closed with CloseHandle; both null and INVALID_HANDLE_VALUE count
// as none.
class TScopedHandle {
 public:
  TScopedHandle() = default;
  explicit TScopedHandle(HANDLE h) : h_(h) {}
  TScopedHandle(TScopedHandle&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
  TScopedHandle& operator=(TScopedHandle&& o) noexcept {
    if (this != &o) Reset(std::exchange(o.h_, nullptr));
    return *this;
  }
  TScopedHandle(const TScopedHandle&) = delete;
  TScopedHandle& operator=(const TScopedHandle&) = delete;
  ~TScopedHandle() { Reset(); }

  HANDLE Get() const { return h_; }
  bool Valid() const { return h_ != nullptr && h_ != INVALID_HANDLE_VALUE; }
  explicit operator bool() const { return Valid(); }
  HANDLE Release() { return std::exchange(h_, nullptr); }
  void Reset(HANDLE h = nullptr) {
    if (Valid()) CloseHandle(h_);
    h_ = h;
  }

 private:
  HANDLE h_ = nullptr;
};

// A view of a file mapping, unmapped when it goes.
class TMappedView {
 public:
  TMappedView() = default;
  explicit TMappedView(void* view) : view_(view) {}
  TMappedView(TMappedView&& o) noexcept : view_(std::exchange(o.view_, nullptr)) {}
  TMappedView& operator=(TMappedView&& o) noexcept {
    if (this != &o) {
      Reset();
      view_ = std::exchange(o.view_, nullptr);
    }
    return *this;
  }
  TMappedView(const TMappedView&) = delete;
  TMappedView& operator=(const TMappedView&) = delete;
  ~TMappedView() { Reset(); }

  void* Get() const { return view_; }
  template <class T>
  T* As() const {
    return static_cast<T*>(view_);
  }
  explicit operator bool() const { return view_ != nullptr; }
  void Reset() {
    if (view_) UnmapViewOfFile(view_);
    view_ = nullptr;
  }

 private:
  void* view_ = nullptr;
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
