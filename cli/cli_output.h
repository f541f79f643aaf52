// The console front end's two output forms of one analysis.
#pragma once

#include <string>

#include "analyzer/analysis.h"

namespace quorrin {

struct TCliResult {
  TStringList log;
  const TUnitTree* tree = nullptr;
  const TOrderList* order = nullptr;
  bool failed = false;
  std::string error;
};

// Headed blocks: the log, the tree (two blanks of indent per level), the order.
std::string FormatText(const TCliResult& result);
// One JSON object with the keys "log", "tree", "order", "sections" (and
// "error" after a failure).
std::string FormatJson(const TCliResult& result);

}  // namespace quorrin
