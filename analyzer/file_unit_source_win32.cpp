#include "analyzer/file_unit_source.h"

#include "analyzer/file_stream.h"

namespace quorrin {

std::string TFileUnitSource::ReadWholeFile(const std::string& path, bool unitFile) {
  TFileStream stream(path, fmOpenRead | (unitFile ? fmShareDenyWrite : fmShareDenyNone));
  std::string bytes(static_cast<size_t>(stream.Size()), '\0');
  // A read that fails half-way leaves what was read, as the scanners would.
  bytes.resize(static_cast<size_t>(stream.Read(bytes.data(), stream.Size())));
  return bytes;
}

}  // namespace quorrin
