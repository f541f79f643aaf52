#include "debuginfo/map/map_file.h"

#include <algorithm>
#include <cstring>

#include "crash/base/little_endian.h"
#include "crash/base/symbol_names.h"

namespace kestrix {

namespace {

char Lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; }

// Segment order: code before data, start ascending, equal start longer first.
bool SegmentBefore(const TMfSegment& a, const TMfSegment& b) {
  if (a.IsCode != b.IsCode) return a.IsCode > b.IsCode;
  if (a.StartAddr != b.StartAddr) return a.StartAddr < b.StartAddr;
  return a.Length > b.Length;
}

bool EndsText(const std::string& s, const char* tail) {
  const size_t n = std::strlen(tail);
  return s.size() >= n && SameText(s.substr(s.size() - n), tail);
}

}  // namespace

bool SameText(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (Lower(a[i]) != Lower(b[i])) return false;
  return true;
}

bool StartsText(const std::string& prefix, const std::string& text) {
  return text.size() >= prefix.size() && SameText(text.substr(0, prefix.size()), prefix);
}

TModuleBounds ReadModuleBounds(uint32_t handle, const uint8_t* h, size_t size) {
  TModuleBounds b;
  if (!h || size < 0x40 || h[0] != 'M' || h[1] != 'Z') return b;
  const uint32_t pe = Dword(h + 0x3c);
  if (pe > size || size - pe < 24 + 96 || std::memcmp(h + pe, "PE\0\0", 4) != 0) return b;
  const uint16_t sections = Word(h + pe + 6);
  const uint16_t optionalSize = Word(h + pe + 20);
  const uint8_t* opt = h + pe + 24;
  if (Word(opt) != 0x10b) return b;  // PE32 only
  const uint32_t table = pe + 24 + optionalSize;
  if (table > size || (size - table) / 40 < std::min<uint32_t>(sections, 2)) return b;
  const uint8_t* s1 = h + table;
  const uint8_t* s2 = s1 + 40;
  b.valid = true;
  if (sections >= 1 && (Dword(s1 + 36) & 0x20)) {
    b.baseOfCode = handle + Dword(s1 + 12);
    b.topOfCode = b.baseOfCode + Dword(s1 + 8);
    if (sections >= 2 && (Dword(s2 + 36) & 0x20)) {
      b.topOfCode = handle + Dword(s2 + 12) + Dword(s2 + 8);
      b.twoCodeSections = true;
      b.secondCodeOffset = Dword(s2 + 12) - Dword(s1 + 12);
    }
  } else {
    b.baseOfCode = handle + Dword(opt + 20);
    b.topOfCode = b.baseOfCode + Dword(opt + 4);
  }
  b.baseOfData = handle + Dword(opt + 24);
  b.topOfData = b.baseOfData + Dword(opt + 8) + Dword(opt + 12);
  return b;
}

TMapFile::TMapFile(bool codeOnly, uint32_t moduleHandle, const std::string& moduleFileName)
    : CodeOnly(codeOnly), ModuleHandle(moduleHandle), ModuleFileName(moduleFileName), MapFileName(moduleFileName) {}

void TMapFile::SetBounds(const TModuleBounds& b) {
  BaseOfCode = b.baseOfCode;
  TopOfCode = b.topOfCode;
  BaseOfData = b.baseOfData;
  TopOfData = b.topOfData;
  TwoCodeSections = b.twoCodeSections;
  SecondCodeOffset = b.secondCodeOffset;
}

template <class T>
void TMapFile::Grow(std::vector<T>& table) {
  if (table.size() < table.capacity()) return;
  const size_t cap = table.capacity();
  table.reserve(cap < 8 ? 16 : cap + cap / 2);
}

