// Code addresses in words: module, unit and function of an address from the
// symbol tables a module carries (the COFF symbol table of its file, else
// its export directory), and the frame-pointer walk of a thread's stack.
// The debug-information map replaces the symbol tables where a module
// carries one.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

namespace kestrix {

struct TCodeLocation {
  std::string module;    // file name without directory
  std::string unit;      // source file name without extension
  std::string function;  // "a.b" for a::b
  uint32_t entry = 0;    // function's start address; 0 unknown
  bool inModule = false;
};

TCodeLocation DescribeCodeAddress(uint32_t address);

// Reads memory of the own process; false instead of a fault.
bool SafeRead(const void* source, void* dest, size_t count);

// Code addresses of the frame chain from (eip, ebp), top first; needs no
// heap, so it may run while other threads are suspended.
int WalkFrameChain(uint32_t eip, uint32_t ebp, uint32_t* out, int max);

// True when the address lies in a module that carries the program's code
// (the executable or a module with the library's settings).
bool IsProgramCode(uint32_t address);


}  // namespace kestrix
