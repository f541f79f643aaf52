// Both uses clauses of a unit in one pass over its text: the interface
// clause exactly as the window's scanner reads it, and the clause that
// follows the keyword "implementation", read with the same comment, keyword
// and comma-text rules.
#pragma once

#include "analyzer/stream.h"
#include "analyzer/text_utils.h"

namespace quorrin {

struct TUnitClauses {
  TStringList Interface;       // for a project file: the program's clause
  TStringList Implementation;  // always empty for a project file
};

// The implementation clause is looked for after the point where the
// interface scan stopped: the first "implementation" that stands as a word
// of its own (no letter, digit or underscore beside it) starts it, and only
// a "uses" before the first ";" after that keyword counts, since a uses
// clause must come first in the section.
TUnitClauses GetUnitClausesFromStream(TStream& stream, bool projectFile);

}  // namespace quorrin
