// The handling flow: the single entry HandleException, the handling thread
// behind its anonymous pipe, ProcessException, handler and plug-in lists,
// presentation and the automatic actions.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "crash/base/win/critical_section.h"
#include "crash/exception/exception_filters.h"
#include "crash/handling/handling_request.h"
#include "crash/report/exception_history.h"
#include "crash/report/win/kx_exception_object.h"
#include "crash/report/win/save_bug_report.h"
#include "crash/threads/win/library_threads.h"
#include "kestrix/handling.h"

namespace kestrix {

// --- entry -----------------------------------------------------------------

// The single entry of every catch point. object may be null (freeze, or an
// exception without an object); context may be null. Returns when the
// exception has been handled.
void HandleException(uint8_t type, const TExceptionObjectInfo* object, uint32_t address, std::string* reportVar,
                     HMODULE package, const void* related, uint8_t source, const CONTEXT* context,
                     uint32_t framePointer, uint32_t stackPointer, bool canContinue,
                     const TCapturedStack* preparedStack = nullptr);

// A C++ exception caught by a catch point: described, its raise record or
// fault context found, and handed to HandleException.
void HandleCppException(std::exception_ptr error, uint8_t source, bool canContinue, const void* related = nullptr);

// An operating-system exception without a C++ object (a fault that could
// not be unwound, or one nothing else handled): reported as the EExternal of
// its code, with the class and message the same code has wherever it is
// caught (source 14, cannot continue). Called in the faulting thread.
void MapSystemException(const TFaultBlock& fault);

// A fault in one of the library's own threads while an exception is
// handled: the report as far as it is made is saved and the process ends
// with the handled exception's exit code (never a second round).
[[noreturn]] void EndAfterLibraryFault(const TFaultBlock& fault);
// The same for a run-time error (abort, terminate, pure virtual call) in a
// thread of the library.
[[noreturn]] void EndAfterLibraryError();

// The raise hook: a raised exception with a message reaches the hidden-
// exception handlers (type 2, source 15) when any are registered.
void HandleRaisedException(const void* object, const std::type_info* type, const TCapturedStack& stack);

// The freeze watchdog's controls: paused around every handling (nesting
// counted by the watchdog) and its counter reset after one. Unset until a
// watchdog runs.
struct TFreezeWatchControl {
  void (*pause)(bool pause) = nullptr;
  void (*resetCounter)() = nullptr;
};
void SetFreezeWatchControl(const TFreezeWatchControl& control);

// The screenshot at the crash: captured and written as PNG by the imaging
// code, which start-up wires in. Unset: no screenshots.
struct TScreenshotHooks {
  // The bitmap of the screen (or of the program's windows only); empty when
  // there is nothing to capture.
  KXPtr<IKXUnknown> (*capture)(bool appOnly) = nullptr;
  // Writes the bitmap as a PNG file in the colour mode that ScrShotDepth
  // asks for; false (and no file) when it could not be written completely.
  bool (*savePng)(IKXUnknown* bitmap, const std::string& path, int32_t depth) = nullptr;
};
void SetScreenshotHooks(const TScreenshotHooks& hooks);
// The library's temporary directory, "<exe name>.Kestrix" in the system's
// temporary directory, with a trailing backslash; created when missing.
// Empty when it cannot be made.
std::string TemporaryDirectory();
// The screenshot's attachment file in it.
inline constexpr const char* kScreenshotFileName = "screenShot.png";
// Writes the exception's screenshot as its attachment file (after it was
// taken, or replaced by an edited copy); false when it could not.
bool WriteScreenshotFile(TIKXException* exception);

// --- handling thread ----------------------------------------------------------

bool StartHandlingThread();
void StopHandlingThread();
void SetConsoleMode(bool value);
bool ConsoleMode();
// A console program answering as a CGI program: an exception is written to
// standard output as an HTML page.
void SetCgiMode(bool value);
bool CgiMode();

// --- handlers, plug-ins -------------------------------------------------------

bool HiddenHandlersExist();
// The main thread is running handlers for the library at the moment.
bool MainThreadRunsHandlers();

// Fires the handler lists of an event kind; handled is in/out.
void FireExceptionHandlers(HWND parent, uint8_t eventKind, uint8_t action, bool& handled, TIKXException* exception);

// Called by the report when it becomes complete.
void ReportCompleted(TIKXException* exception);

// Pausing the program's threads while an exception is handled: paused
// threads stop in PauseCheck, which the library's message window and every
// hooked message function run. The library's threads are never paused.
void PauseProgramThreads(DWORD spareThreadId);
void ResumeProgramThreads();
void PauseCheck();
bool ThreadsPaused();
// While it lives, a main thread held by the pausing goes on (the program's
// windows answer, e.g. to a mail client's dialog); afterwards it is held
// again unless the threads were resumed meanwhile. Nothing when the main
// thread is not held or is the calling thread.
class TMainThreadRelease {
 public:
  TMainThreadRelease();
  ~TMainThreadRelease();
  TMainThreadRelease(const TMainThreadRelease&) = delete;
  TMainThreadRelease& operator=(const TMainThreadRelease&) = delete;

