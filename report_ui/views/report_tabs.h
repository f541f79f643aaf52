// The bug report in tabs: the tab names, the text each tab shows, and the
// builders that turn a section's text into the columns and rows of a list
// view. Portable: the dialog's list views draw what these build.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "report_ui/views/report_columns.h"

namespace kestrix::views {

// The current-instruction row, rows of a tree list, the cell backgrounds.
constexpr uint32_t kCurrentRowColour = Rgb(255, 208, 208);
constexpr uint32_t kTreeRowColour = Rgb(240, 248, 255);
constexpr uint32_t kNoBreakSpace = 160;

struct TTabItem {
  std::string line;    // TAB-separated cells; ">>" opens a title row
  uint32_t colour = 0; // row background, 0 none
  bool emphasis = false;
};

// The list-view model of one tab.
struct TTabModel {
  std::vector<TColumn> columns;
  std::vector<TTabItem> items;
  bool fixedFont = false;
  bool header = true;  // the column header is shown
  void Clear() { *this = TTabModel(); }
  bool ShowsList() const { return !columns.empty() && !items.empty(); }
};

using TSectionList = std::vector<std::pair<std::string, std::string>>;  // name, content

// "general", "call stack(s)", then one tab per section after the call stacks.
std::vector<std::string> TabNames(const TSectionList& sections);
// The text tab t shows; name receives the section's name (empty for the
// first two tabs). Empty for a tab that does not exist.
std::string TabText(int tab, const TSectionList& header, const TSectionList& sections, std::string* name = nullptr);

void BuildGeneralTab(const std::string& text, TTabModel& model);
void BuildRegistersTab(const std::string& text, TTabModel& model);
void BuildStackDumpTab(const std::string& text, TTabModel& model);
void BuildModulesTab(const std::string& text, TTabModel& model);
void BuildProcessesTab(const std::string& text, TTabModel& model);
void BuildAsmCodeTab(const std::string& text, TTabModel& model);
void BuildCallStackTab(const std::string& text, TTabModel& model);
void BuildAutoColumnTab(const std::string& text, TTabModel& model);
// The builder for tab t showing text of section sectionName.
void BuildTab(int tab, const std::string& sectionName, const std::string& text, TTabModel& model);

// Call-stack analysis: a piece of the text with its own columns.
struct TCallStackPiece {
  std::string text;
  std::vector<int> separators;
  int rel = -1, module = -1, unit = -1, line = -1, relLine = -1, function = -1;
};
std::vector<TCallStackPiece> SplitCallStackPieces(const std::string& text);
void ClassifyPieceColumns(TCallStackPiece& piece);

// A list-view cell's text: trimmed, upper-case for "^" columns.
std::vector<std::string> SplitCells(const std::string& line, const std::vector<TColumn>& columns);

// The call-stack line that a double-click on row hands to the jump service
// (TABs turned into blanks); empty when the row is not one to jump from.
std::string CallStackJumpLine(const TTabModel& model, int row);

}  // namespace kestrix::views
