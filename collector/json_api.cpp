// The API's JSON (see json_api.h).
#include "collector/json_api.h"

#include <cstdio>

namespace kestrix::collector {

namespace {

// The length of a valid UTF-8 sequence at text[i], 0 when there is none.
size_t Utf8Length(const std::string& text, size_t i) {
  const auto c = static_cast<unsigned char>(text[i]);
  size_t n = c >= 0xf0 && c <= 0xf4 ? 4 : c >= 0xe0 ? 3 : c >= 0xc2 && c < 0xe0 ? 2 : 0;
  if (n == 0 || i + n > text.size()) return 0;
  for (size_t k = 1; k < n; ++k)
    if ((static_cast<unsigned char>(text[i + k]) & 0xc0) != 0x80) return 0;
  return n;
}

std::string GroupFields(const TGroupRow& g) {
  std::string out = "\"id\":" + std::to_string(g.id) + ",\"count\":" + std::to_string(g.count) +
                    ",\"users\":" + std::to_string(g.users) + ",\"exceptionClass\":" + JsonString(g.exceptionClass) +
                    ",\"exceptionMessage\":" + JsonString(g.exceptionMessage) + ",\"location\":" +
                    JsonString(g.location) + ",\"executable\":" + JsonString(g.executable) + ",\"firstSeen\":" +
                    JsonString(g.firstSeen) + ",\"lastSeen\":" + JsonString(g.lastSeen) + ",\"versions\":[";
  size_t begin = 0;
  bool first = true;
  while (!g.versions.empty() && begin <= g.versions.size()) {
    size_t end = g.versions.find(", ", begin);
    if (end == std::string::npos) end = g.versions.size();
    out += (first ? "" : ",") + JsonString(g.versions.substr(begin, end - begin));
    first = false;
    begin = end + 2;
  }
  out += "],\"fixedIn\":" + (g.fixedIn.empty() ? std::string("null") : JsonString(g.fixedIn));
  out += ",\"regression\":" + std::string(g.regressionIn.empty() ? "false" : "true");
  out += ",\"regressionIn\":" + (g.regressionIn.empty() ? std::string("null") : JsonString(g.regressionIn));
  return out;
}

}  // namespace

std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (size_t i = 0; i < text.size(); ++i) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (const size_t n = Utf8Length(text, i)) {
      out.append(text, i, n);
      i += n - 1;
    } else {
      out += static_cast<char>(0xc0 | c >> 6);
      out += static_cast<char>(0x80 | (c & 0x3f));
    }
  }
  return out + "\"";
}

std::string GroupsJson(const std::vector<TGroupRow>& groups) {
  std::string out = "[";
  for (size_t i = 0; i < groups.size(); ++i) out += (i ? ",{" : "{") + GroupFields(groups[i]) + "}";
  return out + "]";
}

std::string GroupJson(const TGroupDetail& d, const std::vector<std::vector<TAttachmentRow>>& files) {
  std::string out = "{" + GroupFields(d.group) + ",\"reportCount\":" + std::to_string(d.reportCount) + ",\"days\":[";
  for (size_t i = 0; i < d.days.size(); ++i)
    out += (i ? "," : "") + std::string("{\"day\":") + JsonString(d.days[i].first) +
           ",\"count\":" + std::to_string(d.days[i].second) + "}";
  out += "],\"reports\":[";
  for (size_t i = 0; i < d.reports.size(); ++i) {
    const TReportRow& r = d.reports[i];
    out += (i ? "," : "") + std::string("{\"id\":") + std::to_string(r.id) + ",\"received\":" + JsonString(r.received) +
           ",\"occurred\":" + JsonString(r.occurred) + ",\"computer\":" + JsonString(r.computer) +
           ",\"version\":" + JsonString(r.version) + ",\"count\":" + std::to_string(r.count) +
           ",\"source\":" + JsonString(r.source) + ",\"named\":" + (r.named ? "true" : "false") + ",\"files\":[";
    if (i < files.size()) {
      for (size_t k = 0; k < files[i].size(); ++k) {
        const TAttachmentRow& a = files[i][k];
        out += (k ? "," : "") + std::string("{\"name\":") + JsonString(a.name) + ",\"kind\":" + JsonString(a.kind) +
               ",\"field\":" + JsonString(a.field) + ",\"size\":" + std::to_string(a.size) + ",\"sha256\":" +
               JsonString(a.hash) + ",\"url\":" +
               JsonString("/reports/" + std::to_string(r.id) + "/files/" + std::to_string(a.position)) + "}";
      }
    }
    out += "]}";
  }
  return out + "]}";
}

}  // namespace kestrix::collector
