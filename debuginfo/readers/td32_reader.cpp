#include "debuginfo/readers/td32_reader.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "crash/base/little_endian.h"

namespace kestrix {

namespace {

// A bounded piece of the data: a subsection, or the whole data.
struct TSpan {
  const uint8_t* data;
  uint32_t size;
  bool Has(uint64_t at, uint64_t count) const { return at <= size && size - at >= count; }
  uint16_t W(uint32_t at) const { return Word(data + at); }
  uint32_t D(uint32_t at) const { return Dword(data + at); }
};

std::string WithoutPath(const std::string& name) {
  const size_t slash = name.find_last_of("\\/:");
  return slash == std::string::npos ? name : name.substr(slash + 1);
}

bool EndsWithTds(const std::string& name) {
  return name.size() >= 4 && SameText(name.substr(name.size() - 4), ".tds");
}

struct TSubsection {
  uint16_t type;
  TSpan span;
};

class TTd32Parser {
 public:
  TTd32Parser(TSpan all, TMapFile& map) : all_(all), map_(map) {}

  bool Run(std::string& error) {
    if (!Directories()) return Fail(error);
    for (const TSubsection& s : subsections_)
      if (s.type == kTd32Names && !Names(s.span)) return Fail(error);
    map_.ResetTracking();
    for (const TSubsection& s : subsections_)
      if (s.type == kTd32Modules && !Module(s.span)) return Fail(error);
    for (const TSubsection& s : subsections_)
      if (s.type == kTd32SourceModules && !SourceModule(s.span)) return Fail(error);
    map_.SortSegmentTable();
    map_.CloseSegmentGaps(true);
    // The sort moved the segments: publics track only the ones they add.
    map_.ResetTracking();
    const bool globals = std::any_of(subsections_.begin(), subsections_.end(),
                                     [](const TSubsection& s) { return s.type == kTd32GlobalSymbols; });
    for (const TSubsection& s : subsections_) {
      if (globals && s.type == kTd32GlobalSymbols) Symbols(s.span, 32);
      if (!globals && s.type == kTd32AlignedSymbols) Symbols(s.span, 4);
    }
    map_.SortPublicTable();
    map_.CloseSegmentGaps(false);
    return true;
  }

 private:
  bool Fail(std::string& error) {
    error = "TD32 information: " + why_;
    return false;
  }
  bool Bad(const char* why) {
    why_ = why;
    return false;
  }

  // The chain of subsection directories; every subsection must lie in the data.
  bool Directories() {
    uint32_t at = all_.D(4);
    for (int n = 0; at != 0; ++n) {
      if (n == 1024) return Bad("the subsection directories form a loop");
      if (!all_.Has(at, 12)) return Bad("a subsection directory lies outside the data");
      const uint16_t headerSize = all_.W(at), entrySize = all_.W(at + 2);
      const uint32_t count = all_.D(at + 4), next = all_.D(at + 8);
      if (headerSize < 12 || entrySize < 12) return Bad("a subsection directory has entries shorter than 12 bytes");
      if (!all_.Has(uint64_t(at) + headerSize, uint64_t(count) * entrySize))
        return Bad("a subsection directory runs past the data");
      for (uint32_t i = 0; i < count; ++i) {
        const uint32_t e = at + headerSize + i * entrySize;
        const uint32_t offset = all_.D(e + 4), size = all_.D(e + 8);
        if (!all_.Has(offset, size)) return Bad("a subsection lies outside the data");
        subsections_.push_back({all_.W(e), {all_.data + offset, size}});
      }
      at = next;
    }
    return true;
  }

  // A count, then per name a length byte, the characters and a zero.
  bool Names(TSpan s) {
    if (!s.Has(0, 4)) return Bad("a name table is shorter than its count");
    const uint32_t count = s.D(0);
    uint32_t at = 4;
    for (uint32_t i = 0; i < count; ++i) {
      if (!s.Has(at, 1) || !s.Has(at + 1, uint32_t(s.data[at]) + 1)) return Bad("a name table runs past its end");
      const uint8_t length = s.data[at];
      names_.emplace_back(reinterpret_cast<const char*>(s.data + at + 1), length);
      at += length + 2u;
    }
    return true;
  }

  std::string Name(uint32_t index) const {
    return index >= 1 && index <= names_.size() ? names_[index - 1] : std::string();
  }

