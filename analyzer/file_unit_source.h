// The compiler-order analysis's access to the file system: lookups with the
// window's search rules and log lines, whole-file reads.
#pragma once

#include <string>

#include "analyzer/analysis.h"
#include "analyzer/compiler_analysis.h"

namespace quorrin {

class TFileUnitSource : public IUnitSource {
 public:
  TFileUnitSource(IAnalysisLog& log, TStringList searchPaths)
      : finder_(log, unusedRecords_, std::move(searchPaths)) {}

  std::string FindUnitFile(const std::string& fileName) override { return finder_.FindUnitFile(fileName); }
  // Unit files are opened as the section scan opens them (others may only
  // read), project files as the clause scan does (others may do anything).
  std::string ReadWholeFile(const std::string& path, bool unitFile) override;

 private:
  TLoadedUnitList unusedRecords_;
  TProjectAnalyzer finder_;  // its lookup only
};

}  // namespace quorrin
