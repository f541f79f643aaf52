// Tab names and texts of the bug report, and the list builders of the
// sections whose layout is known.
#include "report_ui/views/report_tabs.h"

#include <algorithm>
#include <cctype>

namespace kestrix::views {

namespace {

bool IsThreadSection(const std::string& name) { return name.find('$') != std::string::npos; }

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

// Leading thread sections from section 1 on, plus section 0.
int CallStackSections(const TSectionList& sections) {
  if (sections.size() < 2) return 1;
  int k = 1;
  while (k < static_cast<int>(sections.size()) && IsThreadSection(sections[k].first)) ++k;
  return k;
}

std::vector<std::string> SplitCrLf(const std::string& text) {
  std::vector<std::string> lines;
  size_t begin = 0;
  for (;;) {
    const size_t end = text.find("\r\n", begin);
    lines.push_back(text.substr(begin, end == std::string::npos ? std::string::npos : end - begin));
    if (end == std::string::npos) return lines;
    begin = end + 2;
  }
}

void AddRows(const std::vector<std::string>& lines, TTabModel& model) {
  for (const std::string& l : lines) model.items.push_back({l, 0, false});
}

// A section with columns found by DetectColumns (strict), with captions.
void BuildDetected(const std::string& section, const std::string& captions, TTabModel& model) {
  std::string text = section;
  const std::vector<int> separators = DetectColumns(text, true);
  if (separators.empty()) return;
  model.columns = ParseCaptions(captions);
  AddRows(ItemLines(text, separators, static_cast<int>(model.columns.size())), model);
}

}  // namespace

std::vector<std::string> TabNames(const TSectionList& sections) {
  std::vector<std::string> names = {"general", "call stack"};
  if (sections.size() > 1 && IsThreadSection(sections[1].first)) names[1] += 's';
  size_t i = 1;
  while (i < sections.size() && IsThreadSection(sections[i].first)) ++i;
  for (; i < sections.size(); ++i) {
    const std::string& name = sections[i].first;
    names.push_back(name == "cpu registers" ? "cpu regs" : name == "disassembling" ? "disasm" : name);
  }
  return names;
}

std::string TabText(int tab, const TSectionList& header, const TSectionList& sections, std::string* name) {
  if (name) name->clear();
  std::string text;
  if (tab == 0) {
    for (const auto& [item, value] : header) {
      if (!text.empty()) text += "\r\n";
      text += item + "\t" + value;
    }
    return text;
  }
  const int k = CallStackSections(sections);
  if (tab == 1) {
    for (int i = 0; i < k && i < static_cast<int>(sections.size()); ++i)
      text += "\r\n\r\n>> " + sections[i].first + "\r\n" + sections[i].second;
    return text.size() > 4 ? text.substr(4) : std::string();
  }
  const int index = tab + k - 2;
  if (tab < 0 || index >= static_cast<int>(sections.size())) return text;
  if (name) *name = sections[index].first;
  return sections[index].second;
}

void BuildTab(int tab, const std::string& sectionName, const std::string& text, TTabModel& model) {
  model.Clear();
  if (StartsWith(text, ">> will be")) return BuildAutoColumnTab(text, model);
  if (StartsWith(text, ">> internal")) return BuildCallStackTab(text, model);
  if (tab == 0) return BuildGeneralTab(text, model);
  if (tab == 1) return BuildCallStackTab(text, model);
  if (sectionName == "modules") return BuildModulesTab(text, model);
  if (sectionName == "cpu registers") return BuildRegistersTab(text, model);
  if (sectionName == "stack dump") return BuildStackDumpTab(text, model);
  if (sectionName == "processes") return BuildProcessesTab(text, model);
  if (sectionName == "disassembling") return BuildAsmCodeTab(text, model);
  BuildAutoColumnTab(text, model);
}

void BuildGeneralTab(const std::string& text, TTabModel& model) {
  model.Clear();
  if (text.empty()) return;
  model.columns = ParseCaptions("description|value");
  AddRows(ItemLines(text, {}, 2), model);
}

void BuildRegistersTab(const std::string& text, TTabModel& model) {
  model.Clear();
  BuildDetected(text, "reg.|content", model);
  model.fixedFont = true;
}

void BuildStackDumpTab(const std::string& text, TTabModel& model) {
  model.Clear();
  if (text.empty()) return;
  model.columns = ParseCaptions("address|data - hexadecimal|data - chars");
  AddRows(ItemLines(text, {10, 61}, 3), model);
  model.fixedFont = true;
}

void BuildModulesTab(const std::string& text, TTabModel& model) {
  model.Clear();
  BuildDetected(text, "^handle|file name| version|path", model);
}

void BuildProcessesTab(const std::string& section, TTabModel& model) {
  model.Clear();
  std::string text = section;
  const std::vector<int> separators = DetectColumns(text, true);
  if (separators.empty()) return;
  model.columns = ParseCaptions(separators.size() == 3 ? "^id|file name|priority|path"
                                                        : "^id|file name|session|priority|path");
  AddRows(ItemLines(text, separators, static_cast<int>(model.columns.size())), model);
}

void BuildAsmCodeTab(const std::string& section, TTabModel& model) {
  model.Clear();
  std::vector<std::string> lines = SplitCrLf(section);
  int q = 0;
  for (const std::string& l : lines) {
    const size_t at = l.substr(0, 25).find('>');
    if (!l.empty() && at != std::string::npos) {
      q = static_cast<int>(at) + 1;
      break;
    }
  }
  std::vector<int> separators = {9};
  std::string captions = "address|";
  if (q >= 11) {
    separators.push_back(q - 1);
    captions += "line|";
  }
  captions += "asm code|comments";
  model.columns = ParseCaptions(captions);
  model.fixedFont = true;
  for (std::string& raw : lines) {
    std::string line;
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] == ';' && raw.compare(i, 4, "; --") != 0) line += '\t';
      line += raw[i];
    }
    line = TrimLine(line);
    for (int s : separators)
      if (s < static_cast<int>(line.size())) line[s - 1] = '\t';
    TTabItem item;
    if (q > 0 && q <= static_cast<int>(line.size()) && (line[q - 1] == ' ' || line[q - 1] == '>')) {
      if (line[q - 1] == '>') item.colour = kCurrentRowColour;
      line[q - 1] = static_cast<char>(kNoBreakSpace);
    }
    const size_t comment = line.find("; --");
    if (comment != std::string::npos) line.erase(comment + 2, 28);
    item.line = std::move(line);
    model.items.push_back(std::move(item));
  }
}

