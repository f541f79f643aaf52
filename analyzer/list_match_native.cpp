// The order list's match off Windows, where no list control decides it:
// code page 1252's.
#include "analyzer/list_match.h"

namespace quorrin {

std::string ListMatchKey(std::string_view text) { return FoldAnsi1252(text); }

}  // namespace quorrin
