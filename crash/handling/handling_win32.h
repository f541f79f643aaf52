// The handling flow: the single entry HandleException, the handling thread
// behind its anonymous pipe, ProcessException, handler and plug-in lists,
// presentation and the automatic actions.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

#include "crash/bugreport/kx_exception_object.h"
#include "crash/report/handling_rules.h"

namespace kestrix {

class TCriticalSectionLock {
 public:
  TCriticalSectionLock() { InitializeCriticalSection(&cs_); }
  ~TCriticalSectionLock() { DeleteCriticalSection(&cs_); }
  void lock() { EnterCriticalSection(&cs_); }
  void unlock() { LeaveCriticalSection(&cs_); }

 private:
  CRITICAL_SECTION cs_;
};
// The process-wide lock of the handler, plug-in and callback lists.
TCriticalSectionLock& HandlerLock();

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

// An operating-system exception without a C++ object: reported as a
// KxException with the mapped message (source 14, cannot continue).
void MapSystemException(const EXCEPTION_RECORD& record, const CONTEXT* context);

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

// --- handling thread ----------------------------------------------------------

bool StartHandlingThread();
void StopHandlingThread();
DWORD HandlingThreadId();
DWORD MainThreadId();
void SetMainThreadId(DWORD id);
// The library's own threads (handling thread, report completion, watchdog).
bool IsLibraryThread(DWORD id);
void RegisterLibraryThread(DWORD id, const char* name);
void UnregisterLibraryThread(DWORD id);

// The loader lock is held by another thread (waited for up to waitMs) or by
// this one, or the process is shutting down.
bool IsProcessBlocked(DWORD waitMs);
void SetShuttingDown(bool value);
bool ShuttingDown();
void SetConsoleMode(bool value);
bool ConsoleMode();

// --- handlers, plug-ins -------------------------------------------------------

enum : uint8_t { ekException = 0, ekAction = 1, ekHidden = 2 };
enum : uint8_t {
  acSend = 0,
  acSave = 1,
  acPrint = 2,
  acShowReport = 6,
  acContinue = 8,
  acRestart = 9,
  acClose = 10,
};
enum : uint8_t { tmAnyThread = 0, tmMainThread = 1, tmMainPreferred = 2 };

using TExceptionHandler = void (*)(IKXException* exception, uint8_t action, bool& handled);
using TExceptionMethod = void (*)(void* self, IKXException* exception, uint8_t action, bool& handled);

void RegisterExceptionHandler(uint8_t eventKind, TExceptionHandler handler, uint8_t threadMode, bool needsComplete);
void RegisterExceptionHandler(uint8_t eventKind, TExceptionMethod method, void* self, uint8_t threadMode,
                              bool needsComplete);
void UnregisterExceptionHandler(uint8_t eventKind, TExceptionHandler handler);
void UnregisterExceptionHandler(uint8_t eventKind, TExceptionMethod method, void* self);
bool HiddenHandlersExist();
// The main thread is running handlers for the library at the moment.
bool MainThreadRunsHandlers();

// Fires the handler lists of an event kind; handled is in/out.
void FireExceptionHandlers(HWND parent, uint8_t eventKind, uint8_t action, bool& handled, TIKXException* exception);

using TPluginProcedure = std::string (*)(IKXException* exception);
struct TReportPlugin {
  std::string name, description;
  TPluginProcedure procedure = nullptr;
  bool ownSection = false;
};
void RegisterReportPlugin(const std::string& name, const std::string& description, TPluginProcedure procedure,
                          bool ownSection);
void UnregisterReportPlugin(const std::string& name);
// The registered plug-ins named in the exception's Plugins setting, in its
// order, that have (or have not) their own section.
std::vector<TReportPlugin> PluginsFor(TIKXException* exception, bool ownSection);

// Called by the report when it becomes complete.
void ReportCompleted(TIKXException* exception);

// Pausing the program's threads while an exception is handled: paused
// threads stop in PauseCheck, which the library's message window and every
// hooked message function run. The library's threads are never paused.
void PauseProgramThreads(DWORD spareThreadId);
void ResumeProgramThreads();
void PauseCheck();
bool ThreadsPaused();

// --- presentation, actions ------------------------------------------------------

void ShowException(TIKXException* exception);
// True once when the presentation of the thread's exception was left to the
// program (see ShowException).
bool TakePresentationLeft(DWORD threadId);
TExceptionTimeRing ExceptionTimes();
void SetExceptionTimes(const TExceptionTimeRing& ring);
bool AutoActionDue(int32_t n);
// Saving and ending the program (the dialog's buttons and the automatic actions).
bool SaveBugReport(TIKXException* exception, HWND parent, const std::string& fileName, bool automatic);
[[noreturn]] void EndProgram();
// Starts the program again with the restart block and ends this process.
[[noreturn]] void RestartProgram();
// A handler that needs the complete report is registered.
bool CompleteHandlerExists();

// Emergency memory, released while an exception is handled.
void ReserveEmergencyMemory();
void ReleaseEmergencyMemory();

// The hidden message window of the main thread (answers 777).
bool CreateLibraryWindow();
void DestroyLibraryWindow();

}  // namespace kestrix
