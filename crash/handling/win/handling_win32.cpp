// HandleException, the handling thread and ProcessException.
#include "crash/handling/win/handling_win32.h"

#include <float.h>

#include <atomic>
#include <mutex>

#include "crash/threads/win/heap_probe_win32.h"
#include "crash/threads/win/thread_table_win32.h"

namespace kestrix {
namespace {

HANDLE g_handlingThread = nullptr;
DWORD g_handlingThreadId = 0;
HANDLE g_pipeRead = nullptr, g_pipeWrite = nullptr;
// One request at a time into the pipe: a write larger than the room left in
// the pipe goes in pieces, and pieces of two threads' requests must not mix.
SRWLOCK g_pipeWriteLock = SRWLOCK_INIT;

bool SendRequest(const TExceptionRequest& r) {
  DWORD written = 0;
  AcquireSRWLockExclusive(&g_pipeWriteLock);
  const bool sent = WriteFile(g_pipeWrite, &r, sizeof r, &written, nullptr) && written == sizeof r;
  ReleaseSRWLockExclusive(&g_pipeWriteLock);
  return sent;
}
bool g_consoleMode = false;
// The exception ProcessException is handling, for a fault of the library's
// own threads meanwhile.
std::atomic<TIKXException*> g_current{nullptr};

TFreezeWatchControl g_freezeWatch;

void PauseFreezeWatch(bool pause) {
  if (g_freezeWatch.pause) g_freezeWatch.pause(pause);
}


HMODULE OwnModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&OwnModule), &module);
  return module;
}

// "<exe name>.Kestrix" in the system's temporary directory; empty when unknown.
std::string TemporaryDirectoryPath() {
  char temp[MAX_PATH], exe[MAX_PATH];
  if (!GetTempPathA(MAX_PATH, temp) || !GetModuleFileNameA(nullptr, exe, MAX_PATH)) return std::string();
  std::string name = exe;
  name = name.substr(name.find_last_of("\\/") + 1);
  name = name.substr(0, name.rfind('.'));
  return std::string(temp) + name + ".Kestrix";
}

// Clears the library's temporary directory: "<exe name>.Kestrix" in the
// system's temporary directory (attachments of earlier reports).
void ClearTemporaryDirectory() {
  const std::string dir = TemporaryDirectoryPath();
  if (dir.empty()) return;
  WIN32_FIND_DATAA fd;
  HANDLE find = FindFirstFileA((dir + "\\*").c_str(), &fd);
  if (find == INVALID_HANDLE_VALUE) return;
  do {
    if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
      const std::string file = dir + "\\" + fd.cFileName;
      SetFileAttributesA(file.c_str(), FILE_ATTRIBUTE_NORMAL);
      DeleteFileA(file.c_str());
    }
  } while (FindNextFileA(find, &fd));
  FindClose(find);
  RemoveDirectoryA(dir.c_str());
}

TScreenshotHooks g_screenshotHooks;

// Takes the exception's screenshot and writes its attachment file. A failed
// capture switches screenshots off for this exception.
void TakeScreenshot(TIKXException* e) {
  if (!g_screenshotHooks.capture) return;
  KXPtr<IKXUnknown> bitmap;
  try {
    bitmap = g_screenshotHooks.capture(e->ScrShotAppOnly());
  } catch (...) {
  }
  if (!bitmap) {
    e->SetCreateScreenShot(false);
    e->SetAttachScreenShot(false);
    return;
  }
  e->SetScreenShot(bitmap);
  // The picture stays with the exception even when its file is missing.
  WriteScreenshotFile(e);
}

TSendReportHook g_sendReport = nullptr;

