// The exception dialog of a crash-lab crash, driven from this second
// process: captions and geometry by the layout rules, the default button,
// the count-down, Escape and the close rules, Details reopening as the
// details view with its tabs and list views, the message boxes, Ctrl+C.
// Leaves dialog-short.bmp and dialog-details.bmp for people to look at.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "tests/helpers/win/window_driver.h"

namespace {

using quorrin::gui::ChildRect;
using quorrin::gui::ClassOf;
using quorrin::gui::RemoteMemory;
using quorrin::gui::SaveWindowBitmap;
using quorrin::gui::TextOf;
using quorrin::gui::WaitUntil;

constexpr DWORD kAccessViolation = 0xC0000005;

// The crash lab started with a dialog (it crashes at once).
class Lab {
 public:
  explicit Lab(const std::string& args) {
    std::string command = std::string("\"") + CRASHLAB_EXE + "\" " + args + " --gui";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_))
      throw std::runtime_error("cannot start the crash lab");
  }
  ~Lab() {
    if (Running()) TerminateProcess(pi_.hProcess, 1);
    CloseHandle(pi_.hThread);
    CloseHandle(pi_.hProcess);
  }
  bool Running() const { return WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT; }
  HANDLE Process() const { return pi_.hProcess; }
  // The exit code once the lab has ended, STILL_ACTIVE when it did not.
  DWORD WaitExit(int timeoutMs = 20000) const {
    WaitForSingleObject(pi_.hProcess, timeoutMs);
    DWORD code = STILL_ACTIVE;
    GetExitCodeProcess(pi_.hProcess, &code);
    return code;
  }
  // A visible dialog window of the lab other than `not`.
  HWND WaitForBox(HWND other = nullptr, int timeoutMs = 20000) const {
    HWND found = nullptr;
    WaitUntil(
        [&] {
          found = testhelpers::FindTopWindow([&](HWND w) {
            return testhelpers::WindowProcessId(w) == pi_.dwProcessId && w != other && IsWindowVisible(w) &&
                   ClassOf(w) == "KestrixWndClass";
          });
          return found != nullptr;
        },
        timeoutMs);
    return found;
  }

 private:
  PROCESS_INFORMATION pi_{};
};

// The direct children of a class (compared without case).
std::vector<HWND> Children(HWND parent, const std::string& cls) {
  return testhelpers::ChildWindows(
      parent, [&](HWND w) { return GetParent(w) == parent && _stricmp(ClassOf(w).c_str(), cls.c_str()) == 0; });
}

// The buttons by caption (the picture beside the message has none).
std::vector<std::pair<std::string, HWND>> Buttons(HWND box) {
  std::vector<std::pair<std::string, HWND>> out;
  for (HWND b : Children(box, "Button"))
    if (!TextOf(b).empty()) out.emplace_back(TextOf(b), b);
  return out;
}

HWND Button(HWND box, const std::string& caption) {
  for (const auto& [text, b] : Buttons(box))
    if (text == caption) return b;
  return nullptr;
}

// A caption's width in the dialog font, measured here.
int CaptionWidth(const std::string& text) {
  HDC dc = CreateCompatibleDC(nullptr);
  HFONT font = CreateFontA(-11, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, "Tahoma");
  HGDIOBJ old = SelectObject(dc, font);
  RECT r = {0, 0, 10000, 0};
  DrawTextA(dc, text.c_str(), -1, &r, DT_CALCRECT | DT_SINGLELINE);
  SelectObject(dc, old);
  DeleteObject(font);
  DeleteDC(dc);
  return r.right;
}

HWND FocusOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndFocus : nullptr;
}

// A key pressed in the dialog, at its focused control.
void PressKey(HWND window, WORD key) {
  HWND focus = FocusOf(window);
  quorrin::gui::QuorrinProcess::PostKey(focus ? focus : window, key);
}

