#include "tools/dwarf_map.h"

#include <libdwarf/dwarf.h>
#include <libdwarf/libdwarf.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <vector>

#include "crash/base/little_endian.h"
#include "crash/report/coff_symbols.h"
#include "debuginfo/map/map_file.h"
#include "crash/base/symbol_names.h"

namespace kestrix {

namespace {

struct TRange {
  uint64_t lo, hi;
};

struct TFunction {
  uint32_t address, end;
  std::string name;
  size_t unit;      // index into the unit names
  bool fromDwarf;
};

struct TInlined {
  uint64_t lo, hi;
  int32_t callLine;
};

struct TRow {
  uint64_t address;
  int32_t line;
  bool end;
};

class TDwarfReader {
 public:
  explicit TDwarfReader(Dwarf_Debug dbg) : dbg_(dbg) {}

  // Walks every compilation unit.
  // The code ranges of each unit, as (range, unit index).
  std::vector<std::pair<TRange, size_t>> unitRanges;

  void Read(std::vector<std::string>& units, std::vector<TFunction>& functions, std::vector<TRow>& rows) {
    Dwarf_Unsigned headerLength, abbrevOffset, typeOffset, nextHeader;
    Dwarf_Half version, addressSize, offsetSize, extensionSize, headerType;
    Dwarf_Sig8 signature;
    while (dwarf_next_cu_header_d(dbg_, 1, &headerLength, &version, &abbrevOffset, &addressSize, &offsetSize,
                                  &extensionSize, &signature, &typeOffset, &nextHeader, &headerType,
                                  &err_) == DW_DLV_OK) {
      Dwarf_Die cu = nullptr;
      if (dwarf_siblingof_b(dbg_, nullptr, 1, &cu, &err_) != DW_DLV_OK) continue;
      char* name = nullptr;
      std::string cuName = dwarf_diename(cu, &name, &err_) == DW_DLV_OK ? name : "";
      const size_t unit = units.size();
      units.push_back(UnitNameOfFile(cuName));
      cuBase_ = 0;
      Dwarf_Addr low;
      if (dwarf_lowpc(cu, &low, &err_) == DW_DLV_OK) cuBase_ = low;
      for (const TRange& r : Ranges(cu)) unitRanges.push_back({r, unit});
      inlined_.clear();
      Walk(cu, unit, functions, 0);
      ReadLines(cu, rows);
      dwarf_dealloc_die(cu);
    }
  }

 private:
  std::vector<TRange> Ranges(Dwarf_Die die) {
    std::vector<TRange> out;
    Dwarf_Addr low = 0, high = 0;
    Dwarf_Half form = 0;
    enum Dwarf_Form_Class cls;
    if (dwarf_lowpc(die, &low, &err_) == DW_DLV_OK && dwarf_highpc_b(die, &high, &form, &cls, &err_) == DW_DLV_OK) {
      if (cls == DW_FORM_CLASS_CONSTANT) high += low;
      if (high > low) out.push_back({low, high});
      return out;
    }
    Dwarf_Attribute attr = nullptr;
    if (dwarf_attr(die, DW_AT_ranges, &attr, &err_) != DW_DLV_OK) return out;
    Dwarf_Half version = 0, offsetSize = 0;
    dwarf_get_version_of_die(die, &version, &offsetSize);
    Dwarf_Half attrForm = 0;
    dwarf_whatform(attr, &attrForm, &err_);
    if (version >= 5) {
      Dwarf_Unsigned value = 0;
      if (attrForm == DW_FORM_rnglistx) {
        dwarf_formudata(attr, &value, &err_);
      } else {
        Dwarf_Off off = 0;
        dwarf_global_formref(attr, &off, &err_);
        value = off;
      }
      Dwarf_Rnglists_Head head = nullptr;
      Dwarf_Unsigned count = 0, global = 0;
      if (dwarf_rnglists_get_rle_head(attr, attrForm, value, &head, &count, &global, &err_) == DW_DLV_OK) {
        for (Dwarf_Unsigned i = 0; i < count; ++i) {
          unsigned length = 0, code = 0;
          Dwarf_Unsigned raw1, raw2, cooked1, cooked2;
          Dwarf_Bool unavailable = false;
          if (dwarf_get_rnglists_entry_fields_a(head, i, &length, &code, &raw1, &raw2, &unavailable, &cooked1,
                                                &cooked2, &err_) != DW_DLV_OK)
            break;
          if (code == DW_RLE_end_of_list) break;
          if (code == DW_RLE_base_address || code == DW_RLE_base_addressx || unavailable) continue;
          if (cooked2 > cooked1) out.push_back({cooked1, cooked2});
        }
        dwarf_dealloc_rnglists_head(head);
      }
    } else {
      Dwarf_Off off = 0, real = 0;
      dwarf_global_formref(attr, &off, &err_);
      Dwarf_Ranges* list = nullptr;
      Dwarf_Signed count = 0;
      Dwarf_Unsigned bytes = 0;
      if (dwarf_get_ranges_b(dbg_, off, die, &real, &list, &count, &bytes, &err_) == DW_DLV_OK) {
        uint64_t base = cuBase_;
        for (Dwarf_Signed i = 0; i < count; ++i) {
          if (list[i].dwr_type == DW_RANGES_END) break;
          if (list[i].dwr_type == DW_RANGES_ADDRESS_SELECTION) {
            base = list[i].dwr_addr2;
          } else if (list[i].dwr_addr2 > list[i].dwr_addr1) {
            out.push_back({base + list[i].dwr_addr1, base + list[i].dwr_addr2});
          }
        }
        dwarf_ranges_dealloc(dbg_, list, count);
      }
    }
    dwarf_dealloc_attribute(attr);
    return out;
  }

