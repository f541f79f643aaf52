#include "crash/base/symbol_names.h"

#include <cxxabi.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <memory>

namespace kestrix {

namespace {

void ReplaceAll(std::string& s, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size()) s.replace(at, from.size(), to);
}

// Length of the operator token at s[i] ("operator<<", "operator()", …)
// including "operator", or 0 when none starts there.
size_t OperatorLength(const std::string& s, size_t i) {
  if (s.compare(i, 8, "operator") != 0) return 0;
  if (i > 0 && (std::isalnum(static_cast<unsigned char>(s[i - 1])) || s[i - 1] == '_')) return 0;
  size_t j = i + 8;
  if (j < s.size() && (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == '_')) return 0;
  if (s.compare(j, 2, "()") == 0 || s.compare(j, 2, "[]") == 0) return 10;
  if (j < s.size() && s[j] == ' ') {  // operator new, operator delete[], conversions
    ++j;
    while (j < s.size() && (std::isalnum(static_cast<unsigned char>(s[j])) || s[j] == '_')) ++j;
    if (s.compare(j, 2, "[]") == 0) j += 2;
    return j - i;
  }
  while (j < s.size() && std::strchr("<>=!+-*/%^&|~,", s[j])) ++j;
  if (s.compare(j, 2, " <") == 0) ++j;  // "operator< <char>": the blank belongs to the name
  return j - i;
}

}  // namespace

TDemangled DemangleSymbol(const std::string& symbol) {
  TDemangled out;
  std::string name = symbol;
  ReplaceAll(name, "::", ".");
  if (name.empty() || name[0] != '@') {
    out.name = name;
    return out;
  }
  std::string suffix;
  if (name.size() > 1 && name[1] == '%') {
    const size_t pair = name.rfind("%@");
    if (pair != std::string::npos && pair >= 2) suffix = "." + name.substr(pair + 2);
  }
  size_t start = 2;
  if (name.size() > 6 && name[1] == '_' && name[2] == '$') {
    const size_t dollar = name.find('$', 4);
    if (dollar != std::string::npos && dollar + 1 < name.size() && name[dollar + 1] == '@') start = dollar + 1;
  }
  size_t unitEnd = std::string::npos;
  bool endedAtDollar = false, destructor = false;
  for (size_t i = start; i < name.size(); ++i) {
    if (name[i] == '$') {
      destructor = i + 2 < name.size() && name[i + 2] == 'd';
      name = name.substr(0, i) + suffix;
      endedAtDollar = true;
      break;
    }
    if (name[i] == '@') {
      name[i] = '.';
      if (unitEnd == std::string::npos) unitEnd = i;
    }
  }
  if (unitEnd != std::string::npos) out.unit = name.substr(1, unitEnd - 1);
  if (!out.unit.empty() && out.unit.size() + 2 < name.size()) {
    name.erase(0, out.unit.size() + 2);
  } else {
    out.unit.clear();
    if (endedAtDollar && !name.empty()) name.erase(0, 1);
  }
  if (!name.empty() && name[0] == '%') name.erase(0, 1);
  if (!name.empty() && name[0] == '.') name[0] = '@';
  if (!name.empty() && name.back() == '.') name += destructor ? "Destroy" : "Create";
  const size_t first = name.find_first_not_of(' ');
  const size_t last = name.find_last_not_of(' ');
  name = first == std::string::npos ? std::string() : name.substr(first, last - first + 1);
  if (!name.empty() && name.back() == '.') name += "?";
  out.name = name;
  return out;
}

std::string MapFunctionName(const std::string& demangled) {
  std::string s = demangled;
  for (size_t at; (at = s.find(" [clone ")) != std::string::npos;) {
    const size_t end = s.find(']', at);
    s.erase(at, end == std::string::npos ? std::string::npos : end + 1 - at);
  }
  ReplaceAll(s, "(anonymous namespace)::", "");
  // Trailing qualifiers, then the parameter list: the last top-level "(...)".
  for (bool again = true; again;) {
    again = false;
    for (const char* q : {" const", " volatile", " &&", " &", " noexcept"}) {
      const size_t n = std::strlen(q);
      if (s.size() > n && s.compare(s.size() - n, n, q) == 0) {
        s.resize(s.size() - n);
        again = true;
      }
    }
  }
  // Positions of top-level characters, skipping operator tokens.
  auto scan = [&](auto&& visit) {
    int depth = 0;
    for (size_t i = 0; i < s.size(); ++i) {
      if (const size_t op = OperatorLength(s, i)) {
        i += op - 1;
        continue;
      }
      const char c = s[i];
      if (c == '<' || c == '(' || c == '{' || c == '[') {
        if (depth == 0) visit(i, c);
        ++depth;
      } else if (c == '>' || c == ')' || c == '}' || c == ']') {
        if (depth > 0) --depth;
      } else if (depth == 0) {
        visit(i, c);
      }
    }
  };
  if (!s.empty() && s.back() == ')') {
    size_t open = std::string::npos;
    scan([&](size_t i, char c) {
      if (c == '(') open = i;
    });
    if (open != std::string::npos && open > 0) s.resize(open);
  }
  // A template function's return type leads its name.
  size_t start = 0;
  scan([&](size_t i, char c) {
    if (c == ' ') start = i + 1;
  });
  s = s.substr(start);
  std::string out;
  out.reserve(s.size());
  std::string top(s.size(), 0);
  scan([&](size_t i, char) { top[i] = 1; });
  for (size_t i = 0; i < s.size(); ++i) {
    if (top[i] && s[i] == ':' && i + 1 < s.size() && s[i + 1] == ':') {
      out += '.';
      ++i;
    } else {
      out += s[i];
    }
  }
  return out;
}

std::string MapSymbolName(const std::string& symbol, bool hasPrefix) {
  std::string name = symbol;
  if (hasPrefix && !name.empty() && name[0] == '_') name.erase(0, 1);
  const size_t at = name.rfind('@');
  if (at != std::string::npos && at > 0 && at + 1 < name.size() &&
      name.find_first_not_of("0123456789", at + 1) == std::string::npos)
    name.erase(at);
  if (name.compare(0, 2, "_Z") == 0) {
    int status = 0;
    std::unique_ptr<char, void (*)(void*)> text(abi::__cxa_demangle(name.c_str(), nullptr, nullptr, &status),
                                                std::free);
    if (status == 0 && text) return MapFunctionName(text.get());
  }
  // A part split off a C function: "f.cold", "f.part.0".
  const size_t dot = name.find('.');
  if (dot != std::string::npos && dot > 0) name.resize(dot);
  return name;
}

}  // namespace kestrix
