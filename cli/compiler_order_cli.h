// The console front end of the compiler-order analysis.
#pragma once

#include <string>

#include "analyzer/analysis.h"
#include "cli/cli_output.h"

namespace quorrin {

enum class TCompilerOrderOutput {
  None,   // the window's analysis
  Order,  // --compiler-order: log, tree, order (and cycles in the JSON)
  Cycles, // --cycles: the cycles alone
  Dot,    // --dot: the uses graph as Graphviz DOT
};

// Takes one of the mode options into output: 1 when arg was one, 0 when
// not, -1 when it contradicts an earlier one (--cycles beside --dot).
// --compiler-order beside --cycles or --dot changes nothing.
int TakeCompilerOrderOption(const std::string& arg, TCompilerOrderOutput& output);

// Runs the analysis of projectFile (a full path) and writes the output;
// returns the exit code: 0, or 2 after an error (its message on stderr).
int RunCompilerOrder(TCliResult& result, IAnalysisLog& log, const std::string& projectFile,
                     const TStringList& searchPaths, TCompilerOrderOutput output, bool json);

}  // namespace quorrin
