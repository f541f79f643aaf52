// Reading a multipart/form-data body (see multipart_form.h).
#include "collector/multipart_form.h"

#include <cctype>

namespace kestrix::collector {

namespace {

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view TrimView(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

// Undoes the library's escapes of quoted parameters (%22, %0D, %0A).
std::string Unescape(std::string_view value) {
  std::string out;
  for (size_t i = 0; i < value.size(); ++i) {
    if (value[i] == '%' && i + 2 < value.size()) {
      const std::string code = Lower(value.substr(i + 1, 2));
      if (code == "22" || code == "0d" || code == "0a") {
        out += code == "22" ? '"' : code == "0d" ? '\r' : '\n';
        i += 2;
        continue;
      }
    }
    out += value[i];
  }
  return out;
}

// The parameters of a Content-Disposition value; false when malformed.
bool ParseDisposition(std::string_view value, TFormPart& part, std::string& error) {
  const size_t semi = value.find(';');
  if (Lower(TrimView(value.substr(0, semi))) != "form-data") {
    error = "a part's disposition is not form-data";
    return false;
  }
  bool haveName = false;
  size_t i = semi;
  while (i != std::string_view::npos && i < value.size()) {
    ++i;  // past ';'
    while (i < value.size() && (value[i] == ' ' || value[i] == '\t')) ++i;
    const size_t eq = value.find('=', i);
    if (eq == std::string_view::npos) {
      error = "a disposition parameter without value";
      return false;
    }
    const std::string key = Lower(TrimView(value.substr(i, eq - i)));
    std::string content;
    size_t next;
    if (eq + 1 < value.size() && value[eq + 1] == '"') {
      const size_t close = value.find('"', eq + 2);
      if (close == std::string_view::npos) {
        error = "an unterminated quoted parameter";
        return false;
      }
      content = Unescape(value.substr(eq + 2, close - eq - 2));
      next = value.find(';', close + 1);
      if (TrimView(value.substr(close + 1, next == std::string_view::npos ? std::string_view::npos : next - close - 1))
              .size() != 0) {
        error = "text after a quoted parameter";
        return false;
      }
    } else {
      next = value.find(';', eq + 1);
      content = std::string(TrimView(value.substr(eq + 1, next == std::string_view::npos ? std::string_view::npos
                                                                                         : next - eq - 1)));
    }
    if (key == "name") {
      part.name = content;
      haveName = true;
    } else if (key == "filename") {
      part.fileName = content;
      part.isFile = true;
    }
    i = next;
  }
  if (!haveName) {
    error = "a part without a name";
    return false;
  }
  return true;
}

}  // namespace

std::string FormBoundary(std::string_view contentType) {
  const size_t semi = contentType.find(';');
  if (semi == std::string_view::npos || Lower(TrimView(contentType.substr(0, semi))) != "multipart/form-data")
    return std::string();
  const std::string rest = Lower(contentType.substr(semi + 1));
  const size_t at = rest.find("boundary=");
  if (at == std::string::npos) return std::string();
  std::string_view b = contentType.substr(semi + 1 + at + 9);
  const size_t end = b.find(';');
  b = TrimView(b.substr(0, end));
  if (b.size() >= 2 && b.front() == '"' && b.back() == '"') b = b.substr(1, b.size() - 2);
  if (b.empty() || b.size() > 70) return std::string();
  for (const char c : b)
    if (static_cast<unsigned char>(c) <= ' ' || static_cast<unsigned char>(c) >= 127) return std::string();
  return std::string(b);
}

bool ParseMultipartForm(std::string_view body, const std::string& boundary, std::vector<TFormPart>& parts,
                        std::string& error, size_t maxParts) {
  parts.clear();
  const std::string first = "--" + boundary;
  const std::string delimiter = "\r\n--" + boundary;
  if (body.rfind(first, 0) != 0) {
    error = "the form does not begin with its boundary";
    return false;
  }
  size_t at = first.size();
  for (;;) {
    if (body.substr(at, 2) == "--") {
      const std::string_view rest = body.substr(at + 2);
      if (!(rest.empty() || rest == "\r\n")) {
        error = "text after the form's closing boundary";
        return false;
      }
      if (parts.empty()) {
        error = "a form without parts";
        return false;
      }
      return true;
    }
    if (body.substr(at, 2) != "\r\n") {
      error = "a boundary line not ended by CR LF";
      return false;
    }
    at += 2;
    const size_t headEnd = body.find("\r\n\r\n", at);
    if (headEnd == std::string_view::npos) {
      error = "a part without the empty line after its headers";
      return false;
    }
    const size_t next = body.find(delimiter, headEnd + 4);
    if (next == std::string_view::npos || next < headEnd) {
      error = "the form ends before its closing boundary";
      return false;
    }
    if (parts.size() >= maxParts) {
      error = "too many parts in the form";
      return false;
    }
    TFormPart part;
    bool haveDisposition = false;
    std::string_view head = body.substr(at, headEnd - at);
    while (!head.empty()) {
      const size_t eol = head.find("\r\n");
      const std::string_view line = head.substr(0, eol);
      head = eol == std::string_view::npos ? std::string_view() : head.substr(eol + 2);
      const size_t colon = line.find(':');
      if (colon == std::string_view::npos) {
        error = "a part header without ':'";
        return false;
      }
      if (Lower(TrimView(line.substr(0, colon))) == "content-disposition") {
        if (haveDisposition) {
          error = "a part with two dispositions";
          return false;
        }
        haveDisposition = true;
        if (!ParseDisposition(TrimView(line.substr(colon + 1)), part, error)) return false;
      }
    }
    if (!haveDisposition) {
      error = "a part without Content-Disposition";
      return false;
    }
    part.content.assign(body.substr(headEnd + 4, next - headEnd - 4));
    parts.push_back(std::move(part));
    at = next + delimiter.size();
  }
}

}  // namespace kestrix::collector
