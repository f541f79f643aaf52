#include "app/unit1.h"

#include <commctrl.h>
#include <commdlg.h>

#include <algorithm>
#include <vector>

#include "app/application.h"

namespace quorrin {

TForm1* Form1 = nullptr;

// Posted by a click in the tree: the tree selects the clicked node only
// after it has reported the click.
constexpr UINT kUnitsClickMessage = WM_APP + 1;
// Runs while log lines wait for the console; each tick writes one piece.
// A timer, not a posted message: paint and input go before its ticks.
constexpr UINT_PTR kLogFlushTimer = 1;
constexpr size_t kLogPiece = 256 * 1024;

void Log(const std::string& text) { Form1->Log(text); }

std::string GetControlText(HWND control) {
  const int length = GetWindowTextLengthA(control);
  std::string text(static_cast<size_t>(length) + 1, '\0');
  const int got = GetWindowTextA(control, text.data(), length + 1);
  text.resize(static_cast<size_t>(got > 0 ? got : 0));
  return text;
}

void SetControlText(HWND control, const std::string& text) { SetWindowTextA(control, text.c_str()); }

bool TOpenDialog::Execute(HWND owner) {
  static const char kFilter[] =
      "Delphi Project Files (*.dpr)\0*.dpr\0"
      "Lazarus Project Files (*.lpr)\0*.lpr\0"
      "All Project Files (*.dpr;*.lpr)\0*.dpr;*.lpr\0"
      "All Files (*.*)\0*.*\0";
  std::vector<char> buffer(32768, '\0');
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = owner;
  ofn.lpstrFilter = kFilter;
  ofn.nFilterIndex = 3;
  ofn.lpstrFile = buffer.data();
  ofn.nMaxFile = static_cast<DWORD>(buffer.size());
  ofn.lpstrDefExt = "dpr";
  ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_ENABLESIZING | OFN_HIDEREADONLY |
              OFN_NOCHANGEDIR | OFN_DONTADDTORECENT | OFN_EXPLORER;
  if (!GetOpenFileNameA(&ofn)) return false;
  FileName = buffer.data();
  return true;
}

void TForm1::Create(HINSTANCE instance) {
  WNDCLASSA wc{};
  wc.lpfnWndProc = WindowProc;
  wc.hInstance = instance;
  wc.hCursor = LoadCursor(nullptr, IDC_ARROW);
  wc.hIcon = LoadIcon(instance, "MAINICON");
  if (!wc.hIcon) wc.hIcon = LoadIcon(nullptr, IDI_APPLICATION);
  wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
  wc.lpszClassName = "TForm1";
  RegisterClassA(&wc);

  const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
  RECT r{0, 0, kClientWidth, kClientHeight};
  AdjustWindowRectEx(&r, style, FALSE, 0);
  Handle = CreateWindowExA(0, "TForm1", "Quorrin", style, 195, 112, r.right - r.left, r.bottom - r.top,
                           nullptr, nullptr, instance, this);
}

void TForm1::CreateControls() {
  font_.Reset(CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                          CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "MS Sans Serif"));
  windowBrush_ = GetSysColorBrush(COLOR_WINDOW);
  const HINSTANCE instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(Handle, GWLP_HINSTANCE));
  auto make = [&](DWORD exStyle, const char* cls, const char* text, DWORD style, int x, int y, int w, int h,
                  int id) {
    HWND hwnd = CreateWindowExA(exStyle, cls, text, WS_CHILD | WS_VISIBLE | style, x, y, w, h, Handle,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    SendMessageA(hwnd, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()), FALSE);
    return hwnd;
  };
  const DWORD memo = ES_MULTILINE | ES_AUTOHSCROLL | ES_AUTOVSCROLL | WS_HSCROLL | WS_VSCROLL | WS_TABSTOP;
  // Created in tab order.
  SearchPaths = make(WS_EX_CLIENTEDGE, "EDIT",
                     "SearchPaths : you must add them here before analyzing\r\n"
                     "IDE library path first\r\n"
                     "project search path after",
                     memo | ES_WANTRETURN, 8, 8, 617, 169, idSearchPaths);
  Label1 = make(0, "STATIC", "Project File:", SS_LEFTNOWORDWRAP, 8, 188, 55, 13, idLabel1);
  project = make(WS_EX_CLIENTEDGE, "EDIT", "", ES_AUTOHSCROLL | WS_TABSTOP, 72, 184, 473, 21, idProject);
  open = make(0, "BUTTON", "Browse", BS_PUSHBUTTON | WS_TABSTOP, 552, 184, 75, 25, idOpen);
  units = make(WS_EX_CLIENTEDGE, WC_TREEVIEWA, "", TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT | WS_TABSTOP,
               8, 216, 441, 185, idUnits);
  unitOrder = make(WS_EX_CLIENTEDGE, "LISTBOX", "", LBS_NOTIFY | LBS_NOINTEGRALHEIGHT | WS_VSCROLL | WS_TABSTOP,
                   456, 216, 169, 185, idUnitOrder);
  section = make(WS_EX_CLIENTEDGE, "EDIT", "", memo | ES_READONLY, 8, 408, 617, 121, idSection);
  console = make(WS_EX_CLIENTEDGE, "EDIT", "", memo | ES_READONLY, 8, 536, 617, 137, idConsole);

  SendMessageA(units, TVM_SETINDENT, 19, 0);
  SendMessageA(unitOrder, LB_SETITEMHEIGHT, 0, 13);
  for (HWND m : {SearchPaths, section, console}) SendMessageA(m, EM_SETLIMITTEXT, 0, 0);
}

