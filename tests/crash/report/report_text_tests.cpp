// The report text layout and the texts of the register, stack-dump and
// system-exception parts.
#include <gtest/gtest.h>

#include "crash/report/report_text.h"
#include "crash/exception/system_exceptions.h"

namespace kestrix {
namespace {

TEST(ReportText, HeaderAlignsEveryColon) {
  const TFieldList header = {{"date/time", "2026-12-07, 09:01:02, 7ms"},
                             {"exception class", "EFOpenError"},
                             {"exception message", "Cannot open file \"C:\\x.pas\".\r\nSecond  line."}};
  const std::string text = FormatReportText(header, {});
  EXPECT_EQ(text,
            "date/time        : 2026-12-07, 09:01:02, 7ms\r\n"
            "exception class  : EFOpenError\r\n"
            "exception message: Cannot open file \"C:\\x.pas\". Second line.");
  // The longest name is "exception message": every ':' in column 18.
  size_t start = 0;
  for (size_t p; (p = text.find("\r\n", start)) != std::string::npos || start < text.size();) {
    const std::string line = text.substr(start, p == std::string::npos ? std::string::npos : p - start);
    EXPECT_EQ(line.find(':'), 17u) << line;
    if (p == std::string::npos) break;
    start = p + 2;
  }
}

TEST(ReportText, SectionsLinesAndEmptyLines) {
  const TFieldList header = {{"executable", "crashlab.exe"}};
  const TFieldList sections = {{"main thread ($1a4):", "0040100a +00a crashlab.exe main 12 +1 Crash  \r\n\r\nsecond\rthird\nfourth\t"},
                               {"cpu registers", "eax = 00000001"}};
  EXPECT_EQ(FormatReportText(header, sections),
            "executable: crashlab.exe\r\n"
            "\r\n"
            "main thread ($1a4):\r\n"
            "0040100a +00a crashlab.exe main 12 +1 Crash\r\n"
            ".\r\n"
            "second\r\n"
            "third\r\n"
            "fourth\r\n"
            "\r\n"
            "cpu registers:\r\n"
            "eax = 00000001");
  EXPECT_EQ(FormatReportText({}, {}), "");
}

TEST(ReportText, StoredValuesAndExceptionMessages) {
  EXPECT_EQ(TrimReportValue("\t  value \r\n"), "value");
  EXPECT_EQ(TrimReportValue(" \x01 "), "");
  EXPECT_EQ(CollapseSpaces("a    b  c d"), "a b c d");
  EXPECT_EQ(NormalizeExceptionMessage("Division by zero"), "Division by zero.");
  EXPECT_EQ(NormalizeExceptionMessage("Stop!!.!"), "Stop.");
  EXPECT_EQ(NormalizeExceptionMessage("  \x07  "), "Unknown.");
  EXPECT_EQ(NormalizeExceptionMessage("line one\r\n  line two."), "line one line two.");
  EXPECT_EQ(NormalizeExceptionMessage("tab\there"), "tabhere.");
}

TEST(ReportText, CpuRegisters) {
  const TCpuRegisters r{1, 0xffffffff, 0x10, 0xabcdef, 0, 0x7ffdf000, 0x401234, 0x22ff40, 0x22ff68};
  EXPECT_EQ(CpuRegistersText(r),
            "eax = 00000001\r\nebx = ffffffff\r\necx = 00000010\r\nedx = 00abcdef\r\nesi = 00000000\r\n"
            "edi = 7ffdf000\r\neip = 00401234\r\nesp = 0022ff40\r\nebp = 0022ff68");
}

TEST(ReportText, StackDumpLayout) {
  std::string bytes;
  for (int i = 0; i < 16; ++i) bytes += static_cast<char>(0x41 + i);
  bytes += std::string("\x00\x20\x7e\x7f\xff", 5);
  EXPECT_EQ(StackDumpText(0x0022ff40, bytes),
            "0022ff40  41 42 43 44 45 46 47 48 - 49 4a 4b 4c 4d 4e 4f 50  ABCDEFGHIJKLMNOP\r\n"
            "0022ff50  00 20 7e 7f ff                                     ..~..");
  // The ninth byte beyond the region: two spaces instead of "- ".
  EXPECT_EQ(StackDumpText(0x10, std::string(9, 'x')),
            "00000010  78 78 78 78 78 78 78 78 - 78                       xxxxxxxxx");
  EXPECT_EQ(StackDumpText(0x10, std::string(8, 'x')),
            "00000010  78 78 78 78 78 78 78 78                            xxxxxxxx");
  // At most 20 lines.
  const std::string dump = StackDumpText(0, std::string(1000, 'z'));
  EXPECT_EQ(std::count(dump.begin(), dump.end(), '\n'), 19);
  EXPECT_EQ(StackDumpText(0, ""), "");
}

TEST(SystemExceptions, Messages) {
  EXPECT_EQ(FormatAccessViolationText(0x401a2b, "crashlab.exe", false, 0),
            "Access violation at address $401a2b in module 'crashlab.exe'. Read of address $0");
  EXPECT_EQ(FormatAccessViolationText(0x401a2b, "100%s.exe", true, 0xdeadbeef),
            "Access violation at address $401a2b in module '100%s.exe'. Write of address $deadbeef");
  EXPECT_EQ(FormatAccessViolationText(0x12345678, "", true, 4), "Access Violation");
  EXPECT_EQ(SystemExceptionMessage(0xC0000005, "av"), "av");
  EXPECT_EQ(SystemExceptionMessage(0xC0000094, ""), "Division by zero");
  EXPECT_EQ(SystemExceptionMessage(0xC000008D, ""), "Floating point underflow");
  EXPECT_EQ(SystemExceptionMessage(0xC0000092, ""), "Invalid floating point operation");
  EXPECT_EQ(SystemExceptionMessage(0xC00000FD, ""), "Stack overflow");
  EXPECT_EQ(SystemExceptionMessage(0xE06D7363, ""), "External exception e06d7363");
}

}  // namespace
}  // namespace kestrix
