// The main window driven from a second process: layout, Browse through the
// real open-file dialog, tree, order, section view, console, open errors.
#include <gtest/gtest.h>
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <string>
#include <vector>

#include "app/unit1.h"  // control identifiers
#include "tests/gui/project_files.h"
#include "tests/helpers/win/window_driver.h"

namespace quorrin::gui {
namespace {

const std::string kExe = WindowsPath(QUORRIN_EXE);
const std::string kSourceDir = WindowsPath(QUORRIN_SOURCE_DIR);
const std::string kNotFound = " : unit file not found in project search path or IDE library path";

// Tree lines as "  " per level followed by the text.
std::vector<std::string> Indented(const std::vector<TreeLine>& tree) {
  std::vector<std::string> out;
  for (const TreeLine& line : tree) out.push_back(std::string(static_cast<size_t>(line.depth) * 2, ' ') + line.text);
  return out;
}

const TreeLine* FindNode(const std::vector<TreeLine>& tree, const std::string& text) {
  for (const TreeLine& line : tree)
    if (line.text == text) return &line;
  return nullptr;
}

// Waits for the section view to show text; returns what it shows.
std::string WaitForSection(const QuorrinProcess& app, const std::string& text) {
  const HWND section = app.Control(idSection);
  WaitUntil([&] { return TextOf(section) == text; }, 5000);
  return TextOf(section);
}

// The line height of a font as this process's GDI makes it.
int FontHeight(const char* face, int height) {
  HFONT font = CreateFontA(height, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, face);
  HDC dc = GetDC(nullptr);
  HGDIOBJ old = SelectObject(dc, font);
  TEXTMETRICA tm{};
  GetTextMetricsA(dc, &tm);
  SelectObject(dc, old);
  ReleaseDC(nullptr, dc);
  DeleteObject(font);
  return tm.tmHeight;
}

POINT Center(const RECT& r) { return {(r.left + r.right) / 2, (r.top + r.bottom) / 2}; }

TEST(MainWindow, LayoutAndInitialState) {
  QuorrinProcess app(kExe);
  const HWND form = app.Main();
  EXPECT_EQ(ClassOf(form), "TForm1");
  EXPECT_EQ(TextOf(form), "Quorrin");

  RECT client, frame;
  GetClientRect(form, &client);
  EXPECT_EQ(client.right, 637);
  EXPECT_EQ(client.bottom, 684);
  GetWindowRect(form, &frame);
  EXPECT_EQ(frame.left, 195);
  EXPECT_EQ(frame.top, 112);

  // Single fixed border, system menu and minimize only.
  const LONG style = GetWindowLongA(form, GWL_STYLE);
  EXPECT_TRUE(style & WS_CAPTION);
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_FALSE(style & WS_MAXIMIZEBOX);
  EXPECT_FALSE(style & WS_THICKFRAME);

  struct Expected {
    int id;
    const char* cls;
    RECT rect;  // left, top, right, bottom
    const char* text;
  };
  const Expected controls[] = {
      {idSearchPaths, "Edit", {8, 8, 625, 177}, nullptr},
      {idLabel1, "Static", {8, 188, 63, 201}, "Project File:"},
      {idProject, "Edit", {72, 184, 545, 205}, ""},
      {idOpen, "Button", {552, 184, 627, 209}, "Browse"},
      {idUnits, "SysTreeView32", {8, 216, 449, 401}, nullptr},
      {idUnitOrder, "ListBox", {456, 216, 625, 401}, nullptr},
      {idSection, "Edit", {8, 408, 625, 529}, ""},
      {idConsole, "Edit", {8, 536, 625, 673}, ""},
  };
  for (const Expected& e : controls) {
    SCOPED_TRACE("control " + std::to_string(e.id));
    const HWND c = app.Control(e.id);
    ASSERT_TRUE(c);
    EXPECT_EQ(GetParent(c), form);
    EXPECT_TRUE(IsWindowVisible(c));
    EXPECT_EQ(ClassOf(c), e.cls);
    const RECT r = ChildRect(c);
    EXPECT_EQ(r.left, e.rect.left);
    EXPECT_EQ(r.top, e.rect.top);
    EXPECT_EQ(r.right, e.rect.right);
    EXPECT_EQ(r.bottom, e.rect.bottom);
    if (e.text) EXPECT_EQ(TextOf(c), e.text);
  }

  // The memos write in the form's font: their lines are as far apart as
  // the font is high. (Wine answers WM_GETFONT from another process with 0,
  // so the font is judged by its effect.)
  const int fontHeight = FontHeight("MS Sans Serif", -11);
  for (int id : {idSearchPaths, idSection, idConsole}) {
    const HWND memo = app.Control(id);
    const std::string before = TextOf(memo);
    SetText(memo, "first\r\nsecond");
    const LRESULT first = SendMessageA(memo, EM_POSFROMCHAR, 0, 0);
    const LRESULT second = SendMessageA(memo, EM_POSFROMCHAR, 7, 0);
    EXPECT_EQ(HIWORD(second) - HIWORD(first), fontHeight) << id;
    SetText(memo, before);
  }

  // The label draws its caption on one line, never wrapped into hiding.
  EXPECT_EQ(GetWindowLongA(app.Control(idLabel1), GWL_STYLE) & SS_TYPEMASK, SS_LEFTNOWORDWRAP);

  // Memos: scroll bars both ways, no wrapping; section and console read-only.
  for (int id : {idSearchPaths, idSection, idConsole}) {
    const LONG s = GetWindowLongA(app.Control(id), GWL_STYLE);
    EXPECT_TRUE((s & WS_HSCROLL) && (s & WS_VSCROLL) && (s & ES_MULTILINE) && (s & ES_AUTOHSCROLL)) << id;
    EXPECT_EQ((s & ES_READONLY) != 0, id != idSearchPaths) << id;
  }
  EXPECT_FALSE(GetWindowLongA(app.Control(idProject), GWL_STYLE) & ES_READONLY);
  EXPECT_FALSE(GetWindowLongA(app.Control(idUnits), GWL_STYLE) & TVS_EDITLABELS);
  EXPECT_FALSE(GetWindowLongA(app.Control(idUnitOrder), GWL_STYLE) & LBS_SORT);
  EXPECT_EQ(SendMessageA(app.Control(idUnits), TVM_GETINDENT, 0, 0), 19);
  EXPECT_EQ(SendMessageA(app.Control(idUnitOrder), LB_GETITEMHEIGHT, 0, 0), 13);

  EXPECT_EQ(Lines(TextOf(app.Control(idSearchPaths))),
            (std::vector<std::string>{"SearchPaths : you must add them here before analyzing",
                                      "IDE library path first", "project search path after"}));
  EXPECT_EQ(SendMessageA(app.Control(idSearchPaths), EM_GETLINECOUNT, 0, 0), 3);
  EXPECT_EQ(SendMessageA(app.Control(idUnits), TVM_GETCOUNT, 0, 0), 0);
  EXPECT_EQ(SendMessageA(app.Control(idUnitOrder), LB_GETCOUNT, 0, 0), 0);

  // Tab order, walked with the Tab key from the search paths around to them.
  const HWND paths = app.Control(idSearchPaths);
  QuorrinProcess::Click(paths, {20, 20});
  ASSERT_TRUE(WaitUntil([&] { return app.Focus() == paths; }, 5000));
  for (int id : {idProject, idOpen, idUnits, idUnitOrder, idSection, idConsole, idSearchPaths}) {
    const HWND from = app.Focus();
    QuorrinProcess::PostKey(from, VK_TAB);
    EXPECT_TRUE(WaitUntil([&] { return app.Focus() == app.Control(id); }, 5000))
        << "Tab from control " << GetDlgCtrlID(from) << " reached " << GetDlgCtrlID(app.Focus())
        << " instead of " << id;
  }
  // Tab moved the focus; it typed nothing into the memos.
  EXPECT_EQ(TextOf(paths).find('\t'), std::string::npos);

  EXPECT_EQ(app.Close(), 0u);
}

TEST(MainWindow, SearchPathsAreEmptiedOnlyWhenTheyBeginWithTheWord) {
  QuorrinProcess app(kExe);
  const HWND paths = app.Control(idSearchPaths);
  struct Case {
    std::string typed;
    bool emptied;
  };
  const Case cases[] = {
      {"SearchPaths\\lib\r\nC:\\other", true},
      {" SearchPaths\\lib", false},
      {"searchpaths\\lib", false},
      {"C:\\lib\r\nSearchPaths", false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.typed);
    SetText(paths, c.typed);
    const HWND dialog = app.BeginBrowse();
    ASSERT_TRUE(dialog);
    // Already decided while the dialog is up, before any choice is made.
    EXPECT_EQ(TextOf(paths), c.emptied ? "" : c.typed);
    ASSERT_TRUE(app.CancelDialog(dialog));
    EXPECT_EQ(TextOf(paths), c.emptied ? "" : c.typed);
  }
  // Cancelling analysed nothing and logged nothing.
  EXPECT_EQ(TextOf(app.Control(idConsole)), "");
  EXPECT_EQ(SendMessageA(app.Control(idUnits), TVM_GETCOUNT, 0, 0), 0);
}

// A project with units in its own folder, on a relative and on an absolute
// search path, one unit on both paths, one nowhere, one named in two cases.
struct SampleProject {
  std::string dir, file;
  SampleProject() : dir(FreshProjectDir("sample")), file(dir + "\\App.dpr") {
    WriteFile(file, CrLf({"program App;", "", "{$R *.res}", "", "uses", "  Forms,", "  Main in 'Main.pas' {Form1},",
                          "  Shared, // used twice", "  Tools;", "", "begin", "  Run;", "end."}));
    WriteFile(dir + "\\Main.pas",
              CrLf({"unit Main;", "", "interface", "", "uses", "  Shared, Helpers;", "", "implementation", "",
                    "uses Tools;", "", "procedure StartMain;", "begin", "end;", "", "initialization", "  StartMain;",
                    "finalization", "  StopMain;", "end."}));
    WriteFile(dir + "\\lib\\Shared.pas",
              CrLf({"unit Shared;", "", "interface", "", "implementation", "", "initialization", "  InitShared;",
                    "end."}));
    WriteFile(dir + "\\lib\\Tools.pas",
              CrLf({"unit Tools;", "interface", "implementation", "initialization", "  WrongTools;", "end."}));
    WriteFile(dir + "\\common\\Helpers.pas",
              CrLf({"unit Helpers;", "", "interface", "", "uses", "  shared;", "", "procedure Help;", "",
                    "implementation", "", "procedure Help;", "begin", "end;", "", "end."}));
    WriteFile(dir + "\\common\\Tools.pas",
              CrLf({"unit Tools;", "", "interface", "", "implementation", "", "begin", "  Setup;", "end."}));
  }
  // Relative line first, absolute line last; the final line break adds no line.
  std::string SearchPaths() const { return "lib\r\n" + dir + "\\common\r\n"; }
};

TEST(MainWindow, BrowseAnalysesTheProjectAndShowsSections) {
  const SampleProject sample;
  const std::string& d = sample.dir;
  QuorrinProcess app(kExe);
  const HWND paths = app.Control(idSearchPaths), tree = app.Control(idUnits), list = app.Control(idUnitOrder),
             section = app.Control(idSection), console = app.Control(idConsole);

  SetText(paths, sample.SearchPaths());
  HWND dialog = app.BeginBrowse();
  ASSERT_TRUE(dialog);
  ASSERT_TRUE(app.ChooseFile(dialog, sample.file));
  ASSERT_TRUE(app.Running());

  EXPECT_EQ(TextOf(app.Control(idProject)), sample.file);
  EXPECT_EQ(TextOf(paths), sample.SearchPaths());
  const std::vector<TreeLine> nodes = app.Tree();
  EXPECT_EQ(Indented(nodes), (std::vector<std::string>{"App.dpr", "  Forms.pas", "  Main.pas", "    Shared.pas",
                                                        "    Helpers.pas", "      shared.pas", "  Shared.pas",
                                                        "  Tools.pas"}));
  const std::vector<std::string> order{"Forms.pas", "Shared.pas", "Helpers.pas", "Main.pas", "Tools.pas", "App.dpr"};
  EXPECT_EQ(app.OrderItems(), order);
  const std::vector<std::string> firstRun{
      "current dir: " + d,
      "file \"" + d + "\\common\\Forms.pas\" not found. expands to: " + d + "\\common\\Forms.pas",
      "file \"lib\\Forms.pas\" not found. expands to: " + d + "\\lib\\Forms.pas",
      "found actual unit for \"Forms.pas\": ",
      "found actual unit for \"Main.pas\": " + d + "\\Main.pas",
      "file \"" + d + "\\common\\Shared.pas\" not found. expands to: " + d + "\\common\\Shared.pas",
      "found actual unit for \"Shared.pas\": " + d + "\\lib\\Shared.pas",
      "found actual unit for \"Helpers.pas\": " + d + "\\common\\Helpers.pas",
      "found actual unit for \"Tools.pas\": " + d + "\\common\\Tools.pas",
  };
  EXPECT_EQ(Lines(TextOf(console)), firstRun);
  EXPECT_EQ(TextOf(section), "");

  // One record per unit: the three Shared nodes and the list item share it;
  // the project file has none.
  ASSERT_EQ(nodes.size(), 8u);
  EXPECT_EQ(nodes[0].data, 0);
  EXPECT_NE(nodes[3].data, 0);
  EXPECT_EQ(nodes[5].data, nodes[3].data);
  EXPECT_EQ(nodes[6].data, nodes[3].data);
  EXPECT_EQ(SendMessageA(list, LB_GETITEMDATA, 1, 0), nodes[3].data);
  EXPECT_EQ(SendMessageA(list, LB_GETITEMDATA, 5, 0), 0);

  // The order list: mouse click, then the keyboard.
  const std::string mainSection =
      d + "\\Main.pas\r\n\r\ninitialization\r\n  StartMain;\r\nfinalization\r\n  StopMain;\r\nend.\r\n";
  RECT item;
  item = app.OrderItemRect(3);
  QuorrinProcess::Click(list, Center(item));
  EXPECT_EQ(WaitForSection(app, mainSection), mainSection);
  QuorrinProcess::PostKey(list, VK_DOWN);
  const std::string toolsSection = d + "\\common\\Tools.pas\r\n\r\nbegin\r\n  Setup;\r\nend.\r\n";
  EXPECT_EQ(WaitForSection(app, toolsSection), toolsSection);
  QuorrinProcess::PostKey(list, VK_DOWN);
  EXPECT_EQ(WaitForSection(app, "object not found"), "object not found");
  item = app.OrderItemRect(0);
  QuorrinProcess::Click(list, Center(item));
  EXPECT_EQ(WaitForSection(app, "Forms.pas" + kNotFound), "Forms.pas" + kNotFound);
  item = app.OrderItemRect(2);
  QuorrinProcess::Click(list, Center(item));
  const std::string helpersSection = d + "\\common\\Helpers.pas\r\n\r\n";  // its last routine ends in end;
  EXPECT_EQ(WaitForSection(app, helpersSection), helpersSection);

  // The tree: open the root, click a unit, then the project item.
  SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(nodes[0].item));
  SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(nodes[2].item));
  SendMessageA(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(nodes[4].item));
  const std::string sharedSection = d + "\\lib\\Shared.pas\r\n\r\ninitialization\r\n  InitShared;\r\nend.\r\n";
  QuorrinProcess::Click(tree, Center(app.TreeItemRect(nodes[5].item)));  // shared.pas, the leaf
  EXPECT_EQ(WaitForSection(app, sharedSection), sharedSection);
  EXPECT_EQ(app.SelectedTreeItem(), nodes[5].item);
  QuorrinProcess::Click(tree, Center(app.TreeItemRect(nodes[0].item)));
  EXPECT_EQ(WaitForSection(app, "object not found"), "object not found");
  EXPECT_EQ(app.SelectedTreeItem(), nodes[0].item);
  QuorrinProcess::Click(tree, Center(app.TreeItemRect(nodes[2].item)));
  EXPECT_EQ(WaitForSection(app, mainSection), mainSection);