void TForm1::FormCreate() { LoadedUnits = std::make_unique<TLoadedUnitList>(); }

void TForm1::FormDestroy() { LoadedUnits.reset(); }

void TForm1::Log(const std::string& text) {
  if (!consoleEmpty_ || !pendingLog_.empty()) pendingLog_ += "\r\n";
  pendingLog_ += text;
}

void TForm1::FlushLog() { AppendLog(pendingLog_.size()); }

void TForm1::AppendLog(size_t limit) {
  if (pendingLog_.empty()) return;
  // Pending text is the lines joined by CR LF (led by one when the console
  // has text), so what stays after a cut at a CR LF starts with one.
  size_t n = pendingLog_.size();
  if (limit < n) n = std::min(n, pendingLog_.find("\r\n", limit));
  const std::string piece = pendingLog_.substr(0, n);
  pendingLog_.erase(0, n);
  const int end = GetWindowTextLengthA(console);
  SendMessageA(console, EM_SETSEL, end, end);
  SendMessageA(console, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(piece.c_str()));
  consoleEmpty_ = false;
}

void TForm1::ScheduleLogFlush() {
  if (pendingLog_.empty()) KillTimer(Handle, kLogFlushTimer);
  else SetTimer(Handle, kLogFlushTimer, USER_TIMER_MINIMUM, nullptr);
}