// Runs once the report is complete: sending, then the clipboard.
void AutomaticActionsCallback(bool complete, const std::string& report, IKXException* exception) {
  auto* e = dynamic_cast<TIKXException*>(exception);
  if (!complete || !e || !e->FirstCompleteCallback()) return;
  if (e->AutoSend()) {
    bool handled = false;
    FireExceptionHandlers(nullptr, ekAction, acSend, handled, e);
    // In the background, without a parent window; the thread's handle is
    // kept in the exception.
    if (!handled && g_sendReport) g_sendReport(report, e, &e->SendThreadHandle(), true, true);
  }
  if (e->AutoClip()) {
    if (OpenClipboard(nullptr)) {
      EmptyClipboard();
      if (HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, report.size() + 1)) {
        memcpy(GlobalLock(mem), report.c_str(), report.size() + 1);
        GlobalUnlock(mem);
        if (!SetClipboardData(CF_TEXT, mem)) GlobalFree(mem);
      }
      CloseClipboard();
    }
  } else {
    e->RemoveReportListener(AutomaticActionsCallback);
  }
}

}  // namespace

void ArmAutomaticActions(TIKXException* e) {
  if (e->AutoSave() || e->AutoSend() || e->AutoClip()) e->AddReportListener(AutomaticActionsCallback, true);
}

