// Reference-counted interfaces of the crash-report library: the three
// reference-counting operations every interface starts with, an intrusive
// smart pointer, and a base class for implementations.
#pragma once

#include <atomic>
#include <cstdint>
#include <utility>

namespace kestrix {

// Interface identifier.
struct KXIID {
  uint32_t a, b, c, d;
  friend bool operator==(const KXIID& x, const KXIID& y) {
    return x.a == y.a && x.b == y.b && x.c == y.c && x.d == y.d;
  }
  friend bool operator!=(const KXIID& x, const KXIID& y) { return !(x == y); }
};

class IKXUnknown {
 public:
  // True and *out set (with a reference) when the object implements iid.
  virtual bool QueryInterface(const KXIID& iid, void** out) = 0;
  virtual uint32_t AddRef() = 0;
  virtual uint32_t Release() = 0;

 protected:
  ~IKXUnknown() = default;
};

// Holds one reference.
template <class T>
class KXPtr {
 public:
  KXPtr() = default;
  KXPtr(T* p) : p_(p) {  // NOLINT: implicit from a raw pointer adds a reference
    if (p_) p_->AddRef();
  }
  KXPtr(const KXPtr& o) : KXPtr(o.p_) {}
  KXPtr(KXPtr&& o) noexcept : p_(std::exchange(o.p_, nullptr)) {}
  template <class U>
  KXPtr(const KXPtr<U>& o) : KXPtr(o.get()) {}
  ~KXPtr() {
    if (p_) p_->Release();
  }
  KXPtr& operator=(KXPtr o) noexcept {
    std::swap(p_, o.p_);
    return *this;
  }
  // Takes over a reference the caller already owns.
  static KXPtr Adopt(T* p) {
    KXPtr r;
    r.p_ = p;
    return r;
  }
  T* get() const { return p_; }
  T* operator->() const { return p_; }
  T& operator*() const { return *p_; }
  explicit operator bool() const { return p_ != nullptr; }

 private:
  T* p_ = nullptr;
};

// Counting shared by the implementations; the object deletes itself when
// the last reference goes.
class TKXRefCounted {
 public:
  TKXRefCounted() = default;
  TKXRefCounted(const TKXRefCounted&) = delete;
  TKXRefCounted& operator=(const TKXRefCounted&) = delete;

 protected:
  virtual ~TKXRefCounted() = default;
  uint32_t DoAddRef() { return ++refs_; }
  uint32_t DoRelease() {
    uint32_t left = --refs_;
    if (left == 0) delete this;
    return left;
  }

 private:
  std::atomic<uint32_t> refs_{0};
};

#define KX_IMPLEMENT_REFCOUNT                              \
  uint32_t AddRef() override { return DoAddRef(); }        \
  uint32_t Release() override { return DoRelease(); }

}  // namespace kestrix
