// Fuzz target: a project of up to 16 files, cut from the input at each
// "\n#\n"; the first piece is the project file, the others are units named
// A.pas, B.pas, ... . Runs the compiler-order analysis and checks what must
// hold whatever the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <string>

#include "analyzer/compiler_analysis.h"
#include "analyzer/errors.h"
#include "analyzer/implementation_uses.h"
#include "analyzer/uses_clause.h"

namespace {

using namespace quorrin;

class Files : public IUnitSource, public IAnalysisLog {
 public:
  std::map<std::string, std::string> files;  // lower-case name -> bytes
  std::string FindUnitFile(const std::string& fileName) override {
    return files.count(LowerAscii(fileName)) ? "C:\\p\\" + fileName : std::string();
  }
  std::string ReadWholeFile(const std::string& path, bool) override {
    // Names with a directory part are used as paths and may name nothing.
    const auto it = files.find(LowerAscii(ExtractFileName(path)));
    if (it == files.end()) throw EFOpenError("Cannot open file \"" + path + "\". Not found");
    return it->second;
  }
  void Log(const std::string&) override {}
};

void Check(bool ok) {
  if (!ok) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  Files src;
  size_t start = 0;
  for (int piece = 0; piece < 17 && start <= input.size(); ++piece) {
    size_t end = input.find("\n#\n", start);
    if (end == std::string::npos) end = input.size();
    const std::string text = input.substr(start, end - start);
    src.files[piece == 0 ? "app.dpr" : LowerAscii(std::string(1, static_cast<char>('A' + piece - 1))) + ".pas"] = text;
    // The interface names are the window's, whatever the text.
    TMemoryStream a(text), b(text);
    Check(GetUnitClausesFromStream(a, false).Interface == GetUsesListFromStream(b, false));
    start = end + 3;
  }
  TLoadedUnitList records;
  TCompilerOrderAnalyzer analyzer(src, src, records);
  try {
    analyzer.AnalyzeProject("C:\\p\\App.dpr");
  } catch (const EFOpenError&) {
    Check(analyzer.Order().Count() == 0);
    return 0;
  }
  // Every unit met is placed once; the project comes last.
  Check(static_cast<int>(analyzer.Walk().Order.size()) == analyzer.Graph().Count());
  Check(analyzer.Walk().Order.back() == 0);
  Check(analyzer.Tree().Count() == static_cast<int>(analyzer.Clauses().size()));
  Check(analyzer.Graph().Count() == records.Count() + 1);
  return 0;
}
