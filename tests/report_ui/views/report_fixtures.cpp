#include "report_fixtures.h"

#include <fstream>
#include <sstream>
#include <stdexcept>

namespace kestrix::views {

namespace {

std::vector<std::string> Split(const std::string& text, const std::string& by) {
  std::vector<std::string> out;
  size_t begin = 0;
  for (;;) {
    const size_t end = text.find(by, begin);
    out.push_back(text.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
    if (end == std::string::npos) return out;
    begin = end + by.size();
  }
}

}  // namespace

TStoredReport LoadStoredReport(const std::string& name) {
  std::ifstream in(std::string(REPORT_FIXTURES) + "/" + name, std::ios::binary);
  if (!in) throw std::runtime_error("no fixture " + name);
  std::stringstream buffer;
  buffer << in.rdbuf();
  std::string text = buffer.str();
  // The file's last report: the one after the last "\r\n\r\ndate/time".
  const size_t last = text.rfind("\r\n\r\ndate/time");
  if (last != std::string::npos) text = text.substr(last + 4);
  while (text.size() >= 2 && text.compare(text.size() - 2, 2, "\r\n") == 0) text.resize(text.size() - 2);
  TStoredReport r;
  const std::vector<std::string> blocks = Split(text, "\r\n\r\n");
  for (const std::string& line : Split(blocks[0], "\r\n")) {
    const size_t colon = line.find(": ");
    std::string item = line.substr(0, colon);
    item.erase(item.find_last_not_of(' ') + 1);
    r.header.emplace_back(item, colon == std::string::npos ? std::string() : line.substr(colon + 2));
  }
  for (size_t b = 1; b < blocks.size(); ++b) {
    std::vector<std::string> lines = Split(blocks[b], "\r\n");
    std::string title = lines[0];
    if (!title.empty() && title.back() == ':') title.pop_back();
    std::string content;
    for (size_t i = 1; i < lines.size(); ++i) {
      if (i > 1) content += "\r\n";
      content += lines[i] == "." ? std::string() : lines[i];
    }
    r.sections.emplace_back(title, content);
  }
  return r;
}

}  // namespace kestrix::views