  ASSERT_TRUE(app.WaitIdle());
  EXPECT_GT(SaveWindowBitmap(app.Main(), "quorrin-window.bmp"), 8) << "the capture shows the window";

  // A cancelled Browse changes nothing.
  const std::string consoleBefore = TextOf(console);
  dialog = app.BeginBrowse();
  ASSERT_TRUE(dialog);
  ASSERT_TRUE(app.CancelDialog(dialog));
  EXPECT_EQ(Indented(app.Tree()), Indented(nodes));
  EXPECT_EQ(app.OrderItems(), order);
  EXPECT_EQ(TextOf(section), mainSection);
  EXPECT_EQ(TextOf(console), consoleBefore);
  EXPECT_EQ(TextOf(app.Control(idProject)), sample.file);
  EXPECT_EQ(TextOf(paths), sample.SearchPaths());

  // A second Browse, of the bundled example: everything is replaced but the
  // console, which keeps the first run's lines. What is typed into the
  // project field does not matter.
  const std::string hello = kSourceDir + "\\examples\\hello";
  SetText(paths, "lib\r\nsrc");
  SetText(app.Control(idProject), sample.file);
  dialog = app.BeginBrowse();
  ASSERT_TRUE(dialog);
  ASSERT_TRUE(app.ChooseFile(dialog, hello + "\\Hello.dpr"));
  EXPECT_EQ(TextOf(section), "");
  EXPECT_EQ(TextOf(app.Control(idProject)), hello + "\\Hello.dpr");
  EXPECT_EQ(Indented(app.Tree()),
            (std::vector<std::string>{"Hello.dpr", "  SysUtils.pas", "  Greeting.pas", "    Config.pas",
                                      "      Logger.pas", "        StrUtils.pas", "    Logger.pas", "  Logger.pas",
                                      "  Config.pas"}));
  EXPECT_EQ(app.OrderItems(), (std::vector<std::string>{"SysUtils.pas", "StrUtils.pas", "Logger.pas", "Config.pas",
                                                        "Greeting.pas", "Hello.dpr"}));
  const std::vector<std::string> log = Lines(TextOf(console));
  ASSERT_GT(log.size(), firstRun.size());
  EXPECT_EQ(std::vector<std::string>(log.begin(), log.begin() + static_cast<long>(firstRun.size())), firstRun);
  EXPECT_EQ(log[firstRun.size()], "current dir: " + hello);
  EXPECT_EQ(log.back(), "found actual unit for \"StrUtils.pas\": " + hello + "\\lib\\StrUtils.pas");

