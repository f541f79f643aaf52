// The tab control, its list views with owner-drawn rows, and the text box.
#include "report_ui/views/win/tab_list_win32.h"

#include <commctrl.h>

#include <algorithm>
#include <cctype>
#include <type_traits>

#include "crash/base/win/scoped_gdi.h"
#include "crash/base/win/system_library.h"

namespace kestrix {

namespace {

const char kModelProp[] = "KxTabModel";
const char kBoldProp[] = "KxTabBold";
const char kOldProcProp[] = "KxTabProc";
// The views' state: the service that jumps to a call-stack line in the
// program's editor, registered by the program (or tests). Constant-initialized.
struct TViewsState {
  TCallStackJump jump = nullptr;
};
constinit TViewsState g_state;
static_assert(std::is_trivially_destructible_v<TViewsState>, "no destructor runs at the process's end");

using views::TTabModel;

bool LowColour(HDC dc) { return GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES) < 15; }

COLORREF Darker(COLORREF c) {
  auto d = [](int v) { return std::max(v - 16, 0); };
  return RGB(d(GetRValue(c)), d(GetGValue(c)), d(GetBValue(c)));
}

// A cell's background by row colour and column.
COLORREF CellColour(const views::TTabItem& item, int column, int columns, bool selected, bool low) {
  COLORREF c;
  if (item.colour) {
    c = item.colour;
  } else if (column % 2 == 1 || columns == 1) {
    c = RGB(255, 255, 255);
  } else if (column % 4 == 0) {
    c = RGB(240, 248, 255);
  } else {
    c = RGB(255, 244, 244);
  }
  if (low) {
    if (c == RGB(255, 208, 208)) return selected ? RGB(128, 0, 0) : RGB(255, 0, 0);
    if (c == RGB(255, 244, 244)) return selected ? RGB(0, 128, 128) : RGB(128, 255, 255);
    if (c == RGB(240, 248, 255)) return selected ? RGB(128, 128, 0) : RGB(255, 255, 192);
    if (c == RGB(255, 255, 255)) return selected ? RGB(192, 192, 192) : c;
    return c;
  }
  return selected ? Darker(c) : c;
}

void Fill(HDC dc, const RECT& r, COLORREF c) {
  SetBkColor(dc, c);
  ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &r, nullptr, 0, nullptr);
}

void Frame(HDC dc, const RECT& r, COLORREF c) {
  TScopedBrush brush(CreateSolidBrush(c));
  FrameRect(dc, &r, brush.Get());
}

void DrawRow(HWND list, const DRAWITEMSTRUCT& d, const TTabModel& model, HFONT bold) {
  const int row = static_cast<int>(d.itemID);
  if (row < 0 || row >= static_cast<int>(model.items.size())) return;
  const views::TTabItem& item = model.items[row];
  const bool selected = d.itemState & ODS_SELECTED;
  const bool low = LowColour(d.hDC);
  HDC dc = d.hDC;
  SetBkMode(dc, TRANSPARENT);
  RECT whole = d.rcItem;
  const int columns = static_cast<int>(model.columns.size());
  const bool title = item.line.empty() || item.line.rfind(">>", 0) == 0;
  if (title) {
    Fill(dc, whole, selected ? (low ? RGB(192, 192, 192) : RGB(239, 239, 239)) : RGB(255, 255, 255));
    const std::string text = item.line.size() > 3 ? item.line.substr(3) : std::string();
    RECT tr = whole;
    tr.left += 6;
    tr.top += 2;
    HGDIOBJ old = nullptr;
    if (item.emphasis) {
      RECT fr = whole;
      InflateRect(&fr, -1, 0);
      Frame(dc, fr, selected ? RGB(160, 160, 160) : RGB(192, 192, 192));
      if (bold) old = SelectObject(dc, bold);
      SetTextColor(dc, RGB(0, 0, 0));
    } else {
      SetTextColor(dc, RGB(96, 96, 96));
    }
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &tr, DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
    if (old) SelectObject(dc, old);
  } else {
    const std::vector<std::string> cells = views::SplitCells(item.line, model.columns);
    int x = whole.left;
    for (int c = 0; c < columns; ++c) {
      const int width = static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, c, 0));
      RECT cell = {x, whole.top, x + width, whole.bottom};
      x += width;
      Fill(dc, cell, CellColour(item, c, columns, selected, low));
      if (c >= static_cast<int>(cells.size())) continue;
      RECT tr = cell;
      tr.left += c == 0 ? 6 : 4;
      tr.right -= 4;
      tr.top += 2;
      const std::string& text = cells[c];
      UINT flags = DT_SINGLELINE | DT_NOPREFIX;
      const bool path = text.size() > 2 && std::isalpha(static_cast<unsigned char>(text[0])) && text[1] == ':' &&
                        text[2] == '\\';
      flags |= path ? DT_PATH_ELLIPSIS : DT_END_ELLIPSIS;
      if (model.columns[c].rightAligned) flags |= DT_RIGHT;
      SetTextColor(dc, RGB(0, 0, 0));
      DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &tr, flags);
    }
    if (x < whole.right) Fill(dc, RECT{x, whole.top, whole.right, whole.bottom}, RGB(255, 255, 255));
    if (selected) Frame(dc, whole, low ? RGB(128, 128, 128) : RGB(176, 176, 176));
  }
  const bool last = row + 1 >= static_cast<int>(model.items.size());
  const bool nextEmphasised = !last && model.items[row + 1].emphasis;
  if (!selected && (last || !nextEmphasised)) {
    RECT line = {whole.left, whole.bottom - 1, whole.right, whole.bottom};
    Fill(dc, line, low ? RGB(255, 255, 255) : RGB(224, 224, 224));
  }
}