  std::string StringAttr(Dwarf_Die die, Dwarf_Half at) {
    Dwarf_Attribute attr = nullptr;
    std::string out;
    if (dwarf_attr(die, at, &attr, &err_) != DW_DLV_OK) return out;
    char* text = nullptr;
    if (dwarf_formstring(attr, &text, &err_) == DW_DLV_OK && text) out = text;
    dwarf_dealloc_attribute(attr);
    return out;
  }

  // The function's name: its linkage name (demangled), else its name,
  // following the entries an inlined or out-of-line definition points back to.
  std::string FunctionName(Dwarf_Die die, int depth = 0) {
    std::string linkage = StringAttr(die, DW_AT_linkage_name);
    if (linkage.empty()) linkage = StringAttr(die, DW_AT_MIPS_linkage_name);
    if (!linkage.empty()) return MapSymbolName(linkage, false);
    if (depth < 8) {
      for (Dwarf_Half at : {DW_AT_abstract_origin, DW_AT_specification}) {
        Dwarf_Attribute attr = nullptr;
        if (dwarf_attr(die, at, &attr, &err_) != DW_DLV_OK) continue;
        Dwarf_Off off = 0;
        const bool ok = dwarf_global_formref(attr, &off, &err_) == DW_DLV_OK;
        dwarf_dealloc_attribute(attr);
        Dwarf_Die target = nullptr;
        if (ok && dwarf_offdie_b(dbg_, off, 1, &target, &err_) == DW_DLV_OK) {
          std::string name = FunctionName(target, depth + 1);
          dwarf_dealloc_die(target);
          if (!name.empty()) return name;
        }
      }
    }
    return StringAttr(die, DW_AT_name);
  }

  // DW_AT_call_line (often an implicit constant in DWARF 5).
  int32_t CallLine(Dwarf_Die die) {
    Dwarf_Attribute* list = nullptr;
    Dwarf_Signed count = 0;
    int32_t line = 0;
    if (dwarf_attrlist(die, &list, &count, &err_) != DW_DLV_OK) return 0;
    for (Dwarf_Signed i = 0; i < count; ++i) {
      Dwarf_Half at = 0;
      if (line == 0 && dwarf_whatattr(list[i], &at, &err_) == DW_DLV_OK && at == DW_AT_call_line) {
        Dwarf_Unsigned v = 0;
        Dwarf_Signed sv = 0;
        if (dwarf_formudata(list[i], &v, &err_) == DW_DLV_OK) line = static_cast<int32_t>(v);
        else if (dwarf_formsdata(list[i], &sv, &err_) == DW_DLV_OK) line = static_cast<int32_t>(sv);  // implicit constant
      }
      dwarf_dealloc_attribute(list[i]);
    }
    dwarf_dealloc(dbg_, list, DW_DLA_LIST);
    return line;
  }

