// Symbol names as people read them: demangled Pascal-style symbols and C++
// names written as developers write them.
#include <gtest/gtest.h>

#include "crash/base/symbol_names.h"

namespace kestrix {
namespace {

TEST(Names, DemangleSymbolRules) {
  EXPECT_EQ(DemangleSymbol("plain::name").name, "plain.name");
  TDemangled d = DemangleSymbol("@Unit1@TForm1@Button1Click$qqrp14System@TObject");
  EXPECT_EQ(d.name, "TForm1.Button1Click");
  EXPECT_EQ(d.unit, "Unit1");
  EXPECT_EQ(DemangleSymbol("@Unit1@TForm1@$bctr$qqrv").name, "TForm1.Create");
  EXPECT_EQ(DemangleSymbol("@Unit1@TForm1@$bdtr$qqrv").name, "TForm1.Destroy");
  EXPECT_EQ(DemangleSymbol("@Unit1@Proc$qqrv").name, "Proc");
  // A unit taking the whole name is no unit.
  d = DemangleSymbol("@Finalize$qqrv");
  EXPECT_EQ(d.name, "Finalize");
  EXPECT_EQ(d.unit, "");
  // Trimming leaves a final '.': "?" is appended.
  EXPECT_EQ(DemangleSymbol("@Unit@X. $qqrv").name, "X.?");
}

TEST(Names, CppNamesAsDevelopersWriteThem) {
  EXPECT_EQ(MapSymbolName("__ZN6TForm19openClickEv", true), "TForm1.openClick");
  EXPECT_EQ(MapSymbolName("_WinMain@16", true), "WinMain");
  EXPECT_EQ(MapSymbolName("__ZN1a1B1fEi.cold", true), "a.B.f");
  EXPECT_EQ(MapSymbolName("_main.cold", true), "main");
  EXPECT_EQ(MapSymbolName("_ZN12_GLOBAL__N_16helperEv.isra.0", false), "helper");
  EXPECT_EQ(MapFunctionName("a::B::f(int)::{lambda(int)#1}::operator()(int) const"),
            "a.B.f(int).{lambda(int)#1}.operator()");
  EXPECT_EQ(MapFunctionName("bool std::operator< <char>(std::basic_string<char> const&, char const*)"),
            "std.operator< <char>");
  EXPECT_EQ(MapFunctionName("std::vector<std::pair<int, int>, std::allocator<std::pair<int, int> > >::push_back(int&&)"),
            "std.vector<std::pair<int, int>, std::allocator<std::pair<int, int> > >.push_back");
  EXPECT_EQ(MapFunctionName("void* operator new(unsigned int)"), "operator new");
  EXPECT_EQ(MapFunctionName("X::operator<<(int)"), "X.operator<<");
  EXPECT_EQ(MapFunctionName("(anonymous namespace)::Worker::run() [clone .cold]"), "Worker.run");
}

}  // namespace
}  // namespace kestrix
