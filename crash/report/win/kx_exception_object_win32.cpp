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

TIKXException::TIKXException(HMODULE module, const TExceptionCreation& c)
    : TIKXSettings(module), c_(c), doc_(static_cast<IKXException*>(this)) {
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

// --- report text --------------------------------------------------------

KXPtr<IKXFields> TIKXException::ReportHeader() {
  PrepareHeader();
  return doc_.Header();
}

KXPtr<IKXFields> TIKXException::ReportSections() {
  PrepareHeader();
  PrepareSections();
  return doc_.Sections();
}

void TIKXException::ReplaceReportText(const std::string& text) { doc_.ReplaceText(text); }

std::string TIKXException::ReportText(bool mustBeComplete) {
  std::string text;
  if (doc_.CachedText(mustBeComplete, text)) return text;
  if (!filter_.createBugReport) return std::string();
  PrepareHeader();
  PrepareSections();
  if (mustBeComplete) WaitForCompletion();
  return doc_.ComposeText();
}

}  // namespace kestrix
