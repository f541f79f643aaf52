// Benchmark of the compiler-order analysis against the floor of reading
// every unit file once.
//
//   compiler_order_bench.exe [UNITS=20000] [RUNS=5] [FOLDER]
//   compiler_order_bench.exe PROJECT.dpr [RUNS=5] [SEARCH-PATH-LINE]...
//
// Writes a project of UNITS units with many cycles into a temporary folder
// (interface uses go down a ranking, implementation uses mostly stay within
// packages of 25 units), then alternates, RUNS times each, with the files in
// the cache:
//   floor     open, read whole and close every unit file the analysis reads
//   compiler  the whole compiler-order analysis: lookups, one read per file,
//             both scans, tree, graph, order and cycles
//   window    the window's analysis of the same project (for comparison)
//   walks     the order walk and the cycle search again over the graph
// and prints the medians, the ratio compiler / floor and how often each
// file was read. With FOLDER the project is written there and kept (for
// timing quorrin-cli --compiler-order against read_floor); otherwise it goes
// to a temporary folder that is removed. Given a project file instead, it
// measures that project (for example one of bench/make_project.py) with the
// search-path lines that follow, relative to the project's folder.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "analyzer/analysis.h"
#include "analyzer/compiler_analysis.h"
#include "analyzer/file_unit_source.h"
#include "analyzer/platform_fs.h"
#include "analyzer/uses_clause.h"

namespace {

using namespace quorrin;
using Clock = std::chrono::steady_clock;

class NullLog : public IAnalysisLog {
 public:
  void Log(const std::string& text) override { bytes += text.size(); }
  size_t bytes = 0;
};

// Counts the reads of each path.
class CountingSource : public IUnitSource {
 public:
  explicit CountingSource(IUnitSource& inner) : inner_(inner) {}
  std::string FindUnitFile(const std::string& fileName) override { return inner_.FindUnitFile(fileName); }
  std::string ReadWholeFile(const std::string& path, bool unitFile) override {
    ++reads[path];
    return inner_.ReadWholeFile(path, unitFile);
  }
  std::map<std::string, int> reads;

 private:
  IUnitSource& inner_;
};

void WriteFileBytes(const std::string& path, const std::string& bytes) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  DWORD written = 0;
  WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
  CloseHandle(h);
}

std::string UnitName(int i) {
  char name[16];
  snprintf(name, sizeof name, "U%05d", i);
  return name;
}

std::string JoinNames(const std::vector<int>& units) {
  std::string s;
  for (size_t k = 0; k < units.size(); ++k) s += (k ? ", " : "") + UnitName(units[k]);
  return s;
}

// A unit of about 2 KB: declarations, routines, an initialization section.
std::string UnitText(int i, const std::vector<int>& intf, const std::vector<int>& impl) {
  const std::string name = UnitName(i);
  std::string t = "unit " + name + ";\r\n\r\n{$mode objfpc}{$H+}\r\n\r\ninterface\r\n\r\n";
  if (!intf.empty()) t += "uses\r\n  " + JoinNames(intf) + ";\r\n\r\n";
  t += "type\r\n  T" + name + "Record = record\r\n    Id: Integer;\r\n    Name: string;\r\n  end;\r\n\r\n";
  for (int p = 0; p < 4; ++p)
    t += "procedure Run" + name + "_" + std::to_string(p) + "(const Value: Integer); // step " +
         std::to_string(p) + "\r\n";
  t += "\r\nimplementation\r\n\r\n";
  if (!impl.empty()) t += "uses\r\n  " + JoinNames(impl) + "; { helpers }\r\n\r\n";
  t += "var\r\n  Counter: Integer = 0;\r\n\r\n";
  for (int p = 0; p < 4; ++p)
    t += "procedure Run" + name + "_" + std::to_string(p) +
         "(const Value: Integer);\r\nbegin\r\n  (* keep the value *)\r\n"
         "  if Value > 0 then\r\n    Counter := Counter + Value\r\n  else\r\n    Counter := Counter - 1;\r\n"
         "end;\r\n\r\n";
  t += "initialization\r\n  Run" + name + "_0(" + std::to_string(i) + ");\r\nfinalization\r\n  Counter := 0;\r\nend.\r\n";
  return t;
}

std::string MakeProject(const std::string& dir, int units) {
  CreateDirectoryA(dir.c_str(), nullptr);
  std::mt19937 rng(2026);
  std::vector<int> rank(static_cast<size_t>(units));
  for (int i = 0; i < units; ++i) rank[static_cast<size_t>(i)] = i;
  for (int i = 0; i < units; ++i) {
    std::vector<int> intf, impl;
    // Interface uses: a few of the 300 units ranked just below.
    const int k = i == 0 ? 0 : 1 + static_cast<int>(rng() % 3);
    for (int n = 0; n < k; ++n) {
      const int j = std::max(0, i - 1 - static_cast<int>(rng() % 300));
      if (std::find(intf.begin(), intf.end(), j) == intf.end()) intf.push_back(j);
    }
    // Implementation uses: within the unit's package of 25, in either
    // direction, which closes a cycle or more in most packages; now and
    // then into the package above, which joins neighbours into larger ones.
    const int package = i / 25 * 25;
    const int m = static_cast<int>(rng() % 3);
    for (int n = 0; n < m; ++n) {
      const int j = std::min(units - 1, package + static_cast<int>(rng() % (rng() % 50 == 0 ? 50 : 25)));
      if (j != i && std::find(intf.begin(), intf.end(), j) == intf.end() &&
          std::find(impl.begin(), impl.end(), j) == impl.end())
        impl.push_back(j);
    }
    WriteFileBytes(dir + "\\" + UnitName(i) + ".pas", UnitText(i, intf, impl));
  }
  std::vector<int> top;
  for (int i = units - 1; i >= 0 && static_cast<int>(top.size()) < 20; i -= 7) top.push_back(i);
  const std::string project = dir + "\\Bench.dpr";
  WriteFileBytes(project, "program Bench;\r\n\r\nuses\r\n  " + JoinNames(top) + ";\r\n\r\nbegin\r\nend.\r\n");
  return project;
}

