// The tab views on plain windows: the tab control kept in line with the
// report's sections, the owner-drawn list view of a tab, the read-only text
// box when a section has no columns.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

#include "report_ui/views/report_tabs.h"

namespace kestrix {

// Loads the common controls (list view, tab control) on first use.
bool LoadTabControls();

// Deletes tabs whose text is not in names and inserts missing ones at their
// position; true when the control changed.
bool SyncTabControl(HWND tabs, const std::vector<std::string>& names);

// The rectangle a tab's content fills, in the tab control's client
// coordinates.
RECT TabContentRect(HWND tabs);

// The tab control draws the rows of its list views from model (kept by the
// caller while the control lives); dialogFont is used for bold title rows.
void InstallTabListDrawing(HWND tabs, const views::TTabModel* model, HFONT dialogFont);

// The list view of model inside the tab control; null on failure.
HWND ShowTabList(HWND tabs, const views::TTabModel& model, HFONT font, HFONT fixedFont, HIMAGELIST images);
// The read-only text box inside the tab control.
HWND ShowTabText(HWND tabs, const std::string& text, HFONT font);

// What a double-click on a call-stack row hands the line to (a development
// environment's source jump); none by default, the double-click then does
// nothing. The dialog leaves the topmost layer first.
using TCallStackJump = void (*)(const std::string& line);
void SetCallStackJumpService(TCallStackJump jump);
TCallStackJump CallStackJumpService();

}  // namespace kestrix
