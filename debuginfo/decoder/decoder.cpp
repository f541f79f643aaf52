// The decoder: prefixes, opcode maps, ModR/M and SIB, displacement and
// immediate, the validity rules, targets and the register-state update.
#include "debuginfo/decoder/decoder.h"

#include <cstring>

#include "debuginfo/decoder/opcode_tables.h"

namespace kestrix::decoder {

const int8_t kAddr16Base[8] = {3, 3, 5, 5, -1, -1, 5, 3};
const int8_t kAddr16Index[8] = {6, 7, 6, 7, 6, 7, -1, -1};

namespace {

using namespace attr;

enum Reg { EAX, ECX, EDX, EBX, ESP, EBP, ESI, EDI };

// Prefix bytes: 0 none, 1-5 lock, F2, F3, 66, 67; 0x10 + n segment n.
constexpr auto kPrefixKind = [] {
  struct { uint8_t v[256] = {}; } t;
  t.v[0xF0] = 1;
  t.v[0xF2] = 2;
  t.v[0xF3] = 3;
  t.v[0x66] = 4;
  t.v[0x67] = 5;
  t.v[0x26] = 0x10;
  t.v[0x2E] = 0x11;
  t.v[0x36] = 0x12;
  t.v[0x3E] = 0x13;
  t.v[0x64] = 0x14;
  t.v[0x65] = 0x15;
  return t;
}();

inline uint32_t Le16(const uint8_t* p) { return p[0] | (p[1] << 8); }
inline uint32_t Le32(const uint8_t* p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool HasRep(const TDecodedInstruction& d) { return d.prefixes & kPrefixRep; }
bool HasRepne(const TDecodedInstruction& d) { return d.prefixes & kPrefixRepne; }
bool HasOpSize(const TDecodedInstruction& d) { return d.prefixes & kPrefixOpSize; }

// The validity table, beyond the 0xFFFF entries.
bool PassesValidity(const TDecodedInstruction& d) {
  const bool mem = d.hasModRm && d.mod != 3;
  const uint8_t reg = d.reg;
  const uint8_t modrm = d.info.modRm;
  switch (d.info.opcode) {
    case 0x62: case 0x8D: case 0xC4: case 0xC5:
      return mem;
    case 0x8C: case 0x8E:
      return reg < 6;
    case 0x8F: case 0xC6: case 0xC7:  // pop and mov with reg 0 only
      return reg == 0;
    case 0xD9:
      return mem || !((modrm >= 0xD1 && modrm <= 0xD7) || modrm == 0xE2 || modrm == 0xE3 || modrm == 0xE6 ||
                      modrm == 0xE7 || modrm == 0xEF);
    case 0xDA:
      return mem || !(modrm == 0xE8 || (modrm >= 0xEA && modrm <= 0xEF));
    case 0xDB:
      return mem || !(modrm >= 0xE5 && modrm <= 0xE7);
    case 0xDE:  // the register row of reg 3 holds fcompp alone
      return mem || reg != 3 || modrm == 0xD9;
    case 0xDF:
      return mem || !(modrm >= 0xE1 && modrm <= 0xE7);
    case 0xFE:
      return reg < 2;
    case 0xFF:
      return reg < 7 && (mem || (reg != 3 && reg != 5));
    case 0x0F00:
      return reg < 6;
    case 0x0F01:
      if (reg == 5) return false;
      if (reg <= 3 && !mem) {  // monitor, mwait, xgetbv, xsetbv
        return modrm == 0xC8 || modrm == 0xC9 || modrm == 0xD0 || modrm == 0xD1;
      }
      if (reg == 7 && !mem) return modrm == 0xF9;  // rdtscp
      return true;
    case 0x0F0D:
      return mem && reg < 2;
    case 0x0F0F:
      return ThreeDNowName(static_cast<uint8_t>(d.imm)) != nullptr;
    case 0x0F18:
      return mem && reg < 4;
    case 0x0F20: case 0x0F21: case 0x0F22: case 0x0F23:
      return !mem;
    case 0x0F6C: case 0x0F6D:
      return HasOpSize(d);
    case 0x0F71: case 0x0F72:
      return !mem && (reg == 2 || reg == 4 || reg == 6);
    case 0x0F73:
      return !mem && (reg == 2 || reg == 3 || reg == 6 || reg == 7);
    case 0x0F7C: case 0x0F7D: case 0x0FD0:
      return HasOpSize(d) || HasRepne(d);
    case 0x0FAE:
      return reg == 7 || (reg <= 3 && mem) || ((reg == 5 || reg == 6) && !mem);
    case 0x0FB2: case 0x0FB4: case 0x0FB5: case 0x0FC3:
      return mem;
    case 0x0FC7:  // cmpxchg8b; rdrand (/6), rdseed (/7), with F3 rdpid (/7)
      return mem || reg == 7 || (reg == 6 && !HasRep(d));
    case 0x0FB8:  // popcnt; jmpe is not an IA-32 instruction
      return HasRep(d);
    case 0x0FBA:
      return reg > 3;
    case 0x0FD6: case 0x0FE6:
      return HasOpSize(d) || HasRepne(d) || HasRep(d);
    case 0x0FF0:
      return HasRepne(d);
    default:
      return true;
  }
}

// The register written by a ModR/M operand, as a 32-bit register number.
int RegFieldRegister(const TDecodedInstruction& d) {
  return (d.attributes & kRegMask) == kReg8 ? (d.reg & 3) : d.reg;
}
int RmRegister(const TDecodedInstruction& d) {
  return (d.attributes & kModRmMask) == kM8 ? (d.rm & 3) : d.rm;
}

void UpdateRegisterState(const TDecodedInstruction& d, RegisterState& s) {
  const uint16_t op = d.info.opcode;
  const bool regForm = d.hasModRm && d.mod == 3;
  const uint32_t copied = (op == 0x8B && regForm) ? s.reg[d.rm] : 0;
  const int opReg = (d.attributes & kRegMask) == kOpReg8 && !d.hasModRm ? (op & 3) : (op & 7);
  switch (d.attributes >> kWriteShift) {
    case 1: s.reg[RegFieldRegister(d)] = 0; break;
    case 2: if (regForm) s.reg[RmRegister(d)] = 0; break;
    case 3: s.reg[opReg] = 0; break;
    case 4: s.reg[EAX] = 0; break;
    case 5: s.reg[RegFieldRegister(d)] = 0; if (regForm) s.reg[RmRegister(d)] = 0; break;
    case 6: s.reg[EAX] = 0; if (regForm) s.reg[RmRegister(d)] = 0; break;
    case 7: s.reg[EAX] = 0; s.reg[opReg] = 0; break;
    default: break;
  }
  if (op < 0x100 && (d.prefixes & (kPrefixRep | kPrefixRepne))) s.reg[ECX] = 0;
  const uint32_t immAddress = d.info.begin + d.immOffset;
  switch (op) {
    case 0x61: s = RegisterState{}; break;
    case 0xA4: case 0xA5: case 0xA6: case 0xA7: s.reg[ESI] = 0; s.reg[EDI] = 0; break;
    case 0xAA: case 0xAB: case 0xAE: case 0xAF: case 0x6C: case 0x6D: s.reg[EDI] = 0; break;
    case 0xAC: case 0xAD: case 0x6E: case 0x6F: s.reg[ESI] = 0; break;
    case 0x99: s.reg[EDX] = 0; break;
    case 0xC8: case 0xC9: s.reg[EBP] = 0; s.reg[ESP] = 0; break;
    case 0xE0: case 0xE1: case 0xE2: s.reg[ECX] = 0; break;
    case 0xF7: if (d.reg >= 4) s.reg[EDX] = 0; break;
    case 0xFE: case 0xFF:
      if (d.reg <= 1 && regForm) s.reg[RmRegister(d)] = 0;
      break;
    case 0x80: case 0x81: case 0x82: case 0x83:
      if (d.reg != 7 && regForm) s.reg[RmRegister(d)] = 0;
      break;
    case 0x8B:
      if (regForm && !HasOpSize(d)) s.reg[d.reg] = copied;
      break;
    case 0xB8: case 0xB9: case 0xBA: case 0xBB: case 0xBC: case 0xBD: case 0xBE: case 0xBF:
      if (!HasOpSize(d)) s.reg[op & 7] = immAddress;
      break;
    case 0xC7:
      if (regForm && !HasOpSize(d)) s.reg[d.rm] = immAddress;
      break;
    case 0x0F00: if (d.reg <= 1 && regForm) s.reg[d.rm] = 0; break;
    case 0x0F01:
      if (d.reg == 4 && regForm) s.reg[d.rm] = 0;
      if (d.info.modRm == 0xD0 || d.info.modRm == 0xF9) s.reg[EAX] = s.reg[EDX] = 0;
      if (d.info.modRm == 0xF9) s.reg[ECX] = 0;
      break;
    case 0x0FA2: s.reg[EAX] = s.reg[ECX] = s.reg[EDX] = s.reg[EBX] = 0; break;
    case 0x0F31: case 0x0F32: case 0x0F33: case 0x0FC7: s.reg[EDX] = 0; break;
    default: break;
  }
  // A called routine may change the caller-saved registers.
  if (d.info.isCall || op == 0xE8 || op == 0x9A || (op == 0xFF && (d.reg == 2 || d.reg == 3))) {
    s.reg[EAX] = s.reg[ECX] = s.reg[EDX] = 0;
  }
}

void FindTarget(TDecodedInstruction& d, const MemoryReader& reader, RegisterState* state) {
  TInstructionInfo& info = d.info;
  const uint16_t op = info.opcode;
  if (d.attributes & kRel) {
    info.isRelative = 1;
    info.target = info.end + d.imm;
    info.targetField = info.begin + d.immOffset;
    info.targetSize = d.immSize;
    if (op == 0xE8) {
      info.isCall = 1;
    } else {
      info.isJump = 1;
      info.isNearJump = !(op >= 0xE0 && op <= 0xE3);
    }
  } else if (op == 0x9A) {
    info.isCall = 1;
  } else if (op == 0xEA) {
    info.isJump = 1;
  } else if (op == 0xFF && d.reg >= 2 && d.reg <= 5) {
    info.isCall = d.reg <= 3;
    info.isJump = d.reg >= 4;
    if (d.mod != 3 && d.dispOnly && d.dispSize == 4) {
      info.pointerField = info.begin + d.dispOffset;
      info.targetField = static_cast<uint32_t>(d.disp);
      info.targetSize = 4;
      if (!reader.ReadDword(info.targetField, &info.target)) {
        info.isValid = 0;
        return;
      }
    } else if (state != nullptr) {
      if (d.mod == 3) {
        uint32_t field = state->reg[d.rm];
        uint32_t value = 0;
        if (field != 0 && reader.ReadDword(field, &value)) {
          info.targetField = field;
          info.target = value;
          info.targetSize = 4;
        }
      } else if (!(d.prefixes & kPrefixAddrSize) && d.index < 0 && d.dispSize == 0 && d.base >= 0 &&
                 state->reg[d.base] != 0) {
        uint32_t pointer = 0;
        if (reader.ReadDword(state->reg[d.base], &pointer)) {
          uint32_t value = 0;
          if (!reader.ReadDword(pointer, &value)) {
            info.isValid = 0;
            return;
          }
          info.pointerField = state->reg[d.base];
          info.targetField = pointer;
          info.target = value;
          info.targetSize = 4;
        }
      }
    }
  }
  if ((info.isCall || info.isJump) && info.target == info.end && (info.targetField || info.pointerField)) {
    info.isCall = info.isJump = info.isRelative = info.isNearJump = 0;
    info.target = info.targetField = info.pointerField = info.targetSize = 0;
  }
}

bool Invalid(TDecodedInstruction& d) {
  TInstructionInfo& info = d.info;
  const TInstructionInfo kept = info;
  info = TInstructionInfo{};
  info.begin = kept.begin;
  info.end = kept.begin + 1;
  info.opcode = kept.opcode;
  info.modRm = kept.modRm;
  return false;
}

}  // namespace

bool Decode(uint32_t address, const MemoryReader& reader, RegisterState* state, TDecodedInstruction* out) {
  TDecodedInstruction& d = *out;
  d = TDecodedInstruction{};
  d.info.begin = address;
  uint8_t scratch[kMaxInstructionLength];
  const uint8_t* p = nullptr;
  const uint32_t n = reader.Fetch(address, scratch, kMaxInstructionLength, &p);
  if (n == 0) return Invalid(d);
  std::memcpy(d.bytes, p, n);

  uint32_t i = 0;
  uint8_t b;
  for (;;) {
    if (i >= n) return Invalid(d);
    b = p[i];
    const uint8_t kind = kPrefixKind.v[b];
    if (kind == 0) break;
    switch (kind) {
      case 1: d.prefixes |= kPrefixLock; break;
      case 2: d.prefixes |= kPrefixRepne; d.lastRepPrefix = 0xF2; break;
      case 3: d.prefixes |= kPrefixRep; d.lastRepPrefix = 0xF3; break;
      case 4: d.prefixes |= kPrefixOpSize; break;
      case 5: d.prefixes |= kPrefixAddrSize; break;
      default: d.segment = static_cast<int8_t>(kind - 0x10); break;
    }
    ++i;
  }
  const bool opSize16 = d.prefixes & kPrefixOpSize;
  const bool addr16 = d.prefixes & kPrefixAddrSize;

  d.opcodeOffset = static_cast<uint8_t>(i);
  TOpcodeEntry entry;
  if (b == 0x0F) {
    if (i + 1 >= n) return Invalid(d);
    const uint8_t b2 = p[i + 1];
    entry = kTwoByteMap[b2];
    d.info.opcode = static_cast<uint16_t>(0x0F00 | b2);
    i += 2;
  } else {
    entry = kOneByteMap[b];
    d.info.opcode = b;
    i += 1;
  }
  uint16_t a = entry.attributes;
  if (a == kInvalid) return Invalid(d);
  d.mnemonic = entry.mnemonic;

  if (a & kModRmMask) {
    if (i >= n) return Invalid(d);
    const uint8_t modrm = p[i++];
    d.hasModRm = true;
    d.info.modRm = modrm;
    d.mod = modrm >> 6;
    d.reg = (modrm >> 3) & 7;
    d.rm = modrm & 7;
    // Moves to and from control and debug registers ignore the mod bits:
    // always the register form.
    if (d.info.opcode >= 0x0F20 && d.info.opcode <= 0x0F23) d.mod = 3;
    if (d.mod != 3) {
      if (addr16) {
        if (d.mod == 0 && d.rm == 6) {
          d.dispOnly = true;
          d.dispSize = 2;
        } else {
          d.base = kAddr16Base[d.rm];
          d.index = kAddr16Index[d.rm];
          d.dispSize = d.mod == 1 ? 1 : d.mod == 2 ? 2 : 0;
        }
      } else {
        if (d.rm == 4) {
          if (i >= n) return Invalid(d);
          const uint8_t sib = p[i++];
          d.scale = static_cast<uint8_t>(1 << (sib >> 6));
          const int idx = (sib >> 3) & 7;
          d.index = static_cast<int8_t>(idx == 4 ? -1 : idx);
          const int base = sib & 7;
          if (base == 5 && d.mod == 0) {
            d.dispSize = 4;
            d.dispOnly = d.index < 0;
          } else {
            d.base = static_cast<int8_t>(base);
          }
        } else if (d.mod == 0 && d.rm == 5) {
          d.dispOnly = true;
          d.dispSize = 4;
        } else {
          d.base = static_cast<int8_t>(d.rm);
        }
        if (d.mod == 1) d.dispSize = 1;
        if (d.mod == 2) d.dispSize = 4;
      }
    }
    if ((a & kModRmMask) == kGroup) {
      a = kGroupTable[GroupRow(b)][(d.mod == 3 ? 8 : 0) + d.reg];
      if (a == kInvalid) return Invalid(d);
    }
    // The register forms of 0F C7 (rdrand, rdseed, rdpid) write a general
    // register.
    if (d.info.opcode == 0x0FC7 && d.mod == 3) a = kM32 | kRmSized | kWRm;
    if (d.dispSize) {
      if (i + d.dispSize > n) return Invalid(d);
      d.dispOffset = static_cast<uint8_t>(i);
      d.disp = d.dispSize == 1 ? static_cast<int8_t>(p[i])
               : d.dispSize == 2 ? static_cast<int16_t>(Le16(p + i))
                                 : static_cast<int32_t>(Le32(p + i));
      i += d.dispSize;
    }
  }
  d.attributes = a;

  uint32_t immSize;
  switch ((a & kImmMask) >> 10) {
    case 1: immSize = 1; break;
    case 2: immSize = 2; break;
    case 3: immSize = opSize16 ? 2 : 4; break;
    default:
      immSize = 0;
      if (d.info.opcode == 0x9A || d.info.opcode == 0xEA) immSize = opSize16 ? 4 : 6;
      else if (d.info.opcode >= 0xA0 && d.info.opcode <= 0xA3) immSize = addr16 ? 2 : 4;
      else if (d.info.opcode == 0xC8) immSize = 3;
      break;
  }
  if (immSize) {
    if (i + immSize > n) return Invalid(d);
    d.immOffset = static_cast<uint8_t>(i);
    d.immSize = static_cast<uint8_t>(immSize);
    const uint8_t* q = p + i;
    switch (immSize) {
      case 1: d.imm = static_cast<uint32_t>(static_cast<int8_t>(q[0])); break;
      case 2: d.imm = static_cast<uint32_t>(static_cast<int16_t>(Le16(q))); break;
      case 3: d.imm = Le16(q); d.imm2 = q[2]; break;
      case 4:
        if (d.info.opcode == 0x9A || d.info.opcode == 0xEA) {
          d.imm = Le16(q);
          d.imm2 = static_cast<uint16_t>(Le16(q + 2));
        } else {
          d.imm = Le32(q);
        }
        break;
      default: d.imm = Le32(q); d.imm2 = static_cast<uint16_t>(Le16(q + 4)); break;
    }
    i += immSize;
  }
  d.length = static_cast<uint8_t>(i);
  d.info.end = address + i;
  d.info.isValid = 1;
  if (!PassesValidity(d)) return Invalid(d);

  FindTarget(d, reader, state);
  if (!d.info.isValid) return Invalid(d);
  if (state != nullptr) UpdateRegisterState(d, *state);
  return true;
}

TInstructionInfo DecodeInstruction(uint32_t address, const MemoryReader& reader, RegisterState* state) {
  TDecodedInstruction d;
  Decode(address, reader, state, &d);
  return d.info;
}

}  // namespace kestrix::decoder
