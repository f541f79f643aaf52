// The mail client channels: a mail handed to the system's MAPI mail client
// (with attachments), or a "mailto:" link handed to the registered mail
// program (text only).
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace kestrix {

// MAPISendMail of "mapi32.dll" (found at run time) with the recipients as
// primary recipients and the files attached under their send-as names.
// Without a dialog only when hidden and recipients exist. A topmost parent
// is taken out of the topmost layer during the call, and a main thread held
// by the pausing is let go meanwhile. 1 sent, 2 cancelled by the user, 0
// failed (also when the process is blocked).
int SendMapiMail(const std::string& recipients, const std::string& subject, const std::string& body, bool hidden,
                 HWND parent, const std::vector<std::string>& sendAsNames, const std::vector<std::string>& files);

// Starts the command registered for "mailto" links (HKEY_CLASSES_ROOT
// "mailto\shell\open\command", environment variables expanded) with the
// link to the recipients, subject and body. True when the process started.
bool SendMailtoMail(const std::string& recipients, const std::string& subject, const std::string& body);

}  // namespace kestrix
