// What parsing a function yields (TFunctionInfo): its code and data areas,
// its outgoing calls and jumps, and whether its first bytes can be
// overwritten safely.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "debuginfo/decoder/instruction_info.h"

namespace kestrix::parser {

using decoder::RegisterState;

struct TCodeArea {
  uint32_t begin = 0;
  uint32_t end = 0;  // inclusive; 0 while not yet parsed
  uint8_t caseTable = 0;
  uint8_t exceptionTable = 0;
  uint32_t reachedFrom = 0;  // the jump that leads here, or 0
  RegisterState state;       // at the area's start
  bool IsData() const { return caseTable || exceptionTable; }
};

struct TKnownTarget {
  uint8_t isCall = 0;
  uint32_t instruction = 0;
  uint32_t after = 0;  // address after the instruction
  uint32_t target = 0;
  uint8_t isRelative = 0;
  uint32_t targetField = 0;
  uint32_t pointerField = 0;
};

struct TUnknownTarget {
  uint8_t isCall = 0;
  uint32_t instruction = 0;
  uint32_t after = 0;
};

struct TFunctionInfo {
  uint8_t isValid = 0;
  uint32_t entryPoint = 0;
  uint32_t codeBegin = 0;
  uint32_t codeLength = 0;
  uint32_t lastErrorAddress = 0;
  uint32_t lastErrorNumber = 0;
  std::string lastErrorText;
  std::vector<TCodeArea> CodeAreas;  // in address order
  std::vector<TKnownTarget> KnownTargets;
  std::vector<TUnknownTarget> UnknownTargets;
  uint8_t interceptable = 0;
  uint8_t reserved = 0;
  uint32_t copySize = 0;
};

constexpr uint32_t kErrorInvalidParameter = 87;
constexpr uint32_t kErrorInvalidCode = 0x770001;

}  // namespace kestrix::parser
