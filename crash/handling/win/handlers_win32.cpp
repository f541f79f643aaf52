// Handler and plug-in lists, firing the handlers (also in the main thread
// through the library's message window), the exception time ring, the
// emergency reserve, presentation and ending or restarting the program.
#include <atomic>
#include <cstdio>
#include <mutex>
#include <new>

#include "crash/handling/win/handling_win32.h"
#include "crash/settings/settings_lists.h"
#include "crash/threads/win/thread_hooks_win32.h"
#include "crash/threads/win/thread_table_win32.h"

namespace kestrix {
namespace {

struct THandlerEntry {
  TExceptionHandler proc = nullptr;
  TExceptionMethod method = nullptr;
  void* self = nullptr;
  uint8_t threadMode = tmAnyThread;
  bool needsComplete = false;
};

// The lists and the time ring, leaked: the program's static destructors run
// before the library's shutdown, and errors there are reported with them.
struct THandlingLists {
  std::vector<THandlerEntry> handlers[3];
  std::mutex ringMutex;
  TExceptionTimeRing ring{};
  std::mutex pauseMutex;
  std::vector<DWORD> pausedThreads;  // guarded by pauseMutex
};
THandlingLists& Lists() {
  static auto* lists = new THandlingLists;
  return *lists;
}

std::atomic<bool> g_mainRunningHandlers{false};
std::atomic<DWORD> g_presentationLeftTo{0};

void* g_reserve[8] = {};
HWND g_window = nullptr;
constexpr UINT kLibraryMessage = WM_APP + 0x4B58;
constexpr LRESULT kAnswer = 777;

// Pausing: the two events (set = go on).
HANDLE g_mainGoEvent = nullptr, g_othersGoEvent = nullptr;
std::atomic<bool> g_paused{false};

bool HasDebugInfoResource(uint32_t address) {
  HMODULE module = nullptr;
  return address &&
         GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            reinterpret_cast<LPCSTR>(address), &module) &&
         FindResourceA(module, "EXCEPT", "KX") != nullptr;
}

struct TMainThreadRun {
  uint8_t eventKind;
  uint8_t action;
  bool* handled;
  TIKXException* exception;
  bool preferredOnly;
};

std::vector<THandlerEntry> Snapshot(uint8_t kind) {
  std::lock_guard<TCriticalSectionLock> lock(HandlerLock());
  return kind < 3 ? Lists().handlers[kind] : std::vector<THandlerEntry>();
}

// One pass over the handlers of the given thread modes: methods first, then
// procedures, until one decides (sets handled; for hidden exceptions, which
// start handled, clears it). Exceptions of handlers are swallowed.
void RunHandlers(const std::vector<THandlerEntry>& list, bool (*modeFilter)(uint8_t), uint8_t kind, uint8_t action,
                 bool& handled, TIKXException* e) {
  const bool main = GetCurrentThreadId() == MainThreadId();
  const bool decided = kind != ekHidden;
  const TThreadHandlingMark handling;
  if (main) g_mainRunningHandlers = true;
  for (int pass = 0; pass < 2 && handled != decided; ++pass)
    for (const THandlerEntry& h : list) {
      if (handled == decided) break;
      if (!modeFilter(h.threadMode) || (pass == 0 ? !h.method : !h.proc)) continue;
      try {
        if (pass == 0)
          h.method(h.self, static_cast<IKXException*>(e), action, handled);
        else
          h.proc(static_cast<IKXException*>(e), action, handled);
      } catch (...) {
        // The handler's own failure: the report has no place for the
        // program's handlers, and the next handler still runs.
      }
    }
  if (main) g_mainRunningHandlers = false;
}

bool AnyThread(uint8_t m) { return m == tmAnyThread; }
bool MainModes(uint8_t m) { return m == tmMainThread || m == tmMainPreferred; }
bool PreferredMode(uint8_t m) { return m == tmMainPreferred; }

std::atomic<UINT> g_probeMessage{0};
std::atomic<LRESULT (*)(WPARAM, LPARAM)> g_probeHandler{nullptr};

LRESULT CALLBACK LibraryWindowProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg != 0 && msg == g_probeMessage)
    if (auto probe = g_probeHandler.load()) return probe(wp, lp);
  if (msg != kLibraryMessage) return DefWindowProcA(hwnd, msg, wp, lp);
  PauseCheck();
  if (wp == 0 && lp) {
    auto* run = reinterpret_cast<TMainThreadRun*>(lp);
    RunHandlers(Snapshot(run->eventKind), run->preferredOnly ? PreferredMode : MainModes, run->eventKind,
                run->action, *run->handled, run->exception);
  }
  return kAnswer;
}

}  // namespace

