// What decoding one instruction yields (TInstructionInfo), the register
// state that resolves register-held call and jump targets, and the details
// the formatter needs beyond them (TDecodedInstruction).
#pragma once

#include <cstdint>

namespace kestrix::decoder {

// All fields cleared before decoding.
struct TInstructionInfo {
  uint8_t isValid = 0;
  uint16_t opcode = 0;      // the opcode byte, or 0x0F00 + the second byte
  uint8_t modRm = 0;        // 0 when none
  uint8_t isCall = 0;
  uint8_t isJump = 0;
  uint8_t isRelative = 0;   // the target is given as a displacement
  uint32_t target = 0;      // 0 when unknown
  uint32_t targetField = 0; // address of the bytes that encode the target
  uint32_t pointerField = 0;  // address of the dword that holds the pointer's address
  uint32_t targetSize = 0;  // size of the field that holds the target
  uint8_t isNearJump = 0;   // relative branch other than loop/jecxz (0xE0-0xE3)
  uint32_t begin = 0;       // first prefix byte
  uint32_t end = 0;         // next instruction
};

// Registers in encoding order: eax, ecx, edx, ebx, esp, ebp, esi, edi.
// Each is 0 (unknown) or the address of a dword that holds its value.
struct RegisterState {
  uint32_t reg[8] = {};
  bool operator==(const RegisterState&) const = default;
};

enum TPrefix : uint8_t {
  kPrefixLock = 1,
  kPrefixRepne = 2,   // F2
  kPrefixRep = 4,     // F3
  kPrefixOpSize = 8,  // 66
  kPrefixAddrSize = 16,  // 67
};

constexpr int kMaxInstructionLength = 15;

// The full result of decoding, for the formatter and the tools.
struct TDecodedInstruction {
  TInstructionInfo info;
  uint16_t attributes = 0;  // after the group table
  uint8_t mnemonic = 0;
  uint8_t prefixes = 0;       // TPrefix bits
  uint8_t lastRepPrefix = 0;  // 0xF2 or 0xF3 when both occur: the last one
  int8_t segment = -1;        // override 0-5 (es, cs, ss, ds, fs, gs), or -1
  uint8_t length = 0;
  uint8_t opcodeOffset = 0;   // offset of the opcode (0x0F included)
  bool hasModRm = false;
  uint8_t mod = 0, reg = 0, rm = 0;
  int8_t base = -1, index = -1;  // 32-bit: register numbers; 16-bit: see kAddr16 bases
  uint8_t scale = 1;
  bool dispOnly = false;      // memory operand is a displacement alone
  uint8_t dispSize = 0, dispOffset = 0;
  int32_t disp = 0;           // sign-extended
  uint8_t immSize = 0, immOffset = 0;  // far pointers and enter: the whole field
  uint32_t imm = 0;           // 1- and 2-byte immediates sign-extended
  uint16_t imm2 = 0;          // far pointer segment, enter's level
  uint8_t bytes[16] = {};
};

}  // namespace kestrix::decoder