  EXPECT_EQ(app.Close(), 0u);
}

// The exception dialog of the program (shown by its crash-report library
// from the library's own thread), or nullptr.
HWND WaitForExceptionDialog(const QuorrinProcess& app) {
  const DWORD pid = GetProcessId(app.Process());
  HWND found = nullptr;
  WaitUntil([&] {
    found = testhelpers::FindTopWindow([&](HWND w) {
      return testhelpers::WindowProcessId(w) == pid && IsWindowVisible(w) && ClassOf(w) == "KestrixWndClass";
    });
    return found != nullptr;
  });
  return found;
}

HWND ButtonOf(HWND dialog, const std::string& caption) {
  return testhelpers::FindChildWindow(dialog,
                                      [&](HWND w) { return ClassOf(w) == "Button" && TextOf(w) == caption; });
}

std::string StaticTexts(HWND dialog) {
  std::string texts;
  for (HWND w : testhelpers::ChildWindows(dialog, [](HWND w) { return ClassOf(w) == "Static"; })) texts += TextOf(w);
  return texts;
}

TEST(MainWindow, OpenErrorIsShownAndTheWindowGoesOn) {
  const std::string dir = FreshProjectDir("held");
  const std::string project = dir + "\\Held.dpr";
  WriteFile(project, CrLf({"program Held;", "uses First, Busy, Last;", "begin", "end."}));
  WriteFile(dir + "\\First.pas", CrLf({"unit First;", "interface", "implementation", "end."}));
  WriteFile(dir + "\\Busy.pas", CrLf({"unit Busy;", "interface", "implementation", "initialization", "end."}));
  WriteFile(dir + "\\Last.pas", CrLf({"unit Last;", "interface", "implementation", "end."}));

  // Another program writes Busy.pas and lets others only read it: the
  // section scan, which refuses to share with writers, cannot open it.
  HANDLE writer = CreateFileA((dir + "\\Busy.pas").c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(writer, INVALID_HANDLE_VALUE);

  QuorrinProcess app(kExe);
  SetText(app.Control(idSearchPaths), "");
  HWND dialog = app.BeginBrowse();
  ASSERT_TRUE(dialog);
  SetText(GetDlgItem(dialog, 1148), project);
  PostMessageA(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);

  // The exception dialog reports the error with Quorrin's ExceptMsg; the
  // error's own message is in the report behind "show bug report".
  const HWND box = WaitForExceptionDialog(app);
  ASSERT_TRUE(box) << "the exception dialog reports the error";
  EXPECT_EQ(StaticTexts(box), "An error occurred in the application.");

  const HWND goOn = ButtonOf(box, "continue application");
  ASSERT_TRUE(goOn);
  PostMessageA(goOn, BM_CLICK, 0, 0);
  ASSERT_TRUE(WaitUntil([&] { return !IsWindow(box); }));
  ASSERT_TRUE(app.WaitIdle());
  ASSERT_TRUE(app.Running());

  // The main thread waited while the dialog showed; continuing returns to
  // the window. What was built before the error stays; the order list stays
  // empty.
  EXPECT_EQ(Indented(app.Tree()), (std::vector<std::string>{"Held.dpr", "  First.pas", "  Busy.pas"}));
  EXPECT_EQ(SendMessageA(app.Control(idUnitOrder), LB_GETCOUNT, 0, 0), 0);
  EXPECT_EQ(Lines(TextOf(app.Control(idConsole))),
            (std::vector<std::string>{"current dir: " + dir, "found actual unit for \"First.pas\": " + dir + "\\First.pas",
                                      "found actual unit for \"Busy.pas\": " + dir + "\\Busy.pas"}));

  // The window goes on: once the file is free, the same project analyses.
  CloseHandle(writer);
  dialog = app.BeginBrowse();
  ASSERT_TRUE(dialog);
  ASSERT_TRUE(app.ChooseFile(dialog, project));
  EXPECT_EQ(app.OrderItems(), (std::vector<std::string>{"First.pas", "Busy.pas", "Last.pas", "Held.dpr"}));
  EXPECT_EQ(Lines(TextOf(app.Control(idConsole))).size(), 3u + 4u);
  EXPECT_EQ(app.Close(), 0u);
}

// The unit at a depth of the generated chain (bench/make_project.py).
std::string ChainUnit(int i) {
  static const char* const prefixes[] = {"Data", "View", "Net", "Util", "Core", "Form", "Model", "Store"};
  char name[32];
  std::snprintf(name, sizeof name, "%s%05d.pas", prefixes[i % 8], i);
  return name;
}

// The project is written before this test by the gui_chain_project test.
TEST(MainWindow, ChainTenThousandDeep) {
  constexpr int kDepth = 10000;
  const std::string project = FullPath("gui-projects\\chain\\Bench.dpr");
  ASSERT_NE(GetFileAttributesA(project.c_str()), INVALID_FILE_ATTRIBUTES) << project;
  QuorrinProcess app(kExe);
  const HWND tree = app.Control(idUnits);
  SetText(app.Control(idSearchPaths), "lib\\base\r\nlib\\extra\r\nsrc\\core\r\nsrc\\ui");
  HWND dialog = app.BeginBrowse();
  ASSERT_TRUE(dialog);
  ASSERT_TRUE(app.ChooseFile(dialog, project));
  ASSERT_TRUE(app.Running());

  EXPECT_EQ(SendMessageA(tree, TVM_GETCOUNT, 0, 0), kDepth + 1);
  const std::vector<std::string> order = app.OrderItems();
  ASSERT_EQ(order.size(), static_cast<size_t>(kDepth + 1));
  EXPECT_EQ(order.front(), ChainUnit(kDepth - 1));
  EXPECT_EQ(order[kDepth / 2], ChainUnit(kDepth / 2 - 1));
  EXPECT_EQ(order[kDepth - 1], ChainUnit(0));
  EXPECT_EQ(order.back(), "Bench.dpr");

  // The log, megabytes long, reaches the console in pieces after the
  // handler: complete, one unit's lines after the other's.
  const HWND console = app.Control(idConsole);
  const std::string lastLine = "found actual unit for \"" + ChainUnit(kDepth - 1) + "\": ";
  EXPECT_TRUE(WaitUntil([&] { return Lines(TextOf(console)).back().rfind(lastLine, 0) == 0; }, 120000));
  const std::vector<std::string> log = Lines(TextOf(console));
  EXPECT_EQ(log.front().rfind("current dir: ", 0), 0u);
  int found = 0, wrong = 0;
  for (const std::string& line : log) {
    if (line.rfind("found actual unit for \"", 0) != 0) continue;
    if (line.rfind("found actual unit for \"" + ChainUnit(found) + "\": ", 0) != 0 && wrong++ == 0)
      ADD_FAILURE() << "line for unit " << found << ": " << line;
    ++found;
  }
  EXPECT_EQ(wrong, 0);
  EXPECT_EQ(found, kDepth);

  // Walk down to the deepest node and select it (which opens every level
  // above it), then click its row: the control lays out and paints an item
  // 10,000 levels down, and the click shows that unit. (Its label lies
  // 190,000 pixels to the right; the click lands in the row's indent.)
  auto next = [&](HTREEITEM item, UINT flag) {
    return reinterpret_cast<HTREEITEM>(SendMessageA(tree, TVM_GETNEXTITEM, flag, reinterpret_cast<LPARAM>(item)));
  };
  HTREEITEM item = next(nullptr, TVGN_ROOT);
  int depth = 0;
  for (HTREEITEM child; (child = next(item, TVGN_CHILD)) != nullptr; item = child) ++depth;
  EXPECT_EQ(depth, kDepth);
  SendMessageA(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
  ASSERT_TRUE(app.WaitIdle());
  const RECT r = app.TreeItemRect(item);
  QuorrinProcess::Click(tree, {4, (r.top + r.bottom) / 2});
  EXPECT_TRUE(WaitUntil([&] { return TextOf(app.Control(idSection)).find(ChainUnit(kDepth - 1)) != std::string::npos; },
                        10000))
      << TextOf(app.Control(idSection));
  ASSERT_TRUE(app.Running());

  // The next Browse frees the deep tree; closing the window ends cleanly.
  const std::string small = FreshProjectDir("after-chain") + "\\Small.dpr";
  WriteFile(small, CrLf({"program Small;", "begin", "end."}));
  dialog = app.BeginBrowse();
  ASSERT_TRUE(dialog);
  ASSERT_TRUE(app.ChooseFile(dialog, small));
  ASSERT_TRUE(app.Running());
  EXPECT_EQ(app.OrderItems(), std::vector<std::string>{"Small.dpr"});
  EXPECT_EQ(app.Close(), 0u);
}

}  // namespace
}  // namespace quorrin::gui
