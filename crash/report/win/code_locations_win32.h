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
  int32_t line = 0;       // source line; 0 unknown
  int32_t entryLine = 0;  // source line of the function's start; 0 unknown
};

// A provider of names and lines from the module's debug information: fills
// unit, function, entry and lines and returns true when the module carries
// usable debug information. Registered by the start-up; without one (or
// when it knows no function there, not even its entry) the module's symbol
// tables name the address.
using TNameLineProvider = bool (*)(uint32_t address, TCodeLocation& location);
void SetNameLineProvider(TNameLineProvider provider);

// `address` is an exact code address (a fault, a thread's instruction
// pointer); a return address is looked up one byte back by the caller, so
// that a call at the end of a function does not name the next one.
TCodeLocation DescribeCodeAddress(uint32_t address);

// The one-line text of a code address (FormatCodeLocation): address,
// offset in its function, module, unit, line, relative line, function.
std::string FormatCodeAddress(uint32_t address, bool showRelAddr, bool showRelLine);

// The same from the module's symbol tables only (export directory, COFF
// symbols), without asking the provider.
TCodeLocation DescribeFromModuleSymbols(uint32_t address);

// Reads memory of the own process; false instead of a fault.
bool SafeRead(const void* source, void* dest, size_t count);

// Code addresses of the frame chain from (eip, ebp), top first; needs no
// heap, so it may run while other threads are suspended.
int WalkFrameChain(uint32_t eip, uint32_t ebp, uint32_t* out, int max);

// True when the address lies in a module that carries the program's code
// (the executable or a module with the library's settings).
bool IsProgramCode(uint32_t address);


}  // namespace kestrix
