// The texts of a mail (see mail_text.h).
#include "report_ui/mail/mail_text.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "crash/settings/kx_cipher.h"

namespace kestrix::mail {

const char kBoundaryToken[] = "kx30a7c9e2d41b_multipart_boundary";
static_assert(sizeof kBoundaryToken == 34, "the upload's Content-Length rule counts 33 characters");

namespace {

std::string WithoutLineBreaks(const std::string& text) {
  std::string out;
  for (char c : text)
    if (c != '\r' && c != '\n') out += c;
  return out;
}

std::string Trimmed(const std::string& text) {
  size_t b = 0, e = text.size();
  while (b < e && static_cast<unsigned char>(text[b]) <= ' ') ++b;
  while (e > b && static_cast<unsigned char>(text[e - 1]) <= ' ') --e;
  return text.substr(b, e - b);
}

constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
constexpr const char kHex[] = "0123456789ABCDEF";

struct TSubjectSet {
  bool set[256] = {};
  TSubjectSet() {
    for (int c = 0; c < 256; ++c)
      set[c] = c <= 47 || (c >= 58 && c <= 64) || (c >= 91 && c <= 96) || c >= 123;
  }
};

}  // namespace

std::string AngleAddress(const std::string& address, bool headerForm) {
  const std::string clean = WithoutLineBreaks(address);
  const size_t lt = clean.find('<');
  if (lt == std::string::npos) return "<" + clean + ">";
  return headerForm ? clean : clean.substr(lt);
}

int NormalizeRecipients(std::string& recipients) {
  std::replace(recipients.begin(), recipients.end(), ';', ',');
  std::string out;
  int count = 0;
  size_t start = 0;
  while (start <= recipients.size()) {
    size_t comma = recipients.find(',', start);
    if (comma == std::string::npos) comma = recipients.size();
    const std::string item = Trimmed(recipients.substr(start, comma - start));
    if (!item.empty()) {
      if (count++) out += ',';
      out += item;
    }
    start = comma + 1;
  }
  recipients = out;
  return count;
}

std::vector<std::string> SplitRecipients(const std::string& recipients) {
  std::string list = recipients;
  NormalizeRecipients(list);
  std::vector<std::string> out;
  size_t start = 0;
  while (!list.empty() && start <= list.size()) {
    size_t comma = list.find(',', start);
    if (comma == std::string::npos) comma = list.size();
    out.push_back(list.substr(start, comma - start));
    start = comma + 1;
  }
  return out;
}

std::string MailDateText(std::time_t utc) {
  std::tm t{};
#ifdef _WIN32
  gmtime_s(&t, &utc);
#else
  gmtime_r(&utc, &t);
#endif
  char text[48];
  std::snprintf(text, sizeof text, "%d %s %04d %02d:%02d:%02d UT", t.tm_mday, kMonths[t.tm_mon % 12],
                t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

std::string MakeMessageId(uint64_t fileTime) {
  std::string digits(16, '0');
  for (int i = 15; i >= 0; --i, fileTime >>= 4) digits[i] = kHex[fileTime & 15];
  return "<" + digits.substr(1) + "@Kestrix>";
}

std::string EscapeChars(const std::string& text, const bool (&set)[256], char escape) {
  std::string out;
  out.reserve(text.size());
  for (unsigned char c : text) {
    if (set[c]) {
      out += escape;
      out += kHex[c >> 4];
      out += kHex[c & 15];
    } else {
      out += static_cast<char>(c);
    }
  }
  return out;
}

const bool (&SubjectCharSet())[256] {
  static const TSubjectSet set;
  return set.set;
}

std::string EncodeSubject(const std::string& subject) {
  // An encoded word is at most 75 characters: 16 for "=?ISO-8859-1?Q?",
  // 2 for "?=", so up to 57 encoded characters, never splitting an escape.
  constexpr size_t kWordText = 57;
  const std::string escaped = EscapeChars(subject, SubjectCharSet(), '=');
  std::string out;
  size_t i = 0;
  do {
    size_t n = std::min(kWordText, escaped.size() - i);
    if (i + n < escaped.size()) {
      if (n >= 1 && escaped[i + n - 1] == '=') n -= 1;
      else if (n >= 2 && escaped[i + n - 2] == '=') n -= 2;
    }
    if (!out.empty()) out += "\r\n ";
    out += "=?ISO-8859-1?Q?" + escaped.substr(i, n) + "?=";
    i += n;
  } while (i < escaped.size());
  return out;
}

bool BodyNeedsQuotedPrintable(const std::string& body) {
  size_t lineLength = 0;
  for (char c : body) {
    if (c == '\r' || c == '\n') lineLength = 0;
    else if (++lineLength > 998) return true;
  }
  return false;
}

std::string QuotedPrintable(const std::string& body) {
  std::string out;
  size_t column = 0;
  auto put = [&](const std::string& piece) {
    if (column + piece.size() > 75) {
      out += "=\r\n";
      column = 0;
    }
    out += piece;
    column += piece.size();
  };
  for (size_t i = 0; i < body.size(); ++i) {
    const unsigned char c = body[i];
    if (c == '\r' && i + 1 < body.size() && body[i + 1] == '\n') {
      out += "\r\n";
      column = 0;
      ++i;
      continue;
    }
    const bool lineEnd = i + 1 == body.size() || body[i + 1] == '\r';
    const bool plain = (c >= 33 && c <= 126 && c != '=' && c != '.') || ((c == ' ' || c == '\t') && !lineEnd);
    if (plain) {
      put(std::string(1, static_cast<char>(c)));
    } else {
      const char escaped[] = {'=', kHex[c >> 4], kHex[c & 15], 0};
      put(escaped);
    }
  }
  return out;
}

std::string DotStuff(const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 64 + 2);
  bool lineStart = true;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r' || c == '\n') {
      out += "\r\n";
      if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
      lineStart = true;
      continue;
    }
    if (lineStart && c == '.') out += '.';
    out += c;
    lineStart = false;
  }
  return out;
}

