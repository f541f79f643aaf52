#include "kestrix/exceptions.h"

#include <cxxabi.h>

#include <new>

#include <cstdlib>
#include <memory>

namespace kestrix {
namespace {

std::string Demangle(const char* mangled) {
  int status = 0;
  std::unique_ptr<char, void (*)(void*)> text(abi::__cxa_demangle(mangled, nullptr, nullptr, &status),
                                              std::free);
  return status == 0 && text ? std::string(text.get()) : std::string(mangled);
}

// The text after the last "::" that is not inside template arguments.
std::string Unqualified(const std::string& name) {
  int depth = 0;
  size_t start = 0;
  for (size_t i = 0; i < name.size(); ++i) {
    if (name[i] == '<') ++depth;
    if (name[i] == '>') --depth;
    if (depth == 0 && name[i] == ':' && i + 1 < name.size() && name[i + 1] == ':') start = i + 2;
  }
  return name.substr(start);
}

void AddAncestors(const std::type_info& type, std::vector<std::string>& out, int depth) {
  if (depth > 64) return;
  out.push_back(TypeClassName(type));
  if (auto* si = dynamic_cast<const abi::__si_class_type_info*>(&type)) {
    AddAncestors(*si->__base_type, out, depth + 1);
  } else if (auto* vmi = dynamic_cast<const abi::__vmi_class_type_info*>(&type)) {
    for (unsigned i = 0; i < vmi->__base_count; ++i)
      AddAncestors(*vmi->__base_info[i].__base_type, out, depth + 1);
  }
}

std::string TrimBlanks(const std::string& s) {
  size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return std::string();
  size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

}  // namespace

std::string TypeClassName(const std::type_info& type) { return Unqualified(Demangle(type.name())); }

std::vector<std::string> TypeAncestry(const std::type_info& type) {
  std::vector<std::string> out;
  AddAncestors(type, out, 0);
  return out;
}

TExceptionObjectInfo DescribeException(std::exception_ptr error) {
  TExceptionObjectInfo info;
  info.object = error;
  info.className = "Unknown";
  if (!error) return info;
  try {
    std::rethrow_exception(error);
  } catch (const KxException& e) {
    info.address = &e;
    info.type = &typeid(e);
    info.isKxException = true;
    info.isAbort = dynamic_cast<const EAbort*>(&e) != nullptr;
    info.message = e.Message();
    info.ancestry = TypeAncestry(typeid(e));
    std::string own = e.ClassName();
    if (!own.empty() && (info.ancestry.empty() || info.ancestry.front() != own))
      info.ancestry.insert(info.ancestry.begin(), own);
  } catch (const std::exception& e) {
    info.address = &e;
    info.type = &typeid(e);
    info.message = e.what();
    info.ancestry = TypeAncestry(typeid(e));
    // The runtime's own text for a failed allocation names only the class.
    if (dynamic_cast<const std::bad_alloc*>(&e) && info.message == "std::bad_alloc") info.message = "Out of memory";
  } catch (...) {
    if (const std::type_info* t = abi::__cxa_current_exception_type()) {
      info.type = t;
      info.ancestry = TypeAncestry(*t);
    }
  }
  if (!info.ancestry.empty()) info.className = info.ancestry.front();
  if (!info.isKxException && !info.type) info.message.clear();
  // Objects of no exception class are described by their class name.
  if (info.type && !info.isKxException && info.message.empty()) {
    bool isStd = false;
    for (const std::string& a : info.ancestry) isStd |= a == "exception";
    if (!isStd) info.message = info.className;
  }
  return info;
}

bool ClassInList(const std::vector<std::string>& ancestry, const std::string& commaList) {
  size_t start = 0;
  while (start <= commaList.size()) {
    size_t comma = commaList.find(',', start);
    if (comma == std::string::npos) comma = commaList.size();
    std::string name = TrimBlanks(commaList.substr(start, comma - start));
    if (!name.empty())
      for (const std::string& a : ancestry)
        if (a == name) return true;
    start = comma + 1;
  }
  return false;
}

}  // namespace kestrix
