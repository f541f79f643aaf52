// The library's exception classes and what the handling flow knows of any
// C++ exception object: its class name, its ancestors and its message.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <typeinfo>
#include <vector>

namespace kestrix {

// Base of the library's exceptions: a message, and a class name that
// filters and reports use (the C++ type's name unless a class overrides it).
class KxException : public std::exception {
 public:
  explicit KxException(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }
  const std::string& Message() const { return message_; }
  // Empty: the name of the dynamic C++ type.
  virtual std::string ClassName() const { return std::string(); }

 private:
  std::string message_;
};

// A silent exception: it leaves the current operation without any report.
class EAbort : public KxException {
 public:
  EAbort() : KxException("Operation aborted") {}
  using KxException::KxException;
};

// The unqualified name of a C++ type ("quorrin::EFOpenError" gives
// "EFOpenError"); template arguments are kept.
std::string TypeClassName(const std::type_info& type);

// The type and its ancestors by RTTI, nearest first, each by its
// unqualified name (the first base of a class with several bases is
// followed first, then the others).
std::vector<std::string> TypeAncestry(const std::type_info& type);

// What the handling flow keeps of an exception object.
struct TExceptionObjectInfo {
  std::exception_ptr object;             // keeps it alive
  const void* address = nullptr;         // the thrown object, when known
  const std::type_info* type = nullptr;  // its dynamic type; null when unknown
  std::string className;                 // "Unknown" when it cannot be read
  std::vector<std::string> ancestry;     // className first
  std::string message;                   // raw, not yet normalised
  bool isAbort = false;                  // EAbort or a descendant
  bool isKxException = false;
  uint32_t systemCode = 0;               // the operating-system exception it stands for, if any
};

// Describes an exception object: the runtime's exception class
// (std::exception) and KxException give their message, any other object its
// class name.
TExceptionObjectInfo DescribeException(std::exception_ptr error);

// True when className or one of its ancestors is in the comma-separated
// list (exact names; blanks around the commas ignored).
bool ClassInList(const std::vector<std::string>& ancestry, const std::string& commaList);

}  // namespace kestrix
