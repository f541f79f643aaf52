// The order list's match on Windows: the comparison the list control makes,
// as the sort key of the user locale with case ignored, of the text read in
// the ANSI code page.
#include <windows.h>

#include "analyzer/list_match.h"

namespace quorrin {

std::string ListMatchKey(std::string_view text) {
  if (text.empty()) return {};
  const int bytes = static_cast<int>(text.size());
  std::wstring wide(text.size(), L'\0');  // never more characters than bytes
  const int chars = MultiByteToWideChar(CP_ACP, 0, text.data(), bytes, wide.data(), bytes);
  constexpr DWORD flags = LCMAP_SORTKEY | NORM_IGNORECASE;
  const int size = LCMapStringW(LOCALE_USER_DEFAULT, flags, wide.data(), chars, nullptr, 0);
  if (size <= 0) return std::string(text);  // no key: the text matches only itself
  std::string key(static_cast<size_t>(size), '\0');
  LCMapStringW(LOCALE_USER_DEFAULT, flags, wide.data(), chars, reinterpret_cast<LPWSTR>(key.data()), size);
  return key;
}

}  // namespace quorrin
