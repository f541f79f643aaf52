#include "debuginfo/map/pe_resources.h"

#include <cstring>

#include "crash/base/little_endian.h"

namespace kestrix {

namespace {

struct THeaders {
  uint32_t pe = 0, sections = 0, table = 0;
  const uint8_t* opt = nullptr;
};

bool Headers(const TPeView& v, THeaders& h) {
  if (!v.data || v.size < 0x40 || v.data[0] != 'M' || v.data[1] != 'Z') return false;
  h.pe = Dword(v.data + 0x3c);
  if (h.pe > v.size || v.size - h.pe < 24 + 96 || std::memcmp(v.data + h.pe, "PE\0\0", 4) != 0) return false;
  h.opt = v.data + h.pe + 24;
  if (Word(h.opt) != 0x10b) return false;
  h.sections = Word(v.data + h.pe + 6);
  h.table = h.pe + 24 + Word(v.data + h.pe + 20);
  return h.table <= v.size && (v.size - h.table) / 40 >= h.sections;
}

// Compares a directory entry's name (a counted UTF-16 text) with `name`.
bool NameMatches(const TPeView& pe, size_t dirBase, size_t dirSize, uint32_t nameField, const std::string& name) {
  if (!name.empty() && name[0] == '#') {
    if (nameField & 0x80000000u) return false;
    return std::to_string(nameField & 0xffff) == name.substr(1);
  }
  if (!(nameField & 0x80000000u)) return false;
  const size_t at = nameField & 0x7fffffffu;
  if (at > dirSize || dirSize - at < 2) return false;
  const uint8_t* p = pe.data + dirBase + at;
  const size_t n = Word(p);
  if (n != name.size() || (dirSize - at - 2) / 2 < n) return false;
  for (size_t i = 0; i < n; ++i) {
    uint16_t c = Word(p + 2 + 2 * i);
    char e = name[i];
    if (c >= 'a' && c <= 'z') c = static_cast<uint16_t>(c - 32);
    if (e >= 'a' && e <= 'z') e = static_cast<char>(e - 32);
    if (c != static_cast<uint8_t>(e)) return false;
  }
  return true;
}

// The entry of `name` in the directory at `at` (offset in the resource
// section); its field (subdirectory flag and offset) or ~0.
uint32_t Lookup(const TPeView& pe, size_t base, size_t size, size_t at, const std::string* name) {
  if (at > size || size - at < 16) return ~0u;
  const uint8_t* d = pe.data + base + at;
  const size_t count = size_t(Word(d + 12)) + Word(d + 14);
  if ((size - at - 16) / 8 < count) return ~0u;
  for (size_t i = 0; i < count; ++i) {
    const uint8_t* e = d + 16 + 8 * i;
    if (!name || NameMatches(pe, base, size, Dword(e), *name)) return Dword(e + 4);
  }
  return ~0u;
}

}  // namespace

uint32_t PeImageBase(const TPeView& pe) {
  THeaders h;
  return Headers(pe, h) ? Dword(h.opt + 28) : 0;
}

bool PeRange(const TPeView& pe, uint32_t rva, uint32_t length, size_t& offset) {
  THeaders h;
  if (!Headers(pe, h)) return false;
  if (pe.mapped) {
    offset = rva;
    return rva <= pe.size && pe.size - rva >= length;
  }
  for (uint32_t i = 0; i < h.sections; ++i) {
    const uint8_t* s = pe.data + h.table + 40 * i;
    const uint32_t va = Dword(s + 12), raw = Dword(s + 16), ptr = Dword(s + 20);
    if (rva < va || rva - va >= raw) continue;
    if (uint64_t(rva - va) + length > raw) return false;
    const uint64_t at = uint64_t(ptr) + (rva - va);
    if (at > pe.size || pe.size - at < length) return false;
    offset = static_cast<size_t>(at);
    return true;
  }
  return false;
}

bool FindPeResource(const TPeView& pe, const std::string& type, const std::string& name, const uint8_t*& data,
                    size_t& size) {
  THeaders h;
  if (!Headers(pe, h) || Dword(h.opt + 92) <= 2) return false;
  const uint32_t rva = Dword(h.opt + 96 + 2 * 8), length = Dword(h.opt + 96 + 2 * 8 + 4);
  size_t base;
  if (!rva || !length || !PeRange(pe, rva, length, base)) return false;
  uint32_t e = Lookup(pe, base, length, 0, &type);
  if (e == ~0u || !(e & 0x80000000u)) return false;
  e = Lookup(pe, base, length, e & 0x7fffffffu, &name);
  if (e == ~0u || !(e & 0x80000000u)) return false;
  e = Lookup(pe, base, length, e & 0x7fffffffu, nullptr);  // first language
  if (e == ~0u || (e & 0x80000000u) || e > length || length - e < 16) return false;
  const uint8_t* entry = pe.data + base + e;
  size_t at;
  if (!PeRange(pe, Dword(entry), Dword(entry + 4), at)) return false;
  data = pe.data + at;
  size = Dword(entry + 4);
  return true;
}

std::string FindMinDebugInfo(const uint8_t* record, size_t size) {
  static const char kKey[] = "\x0c" "MinDebugInfo" "\x0c" "\x1f\0\0\0";
  const size_t keySize = sizeof kKey - 1;
  if (!record || size < keySize + 31) return {};
  for (size_t i = 0; i + keySize + 31 <= size; ++i)
    if (std::memcmp(record + i, kKey, keySize) == 0)
      return std::string(reinterpret_cast<const char*>(record + i + keySize), 31);
  return {};
}

}  // namespace kestrix
