// Turning uploads, bug report files and mails into reports (see intake.h).
#include "collector/intake.h"

#include <cctype>

#include "collector/report_facts.h"
#include "collector/zip_reader.h"
#include "crash/settings/kx_cipher.h"

namespace kestrix::collector {

namespace {

bool IsReportText(std::string_view data) {
  if (data.substr(0, 3) == "\xEF\xBB\xBF") data.remove_prefix(3);
  return data.substr(0, 9) == "date/time";
}

bool IsPng(std::string_view data) { return data.substr(0, 8) == std::string_view("\x89PNG\r\n\x1a\n", 8); }

std::string Lower(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string TrimText(std::string_view s) {
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
  while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
  return std::string(s);
}

// The submission from collected files: the report (the newest of a report
// file), the rest as its files.
bool FromFiles(std::vector<TIncomingFile>& files, TSubmission& s, std::string& error) {
  if (!CollectFiles(files, error)) return false;
  int reportAt = -1;
  for (size_t i = 0; i < files.size(); ++i) {
    if (files[i].kind != "report") continue;
    if (reportAt < 0 || files[i].field == "BugReport") reportAt = static_cast<int>(i);
  }
  if (reportAt < 0) {
    error = "no bug report in the upload";
    return false;
  }
  const std::vector<std::string> reports = SplitBugReportFile(files[reportAt].data);
  if (reports.empty()) {
    error = "no bug report in the upload";
    return false;
  }
  s.report = reports.back();
  s.count = 1;  // one upload or mail, one occurrence
  for (size_t i = 0; i < files.size(); ++i)
    if (static_cast<int>(i) != reportAt) s.files.push_back(std::move(files[i]));
  return true;
}

// Mail: header fields (unfolded) and body.
struct TMimePart {
  std::vector<std::pair<std::string, std::string>> headers;  // lower-case name, value
  std::string body;
  std::string Header(const char* name) const {
    for (const auto& [n, v] : headers)
      if (n == name) return v;
    return std::string();
  }
};

TMimePart SplitMime(std::string_view text) {
  TMimePart part;
  size_t at = 0;
  std::string current;
  auto flush = [&] {
    const size_t colon = current.find(':');
    if (colon != std::string::npos) part.headers.emplace_back(Lower(TrimText(current.substr(0, colon))), TrimText(current.substr(colon + 1)));
    current.clear();
  };
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    at = end + 1;
    if (line.empty()) break;
    if ((line[0] == ' ' || line[0] == '\t') && !current.empty()) {
      current += ' ';
      current += TrimText(line);
    } else {
      flush();
      current = std::string(line);
    }
  }
  flush();
  part.body = at < text.size() ? std::string(text.substr(at)) : std::string();
  return part;
}

// A parameter of a header value: boundary="…", name=…, filename="…".
std::string Parameter(const std::string& value, const char* name) {
  const std::string lower = Lower(value);
  const std::string key = std::string(name) + "=";
  size_t p = 0;
  while ((p = lower.find(key, p)) != std::string::npos) {
    if (p == 0 || lower[p - 1] == ';' || lower[p - 1] == ' ' || lower[p - 1] == '\t') break;
    ++p;
  }
  if (p == std::string::npos) return std::string();
  p += key.size();
  if (p < value.size() && value[p] == '"') {
    const size_t close = value.find('"', p + 1);
    return value.substr(p + 1, close == std::string::npos ? std::string::npos : close - p - 1);
  }
  const size_t end = value.find(';', p);
  return TrimText(value.substr(p, end == std::string::npos ? std::string::npos : end - p));
}

// Base64 with its line breaks (a damaged body decodes to nothing).
std::string DecodeBase64(std::string_view in) {
  std::string text, data;
  for (char c : in)
    if (!std::isspace(static_cast<unsigned char>(c))) text += c;
  return Base64Decode(text, data) ? data : std::string();
}

std::string DecodeQuotedPrintable(std::string_view in) {
  std::string out;
  for (size_t i = 0; i < in.size(); ++i) {
    if (in[i] == '=' && i + 1 < in.size() && (in[i + 1] == '\r' || in[i + 1] == '\n')) {
      i += in[i + 1] == '\r' && i + 2 < in.size() && in[i + 2] == '\n' ? 2 : 1;
    } else if (in[i] == '=' && i + 2 < in.size() && std::isxdigit(static_cast<unsigned char>(in[i + 1])) &&
               std::isxdigit(static_cast<unsigned char>(in[i + 2]))) {
      out += static_cast<char>(std::stoi(std::string(in.substr(i + 1, 2)), nullptr, 16));
      i += 2;
    } else {
      out += in[i];
    }
  }
  return out;
}

std::string DecodeBody(const TMimePart& part) {
  const std::string encoding = Lower(part.Header("content-transfer-encoding"));
  if (encoding == "base64") return DecodeBase64(part.body);
  if (encoding == "quoted-printable") return DecodeQuotedPrintable(part.body);
  return part.body;
}

// The leaves of a MIME tree, depth first; depth limited against hostile nesting.
void Leaves(std::string_view text, std::vector<TMimePart>& leaves, int depth) {
  TMimePart part = SplitMime(text);
  const std::string type = Lower(part.Header("content-type"));
  const std::string boundary = Parameter(part.Header("content-type"), "boundary");
  if (type.rfind("multipart/", 0) != 0 || boundary.empty() || depth > 8) {
    leaves.push_back(std::move(part));
    return;
  }
  const std::string delimiter = "--" + boundary;
  size_t at = part.body.find(delimiter);
  while (at != std::string::npos) {
    size_t start = part.body.find('\n', at);
    if (start == std::string::npos || part.body.compare(at + delimiter.size(), 2, "--") == 0) break;
    ++start;
    size_t next = part.body.find("\n" + delimiter, start);
    if (next == std::string::npos) break;
    size_t end = next;
    if (end > start && part.body[end - 1] == '\r') --end;
    Leaves(std::string_view(part.body).substr(start, end - start), leaves, depth + 1);
    at = next + 1;
  }
}

}  // namespace

std::string SafeFileName(const std::string& name) {
  std::string base = name.substr(name.find_last_of("\\/") == std::string::npos ? 0 : name.find_last_of("\\/") + 1);
  std::string out;
  for (char c : base)
    if (static_cast<unsigned char>(c) >= 32 && c != 127) out += c;
  if (out.size() > 200) out.resize(200);
  if (out.empty() || out == "." || out == "..") out = "attachment";
  return out;
}

bool CollectFiles(std::vector<TIncomingFile>& files, std::string& error) {
  std::vector<TIncomingFile> out;
  for (TIncomingFile& f : files) {
    if (LooksLikeZip(f.data)) {
      std::vector<TZipEntry> entries;
      if (!ReadZipArchive(f.data, entries, error)) {
        error = SafeFileName(f.name) + ": " + error;
        return false;
      }
      for (TZipEntry& e : entries) {
        if (!e.name.empty() && e.name.back() == '/') continue;  // a folder entry
        TIncomingFile member;
        member.name = SafeFileName(e.name);
        member.field = f.field;
        member.data = std::move(e.content);
        out.push_back(std::move(member));
      }
    } else {
      f.name = SafeFileName(f.name);
      out.push_back(std::move(f));
    }
  }
  for (TIncomingFile& f : out) f.kind = IsReportText(f.data) ? "report" : IsPng(f.data) ? "screenshot" : "file";
  files = std::move(out);
  return true;
}

bool SubmissionFromForm(const std::vector<TFormPart>& parts, TSubmission& s, std::string& error) {
  s = TSubmission();
  s.source = "upload";
  std::vector<TIncomingFile> files;
  for (const TFormPart& p : parts) {
    if (p.isFile) {
      files.push_back({p.fileName, p.name, "", p.content});
    } else if (p.name == "MinDebugInfo") {
      s.fingerprint = TrimText(p.content);
    }
  }
  return FromFiles(files, s, error);
}

std::vector<TSubmission> SubmissionsFromReportFile(std::string_view file, const std::string& source) {
  std::vector<TSubmission> out;
  for (std::string& report : SplitBugReportFile(file)) {
    TSubmission s;
    s.source = source;
    s.report = std::move(report);
    s.count = 0;  // the report's own "count"
    out.push_back(std::move(s));
  }
  return out;
}

bool SubmissionFromMail(std::string_view mail, TSubmission& s, std::string& error) {
  s = TSubmission();
  s.source = "mail";
  std::vector<TMimePart> leaves;
  Leaves(mail, leaves, 0);
  std::vector<TIncomingFile> files;
  std::string bodyText;
  for (const TMimePart& leaf : leaves) {
    const std::string disposition = leaf.Header("content-disposition");
    std::string name = Parameter(disposition, "filename");
    if (name.empty()) name = Parameter(leaf.Header("content-type"), "name");
    if (!name.empty() || Lower(disposition).rfind("attachment", 0) == 0) {
      files.push_back({name, "", "", DecodeBody(leaf)});
    } else if (bodyText.empty()) {
      bodyText = DecodeBody(leaf);
    }
  }
  std::string ignored;
  if (FromFiles(files, s, error)) return true;
  // The mail client's channel sends the report as the body itself.
  const size_t at = bodyText.find("date/time");
  if (at != std::string::npos) {
    std::vector<TIncomingFile> body{{"bugreport.txt", "", "", bodyText.substr(at)}};
    if (FromFiles(body, s, ignored)) {
      for (TIncomingFile& f : files) s.files.push_back(std::move(f));
      return true;
    }
  }
  return false;
}

std::vector<std::string> SplitMbox(std::string_view mbox) {
  std::vector<std::string> messages;
  std::string current;
  bool inMessage = false;
  size_t at = 0;
  while (at < mbox.size()) {
    size_t end = mbox.find('\n', at);
    if (end == std::string_view::npos) end = mbox.size();
    std::string_view line = mbox.substr(at, end - at + (end < mbox.size() ? 1 : 0));
    at = end + 1;
    if (line.substr(0, 5) == "From ") {
      if (inMessage) messages.push_back(std::move(current));
      current.clear();
      inMessage = true;
      continue;
    }
    if (!inMessage) continue;
    // ">From " lines were quoted by the mailbox (mboxrd: any number of ">").
    size_t quotes = 0;
    while (quotes < line.size() && line[quotes] == '>') ++quotes;
    if (quotes > 0 && line.substr(quotes, 5) == "From ") line.remove_prefix(1);
    current += line;
  }
  if (inMessage) messages.push_back(std::move(current));
  return messages;
}

}  // namespace kestrix::collector