  // Code ranges of segment 1, and the module's first data range.
  bool Module(TSpan s) {
    if (!s.Has(0, 28)) return Bad("a module record is shorter than its header");
    const uint16_t count = s.W(4);
    if (!s.Has(28, uint64_t(count) * 12)) return Bad("a module record's segment list runs past its end");
    const std::string name = WithoutPath(Name(s.D(8)));
    bool data = false;
    for (uint32_t i = 0; i < count; ++i) {
      const uint32_t e = 28 + 12 * i;
      const uint16_t segment = s.W(e + 2);
      const uint32_t offset = s.D(e + 4), size = s.D(e + 8);
      if (size == 0) continue;
      if (segment == 1) {
        map_.AddSegment(true, true, offset, name, size, false, true);
      } else if (!data) {
        map_.AddSegment(false, true, offset, name, size, false, true);
        data = true;
      }
    }
    return true;
  }

  // Files, each with blocks of (offset, line) pairs; a named file also
  // becomes a code range from its first to its last line address.
  bool SourceModule(TSpan s) {
    if (!s.Has(0, 4)) return Bad("a source module record is shorter than its header");
    const uint16_t files = s.W(0);
    if (!s.Has(4, uint64_t(files) * 4)) return Bad("a source module's file list runs past its end");
    for (uint32_t f = 0; f < files; ++f) {
      const uint32_t file = s.D(4 + 4 * f);
      if (!s.Has(file, 6)) return Bad("a source file entry lies outside its source module");
      const uint16_t blocks = s.W(file);
      const std::string name = WithoutPath(Name(s.D(file + 2)));
      if (!s.Has(uint64_t(file) + 6, uint64_t(blocks) * 4)) return Bad("a source file's block list runs past its end");
      uint32_t first = 0, last = 0;
      bool any = false;
      for (uint32_t b = 0; b < blocks; ++b) {
        const uint32_t block = s.D(file + 6 + 4 * b);
        if (!s.Has(block, 4)) return Bad("a line block lies outside its source module");
        const uint16_t segment = s.W(block), pairs = s.W(block + 2);
        if (segment == 0 || segment > 2) continue;
        if (!s.Has(uint64_t(block) + 4, uint64_t(pairs) * 6)) return Bad("a line block runs past its source module");
        for (uint32_t k = 0; k < pairs; ++k) {
          const uint32_t offset = s.D(block + 4 + 4 * k);
          const uint16_t line = s.W(block + 4 + 4 * pairs + 2 * k);
          map_.AppendLineEntry(line, map_.BaseOfCode + offset);
          first = any ? std::min(first, offset) : offset;
          last = any ? std::max(last, offset) : offset;
          any = true;
        }
      }
      if (any && !name.empty()) map_.AddSegment(true, true, first, name, last - first + 1, false, true);
    }
    return true;
  }

  // Symbol records from `start` to the subsection's end; a record of length
  // 0 or one running past the end ends the walk.
  void Symbols(TSpan s, uint32_t start) {
    for (uint32_t at = start; s.Has(at, 4);) {
      const uint16_t length = s.W(at), type = s.W(at + 2);
      if (length == 0 || !s.Has(uint64_t(at) + 2, length)) return;
      const uint8_t* r = s.data + at;
      switch (type) {
        case 0x204:  // procedures
        case 0x205:
          if (length >= 44) Public(true, Dword(r + 40), Dword(r + 28));
          break;
        case 0x201:  // data
        case 0x202:
          if (length >= 20) Public(false, Dword(r + 16), Dword(r + 4));
          break;
        case 0x20:  // public code symbol
          if (length > 25) Public(true, Dword(r + 12), Dword(r + 20));
          break;
        case 0x21:  // public data symbol
          if (length > 23) Public(false, Dword(r + 12), Dword(r + 20));
          break;
      }
      at += 2u + length;
    }
  }

  void Public(bool isCode, uint32_t nameIndex, uint32_t offset) {
    const std::string name = Name(nameIndex);
    if (!name.empty()) map_.AddPublic(isCode, name, offset, true);
  }

