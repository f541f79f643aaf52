#include <gtest/gtest.h>

#include <stdexcept>

#include "kestrix/exceptions.h"

namespace lab {
class Exception : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};
class EStreamError : public Exception {
 public:
  using Exception::Exception;
};
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
struct Plain {};
class ENamed : public kestrix::KxException {
 public:
  using KxException::KxException;
  std::string ClassName() const override { return "EOwnName"; }
};
}  // namespace lab

namespace kestrix {
namespace {

TEST(ExceptionClasses, AncestryByRtti) {
  EXPECT_EQ(TypeAncestry(typeid(lab::EFOpenError)),
            (std::vector<std::string>{"EFOpenError", "EStreamError", "Exception", "runtime_error", "exception"}));
  EXPECT_EQ(TypeClassName(typeid(std::vector<int>)).rfind("vector<", 0), 0u);
}

TEST(ExceptionClasses, DescribeRuntimeException) {
  const TExceptionObjectInfo info = DescribeException(std::make_exception_ptr(lab::EFOpenError("Cannot open")));
  EXPECT_EQ(info.className, "EFOpenError");
  EXPECT_EQ(info.message, "Cannot open");
  EXPECT_FALSE(info.isAbort);
  EXPECT_FALSE(info.isKxException);
  EXPECT_NE(info.address, nullptr);
  EXPECT_TRUE(ClassInList(info.ancestry, "EStreamError"));
}

TEST(ExceptionClasses, DescribeLibraryAndOtherObjects) {
  TExceptionObjectInfo info = DescribeException(std::make_exception_ptr(EAbort()));
  EXPECT_TRUE(info.isAbort);
  EXPECT_TRUE(info.isKxException);
  EXPECT_EQ(info.className, "EAbort");
  info = DescribeException(std::make_exception_ptr(lab::ENamed("m")));
  EXPECT_EQ(info.className, "EOwnName");
  EXPECT_EQ(info.ancestry[1], "ENamed");
  EXPECT_EQ(info.message, "m");
  // Objects of no exception class are described by their class name.
  info = DescribeException(std::make_exception_ptr(lab::Plain{}));
  EXPECT_EQ(info.className, "Plain");
  EXPECT_EQ(info.message, "Plain");
  info = DescribeException(std::make_exception_ptr(42));
  EXPECT_EQ(info.className, "int");
  info = DescribeException(nullptr);
  EXPECT_EQ(info.className, "Unknown");
}

TEST(ExceptionClasses, ClassListsAreCommaSeparatedExactNames) {
  const std::vector<std::string> a{"EFOpenError", "EStreamError"};
  EXPECT_TRUE(ClassInList(a, " EStreamError , X"));
  EXPECT_FALSE(ClassInList(a, "EStream,Error"));
  EXPECT_FALSE(ClassInList(a, ""));
  EXPECT_FALSE(ClassInList(a, ",,"));
}

}  // namespace
}  // namespace kestrix
