// ProcessException: one exception from its request to its end, in the
// handling thread: the exception object, the handlers, pausing, the
// screenshot, report and minidump, presentation, and what follows (go on, close,
// restart).
#include "crash/dump/win/exception_dump_win32.h"
#include "crash/handling/win/ending_win32.h"
#include "crash/handling/win/handling_state_win32.h"
#include "crash/handling/win/pausing_win32.h"
#include "crash/handling/win/presentation_win32.h"
#include "crash/handling/win/screenshot_file_win32.h"
#include "crash/report/win/save_bug_report.h"

namespace kestrix {
namespace {

HMODULE OwnModule() {
  HMODULE module = nullptr;
  GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCSTR>(&OwnModule), &module);
  return module;
}

uint64_t NowInSeconds() {
  FILETIME ft;
  GetSystemTimeAsFileTime(&ft);
  return ((static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime) / 10000000;
}

// The exception object of a request, with the settings of the module the
// exception address belongs to.
KXPtr<TIKXException> CreateException(const TExceptionRequest& r) {
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
  c.object = object;
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
  return KXPtr<TIKXException>(new TIKXException(settings ? settings->Module() : GetModuleHandleA(nullptr), c));
}

// After the presentation: the program goes on, or is closed or restarted
// (by the automatic actions' counts, or because it cannot go on).
void ContinueCloseOrRestart(TIKXException* e) {
  const bool closeDue = AutoActionDue(e->AutoClose());
  const bool restartDue = AutoActionDue(e->AutoRestart());
  bool h = false;
  if (closeDue || (!e->ContinueAllowed() && !restartDue)) {
    FireExceptionHandlers(nullptr, ekAction, acClose, h, e);
    FinishAutomaticActions(e, true);
    EndProgram(ExitCodeOf(e));
  } else if (restartDue) {
    FireExceptionHandlers(nullptr, ekAction, acRestart, h, e);
    FinishAutomaticActions(e, true);
    RestartProgram();
  } else {
    FireExceptionHandlers(nullptr, ekAction, acContinue, h, e);
  }
}

// Shows the exception; true when it was shown in the dialog (or its
// assistant), which then decided what follows.
bool Present(TIKXException* e) {
  // The exception's assistant (display mode 1) puts the user's answers
  // into the report: the automatic actions start once it is done, so that
  // what they send, save or copy holds them (without the assistant,
  // ShowException arms them before the dialog).
  const bool answersFirst = !ConsoleMode() && e->DisplayMode() == 1;
  if (!answersFirst) ArmAutomaticActions(e);
  bool inDialog = false;
  if (ConsoleMode()) {
    if (e->DisplayMode() != 4) ShowException(e);
  } else {
    ShowException(e, answersFirst);
    inDialog = e->DisplayMode() != 4;
  }
  if (answersFirst) ArmAutomaticActions(e);
  return inDialog;
}

}  // namespace

void ProcessException(const TExceptionRequest& r) {
  try {
    ClearTemporaryDirectory();
  } catch (...) {
    // Leftover files of earlier reports stay; this exception's report does
    // not exist yet to say so.
  }
  THandlingState& s = HandlingState();
  KXPtr<TIKXException> e = CreateException(r);
  e->SetHandlingPhase(1);
  s.current = e.get();
  struct TUnpublish {
    ~TUnpublish() { HandlingState().current = nullptr; }
  } unpublish;

  bool handled = e->ExceptionKind() == etHidden;
  if (handled) {
    FireExceptionHandlers(nullptr, ekHidden, 0, handled, e.get());
    if (handled) return;
  } else {
    TExceptionTimeRing ring = ExceptionTimes();
    PushExceptionTime(ring, NowInSeconds());
    SetExceptionTimes(ring);
  }
  if (!handled) FireExceptionHandlers(nullptr, ekException, 0, handled, e.get());
  e->SetHandlingPhase(2);
  // Step 12 resumes what step 6 paused, whichever way the handling ends.
  struct TResume {
    bool on = false;
    ~TResume() {
      if (HandlingState().freezeWatch.resetCounter) HandlingState().freezeWatch.resetCounter();
      if (on) ResumeProgramThreads();
    }
  } resume;
  if (!handled) {
    if (e->ExceptionKind() != etFreeze && e->PauseThreads() && GetModuleHandleA(nullptr) == OwnModule()) {
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
  if (!handled) WriteExceptionDump(e.get(), TemporaryDirectory());

  const bool presentedInDialog = !handled && Present(e.get());
  if (!(e->ContinueAllowed() && presentedInDialog)) ContinueCloseOrRestart(e.get());
  if (!handled) FinishAutomaticActions(e.get(), false);
}

void ReportCompleted(TIKXException* e) {
  if (e->HandlingPhase() != 3) return;
  e->SetHandlingPhase(4);
  bool handled = false;
  FireExceptionHandlers(nullptr, ekException, 0, handled, e);
}

}  // namespace kestrix
