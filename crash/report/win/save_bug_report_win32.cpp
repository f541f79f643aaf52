// SaveBugReport: the bug report file on disk, updated under an exclusive
// open by the rules of the portable bug report file code.
#include "crash/report/win/save_bug_report.h"

#include <commdlg.h>
#include <cstring>
#include <shlobj.h>

#include "crash/base/win/scoped_handle.h"
#include "crash/base/win/system_library.h"
#include "crash/report/bug_report_file.h"
#include "crash/report/bug_report_path.h"
#include "crash/report/win/kx_exception_object.h"
#include "crash/threads/win/library_threads.h"

namespace kestrix {
namespace {

std::string ModulePath(HMODULE module) {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::string(path, n) : std::string();
}

std::string NameWithoutExtension(const std::string& path) {
  std::string name = path.substr(path.find_last_of("\\/") + 1);
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string Folder(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

HANDLE OpenExclusive(const std::string& path) {
  // Another process may hold the file for its own save: try for a while.
  for (int attempt = 0;; ++attempt) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_SHARING_VIOLATION || attempt >= 40) return h;
    Sleep(50);
  }
}

bool WriteAll(HANDLE h, const char* data, size_t size) {
  while (size > 0) {
    DWORD written = 0;
    if (!WriteFile(h, data, static_cast<DWORD>(size), &written, nullptr) || written == 0) return false;
    data += written;
    size -= written;
  }
  return true;
}

bool AskForPath(TIKXException* e, HWND parent, std::string& path) {
  char desktop[MAX_PATH] = {};
  std::string folder;
  using TSpecialFolderPath = BOOL(WINAPI*)(HWND, LPSTR, int, BOOL);
  auto specialFolderPath = SystemFunctionAs<TSpecialFolderPath>("shell32.dll", "SHGetSpecialFolderPathA");
  if (specialFolderPath && specialFolderPath(nullptr, desktop, CSIDL_DESKTOPDIRECTORY, FALSE)) folder = desktop;
  if (folder.empty()) folder = Folder(ModulePath(nullptr));
  char file[MAX_PATH] = {};
  const std::string initial = path.substr(path.find_last_of("\\/") + 1);
  lstrcpynA(file, initial.c_str(), MAX_PATH);
  const std::string title = e->SaveBtnTxt();
  OPENFILENAMEA ofn{};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = parent;
  ofn.lpstrFilter = "*.txt\0*.txt\0";
  ofn.lpstrFile = file;
  ofn.nMaxFile = MAX_PATH;
  ofn.lpstrInitialDir = folder.c_str();
  ofn.lpstrTitle = title.c_str();
  ofn.lpstrDefExt = "txt";
  // A save that appends to the file replaces nothing: no question then.
  ofn.Flags = OFN_HIDEREADONLY | OFN_NOREADONLYRETURN | (e->AppendBugReps() ? 0 : OFN_OVERWRITEPROMPT);
  using TGetSaveFileName = BOOL(WINAPI*)(OPENFILENAMEA*);
  auto getSaveFileName = SystemFunctionAs<TGetSaveFileName>("comdlg32.dll", "GetSaveFileNameA");
  if (!getSaveFileName || !getSaveFileName(&ofn)) return false;
  path = file;
  return true;
}

TReportSavedHook g_reportSaved = nullptr;  // set once at start-up

}  // namespace

void SetReportSavedHook(TReportSavedHook hook) { g_reportSaved = hook; }

std::string BugReportFilePathOf(TIKXException* e) {
  const std::string exe = ModulePath(nullptr);
  const HMODULE module = e->Module() ? e->Module() : GetModuleHandleA(nullptr);
  return BugReportFilePath(e->GetRawTextSetting("BugRepFile"), Folder(exe), NameWithoutExtension(exe),
                           NameWithoutExtension(ModulePath(module)));
}

void CopyToClipboard(const std::string& report) {
  if (!OpenClipboard(nullptr)) return;
  EmptyClipboard();
  if (HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, report.size() + 1)) {
    std::memcpy(GlobalLock(mem), report.c_str(), report.size() + 1);
    GlobalUnlock(mem);
    if (!SetClipboardData(CF_TEXT, mem)) GlobalFree(mem);
  }
  CloseClipboard();
}

bool SaveBugReport(TIKXException* e, HWND parent, const std::string& fileName, bool automatic) {
  if (!e) return false;
  std::string path = fileName;
  if (path.empty()) {
    path = BugReportFilePathOf(e);
    if (!automatic) {
      if (IsProcessBlocked(250)) {
        MessageBeep(MB_ICONHAND);
        return false;
      }
      if (!AskForPath(e, parent, path)) return false;
    }
  } else if (automatic) {
    path = BugReportFilePath(path, Folder(ModulePath(nullptr)), "", "");
  }
  const std::string report = e->ReportText(true);
  if (report.empty()) return false;  // no report for this exception (filters)
  for (const std::string& folder : FoldersToCreate(path)) CreateDirectoryA(folder.c_str(), nullptr);
  // Held exclusively until the function returns, whatever throws meanwhile:
  // a handle left open would lock the file for every later save.
  const TScopedHandle file(OpenExclusive(path));
  if (!file) return false;
  const HANDLE h = file.Get();

  bool ok = true;
  int count = 1;
  std::string old;
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(h, &size) || size.QuadPart > 256ll * 1024 * 1024) ok = false;
  if (ok && size.QuadPart > 0) {
    old.resize(static_cast<size_t>(size.QuadPart));
    DWORD got = 0, total = 0;
    while (total < old.size() && ReadFile(h, old.data() + total, old.size() - total, &got, nullptr) && got > 0)
      total += got;
    ok = total == old.size();
  }
  if (ok) {
    TBugReportFileRules rules;
    rules.append = e->AppendBugReps();
    rules.noDupExcepts = e->NoDupExcepts();
    rules.dupExceptDef = e->DupExceptDef();
    rules.noDupFreezes = e->NoDupFreezes();
    rules.dupFreezeDef = e->DupFreezeDef();
    rules.maxFileSize = e->BugRepFileSize();
    const TBugReportFileUpdate update = UpdateBugReportFile(old, report, rules);
    count = update.count;
    const TBugReportFileWrite plan = PlanBugReportFileWrite(old, update.content);
    if (!plan.rewrite) {
      LARGE_INTEGER end{};
      end.QuadPart = static_cast<LONGLONG>(plan.appendFrom);
      ok = SetFilePointerEx(h, end, nullptr, FILE_BEGIN) &&
           WriteAll(h, update.content.data() + plan.appendFrom, update.content.size() - plan.appendFrom);
    } else {
      // A copy of the new content is kept beside the file until the rewrite
      // has succeeded.
      const std::string spare = path + ".new";
      bool copied = false;
      {
        const TScopedHandle copy(
            CreateFileA(spare.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        copied = copy && WriteAll(copy.Get(), update.content.data(), update.content.size()) &&
                 FlushFileBuffers(copy.Get());
      }
      LARGE_INTEGER begin{};
      ok = copied && SetFilePointerEx(h, begin, nullptr, FILE_BEGIN) &&
           WriteAll(h, update.content.data(), update.content.size());
      if (ok || !copied) DeleteFileA(spare.c_str());
    }
    ok = ok && SetEndOfFile(h);
  }
  ok = FlushFileBuffers(h) && ok;
  if (ok && fileName.empty()) {
    e->SetSaved(true);
    if (g_reportSaved) g_reportSaved(e, path, count);
  }
  return ok;
}

}  // namespace kestrix