// Sends message with an item whose text buffer lies in the other process;
// returns the text the control put there.
template <class Item>
std::string RemoteText(HANDLE process, HWND control, UINT message, WPARAM wParam, Item item) {
  RemoteMemory memory(process, 512);
  item.pszText = static_cast<char*>(memory.Address()) + 256;
  item.cchTextMax = 200;
  memory.Write(&item, sizeof item);
  SendMessageA(control, message, wParam, reinterpret_cast<LPARAM>(memory.Address()));
  char text[200] = {};
  memory.Read(text, sizeof text - 1, 256);
  return text;
}

std::vector<std::string> TabNames(HANDLE process, HWND tabs) {
  std::vector<std::string> names;
  const int count = static_cast<int>(SendMessageA(tabs, TCM_GETITEMCOUNT, 0, 0));
  TCITEMA item{};
  item.mask = TCIF_TEXT;
  for (int i = 0; i < count; ++i) names.push_back(RemoteText(process, tabs, TCM_GETITEMA, i, item));
  return names;
}

std::vector<std::string> ColumnCaptions(HANDLE process, HWND list) {
  std::vector<std::string> captions;
  HWND header = reinterpret_cast<HWND>(SendMessageA(list, LVM_GETHEADER, 0, 0));
  const int count = static_cast<int>(SendMessageA(header, HDM_GETITEMCOUNT, 0, 0));
  LVCOLUMNA column{};
  column.mask = LVCF_TEXT;
  for (int i = 0; i < count; ++i) captions.push_back(RemoteText(process, list, LVM_GETCOLUMNA, i, column));
  return captions;
}

std::string CellText(HANDLE process, HWND list, int row, int column) {
  LVITEMA item{};
  item.iSubItem = column;
  return RemoteText(process, list, LVM_GETITEMTEXTA, row, item);
}

// Clicks tab i of a tab control (the dialog switches its content).
void SelectTab(HANDLE process, HWND tabs, int i) {
  RemoteMemory memory(process, sizeof(RECT));
  SendMessageA(tabs, TCM_GETITEMRECT, i, reinterpret_cast<LPARAM>(memory.Address()));
  RECT r;
  memory.Read(&r, sizeof r);
  quorrin::gui::QuorrinProcess::Click(tabs, POINT{(r.left + r.right) / 2, (r.top + r.bottom) / 2});
}

// The content control of the selected tab.
HWND TabContent(HWND tabs, const char* cls) {
  HWND found = nullptr;
  WaitUntil([&] {
    const std::vector<HWND> c = Children(tabs, cls);
    found = c.empty() ? nullptr : c[0];
    return found != nullptr;
  });
  return found;
}

void Capture(HWND window, const char* name) {
  EXPECT_TRUE(testhelpers::PaintNow(window)) << name;
  EXPECT_GT(SaveWindowBitmap(window, name), 8) << name;
}