 private:
  bool released_ = false;
};

// --- presentation, actions ------------------------------------------------------

void ShowException(TIKXException* exception);
// The same in the handling flow: with `armBeforeDialog`, the automatic
// actions are armed unless the exception's assistant was shown (mode 1).
void ShowException(TIKXException* exception, bool armBeforeDialog);
// Registers the automatic actions (AutoSend, AutoClip, AutoSave) as the
// report's critical callback when the settings ask for any; again: nothing.
void ArmAutomaticActions(TIKXException* exception);
// True once when the presentation of the thread's exception was left to the
// program (see ShowException).
bool TakePresentationLeft(DWORD threadId);
TExceptionTimeRing ExceptionTimes();
void SetExceptionTimes(const TExceptionTimeRing& ring);
bool AutoActionDue(int32_t n);
// Ending the program (the dialog's buttons and the automatic actions) with
// the exit code of a crash: the operating-system exception's code, else 3.
[[noreturn]] void EndProgram(uint32_t exitCode);
uint32_t ExitCodeOf(TIKXException* exception);
// Starts the program again with the restart block and ends this process.
// It starts in the folder the program started in (RememberStartFolder, at
// start-up), so that relative arguments mean the same again.
[[noreturn]] void RestartProgram();
void RememberStartFolder();
// Before the program is closed or restarted: the report completed, the
// automatic save done if due, a background send waited for.
void FinishBeforeEnding(TIKXException* exception);

// The exception dialog (display modes 0 to 3), set at start-up; without it
// exceptions are shown in a message box.
using TExceptionDialog = void (*)(TIKXException* exception, int mode, bool beep);
void SetExceptionDialog(TExceptionDialog dialog);
// The report as an HTML page, for CGI mode; set at start-up with the dialog.
using TReportHtmlPage = std::string (*)(TIKXException* exception);
void SetReportHtmlPage(TReportHtmlPage page);
// The assistants, set at start-up: runs the exception's assistant `name`
// modally above `owner` (may be none); when it is confirmed its answers go
// into the report, and the field values are kept in the form cache.
// Returns its modal result (1 confirmed), or -1 when there is no such
// assistant. Unset: no assistants. Returns the previous runner.
using TAssistantRunner = int (*)(TIKXException* exception, const std::string& name, HWND owner);
TAssistantRunner SetAssistantRunner(TAssistantRunner runner);
// The same, above a top-most owner made non-top-most meanwhile.
int RunAssistant(TIKXException* exception, const std::string& name, HWND owner);
// A handler that needs the complete report is registered.
bool CompleteHandlerExists();

// Emergency memory, released while an exception is handled.
void ReserveEmergencyMemory();
void ReleaseEmergencyMemory();
bool EmergencyMemoryReserved();

// Sending a report (the delivery's DispatchBugReport), set at start-up:
// report text, exception, slot for the sending thread, background, hidden;
// returns 0 failed, 1 sent (or handed to the sending thread), 2 cancelled.
using TSendReportHook = int (*)(const std::string& report, TIKXException* exception, HANDLE* threadSlot,
                                bool background, bool hidden);
void SetSendReportHook(TSendReportHook hook);

// The hidden message window of the main thread (answers 777).
bool CreateLibraryWindow();
void DestroyLibraryWindow();
HWND LibraryWindow();
// One more message the window answers through `handler` (the freeze
// watchdog's probe); 0 and null remove it.
void SetLibraryWindowProbe(UINT message, LRESULT (*handler)(WPARAM, LPARAM));

}  // namespace kestrix
