// Minimal JSON text building. Strings are byte strings whose bytes are taken
// as characters of the same number (Latin-1) and written as UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace quorrin {

void AppendJsonString(std::string& out, std::string_view bytes);

}  // namespace quorrin
