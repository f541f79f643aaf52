// Correcting an exception address by the code of its function: an address
// that is no instruction boundary, return address or jump target, while
// the address 4 bytes further is, moves forward by 4.
#pragma once

#include "debuginfo/parser/function_parser.h"

namespace kestrix::parser {

uint32_t CorrectExceptionAddress(uint32_t address, uint32_t functionEntry, const TParseContext& context);

}  // namespace kestrix::parser
