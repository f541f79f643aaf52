// The bug report's text layout: the aligned header, the sections, and the
// texts of the "cpu registers" and "stack dump" sections.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrix {

using TFieldList = std::vector<std::pair<std::string, std::string>>;

// Leading and trailing spaces and control characters removed (how header
// values and section contents are stored).
std::string TrimReportValue(std::string_view value);
// Replaces every run of two or more spaces by one space.
std::string CollapseSpaces(std::string_view text);
// The exception message as the header shows it: control characters other
// than CR and LF removed, trimmed, "Unknown" when empty, trailing "." and "!"
// replaced by exactly one ".", line breaks turned into spaces.
std::string NormalizeExceptionMessage(std::string_view message);

// Header lines: names padded to the longest name, ": ", the value on one
// line. Then each section: an empty line, the title with ":", and its lines
// ("." for an empty line). No line break after the last line.
std::string FormatReportText(const TFieldList& header, const TFieldList& sections);

struct TCpuRegisters {
  uint32_t eax, ebx, ecx, edx, esi, edi, eip, esp, ebp;
};
std::string CpuRegistersText(const TCpuRegisters& regs);

// Up to 20 lines of 16 bytes from address on; bytes holds what is readable
// there (the rest of the memory region, at most 320 bytes are used).
std::string StackDumpText(uint32_t address, std::string_view bytes);

}  // namespace kestrix
