// The function parser: areas parsed one after the other from the entry,
// each instruction's targets turned into new areas or recorded, case
// tables and exception constructs recognised on the way.
#include "debuginfo/parser/function_parser.h"

#include <algorithm>
#include <limits>

#include "debuginfo/decoder/decoder.h"

namespace kestrix::parser {
namespace {

using decoder::TDecodedInstruction;
using decoder::TInstructionInfo;

constexpr uint32_t kNone = std::numeric_limits<uint32_t>::max();
constexpr uint32_t kMaxTableEntries = 4096;
constexpr uint32_t kGapLimit = 1024;

bool IsReturn(uint16_t op) { return op == 0xC2 || op == 0xC3 || op == 0xCA || op == 0xCB || op == 0xCF; }
bool IsUnconditionalJump(const TDecodedInstruction& d) {
  const uint16_t op = d.info.opcode;
  return op == 0xE9 || op == 0xEA || op == 0xEB || (op == 0xFF && (d.reg == 4 || d.reg == 5));
}
bool HasTargetField(const TInstructionInfo& info) { return info.targetField != 0 || info.pointerField != 0; }

class Parser {
 public:
  Parser(uint32_t entry, const TParseContext& context) : c_(context), reader_(*context.reader) {
    f_.entryPoint = entry;
  }

  TFunctionInfo Run();

 private:
  // Areas stay sorted by begin.
  int Find(uint32_t begin) const {
    auto it = std::lower_bound(f_.CodeAreas.begin(), f_.CodeAreas.end(), begin,
                               [](const TCodeArea& a, uint32_t b) { return a.begin < b; });
    return (it != f_.CodeAreas.end() && it->begin == begin) ? static_cast<int>(it - f_.CodeAreas.begin()) : -1;
  }
  // The last area beginning at or before address.
  int Holding(uint32_t address) const {
    auto it = std::upper_bound(f_.CodeAreas.begin(), f_.CodeAreas.end(), address,
                               [](uint32_t b, const TCodeArea& a) { return b < a.begin; });
    return it == f_.CodeAreas.begin() ? -1 : static_cast<int>(it - f_.CodeAreas.begin()) - 1;
  }
  uint32_t NextBegin(uint32_t address) const {
    auto it = std::upper_bound(f_.CodeAreas.begin(), f_.CodeAreas.end(), address,
                               [](uint32_t b, const TCodeArea& a) { return b < a.begin; });
    return it == f_.CodeAreas.end() ? kNone : it->begin;
  }
  void Insert(const TCodeArea& area) {
    auto it = std::lower_bound(f_.CodeAreas.begin(), f_.CodeAreas.end(), area.begin,
                               [](const TCodeArea& a, uint32_t b) { return a.begin < b; });
    f_.CodeAreas.insert(it, area);
  }
  void Fail(uint32_t address) {
    if (failed_) return;
    failed_ = true;
    failAddress_ = address;
  }

  void AddArea(uint32_t begin, const RegisterState& state, uint32_t reachedFrom);
  void AddDataArea(uint32_t begin, uint32_t size, bool caseTable);
  bool ParseArea(uint32_t begin);
  void AddTarget(const TDecodedInstruction& d, const RegisterState& state, uint32_t areaBegin);
  void Record(const TInstructionInfo& info);
  void FollowCppHelper(uint32_t areaBegin, uint32_t callAddress);
  bool InCodeRange(uint32_t address) const {
    return !hasCodeRange_ || (address >= codeBegin_ && address < codeEnd_);
  }
  uint32_t Dword(uint32_t address, bool* ok) const {
    uint32_t v = 0;
    *ok = reader_.ReadDword(address, &v);
    return v;
  }
  bool RevisitUnknownTargets();
  bool ParseGap();
  void Finish();

