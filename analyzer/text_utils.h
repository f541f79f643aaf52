// Byte-string helpers with the runtime's rules: ASCII case folding, file-name
// parts split at the last '\' or ':', comma-text splitting.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace quorrin {

using TStringList = std::vector<std::string>;

char LowerAscii(char c);
std::string LowerAscii(std::string_view s);
// Equal ignoring the case of ASCII letters (equal length required).
bool SameTextAscii(std::string_view a, std::string_view b);

// Index just after the last '\' or ':' (0 when there is none).
size_t FileNameStart(std::string_view path);
// The text from the last '.' after the last '\' or ':'; empty when none.
std::string ExtractFileExt(std::string_view path);
// The name without its directory: the part after the last '\' or ':'.
std::string ExtractFileName(std::string_view path);
// Everything before the last '\' or ':'; the last '\' is dropped unless the
// character before it is also '\' or ':' (C:\proj\a.dpr -> C:\proj,
// C:\a.dpr -> C:\).
std::string ExtractFileDir(std::string_view path);
bool HasDirectoryPart(std::string_view path);

// Splits text into items by the runtime's comma-text rules (delimiter ',',
// quote '"'); blanks and control characters separate items too.
TStringList SplitCommaText(std::string_view text);

// The lines of a memo's text: split at CR LF; a last line that is empty
// does not count.
TStringList SplitMemoLines(std::string_view text);
std::string JoinLines(const TStringList& lines, std::string_view separator);

}  // namespace quorrin