void TForm1::openClick(HWND) {
  struct FlushOnExit {
    TForm1* form;
    ~FlushOnExit() {
      form->AppendLog(kLogPiece);
      form->ScheduleLogFlush();
    }
  } flush{this};

  if (GetControlText(SearchPaths).rfind("SearchPaths", 0) == 0) SetControlText(SearchPaths, "");
  if (!OpenDialog.Execute(Handle)) return;

  SendMessageA(units, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
  SetControlText(section, "");
  SendMessageA(unitOrder, LB_RESETCONTENT, 0, 0);
  LoadedUnits->Clear();

  EnterProjectDirectory(OpenDialog.FileName, *this);
  SetControlText(project, OpenDialog.FileName);
  AnalyzeProject();
}

void TForm1::AnalyzeProject() {
  if (CompilerOrder) return AnalyzeCompilerOrder();
  TProjectAnalyzer analyzer(*this, *LoadedUnits, SplitMemoLines(GetControlText(SearchPaths)));
  struct ShowTreeOnExit {
    TForm1* form;
    TProjectAnalyzer& analyzer;
    ~ShowTreeOnExit() { form->ShowTree(analyzer.Tree()); }
  };
  {
    // What was built stays on screen also when a file cannot be opened.
    ShowTreeOnExit show{this, analyzer};
    analyzer.AnalyzeProject(OpenDialog.FileName);
  }
  ShowOrder(analyzer.Order());
}

void TForm1::ShowTree(const TUnitTree& tree) {
  if (tree.Count() == 0) return;
  SendMessageA(units, WM_SETREDRAW, FALSE, 0);
  std::vector<HTREEITEM> items(static_cast<size_t>(tree.Count()));
  // Nodes were numbered in the order they were added, parents first.
  for (int i = 0; i < tree.Count(); ++i) {
    const TTreeNode& node = tree[i];
    TVINSERTSTRUCTA ins{};
    ins.hParent = node.Parent < 0 ? TVI_ROOT : items[static_cast<size_t>(node.Parent)];
    ins.hInsertAfter = node.Parent < 0 ? TVI_FIRST : TVI_LAST;
    ins.item.mask = TVIF_TEXT | TVIF_PARAM;
    ins.item.pszText = const_cast<char*>(node.Text.c_str());
    ins.item.lParam = reinterpret_cast<LPARAM>(node.Data);
    items[static_cast<size_t>(i)] =
        reinterpret_cast<HTREEITEM>(SendMessageA(units, TVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&ins)));
  }
  SendMessageA(units, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(units, nullptr, TRUE);
}

void TForm1::ShowOrder(const TOrderList& order) {
  SendMessageA(unitOrder, WM_SETREDRAW, FALSE, 0);
  SendMessageA(unitOrder, LB_INITSTORAGE, order.Count(), order.Count() * 16);
  for (int i = 0; i < order.Count(); ++i) {
    const LRESULT index = SendMessageA(unitOrder, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(order[i].Text.c_str()));
    SendMessageA(unitOrder, LB_SETITEMDATA, index, reinterpret_cast<LPARAM>(order[i].Data));
  }
  SendMessageA(unitOrder, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(unitOrder, nullptr, TRUE);
}

void TForm1::unitsClick(HWND sender) {
  const TLoadedUnit* unit = nullptr;
  if (sender == units) {
    const auto selected = reinterpret_cast<HTREEITEM>(SendMessageA(units, TVM_GETNEXTITEM, TVGN_CARET, 0));
    if (!selected) return;
    TVITEMA item{};
    item.mask = TVIF_PARAM;
    item.hItem = selected;
    SendMessageA(units, TVM_GETITEMA, 0, reinterpret_cast<LPARAM>(&item));
    unit = reinterpret_cast<const TLoadedUnit*>(item.lParam);
  } else if (sender == unitOrder) {
    const LRESULT index = SendMessageA(unitOrder, LB_GETCURSEL, 0, 0);
    if (index == LB_ERR) return;
    unit = reinterpret_cast<const TLoadedUnit*>(SendMessageA(unitOrder, LB_GETITEMDATA, index, 0));
  }
  SetControlText(section, SectionViewText(unit));
}

LRESULT CALLBACK TForm1::WindowProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
  TForm1* form = reinterpret_cast<TForm1*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (msg == WM_NCCREATE) {
    form = static_cast<TForm1*>(reinterpret_cast<CREATESTRUCTA*>(lParam)->lpCreateParams);
    form->Handle = hwnd;
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(form));
  }
  return form ? form->HandleMessage(msg, wParam, lParam) : DefWindowProcA(hwnd, msg, wParam, lParam);
}

LRESULT TForm1::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam) {
  switch (msg) {
    case WM_CREATE:
      CreateControls();
      AddCompilerOrderMenuItem();
      CallEventHandler([&] { FormCreate(); });
      return 0;
    case WM_COMMAND: {
      const HWND from = reinterpret_cast<HWND>(lParam);
      if (from == open && HIWORD(wParam) == BN_CLICKED) CallEventHandler([&] { openClick(open); });
      else if (from == unitOrder && HIWORD(wParam) == LBN_SELCHANGE)
        CallEventHandler([&] { unitsClick(unitOrder); });
      return 0;
    }
    case WM_NOTIFY: {
      const auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
      if (hdr->hwndFrom == units && hdr->code == NM_CLICK) PostMessageA(Handle, kUnitsClickMessage, 0, 0);
      return 0;
    }
    case WM_TIMER:
      if (wParam != kLogFlushTimer) break;
      AppendLog(kLogPiece);
      ScheduleLogFlush();
      return 0;
    case kUnitsClickMessage:
      CallEventHandler([&] { unitsClick(units); });
      return 0;
    case WM_NEXTDLGCTL: {
      // Tab and Shift+Tab in a memo: the memo hands the move to its parent.
      const HWND next = lParam ? reinterpret_cast<HWND>(wParam) : GetNextDlgTabItem(Handle, GetFocus(), wParam != 0);
      if (next) SetFocus(next);
      return 0;
    }
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == kCompilerOrderCommand) {
        CallEventHandler([&] { CompilerOrderClick(); });
        return 0;
      }
      break;
    case WM_CTLCOLORSTATIC:
      // Read-only memos keep the window colour; the label takes the form's.
      if (reinterpret_cast<HWND>(lParam) == section || reinterpret_cast<HWND>(lParam) == console) {
        SetBkColor(reinterpret_cast<HDC>(wParam), GetSysColor(COLOR_WINDOW));
        return reinterpret_cast<LRESULT>(windowBrush_);
      }
      break;
    case WM_DESTROY:
      CallEventHandler([&] { FormDestroy(); });
      PostQuitMessage(0);
      return 0;
    case WM_NCDESTROY:
      font_.Reset();
      break;
  }
  return DefWindowProcA(Handle, msg, wParam, lParam);
}

}  // namespace quorrin