  // `inFunction`: 0 outside functions, 1 inside a function's own scope
  // (its inlined calls are the outermost ones), 2 inside an inlined call.
  void Walk(Dwarf_Die parent, size_t unit, std::vector<TFunction>& functions, int inFunction) {
    Dwarf_Die child = nullptr;
    if (dwarf_child(parent, &child, &err_) != DW_DLV_OK) return;
    while (child) {
      Dwarf_Half tag = 0;
      dwarf_tag(child, &tag, &err_);
      int nested = inFunction;
      if (tag == DW_TAG_subprogram) {
        const std::vector<TRange> ranges = Ranges(child);
        if (!ranges.empty()) {
          const std::string name = FunctionName(child);
          for (const TRange& r : ranges)
            functions.push_back({static_cast<uint32_t>(r.lo), static_cast<uint32_t>(r.hi), name, unit, true});
          nested = 1;
        }
      } else if (tag == DW_TAG_inlined_subroutine) {
        if (inFunction == 1) {
          const int32_t line = CallLine(child);
          for (const TRange& r : Ranges(child)) {
            inlined_.push_back({r.lo, r.hi, line});
          }
        }
        nested = 2;
      }
      if (tag == DW_TAG_subprogram || tag == DW_TAG_lexical_block || tag == DW_TAG_inlined_subroutine ||
          tag == DW_TAG_namespace || tag == DW_TAG_class_type || tag == DW_TAG_structure_type ||
          tag == DW_TAG_union_type)
        Walk(child, unit, functions, nested);
      Dwarf_Die next = nullptr;
      const int rc = dwarf_siblingof_b(dbg_, child, 1, &next, &err_);
      dwarf_dealloc_die(child);
      child = rc == DW_DLV_OK ? next : nullptr;
    }
  }

  // The unit's line rows, with the lines of code inlined into a function
  // replaced by the line of the outermost call (as a debugger's outermost
  // frame shows it).
  void ReadLines(Dwarf_Die cu, std::vector<TRow>& out) {
    Dwarf_Unsigned version = 0;
    Dwarf_Small tables = 0;
    Dwarf_Line_Context context = nullptr;
    if (dwarf_srclines_b(cu, &version, &tables, &context, &err_) != DW_DLV_OK) return;
    Dwarf_Line* lines = nullptr;
    Dwarf_Signed count = 0;
    std::vector<TRow> rows;
    if (dwarf_srclines_from_linecontext(context, &lines, &count, &err_) == DW_DLV_OK) {
      for (Dwarf_Signed i = 0; i < count; ++i) {
        Dwarf_Addr address = 0;
        Dwarf_Unsigned line = 0;
        Dwarf_Bool end = false;
        dwarf_lineaddr(lines[i], &address, &err_);
        dwarf_lineno(lines[i], &line, &err_);
        dwarf_lineendsequence(lines[i], &end, &err_);
        rows.push_back({address, end ? 0 : static_cast<int32_t>(line), static_cast<bool>(end)});
      }
    }
    dwarf_srclines_dealloc_b(context);
    // A row ends at the next row's address; of rows at one address, the last counts.
    std::stable_sort(rows.begin(), rows.end(), [](const TRow& a, const TRow& b) { return a.address < b.address; });
    std::vector<TRow> unique;
    for (const TRow& r : rows) {
      if (!unique.empty() && unique.back().address == r.address) {
        // An end of one sequence and the start of the next at one address: the start counts.
        if (!r.end || unique.back().end) unique.back() = r;
      } else {
        unique.push_back(r);
      }
    }
    std::sort(inlined_.begin(), inlined_.end(), [](const TInlined& a, const TInlined& b) { return a.lo < b.lo; });
    std::vector<uint64_t> points;
    for (const TRow& r : unique) points.push_back(r.address);
    for (const TInlined& r : inlined_) {
      points.push_back(r.lo);
      points.push_back(r.hi);
    }
    std::sort(points.begin(), points.end());
    points.erase(std::unique(points.begin(), points.end()), points.end());
    for (uint64_t a : points) {
      TRow row{a, 0, false};
      auto in = std::upper_bound(inlined_.begin(), inlined_.end(), a,
                                 [](uint64_t x, const TInlined& r) { return x < r.lo; });
      bool inside = false;
      // Ranges do not overlap within a function; look back a few for safety.
      for (auto it = in; it != inlined_.begin() && !inside;) {
        --it;
        if (a < it->hi) {
          row.line = it->callLine;
          inside = true;
        }
        if (in - it > 4) break;
      }
      if (!inside) {
        auto r = std::upper_bound(unique.begin(), unique.end(), a,
                                  [](uint64_t x, const TRow& t) { return x < t.address; });
        if (r == unique.begin() || (r - 1)->end) {
          row.end = true;
        } else {
          row.line = (r - 1)->line;
        }
      }
      out.push_back(row);
    }
  }