// --- call stacks ----------------------------------------------------------------

std::vector<TCallStackPiece> SplitCallStackPieces(const std::string& text) {
  std::vector<TCallStackPiece> pieces;
  std::string rest = text;
  std::vector<std::string> lines = SplitCrLf(rest);
  for (int i = static_cast<int>(lines.size()) - 1; i >= 0; --i) {
    // A thread's creation call stack, and also the next thread's section
    // (a title after an empty line): the report aligns the columns of each
    // thread on their own.
    const bool created = StartsWith(lines[i], ">> created") && (i == 0 || !StartsWith(lines[i - 1], ">>"));
    const bool nextThread = i > 0 && StartsWith(lines[i], ">>") && lines[i - 1].empty();
    if (!(created || nextThread) || i == 0) continue;
    size_t offset = 0;
    for (int j = 0; j < i; ++j) offset += lines[j].size() + 2;
    TCallStackPiece piece;
    piece.text = rest.substr(offset);
    pieces.insert(pieces.begin(), std::move(piece));
    rest.erase(offset - 2);
    lines.resize(i);
  }
  TCallStackPiece first;
  first.text = rest;
  pieces.insert(pieces.begin(), std::move(first));
  for (TCallStackPiece& p : pieces) ClassifyPieceColumns(p);
  return pieces;
}

namespace {

// The text of column c of a line (empty when the line does not reach it);
// covered tells whether it does.
std::string ColumnText(const std::string& line, const std::vector<int>& seps, int c, bool* covered = nullptr) {
  const int begin = c == 0 ? 0 : seps[c - 1];  // 0-based start
  const int end = c < static_cast<int>(seps.size()) ? seps[c] - 1 : static_cast<int>(line.size());
  if (covered) *covered = begin < static_cast<int>(line.size());
  if (begin >= static_cast<int>(line.size())) return std::string();
  return line.substr(begin, std::min<int>(end, static_cast<int>(line.size())) - begin);
}

bool IsCallLine(const std::string& l) { return !l.empty() && !StartsWith(l, ">>"); }

template <class Test>
bool EveryLine(const std::vector<std::string>& lines, const std::vector<int>& seps, int c, Test test) {
  for (const std::string& l : lines) {
    if (!IsCallLine(l)) continue;
    bool covered = false;
    const std::string cell = ColumnText(l, seps, c, &covered);
    if (covered && !test(cell)) return false;
  }
  return true;
}

bool IsRelativeAddress(const std::string& cell) {
  if (cell.empty() || cell[0] != '+') return false;
  return std::all_of(cell.begin() + 1, cell.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); });
}