  const TParseContext& c_;
  const decoder::MemoryReader& reader_;
  TFunctionInfo f_;
  bool failed_ = false;
  uint32_t failAddress_ = 0;
  bool hasCodeRange_ = false;
  uint32_t codeBegin_ = 0, codeEnd_ = 0;
};

void Parser::AddArea(uint32_t begin, const RegisterState& state, uint32_t reachedFrom) {
  if (begin == 0 || Find(begin) >= 0) return;
  const int h = Holding(begin);
  if (h >= 0) {
    TCodeArea& a = f_.CodeAreas[h];
    if (a.end != 0 && begin <= a.end) {
      if (a.IsData()) return Fail(begin);
      // Inside a parsed area: split it at an instruction boundary.
      uint32_t at = a.begin;
      while (at < begin) {
        TInstructionInfo info = decoder::DecodeInstruction(at, reader_, nullptr);
        if (!info.isValid) return Fail(info.end);
        at = info.end;
      }
      if (at != begin) return Fail(begin);
      TCodeArea tail = a;
      tail.begin = begin;
      tail.reachedFrom = reachedFrom;
      tail.caseTable = tail.exceptionTable = 0;
      a.end = begin - 1;
      Insert(tail);
      return;
    }
  }
  TCodeArea area;
  area.begin = begin;
  area.reachedFrom = reachedFrom;
  area.state = state;
  Insert(area);
}

void Parser::AddDataArea(uint32_t begin, uint32_t size, bool caseTable) {
  if (size == 0 || Find(begin) >= 0) return;
  TCodeArea area;
  area.begin = begin;
  area.end = begin + size - 1;
  area.caseTable = caseTable;
  area.exceptionTable = !caseTable;
  Insert(area);
}

void Parser::Record(const TInstructionInfo& info) {
  for (const TKnownTarget& k : f_.KnownTargets) {
    if (k.after == info.end) return;
  }
  TKnownTarget k{info.isCall, info.begin, info.end, info.target, info.isRelative, info.targetField,
                 info.pointerField};
  uint8_t first = 0;
  if (reader_.Read(info.target, &first, 1) && (first == 0xE9 || first == 0xEB || first == 0xFF)) {
    TInstructionInfo stub = decoder::DecodeInstruction(info.target, reader_, nullptr);
    const bool named = c_.environment != nullptr && c_.environment->IsNamedExport(info.target);
    if (stub.isValid && stub.target != 0 && (stub.isJump || stub.isCall) && !named) k.target = stub.target;
  }
  if (k.pointerField != 0) f_.copySize += 4;
  f_.KnownTargets.push_back(k);
}

void Parser::FollowCppHelper(uint32_t areaBegin, uint32_t callAddress) {
  // The last mov eax, imm32 before the call names the handler structure.
  uint32_t structure = 0;
  for (uint32_t at = areaBegin; at < callAddress;) {
    TDecodedInstruction d;
    decoder::Decode(at, reader_, nullptr, &d);
    if (!d.info.isValid) break;
    if (d.info.opcode == 0xB8 && d.immSize == 4) structure = d.imm;
    at = d.info.end;
  }
  if (structure == 0) return;
  uint16_t kind = 0;
  if (!reader_.Read(structure + 10, &kind, 2)) return;
  bool ok = false;
  if (kind == 0) {
    const uint32_t handler = Dword(structure + 12, &ok);
    if (ok) AddArea(handler, RegisterState{}, 0);
  } else if (kind == 1 || kind == 2) {
    const uint32_t handler = Dword(structure + 16, &ok);
    if (ok) AddArea(handler, RegisterState{}, 0);
  } else if (kind == 3) {
    const uint32_t list = Dword(structure + 12, &ok);
    if (!ok) return;
    for (uint32_t entry = list + 8, n = 0; n < kMaxTableEntries; entry += 20, ++n) {
      const uint32_t handler = Dword(entry, &ok);
      if (!ok || handler == 0) break;
      AddArea(handler, RegisterState{}, 0);
    }
  }
}

void Parser::AddTarget(const TDecodedInstruction& d, const RegisterState& state, uint32_t areaBegin) {
  const TInstructionInfo& info = d.info;
  if (!HasTargetField(info)) {
    for (const TUnknownTarget& u : f_.UnknownTargets) {
      if (u.instruction == info.begin) return;
    }
    f_.UnknownTargets.push_back({info.isCall, info.begin, info.end});
    return;
  }
  const TRuntimeRoutines& r = c_.routines;
  const uint32_t t = info.target;
  bool special = false;
  bool ok = false;
  if (t != 0 && t == r.handleAnyException) {
    AddArea(info.end, RegisterState{}, 0);
    special = true;
  } else if (t != 0 && t == r.handleFinally) {
    AddArea(info.end, RegisterState{}, 0);
    special = true;
    // The exit code: a jump back to s, with push imm32 right before s.
    TInstructionInfo back = decoder::DecodeInstruction(info.end, reader_, nullptr);
    if (back.isValid && back.isJump && back.isRelative && back.target < info.end && back.target >= 5 &&
        back.target >= f_.entryPoint - 0x10000) {
      uint8_t push = 0;
      if (reader_.Read(back.target - 5, &push, 1) && push == 0x68) {
        const uint32_t pushed = Dword(back.target - 4, &ok);
        if (ok) AddArea(pushed, RegisterState{}, 0);
      }
    }
  } else if (t != 0 && t == r.handleOnException) {
    special = true;
    const uint32_t count = Dword(info.end, &ok);
    if (ok && count < kMaxTableEntries) {
      AddDataArea(info.end, count * 8 + 4, false);
      for (uint32_t i = 0; i < count; ++i) {
        const uint32_t handler = Dword(info.end + 4 + 8 * i + 4, &ok);
        if (ok) AddArea(handler, RegisterState{}, 0);
      }
    }
  } else if (t != 0 && t == r.handleAutoException) {
    special = true;
  } else if (t != 0 && t == r.cppExceptionHelper) {
    special = true;
    FollowCppHelper(areaBegin, info.begin);
  }
  if (info.isCall || special || (info.targetSize == 4 && !InCodeRange(t))) {
    Record(info);
  } else if (t != 0) {
    AddArea(t, state, info.begin);
  }
  f_.UnknownTargets.erase(std::remove_if(f_.UnknownTargets.begin(), f_.UnknownTargets.end(),
                                         [&](const TUnknownTarget& u) { return u.instruction == info.begin; }),
                          f_.UnknownTargets.end());
}

bool Parser::ParseArea(uint32_t begin) {
  int index = Find(begin);
  if (index < 0) return false;
  RegisterState state = f_.CodeAreas[index].state;
  const RegisterState start = state;
  uint32_t address = begin;
  uint32_t pushed = 0;  // push imm32 followed by fs:
  bool afterCmp = false, afterJcc = false;
  uint32_t caseCount = 0, caseEntries = 0;
  int caseRegister = -1;
  for (;;) {
    const uint32_t next = NextBegin(address);
    TDecodedInstruction d;
    decoder::Decode(address, reader_, &state, &d);
    const TInstructionInfo& info = d.info;
    if (!info.isValid || info.end > next) {
      Fail(info.end);
      return false;
    }
    index = Holding(address);
    f_.CodeAreas[index].end = info.end - 1;
    const uint16_t op = info.opcode;

    // Exception frame set-up: push handler; push dword ptr fs:[reg] or fs:[0].
    if (pushed != 0) {
      const bool fsPush = d.bytes[0] == 0x64 && op == 0xFF;
      const bool viaRegister = fsPush && info.modRm >= 0x30 && info.modRm <= 0x37 && info.modRm != 0x34 &&
                               info.modRm != 0x35 && d.length == 3 && start.reg[info.modRm & 7] == 0;
      const bool viaZero = fsPush && info.modRm == 0x35 && d.length == 7 && d.disp == 0;
      if (viaRegister || viaZero) AddArea(pushed, RegisterState{}, 0);
      pushed = 0;
    }
    if (op == 0x68 && d.length == 5) {
      uint8_t following = 0;
      if (reader_.Read(info.end, &following, 1) && following == 0x64) pushed = d.imm;
    }
    // Case jump table: cmp reg, imm8; ja/jg or jnb/jge; jmp [reg*4+table]
    // with the table right after the jump.
    const bool wasCmp = afterCmp, wasJcc = afterJcc;
    afterCmp = afterJcc = false;
    bool caseJump = false;
    if (wasJcc && op == 0xFF && info.modRm == 0x24 && d.scale == 4 && d.base < 0 && d.index == caseRegister &&
        static_cast<uint32_t>(d.disp) == info.end && caseEntries > 0 && caseEntries <= kMaxTableEntries) {
      AddDataArea(info.end, caseEntries * 4, true);
      for (uint32_t i = 0; i < caseEntries; ++i) {
        bool ok = false;
        const uint32_t target = Dword(info.end + 4 * i, &ok);
        if (ok) AddArea(target, state, info.begin);
      }
      caseJump = true;
    }
    if (wasCmp) {
      if (op == 0x77 || op == 0x7F || op == 0x0F87 || op == 0x0F8F) {
        caseEntries = caseCount + 1;
        afterJcc = true;
      } else if (op == 0x73 || op == 0x7D || op == 0x0F83 || op == 0x0F8D) {
        caseEntries = caseCount;
        afterJcc = true;
      }
    }
    if (op == 0x83 && info.modRm >= 0xF8) {
      afterCmp = true;
      caseCount = d.imm & 0xFF;
      caseRegister = info.modRm & 7;
    }

    if ((info.isCall || info.isJump) && !caseJump) AddTarget(d, state, f_.CodeAreas[Holding(address)].begin);
    if (failed_) return false;

    if (IsReturn(op) || IsUnconditionalJump(d)) return true;
    if (info.isCall && info.target != 0 && info.target == c_.routines.halt0) return true;
    const int holding = Holding(address);
    if (!(state == f_.CodeAreas[holding].state)) {
      AddArea(info.end, state, 0);
      return !failed_;
    }
    if (info.end == NextBegin(address)) return true;
    address = info.end;
  }
}

bool Parser::RevisitUnknownTargets() {
  for (size_t i = f_.UnknownTargets.size(); i-- > 0;) {
    const TUnknownTarget u = f_.UnknownTargets[i];
    const int h = Holding(u.instruction);
    if (h < 0) continue;
    const TCodeArea& a = f_.CodeAreas[h];
    if (a.IsData() || a.end == 0 || u.instruction > a.end) continue;
    RegisterState state = a.state;
    TDecodedInstruction d;
    decoder::Decode(u.instruction, reader_, &state, &d);
    if (!d.info.isValid || !HasTargetField(d.info)) continue;
    const size_t before = f_.CodeAreas.size();
    AddTarget(d, state, a.begin);
    if (failed_) return false;
    if (f_.CodeAreas.size() != before) return true;
  }
  return false;
}

bool Parser::ParseGap() {
  bool jumpUnknown = false;
  for (const TUnknownTarget& u : f_.UnknownTargets) jumpUnknown |= !u.isCall;
  if (!jumpUnknown || f_.CodeAreas.empty()) return false;
  uint32_t runEnd = f_.CodeAreas[0].end;
  uint32_t highest = 0;
  for (size_t i = 0; i < f_.CodeAreas.size(); ++i) highest = std::max(highest, f_.CodeAreas[i].end);
  for (size_t i = 1; i < f_.CodeAreas.size() && f_.CodeAreas[i].begin == runEnd + 1; ++i) {
    runEnd = f_.CodeAreas[i].end;
  }
  const uint32_t gap = runEnd + 1;
  if (gap > highest || highest - gap >= kGapLimit) return false;
  AddArea(gap, RegisterState{}, 0);
  if (failed_ || Find(gap) < 0) return false;
  const TFunctionInfo saved = f_;
  if (!ParseArea(gap)) {
    f_ = saved;
    f_.CodeAreas.erase(f_.CodeAreas.begin() + Find(gap));
    failed_ = false;
    return false;
  }
  return true;
}

void Parser::Finish() {
  uint32_t lowest = kNone, highest = 0;
  for (const TCodeArea& a : f_.CodeAreas) {
    lowest = std::min(lowest, a.begin);
    highest = std::max(highest, a.end);
  }
  f_.isValid = 1;
  f_.codeBegin = lowest;
  f_.codeLength = highest - lowest + 1;
  f_.copySize += f_.codeLength + 4;

  // Interceptable: the first run of areas is longer than 5 bytes, and its
  // first 6 bytes hold no unresolved branch and no loop or jecxz.
  const int e = Find(f_.entryPoint);
  uint32_t runEnd = f_.CodeAreas[e].end;
  for (size_t i = e + 1; i < f_.CodeAreas.size(); ++i) {
    const TCodeArea& a = f_.CodeAreas[i];
    if (a.begin != runEnd + 1 || a.IsData() || a.reachedFrom != 0) break;
    runEnd = a.end;
  }
  bool interceptable = runEnd - f_.entryPoint + 1 > 5;
  for (uint32_t at = f_.entryPoint; interceptable && at < f_.entryPoint + 6;) {
    TInstructionInfo info = decoder::DecodeInstruction(at, reader_, nullptr);
    if (!info.isValid) break;
    if ((info.isCall || info.isJump) && !HasTargetField(info)) interceptable = false;
    if (info.opcode >= 0xE0 && info.opcode <= 0xE3) interceptable = false;
    at = info.end;
  }
  f_.interceptable = interceptable;
}

TFunctionInfo Parser::Run() {
  f_.reserved = 1;
  const CodeEnvironment* env = c_.environment;
  if (env != nullptr && !env->IsCommitted(f_.entryPoint)) {
    f_.lastErrorNumber = kErrorInvalidParameter;
    f_.lastErrorText = env->SystemErrorText(kErrorInvalidParameter);
    return f_;
  }
  hasCodeRange_ = env != nullptr && env->CodeRange(f_.entryPoint, &codeBegin_, &codeEnd_);
  AddArea(f_.entryPoint, RegisterState{}, 0);
  for (int rounds = 0; rounds < 100000 && !failed_; ++rounds) {
    auto open = std::find_if(f_.CodeAreas.begin(), f_.CodeAreas.end(), [](const TCodeArea& a) { return a.end == 0; });
    if (open != f_.CodeAreas.end()) {
      if (!ParseArea(open->begin)) break;
      continue;
    }
    if (RevisitUnknownTargets()) continue;
    if (failed_) break;
    if (ParseGap()) continue;
    break;
  }
  if (failed_) {
    TFunctionInfo bad;
    bad.entryPoint = f_.entryPoint;
    bad.reserved = 1;
    bad.lastErrorAddress = failAddress_;
    bad.lastErrorNumber = kErrorInvalidCode;
    bad.lastErrorText = "Invalid code!";
    return bad;
  }
  Finish();
  return f_;
}

}  // namespace

TFunctionInfo ParseFunctionCode(uint32_t entry, const TParseContext& context) {
  Parser parser(entry, context);
  return parser.Run();
}

}  // namespace kestrix::parser
