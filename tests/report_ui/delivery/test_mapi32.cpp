// A stand-in for the system's "mapi32.dll" under Wine (loaded in its place
// with WINEDLLOVERRIDES="mapi32=n"): MAPISendMail writes what it was given
// to the file that KX_MAPI_RECORD names and answers with the result that
// KX_MAPI_RESULT names (SUCCESS_SUCCESS, MAPI_USER_ABORT, MAPI_E_FAILURE or
// a number; SUCCESS_SUCCESS when unset). With KX_MAPI_COPY naming a folder,
// each attached file is copied there under its send-as name (the files are
// temporary).
#include <windows.h>

#include <mapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

std::string Env(const char* name) {
  char value[1024];
  const DWORD n = GetEnvironmentVariableA(name, value, sizeof value);
  return n && n < sizeof value ? std::string(value, n) : std::string();
}

// Texts on one line each: CR and LF are written as \r and \n.
void Text(FILE* out, const char* label, const char* text) {
  std::fprintf(out, "%s ", label);
  if (!text) {
    std::fprintf(out, "<null>\n");
    return;
  }
  for (const char* p = text; *p; ++p) {
    if (*p == '\r') std::fputs("\\r", out);
    else if (*p == '\n') std::fputs("\\n", out);
    else if (*p == '\\') std::fputs("\\\\", out);
    else std::fputc(*p, out);
  }
  std::fputc('\n', out);
}

ULONG Result() {
  const std::string r = Env("KX_MAPI_RESULT");
  if (r.empty() || r == "SUCCESS_SUCCESS") return SUCCESS_SUCCESS;
  if (r == "MAPI_USER_ABORT") return MAPI_USER_ABORT;
  if (r == "MAPI_E_FAILURE") return MAPI_E_FAILURE;
  return static_cast<ULONG>(std::strtoul(r.c_str(), nullptr, 0));
}

BOOL CALLBACK AskWindow(HWND window, LPARAM all) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  if (pid != GetCurrentProcessId()) return TRUE;
  DWORD_PTR answer = 0;
  if (!SendMessageTimeoutA(window, WM_NULL, 0, 0, SMTO_NORMAL, 3000, &answer)) *reinterpret_cast<bool*>(all) = false;
  return TRUE;
}

bool AllWindowsAnswer() {
  bool all = true;
  EnumWindows(AskWindow, reinterpret_cast<LPARAM>(&all));
  return all;
}

}  // namespace

extern "C" ULONG WINAPI MAPISendMail(LHANDLE session, ULONG_PTR uiParam, lpMapiMessage message,
                                                           FLAGS flags, ULONG reserved) {
  if (FILE* out = std::fopen(Env("KX_MAPI_RECORD").c_str(), "ab")) {
    // A mail client talks to the program's windows (as a broadcast does):
    // the threads of all of them must answer (within 3 s each).
    const bool answered = AllWindowsAnswer();
    std::fprintf(out, "call session=%lu reserved=%lu flags=%lu parent=%d answered=%d\n",
                 static_cast<unsigned long>(session), static_cast<unsigned long>(reserved),
                 static_cast<unsigned long>(flags), uiParam != 0, answered);
    if (message) {
      Text(out, "subject", message->lpszSubject);
      Text(out, "body", message->lpszNoteText);
      for (ULONG i = 0; i < message->nRecipCount; ++i) {
        const MapiRecipDesc& r = message->lpRecips[i];
        std::fprintf(out, "recip class=%lu\n", static_cast<unsigned long>(r.ulRecipClass));
        Text(out, "  name", r.lpszName);
        Text(out, "  address", r.lpszAddress);
      }
      for (ULONG i = 0; i < message->nFileCount; ++i) {
        const MapiFileDesc& f = message->lpFiles[i];
        const bool exists = f.lpszPathName && GetFileAttributesA(f.lpszPathName) != INVALID_FILE_ATTRIBUTES;
        std::fprintf(out, "file position=%ld exists=%d\n", static_cast<long>(f.nPosition), exists);
        Text(out, "  path", f.lpszPathName);
        Text(out, "  name", f.lpszFileName);
        const std::string copies = Env("KX_MAPI_COPY");
        if (exists && f.lpszFileName && !copies.empty())
          CopyFileA(f.lpszPathName, (copies + "\\" + f.lpszFileName).c_str(), FALSE);
      }
    }
    std::fclose(out);
  }
  return Result();
}
