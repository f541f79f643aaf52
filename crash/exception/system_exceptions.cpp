#include "crash/exception/system_exceptions.h"

#include <cstdio>

namespace kestrix {
namespace {

struct CodeMessage {
  uint32_t code;
  const char* message;
};

constexpr CodeMessage kMessages[] = {
    {0xC000008C, "Range check error"},
    {0xC000008D, "Floating point underflow"},
    {0xC0000093, "Floating point underflow"},
    {0xC000008E, "Floating point division by zero"},
    {0xC000008F, "Invalid floating point operation"},
    {0xC0000090, "Invalid floating point operation"},
    {0xC0000092, "Invalid floating point operation"},
    {0xC0000091, "Floating point overflow"},
    {0xC0000094, "Division by zero"},
    {0xC0000095, "Integer overflow"},
    {0xC0000096, "Privileged instruction"},
    {0xC00000FD, "Stack overflow"},
    {0xC000013A, "Control-C hit"},
};

// Fills the placeholders left to right, each value replacing the first
// remaining "%p" or "%s".
std::string Fill(std::string text, std::initializer_list<std::string> values) {
  size_t from = 0;
  for (const std::string& value : values) {
    const size_t p = text.find_first_of('%', from);
    if (p == std::string::npos || p + 1 >= text.size()) break;
    text.replace(p, 2, value);
    from = p + value.size();
  }
  return text;
}

}  // namespace

std::string DollarHex(uint32_t value) {
  char buf[12];
  std::snprintf(buf, sizeof buf, "$%x", static_cast<unsigned>(value));
  return buf;
}

std::string FormatAccessViolationText(uint32_t codeAddress, const std::string& moduleName, bool write,
                                      uint32_t dataAddress) {
  if (moduleName.empty()) return "Access Violation";
  return Fill("Access violation at address %p in module '%s'. %s of address %p",
              {DollarHex(codeAddress), moduleName, write ? "Write" : "Read", DollarHex(dataAddress)});
}

std::string SystemExceptionMessage(uint32_t code, const std::string& accessViolationText) {
  if (code == 0xC0000005) return accessViolationText;
  for (const auto& entry : kMessages)
    if (entry.code == code) return entry.message;
  char buf[40];
  std::snprintf(buf, sizeof buf, "External exception %x", static_cast<unsigned>(code));
  return buf;
}

}  // namespace kestrix