TEST(DialogWindow, ShortViewLayoutThenDetailsViewWithTabs) {
  Lab lab("av-read --show 0 --set ShowBtnVis=true --set SaveBtnVis=true --set AutoClip=false");
  HWND box = lab.WaitForBox();
  ASSERT_TRUE(box);
  const std::vector<std::pair<std::string, HWND>> buttons = Buttons(box);
  std::vector<std::string> captions;
  for (const auto& b : buttons) captions.push_back(b.first);
  EXPECT_EQ(captions, (std::vector<std::string>{"send bug report", "save bug report", "show bug report",
                                                "continue application", "restart application",
                                                "close application"}));
  // The right column: one x, one width (the widest caption + 39), rows 26 apart.
  HWND cont = Button(box, "continue application"), restart = Button(box, "restart application"),
       close = Button(box, "close application");
  const RECT rc = ChildRect(cont), rr = ChildRect(restart), rx = ChildRect(close);
  RECT client;
  GetClientRect(box, &client);
  const int right = std::max({CaptionWidth("continue application"), CaptionWidth("restart application"),
                              CaptionWidth("close application")}) + 39;
  EXPECT_EQ(rc.right - rc.left, right);
  EXPECT_EQ(rc.left, rr.left);
  EXPECT_EQ(rc.left, rx.left);
  EXPECT_EQ(rc.left, client.right - right - 8);
  EXPECT_EQ(rr.top - rc.top, 26);
  EXPECT_EQ(rx.top - rr.top, 26);
  EXPECT_EQ(rc.bottom - rc.top, 22);
  // The bottom row: from x = 6, each as wide as its caption + 35, 4 apart.
  const RECT rs = ChildRect(Button(box, "send bug report")), rv = ChildRect(Button(box, "save bug report"));
  EXPECT_EQ(rs.left, 6);
  EXPECT_EQ(rs.right - rs.left, CaptionWidth("send bug report") + 35);
  EXPECT_EQ(rv.left, rs.right + 4);
  EXPECT_EQ(rs.top, rx.top);
  // Centred on the screen; continue is disabled (the fault cannot go on).
  RECT window;
  GetWindowRect(box, &window);
  EXPECT_NEAR((window.left + window.right) / 2, GetSystemMetrics(SM_CXSCREEN) / 2, 1);
  EXPECT_FALSE(IsWindowEnabled(cont));
  EXPECT_TRUE(GetWindowLongA(box, GWL_EXSTYLE) & WS_EX_TOPMOST);
  EXPECT_FALSE(GetWindowLongA(box, GWL_STYLE) & WS_THICKFRAME);
  // FocusedBtn 0: send has the focus.
  EXPECT_EQ(FocusOf(box), Button(box, "send bug report"));
  Capture(box, "dialog-short.bmp");

  // No delivery channel yet: sending says that it did not work.
  PostMessageA(Button(box, "send bug report"), BM_CLICK, 0, 0);
  HWND failure = nullptr;
  WaitUntil([&] {
    failure = FindWindowA("#32770", "crashlab.exe");
    return failure && IsWindowVisible(failure);
  });
  ASSERT_TRUE(failure);
  EXPECT_EQ(TextOf(GetDlgItem(failure, 0xFFFF)), "Sorry, sending the bug report didn't work.");
  PostMessageA(failure, WM_COMMAND, IDOK, 0);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(failure); }));
  EXPECT_TRUE(IsWindowVisible(box));

  PostMessageA(Button(box, "show bug report"), BM_CLICK, 0, 0);
  HWND details = lab.WaitForBox(box);
  ASSERT_TRUE(details);
  EXPECT_TRUE(GetWindowLongA(details, GWL_STYLE) & WS_THICKFRAME);
  EXPECT_EQ(Button(details, "show bug report"), nullptr);
  const std::vector<HWND> tabControls = Children(details, "SysTabControl32");
  ASSERT_EQ(tabControls.size(), 1u);
  HWND tabs = tabControls[0];
  RECT detailsClient;
  GetClientRect(details, &detailsClient);
  const RECT tabRect = ChildRect(tabs);
  EXPECT_EQ(tabRect.left, 5);
  EXPECT_EQ(tabRect.right - tabRect.left, detailsClient.right - 19);
  // The report completes in the background; the tabs follow.
  std::vector<std::string> names;
  WaitUntil([&] {
    names = TabNames(lab.Process(), tabs);
    return names.size() >= 8;
  });
  EXPECT_EQ(names, (std::vector<std::string>{"general", "call stack", "modules", "processes", "hardware", "cpu regs",
                                             "stack dump", "disasm"}));
  HWND list = TabContent(tabs, "SysListView32");
  ASSERT_TRUE(list);
  EXPECT_EQ(ColumnCaptions(lab.Process(), list), (std::vector<std::string>{"description", "value"}));
  EXPECT_GT(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 15);
  EXPECT_EQ(CellText(lab.Process(), list, 0, 0), "date/time");

  SelectTab(lab.Process(), tabs, 1);
  WaitUntil([&] { return ColumnCaptions(lab.Process(), TabContent(tabs, "SysListView32")).size() > 2; });
  list = TabContent(tabs, "SysListView32");
  EXPECT_EQ(ColumnCaptions(lab.Process(), list),
            (std::vector<std::string>{"address", "rel.", "module", "unit", "line", "rel.", "function"}));
  EXPECT_EQ(CellText(lab.Process(), list, 1, 6), "ReadViolation");
  EXPECT_EQ(CellText(lab.Process(), list, 1, 2), "crashlab.exe");
  Capture(details, "dialog-details.bmp");

  // The modules section of a real report in its columns.
  SelectTab(lab.Process(), tabs, 2);
  WaitUntil([&] { return ColumnCaptions(lab.Process(), TabContent(tabs, "SysListView32")).size() == 4; });
  list = TabContent(tabs, "SysListView32");
  EXPECT_EQ(ColumnCaptions(lab.Process(), list), (std::vector<std::string>{"handle", "file name", "version", "path"}));
  EXPECT_EQ(CellText(lab.Process(), list, 0, 1), "crashlab.exe");

  SelectTab(lab.Process(), tabs, 5);
  WaitUntil([&] { return ColumnCaptions(lab.Process(), TabContent(tabs, "SysListView32")).size() == 2; });
  list = TabContent(tabs, "SysListView32");
  EXPECT_EQ(ColumnCaptions(lab.Process(), list), (std::vector<std::string>{"reg.", "content"}));
  EXPECT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 9);

  // Resizing moves the right column and grows the tabs.
  RECT before, tabsBefore;
  GetWindowRect(details, &before);
  GetWindowRect(tabs, &tabsBefore);
  const RECT closeBefore = ChildRect(Button(details, "close application"));
  SetWindowPos(details, nullptr, 0, 0, before.right - before.left + 100, before.bottom - before.top + 50,
               SWP_NOMOVE | SWP_NOZORDER);
  RECT tabsAfter;
  WaitUntil([&] {
    GetWindowRect(tabs, &tabsAfter);
    return tabsAfter.right - tabsAfter.left == tabsBefore.right - tabsBefore.left + 100;
  });
  EXPECT_EQ(tabsAfter.bottom - tabsAfter.top, tabsBefore.bottom - tabsBefore.top + 50);
  EXPECT_EQ(ChildRect(Button(details, "close application")).left, closeBefore.left + 100);
  GetClientRect(details, &detailsClient);
  EXPECT_EQ(tabsAfter.right - tabsAfter.left, detailsClient.right - 19);

  // Escape: FocusedBtn 0 and no continuing: the close button's action.
  PressKey(details, VK_ESCAPE);
  EXPECT_EQ(lab.WaitExit(), kAccessViolation);
}

