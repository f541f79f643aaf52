// The debug-information map of one module: unit segments, public symbols
// and line numbers, each table sorted, with the builder operations that
// the readers use and the lookups that name a code address.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrix {

struct TMfSegment {
  uint8_t IsValid = 0;
  uint8_t IsCode = 0;
  uint32_t StartAddr = 0;
  uint32_t Length = 0;
  std::string UnitName;
  uint8_t HasLines = 0;  // stripped maps: the unit has lines this map lacks
};

struct TMfPublic {
  uint8_t IsValid = 0;
  uint8_t IsCode = 0;
  std::string Name;
  uint32_t Address = 0;
};

struct TMfLine {
  int32_t Line = 0;
  uint32_t Address = 0;
};

// The module's place in memory, from its PE headers.
struct TModuleBounds {
  uint32_t baseOfCode = 0, topOfCode = 0;  // topOfCode 0: end unknown
  uint32_t baseOfData = 0, topOfData = 0;
  bool twoCodeSections = false;
  uint32_t secondCodeOffset = 0;
  bool valid = false;  // the headers were a PE image
};

// Reads the bounds of a PE image whose first `size` bytes (at least the
// headers) are at `headers`, loaded at `handle`. Never reads past size.
TModuleBounds ReadModuleBounds(uint32_t handle, const uint8_t* headers, size_t size);

class TMapFile {
 public:
  TMapFile() = default;
  TMapFile(bool codeOnly, uint32_t moduleHandle, const std::string& moduleFileName);

  // Takes the module bounds (relative offsets are added to these bases).
  void SetBounds(const TModuleBounds& bounds);

  // Builder operations (readers and the compact map loader).
  void AddSegment(bool isCode, bool relative, uint32_t address, std::string name, uint32_t length,
                  bool sortedInsert = false, bool trackLast = false);
  void AddPublic(bool isCode, const std::string& name, uint32_t offset, bool fromTd32 = false);
  // Appends an entry exactly as given (no demangling): stored tables.
  void AppendSegment(TMfSegment segment);
  void AppendPublic(TMfPublic pub);
  void AppendLineEntry(int32_t line, uint32_t address);
  void ResetTracking() { lastTracked_[0] = lastTracked_[1] = -1; }
  void SortSegmentTable();
  void SortPublicTable();
  void SortLineTable();
  void CloseSegmentGaps(bool touchOnly);
  // A stored table's count: the capacity is set at once.
  void ReserveSegments(size_t n) { segments_.reserve(n); }
  void ReservePublics(size_t n) { publics_.reserve(n); }
  void ReserveLines(size_t n) { lines_.reserve(n); }

  // Lookups; an invalid map finds nothing.
  TMfSegment SegmentAt(bool isCode, uint32_t address) const;
  TMfPublic PublicAt(uint32_t address) const;
  // 0: no line; -1: the unit has lines that this map lacks.
  int32_t LineAt(uint32_t address, uint32_t& nextAddress) const;
  uint32_t AddressOfPublic(bool isCode, const std::string& unitName, bool caseSensitive,
                           const std::string& name) const;
  // Pointer forms of the lookups (no copy); null when nothing is found.
  const TMfSegment* FindSegment(bool isCode, uint32_t address) const;
  const TMfPublic* FindPublic(uint32_t address) const;

  const std::vector<TMfSegment>& Segments() const { return segments_; }
  const std::vector<TMfPublic>& Publics() const { return publics_; }
  const std::vector<TMfLine>& Lines() const { return lines_; }
  std::vector<TMfSegment>& MutableSegments() { return segments_; }
  std::vector<TMfPublic>& MutablePublics() { return publics_; }

  bool CodeOnly = false;
  uint32_t EntryPoint = 0, BaseOfData = 0, TopOfData = 0;
  uint32_t ModuleHandle = 0;
  bool Valid = false;
  uint32_t BaseOfCode = 0, TopOfCode = 0;
  bool TwoCodeSections = false;
  uint32_t SecondCodeOffset = 0;
  std::string ModuleFileName, MapFileName;
  std::string MinDebugInfo;

 private:
  template <class T>
  static void Grow(std::vector<T>& table);
  size_t SegmentIndexAt(bool isCode, uint32_t address, bool& found) const;

  std::vector<TMfSegment> segments_;
  std::vector<TMfPublic> publics_;
  std::vector<TMfLine> lines_;
  int lastTracked_[2] = {-1, -1};  // [isCode]: TD32's last tracked segment
};

// A name a stripped map makes up ("segment%3", "public%17") for one that
// only the full map in the ".kx" file knows.
inline bool IsGeneratedName(const std::string& name) { return name.find('%') != std::string::npos; }

// Case-insensitive (ASCII) equality and prefix test, as unit names compare.
bool SameText(const std::string& a, const std::string& b);
bool StartsText(const std::string& prefix, const std::string& text);

}  // namespace kestrix
