// Readable messages for operating-system exceptions that carry no exception
// object of the program's own.
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
// 0xC0000005.
std::string SystemExceptionMessage(uint32_t code, const std::string& accessViolationText);

}  // namespace kestrix