TEST(DialogWindow, OneRowWithoutRestartAndClose) {
  Lab lab("cpp --click --show 0 --set RestartBtnVis=false --set CloseBtnVis=false --set UglyBtns=true "
          "--set AutoClip=false");
  HWND box = lab.WaitForBox();
  ASSERT_TRUE(box);
  HWND cont = Button(box, "continue application"), send = Button(box, "send bug report");
  ASSERT_TRUE(cont && send);
  const RECT rc = ChildRect(cont), rs = ChildRect(send);
  RECT client;
  GetClientRect(box, &client);
  EXPECT_EQ(rc.top, rs.top);
  EXPECT_EQ(rc.bottom - rc.top, 26);  // UglyBtns
  EXPECT_EQ(rc.right, client.right - 8 - 4);
  EXPECT_TRUE(IsWindowEnabled(cont));
  // Escape continues: the click handler's exception is over, the lab goes on.
  PressKey(box, VK_ESCAPE);
  EXPECT_EQ(lab.WaitExit(), 0u);
}

TEST(DialogWindow, FocusedBtnOfAHiddenButtonFocusesNone) {
  Lab lab("cpp --click --show 0 --set FocusedBtn=2 --set PrintBtnVis=false --set AutoClip=false");
  HWND box = lab.WaitForBox();
  ASSERT_TRUE(box);
  ASSERT_EQ(Button(box, "print bug report"), nullptr);
  HWND focus = FocusOf(box);
  for (const auto& b : Buttons(box)) EXPECT_NE(focus, b.second) << b.first;
  // Closing falls back to continue: the click handler's exception is over.
  PressKey(box, VK_ESCAPE);
  EXPECT_EQ(lab.WaitExit(), 0u);
}

