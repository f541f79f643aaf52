#include "analyzer/analysis.h"

#include "analyzer/file_stream.h"
#include "analyzer/init_section.h"
#include "analyzer/platform_fs.h"
#include "analyzer/uses_clause.h"

namespace quorrin {

TStringList GetUsesList(const std::string& fileName) {
  const bool project = IsProjectFile(fileName);
  TTextFileStream stream(fileName, fmOpenRead | fmShareDenyNone);
  return GetUsesListFromStream(stream, project);
}

std::string GetInitializationSection(const std::string& fileName) {
  TFileStream stream(fileName, fmOpenRead | fmShareDenyWrite);
  return GetInitializationSectionFromStream(stream);
}

void EnterProjectDirectory(const std::string& projectFile, IAnalysisLog& log) {
  SetCurrentDir(ExtractFileDir(projectFile));  // a failure shows in the log line
  log.Log("current dir: " + GetCurrentDir());
}

void TProjectAnalyzer::AnalyzeProject(const std::string& projectFile) {
  tree_.Clear();
  order_.Clear();
  const int root = tree_.AddNode(-1, ExtractFileName(projectFile));
  LoadUnit(projectFile, root);
  AddInitOrder(root);
}

bool TProjectAnalyzer::EnterUnit(const std::string& fileName, int node, TStringList& list) {
  tree_[node].Data = nullptr;
  std::string path = fileName;
  if (SameTextAscii(ExtractFileExt(fileName), ".pas")) {
    const int idx = IndexOfLoadedUnit(fileName);
    if (idx != -1) {
      tree_[node].Data = loadedUnits_[idx];
      return false;  // met before: a leaf
    }
    if (!HasDirectoryPart(fileName)) path = FindUnitFile(fileName);
    // One open serves both scans of a new unit. The section scan's mode
    // (others may only read) is the stricter: whenever it opens the file,
    // the clause scan's mode (others may do anything) would open it too.
    std::unique_ptr<TFileStream> file;
    std::string initText;
    if (!path.empty()) {
      file = std::make_unique<TFileStream>(path, fmOpenRead | fmShareDenyWrite);
      initText = GetInitializationSectionFromStream(*file);
    }
    auto record = std::make_unique<TLoadedUnit>();
    record->UnitFile = fileName;
    record->FullPath = path;
    record->InitText = std::move(initText);
    tree_[node].Data = loadedUnits_.Add(std::move(record));
    if (!file) return false;  // not found: a leaf
    file->Seek(0, SeekOrigin::Beginning);
    list = GetUsesListFromStream(*file, IsProjectFile(path));
    return true;
  }
  list = GetUsesList(path);
  return true;
}

void TProjectAnalyzer::LoadUnit(const std::string& fileName, int node) {
  // Depth-first in clause order with an explicit stack: the dependency tree
  // may be far deeper than the thread's stack allows recursion.
  struct Frame {
    int node;
    TStringList names;
    size_t next = 0;
  };
  std::vector<Frame> stack;
  TStringList names;
  if (EnterUnit(fileName, node, names)) stack.push_back({node, std::move(names)});
  while (!stack.empty()) {
    Frame& top = stack.back();
    if (top.next == top.names.size()) {
      stack.pop_back();
      continue;
    }
    std::string childName = top.names[top.next++] + ".pas";
    const int child = tree_.AddNode(top.node, childName);
    TStringList childNames;
    if (EnterUnit(childName, child, childNames)) stack.push_back({child, std::move(childNames)});
  }
}

std::string TProjectAnalyzer::FindUnitFile(const std::string& fileName) {
  std::string result;
  if (files_.FileExists(fileName)) {
    result = ExpandFileName(fileName);
  } else {
    for (size_t i = searchPaths_.size(); i-- > 0;) {
      std::string candidate = searchPaths_[i];
      if (candidate.empty() || candidate.back() != '\\') candidate += '\\';
      candidate += fileName;
      if (files_.FileExists(candidate)) {
        result = ExpandFileName(candidate);
        break;
      }
      log_.Log("file \"" + candidate + "\" not found. expands to: " + ExpandFileName(candidate));
    }
  }
  log_.Log("found actual unit for \"" + fileName + "\": " + result);
  return result;
}

void TProjectAnalyzer::AddInitOrder(int node) {
  // Post-order walk: children first to last, then the node itself.
  std::vector<std::pair<int, size_t>> stack{{node, 0}};
  while (!stack.empty()) {
    auto& [current, next] = stack.back();
    const TTreeNode& n = tree_[current];
    if (next < n.Children.size()) {
      stack.emplace_back(n.Children[next++], 0);
      continue;
    }
    if (order_.IndexOf(n.Text) == -1) order_.Add(n.Text, n.Data);
    stack.pop_back();
  }
}

std::string SectionViewText(const TLoadedUnit* unit) {
  if (!unit) return "object not found";
  if (unit->FullPath.empty()) return unit->UnitFile + " : unit file not found in project search path or IDE library path";
  return unit->FullPath + "\r\n\r\n" + unit->InitText;
}

}  // namespace quorrin
