// The exception-address correction over a parsed function.
#include "debuginfo/parser/address_correction.h"

#include "debuginfo/decoder/decoder.h"

namespace kestrix::parser {
namespace {

// A place where execution can be: an instruction's begin (so also every
// return address and jump target inside the function).
bool IsCodePlace(const TFunctionInfo& f, uint32_t address, const decoder::MemoryReader& reader) {
  for (const TCodeArea& a : f.CodeAreas) {
    if (a.IsData() || address < a.begin || address > a.end) continue;
    for (uint32_t at = a.begin; at <= a.end;) {
      if (at == address) return true;
      const decoder::TInstructionInfo info = decoder::DecodeInstruction(at, reader, nullptr);
      if (!info.isValid) break;
      at = info.end;
    }
  }
  // Return addresses of calls, and targets of calls and jumps.
  for (const TKnownTarget& k : f.KnownTargets) {
    if (k.target == address || k.after == address) return true;
  }
  for (const TUnknownTarget& u : f.UnknownTargets) {
    if (u.after == address) return true;
  }
  return false;
}

}  // namespace

uint32_t CorrectExceptionAddress(uint32_t address, uint32_t functionEntry, const TParseContext& context) {
  if (address == 0 || functionEntry == 0 || context.reader == nullptr) return address;
  const TFunctionInfo f = ParseFunctionCode(functionEntry, context);
  if (!f.isValid) return address;
  const decoder::MemoryReader& reader = *context.reader;
  if (!IsCodePlace(f, address, reader) && IsCodePlace(f, address + 4, reader)) return address + 4;
  return address;
}

}  // namespace kestrix::parser
