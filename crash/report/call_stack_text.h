// The call-stack text of a thread section: one aligned line per printed
// call level, and the two call-stack checksums.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrix {

// One call level as the tracer leaves it, top first.
struct TCallStackEntry {
  uint32_t finalAddr = 0;
  uint32_t functionEntry = 0;  // 0 when unknown
  std::string module;          // file name without directory
  std::string unit;
  int32_t line = 0;     // the relative line when one was computed, else the line
  int32_t absLine = 0;  // the source line
  std::string function;
  bool removed = false;
  bool isTop = false;
};

struct TCallStackOptions {
  bool hideUglyItems = false;
  bool showRelAddrs = true;
  bool showRelLines = true;
  bool hasCreator = false;
};

struct TCallStackText {
  std::string text;  // lines joined by CR LF, no leading or trailing break
  uint32_t checksum1 = 0;
  uint32_t checksum2 = 0;
  bool hasLines = false;       // a printed entry has a line above 0
  uint32_t functionEntry = 0;  // the crash's function, for the disassembly
  uint32_t codeAddress = 0;
  int printed = 0;
};

// The table-driven CRC-32 step (reflected polynomial 0xEDB88320) without
// initial or final inversion.
uint32_t CrcStep(uint32_t value, const void* data, size_t size);
uint32_t CrcStepText(uint32_t value, const std::string& text);
uint32_t CrcStepDword(uint32_t value, uint32_t dword);

// printed, when given, receives the index of each printed entry.
TCallStackText ComposeCallStack(const std::vector<TCallStackEntry>& entries,
                                const TCallStackOptions& options, std::vector<int>* printed = nullptr);

// What is known of one code address, for FormatCodeLocation.
struct TLocationFacts {
  bool described = false;  // the address lies in a module with a name for it
  uint32_t entry = 0;      // the function's entry, 0 when unknown
  std::string module, unit, function;
  int32_t line = 0;       // 0 when unknown
  int32_t firstLine = 0;  // the line at the function's entry, 0 when unknown
};

// The one-line text of a single address: "0040123a +1a quorrin.exe Unit1 35 +2 TForm1.Click".
std::string FormatCodeLocation(uint32_t address, const TLocationFacts& facts, bool showRelAddr, bool showRelLine);

// "$" + 8 hexadecimal digits of each checksum, joined by ", " (31 characters).
std::string CallstackCrcText(uint32_t first, uint32_t second, uint32_t allThreads);

}  // namespace kestrix
