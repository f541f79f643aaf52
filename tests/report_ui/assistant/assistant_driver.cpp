// Drives assistant_probe.exe from a second process: pages in order, the
// mail address check, remembering the contact data, Skip and Cancel, and
// what reaches the report. Prints "SHOT name" and waits for a line on
// standard input while the caller takes a screenshot; ends with "PASS" or
// the failed checks.
//   assistant_driver PROBE OUTFILE
#include <windows.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

namespace {

int g_failures = 0;
#define CHECK(cond)                                                     \
  do {                                                                  \
    if (!(cond)) {                                                      \
      printf("FAILED line %d: %s\n", __LINE__, #cond);                  \
      fflush(stdout);                                                   \
      ++g_failures;                                                     \
    }                                                                   \
  } while (0)

template <class F>
bool WaitUntil(F cond, int ms = 15000) {
  auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
  while (!cond()) {
    if (std::chrono::steady_clock::now() > end) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return true;
}

void Shot(const char* name) {
  std::this_thread::sleep_for(std::chrono::milliseconds(400));  // let the page paint
  printf("SHOT %s\n", name);
  fflush(stdout);
  char line[64];
  fgets(line, sizeof line, stdin);
}

struct TFind {
  HWND skip;
  HWND found;
};

BOOL CALLBACK FindPageWindow(HWND w, LPARAM l) {
  auto* f = reinterpret_cast<TFind*>(l);
  char cls[64];
  GetClassNameA(w, cls, sizeof cls);
  if (w != f->skip && IsWindowVisible(w) && std::string(cls) == "KestrixNVForm") {
    f->found = w;
    return FALSE;
  }
  return TRUE;
}

HWND FindPage(HWND previous) {
  TFind f{previous, nullptr};
  WaitUntil([&] {
    f.found = nullptr;
    EnumWindows(FindPageWindow, reinterpret_cast<LPARAM>(&f));
    return f.found != nullptr;
  });
  return f.found;
}

HWND Item(HWND page, int index) { return GetDlgItem(page, 100 + index); }

std::string Text(HWND w) {
  char buffer[1024] = "";
  SendMessageA(w, WM_GETTEXT, sizeof buffer, reinterpret_cast<LPARAM>(buffer));
  return buffer;
}

void Type(HWND edit, const char* text) { SendMessageA(edit, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text)); }
// Typing into a memo, key by key (setting a multi-line edit's text
// announces no change).
void TypeKeys(HWND edit, const char* text) {
  for (const char* c = text; *c; ++c)
    if (*c != '\n') PostMessageA(edit, WM_CHAR, static_cast<unsigned char>(*c), 0);
}
void Click(HWND button) { PostMessageA(button, BM_CLICK, 0, 0); }
bool Enabled(HWND w) { return IsWindowEnabled(w) != FALSE; }
bool Checked(HWND w) { return SendMessageA(w, BM_GETCHECK, 0, 0) == BST_CHECKED; }

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
  CHECK(WaitForSingleObject(process, 20000) == WAIT_OBJECT_0);
  CloseHandle(process);
  std::ifstream in(out, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
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
  Click(Item(contact, 0));
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