TEST(DialogWindow, FreezeWatchdogMessageClosesIt) {
  Lab lab("cpp --click --show 0 --set AutoClip=false");
  HWND box = lab.WaitForBox();
  ASSERT_TRUE(box);
  PostMessageA(box, WM_NULL, 777, 777);
  EXPECT_TRUE(WaitUntil([&] { return !IsWindow(box); }));
  EXPECT_EQ(lab.WaitExit(), 0u);  // the program goes on
}

TEST(DialogWindow, CountDownPressesTheAutoButton) {
  Lab lab("av-read --show 0 --set AutoClose=1 --set AutoDelay=1 --set AutoClip=false");
  HWND box = lab.WaitForBox();
  ASSERT_TRUE(box);
  EXPECT_EQ(FocusOf(box), Button(box, "close application"));
  EXPECT_EQ(lab.WaitExit(10000), kAccessViolation);
}

TEST(DialogWindow, NoDelayNoPress) {
  Lab lab("av-read --show 0 --set AutoClose=1 --set AutoDelay=0 --set AutoClip=false");
  HWND box = lab.WaitForBox();
  ASSERT_TRUE(box);
  Sleep(1500);  // the time in which no count-down may press a button
  EXPECT_TRUE(IsWindow(box));
  EXPECT_TRUE(lab.Running());
  PostMessageA(box, WM_CLOSE, 0, 0);  // focused close: ends the lab
  EXPECT_EQ(lab.WaitExit(), kAccessViolation);
}

// The saved reports of a file, as text.
std::string ReadFileText(const std::string& path) {
  std::string text;
  HANDLE h = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                         nullptr);
  if (h == INVALID_HANDLE_VALUE) return text;
  char buffer[4096];
  DWORD got = 0;
  while (ReadFile(h, buffer, sizeof buffer, &got, nullptr) && got) text.append(buffer, got);
  CloseHandle(h);
  return text;
}

TEST(DialogWindow, SaveAppendsWithoutAskingToReplace) {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string file = std::string(temp) + "kx-dialog-save.txt";
  // An earlier report of another program in the file the user picks.
  const std::string earlier = "date/time         : earlier\r\nexception class   : EEarlier\r\n\r\n";
  HANDLE h = CreateFileA(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(h, INVALID_HANDLE_VALUE);
  DWORD written = 0;
  WriteFile(h, earlier.data(), static_cast<DWORD>(earlier.size()), &written, nullptr);
  CloseHandle(h);
  const std::string dump = std::string(temp) + "kx-dialog-save.dmp";
  DeleteFileA(dump.c_str());
  // BugRepFile absolute: once saved, the save button goes. With a minidump:
  // the save writes it beside the file the user picked.
  Lab lab("av-read --show 0 --set SaveBtnVis=true --set AutoSave=false --set AutoClip=false --set DumpKind=1 "
          "--report \"" + file + "\"");
  HWND box = lab.WaitForBox();
  ASSERT_TRUE(box);
  HWND save = Button(box, "save bug report");
  ASSERT_TRUE(save);
  PostMessageA(save, BM_CLICK, 0, 0);
  HWND dialog = nullptr;
  WaitUntil([&] {
    dialog = FindWindowA("#32770", "save bug report");
    return dialog && IsWindowVisible(dialog) && GetDlgItem(dialog, 1148) && IsWindowEnabled(GetDlgItem(dialog, IDOK));
  });
  ASSERT_TRUE(dialog);
  SetWindowTextA(GetDlgItem(dialog, 1148), file.c_str());
  PostMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
  // No question about replacing the file (it would hold the save): the save
  // goes through.
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(save); }, 20000)) << "the save button is gone once saved";
  const std::string text = ReadFileText(file);
  EXPECT_EQ(text.rfind(earlier, 0), 0u) << "the earlier report stays first";
  EXPECT_NE(text.find("exception class  : EAccessViolation"), std::string::npos) << text.substr(0, 300);
  const std::string dumped = ReadFileText(dump);
  EXPECT_EQ(dumped.substr(0, 4), "MDMP") << "the minidump beside the saved report";
  EXPECT_NE(dumped.find("exception class  : EAccessViolation"), std::string::npos) << "the report inside it";
  PostMessageA(box, WM_CLOSE, 0, 0);
  EXPECT_EQ(lab.WaitExit(), kAccessViolation);
  DeleteFileA(file.c_str());
  DeleteFileA(dump.c_str());
}

