// Drives the crash lab's assistants from a second process (the crash lab is
// started by the caller):
//   report_assistant_driver dialog REPORT
//     the exception dialog's save button with SaveAssis: the pages in order
//     above the dialog, the mail address check, a cancelled assistant saves
//     nothing, the next one starts from the form cache; the report saved
//     through the save-file dialog into REPORT.
//   report_assistant_driver dialog-send
//     the dialog's send button with SendAssis: the pages, then the dialog
//     back once the report is sent.
//   report_assistant_driver dialog-instead
//     display mode 1 naming no assistant: the dialog, continued.
//   report_assistant_driver display-noattach
//     display mode 1: the assistant instead of the dialog, the screenshot
//     page left with its check box unchecked.
//   report_assistant_driver display-edit EDITOR
//     display mode 1, the picture clicked: the shell's "edit" verb for .bmp
//     (registered here for EDITOR) edits the copy, the page shows the edited
//     picture, and the copy is gone once the page closes.
// Prints "SHOT name" and waits for a line while the caller takes a
// screenshot; ends with "PASS" or the failed checks.
#include <windows.h>

#include <cstdio>
#include <memory>
#include <string>

#include "page_driving.h"
#include "tests/helpers/win/bitmaps.h"

namespace {

using namespace pagedriving;

bool FileExists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// A child window of `parent` with that text.
HWND ChildWithText(HWND parent, const std::string& text) {
  return testhelpers::FindChildWindow(parent, [&](HWND w) { return Text(w) == text; });
}

bool Topmost(HWND w) { return (GetWindowLongA(w, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

// The contact page: an invalid address keeps Continue disabled, a valid
// one enables it.
void FillContact(HWND contact, const char* title) {
  CHECK(Text(contact) == title);
  CHECK(Text(Item(contact, 4)).empty() || Text(Item(contact, 4)) == "Jo Tester");
  Type(Item(contact, 4), "Jo Tester");
  Type(Item(contact, 6), "jo@invalid");
  CHECK(WaitUntil([&] { return !Enabled(Item(contact, 0)); }, 300));
  Type(Item(contact, 6), "jo.tester@example.test");
  CHECK(WaitUntil([&] { return Enabled(Item(contact, 0)); }));
}

void FillDetails(HWND details) {
  CHECK(!Enabled(Item(details, 0)));  // the memo is required
  TypeKeys(Item(details, 4), "pressed crash\r\nand it crashed");
  CHECK(WaitUntil([&] { return Enabled(Item(details, 0)); }));
}

// The contact and details pages filled and continued; the screenshot page
// that follows (none when a page did not come). `shot` names a screenshot
// of the details page.
HWND ThroughFirstPages(HWND contact, const char* title, const char* shot = nullptr) {
  if (!contact) return nullptr;
  FillContact(contact, title);
  Click(Item(contact, 0));
  HWND details = FindPage(contact);
  CHECK(details != nullptr);
  if (!details) return nullptr;
  FillDetails(details);
  if (shot) Shot(shot);
  Click(Item(details, 0));
  HWND page = FindPage(details);
  CHECK(page != nullptr);
  if (page) CHECK(Checked(Item(page, 3)));  // attached unless unchecked
  return page;
}

HWND WaitForDialog() {
  HWND dialog = WaitForWindowOfClass("KestrixWndClass", nullptr, 30000);
  CHECK(dialog != nullptr);
  return dialog;
}

void ContinueApplication(HWND dialog) {
  HWND go = ChildWithText(dialog, "continue application");
  CHECK(go != nullptr);
  if (go) Click(go);
}

// Whether the window shows a magenta pixel (the editor's block).
bool ShowsMagenta(HWND w) {
  RECT r;
  GetClientRect(w, &r);
  const int width = r.right, height = r.bottom;
  if (width <= 0 || height <= 0) return false;
  BITMAPINFO info = testhelpers::TopDownBitmapInfo(width, height);
  void* bits = nullptr;
  HDC screen = GetDC(w);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP dib = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, dib);
  BitBlt(memory, 0, 0, width, height, screen, 0, 0, SRCCOPY);
  bool found = false;
  const auto* p = static_cast<const uint8_t*>(bits);
  for (int i = 0; bits && i < width * height && !found; ++i, p += 4)
    found = p[2] > 230 && p[1] < 30 && p[0] > 230;
  SelectObject(memory, old);
  DeleteObject(dib);
  DeleteDC(memory);
  ReleaseDC(w, screen);
  return found;
}

// HKCR\.bmp's "edit" verb runs `editor`; undone by the destructor.
class TEditVerb {
 public:
  explicit TEditVerb(const std::string& editor) {
    char value[256] = "";
    LONG size = sizeof value;
    hadOld_ = RegQueryValueA(HKEY_CLASSES_ROOT, ".bmp", value, &size) == ERROR_SUCCESS;
    old_ = value;
    RegSetValueA(HKEY_CLASSES_ROOT, ".bmp", REG_SZ, kProgId, 0);
    const std::string command = "\"" + editor + "\" \"%1\"";
    RegSetValueA(HKEY_CLASSES_ROOT, "KestrixTestPicture\\shell\\edit\\command", REG_SZ, command.c_str(), 0);
  }
  ~TEditVerb() {
    if (hadOld_) RegSetValueA(HKEY_CLASSES_ROOT, ".bmp", REG_SZ, old_.c_str(), 0);
    else RegDeleteKeyA(HKEY_CLASSES_ROOT, ".bmp");
    RegDeleteKeyA(HKEY_CLASSES_ROOT, "KestrixTestPicture\\shell\\edit\\command");
    RegDeleteKeyA(HKEY_CLASSES_ROOT, "KestrixTestPicture\\shell\\edit");
    RegDeleteKeyA(HKEY_CLASSES_ROOT, "KestrixTestPicture\\shell");
    RegDeleteKeyA(HKEY_CLASSES_ROOT, "KestrixTestPicture");
  }

 private:
  static constexpr const char* kProgId = "KestrixTestPicture";
  bool hadOld_ = false;
  std::string old_;
};

void DialogSave(const std::string& report) {
  HWND dialog = WaitForDialog();
  if (!dialog) return;
  CHECK(Topmost(dialog));
  HWND save = ChildWithText(dialog, "save bug report");
  CHECK(save != nullptr);
  if (!save) return;

  // 1. Cancelled on the second page: nothing saved, the dialog back on top.
  Click(save);
  HWND contact = FindPage(nullptr);
  CHECK(contact != nullptr);
  if (!contact) return;
  CHECK(!Topmost(dialog));  // not above the pages
  CHECK(!Enabled(dialog));
  FillContact(contact, "Save Assistant");
  Shot("dialog-1-contact");
  Click(Item(contact, 0));
  HWND details = FindPage(contact);
  CHECK(details != nullptr);
  if (!details) return;
  Click(Item(details, 2));
  CHECK(WaitUntil([&] { return Enabled(dialog) && Topmost(dialog); }));
  Sleep(1000);  // the time in which no save-file dialog may come up
  CHECK(FindWindowOfClass("#32770") == nullptr);
  CHECK(FindWindowOfClass("KestrixNVForm") == nullptr);
  CHECK(!FileExists(report));

  // 2. Again: the contact page starts from the form cache; all three pages.
  Click(save);
  contact = FindPage(nullptr);
  CHECK(contact != nullptr);
  if (contact) {
    CHECK(Text(Item(contact, 6)) == "jo.tester@example.test");
    CHECK(Enabled(Item(contact, 0)));
  }
  HWND shot = ThroughFirstPages(contact, "Save Assistant", "dialog-2-details");
  if (!shot) return;
  CHECK(Text(Item(shot, 3)) == "attach a screenshot to the bug report");
  CHECK(!Enabled(Item(shot, 1)));
  Shot("dialog-3-screenshot");
  Click(Item(shot, 0));

  // The save-file dialog: the report's file.
  HWND ask = WaitForWindowOfClass("#32770", nullptr, 20000);
  CHECK(ask != nullptr);
  if (!ask) return;
  SendMessageA(GetDlgItem(ask, 1148), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(report.c_str()));
  PostMessageA(GetDlgItem(ask, IDOK), BM_CLICK, 0, 0);
  CHECK(WaitUntil([&] { return FileExists(report); }, 20000));
  CHECK(WaitUntil([&] { return Enabled(dialog) && Topmost(dialog); }));
  Shot("dialog-4-saved");
  ContinueApplication(dialog);
}

// Display mode 1 without such an assistant: the dialog, continued.
void DialogInstead() {
  HWND dialog = WaitForDialog();
  if (!dialog) return;
  CHECK(FindWindowOfClass("KestrixNVForm") == nullptr);
  ContinueApplication(dialog);
}

// The send button: the send assistant's three pages, then the report goes
// out (to the caller's upload server) while the dialog waits.
void DialogSend() {
  HWND dialog = WaitForDialog();
  HWND send = dialog ? ChildWithText(dialog, "send bug report") : nullptr;
  CHECK(send != nullptr);
  if (!send) return;
  Click(send);
  HWND shot = ThroughFirstPages(FindPage(nullptr), "Send Assistant");
  if (!shot) return;
  Click(Item(shot, 0));
  CHECK(WaitUntil([&] { return FindWindowOfClass("KestrixNVForm") == nullptr; }));
  CHECK(WaitUntil([&] { return Enabled(dialog) && Topmost(dialog); }, 30000));
  ContinueApplication(dialog);
}

void DisplayMode(bool edit, const std::string& editor) {
  std::unique_ptr<TEditVerb> verb;
  if (edit) verb = std::make_unique<TEditVerb>(editor);
  HWND contact = FindPage(nullptr);
  CHECK(contact != nullptr);
  CHECK(FindWindowOfClass("KestrixWndClass") == nullptr);  // no dialog
  HWND page = ThroughFirstPages(contact, "Send Assistant");
  if (!page) return;
  HWND attach = Item(page, 3);
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  const std::string copy = std::string(temp) + "screenShot.bmp";
  if (!edit) {
    Click(attach);
    CHECK(WaitUntil([&] { return !Checked(attach); }));
    Shot("display-unchecked");
    Click(Item(page, 0));
    return;
  }
  CHECK(!ShowsMagenta(page));
  // The picture lies below the check box, inside its frame.
  RECT box;
  GetWindowRect(attach, &box);
  POINT at{box.left + 40, box.bottom + 40};
  ScreenToClient(page, &at);
  PostMessageA(page, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(at.x, at.y));
  PostMessageA(page, WM_LBUTTONUP, 0, MAKELPARAM(at.x, at.y));
  CHECK(WaitUntil([&] { return FileExists(copy); }));
  // The editor paints and ends; the page's timer takes the picture back.
  CHECK(WaitUntil([&] { return ShowsMagenta(page); }, 20000));
  Shot("display-edited");
  Click(Item(page, 0));
  CHECK(WaitUntil([&] { return !IsWindow(page); }));
  CHECK(WaitUntil([&] { return !FileExists(copy); }, 5000));  // the copy goes with the page
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return 2;
  const std::string mode = argv[1];
  if (mode == "dialog" && argc == 3) DialogSave(argv[2]);
  else if (mode == "dialog-send") DialogSend();
  else if (mode == "dialog-instead") DialogInstead();
  else if (mode == "display-noattach") DisplayMode(false, "");
  else if (mode == "display-edit" && argc == 3) DisplayMode(true, argv[2]);
  else return 2;
  printf(g_failures ? "FAIL\n" : "PASS\n");
  return g_failures ? 1 : 0;
}