bool MainThreadRunsHandlers() { return g_mainRunningHandlers; }

void RegisterExceptionHandler(uint8_t kind, TExceptionHandler handler, uint8_t threadMode, bool needsComplete) {
  if (kind > 2 || !handler) return;
  std::lock_guard<TCriticalSectionLock> lock(HandlerLock());
  Lists().handlers[kind].push_back({handler, nullptr, nullptr, threadMode, needsComplete});
}

void RegisterExceptionHandler(uint8_t kind, TExceptionMethod method, void* self, uint8_t threadMode,
                              bool needsComplete) {
  if (kind > 2 || !method) return;
  std::lock_guard<TCriticalSectionLock> lock(HandlerLock());
  Lists().handlers[kind].push_back({nullptr, method, self, threadMode, needsComplete});
}

void UnregisterExceptionHandler(uint8_t kind, TExceptionHandler handler) {
  if (kind > 2) return;
  std::lock_guard<TCriticalSectionLock> lock(HandlerLock());
  auto& list = Lists().handlers[kind];
  for (size_t i = 0; i < list.size(); ++i)
    if (list[i].proc == handler) {
      list.erase(list.begin() + i);
      return;
    }
}

void UnregisterExceptionHandler(uint8_t kind, TExceptionMethod method, void* self) {
  if (kind > 2) return;
  std::lock_guard<TCriticalSectionLock> lock(HandlerLock());
  auto& list = Lists().handlers[kind];
  for (size_t i = 0; i < list.size(); ++i)
    if (list[i].method == method && list[i].self == self) {
      list.erase(list.begin() + i);
      return;
    }
}

bool HiddenHandlersExist() { return !Snapshot(ekHidden).empty(); }

bool CompleteHandlerExists() {
  std::lock_guard<TCriticalSectionLock> lock(HandlerLock());
  for (const auto& list : Lists().handlers)
    for (const THandlerEntry& h : list)
      if (h.needsComplete) return true;
  return false;
}

namespace {

TAssistantRunner g_assistantRunner = nullptr;

// The handler lists of one event kind (steps 1 and 2 of the firing).
void FireLists(uint8_t kind, uint8_t action, bool& handled, TIKXException* e) {
  if (kind == ekAction && (action == acRestart || action == acClose) &&
      (e->CriticalCallbackExists() || (CompleteHandlerExists() && e->CallHandlers())))
    e->ReportText(true);
  if (!e->CallHandlers()) return;
  const std::vector<THandlerEntry> list = Snapshot(kind);
  if (list.empty()) return;
  RunHandlers(list, AnyThread, kind, action, handled, e);
  if (handled == (kind != ekHidden)) return;
  bool mainModes = false;
  for (const THandlerEntry& h : list) mainModes |= MainModes(h.threadMode);
  if (!mainModes) return;
  bool reached = false;
  if (g_window && e->ExceptionKind() != etFreeze && GetCurrentThreadId() != MainThreadId()) {
    // A paused main thread is let go for the handlers and paused again.
    TMainThreadRelease release;
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutA(g_window, kLibraryMessage, 1, 0, SMTO_NORMAL, 1500, &answer) && answer == kAnswer) {
      TMainThreadRun run{kind, action, &handled, e, false};
      reached = SendMessageA(g_window, kLibraryMessage, 0, reinterpret_cast<LPARAM>(&run)) == kAnswer;
    }
  } else if (GetCurrentThreadId() == MainThreadId()) {
    RunHandlers(list, MainModes, kind, action, handled, e);
    reached = true;
  }
  if (!reached) RunHandlers(list, PreferredMode, kind, action, handled, e);
}

// The assistant that runs before an action: SendAssis, SaveAssis, PrintAssis.
const char* AssistantSettingOf(uint8_t action) {
  switch (action) {
    case acSend: return "SendAssis";
    case acSave: return "SaveAssis";
    case acPrint: return "PrintAssis";
    default: return nullptr;
  }
}

}  // namespace

TAssistantRunner SetAssistantRunner(TAssistantRunner runner) {
  TAssistantRunner previous = g_assistantRunner;
  g_assistantRunner = runner;
  return previous;
}

