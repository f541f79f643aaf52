// The one owner of a system resource: TScoped<Traits> holds a value, closes
// it with Traits::Close when it goes, and treats what Traits::IsValid
// rejects as nothing held. The traits say what differs between kinds: the
// value type, the empty value, which values are invalid and the closer.
#pragma once

#include <utility>

namespace kestrix {

template <class Traits>
class TScoped {
 public:
  using Type = typename Traits::Type;

  constexpr TScoped() = default;
  explicit TScoped(Type value) : value_(value) {}
  TScoped(TScoped&& o) noexcept : value_(std::exchange(o.value_, Traits::Empty())) {}
  TScoped& operator=(TScoped&& o) noexcept {
    if (this != &o) Reset(std::exchange(o.value_, Traits::Empty()));
    return *this;
  }
  TScoped(const TScoped&) = delete;
  TScoped& operator=(const TScoped&) = delete;
  ~TScoped() { Reset(); }

  Type Get() const { return value_; }
  bool Valid() const { return Traits::IsValid(value_); }
  explicit operator bool() const { return Valid(); }
  // Gives up ownership: the caller closes the value.
  Type Release() { return std::exchange(value_, Traits::Empty()); }
  // Closes what is held and takes `value`.
  void Reset(Type value = Traits::Empty()) {
    const Type old = std::exchange(value_, value);
    if (Traits::IsValid(old)) Traits::Close(old);
  }
  // For functions that return the value through a pointer (RegOpenKeyEx,
  // CreatePipe …): closes what is held and hands out the empty slot.
  Type* Receive() {
    Reset();
    return &value_;
  }

 private:
  Type value_ = Traits::Empty();
};

}  // namespace kestrix
