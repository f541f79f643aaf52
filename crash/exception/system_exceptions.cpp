#include "crash/exception/system_exceptions.h"

#include <cstdio>

namespace kestrix {
namespace {

struct TSystemCode {
  uint32_t code;
  const char* className;
  const char* message;
};

constexpr TSystemCode kCodes[] = {
    {0xC0000005, "EAccessViolation", nullptr},
    {0xC000008C, "ERangeError", "Range check error"},
    {0xC000008D, "EUnderflow", "Floating point underflow"},
    {0xC0000093, "EUnderflow", "Floating point underflow"},
    {0xC000008E, "EZeroDivide", "Floating point division by zero"},
    {0xC000008F, "EInvalidOp", "Invalid floating point operation"},
    {0xC0000090, "EInvalidOp", "Invalid floating point operation"},
    {0xC0000092, "EInvalidOp", "Invalid floating point operation"},
    {0xC0000091, "EOverflow", "Floating point overflow"},
    {0xC0000094, "EDivByZero", "Division by zero"},
    {0xC0000095, "EIntOverflow", "Integer overflow"},
    {0xC0000096, "EPrivilege", "Privileged instruction"},
    {0xC000001D, "EIllegalInstruction", "Illegal instruction"},
    {0x80000003, "EBreakpoint", "Breakpoint"},
    {0xC00000FD, "EStackOverflow", "Stack overflow"},
    {0xC000013A, "EControlC", "Control-C hit"},
    {0xC0000017, "EOutOfMemory", "Out of memory"},
    {0x80000001, "EExternalException", "Guard page violation"},
    {0x80000002, "EExternalException", "Datatype misalignment"},
    {0x80000004, "EExternalException", "Single step"},
    {0xC0000006, "EExternalException", "In-page error"},
    {0xC0000008, "EExternalException", "Invalid handle"},
    {0xC0000025, "EExternalException", "Noncontinuable exception"},
    {0xC0000026, "EExternalException", "Invalid exception disposition"},
    {0xC0000374, "EExternalException", "Heap corruption"},
    {0xC0000409, "EExternalException", "Stack buffer overrun"},
    {0xC0000417, "EExternalException", "Invalid C runtime parameter"},
};

const TSystemCode* Find(uint32_t code) {
  for (const auto& entry : kCodes)
    if (entry.code == code) return &entry;
  return nullptr;
}

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
  if (const TSystemCode* entry = Find(code)) return entry->message;
  char buf[40];
  std::snprintf(buf, sizeof buf, "External exception %x", static_cast<unsigned>(code));
  return buf;
}

const char* SystemExceptionClassName(uint32_t code) {
  const TSystemCode* entry = Find(code);
  return entry ? entry->className : "EExternalException";
}

}  // namespace kestrix