void RemoveProject(const std::string& dir) {
  WIN32_FIND_DATAA fd;
  HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
  if (h != INVALID_HANDLE_VALUE) {
    do {
      if (fd.cFileName[0] != '.') DeleteFileA((dir + "\\" + fd.cFileName).c_str());
    } while (FindNextFileA(h, &fd));
    FindClose(h);
  }
  RemoveDirectoryA(dir.c_str());
}

// The floor: open, read whole and close, with nothing else.
size_t ReadOnce(const std::string& path) {
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return 0;
  LARGE_INTEGER size{};
  GetFileSizeEx(h, &size);
  std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
  DWORD got = 0;
  ReadFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &got, nullptr);
  CloseHandle(h);
  return got;
}

double Ms(Clock::time_point from) { return std::chrono::duration<double, std::milli>(Clock::now() - from).count(); }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  const bool given = argc > 1 && IsProjectFile(argv[1]);
  const int units = argc > 1 && !given ? std::max(2, atoi(argv[1])) : 20000;
  const int runs = argc > 2 ? std::max(1, atoi(argv[2])) : 5;
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const bool keep = given || argc > 3;
  const std::string dir = given  ? std::string()
                          : keep ? std::string(argv[3])
                                 : std::string(temp) + "qco_bench_" + std::to_string(GetCurrentProcessId());
  const std::string project = given ? ExpandFileName(argv[1]) : MakeProject(dir, units);
  TStringList searchPaths;
  for (int i = 3; given && i < argc; ++i) searchPaths.push_back(argv[i]);
  NullLog startLog;
  EnterProjectDirectory(project, startLog);

  std::vector<double> floor, sourceReads, compiler, window, walks;
  std::vector<std::string> files;  // what the analysis reads, in its order
  size_t graphNodes = 0, graphEdges = 0, cycleCount = 0, largestCycle = 0, flagged = 0, compiles = 0;
  size_t reads = 0, maxReadsPerFile = 0;
  for (int run = 0; run <= runs; ++run) {  // run 0 warms the cache and is not counted
    {
      NullLog log;
      TFileUnitSource fileSource(log, searchPaths);
      CountingSource source(fileSource);
      TLoadedUnitList records;
      TCompilerOrderAnalyzer analyzer(source, log, records);
      const auto t = Clock::now();
      analyzer.AnalyzeProject(project);
      const double ms = Ms(t);
      if (run) compiler.push_back(ms);
      graphNodes = static_cast<size_t>(analyzer.Graph().Count());
      graphEdges = analyzer.Graph().EdgeCount();
      cycleCount = analyzer.Cycles().size();
      largestCycle = flagged = 0;
      for (const TUsesCycle& c : analyzer.Cycles()) {
        largestCycle = std::max(largestCycle, c.Units.size());
        flagged += c.DependsOnClauseOrder;
      }
      compiles = analyzer.Walk().Compiles;
      reads = 0;
      maxReadsPerFile = 0;
      for (const auto& [path, n] : source.reads) {
        reads += static_cast<size_t>(n);
        maxReadsPerFile = std::max(maxReadsPerFile, static_cast<size_t>(n));
      }
      if (files.empty()) {
        files.push_back(project);
        for (int i = 0; i < records.Count(); ++i)
          if (!records[i]->FullPath.empty()) files.push_back(records[i]->FullPath);
      }
      const auto w = Clock::now();
      const TCompilerOrder again = CompilerInitOrder(analyzer.Graph(), 0);
      const std::vector<TUsesCycle> cyclesAgain = FindCycles(analyzer.Graph());
      if (run) walks.push_back(Ms(w));
      if (again.Order.size() != analyzer.Walk().Order.size() || cyclesAgain.size() != cycleCount) return 3;
    }
    {
      const auto t = Clock::now();
      size_t bytes = 0;
      for (const std::string& path : files) bytes += ReadOnce(path);
      if (run) floor.push_back(Ms(t));
      if (bytes == 0) return 3;
    }
    {
      // The same reads through the analysis's own file layer.
      NullLog log;
      TFileUnitSource source(log, searchPaths);
      const auto t = Clock::now();
      for (const std::string& path : files) source.ReadWholeFile(path, IsProjectFile(path) == false);
      if (run) sourceReads.push_back(Ms(t));
    }
    {
      NullLog log;
      TLoadedUnitList records;
      TProjectAnalyzer analyzer(log, records, searchPaths);
      const auto t = Clock::now();
      analyzer.AnalyzeProject(project);
      if (run) window.push_back(Ms(t));
    }
  }
  if (!keep) RemoveProject(dir);

  const double f = Median(floor), c = Median(compiler);
  printf("project: %d unit files, %zu reached; graph %zu nodes, %zu edges; %zu cycles (largest %zu units, "
         "%zu with implementation edges); %zu compilations on the spot\n",
         given ? 0 : units, files.size() - 1, graphNodes, graphEdges, cycleCount, largestCycle, flagged, compiles);
  printf("reads per analysis: %zu for %zu files (at most %zu per file)\n", reads, files.size(), maxReadsPerFile);
  printf("medians of %d runs (ms): floor %.1f  (the same reads through the file layer %.1f)  compiler-order %.1f  "
         "window %.1f  walks on the graph %.1f\n",
         runs, f, Median(sourceReads), c, Median(window), Median(walks));
  printf("compiler-order / floor = %.2f\n", c / f);
  return 0;
}
