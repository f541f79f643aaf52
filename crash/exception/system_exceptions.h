// Readable messages and exception classes for operating-system exceptions:
// one table, so that the same code gives the same class and message
// wherever it is caught.
#pragma once

#include <cstdint>
#include <string>

namespace kestrix {

// "$" and lower-case hexadecimal digits without leading zeros.
std::string DollarHex(uint32_t value);

// The access-violation text. moduleName empty: the faulting address lies in
// no module with a file name, and the short text is used.
std::string FormatAccessViolationText(uint32_t codeAddress, const std::string& moduleName, bool write,
                                      uint32_t dataAddress);

// The message for an exception code; accessViolationText is used for
// 0xC0000005. Unknown codes give "External exception <code in hex>".
std::string SystemExceptionMessage(uint32_t code, const std::string& accessViolationText);

// Class name of the C++ exception an exception code becomes
// ("EAccessViolation", "EDivByZero", ... "EExternalException").
const char* SystemExceptionClassName(uint32_t code);

// The exit code of a program that ends after reporting a crash: the
// operating-system exception's own code, as the system ends a process that
// dies of it; 3, as the C runtime's abnormal termination, for everything else
// (C++ exceptions, abort, terminate, run-time errors).
constexpr uint32_t kRuntimeErrorExitCode = 3;
inline uint32_t CrashExitCode(uint32_t systemCode) { return systemCode ? systemCode : kRuntimeErrorExitCode; }

}  // namespace kestrix
