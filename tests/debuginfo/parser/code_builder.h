// Machine code for tests: hexadecimal bytes, labels, and 8- and 32-bit
// relative or absolute references to labels, resolved at the end.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "tests/debuginfo/decoder/test_bytes.h"

namespace kestrix::parser::testing {

class CodeBuilder {
 public:
  explicit CodeBuilder(uint32_t base) : base_(base) {}
  CodeBuilder& Hex(const std::string& hex) {
    for (uint8_t b : decoder::testing::Bytes(hex)) bytes_.push_back(b);
    return *this;
  }
  CodeBuilder& Label(const std::string& name) {
    labels_[name] = Here();
    return *this;
  }
  CodeBuilder& Rel8(const std::string& name) { return Ref(name, 1, true); }
  CodeBuilder& Rel32(const std::string& name) { return Ref(name, 4, true); }
  CodeBuilder& Abs32(const std::string& name) { return Ref(name, 4, false); }
  CodeBuilder& Dword(uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes_.push_back(static_cast<uint8_t>(v >> (8 * i)));
    return *this;
  }
  CodeBuilder& Fill(size_t n, uint8_t b) {
    bytes_.insert(bytes_.end(), n, b);
    return *this;
  }
  uint32_t Here() const { return base_ + static_cast<uint32_t>(bytes_.size()); }
  uint32_t At(const std::string& name) const { return labels_.at(name); }
  void Define(const std::string& name, uint32_t address) { labels_[name] = address; }
  uint32_t base() const { return base_; }
  // Resolves the references; call once, after the last byte.
  const std::vector<uint8_t>& Finish() {
    for (const Fixup& f : fixups_) {
      const uint32_t target = labels_.at(f.label);
      const uint32_t next = base_ + static_cast<uint32_t>(f.offset + f.size);
      const uint32_t value = f.relative ? target - next : target;
      for (int i = 0; i < f.size; ++i) bytes_[f.offset + i] = static_cast<uint8_t>(value >> (8 * i));
    }
    return bytes_;
  }

 private:
  struct Fixup {
    size_t offset;
    std::string label;
    int size;
    bool relative;
  };
  CodeBuilder& Ref(const std::string& name, int size, bool relative) {
    fixups_.push_back({bytes_.size(), name, size, relative});
    bytes_.insert(bytes_.end(), size, 0);
    return *this;
  }
  uint32_t base_;
  std::vector<uint8_t> bytes_;
  std::map<std::string, uint32_t> labels_;
  std::vector<Fixup> fixups_;
};

}  // namespace kestrix::parser::testing