int RunAssistant(TIKXException* e, const std::string& name, HWND owner) {
  if (!e || !g_assistantRunner || name.empty()) return -1;
  // A top-most owner (the exception dialog) would cover the pages.
  const bool topmost = owner && (GetWindowLongA(owner, GWL_EXSTYLE) & WS_EX_TOPMOST);
  const UINT keep = SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE;
  if (topmost) SetWindowPos(owner, HWND_NOTOPMOST, 0, 0, 0, 0, keep);
  int result;
  try {
    result = g_assistantRunner(e, name, owner);
  } catch (...) {
    result = -1;  // a failing assistant is as none: the action goes on
  }
  if (topmost && IsWindow(owner)) SetWindowPos(owner, HWND_TOPMOST, 0, 0, 0, 0, keep);
  return result;
}

void FireExceptionHandlers(HWND parent, uint8_t kind, uint8_t action, bool& handled, TIKXException* e) {
  if (!e) return;
  FireLists(kind, action, handled, e);
  // Before sending, saving and printing from a window: the action's
  // assistant; cancelling it cancels the action, confirming it puts its
  // answers into the report and the action goes on as "after its assistant".
  const char* setting = kind == ekAction ? AssistantSettingOf(action) : nullptr;
  if (!setting || !parent || handled) return;
  const int result = RunAssistant(e, e->GetTextSetting(setting), parent);
  if (result < 0) return;
  if (result != 1) {
    handled = true;
    return;
  }
  FireLists(kind, static_cast<uint8_t>(action + acSendAfterAssistant - acSend), handled, e);
}

void ReportCompleted(TIKXException* e) {
  if (e->HandlingPhase() != 3) return;
  e->SetHandlingPhase(4);
  bool handled = false;
  FireExceptionHandlers(nullptr, ekException, 0, handled, e);
}

// --- pausing -------------------------------------------------------------------

void PauseProgramThreads(DWORD spare) {
  std::lock_guard<std::mutex> lock(Lists().pauseMutex);
  if (!g_mainGoEvent) g_mainGoEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  if (!g_othersGoEvent) g_othersGoEvent = CreateEventA(nullptr, TRUE, TRUE, nullptr);
  if (!g_mainGoEvent || !g_othersGoEvent) return;
  // Paused threads stop in their next message call (hooked unless the
  // loader lock, which the module walk needs, is held elsewhere).
  if (!IsProcessStalled(0)) InstallMessageHooks(PauseCheck);
  ResetEvent(g_mainGoEvent);
  ResetEvent(g_othersGoEvent);
  Lists().pausedThreads.clear();
  const DWORD self = GetCurrentThreadId();
  for (DWORD id : ThreadIds()) {
    if (id == self || id == MainThreadId() || id == spare || IsLibraryThread(id)) continue;
    TThreadInfo info;
    // Only threads the program created from code with the library's debug
    // information (the thread hooks record the creators).
    if (LookupThread(id, info, 50) && HasDebugInfoResource(info.creatorAddress)) Lists().pausedThreads.push_back(id);
  }
  g_paused = true;
  if (g_window) PostMessageA(g_window, kLibraryMessage, 1, 0);
}

void ResumeProgramThreads() {
  std::lock_guard<std::mutex> lock(Lists().pauseMutex);
  const bool wasPaused = g_paused;
  g_paused = false;
  Lists().pausedThreads.clear();
  // Set whatever the flag says, so that no thread waits on past a shutdown.
  if (g_mainGoEvent) SetEvent(g_mainGoEvent);
  if (g_othersGoEvent) SetEvent(g_othersGoEvent);
  if (wasPaused && g_window) PostMessageA(g_window, kLibraryMessage, 1, 0);
}

void PauseCheck() {
  if (!g_paused) return;
  const DWORD self = GetCurrentThreadId();
  HANDLE wait = nullptr;
  {
    std::lock_guard<std::mutex> lock(Lists().pauseMutex);
    if (self == MainThreadId()) {
      wait = g_mainGoEvent;
    } else {
      for (DWORD id : Lists().pausedThreads)
        if (id == self) wait = g_othersGoEvent;
    }
  }
  if (wait) WaitForSingleObject(wait, INFINITE);
}

bool ThreadsPaused() { return g_paused; }

TMainThreadRelease::TMainThreadRelease() {
  if (!g_paused || !g_mainGoEvent || GetCurrentThreadId() == MainThreadId()) return;
  released_ = SetEvent(g_mainGoEvent) != 0;
}

TMainThreadRelease::~TMainThreadRelease() {
  if (!released_ || !g_paused) return;
  ResetEvent(g_mainGoEvent);
  if (g_window) PostMessageA(g_window, kLibraryMessage, 1, 0);
}