std::string Clipboard() {
  std::string text;
  if (!OpenClipboard(nullptr)) return text;
  if (HANDLE data = GetClipboardData(CF_TEXT)) {
    if (const char* p = static_cast<const char*>(GlobalLock(data))) {
      text = p;
      GlobalUnlock(data);
    }
  }
  CloseClipboard();
  return text;
}

TEST(DialogWindow, MessageBoxOkOnlyAndCtrlC) {
  Lab lab("av-read --show 3 --set AutoClip=false");
  HWND box = lab.WaitForBox();
  ASSERT_TRUE(box);
  const auto buttons = Buttons(box);
  ASSERT_EQ(buttons.size(), 1u);
  EXPECT_EQ(buttons[0].first, "&OK");
  EXPECT_EQ(TextOf(box), "crashlab");
  // Ctrl+C typed into the dialog (again while another window of the test
  // run took the keyboard meanwhile).
  std::string copied;
  for (int attempt = 0; attempt < 5 && copied.rfind("Access violation at address", 0) != 0; ++attempt) {
    SetForegroundWindow(box);
    WaitUntil([&] { return GetForegroundWindow() == box; }, 3000);
    keybd_event(VK_CONTROL, 0, 0, 0);
    keybd_event('C', 0, 0, 0);
    keybd_event('C', 0, KEYEVENTF_KEYUP, 0);
    keybd_event(VK_CONTROL, 0, KEYEVENTF_KEYUP, 0);
    WaitUntil([&] {
      copied = Clipboard();
      return copied.rfind("Access violation at address", 0) == 0;
    }, 2000);
  }
  EXPECT_NE(copied.find("Read of address $10."), std::string::npos) << copied;
  PostMessageA(buttons[0].second, BM_CLICK, 0, 0);
  EXPECT_EQ(lab.WaitExit(), kAccessViolation);
}

TEST(DialogWindow, MessageBoxDetailsReopensAsDetailsView) {
  Lab lab("av-read --show 2 --set AutoClip=false --set AutoClose=1 --set AutoDelay=1");
  HWND box = lab.WaitForBox();
  ASSERT_TRUE(box);
  HWND details = Button(box, "&Details");
  ASSERT_TRUE(details);
  ASSERT_TRUE(Button(box, "&OK"));
  PostMessageA(details, BM_CLICK, 0, 0);
  HWND full = lab.WaitForBox(box);
  ASSERT_TRUE(full);
  EXPECT_EQ(Children(full, "SysTabControl32").size(), 1u);
  EXPECT_TRUE(Button(full, "close application"));
  // The details view has no auto button: nothing is pressed after the delay.
  Sleep(2000);  // twice the delay in which an auto button would have been pressed
  EXPECT_TRUE(lab.Running());
  PostMessageA(full, WM_CLOSE, 0, 0);
  EXPECT_EQ(lab.WaitExit(), kAccessViolation);
}

}  // namespace
