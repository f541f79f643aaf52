// Decoding one 32-bit x86 instruction from a memory reader: length,
// validity, prefixes, operands, and for calls and jumps the target, with
// register-held targets resolved through an optional register state that
// the instruction then updates.
#pragma once

#include "debuginfo/decoder/instruction_info.h"
#include "debuginfo/decoder/memory_reader.h"

namespace kestrix::decoder {

// Never faults: unreadable code is an invalid instruction. An invalid
// instruction ends one byte after its first (info.end).
TInstructionInfo DecodeInstruction(uint32_t address, const MemoryReader& reader, RegisterState* state = nullptr);

// The same, with everything the formatter needs. Returns info.isValid.
bool Decode(uint32_t address, const MemoryReader& reader, RegisterState* state, TDecodedInstruction* out);

// The address-register pairs of 16-bit addressing by r/m (-1: none), in
// 32-bit register numbers (bx = 3, bp = 5, si = 6, di = 7).
extern const int8_t kAddr16Base[8];
extern const int8_t kAddr16Index[8];

}  // namespace kestrix::decoder
