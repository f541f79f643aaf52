// The disassembly listing of a parsed function for the bug report: labels,
// case and exception tables, separators, the line-number column, the crash
// marker and the line limit around the crash.
#pragma once

#include <string>

#include "debuginfo/decoder/formatter.h"
#include "debuginfo/parser/function_parser.h"

namespace kestrix::parser {

// Source lines of code addresses; 0 when unknown.
class LineSource {
 public:
  virtual ~LineSource() = default;
  virtual int LineAt(uint32_t address) const = 0;
};

// The class name of an exception table entry's class reference; empty when
// it cannot be read.
class ClassNames {
 public:
  virtual ~ClassNames() = default;
  virtual std::string ClassNameOf(uint32_t classReference) const = 0;
};

struct TListingContext {
  TParseContext parse;
  const decoder::SymbolSource* symbols = nullptr;
  const LineSource* lines = nullptr;  // none: no line-number column
  const ClassNames* classes = nullptr;
};

struct TListing {
  std::string text;  // lines joined by CR LF; empty when the parse failed
  TFunctionInfo info;
};

constexpr char kListingInternalError[] =
    "Internal error in ParseFunction while composing the disassembling string...  :-(";

TListing DisassembleFunction(uint32_t entry, uint32_t crashAddress, bool formatted, int lineLimit,
                             const TListingContext& context);

}  // namespace kestrix::parser
