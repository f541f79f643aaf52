// quorrin-cli [-I DIR]... [--json] [--compiler-order | --cycles | --dot] PROJECT
// Runs the analysis of the main window without a window, or the
// compiler-order analysis.
#include <fcntl.h>
#include <io.h>

#include <cstdio>
#include <string>

#include "analyzer/analysis.h"
#include "analyzer/errors.h"
#include "analyzer/platform_fs.h"
#include "cli/cli_output.h"
#include "cli/compiler_order_cli.h"

namespace {

using namespace quorrin;

class CollectingLog : public IAnalysisLog {
 public:
  explicit CollectingLog(TStringList& lines) : lines_(lines) {}
  void Log(const std::string& text) override { lines_.push_back(text); }

 private:
  TStringList& lines_;
};

void Write(FILE* f, const std::string& s) { fwrite(s.data(), 1, s.size(), f); }

int Usage() {
  Write(stderr,
        "usage: quorrin-cli [-I DIR]... [--json] [--compiler-order | --cycles | --dot] PROJECT\r\n"
        "  -I DIR            a search directory; the first -I is the first search-path line\r\n"
        "  --json            print one JSON object instead of text\r\n"
        "  --compiler-order  follow implementation uses clauses too and print the\r\n"
        "                    initialization order of Free Pascal's compiler (3.2;\r\n"
        "                    Delphi's compiler was not measured)\r\n"
        "  --cycles          print only the unit cycles of that uses graph\r\n"
        "  --dot             print only that uses graph as Graphviz DOT\r\n");
  return 1;
}

}  // namespace

int main(int argc, char** argv) {
  _setmode(_fileno(stdout), _O_BINARY);
  _setmode(_fileno(stderr), _O_BINARY);
  TStringList searchPaths;
  bool json = false;
  TCompilerOrderOutput compilerOutput = TCompilerOrderOutput::None;
  std::string project;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "-I") {
      if (++i >= argc) return Usage();
      searchPaths.push_back(argv[i]);
    } else if (arg.rfind("-I", 0) == 0 && arg.size() > 2) {
      searchPaths.push_back(arg.substr(2));
    } else if (arg == "--json") {
      json = true;
    } else if (const int taken = TakeCompilerOrderOption(arg, compilerOutput); taken != 0) {
      if (taken < 0) return Usage();
    } else if (arg == "-h" || arg == "--help" || (!arg.empty() && arg[0] == '-') || !project.empty()) {
      return Usage();
    } else {
      project = arg;
    }
  }
  if (project.empty()) return Usage();
  if (compilerOutput == TCompilerOrderOutput::Dot && json) return Usage();

  TCliResult result;
  CollectingLog log(result.log);
  if (compilerOutput != TCompilerOrderOutput::None)
    return RunCompilerOrder(result, log, ExpandFileName(project), searchPaths, compilerOutput, json);
  TLoadedUnitList loadedUnits;
  TProjectAnalyzer analyzer(log, loadedUnits, searchPaths);
  // The file dialog hands over a full path; so does the command line.
  const std::string projectFile = ExpandFileName(project);
  result.tree = &analyzer.Tree();
  try {
    EnterProjectDirectory(projectFile, log);
    analyzer.AnalyzeProject(projectFile);
    result.order = &analyzer.Order();
  } catch (const std::exception& e) {
    result.failed = true;
    result.error = e.what();
  }
  if (json) Write(stdout, FormatJson(result) + "\r\n");
  else WriteText(result, stdout);
  fflush(stdout);
  if (result.failed) {
    Write(stderr, result.error + "\r\n");
    return 2;
  }
  return 0;
}