  Dwarf_Debug dbg_;
  Dwarf_Error err_ = nullptr;
  uint64_t cuBase_ = 0;
  std::vector<TInlined> inlined_;
};

}  // namespace

bool ExtractMapContents(const std::string& exe, TMapContents& contents, uint32_t& codeCrc, TDwarfMapStats& stats,
                        std::string& error) {
  std::ifstream in(exe, std::ios::binary);
  const std::string file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const auto* data = reinterpret_cast<const uint8_t*>(file.data());
  if (file.size() < 0x40 || file[0] != 'M' || file[1] != 'Z') {
    error = exe + ": not a PE image";
    return false;
  }
  const uint32_t pe = Dword(data + 0x3c);
  if (pe > file.size() || file.size() - pe < 24 + 96 || std::memcmp(data + pe, "PE\0\0", 4) != 0) {
    error = exe + ": not a PE image";
    return false;
  }
  const uint32_t imageBase = Dword(data + pe + 24 + 28);
  const TModuleBounds bounds = ReadModuleBounds(imageBase, data, file.size());
  if (!bounds.valid || bounds.topOfCode <= bounds.baseOfCode) {
    error = exe + ": no code section";
    return false;
  }
  // The code's fingerprint, and the size of the DWARF sections.
  const uint16_t sections = static_cast<uint16_t>(data[pe + 6] | data[pe + 7] << 8);
  const uint32_t table = pe + 24 + (data[pe + 20] | data[pe + 21] << 8);
  const uint32_t strings = Dword(data + pe + 12) + Dword(data + pe + 16) * 18;
  codeCrc = 0;
  for (uint16_t i = 0; i < sections && table + 40u * (i + 1) <= file.size(); ++i) {
    const uint8_t* s = data + table + 40 * i;
    const uint32_t raw = Dword(s + 16), ptr = Dword(s + 20);
    std::string name(reinterpret_cast<const char*>(s), strnlen(reinterpret_cast<const char*>(s), 8));
    if (name.size() > 1 && name[0] == '/' && strings < file.size())
      name = reinterpret_cast<const char*>(data + std::min<size_t>(strings + std::stoul(name.substr(1)), file.size() - 1));
    if (name.compare(0, 7, ".debug_") == 0) stats.dwarfBytes += raw;
    if ((Dword(s + 36) & 0x20) && uint64_t(ptr) + raw <= file.size())
      codeCrc = static_cast<uint32_t>(crc32(codeCrc, data + ptr, raw));
  }

  std::vector<std::string> units;
  std::vector<std::pair<TRange, size_t>> unitRanges;
  std::vector<TFunction> functions;
  std::vector<TRow> rows;
  Dwarf_Debug dbg = nullptr;
  Dwarf_Error err = nullptr;
  if (dwarf_init_path(exe.c_str(), nullptr, 0, DW_DLC_READ, DW_GROUPNUMBER_ANY, nullptr, nullptr, &dbg, nullptr, 0,
                      nullptr, &err) == DW_DLV_OK) {
    TDwarfReader reader(dbg);
    reader.Read(units, functions, rows);
    unitRanges = std::move(reader.unitRanges);
    dwarf_finish(dbg, &err);
  }
  stats.dwarfFunctions = functions.size();

  // Functions from the symbol table where DWARF describes no code.
  std::sort(functions.begin(), functions.end(),
            [](const TFunction& a, const TFunction& b) { return a.address < b.address; });
  const std::vector<TFunction> dwarfFunctions = functions;
  const size_t dwarfUnits = units.size();
  std::map<std::string, size_t> unitIndex;
  size_t fromSymbols = 0;
  for (TCoffFunction& f : ReadCoffFunctions(data, file.size())) {
    const uint32_t address = imageBase + f.rva;
    if (address < bounds.baseOfCode || address >= bounds.topOfCode) continue;
    auto d = std::upper_bound(dwarfFunctions.begin(), dwarfFunctions.end(), address,
                              [](uint32_t x, const TFunction& a) { return x < a.address; });
    if (d != dwarfFunctions.begin() && address < (d - 1)->end) continue;
    // Code the compiler made for a unit without describing it (thunks)
    // belongs to that unit.
    auto inUnit = std::find_if(unitRanges.begin(), unitRanges.end(), [address](const auto& r) {
      return address >= r.first.lo && address < r.first.hi;
    });
    if (inUnit != unitRanges.end()) {
      functions.push_back({address, address, MapSymbolName(f.symbol, true), inUnit->second, false});
      ++fromSymbols;
      continue;
    }
    auto u = unitIndex.find(f.unit);
    if (u == unitIndex.end()) {
      u = unitIndex.emplace(f.unit, units.size()).first;
      units.push_back(f.unit);
    }
    functions.push_back({address, address, MapSymbolName(f.symbol, true), u->second, false});
    ++fromSymbols;
  }
  std::stable_sort(functions.begin(), functions.end(),
                   [](const TFunction& a, const TFunction& b) { return a.address < b.address; });
  stats.symbolFunctions = fromSymbols;
  stats.units = units.size();

  // Publics; a symbol inside a DWARF function (a label, a cold part's own
  // symbol) is left out when DWARF named that code.
  std::vector<TFunction> kept;
  for (const TFunction& f : functions) {
    if (!kept.empty() && kept.back().address == f.address) {
      if (f.fromDwarf && !kept.back().fromDwarf) kept.back() = f;
      continue;
    }
    kept.push_back(f);
  }
  for (const TFunction& f : kept)
    contents.publics.push_back({f.name, f.address - bounds.baseOfCode});
  // Segments: runs of functions of one unit, each up to the next run.
  for (size_t i = 0; i < kept.size();) {
    size_t j = i + 1;
    while (j < kept.size() && units[kept[j].unit] == units[kept[i].unit]) ++j;
    const uint32_t end = j < kept.size() ? kept[j].address : bounds.topOfCode;
    TMapContents::Segment seg;
    seg.offset = kept[i].address - bounds.baseOfCode;
    seg.length = end - kept[i].address;
    seg.unit = units[kept[i].unit];
    seg.hasLines = kept[i].unit < dwarfUnits;
    contents.segments.push_back(seg);
    i = j;
  }
  // Lines: all units' rows by address; a row without a line ends a run.
  // Repeats are dropped only within a function, so that every function
  // starts with an entry of its own (a line counts only inside its unit).
  std::stable_sort(rows.begin(), rows.end(), [](const TRow& a, const TRow& b) { return a.address < b.address; });
  int32_t last = -1;
  size_t nextPublic = 0;
  for (const TRow& r : rows) {
    if (r.address < bounds.baseOfCode || r.address >= bounds.topOfCode) continue;
    const uint32_t offset = static_cast<uint32_t>(r.address - bounds.baseOfCode);
    while (nextPublic < contents.publics.size() && contents.publics[nextPublic].offset <= offset) {
      ++nextPublic;
      last = -1;
    }
    if (!contents.lines.empty() && contents.lines.back().offset == offset) {
      if (r.line != 0) contents.lines.back().line = r.line;
      last = contents.lines.back().line;
      continue;
    }
    if (r.line == last) continue;
    contents.lines.push_back({r.line, offset});
    last = r.line;
  }
  stats.lines = contents.lines.size();
  const uint32_t entry = Dword(data + pe + 24 + 16);
  if (entry) {
    contents.hasEntryPoint = true;
    contents.entryPoint = imageBase + entry - bounds.baseOfCode;
  }
  return true;
}

}  // namespace kestrix