// --- time ring ---------------------------------------------------------------

TExceptionTimeRing ExceptionTimes() {
  std::lock_guard<std::mutex> lock(Lists().ringMutex);
  return Lists().ring;
}

void SetExceptionTimes(const TExceptionTimeRing& ring) {
  std::lock_guard<std::mutex> lock(Lists().ringMutex);
  Lists().ring = ring;
}

bool AutoActionDue(int32_t n) {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  const uint64_t now = ((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) / 10000000;
  return AutoActionDue(n, ExceptionTimes(), now);
}

// --- emergency reserve --------------------------------------------------------

namespace {

// While the reserve is held and the program has no new handler of its own,
// a failing allocation first releases the reserve and tries again; then it
// fails as usual (std::bad_alloc from operator new).
void ReleaseReserveOnNewFailure() {
  std::set_new_handler(nullptr);
  ReleaseEmergencyMemory();
}

}  // namespace

void ReserveEmergencyMemory() {
  if (!std::get_new_handler()) std::set_new_handler(ReleaseReserveOnNewFailure);
  for (int i = 0; i < 8; ++i)
    if (!g_reserve[i])
      g_reserve[i] = i < 4 ? VirtualAlloc(nullptr, 4 << 20, MEM_RESERVE, PAGE_NOACCESS)
                           : VirtualAlloc(nullptr, 512 << 10, MEM_RESERVE | MEM_COMMIT, PAGE_NOACCESS);
}

bool EmergencyMemoryReserved() {
  for (void* block : g_reserve)
    if (block) return true;
  return false;
}

void ReleaseEmergencyMemory() {
  if (std::get_new_handler() == ReleaseReserveOnNewFailure) std::set_new_handler(nullptr);
  for (void*& block : g_reserve)
    if (block) {
      VirtualFree(block, 0, MEM_RELEASE);
      block = nullptr;
    }
}

// --- message window ------------------------------------------------------------

bool CreateLibraryWindow() {
  if (g_window) return true;
  WNDCLASSA wc{};
  wc.lpfnWndProc = LibraryWindowProc;
  wc.hInstance = GetModuleHandleA(nullptr);
  wc.lpszClassName = "TKestrixMessageWindow";
  RegisterClassA(&wc);
  g_window = CreateWindowExA(0, wc.lpszClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, wc.hInstance, nullptr);
  return g_window != nullptr;
}

HWND LibraryWindow() { return g_window; }

void SetLibraryWindowProbe(UINT message, LRESULT (*handler)(WPARAM, LPARAM)) {
  g_probeHandler = nullptr;
  g_probeMessage = message;
  g_probeHandler = handler;
}

void DestroyLibraryWindow() {
  if (g_window && GetCurrentThreadId() == GetWindowThreadProcessId(g_window, nullptr)) DestroyWindow(g_window);
  g_window = nullptr;
}

// --- presentation --------------------------------------------------------------

namespace {
TExceptionDialog g_exceptionDialog = nullptr;
TReportHtmlPage g_reportHtmlPage = nullptr;
}  // namespace

void SetExceptionDialog(TExceptionDialog dialog) { g_exceptionDialog = dialog; }
void SetReportHtmlPage(TReportHtmlPage page) { g_reportHtmlPage = page; }

void ShowException(TIKXException* e) { ShowException(e, false); }

void ShowException(TIKXException* e, bool armBeforeDialog) {
  const std::string raw = e->GetRawTextSetting(e->ExceptionKind() == etFreeze ? "FrozenMsg" : "ExceptMsg");
  const std::string message = e->ExpandText(raw, e->ExceptionMessageText());
  if (ConsoleMode()) {
    HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE);
    std::string text = message + "\r\n";
    if (CgiMode() && g_reportHtmlPage) {
      e->SetPlWaitBoxOff();
      text = "Content-Type: text/html\r\n\r\n" + g_reportHtmlPage(e);
    } else if (e->AutoShowBugRep() || e->ShowBtnVis()) {
      e->SetPlWaitBoxOff();
      text += "\r\n" + e->ReportText(true) + "\r\n";
    }
    DWORD written = 0;
    if (out && out != INVALID_HANDLE_VALUE) WriteFile(out, text.data(), text.size(), &written, nullptr);
    return;
  }
  const int32_t mode = e->DisplayMode();
  if (mode == 4) return;
  // Mode 1: the exception's assistant instead of the dialog; without one,
  // the dialog of mode 0.
  if (mode == 1 && RunAssistant(e, e->DisplayAssistant(), nullptr) >= 0) return;
  if (armBeforeDialog) ArmAutomaticActions(e);
  if (g_exceptionDialog && mode >= 0 && mode <= 3) {
    // A dialog that fails leaves the message box.
    try {
      g_exceptionDialog(e, mode == 1 ? 0 : mode, true);
      return;
    } catch (...) {
    }
  }
  switch (mode) {
    case 0:
    case 1:
      // Without the dialog, an exception from an event handler is shown by
      // the program's own message box once the handling is over; others
      // get the message box below.
      if (e->Source() == esEventHandler) {
        g_presentationLeftTo = e->FaultingThreadId();
        return;
      }
      [[fallthrough]];
    default: {
      MessageBeep(MB_ICONHAND);
      const std::string text = message + "\r\n\r\n" + e->ExceptionMessageText();
      MessageBoxA(nullptr, text.c_str(), e->TitleBar().c_str(), MB_OK | MB_ICONERROR | MB_TOPMOST);
      return;
    }
  }
}

