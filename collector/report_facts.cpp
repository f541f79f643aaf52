// Taking a bug report's text apart (see report_facts.h).
#include "collector/report_facts.h"

#include <cctype>
#include <cstdlib>

namespace kestrix::collector {

namespace {

std::string WithCrLf(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32);
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\r') {
      out += "\r\n";
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
    } else if (text[i] == '\n') {
      out += "\r\n";
    } else {
      out += text[i];
    }
  }
  while (out.size() >= 2 && out.compare(out.size() - 2, 2, "\r\n") == 0) out.resize(out.size() - 2);
  return out;
}

std::string Trim(std::string_view s) {
  size_t b = 0, e = s.size();
  while (b < e && static_cast<unsigned char>(s[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(s[e - 1]) <= ' ') --e;
  return std::string(s.substr(b, e - b));
}

const std::string* Item(const TFieldList& list, const char* name) {
  for (const auto& [item, value] : list)
    if (item == name) return &value;
  return nullptr;
}

std::string ItemOr(const TFieldList& list, const char* name) {
  const std::string* v = Item(list, name);
  return v ? *v : std::string();
}

// Report texts are in the sender's ANSI code page: a value that is not
// UTF-8 already is taken as Latin-1, so that every store keeps it.
std::string AsUtf8(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    size_t n = c < 0x80 ? 1 : c >= 0xc2 && c < 0xe0 ? 2 : c >= 0xe0 && c < 0xf0 ? 3 : c >= 0xf0 && c <= 0xf4 ? 4 : 0;
    for (size_t k = 1; n > 1 && k < n; ++k)
      if (i + k >= text.size() || (static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80) n = 0;
    if (n == 0) {
      out += static_cast<char>(0xc0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3f));
    } else {
      out.append(text, i, n);
      i += n - 1;
    }
  }
  return out;
}

}  // namespace

std::vector<std::string_view> SplitText(std::string_view text, std::string_view separator) {
  std::vector<std::string_view> pieces;
  size_t begin = 0;
  for (;;) {
    const size_t end = text.find(separator, begin);
    pieces.push_back(text.substr(begin, end == std::string_view::npos ? std::string_view::npos : end - begin));
    if (end == std::string_view::npos) return pieces;
    begin = end + separator.size();
  }
}

bool ParseReport(std::string_view input, TParsedReport& report, std::string& error) {
  report = TParsedReport();
  std::string text = WithCrLf(input);
  if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
  if (text.rfind("date/time", 0) != 0) {
    error = "not a bug report: it does not begin with \"date/time\"";
    return false;
  }
  const std::vector<std::string_view> blocks = SplitText(text, "\r\n\r\n");
  size_t begin = 0;
  const std::string_view head = blocks[0];
  while (begin <= head.size()) {
    size_t end = head.find("\r\n", begin);
    if (end == std::string_view::npos) end = head.size();
    const std::string_view line = head.substr(begin, end - begin);
    const size_t colon = line.find(": ");
    if (colon == std::string_view::npos) {
      error = "not a bug report: header line without \": \"";
      return false;
    }
    report.header.emplace_back(Trim(line.substr(0, colon)), Trim(line.substr(colon + 2)));
    begin = end + 2;
  }
  if (!Item(report.header, "callstack crc")) {
    error = "not a bug report: no \"callstack crc\" item";
    return false;
  }
  for (size_t i = 1; i < blocks.size(); ++i) {
    const std::string_view block = blocks[i];
    const size_t end = block.find("\r\n");
    std::string title(block.substr(0, end));
    // The text adds ":" to a title that has none.
    if (!title.empty() && title.back() == ':' && title.find(':') == title.size() - 1) title.pop_back();
    std::string content = end == std::string_view::npos ? std::string() : std::string(block.substr(end + 2));
    // An empty line of a section is written as ".".
    report.sections.emplace_back(std::move(title), std::move(content));
  }
  report.text = std::move(text);
  return true;
}

std::string CrashLocation(const TParsedReport& report) {
  if (report.sections.empty()) return std::string();
  const std::string& content = report.sections[0].second;
  std::string fallback;
  size_t begin = 0;
  while (begin < content.size()) {
    size_t end = content.find("\r\n", begin);
    if (end == std::string::npos) end = content.size();
    const std::string line = content.substr(begin, end - begin);
    begin = end + 2;
    if (line.rfind(">>", 0) == 0 || line.size() < 10 || line[8] != ' ') continue;
    // address, "+offset", module, then unit, line, relative line, function
    std::string rest = Trim(line.substr(9));
    if (!rest.empty() && rest[0] == '+') rest = rest.find(' ') == std::string::npos ? "" : Trim(rest.substr(rest.find(' ')));
    const size_t module = rest.find(' ');
    if (module == std::string::npos) {
      // Module and address only (no names for it): the place if nothing better follows.
      if (fallback.empty() && !rest.empty()) fallback = rest + " " + line.substr(0, 8);
      continue;
    }
    std::string out;
    for (const char c : Trim(rest.substr(module)))
      if (!(c == ' ' && !out.empty() && out.back() == ' ')) out += c;
    return out;
  }
  return fallback;
}

