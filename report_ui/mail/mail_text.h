// The texts of a mail: addresses, the date and message-id headers, the
// encoded subject, the body as DATA carries it, and the MIME parts of a
// message with attachments.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

namespace kestrix::mail {

// The boundary token of multipart messages and uploads (one for both).
extern const char kBoundaryToken[];

// "<address>" for a bare address; an address with "<" is returned as it is
// (header form) or from its "<" on (envelope form). CR and LF are dropped.
std::string AngleAddress(const std::string& address, bool headerForm);
// ";" becomes ",", every item is trimmed and empty items are dropped;
// returns the number of items.
int NormalizeRecipients(std::string& recipients);
std::vector<std::string> SplitRecipients(const std::string& recipients);

// «6 Dec 2026 16:03:09 UT» for a UTC time.
std::string MailDateText(std::time_t utc);
// "<" + the last 15 of 16 upper-case hex digits of the FILETIME + "@Kestrix>".
std::string MakeMessageId(uint64_t fileTime);

// Bytes of `set` (a 256-entry table) become `escape` and two upper-case hex digits.
std::string EscapeChars(const std::string& text, const bool (&set)[256], char escape);
// The escape set of the subject's encoded words.
const bool (&SubjectCharSet())[256];
// The subject as RFC 2047 Q-encoded words, folded so that no header line
// grows past the protocol's limit.
std::string EncodeSubject(const std::string& subject);

// True when the body must be sent quoted-printable: a line longer than the
// 998 bytes SMTP allows.
bool BodyNeedsQuotedPrintable(const std::string& body);
std::string QuotedPrintable(const std::string& body);
// Bare LF and bare CR become CR LF, and every line that begins with "." gets
// a second one (the receiver removes it).
std::string DotStuff(const std::string& text);

// The header block (To, From, Subject, Date, Message-ID), each line ended by CR LF.
std::string MailHeaderBlock(const std::string& recipients, const std::string& sender,
                            const std::string& subject, const std::string& date,
                            const std::string& messageId);
// What follows the header block: for a mail without attachments the empty
// line and the body; with attachments the MIME preamble and the text part.
std::string MailBodyPart(const std::string& body, bool withAttachments);
// The header lines and empty line before an attachment's Base64 lines.
std::string AttachmentPartHeader(const std::string& path, const std::string& sendAs);
std::string ClosingBoundary();

// One Base64 line (RFC 4648) of up to 57 bytes, with CR LF.
std::string Base64Line(const char* data, size_t size);

}  // namespace kestrix::mail
