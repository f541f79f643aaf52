// Names as the map keeps them: DemangleSymbol for the decorated names of
// the debug formats the map reads, and the C++ name form of the build step
// ("a::b::f(int)" becomes "a.b.f").
#pragma once

#include <string>

namespace kestrix {

struct TDemangled {
  std::string name;
  std::string unit;  // empty when the name carries none
};

// A decorated name ("@Unit@Class@Method$qqrv") as name and unit; names not
// starting with '@' stay as they are ("::" shown as ".").
TDemangled DemangleSymbol(const std::string& symbol);

// A demangled C++ name in the map's form: the parameter list and trailing
// qualifiers dropped, " [clone .cold]" and other clone suffixes dropped,
// "(anonymous namespace)::" left out, a template function's return type
// dropped, top-level "::" shown as "."; lambdas and template arguments keep
// their whole text.
std::string MapFunctionName(const std::string& demangled);

// A linker or debug-information symbol in the map's form: the i386 "_"
// prefix (only with `hasPrefix`) and a stdcall "@n" suffix removed, a
// ".cold" (or other clone) suffix removed, "_Z" names demangled.
std::string MapSymbolName(const std::string& symbol, bool hasPrefix);

}  // namespace kestrix
