// Exception classes raised by the analyzer's file layer.
#pragma once

#include <stdexcept>
#include <string>

namespace quorrin {

// Base of the program's own exceptions: carries a message, like the
// runtime's exception class.
class Exception : public std::runtime_error {
 public:
  explicit Exception(const std::string& message) : std::runtime_error(message) {}
  std::string Message() const { return what(); }
};

class EStreamError : public Exception {
 public:
  using Exception::Exception;
};

// A file could not be opened: "Cannot open file \"<absolute path>\". <system text>".
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

// A read failed in the middle of a stream.
class EReadError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

}  // namespace quorrin