void TMapFile::AddSegment(bool isCode, bool relative, uint32_t address, std::string name, uint32_t length,
                          bool sortedInsert, bool trackLast) {
  if (CodeOnly && !isCode) return;
  if (EndsText(name, ".pas") || EndsText(name, ".dpr")) name.resize(name.size() - 4);
  if (relative) address += isCode ? BaseOfCode : BaseOfData;
  int& last = lastTracked_[isCode ? 1 : 0];
  if (trackLast && last >= 0 && static_cast<size_t>(last) < segments_.size()) {
    TMfSegment& s = segments_[last];
    if (s.UnitName == name && address >= s.StartAddr && address - s.StartAddr <= uint64_t(s.Length) + 2) {
      s.Length = address + length - s.StartAddr;
      return;
    }
  }
  TMfSegment seg;
  seg.IsValid = 1;
  seg.IsCode = isCode;
  seg.StartAddr = address;
  seg.Length = length;
  seg.UnitName = std::move(name);
  size_t pos = segments_.size();
  if (sortedInsert)
    while (pos > 0 && SegmentBefore(seg, segments_[pos - 1])) --pos;
  Grow(segments_);
  segments_.insert(segments_.begin() + pos, std::move(seg));
  if (trackLast) last = static_cast<int>(pos);
}

void TMapFile::AddPublic(bool isCode, const std::string& rawName, uint32_t offset, bool fromTd32) {
  if (CodeOnly && !isCode) return;
  if (rawName.size() >= 6 && rawName[0] == '@' && rawName[1] == '$' && rawName[2] == 'x' && rawName[4] == '$')
    return;
  TDemangled d = DemangleSymbol(rawName);
  const uint32_t address = offset + (isCode ? BaseOfCode : BaseOfData);
  const TMfSegment* seg = FindSegment(isCode, address);
  std::string unit = d.unit;
  if (seg) {
    if (d.name == seg->UnitName) d.name = "initialization";
    if (!d.unit.empty() && !SameText(d.unit, seg->UnitName)) {
      d.name = d.unit + "." + d.name;
      unit = seg->UnitName;
    }
  }
  const bool inSegment = seg != nullptr;
  TMfPublic pub;
  pub.IsValid = 1;
  pub.IsCode = isCode;
  pub.Name = std::move(d.name);
  pub.Address = address;
  AppendPublic(std::move(pub));
  if (!fromTd32) return;
  const int k = lastTracked_[isCode ? 1 : 0];
  if (k >= 0 && static_cast<size_t>(k) < segments_.size()) {
    TMfSegment& s = segments_[k];
    if (address == s.StartAddr) return;
    if (address > s.StartAddr + s.Length) {
      uint32_t end = address;
      if (static_cast<size_t>(k) + 1 < segments_.size()) {
        const TMfSegment& next = segments_[k + 1];
        if (next.IsCode == s.IsCode && next.StartAddr < address) end = std::max(next.StartAddr, s.StartAddr);
      }
      s.Length = end - s.StartAddr;
    }
  }
  if (!inSegment && (k < 0 || segments_[k].StartAddr != address) &&
      (k < 0 || !SameText(segments_[k].UnitName, unit)))
    AddSegment(isCode, false, address, unit, 1, true, true);
}

void TMapFile::AppendSegment(TMfSegment segment) {
  Grow(segments_);
  segments_.push_back(std::move(segment));
}

void TMapFile::AppendPublic(TMfPublic pub) {
  Grow(publics_);
  publics_.push_back(std::move(pub));
}

void TMapFile::AppendLineEntry(int32_t line, uint32_t address) {
  Grow(lines_);
  lines_.push_back({line, address});
}

void TMapFile::SortSegmentTable() { std::sort(segments_.begin(), segments_.end(), SegmentBefore); }

void TMapFile::SortPublicTable() {
  std::stable_sort(publics_.begin(), publics_.end(),
                   [](const TMfPublic& a, const TMfPublic& b) { return a.Address < b.Address; });
}

void TMapFile::SortLineTable() {
  std::stable_sort(lines_.begin(), lines_.end(),
                   [](const TMfLine& a, const TMfLine& b) { return a.Address < b.Address; });
}

void TMapFile::CloseSegmentGaps(bool touchOnly) {
  if (segments_.size() < 2) return;
  size_t i = 0;
  for (size_t j = 1; j < segments_.size(); ++j) {
    TMfSegment& a = segments_[i];
    TMfSegment& b = segments_[j];
    if (a.Length != 0 && a.StartAddr != b.StartAddr) {
      if (a.IsCode == b.IsCode && b.StartAddr > a.StartAddr &&
          (!touchOnly || uint64_t(a.StartAddr) + a.Length >= b.StartAddr)) {
        a.Length = b.StartAddr - a.StartAddr;
        if (SameText(a.UnitName, b.UnitName)) {
          a.Length += b.Length;
          continue;  // b absorbed
        }
      }
      ++i;
      if (i != j) segments_[i] = std::move(b);
    } else {
      segments_[i] = std::move(b);
    }
  }
  segments_.resize(i + 1);
}