std::string MailHeaderBlock(const std::string& recipients, const std::string& sender,
                            const std::string& subject, const std::string& date,
                            const std::string& messageId) {
  std::string to;
  for (const std::string& r : SplitRecipients(recipients)) {
    if (!to.empty()) to += ",\r\n ";
    to += AngleAddress(r, true);
  }
  return "To: " + to + "\r\nFrom: " + AngleAddress(sender, true) + "\r\nSubject: " + EncodeSubject(subject) +
         "\r\nDate: " + date + "\r\nMessage-ID: " + messageId + "\r\n";
}

std::string MailBodyPart(const std::string& body, bool withAttachments) {
  const bool qp = BodyNeedsQuotedPrintable(body);
  const std::string text = DotStuff(qp ? QuotedPrintable(body) : body);
  const std::string encoding = qp ? "quoted-printable" : "8bit";
  if (!withAttachments) {
    if (!qp) return "\r\n" + text;
    return "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=\"iso-8859-1\"\r\n"
           "Content-Transfer-Encoding: quoted-printable\r\n\r\n" + text;
  }
  return std::string("MIME-Version: 1.0\r\n") + "Content-Type: multipart/mixed; boundary=\"" + kBoundaryToken +
         "\"\r\n\r\nThis is a multi-part message in MIME format.\r\n\r\n--" + kBoundaryToken +
         "\r\nContent-Type: text/plain; charset=\"iso-8859-1\"\r\nContent-Transfer-Encoding: " + encoding +
         "\r\n\r\n" + text + "\r\n";
}

std::string AttachmentPartHeader(const std::string& path, const std::string& sendAs) {
  std::string lower = path;
  std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
  const bool png = lower.size() >= 4 && lower.compare(lower.size() - 4, 4, ".png") == 0;
  std::string name = WithoutLineBreaks(sendAs);
  name.erase(std::remove(name.begin(), name.end(), '"'), name.end());
  return std::string("--") + kBoundaryToken + "\r\nContent-Type: " + (png ? "image/png" : "application/octet-stream") +
         "; name=\"" + name + "\"\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=\"" +
         name + "\"\r\n\r\n";
}

std::string ClosingBoundary() { return std::string("--") + kBoundaryToken + "--\r\n"; }

std::string Base64Line(const char* data, size_t size) {
  return Base64Encode(std::string(data, size)) + "\r\n";
}

}  // namespace kestrix::mail
