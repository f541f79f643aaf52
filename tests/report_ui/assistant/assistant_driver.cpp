// Drives assistant_probe.exe from a second process: pages in order, the
// mail address check, remembering the contact data, Skip and Cancel, and
// what reaches the report. Prints "SHOT name" and waits for a line on
// standard input while the caller takes a screenshot; ends with "PASS" or
// the failed checks.
//   assistant_driver PROBE OUTFILE
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "page_driving.h"
#include "wine_threads.h"

namespace {

using namespace pagedriving;

std::string RegistryValue(const char* name) {
  char buffer[256] = "";
  DWORD size = sizeof buffer;
  if (RegGetValueA(HKEY_CURRENT_USER, "Software\\Vemtor\\ContactForm", name, RRF_RT_REG_SZ, nullptr, buffer, &size) !=
      ERROR_SUCCESS)
    return "<none>";
  return buffer;
}

// Starts the probe; the returned handle ends when it does.
HANDLE Start(const std::string& probe, const std::string& out, const char* assistant) {
  std::string command = "\"" + probe + "\" \"" + out + "\" " + assistant;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi)) return nullptr;
  CloseHandle(pi.hThread);
  return pi.hProcess;
}

std::string Finish(HANDLE process, const std::string& out) {
  const bool ended = WaitForSingleObject(process, 20000) == WAIT_OBJECT_0;
  if (!ended) {
    winethreads::DumpProgramThreads("the probe did not end", {"assistant_probe.exe", "explorer.exe"});
    TerminateProcess(process, 1);  // it holds the caller's output open
  }
  CHECK(ended);
  CloseHandle(process);
  std::ifstream in(out, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

int TextHeight(const char* face, int pixels) {
  HDC dc = GetDC(nullptr);
  HFONT font = CreateFontA(-pixels, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, OUT_DEFAULT_PRECIS,
                           CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH, face);
  HGDIOBJ old = SelectObject(dc, font);
  SIZE size{};
  GetTextExtentPoint32A(dc, "Gg", 2, &size);
  SelectObject(dc, old);
  DeleteObject(font);
  ReleaseDC(nullptr, dc);
  return size.cy;
}

int WindowHeight(HWND w) {
  RECT r{};
  GetWindowRect(w, &r);
  return r.bottom - r.top;
}

HWND FocusOf(HWND window) {
  GUITHREADINFO info{};
  info.cbSize = sizeof info;
  return GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info) ? info.hwndFocus : nullptr;
}

bool Has(const std::string& text, const std::string& line) { return text.find(line + "\n") != std::string::npos; }

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) return 2;
  std::string probe = argv[1], out = argv[2];
  RegDeleteKeyA(HKEY_CURRENT_USER, "Software\\Vemtor\\ContactForm");

  // 1. Both pages answered, "remember me" checked.
  HANDLE p = Start(probe, out, "SaveAssistant");
  CHECK(p != nullptr);
  HWND contact = FindPage(nullptr);
  CHECK(contact != nullptr);
  if (!contact) return 1;
  CHECK(Text(contact) == "Save Assistant");
  HWND next = Item(contact, 0), name = Item(contact, 4), email = Item(contact, 6), remember = Item(contact, 7);
  CHECK(Text(next) == "Continue" && Text(Item(contact, 1)) == "Skip" && Text(Item(contact, 2)) == "Cancel");
  CHECK(!Enabled(Item(contact, 1)));
  CHECK(!Enabled(next));  // the mail address is required
  // Font sizes are pixel heights: a single-line edit is as high as "Gg" in
  // Tahoma of 11 pixels, plus 2.
  CHECK(WindowHeight(name) == TextHeight("Tahoma", 11) + 2);
  Shot("1-contact-empty");
  Type(name, "Jo Tester");
  Type(email, "jo@invalid");
  CHECK(WaitUntil([&] { return !Enabled(next); }, 300));
  Type(email, "jo.tester@example.test");
  CHECK(WaitUntil([&] { return Enabled(next); }));
  Click(remember);
  CHECK(WaitUntil([&] { return Checked(remember); }));
  Shot("2-contact-filled");
  Click(next);
  HWND details = FindPage(contact);
  CHECK(details != nullptr && details != contact);
  if (!details) return 1;
  HWND memo = Item(details, 4);
  CHECK(!Enabled(Item(details, 0)));  // the memo is required
  CHECK(Enabled(Item(details, 1)));
  TypeKeys(memo, "clicked open\r\nthen it crashed");
  CHECK(WaitUntil([&] { return Enabled(Item(details, 0)); }));
  Shot("3-details");
  Click(Item(details, 0));
  std::string r = Finish(p, out);
  CHECK(Has(r, "result 1"));
  CHECK(Has(r, "page ContactForm 1") && Has(r, "page DetailsForm 1"));
  CHECK(Has(r, "header contact name: Jo Tester"));
  CHECK(Has(r, "header contact email: jo.tester@example.test"));
  CHECK(Has(r, "section error details: clicked open|then it crashed"));
  CHECK(Has(r, "mailfrom Jo Tester <jo.tester@example.test>"));
  CHECK(Has(r, "restored DetailsMemo=clicked open\r\nthen it crashed"));
  CHECK(RegistryValue("RememberName") == "Jo Tester");
  CHECK(RegistryValue("RememberEmail") == "jo.tester@example.test");

  // 2. Remembered data prefilled; "remember me" unchecked; the second page
  //    cancelled: the assistant returns 3, nothing is remembered any more.
  p = Start(probe, out, "SaveAssistant");
  contact = FindPage(nullptr);
  CHECK(contact != nullptr);
  if (!contact) return 1;
  CHECK(Text(Item(contact, 4)) == "Jo Tester");
  CHECK(Text(Item(contact, 6)) == "jo.tester@example.test");
  CHECK(Checked(Item(contact, 7)));
  CHECK(Enabled(Item(contact, 0)));
  Shot("4-contact-remembered");
  Click(Item(contact, 7));
  CHECK(WaitUntil([&] { return !Checked(Item(contact, 7)); }));
  Click(Item(contact, 0));
  details = FindPage(contact);
  CHECK(details != nullptr);
  if (!details) return 1;
  PostMessageA(Item(details, 4), WM_KEYDOWN, VK_ESCAPE, 0);  // Escape acts as Cancel
  r = Finish(p, out);
  CHECK(Has(r, "result 3"));
  CHECK(Has(r, "page DetailsForm 3"));
  CHECK(r.find("header contact") == std::string::npos);
  CHECK(RegistryValue("RememberName") == "<none>");
  CHECK(RegistryValue("RememberEmail") == "<none>");

  // 3. The details page skipped: only the contact data reach the report.
  p = Start(probe, out, "SaveAssistant");
  contact = FindPage(nullptr);
  CHECK(contact != nullptr);
  if (!contact) return 1;
  CHECK(Text(Item(contact, 4)).empty());
  Type(Item(contact, 6), "a_b-c@x.y");
  CHECK(WaitUntil([&] { return Enabled(Item(contact, 0)); }));
  // Keys as in a dialog: an arrow key on the check box moves the focus on
  // (to Continue, the first button), Enter on a button presses it.
  PostMessageA(Item(contact, 7), WM_KEYDOWN, VK_DOWN, 0);
  CHECK(WaitUntil([&] { return FocusOf(contact) == Item(contact, 0); }));
  PostMessageA(Item(contact, 0), WM_KEYDOWN, VK_RETURN, 0);
  details = FindPage(contact);
  CHECK(details != nullptr);
  if (!details) return 1;
  Click(Item(details, 1));
  r = Finish(p, out);
  CHECK(Has(r, "result 1"));
  CHECK(Has(r, "page DetailsForm 2"));
  CHECK(Has(r, "header contact email: a_b-c@x.y"));
  CHECK(r.find("section error details") == std::string::npos);
  if (g_failures) printf("last probe output:\n%s", r.c_str());
  CHECK(Has(r, "mailfrom "));  // no name: the sender stays unset

  printf(g_failures ? "FAIL\n" : "PASS\n");
  return g_failures ? 1 : 0;
}
