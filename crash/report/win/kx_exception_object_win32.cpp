// TIKXException: creation, filters, private settings, change notification
// and the report text.
#include <mutex>

#include "crash/report/win/kx_exception_object.h"
#include "crash/base/normalised_fields.h"
#include "crash/base/win/critical_section.h"
#include "crash/report/report_text.h"
#include "crash/report/win/live_snapshot_win32.h"
#include "crash/threads/win/library_threads.h"

namespace kestrix {
namespace {

// The report layer's state: its hooks, set once at start-up by the
// composition root, and the running number of exceptions.
struct TReportState {
  TReportHooks hooks;
  std::atomic<uint64_t> exceptionCount{0};
};
constinit TReportState g_report;

}  // namespace

void SetReportHooks(const TReportHooks& hooks) { g_report.hooks = hooks; }
const TReportHooks& ReportHooks() { return g_report.hooks; }

uint64_t NextExceptionNumber() { return ++g_report.exceptionCount; }

TIKXException::TIKXException(HMODULE module, const TExceptionCreation& c) : TIKXSettings(module), c_(c) {
  // Header values and section contents are stored trimmed; an empty one
  // removes its item, also when a handler or an assistant sets it.
  header_ = NewNormalisedFields(TrimReportValue);
  sections_ = NewNormalisedFields(TrimReportValue);
  header_->SetChangeSink(this);
  sections_->SetChangeSink(this);
  if (c_.object) {
    object_ = *c_.object;
    objectValid_ = true;
  }
  if (!c_.threadId) c_.threadId = GetCurrentThreadId();
  if (!c_.stackPointer || !c_.framePointer) {
    auto* frame = static_cast<uint32_t*>(__builtin_frame_address(0));
    if (!c_.framePointer) c_.framePointer = frame[0];
    if (!c_.stackPointer) c_.stackPointer = reinterpret_cast<uint32_t>(frame);
  }
  if (c_.context) {
    context_ = *c_.context;
    hasContext_ = true;
    c_.context = &context_;
  }
  if (c_.preparedStack) {
    prepared_ = *c_.preparedStack;
    hasPrepared_ = true;
    c_.preparedStack = &prepared_;
  }
  c_.object = objectValid_ ? &object_ : nullptr;
  canContinue_ = canContinueOriginal_ = c_.canContinue;
  if (c_.type != etHidden) exceptionNumber_ = NextExceptionNumber();
  ApplyClassFilters();
  if (g_report.hooks.pleaseWaitBox) {
    try {
      plWait_ = g_report.hooks.pleaseWaitBox(GetTextSetting("PlWaitTitle"), Module() ? Module() : GetModuleHandleA(nullptr),
                                      "KXIPLWAIT");
    } catch (...) {
      // No box: the report is made without one (no report exists yet to
      // record this in).
    }
  }
}

TIKXException::~TIKXException() {
  abort_ = true;
  if (reportThread_) {
    if (IsProcessBlocked(0)) {
      TerminateThread(reportThread_.Get(), 0);
    } else {
      WaitForSingleObject(reportThread_.Get(), INFINITE);
    }
  }
  header_->SetChangeSink(nullptr);
  sections_->SetChangeSink(nullptr);
}

void TIKXException::WaitForSendThread() {
  if (sendThread_) WaitForSingleObject(sendThread_.Get(), INFINITE);
  sendThread_.Reset();
}

bool TIKXException::QueryInterface(const KXIID& iid, void** out) {
  if (iid == IKXException::IID) {
    *out = static_cast<IKXException*>(this);
  } else if (iid == IKXExceptionEx::IID) {
    *out = static_cast<IKXExceptionEx*>(this);
  } else {
    return TIKXSettings::QueryInterface(iid, out);
  }
  AddRef();
  return true;
}

// --- private settings -------------------------------------------------

bool TIKXException::LookupValue(const char* name, bool useDefaults, TValue& value) {
  for (const auto& p : privateProps_)
    if (p.first == name) {
      value = p.second;
      return true;
    }
  return TIKXSettings::LookupValue(name, useDefaults, value);
}

bool TIKXException::StoreValue(const char* name, const TValue& value) {
  for (auto& p : privateProps_)
    if (p.first == name) {
      if (p.second.kind != value.kind) return false;
      p.second = value;
      return true;
    }
  TValue existing;
  if (TIKXSettings::LookupValue(name, true, existing) && existing.kind != value.kind) return false;
  privateProps_.emplace_back(name, value);
  return true;
}

// --- filters ----------------------------------------------------------

void TIKXException::ApplyClassFilters() {
  const std::vector<std::string> ancestry = objectValid_ ? object_.ancestry : std::vector<std::string>();
  const int group = ChooseFilterGroup(ancestry, F1Classes(), F2Classes());
  TFilterGroupOptions o;
  if (group == 1) {
    o = {F1NoBugRep(), F1NoScrShot(), F1NoHandlers(), F1NoSuspend(), F1ShowCfg(), F1Assis()};
  } else if (group == 2) {
    o = {F2NoBugRep(), F2NoScrShot(), F2NoHandlers(), F2NoSuspend(), F2ShowCfg(), F2Assis()};
  } else {
    o = {GnNoBugRep(), GnNoScrShot(), GnNoHandlers(), GnNoSuspend(), GnShowCfg(), GnAssis()};
  }
  filter_ = ApplyFilterGroup(group, o, ScrShotDepth(), PauseThreads());
  SetPauseThreads(filter_.pauseThreads);
}

bool TIKXException::SetContinueAllowed(bool value) {
  if (value && !canContinueOriginal_) return false;
  canContinue_ = value;
  return true;
}

std::string TIKXException::ExceptionClassName() {
  return objectValid_ && !object_.className.empty() ? object_.className : "Unknown";
}

std::string TIKXException::ExceptionMessageText() {
  if (c_.type == etFreeze) return FrozenMsg();
  return NormalizeExceptionMessage(objectValid_ ? object_.message : std::string());
}

uint32_t TIKXException::StackChecksum(int index) {
  return index >= 0 && index < 3 ? checksums_[index] : 0;
}

void TIKXException::Show() {
  if (ReportHooks().show) ReportHooks().show(this);
}

// --- change notification -----------------------------------------------

void TIKXException::BeginReportChange() {
  std::lock_guard<TCriticalSectionLock> guard(lock_);
  ++updateNesting_;
  pendingChange_ = true;
}

void TIKXException::EndReportChange() {
  bool fire = false;
  {
    std::lock_guard<TCriticalSectionLock> guard(lock_);
    fire = --updateNesting_ == 0 && pendingChange_;
    if (fire) {
      pendingChange_ = false;
      ++changeCounter_;
      cachedText_.clear();
      cachedComplete_ = false;
    }
  }
  if (fire) try {
      FireListeners(ListenersNow());
    } catch (...) {
      // Telling the listeners failed (no memory for the text): the change
      // itself is made, and the report has no place for this.
    }
}

std::vector<TIKXException::TListener> TIKXException::ListenersNow() {
  std::lock_guard<TCriticalSectionLock> lock(HandlerLock());
  return listeners_;
}

void TIKXException::FireListeners(const std::vector<TListener>& listeners) {
  if (listeners.empty()) return;
  const std::string text = ReportText(false);
  // Procedures first, then methods, each in registration order.
  // A listener's failure is the listener's own: the report, which it was
  // told of, has no place for it.
  for (const TListener& l : listeners)
    if (l.proc) try {
        l.proc(complete_, text, this);
      } catch (...) {
      }
  for (const TListener& l : listeners)
    if (l.method) try {
        l.method(l.self, complete_, text, this);
      } catch (...) {
      }
}

void TIKXException::AddReportListener(TReportListener listener, bool critical) {
  {
    std::lock_guard<TCriticalSectionLock> lock(HandlerLock());
    for (TListener& l : listeners_)
      if (l.proc == listener) {
        l.critical = critical;
        return;
      }
    listeners_.push_back({listener, nullptr, nullptr, critical});
  }
  FireListeners({{listener, nullptr, nullptr, critical}});
}

void TIKXException::AddReportListener(TReportMethod method, void* self, bool critical) {
  {
    std::lock_guard<TCriticalSectionLock> lock(HandlerLock());
    for (TListener& l : listeners_)
      if (l.method == method && l.self == self) {
        l.critical = critical;
        return;
      }
    listeners_.push_back({nullptr, method, self, critical});
  }
  FireListeners({{nullptr, method, self, critical}});
}

void TIKXException::RemoveReportListener(TReportListener listener) {
  std::lock_guard<TCriticalSectionLock> lock(HandlerLock());
  for (size_t i = 0; i < listeners_.size(); ++i)
    if (listeners_[i].proc == listener) {
      listeners_.erase(listeners_.begin() + i);
      return;
    }
}

void TIKXException::RemoveReportListener(TReportMethod method, void* self) {
  std::lock_guard<TCriticalSectionLock> lock(HandlerLock());
  for (size_t i = 0; i < listeners_.size(); ++i)
    if (listeners_[i].method == method && listeners_[i].self == self) {
      listeners_.erase(listeners_.begin() + i);
      return;
    }
}

bool TIKXException::CriticalCallbackExists() {
  std::lock_guard<TCriticalSectionLock> lock(HandlerLock());
  for (const TListener& l : listeners_)
    if (l.critical) return true;
  return false;
}

// --- report text --------------------------------------------------------

KXPtr<IKXFields> TIKXException::ReportHeader() {
  PrepareHeader();
  return header_;
}

KXPtr<IKXFields> TIKXException::ReportSections() {
  PrepareHeader();
  PrepareSections();
  return sections_;
}

void TIKXException::ReplaceReportText(const std::string& text) {
  {
    std::lock_guard<TCriticalSectionLock> guard(lock_);
    cachedText_ = text;
    cachedComplete_ = complete_;
    ++changeCounter_;
  }
  FireListeners(ListenersNow());
}

std::string TIKXException::ReportText(bool mustBeComplete) {
  {
    std::lock_guard<TCriticalSectionLock> guard(lock_);
    if (!cachedText_.empty() && (cachedComplete_ || !mustBeComplete)) return cachedText_;
  }
  if (!filter_.createBugReport) return std::string();
  PrepareHeader();
  PrepareSections();
  if (mustBeComplete) WaitForCompletion();

  uint64_t before = 0;
  bool complete = false;
  {
    std::lock_guard<TCriticalSectionLock> guard(lock_);
    before = changeCounter_;
    complete = complete_;
  }
  TFieldList header, sections;
  header_->Lock();
  for (int i = 0; i < header_->ItemCount(); ++i) header.emplace_back(header_->Name(i), header_->ContentAt(i));
  header_->Unlock();
  sections_->Lock();
  for (int i = 0; i < sections_->ItemCount(); ++i)
    sections.emplace_back(sections_->Name(i), sections_->ContentAt(i));
  sections_->Unlock();
  std::string text = FormatReportText(header, sections);
  std::lock_guard<TCriticalSectionLock> guard(lock_);
  if (changeCounter_ == before) {
    cachedText_ = text;
    cachedComplete_ = complete;
  }
  return text;
}

}  // namespace kestrix
