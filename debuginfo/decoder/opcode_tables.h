// The read-only tables of the x86 decoder: the one-byte and two-byte opcode
// maps (mnemonic index and attribute word per opcode), the group table of
// 0xF6, 0xF7 and the x87 escapes 0xD8-0xDF, the mnemonic text, the 3DNow!
// suffix names and the register names. The decoder and the formatter read
// them; nothing here has behaviour.
#pragma once

#include <cstdint>

namespace kestrix::decoder {

// Attribute word layout.
namespace attr {
// Bits 0-2: register operand class. With a ModR/M byte:
constexpr uint16_t kReg8 = 1;      // 8-bit register from the reg field
constexpr uint16_t kReg16 = 2;     // 16-bit register from the reg field
constexpr uint16_t kRegSpecial = 3;  // segment (0x8C/0x8E), control (0F 20/22) or debug register
constexpr uint16_t kReg32 = 4;     // 32-bit register (16-bit with bit 6 and 0x66)
constexpr uint16_t kRegMmx = 5;    // MMX register (XMM with bit 6 and 0x66)
constexpr uint16_t kRegSt = 6;     // x87 st(0)
constexpr uint16_t kRegXmm = 7;    // XMM register
// Without a ModR/M byte (implicit operands):
constexpr uint16_t kAl = 1;
constexpr uint16_t kEax = 2;
constexpr uint16_t kOpReg8 = 4;    // 8-bit register from the opcode's low 3 bits
constexpr uint16_t kOpReg32 = 5;   // 32-bit register from the opcode's low 3 bits
constexpr uint16_t kEaxOpReg = 6;  // eax and the register from the opcode
constexpr uint16_t kAccDx = 7;     // al or eax (opcode bit 0) and dx
constexpr uint16_t kRegMask = 7;
// Bits 3-5: the ModR/M operand.
constexpr uint16_t kGroup = 1 << 3;
constexpr uint16_t kM8 = 2 << 3;
constexpr uint16_t kM16 = 3 << 3;
constexpr uint16_t kM32 = 4 << 3;
constexpr uint16_t kM64 = 5 << 3;
constexpr uint16_t kM80 = 6 << 3;
constexpr uint16_t kM128 = 7 << 3;
constexpr uint16_t kModRmMask = 7 << 3;
constexpr uint16_t kRegSized = 1 << 6;  // register operand sized by 0x66
constexpr uint16_t kRmSized = 1 << 7;   // ModR/M operand sized by 0x66
constexpr uint16_t kPtr = 1 << 8;       // memory operand with size keyword
constexpr uint16_t kRmFirst = 1 << 9;   // ModR/M (or, without one, the immediate) first
// Bits 10-11: immediate.
constexpr uint16_t kImm8 = 1 << 10;
constexpr uint16_t kImm16 = 2 << 10;
constexpr uint16_t kImmV = 3 << 10;     // 2 or 4 bytes by operand size
constexpr uint16_t kImmMask = 3 << 10;
constexpr uint16_t kRel = 1 << 12;      // the immediate is a relative branch target
// Bits 13-15: general registers written.
constexpr uint16_t kWReg = 1 << 13;
constexpr uint16_t kWRm = 2 << 13;
constexpr uint16_t kWOp = 3 << 13;
constexpr uint16_t kWEax = 4 << 13;
constexpr uint16_t kWRegRm = 5 << 13;
constexpr uint16_t kWEaxRm = 6 << 13;
constexpr uint16_t kWEaxOp = 7 << 13;
constexpr uint16_t kWriteShift = 13;
constexpr uint16_t kInvalid = 0xFFFF;
}  // namespace attr

struct TOpcodeEntry {
  uint8_t mnemonic;     // index into the mnemonic text, from 1; 0 = none
  uint16_t attributes;
};

extern const TOpcodeEntry kOneByteMap[256];
extern const TOpcodeEntry kTwoByteMap[256];

// Rows: 0xF6, 0xF7, 0xD8 ... 0xDF. Columns 0-7: memory forms by reg field;
// 8-15: register forms by reg field.
extern const uint16_t kGroupTable[10][16];
int GroupRow(uint8_t opcode);  // -1 for opcodes without a row

// The mnemonic text: names separated by zero bytes, index 1 first.
extern const char* const kMnemonicText;
const char* Mnemonic(uint8_t index);  // "" for 0 or an index past the end
int MnemonicCount();

// 3DNow! (0F 0F ModR/M suffix): the name of a suffix byte, or nullptr.
const char* ThreeDNowName(uint8_t suffix);

extern const char* const kConditionNames[16];
extern const char* const kReg8Names[8];
extern const char* const kReg16Names[8];
extern const char* const kReg32Names[8];
extern const char* const kSegmentNames[8];  // 6 and 7 are empty

}  // namespace kestrix::decoder
