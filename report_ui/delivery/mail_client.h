// The mail client channels' portable parts: the recipients and result of a
// MAPI mail, and the command line that hands a "mailto:" link to the
// registered mail client.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrix {

// One primary recipient of a MAPI mail: the display name and the
// "SMTP:"-prefixed address.
struct TMapiRecipient {
  std::string name, address;
};

// The recipients normalised and split at ",": "Ann <ann@x.test>" gives the
// name "Ann" and the address "SMTP:ann@x.test"; a bare address is both
// name and address. Blanks around the name are dropped; a name that would
// be empty ("<ann@x.test>") is the bare address, since mail clients cannot
// resolve a recipient without one.
std::vector<TMapiRecipient> MapiRecipients(const std::string& recipients);

// MAPISendMail's result as the dispatcher counts it: 1 sent, 2 cancelled
// by the user, 0 failed.
int MapiSendResult(uint32_t mapiResult);

// The escape set of a "mailto:" link's subject and body: LF, CR, blank,
// double quote, "#", "%", "+", "<", ">", "?".
const bool (&MailtoCharSet())[256];

// "mailto:" + normalised recipients + "?subject=" + subject + "&body=" +
// body, subject and body escaped with "%".
std::string MailtoLink(const std::string& recipients, const std::string& subject, const std::string& body);

// The longest command line a process can be started with.
inline constexpr size_t kMaxCommandLine = 32766;

// The registered command with the link in place of every "%1" (the link
// itself is not searched again), or appended after a blank (none when the
// command ends with one). A result longer than `limit` is cut to `limit`
// characters, or one or two fewer so that it does not end inside a "%XX"
// escape.
std::string MailtoCommandLine(const std::string& command, const std::string& link,
                              size_t limit = kMaxCommandLine);

// The length to cut `text` to so that it is at most `limit` long and does
// not end inside a three-character "%" escape.
size_t MailtoCutLength(const std::string& text, size_t limit);

}  // namespace kestrix
