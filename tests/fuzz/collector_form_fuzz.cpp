// kxcollect's upload form from any bytes: the form, then the report and
// archives found in it.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "collector/intake.h"
#include "collector/multipart_form.h"
#include "report_ui/delivery/http_upload_request.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrix::collector;
  std::string_view body(reinterpret_cast<const char*>(data), size);
  std::vector<TFormPart> parts;
  std::string error;
  if (!ParseMultipartForm(body, kestrix::kUploadBoundary, parts, error)) {
    if (error.empty()) __builtin_trap();
    return 0;
  }
  size_t total = 0;
  for (const TFormPart& p : parts) total += p.content.size();
  if (total > size) __builtin_trap();
  TSubmission s;
  if (SubmissionFromForm(parts, s, error) && s.report.substr(0, 9) != "date/time") __builtin_trap();
  return 0;
}