namespace {

void FinishAutomaticActions(TIKXException* e, bool waitForSend) {
  if (e->CriticalCallbackExists() || (CompleteHandlerExists() && e->CallHandlers())) e->ReportText(true);
  if (e->AutoSave() && (!e->AutoSaveIfNotSent() || !e->Sent()) && e->FirstAutoSave()) {
    bool handled = false;
    FireExceptionHandlers(nullptr, ekAction, acSave, handled, e);
    if (!handled) SaveBugReport(e, nullptr, std::string(), true);
  }
  if (waitForSend && e->SendThreadHandle()) {
    WaitForSingleObject(e->SendThreadHandle(), INFINITE);
    CloseHandle(e->SendThreadHandle());
    e->SendThreadHandle() = nullptr;
  }
}

void ProcessException(const TExceptionRequest& r) {
  try {
    ClearTemporaryDirectory();
  } catch (...) {
    // Leftover files of earlier reports stay; this exception's report does
    // not exist yet to say so.
  }
  // The exception address as its function's code has it (not for EAbort).
  const auto* object = reinterpret_cast<const TExceptionObjectInfo*>(r.object);
  uint32_t address = r.address;
  if (address && ReportHooks().correctAddress && !(object && object->isAbort)) {
    try {
      address = ReportHooks().correctAddress(address);
    } catch (...) {
    }
  }
  KXPtr<IKXSettings> settings =
      address ? SettingsForAddress(reinterpret_cast<const void*>(address)) : MainSettings();
  if (!settings) settings = MainSettings();
  TExceptionCreation c;
  c.type = static_cast<uint8_t>(r.type);
  c.object = reinterpret_cast<const TExceptionObjectInfo*>(r.object);
  c.address = address;
  c.threadId = r.threadId;
  c.stackPointer = r.stackPointer;
  c.framePointer = r.framePointer;
  c.context = reinterpret_cast<const CONTEXT*>(r.context);
  c.canContinue = r.canContinue != 0;
  c.source = static_cast<uint8_t>(r.source);
  c.related = reinterpret_cast<const void*>(r.related);
  c.package = reinterpret_cast<HMODULE>(r.package);
  c.preparedStack = reinterpret_cast<const TCapturedStack*>(r.preparedStack);
  KXPtr<TIKXException> e(new TIKXException(settings ? settings->Module() : GetModuleHandleA(nullptr), c));
  e->SetHandlingPhase(1);
  g_current = e.get();
  struct TUnpublish {
    ~TUnpublish() { g_current = nullptr; }
  } unpublish;

  bool handled;
  if (c.type == etHidden) {
    handled = true;
    FireExceptionHandlers(nullptr, ekHidden, 0, handled, e.get());
    if (handled) return;
  } else {
    handled = false;
    FILETIME ft;
    GetSystemTimeAsFileTime(&ft);
    TExceptionTimeRing ring = ExceptionTimes();
    PushExceptionTime(ring, ((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) / 10000000);
    SetExceptionTimes(ring);
  }
  if (!handled) FireExceptionHandlers(nullptr, ekException, 0, handled, e.get());
  e->SetHandlingPhase(2);
  // Step 12 resumes what step 6 paused, whichever way the handling ends.
  struct TResume {
    bool on = false;
    ~TResume() {
      if (g_freezeWatch.resetCounter) g_freezeWatch.resetCounter();
      if (on) ResumeProgramThreads();
    }
  } resume;
  if (!handled) {
    if (c.type != etFreeze && e->PauseThreads() && GetModuleHandleA(nullptr) == OwnModule()) {
      PauseProgramThreads(0);
      resume.on = true;
    }
    if (e->CreateScreenShot()) TakeScreenshot(e.get());
    if (e->CreateBugReport()) e->ReportSections();
    FireExceptionHandlers(nullptr, ekException, 0, handled, e.get());
  }
  e->SetHandlingPhase(e->ReportComplete() ? 4 : 3);
  if (!handled) FireExceptionHandlers(nullptr, ekException, 0, handled, e.get());
  if (handled && e->ContinueAllowed()) return;

  bool presentedInDialog = false;
  if (!handled) {
    // The exception's assistant (display mode 1) puts the user's answers
    // into the report: the automatic actions start once it is done, so that
    // what they send, save or copy holds them (without the assistant,
    // ShowException arms them before the dialog).
    const bool answersFirst = !ConsoleMode() && e->DisplayMode() == 1;
    if (!answersFirst) ArmAutomaticActions(e.get());
    if (ConsoleMode()) {
      if (e->DisplayMode() != 4) ShowException(e.get());
    } else {
      ShowException(e.get(), answersFirst);
      presentedInDialog = e->DisplayMode() != 4;
    }
    if (answersFirst) ArmAutomaticActions(e.get());
  }
  if (!(e->ContinueAllowed() && presentedInDialog)) {
    const bool closeDue = AutoActionDue(e->AutoClose());
    const bool restartDue = AutoActionDue(e->AutoRestart());
    bool h = false;
    if (closeDue || (!e->ContinueAllowed() && !restartDue)) {
      FireExceptionHandlers(nullptr, ekAction, acClose, h, e.get());
      FinishAutomaticActions(e.get(), true);
      EndProgram(ExitCodeOf(e.get()));
    } else if (restartDue) {
      FireExceptionHandlers(nullptr, ekAction, acRestart, h, e.get());
      FinishAutomaticActions(e.get(), true);
      RestartProgram();
    } else {
      FireExceptionHandlers(nullptr, ekAction, acContinue, h, e.get());
    }
  }
  if (!handled) FinishAutomaticActions(e.get(), false);
}

DWORD WINAPI HandlingThreadProc(void*) {
  RegisterLibraryThread(GetCurrentThreadId(), "-");
  for (;;) {
    TExceptionRequest r;
    DWORD got = 0, total = 0;
    bool ok = true;
    while (total < sizeof r) {
      if (!ReadFile(g_pipeRead, reinterpret_cast<char*>(&r) + total, sizeof r - total, &got, nullptr) || got == 0) {
        ok = false;
        break;
      }
      total += got;
    }
    if (!ok || r.event == 0) break;
    try {
      ProcessException(r);
    } catch (...) {
      // The exception object, and with it the report, went with
      // ProcessException's frame: no report is left to record this in.
      // The waiting thread is let go below all the same.
    }
    SetEvent(reinterpret_cast<HANDLE>(r.event));
    PostThreadMessageA(r.threadId, WM_NULL, 0, 0);
  }
  return 0;
}

DWORD WINAPI EndAfterDeadline(void* exitCode) {
  Sleep(10000);
  TerminateProcess(GetCurrentProcess(), static_cast<UINT>(reinterpret_cast<uintptr_t>(exitCode)));
  return 0;
}

// Waits for the request's event; the main thread keeps its messages going.
void WaitForHandling(HANDLE event) {
  // Messages run the program's window procedures, which a thread whose stack
  // an overflow used up cannot afford; and a window procedure failing again
  // while an exception of its own is handled must not nest without end.
  constexpr uint32_t kRoomToPump = 256 * 1024;
  if (GetCurrentThreadId() != MainThreadId() || StackRoom() < kRoomToPump || ThreadHandlingDepth() > 1) {
    WaitForSingleObject(event, INFINITE);
    return;
  }
  for (;;) {
    DWORD w = MsgWaitForMultipleObjects(1, &event, FALSE, INFINITE, QS_ALLINPUT);
    if (w == WAIT_OBJECT_0 || w == WAIT_FAILED) break;
    MSG msg;
    bool quit = false;
    WPARAM code = 0;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      if (msg.message == WM_QUIT) {
        quit = true;
        code = msg.wParam;
        break;
      }
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
    if (quit) {
      // The request points into this thread's stack: wait for its end
      // without pumping, then hand the quit message back to the loop.
      WaitForSingleObject(event, INFINITE);
      PostQuitMessage(static_cast<int>(code));
      break;
    }
  }
}

}  // namespace

void SetScreenshotHooks(const TScreenshotHooks& hooks) { g_screenshotHooks = hooks; }

std::string TemporaryDirectory() {
  const std::string dir = TemporaryDirectoryPath();
  if (dir.empty()) return dir;
  if (!CreateDirectoryA(dir.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) return std::string();
  return dir + "\\";
}

bool WriteScreenshotFile(TIKXException* e) {
  const KXPtr<IKXUnknown> bitmap = e ? e->ScreenShot() : KXPtr<IKXUnknown>();
  if (!bitmap || !g_screenshotHooks.savePng) return false;
  const std::string dir = TemporaryDirectory();
  if (dir.empty()) return false;
  try {
    return g_screenshotHooks.savePng(bitmap.get(), dir + kScreenshotFileName, e->ScrShotDepth());
  } catch (...) {
    return false;
  }
}

void FinishBeforeEnding(TIKXException* e) { FinishAutomaticActions(e, true); }

// --- entry -------------------------------------------------------------------

void HandleException(uint8_t type, const TExceptionObjectInfo* object, uint32_t address, std::string* reportVar,
                     HMODULE package, const void* related, uint8_t source, const CONTEXT* context,
                     uint32_t framePointer, uint32_t stackPointer, bool canContinue,
                     const TCapturedStack* preparedStack) {
  const DWORD self = GetCurrentThreadId();
  if (self == g_handlingThreadId) return;
  if (IsLibraryThread(self) && self != MainThreadId()) return;
  if (self == MainThreadId() && MainThreadRunsHandlers()) return;
  const TThreadHandlingMark handling;
  ReleaseEmergencyMemory();
  // Normalise: a missing address comes from the thread's raise record.
  if (object && !address) {
    if (const TRaiseRecord* raise = FindRaiseRecord(object->address, object->type)) {
      address = raise->stack.frames[0];
      if (!preparedStack) preparedStack = &raise->stack;
    }
  }
  if (object && object->isAbort) {
    ClearRaiseRecord();
    if (!canContinue) EndProgram(kRuntimeErrorExitCode);
    ReserveEmergencyMemory();
    return;
  }
  if (context && address >= context->Eip && address - context->Eip <= 4) {
    stackPointer = context->Esp;
    framePointer = context->Ebp;
  } else if (!stackPointer || !framePointer) {
    auto* frame = static_cast<uint32_t*>(__builtin_frame_address(0));
    if (!framePointer) framePointer = frame[0];
    if (!stackPointer) stackPointer = reinterpret_cast<uint32_t>(frame + 2);
  }
  TExceptionRequest r{};
  r.threadId = self;
  r.type = type;
  r.object = reinterpret_cast<uint32_t>(object);
  r.address = address;
  r.canContinue = canContinue ? 1 : 0;
  r.stackPointer = stackPointer;
  r.framePointer = framePointer;
  r.context = reinterpret_cast<uint32_t>(context);
  r.reportVar = reinterpret_cast<uint32_t>(reportVar);
  r.source = source;
  r.related = reinterpret_cast<uint32_t>(related);
  r.package = reinterpret_cast<uint32_t>(package);
  r.preparedStack = reinterpret_cast<uint32_t>(preparedStack);
  PauseFreezeWatch(true);
  try {
    HANDLE event = nullptr;
    // With the loader lock or a heap held (by this thread, a fault inside
    // the loader or the allocator), the handling thread would wait for ever
    // on it: this thread, which may take them again, handles the exception.
    // A heap left locked stops every other thread that allocates, so the
    // program cannot go on after it.
    const bool blocked = IsProcessBlocked(250);
    const bool heapHeld = !blocked && IsHeapHeld(2000);
    if (heapHeld) r.canContinue = 0;
    if (!blocked && !heapHeld && g_pipeWrite) event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    if (!event) {
      ProcessException(r);
    } else {
      r.event = reinterpret_cast<uint32_t>(event);
      if (SendRequest(r)) WaitForHandling(event);
      CloseHandle(event);
    }
  } catch (...) {
    // A failure before or around the handing over: no report was made to
    // record it in; the faulting thread goes on as after a handling.
  }
  PauseFreezeWatch(false);
  ClearRaiseRecord();
  _fpreset();
  ReserveEmergencyMemory();
}

void HandleCppException(std::exception_ptr error, uint8_t source, bool canContinue, const void* related) {
  try {
    TExceptionObjectInfo info = DescribeException(error);
    const CONTEXT* context = nullptr;
    const TCapturedStack* prepared = nullptr;
    uint32_t address = 0;
    if (info.isKxException) try {
        std::rethrow_exception(error);
      } catch (const EExternal& fault) {
        context = &fault.Context();
        prepared = &fault.Stack();
        address = reinterpret_cast<uint32_t>(fault.Record().ExceptionAddress);
        info.systemCode = fault.Record().ExceptionCode;
      } catch (...) {
        // Not a converted fault: no context to take (not a failure).
      }
    HandleException(etException, &info, address, nullptr, nullptr, related, source, context, 0, 0, canContinue,
                    prepared);
  } catch (...) {
    // Describing or handing over failed: there is no report to record it
    // in, and a catch point must not raise.
  }
}

void MapSystemException(const TFaultBlock& fault) {
  try {
    HandleCppException(std::make_exception_ptr(EExternal(fault.record, fault.context, fault.stack)), esSystem, false);
  } catch (...) {
    // As in HandleCppException: no report to record it in.
  }
}

namespace {

// Saves the report being made (or reports the fault when none is) and ends
// the process: a thread of the library failed.
[[noreturn]] void SaveHandledReportAndEnd(const TFaultBlock* fault) {
  TIKXException* e = g_current.load();
  const uint32_t code = e ? ExitCodeOf(e) : CrashExitCode(fault ? fault->record.ExceptionCode : 0);
  // Saving may wait for a lock the failed thread held: it gets ten seconds.
  DWORD deadlineId = 0;
  if (HANDLE deadline = CreateThread(nullptr, 64 * 1024, EndAfterDeadline,
                                     reinterpret_cast<void*>(static_cast<uintptr_t>(code)),
                                     STACK_SIZE_PARAM_IS_A_RESERVATION | CREATE_SUSPENDED, &deadlineId)) {
    RegisterLibraryThread(deadlineId, "-");
    ResumeThread(deadline);
    CloseHandle(deadline);
  }
  try {
    if (e) {
      e->MarkUnfinishedSections(">> not computed: the library's thread failed at it");
      if (!e->Saved()) SaveBugReport(e, nullptr, std::string(), true);
    } else if (fault) {
      // No handling going on: the fault itself is reported, right here.
      TExceptionObjectInfo info =
          DescribeException(std::make_exception_ptr(EExternal(fault->record, fault->context, fault->stack)));
      info.systemCode = fault->record.ExceptionCode;
      TExceptionRequest r{};
      r.threadId = GetCurrentThreadId();
      r.type = etException;
      r.object = reinterpret_cast<uint32_t>(&info);
      r.address = reinterpret_cast<uint32_t>(fault->record.ExceptionAddress);
      r.stackPointer = fault->context.Esp;
      r.framePointer = fault->context.Ebp;
      r.context = reinterpret_cast<uint32_t>(&fault->context);
      r.source = esSystem;
      r.preparedStack = reinterpret_cast<uint32_t>(&fault->stack);
      ProcessException(r);
    }
  } catch (...) {
  }
  EndProgram(code);
}

}  // namespace

void EndAfterLibraryFault(const TFaultBlock& fault) { SaveHandledReportAndEnd(&fault); }
void EndAfterLibraryError() { SaveHandledReportAndEnd(nullptr); }

void HandleRaisedException(const void* object, const std::type_info* type, const TCapturedStack& stack) {
  static thread_local bool inside = false;
  const DWORD self = GetCurrentThreadId();
  if (inside || !object || !type || self == g_handlingThreadId || IsLibraryThread(self) || !HiddenHandlersExist())
    return;
  inside = true;
  try {
    TExceptionObjectInfo info;
    info.address = object;
    info.type = type;
    info.ancestry = TypeAncestry(*type);
    void* p = const_cast<void*>(object);
    if (typeid(std::exception).__do_catch(type, &p, 1)) {
      auto* e = static_cast<const std::exception*>(p);
      info.message = e->what();
      if (auto* kx = dynamic_cast<const KxException*>(e)) {
        info.isKxException = true;
        info.isAbort = dynamic_cast<const EAbort*>(kx) != nullptr;
        const std::string own = kx->ClassName();
        if (!own.empty() && (info.ancestry.empty() || info.ancestry.front() != own))
          info.ancestry.insert(info.ancestry.begin(), own);
      }
    }
    if (!info.ancestry.empty()) info.className = info.ancestry.front();
    if (!info.message.empty() && !info.isAbort)
      HandleException(etHidden, &info, stack.frames[0], nullptr, nullptr, nullptr, esHidden, nullptr, 0, 0, true,
                      &stack);
  } catch (...) {
    // A raise must go on whatever happens here; a hidden exception has no
    // report yet to record this in.
  }
  inside = false;
}

// --- handling thread ---------------------------------------------------------

bool StartHandlingThread() {
  if (g_handlingThread) return true;
  if (!CreatePipe(&g_pipeRead, &g_pipeWrite, nullptr, 0)) return false;
  g_handlingThread = CreateThread(nullptr, 0, HandlingThreadProc, nullptr, CREATE_SUSPENDED, &g_handlingThreadId);
  if (!g_handlingThread) {
    CloseHandle(g_pipeRead);
    CloseHandle(g_pipeWrite);
    g_pipeRead = g_pipeWrite = nullptr;
    return false;
  }
  SetHandlingThreadId(g_handlingThreadId);
  RegisterLibraryThread(g_handlingThreadId, "-");
  SetThreadPriority(g_handlingThread, THREAD_PRIORITY_HIGHEST);
  ResumeThread(g_handlingThread);
  StartHeapProbe();
  return true;
}

void StopHandlingThread() {
  StopHeapProbe();
  if (!g_handlingThread) return;
  ResumeThread(g_handlingThread);
  // The closed pipe ends the thread's wait for requests. Its end is waited
  // for, never forced: a thread ended the hard way, or one still ending
  // while the process ends, may take a lock of the system with it. A thread
  // that needs the loader lock this thread holds cannot end now.
  CloseHandle(g_pipeWrite);
  g_pipeWrite = nullptr;
  if (!HoldsLoaderLock()) WaitForSingleObject(g_handlingThread, 5000);
  UnregisterLibraryThread(g_handlingThreadId);
  CloseHandle(g_handlingThread);
  g_handlingThread = nullptr;
  g_handlingThreadId = 0;
  SetHandlingThreadId(0);
}

void SetFreezeWatchControl(const TFreezeWatchControl& control) { g_freezeWatch = control; }
void SetConsoleMode(bool value) { g_consoleMode = value; }
void SetSendReportHook(TSendReportHook hook) { g_sendReport = hook; }
bool ConsoleMode() { return g_consoleMode; }
namespace {
bool g_cgiMode = false;
}  // namespace
void SetCgiMode(bool value) { g_cgiMode = value; }
bool CgiMode() { return g_cgiMode; }

}  // namespace kestrix
