// The parser and the listing over the own process: guarded reads, module
// headers and exports, names from the modules' symbol tables; the report
// services built on them.
#pragma once

#include <cstdint>
#include <string>

#include "debuginfo/parser/function_parser.h"

namespace kestrix::parser {

// Where the listing's line-number column comes from: the source line of a
// code address, 0 when unknown. None: no line-number column.
using TOwnLineLookup = int (*)(uint32_t address);
void SetOwnLineLookup(TOwnLineLookup lookup);

// The runtime routines the parser follows specially, for the module holding
// a code address (from its debug-information map); none by default.
using TOwnRoutinesLookup = TRuntimeRoutines (*)(uint32_t address);
void SetOwnRoutinesLookup(TOwnRoutinesLookup lookup);

// Whether the address lies in committed memory of the own process.
bool IsCommittedAddress(uint32_t address);
// The system's text of an error number, without the line break.
std::string SystemErrorMessage(uint32_t error);

// The disassembly section's text: the listing of the function at entry
// around crashAddress (the settings FormatDisAsm and LimitDisAsm).
std::string DisassembleOwnFunction(uint32_t entry, uint32_t crashAddress, bool formatted, int lineLimit);

// The exception address corrected by its function's code (known from the
// module's symbols); unchanged when the function is unknown.
uint32_t CorrectOwnExceptionAddress(uint32_t address);

// Whether the code at entry parses as a function.
bool ParsesAsOwnFunction(uint32_t entry);

}  // namespace kestrix::parser