size_t TMapFile::SegmentIndexAt(bool isCode, uint32_t address, bool& found) const {
  found = false;
  const uint8_t code = isCode ? 1 : 0;
  // First segment that sorts after (kind, address).
  auto it = std::upper_bound(segments_.begin(), segments_.end(), address,
                             [code](uint32_t a, const TMfSegment& s) {
                               if (code != s.IsCode) return code > s.IsCode;
                               return a < s.StartAddr;
                             });
  if (it == segments_.begin()) return 0;
  const size_t k = static_cast<size_t>(it - segments_.begin()) - 1;
  const TMfSegment& s = segments_[k];
  found = s.IsCode == code && address - s.StartAddr < s.Length && address >= s.StartAddr;
  return k;
}

const TMfSegment* TMapFile::FindSegment(bool isCode, uint32_t address) const {
  if (!Valid && segments_.empty()) return nullptr;
  bool found;
  const size_t k = SegmentIndexAt(isCode, address, found);
  return found ? &segments_[k] : nullptr;
}

TMfSegment TMapFile::SegmentAt(bool isCode, uint32_t address) const {
  if (!Valid) return {};
  const TMfSegment* s = FindSegment(isCode, address);
  return s ? *s : TMfSegment{};
}

const TMfPublic* TMapFile::FindPublic(uint32_t address) const {
  auto it = std::upper_bound(publics_.begin(), publics_.end(), address,
                             [](uint32_t a, const TMfPublic& p) { return a < p.Address; });
  if (it == publics_.begin()) return nullptr;
  if (it == publics_.end() && TopOfCode != 0 && address >= TopOfCode) return nullptr;
  --it;
  while (it != publics_.begin() && (it - 1)->Address == it->Address) --it;
  return &*it;
}

TMfPublic TMapFile::PublicAt(uint32_t address) const {
  if (!Valid) return {};
  const TMfPublic* p = FindPublic(address);
  return p ? *p : TMfPublic{};
}

int32_t TMapFile::LineAt(uint32_t address, uint32_t& nextAddress) const {
  if (!Valid) return 0;
  if (lines_.empty()) {
    const TMfSegment* s = FindSegment(true, address);
    return s && s->HasLines ? -1 : 0;
  }
  nextAddress = address + 1;
  auto it = std::upper_bound(lines_.begin(), lines_.end(), address,
                             [](uint32_t a, const TMfLine& l) { return a < l.Address; });
  if (it == lines_.begin()) return 0;
  if (it == lines_.end() && TopOfCode != 0 && address >= TopOfCode) return 0;
  const TMfLine& b = *(it - 1);
  const TMfSegment* s = FindSegment(true, address);
  if (!s || b.Address < s->StartAddr || b.Address - s->StartAddr > s->Length) return 0;
  if (it != lines_.end()) nextAddress = it->Address;
  return b.Line;
}

uint32_t TMapFile::AddressOfPublic(bool isCode, const std::string& unitName, bool caseSensitive,
                                   const std::string& name) const {
  if (!Valid) return 0;
  const uint8_t code = isCode ? 1 : 0;
  auto search = [&](const std::string& unit) -> uint32_t {
    for (const TMfSegment& s : segments_) {
      if (s.IsCode != code || !SameText(s.UnitName, unit)) continue;
      for (const TMfPublic& p : publics_) {
        if (p.IsCode != code || p.Address < s.StartAddr || p.Address - s.StartAddr > s.Length) continue;
        if (caseSensitive ? p.Name == name : SameText(p.Name, name)) return p.Address;
      }
    }
    return 0;
  };
  if (uint32_t a = search(unitName)) return a;
  if (unitName.find('.') != std::string::npos) return 0;
  for (const char* ext : {".cpp", ".h", ".c"})
    if (uint32_t a = search(unitName + ext)) return a;
  return 0;
}

}  // namespace kestrix
