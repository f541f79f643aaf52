#include "cli/compiler_order_cli.h"

#include <cstdio>

#include "analyzer/compiler_analysis.h"
#include "analyzer/file_unit_source.h"
#include "cli/cycles_output.h"

namespace quorrin {
namespace {

void Write(FILE* f, const std::string& s) { fwrite(s.data(), 1, s.size(), f); }

}  // namespace

int TakeCompilerOrderOption(const std::string& arg, TCompilerOrderOutput& output) {
  TCompilerOrderOutput mode;
  if (arg == "--compiler-order") mode = TCompilerOrderOutput::Order;
  else if (arg == "--cycles") mode = TCompilerOrderOutput::Cycles;
  else if (arg == "--dot") mode = TCompilerOrderOutput::Dot;
  else return 0;
  if (mode == TCompilerOrderOutput::Order) {
    if (output == TCompilerOrderOutput::None) output = mode;
    return 1;
  }
  if (output != TCompilerOrderOutput::None && output != TCompilerOrderOutput::Order && output != mode) return -1;
  output = mode;
  return 1;
}

int RunCompilerOrder(TCliResult& result, IAnalysisLog& log, const std::string& projectFile,
                     const TStringList& searchPaths, TCompilerOrderOutput output, bool json) {
  TFileUnitSource source(log, searchPaths);
  TLoadedUnitList loadedUnits;
  TCompilerOrderAnalyzer analyzer(source, log, loadedUnits);
  result.tree = &analyzer.Tree();
  result.clauses = &analyzer.Clauses();
  result.graph = &analyzer.Graph();
  try {
    EnterProjectDirectory(projectFile, log);
    analyzer.AnalyzeProject(projectFile);
    result.order = &analyzer.Order();
    result.cycles = &analyzer.Cycles();
  } catch (const std::exception& e) {
    result.failed = true;
    result.error = e.what();
  }
  std::string out;
  if (output == TCompilerOrderOutput::Order) {
    if (json) out = FormatJson(result) + "\r\n";
    else WriteText(result, stdout);
  } else if (!result.failed) {
    // The graph of a failed analysis is incomplete: nothing is printed.
    if (output == TCompilerOrderOutput::Dot) {
      out = FormatDot(analyzer.Graph(), analyzer.Cycles());
    } else if (json) {
      out = "{\"cycles\":";
      AppendCyclesJson(out, analyzer.Graph(), analyzer.Cycles());
      out += "}\r\n";
    } else {
      out = FormatCyclesText(analyzer.Graph(), analyzer.Cycles());
    }
  }
  Write(stdout, out);
  fflush(stdout);
  if (result.failed) {
    Write(stderr, result.error + "\r\n");
    return 2;
  }
  return 0;
}

}  // namespace quorrin