bool IsLineNumber(const std::string& cell) {
  size_t i = 0;
  while (i < cell.size() && cell[i] == ' ') ++i;
  return std::all_of(cell.begin() + i, cell.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsFunctionCell(const std::string& cell) {
  const std::string t = TrimLine(cell);
  if (t.empty()) return true;
  std::string lower = t;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (StartsWith(lower, "public%") || StartsWith(lower, "segment%")) return true;
  if (!std::isalpha(static_cast<unsigned char>(t[0])) && t[0] != '_') return false;
  return std::all_of(t.begin(), t.end(), [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; });
}

}  // namespace

void ClassifyPieceColumns(TCallStackPiece& piece) {
  std::string text = piece.text;
  piece.separators = DetectColumns(text, false);
  piece.text = text;
  const std::vector<int>& seps = piece.separators;
  const std::vector<std::string> lines = SplitCrLf(text);
  const int columns = static_cast<int>(seps.size()) + 1;
  if (seps.size() >= 2 && EveryLine(lines, seps, 1, IsRelativeAddress)) {
    piece.rel = 1;
    piece.module = 2;
  } else {
    piece.module = 1;
  }
  if (static_cast<int>(seps.size()) < piece.module) piece.module = -1;
  const int relShift = piece.rel >= 0 ? 1 : 0;
  for (int c = 3 + relShift; c < columns; ++c) {
    if (!EveryLine(lines, seps, c, IsLineNumber)) continue;
    piece.line = c;
    piece.unit = c - 1;
    if (c + 2 < columns) {
      piece.relLine = c + 1;
      piece.function = c + 2;
    } else if (c + 1 < columns) {
      piece.function = c + 1;
    }
    return;
  }
  for (int c = 2 + relShift; c < columns; ++c) {
    if (!EveryLine(lines, seps, c, IsFunctionCell)) continue;
    if (c + 2 == columns) {
      piece.unit = c;
      piece.function = c + 1;
    } else {
      piece.function = c;
    }
    return;
  }
}

void BuildCallStackTab(const std::string& text, TTabModel& model) {
  model.Clear();
  const std::vector<TCallStackPiece> pieces = SplitCallStackPieces(text);
  bool rel = false, module = false, unit = false, line = false, relLine = false, function = false;
  for (const TCallStackPiece& p : pieces) {
    rel |= p.rel >= 0;
    module |= p.module >= 0;
    unit |= p.unit >= 0;
    line |= p.line >= 0;
    relLine |= p.relLine >= 0;
    function |= p.function >= 0;
  }
  std::string captions = "^address";
  if (rel) captions += "|^ rel.";
  if (module) captions += "|module";
  if (unit) captions += "|unit";
  if (line) captions += "| line";
  if (relLine) captions += "| rel.";
  if (function) captions += "|function";
  model.columns = ParseCaptions(captions);
  const bool internalError = StartsWith(pieces.back().text, ">> internal error");
  bool previousEmpty = true;  // the tab's first row counts as following an empty line
  for (const TCallStackPiece& p : pieces) {
    const std::vector<std::string> lines = SplitCrLf(p.text);
    const std::vector<int>& seps = p.separators;
    for (const std::string& l : lines) {
      TTabItem item;
      if (!IsCallLine(l)) {
        item.line = l;
        item.emphasis = previousEmpty && !internalError;
        previousEmpty = l.empty();
        model.items.push_back(std::move(item));
        continue;
      }
      previousEmpty = false;
      auto text = [&](int c) { return c < 0 ? std::string() : TrimLine(ColumnText(l, seps, c)); };
      std::string row = text(0);
      if (rel) row += "\t" + text(p.rel);
      if (module) {
        std::string m;
        if (p.module >= 0) {
          const int last = p.unit > p.module ? p.unit - 1 : p.module;
          for (int c = p.module; c <= last; ++c) {
            const std::string piece = text(c);
            if (piece.empty()) continue;
            if (!m.empty()) m += ' ';
            m += piece;
          }
        }
        row += "\t" + m;
      }
      if (unit) row += "\t" + text(p.unit);
      if (line) row += "\t" + text(p.line);
      if (relLine) row += "\t" + text(p.relLine);
      if (function) row += "\t" + text(p.function);
      item.line = std::move(row);
      model.items.push_back(std::move(item));
    }
  }
}

// --- anything else ---------------------------------------------------------------

void BuildAutoColumnTab(const std::string& section, TTabModel& model) {
  model.Clear();
  std::vector<std::string> lines = SplitCrLf(section);
  int shortLines = 0, longLines = 0;
  bool tree = true, anyFilled = false;
  for (const std::string& l : lines) {
    (l.size() <= 80 ? shortLines : longLines)++;
    const size_t first = l.find_first_not_of(' ');
    if (first == std::string::npos) continue;
    anyFilled = true;
    if (l[first] != '+' && l[first] != '-') tree = false;
  }
  tree = tree && anyFilled;
  const bool captioned = !section.empty() && section[0] == '^';
  if (!captioned && !(shortLines + longLines > 1 && 5 * longLines < shortLines)) return;
  std::string text = section;
  if (captioned) {
    const size_t end = text.find("\r\n");
    std::string first = text.substr(1, end == std::string::npos ? std::string::npos : end - 1);
    size_t begin = 0;
    for (;;) {
      const size_t tab = first.find('\t', begin);
      model.columns.push_back(ParseCaptions(first.substr(begin, tab == std::string::npos ? std::string::npos
                                                                                         : tab - begin))[0]);
      if (tab == std::string::npos) break;
      begin = tab + 1;
    }
    text = end == std::string::npos ? std::string() : text.substr(end + 2);
  }
  model.header = captioned;
  if (tree) {
    model.fixedFont = true;
    if (!captioned) model.columns.assign(1, TColumn());
    for (std::string l : SplitCrLf(text)) {
      if (!l.empty() && l[0] == ' ') l[0] = static_cast<char>(kNoBreakSpace);
      TTabItem item;
      item.line = TrimLine(l);
      if (!item.line.empty() && item.line[0] == '+') item.colour = kTreeRowColour;
      model.items.push_back(std::move(item));
    }
    return;
  }
  if (text.find('\t') == std::string::npos) {
    const std::vector<int> separators = DetectColumns(text, true);
    if (!captioned) {
      if (separators.empty()) return;
      model.columns.assign(separators.size() + 1, TColumn());
    }
    AddRows(ItemLines(text, separators, static_cast<int>(model.columns.size())), model);
    return;
  }
  if (!captioned) {
    size_t most = 0;
    for (const std::string& l : SplitCrLf(text)) most = std::max<size_t>(most, std::count(l.begin(), l.end(), '\t'));
    model.columns.assign(most + 1, TColumn());
  }
  AddRows(ItemLines(text, {}, 0), model);
}

// --- list view helpers ----------------------------------------------------------------

std::vector<std::string> SplitCells(const std::string& line, const std::vector<TColumn>& columns) {
  std::vector<std::string> cells;
  if (line.rfind(">>", 0) == 0) {
    cells.push_back(">>");
    return cells;
  }
  size_t begin = 0;
  for (;;) {
    const size_t tab = line.find('\t', begin);
    std::string cell = TrimLine(line.substr(begin, tab == std::string::npos ? std::string::npos : tab - begin));
    if (cells.size() < columns.size() && columns[cells.size()].upperCase)
      for (char& c : cell) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    cells.push_back(std::move(cell));
    if (tab == std::string::npos) break;
    begin = tab + 1;
  }
  return cells;
}

std::string CallStackJumpLine(const TTabModel& model, int row) {
  if (row <= 0 || row >= static_cast<int>(model.items.size())) return std::string();
  std::string line = model.items[row].line;
  if (line.empty() || line == ">") return std::string();
  std::replace(line.begin(), line.end(), '\t', ' ');
  return line;
}

}  // namespace kestrix::views
