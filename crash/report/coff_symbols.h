// Function symbols from the COFF symbol table that mingw-w64 leaves in a
// PE file (unless stripped), with the source file each one comes from, and
// the names as reports show them.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrix {

struct TCoffFunction {
  uint32_t rva;          // relative to the image base
  std::string name;      // in the C++ name form (MapSymbolName)
  std::string unit;      // source file name without folder and extension
  std::string symbol;    // the symbol as the table has it
};

// The functions of a PE file's bytes, in table order. Reads nothing outside
// [data, data + size); a damaged or missing table gives what could be read.
std::vector<TCoffFunction> ReadCoffFunctions(const uint8_t* data, size_t size);

// "C:\src\unit.cpp" gives "unit".
std::string UnitNameOfFile(const std::string& path);

}  // namespace kestrix
