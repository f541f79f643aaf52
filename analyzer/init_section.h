// The initialization section of a unit, found by scanning the file backwards
// from its last byte to the first keyword "initialization", "begin" or "end;".
#pragma once

#include <string>

#include "analyzer/stream.h"

namespace quorrin {

// Returns the bytes from the keyword through the end of the stream, or an
// empty string when "end;" comes first, no keyword is found or a read fails.
// The first byte of the stream is never examined.
std::string GetInitializationSectionFromStream(TStream& stream);

}  // namespace quorrin