TReportFacts ReportFacts(const TParsedReport& report) {
  TReportFacts f;
  const TFieldList& h = report.header;
  f.dateTime = ItemOr(h, "date/time");
  f.computer = ItemOr(h, "computer name");
  f.executable = ItemOr(h, "executable");
  f.module = ItemOr(h, "current module");
  f.version = ItemOr(h, "version");
  f.buildDate = ItemOr(h, "exec. date/time");
  if (f.buildDate.empty()) f.buildDate = ItemOr(h, "module date/time");
  f.freeze = !Item(h, "exception class");
  f.exceptionClass = f.freeze ? "freeze" : ItemOr(h, "exception class");
  f.exceptionMessage = ItemOr(h, "exception message");
  f.callstackCrc = ItemOr(h, "callstack crc");
  const std::string count = ItemOr(h, "count");
  if (!count.empty()) {
    char* end = nullptr;
    const long n = std::strtol(count.c_str(), &end, 10);
    if (*end == 0 && n > 0 && n < 1000000000) f.count = static_cast<int>(n);
  }
  f.location = CrashLocation(report);
  for (std::string* text : {&f.dateTime, &f.computer, &f.executable, &f.module, &f.version, &f.buildDate,
                            &f.exceptionClass, &f.exceptionMessage, &f.location})
    *text = AsUtf8(*text);
  return f;
}

std::vector<std::string> SplitBugReportFile(std::string_view input) {
  const std::string file = WithCrLf(input);
  std::vector<std::string> reports;
  size_t begin = file.find("date/time");
  if (begin != 0 && begin != std::string::npos) {
    const size_t p = file.find("\r\ndate/time");
    begin = p == std::string::npos ? std::string::npos : p + 2;
  }
  while (begin != std::string::npos) {
    const size_t next = file.find("\r\ndate/time", begin);
    const size_t end = next == std::string::npos ? file.size() : next;
    std::string report = file.substr(begin, end - begin);
    while (report.size() >= 2 && report.compare(report.size() - 2, 2, "\r\n") == 0) report.resize(report.size() - 2);
    reports.push_back(std::move(report));
    begin = next == std::string::npos ? std::string::npos : next + 2;
  }
  return reports;
}

std::string ReportTime(const std::string& dateTime) {
  // "YYYY-MM-DD, HH:MM:SS, …"
  if (dateTime.size() < 20) return std::string();
  static const char kPattern[] = "dddd-dd-dd, dd:dd:dd";
  for (size_t i = 0; i < 20; ++i) {
    const char c = dateTime[i];
    if (kPattern[i] == 'd' ? !std::isdigit(static_cast<unsigned char>(c)) : c != kPattern[i]) return std::string();
  }
  return dateTime.substr(0, 10) + " " + dateTime.substr(12, 8);
}

int CompareVersions(const std::string& a, const std::string& b) {
  size_t i = 0, j = 0;
  while (i < a.size() && j < b.size()) {
    if (std::isdigit(static_cast<unsigned char>(a[i])) && std::isdigit(static_cast<unsigned char>(b[j]))) {
      size_t ie = i, je = j;
      while (ie < a.size() && std::isdigit(static_cast<unsigned char>(a[ie]))) ++ie;
      while (je < b.size() && std::isdigit(static_cast<unsigned char>(b[je]))) ++je;
      std::string x = a.substr(i, ie - i), y = b.substr(j, je - j);
      x.erase(0, std::min(x.find_first_not_of('0'), x.size()));
      y.erase(0, std::min(y.find_first_not_of('0'), y.size()));
      if (x.size() != y.size()) return x.size() < y.size() ? -1 : 1;
      if (x != y) return x < y ? -1 : 1;
      i = ie;
      j = je;
    } else {
      if (a[i] != b[j]) return static_cast<unsigned char>(a[i]) < static_cast<unsigned char>(b[j]) ? -1 : 1;
      ++i;
      ++j;
    }
  }
  if (i < a.size()) return 1;
  if (j < b.size()) return -1;
  return 0;
}

}  // namespace kestrix::collector
