// Handler lists and their firing: in the calling thread, in the main thread
// through the library's window, and the action's assistant before sending,
// saving and printing.
#include "crash/handling/win/handler_lists_win32.h"

#include "crash/base/win/critical_section.h"
#include "crash/handling/win/handling_state_win32.h"
#include "crash/handling/win/presentation_win32.h"
#include "crash/handling/win/pausing_win32.h"
#include "crash/threads/win/library_threads.h"
#include "crash/threads/win/thread_hooks_win32.h"

namespace kestrix {
namespace {

std::vector<THandlerEntry> Snapshot(uint8_t kind) {
  std::lock_guard<TCriticalSectionLock> lock(HandlerLock());
  return kind < 3 ? HandlingState().handlers[kind] : std::vector<THandlerEntry>();
}

// One pass over the handlers of the given thread modes: methods first, then
// procedures, until one decides (sets handled; for hidden exceptions, which
// start handled, clears it). Exceptions of handlers are swallowed.
void RunHandlers(const std::vector<THandlerEntry>& list, bool (*modeFilter)(uint8_t), uint8_t kind, uint8_t action,
                 bool& handled, TIKXException* e) {
  const bool main = GetCurrentThreadId() == MainThreadId();
  const bool decided = kind != ekHidden;
  const TThreadHandlingMark handling;
  if (main) HandlingState().mainRunningHandlers = true;
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
  if (main) HandlingState().mainRunningHandlers = false;
}

bool AnyThread(uint8_t m) { return m == tmAnyThread; }
bool MainModes(uint8_t m) { return m == tmMainThread || m == tmMainPreferred; }
bool PreferredMode(uint8_t m) { return m == tmMainPreferred; }

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
  const HWND window = HandlingState().window;
  if (window && e->ExceptionKind() != etFreeze && GetCurrentThreadId() != MainThreadId()) {
    // A paused main thread is let go for the handlers and paused again.
    TMainThreadRelease release;
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutA(window, kLibraryMessage, 1, 0, SMTO_NORMAL, 1500, &answer) &&
        answer == kLibraryAnswer) {
      TMainThreadRun run{kind, action, &handled, e, false};
      reached = SendMessageA(window, kLibraryMessage, 0, reinterpret_cast<LPARAM>(&run)) == kLibraryAnswer;
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

// Removes the first entry `matches` accepts from the kind's list.
template <class Match>
void Unregister(uint8_t kind, Match matches) {
  if (kind > 2) return;
  std::lock_guard<TCriticalSectionLock> lock(HandlerLock());
  auto& list = HandlingState().handlers[kind];
  for (size_t i = 0; i < list.size(); ++i)
    if (matches(list[i])) {
      list.erase(list.begin() + i);
      return;
    }
}

void Register(uint8_t kind, const THandlerEntry& entry) {
  if (kind > 2) return;
  std::lock_guard<TCriticalSectionLock> lock(HandlerLock());
  HandlingState().handlers[kind].push_back(entry);
}

}  // namespace

void RunMainThreadHandlers(const TMainThreadRun& run) {
  RunHandlers(Snapshot(run.eventKind), run.preferredOnly ? PreferredMode : MainModes, run.eventKind, run.action,
              *run.handled, run.exception);
}

bool MainThreadRunsHandlers() { return HandlingState().mainRunningHandlers; }

void RegisterExceptionHandler(uint8_t kind, TExceptionHandler handler, uint8_t threadMode, bool needsComplete) {
  if (handler) Register(kind, {handler, nullptr, nullptr, threadMode, needsComplete});
}

void RegisterExceptionHandler(uint8_t kind, TExceptionMethod method, void* self, uint8_t threadMode,
                              bool needsComplete) {
  if (method) Register(kind, {nullptr, method, self, threadMode, needsComplete});
}

void UnregisterExceptionHandler(uint8_t kind, TExceptionHandler handler) {
  Unregister(kind, [&](const THandlerEntry& h) { return h.proc == handler; });
}

void UnregisterExceptionHandler(uint8_t kind, TExceptionMethod method, void* self) {
  Unregister(kind, [&](const THandlerEntry& h) { return h.method == method && h.self == self; });
}

bool HiddenHandlersExist() { return !Snapshot(ekHidden).empty(); }

bool CompleteHandlerExists() {
  std::lock_guard<TCriticalSectionLock> lock(HandlerLock());
  for (const auto& list : HandlingState().handlers)
    for (const THandlerEntry& h : list)
      if (h.needsComplete) return true;
  return false;
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

}  // namespace kestrix
