// The request record that travels through the handling pipe.
#pragma once

#include <cstdint>

namespace kestrix {

// The record written into the handling pipe: 14 little-endian 32-bit words.
struct TExceptionRequest {
  uint32_t event;          // completion event handle; 0 ends the handling thread
  uint32_t threadId;       // calling thread
  uint32_t type;           // exception type (byte, padded)
  uint32_t object;         // exception object
  uint32_t address;        // exception address
  uint32_t canContinue;    // flag (byte, padded)
  uint32_t stackPointer;   // at the point of capture
  uint32_t framePointer;   // at the point of capture
  uint32_t context;        // CPU context record or 0
  uint32_t reportVar;      // text that receives the report, or 0
  uint32_t source;         // exception source (byte, padded)
  uint32_t related;        // sender or thread object
  uint32_t package;        // package handle
  uint32_t preparedStack;  // prepared-stack marker
};
static_assert(sizeof(TExceptionRequest) == 56, "the handling request is 56 bytes");

}  // namespace kestrix
