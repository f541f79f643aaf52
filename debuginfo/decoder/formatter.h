// One instruction as a line of the disassembly listing: address, prefixes,
// mnemonic and operands, with call targets named and constant addresses
// annotated by the text they point to.
#pragma once

#include <cstdint>
#include <string>

#include "debuginfo/decoder/decoder.h"

namespace kestrix::decoder {

struct TModuleRange {
  uint32_t begin = 0;
  uint32_t end = 0;  // exclusive: the image's end
  bool isOwnModule = false;  // the library's own module
  std::string fileName;      // without folder
};

// Where names come from: the loaded modules, their exports and the debug
// information's procedure names.
class SymbolSource {
 public:
  virtual ~SymbolSource() = default;
  virtual bool ModuleOf(uint32_t address, TModuleRange* out) const = 0;
  // The export name at address, else the procedure name from the debug
  // information; empty when neither.
  virtual std::string NameAt(uint32_t address) const = 0;
};

struct TFormatContext {
  const MemoryReader* reader = nullptr;
  const SymbolSource* symbols = nullptr;  // none: no annotations
};

struct TFormattedInstruction {
  std::string text;  // "db" lines of an invalid instruction joined by CR LF
  TInstructionInfo info;
};

TFormattedInstruction FormatInstruction(uint32_t address, const TFormatContext& context,
                                        RegisterState* state = nullptr);

// The same from a decoded instruction (the formatter's own entry).
std::string FormatDecoded(const TDecodedInstruction& d, const TFormatContext& context);

// The mnemonic with the table's notations resolved; *repChoseName tells
// whether an F2 or F3 prefix chose it (then it is no "rep" prefix).
std::string ResolveMnemonic(const TDecodedInstruction& d);
std::string ResolveMnemonic(const TDecodedInstruction& d, bool* repChoseName);

// The name of a call or jump target (export, procedure, or the target of
// an import thunk or jump stub at the address); empty when none.
std::string TargetName(uint32_t address, const TFormatContext& context);

// The annotation for a constant address v used by the instruction at `at`:
// a function's name or the plain text v points to; empty text when none.
struct TStringData {
  std::string text;
  bool isName = false;
};
TStringData StringDataAt(uint32_t v, uint32_t at, bool isImmediate, const TFormatContext& context);

}  // namespace kestrix::decoder
