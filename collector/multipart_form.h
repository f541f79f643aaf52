// The multipart/form-data body of an upload, as the library's HTTP upload
// writes it: fields and files, each with its name and (for a file) the
// name it is sent as. Strict: anything else is refused with the reason.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrix::collector {

struct TFormPart {
  std::string name;
  std::string fileName;  // empty for a plain field
  bool isFile = false;
  std::string content;
};

// The boundary of a "multipart/form-data; boundary=…" content type; empty
// when the type is another or the boundary is missing or malformed.
std::string FormBoundary(std::string_view contentType);

// False with the reason when body is not a complete form with that
// boundary. At most maxParts parts.
bool ParseMultipartForm(std::string_view body, const std::string& boundary, std::vector<TFormPart>& parts,
                        std::string& error, size_t maxParts = 256);

}  // namespace kestrix::collector
