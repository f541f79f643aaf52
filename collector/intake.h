// What arrives, turned into reports to store: an upload's form (its zip
// archives unpacked), a bug report file, a mailbox (mbox file or Maildir
// folder) of mailed reports.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "collector/multipart_form.h"
#include "collector/report_store.h"

namespace kestrix::collector {

// The files of an upload or a mail: zip archives unpacked, each file's kind
// told by its content (a bug report begins with "date/time", a screenshot is
// a PNG). Names are kept as sent, without any folder part.
bool CollectFiles(std::vector<TIncomingFile>& files, std::string& error);

// One report per submission: the newest report of the uploaded report file
// (an upload is one occurrence); fields: "MinDebugInfo" names the build's
// ".kx" file. False with the reason when there is no report.
bool SubmissionFromForm(const std::vector<TFormPart>& parts, TSubmission& submission, std::string& error);

// Every report of a bug report file, each with its "count".
std::vector<TSubmission> SubmissionsFromReportFile(std::string_view file, const std::string& source);

// One mail (RFC 5322 with MIME parts, Base64 or quoted-printable): the
// report from its attachments, else the body when the body is a report.
bool SubmissionFromMail(std::string_view mail, TSubmission& submission, std::string& error);

// The messages of an mbox file ("From " lines, ">From " unquoted).
std::vector<std::string> SplitMbox(std::string_view mbox);

// A file name with any folder part and control characters removed; never
// empty, never "." or "..".
std::string SafeFileName(const std::string& name);

}  // namespace kestrix::collector
