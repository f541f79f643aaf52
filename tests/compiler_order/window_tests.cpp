// The main window's compiler-order item: in the system menu, checked and
// unchecked by its command, choosing the analysis of the next Browse, and
// leaving the window's layout alone.
#include <windows.h>

#include <commctrl.h>
#include <gtest/gtest.h>

#include <map>
#include <vector>

#include "app/application.h"
#include "app/unit1.h"
#include "tests/helpers/win/temp_dir.h"

namespace quorrin {
namespace {

using testing::TempDir;

struct Geometry {
  RECT client;
  std::map<int, RECT> controls;  // by control id, in client coordinates
  bool operator==(const Geometry& o) const {
    auto same = [](const RECT& a, const RECT& b) {
      return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
    };
    if (!same(client, o.client) || controls.size() != o.controls.size()) return false;
    for (const auto& [id, r] : controls)
      if (!o.controls.count(id) || !same(r, o.controls.at(id))) return false;
    return true;
  }
};

Geometry Measure(HWND form) {
  Geometry g{};
  GetClientRect(form, &g.client);
  for (int id = idSearchPaths; id <= idConsole; ++id) {
    HWND control = GetDlgItem(form, id);
    RECT r{};
    GetWindowRect(control, &r);
    MapWindowPoints(nullptr, form, reinterpret_cast<POINT*>(&r), 2);
    g.controls[id] = r;
  }
  return g;
}

UINT ItemState(HWND form) { return GetMenuState(GetSystemMenu(form, FALSE), kCompilerOrderCommand, MF_BYCOMMAND); }

std::vector<std::string> OrderItems(const TForm1& form) {
  std::vector<std::string> items;
  const int count = static_cast<int>(SendMessageA(form.unitOrder, LB_GETCOUNT, 0, 0));
  for (int i = 0; i < count; ++i) {
    char text[512] = {};
    SendMessageA(form.unitOrder, LB_GETTEXT, i, reinterpret_cast<LPARAM>(text));
    items.push_back(text);
  }
  return items;
}

// What Browse does after the dialog, with the file chosen.
void Browse(TForm1& form, const std::string& project) {
  SendMessageA(form.units, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
  SendMessageA(form.unitOrder, LB_RESETCONTENT, 0, 0);
  form.LoadedUnits->Clear();
  form.OpenDialog.FileName = project;
  EnterProjectDirectory(project, form);
  form.AnalyzeProject();
  form.FlushLog();
}

TEST(CompilerOrderWindow, SystemMenuItemSwitchesTheOrderOfTheNextBrowse) {
  Application.Initialize();
  static TForm1 form;
  Form1 = &form;
  form.Create(GetModuleHandleA(nullptr));
  ASSERT_NE(form.Handle, nullptr);
  const Geometry before = Measure(form.Handle);
  EXPECT_EQ(before.client.right, TForm1::kClientWidth);
  EXPECT_EQ(before.client.bottom, TForm1::kClientHeight);

  HMENU menu = GetSystemMenu(form.Handle, FALSE);
  char caption[128] = {};
  ASSERT_GT(GetMenuStringA(menu, kCompilerOrderCommand, caption, sizeof caption, MF_BYCOMMAND), 0);
  EXPECT_STREQ(caption, kCompilerOrderCaption);
  EXPECT_EQ(ItemState(form.Handle) & MF_CHECKED, 0u);
  EXPECT_FALSE(form.CompilerOrder);

  TempDir dir;
  const std::string project = dir.Write("App.dpr", "program App;\r\nuses A;\r\nbegin\r\nend.\r\n");
  dir.Write("A.pas", "unit A;\r\ninterface\r\nuses C, D;\r\nimplementation\r\nend.\r\n");
  dir.Write("C.pas", "unit C;\r\ninterface\r\nimplementation\r\nuses A, Hidden;\r\nend.\r\n");
  dir.Write("D.pas", "unit D;\r\ninterface\r\nimplementation\r\nend.\r\n");
  dir.Write("Hidden.pas", "unit Hidden;\r\ninterface\r\nimplementation\r\nend.\r\n");

  // The window's own rules: interface clauses only.
  Browse(form, project);
  EXPECT_EQ(OrderItems(form), (std::vector<std::string>{"C.pas", "D.pas", "A.pas", "App.dpr"}));

  SendMessageA(form.Handle, WM_SYSCOMMAND, kCompilerOrderCommand, 0);
  EXPECT_TRUE(form.CompilerOrder);
  EXPECT_NE(ItemState(form.Handle) & MF_CHECKED, 0u);
  EXPECT_EQ(OrderItems(form).size(), 4u);  // the list changes with the next Browse only
  Browse(form, project);
  EXPECT_EQ(OrderItems(form), (std::vector<std::string>{"D.pas", "Hidden.pas", "C.pas", "A.pas", "App.dpr"}));
  EXPECT_EQ(SendMessageA(form.units, TVM_GETCOUNT, 0, 0), 6);  // App, A, C, A, Hidden, D
  EXPECT_TRUE(Measure(form.Handle) == before);

  SendMessageA(form.Handle, WM_SYSCOMMAND, kCompilerOrderCommand, 0);
  EXPECT_FALSE(form.CompilerOrder);
  EXPECT_EQ(ItemState(form.Handle) & MF_CHECKED, 0u);
  Browse(form, project);
  EXPECT_EQ(OrderItems(form), (std::vector<std::string>{"C.pas", "D.pas", "A.pas", "App.dpr"}));
  DestroyWindow(form.Handle);
}

}  // namespace
}  // namespace quorrin
