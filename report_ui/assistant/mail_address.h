// The contact page's check of a mail address.
#pragma once

#include <string>

namespace kestrix {

// Accepts "name@host.domain" made of letters, digits, "+", "-", "_" and "."
// with exactly one "@" that is not first, a "." somewhere after it but not
// right after it, no "." at either end and no blanks.
bool IsValidMailAddress(const std::string& address);

}  // namespace kestrix