bool TakePresentationLeft(DWORD threadId) {
  DWORD expected = threadId;
  return threadId != 0 && g_presentationLeftTo.compare_exchange_strong(expected, 0);
}

// --- ending ----------------------------------------------------------------------

void EndProgram(uint32_t exitCode) {
  TerminateProcess(GetCurrentProcess(), exitCode);
  for (;;) Sleep(INFINITE);
}

uint32_t ExitCodeOf(TIKXException* e) {
  const TExceptionObjectInfo* object = e ? e->ExceptionObject() : nullptr;
  return CrashExitCode(object ? object->systemCode : 0);
}

namespace {

std::string& StartFolder() {
  static std::string* folder = new std::string;  // outlives every report
  return *folder;
}

}  // namespace

void RememberStartFolder() {
  std::string folder(MAX_PATH, '\0');
  DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(folder.size()), folder.data());
  if (n >= folder.size()) {
    folder.resize(n);
    n = GetCurrentDirectoryA(static_cast<DWORD>(folder.size()), folder.data());
  }
  folder.resize(n < folder.size() ? n : 0);
  StartFolder() = folder;
}

void RestartProgram() {
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::string command = GetCommandLineA();
  // The executable by its full path: the command line may name it relative
  // to a folder the program has left since.
  std::string executable(32768, '\0');
  executable.resize(GetModuleFileNameA(nullptr, executable.data(), static_cast<DWORD>(executable.size())));
  const char* application = executable.empty() || executable.size() >= 32767 ? nullptr : executable.c_str();
  const char* folder = StartFolder().empty() ? nullptr : StartFolder().c_str();
  bool started = CreateProcessA(application, command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                                folder, &si, &pi);
  if (!started && folder)  // the start folder is gone: the current one then
    started = CreateProcessA(application, command.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr,
                             nullptr, &si, &pi);
  if (started) {
    char name[64];
    std::snprintf(name, sizeof name, "KestrixRestart$%lx", pi.dwProcessId);
    SECURITY_DESCRIPTOR sd;
    InitializeSecurityDescriptor(&sd, SECURITY_DESCRIPTOR_REVISION);
    SetSecurityDescriptorDacl(&sd, TRUE, nullptr, FALSE);
    SECURITY_ATTRIBUTES sa{sizeof sa, &sd, FALSE};
    HANDLE map = CreateFileMappingA(INVALID_HANDLE_VALUE, &sa, PAGE_READWRITE, 0, kRestartBlockSize, name);
    if (map) {
      if (auto* view = static_cast<uint8_t*>(MapViewOfFile(map, FILE_MAP_WRITE, 0, 0, kRestartBlockSize))) {
        HANDLE dup = nullptr;
        DuplicateHandle(GetCurrentProcess(), map, pi.hProcess, &dup, 0, FALSE, DUPLICATE_SAME_ACCESS);
        TRestartBlock block;
        block.oldProcessId = GetCurrentProcessId();
        block.mappingHandle = reinterpret_cast<uint32_t>(dup);
        block.ring = ExceptionTimes();
        WriteRestartBlock(block, *reinterpret_cast<uint8_t(*)[kRestartBlockSize]>(view));
        UnmapViewOfFile(view);
      }
    }
    ResumeThread(pi.hThread);
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
  }
  TerminateProcess(GetCurrentProcess(), 2);
  for (;;) Sleep(INFINITE);
}

}  // namespace kestrix
