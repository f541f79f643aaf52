// Following the code flow of a whole function from its entry: code areas,
// case jump tables, the runtime's exception-handling constructs, and the
// outgoing calls and jumps.
#pragma once

#include <string>

#include "debuginfo/decoder/memory_reader.h"
#include "debuginfo/parser/function_info.h"

namespace kestrix::parser {

// The runtime routines whose calls the parser follows specially; 0 = none.
struct TRuntimeRoutines {
  uint32_t handleAnyException = 0;   // try/except
  uint32_t halt0 = 0;                // program halt: nothing follows its call
  uint32_t handleFinally = 0;        // try/finally
  uint32_t handleAutoException = 0;  // safecall
  uint32_t handleOnException = 0;    // on/do exception lists
  uint32_t cppExceptionHelper = 0;   // the C++ exception helper the library knows
};

// What the parser needs to know about the memory around the function.
class CodeEnvironment {
 public:
  virtual ~CodeEnvironment() = default;
  virtual bool IsCommitted(uint32_t address) const = 0;
  // The code range of the module holding address ([begin, end)); false
  // when none is known.
  virtual bool CodeRange(uint32_t address, uint32_t* begin, uint32_t* end) const = 0;
  virtual bool IsNamedExport(uint32_t address) const = 0;
  virtual std::string SystemErrorText(uint32_t error) const = 0;
};

struct TParseContext {
  const decoder::MemoryReader* reader = nullptr;
  const CodeEnvironment* environment = nullptr;
  TRuntimeRoutines routines;
};

TFunctionInfo ParseFunctionCode(uint32_t entry, const TParseContext& context);

}  // namespace kestrix::parser