LRESULT CALLBACK TabProc(HWND tabs, UINT message, WPARAM wParam, LPARAM lParam) {
  auto old = reinterpret_cast<WNDPROC>(GetPropA(tabs, kOldProcProp));
  const auto* model = static_cast<const TTabModel*>(GetPropA(tabs, kModelProp));
  switch (message) {
    case WM_DRAWITEM: {
      const auto* d = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam);
      if (d->CtlType != ODT_LISTVIEW || !model) break;
      try {
        DrawRow(d->hwndItem, *d, *model, static_cast<HFONT>(GetPropA(tabs, kBoldProp)));
      } catch (...) {
        // an unpainted row; nothing to report from a paint
      }
      return TRUE;
    }
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLOREDIT:
      SetBkColor(reinterpret_cast<HDC>(wParam), RGB(255, 255, 255));
      return reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH));
    case WM_NOTIFY: {
      const auto* n = reinterpret_cast<const NMHDR*>(lParam);
      if (n->code == NM_DBLCLK && model && g_state.jump) {
        const int row = reinterpret_cast<const NMITEMACTIVATE*>(lParam)->iItem;
        // Only the call-stack tab (1) hands lines on.
        if (SendMessageA(tabs, TCM_GETCURSEL, 0, 0) == 1) {
          const std::string line = views::CallStackJumpLine(*model, row);
          if (!line.empty()) {
            SetWindowPos(GetAncestor(tabs, GA_ROOT), HWND_NOTOPMOST, 0, 0, 0, 0,
                         SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
            try {
              g_state.jump(line);
            } catch (...) {
            }
          }
        }
        return 0;
      }
      break;
    }
    case WM_NCDESTROY:
      // The list's bold font, kept in a window property: deleted with the list.
      TScopedFont(static_cast<HFONT>(RemovePropA(tabs, kBoldProp))).Reset();
      RemovePropA(tabs, kModelProp);
      RemovePropA(tabs, kOldProcProp);
      SetWindowLongPtrA(tabs, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(old));
      break;
  }
  return old ? CallWindowProcA(old, tabs, message, wParam, lParam) : DefWindowProcA(tabs, message, wParam, lParam);
}

}  // namespace

bool LoadTabControls() {
  INITCOMMONCONTROLSEX controls{sizeof controls, ICC_LISTVIEW_CLASSES | ICC_TAB_CLASSES};
  using TInitCommonControlsEx = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
  auto init = SystemFunctionAs<TInitCommonControlsEx>("comctl32.dll", "InitCommonControlsEx");
  return init && init(&controls);
}

bool SyncTabControl(HWND tabs, const std::vector<std::string>& names) {
  auto tabText = [&](int i) {
    char buffer[256] = {};
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = buffer;
    item.cchTextMax = sizeof buffer;
    SendMessageA(tabs, TCM_GETITEMA, i, reinterpret_cast<LPARAM>(&item));
    return std::string(buffer);
  };
  bool changed = false;
  for (int i = static_cast<int>(SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0)) - 1; i >= 0; --i) {
    if (std::find(names.begin(), names.end(), tabText(i)) != names.end()) continue;
    SendMessageA(tabs, TCM_DELETEITEM, i, 0);
    changed = true;
  }
  for (size_t i = 0; i < names.size(); ++i) {
    const int count = static_cast<int>(SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0));
    if (static_cast<int>(i) < count && tabText(static_cast<int>(i)) == names[i]) continue;
    TCITEMA item{};
    item.mask = TCIF_TEXT;
    item.pszText = const_cast<char*>(names[i].c_str());
    SendMessageA(tabs, TCM_INSERTITEMA, i, reinterpret_cast<LPARAM>(&item));
    changed = true;
  }
  if (changed) InvalidateRect(tabs, nullptr, TRUE);
  return changed;
}