  TSpan all_;
  TMapFile& map_;
  std::vector<TSubsection> subsections_;
  std::vector<std::string> names_;
  std::string why_;
};

// The loaded image's debug directory: the first entry's data in memory.
bool Td32InImage(const TPeView& image, const uint8_t*& data, size_t& size, bool& hasDirectory) {
  hasDirectory = false;
  const TModuleBounds b = ReadModuleBounds(0, image.data, image.size);
  if (!b.valid) return false;
  const uint32_t pe = Dword(image.data + 0x3c);
  const uint8_t* opt = image.data + pe + 24;
  const uint16_t optionalSize = Word(image.data + pe + 20);
  if (optionalSize < 96 + 7 * 8 || Dword(opt + 92) <= 6) return false;
  const uint32_t rva = Dword(opt + 96 + 6 * 8), length = Dword(opt + 96 + 6 * 8 + 4);
  if (!rva || !length) return false;
  hasDirectory = true;
  if (rva > image.size || image.size - rva < 28) return false;
  const uint32_t raw = Dword(image.data + rva + 20), rawSize = Dword(image.data + rva + 16);
  if (!raw || raw >= image.size) return false;
  data = image.data + raw;
  size = std::min<size_t>(rawSize, image.size - raw);
  return true;
}

// The offset of TD32 data in a file: 0 unless the file is a PE image, then
// where the image's first debug directory entry says, provided the debug
// directory lies at the start of the last section. False when a PE image
// carries none.
bool Td32OffsetInFile(TModuleSource& source, const std::string& path, const std::string& head, uint32_t& offset) {
  offset = 0;
  const auto* h = reinterpret_cast<const uint8_t*>(head.data());
  if (head.size() < 0x40 || h[0] != 'M' || h[1] != 'Z') return true;
  const uint32_t pe = Dword(h + 0x3c);
  if (pe > head.size() || head.size() - pe < 24 || std::memcmp(h + pe, "PE\0\0", 4) != 0) return true;
  const uint16_t sections = Word(h + pe + 6), optionalSize = Word(h + pe + 20);
  if (optionalSize < 96 + 7 * 8 || sections == 0) return false;
  std::string headers = head;
  const uint64_t table = uint64_t(pe) + 24 + optionalSize, end = table + 40ull * sections;
  if (end > headers.size() && (!source.ReadFilePart(path, 0, static_cast<size_t>(end), headers) || headers.size() < end))
    return false;
  h = reinterpret_cast<const uint8_t*>(headers.data());
  const uint8_t* opt = h + pe + 24;
  if (Word(opt) != 0x10b || Dword(opt + 92) <= 6) return false;
  const uint32_t debugRva = Dword(opt + 96 + 6 * 8);
  const uint8_t* lastSection = h + table + 40 * (sections - 1);
  const uint32_t raw = Dword(lastSection + 20);
  if (!debugRva || Dword(lastSection + 12) != debugRva || raw == 0) return false;
  std::string entry;
  if (!source.ReadFilePart(path, raw, 28, entry) || entry.size() < 28) return false;
  offset = Dword(reinterpret_cast<const uint8_t*>(entry.data()) + 24);
  return true;
}

bool Load(const uint8_t* data, size_t size, TMapFile& map, std::string& error, bool signatureRequired) {
  const TTd32Result r = ParseTd32Data(data, size, map, error);
  if (r == TTd32Result::kNotTd32 && signatureRequired) error = "TD32 information: no FB09 or FB0A signature";
  return r == TTd32Result::kLoaded;
}

}  // namespace

TTd32Result ParseTd32Data(const uint8_t* data, size_t size, TMapFile& map, std::string& error) {
  if (!data || size < 8 || (std::memcmp(data, "FB09", 4) != 0 && std::memcmp(data, "FB0A", 4) != 0))
    return TTd32Result::kNotTd32;
  const TSpan all{data, static_cast<uint32_t>(std::min<size_t>(size, 0xffffffffu))};
  TMapFile trial = map;
  TTd32Parser parser(all, trial);
  if (!parser.Run(error)) return TTd32Result::kInvalid;
  map = std::move(trial);
  return TTd32Result::kLoaded;
}

bool IsTdsOutdated(TModuleSource& source, const std::string& tdsFile) {
  int64_t tdsDay, mapDay;
  return source.FileDay(ChangeFileExt(tdsFile, ".map"), mapDay) && source.FileDay(tdsFile, tdsDay) &&
         tdsDay < mapDay;
}

bool ParseTd32Info(TMapFile& map, TModuleSource& source, bool loadedImage, std::string& error) {
  if (map.TwoCodeSections) return false;
  if (loadedImage) {
    const TPeView image = source.Image();
    const uint8_t* data;
    size_t size;
    bool hasDirectory;
    const bool found = image.mapped && Td32InImage(image, data, size, hasDirectory);
    if (image.mapped && hasDirectory) return found && Load(data, size, map, error, false);
  }
  const std::string tds = EndsWithTds(map.MapFileName) ? map.MapFileName : ChangeFileExt(map.MapFileName, ".tds");
  int64_t day;
  const bool beside = source.FileDay(tds, day);
  if (beside && IsTdsOutdated(source, tds)) return false;
  const std::string path = beside ? tds : map.MapFileName;
  std::string head;
  if (!source.ReadFilePart(path, 0, 0x1000, head)) return false;
  uint32_t offset;
  if (!Td32OffsetInFile(source, path, head, offset)) return false;
  std::string bytes;
  if (!source.ReadFilePart(path, offset, ~size_t(0), bytes)) return false;
  return Load(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), map, error, beside);
}

}  // namespace kestrix