RECT TabContentRect(HWND tabs) {
  RECT r;
  GetClientRect(tabs, &r);
  SendMessageA(tabs, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&r));
  r.left -= 1;
  r.top += 2;
  InflateRect(&r, -3, -3);
  return r;
}

void InstallTabListDrawing(HWND tabs, const TTabModel* model, HFONT dialogFont) {
  SetPropA(tabs, kModelProp, const_cast<TTabModel*>(model));
  LOGFONTA lf{};
  if (dialogFont && GetObjectA(dialogFont, sizeof lf, &lf)) {
    lf.lfWeight = FW_BOLD;
    SetPropA(tabs, kBoldProp, CreateFontIndirectA(&lf));
  }
  if (!GetPropA(tabs, kOldProcProp)) {
    const LONG_PTR old = SetWindowLongPtrA(tabs, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TabProc));
    SetPropA(tabs, kOldProcProp, reinterpret_cast<HANDLE>(old));
  }
}

HWND ShowTabList(HWND tabs, const TTabModel& model, HFONT font, HFONT fixedFont, HIMAGELIST images) {
  const RECT r = TabContentRect(tabs);
  DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_HSCROLL | WS_VSCROLL | LVS_REPORT | LVS_SINGLESEL |
                LVS_OWNERDRAWFIXED | LVS_NOSORTHEADER | LVS_SHOWSELALWAYS;
  if (!model.header) style |= LVS_NOCOLUMNHEADER;
  HWND list = CreateWindowExA(WS_EX_CLIENTEDGE, WC_LISTVIEWA, "", style, r.left, r.top, r.right - r.left,
                              r.bottom - r.top, tabs, nullptr, GetModuleHandleA(nullptr), nullptr);
  if (!list) return nullptr;
  SendMessageA(list, WM_SETFONT, reinterpret_cast<WPARAM>(model.fixedFont && fixedFont ? fixedFont : font), FALSE);
  SendMessageA(list, LVM_SETEXTENDEDLISTVIEWSTYLE, LVS_EX_FULLROWSELECT, LVS_EX_FULLROWSELECT);
  if (images) SendMessageA(list, LVM_SETIMAGELIST, LVSIL_SMALL, reinterpret_cast<LPARAM>(images));
  for (size_t c = 0; c < model.columns.size(); ++c) {
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_FMT | LVCF_WIDTH;
    column.fmt = model.columns[c].rightAligned ? LVCFMT_RIGHT : LVCFMT_LEFT;
    column.pszText = const_cast<char*>(model.columns[c].caption.c_str());
    column.cx = 60;
    SendMessageA(list, LVM_INSERTCOLUMNA, c, reinterpret_cast<LPARAM>(&column));
  }
  SendMessageA(list, WM_SETREDRAW, FALSE, 0);
  SendMessageA(list, LVM_SETITEMCOUNT, model.items.size(), 0);
  for (size_t row = 0; row < model.items.size(); ++row) {
    const std::vector<std::string> cells = views::SplitCells(model.items[row].line, model.columns);
    for (size_t c = 0; c < cells.size() && c < model.columns.size(); ++c) {
      LVITEMA item{};
      item.mask = LVIF_TEXT;
      item.iItem = static_cast<int>(row);
      item.iSubItem = static_cast<int>(c);
      item.pszText = const_cast<char*>(cells[c].c_str());
      SendMessageA(list, c == 0 ? LVM_INSERTITEMA : LVM_SETITEMTEXTA, row, reinterpret_cast<LPARAM>(&item));
    }
  }
  // Each column as wide as its content (and its caption), with the cell insets.
  for (size_t c = 0; c < model.columns.size(); ++c) {
    SendMessageA(list, LVM_SETCOLUMNWIDTH, c, model.header ? LVSCW_AUTOSIZE_USEHEADER : LVSCW_AUTOSIZE);
    const int width = static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, c, 0));
    SendMessageA(list, LVM_SETCOLUMNWIDTH, c, width + 12);
  }
  SendMessageA(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
  return list;
}

HWND ShowTabText(HWND tabs, const std::string& text, HFONT font) {
  const RECT r = TabContentRect(tabs);
  HWND edit = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", text.c_str(),
                              WS_CHILD | WS_VISIBLE | WS_TABSTOP | WS_VSCROLL | ES_MULTILINE | ES_READONLY |
                                  ES_AUTOVSCROLL,
                              r.left, r.top, r.right - r.left, r.bottom - r.top, tabs, nullptr,
                              GetModuleHandleA(nullptr), nullptr);
  if (edit) SendMessageA(edit, WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
  return edit;
}

void SetCallStackJumpService(TCallStackJump jump) { g_state.jump = jump; }
TCallStackJump CallStackJumpService() { return g_state.jump; }

}  // namespace kestrix
