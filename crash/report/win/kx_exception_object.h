// The exception object: one caught exception or freeze with its handling
// state, the filter results, and the bug report (header, sections, text,
// checksums, change notification).
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "crash/base/progress_alert.h"
#include "crash/base/win/critical_section.h"
#include "crash/base/win/scoped_handle.h"
#include "crash/exception/exception_filters.h"
#include "crash/exception/win/fault_conversion_win32.h"
#include "crash/report/win/report_document_win32.h"
#include "crash/settings/win/settings_object.h"
#include "kestrix/exception_object.h"

namespace kestrix {

class TLiveSnapshot;

class IKXExceptionEx : public IKXUnknown {
 public:
  static constexpr KXIID IID = {0x4b584578, 0x0001, 0x0002, 0x0003};
  virtual bool CriticalCallbackExists() = 0;
  virtual DWORD ReportThreadId() = 0;
  virtual void SetHandlingPhase(int phase) = 0;
  virtual bool Sent() = 0;
  virtual void SetSent(bool value) = 0;
  virtual bool Saved() = 0;
  virtual void SetSaved(bool value) = 0;
  virtual bool FirstCompleteCallback() = 0;  // true only the first time
  virtual bool FirstAutoSave() = 0;          // true only the first time
  // The thread of a background send: the exception owns its handle (an
  // earlier one is closed); WaitForSendThread waits for its end.
  virtual void AdoptSendThread(HANDLE thread) = 0;
  virtual void WaitForSendThread() = 0;
};

// What the exception object is created from.
struct TExceptionCreation {
  uint8_t type = etException;
  const TExceptionObjectInfo* object = nullptr;
  uint32_t address = 0;
  DWORD threadId = 0;
  uint32_t stackPointer = 0, framePointer = 0;
  const CONTEXT* context = nullptr;
  bool canContinue = true;
  uint8_t source = 0;
  const void* related = nullptr;
  HMODULE package = nullptr;
  const TCapturedStack* preparedStack = nullptr;
  bool listOwnThreads = false;  // process trace: the library's threads too
};

class TIKXException final : public TIKXSettings, public IKXException, public IKXExceptionEx {
 public:
  TIKXException(HMODULE module, const TExceptionCreation& c);

  bool QueryInterface(const KXIID& iid, void** out) override;
  uint32_t AddRef() override { return DoAddRef(); }
  uint32_t Release() override { return DoRelease(); }

  // IKXException
  int HandlingPhase() override { return phase_; }
  bool ContinueAllowed() override { return canContinue_; }
  bool SetContinueAllowed(bool value) override;
  uint8_t ExceptionKind() override { return c_.type; }
  const TExceptionObjectInfo* ExceptionObject() override { return objectValid_ ? &object_ : nullptr; }
  std::string ExceptionClassName() override;
  std::string ExceptionMessageText() override;
  uint32_t ExceptionAddress() override { return c_.address; }
  DWORD FaultingThreadId() override { return c_.threadId; }
  uint32_t StackChecksum(int index) override;
  const CONTEXT* Context() override { return hasContext_ ? &context_ : nullptr; }
  uint8_t Source() override { return c_.source; }
  const void* AssociatedObject() override { return c_.related; }
  HMODULE Package() override { return c_.package; }
  KXPtr<IKXFields> ReportHeader() override;
  KXPtr<IKXFields> ReportSections() override;
  std::string CompleteReportText() override { return ReportText(true); }
  void ReplaceReportText(const std::string& text) override;
  std::string ReportText(bool mustBeComplete) override;
  KXPtr<IKXUnknown> ScreenShot() override { return screenshot_; }
  void SetScreenShot(const KXPtr<IKXUnknown>& bitmap) override { screenshot_ = bitmap; }
  void BeginReportChange() override { doc_.BeginReportChange(); }
  void EndReportChange() override { doc_.EndReportChange(); }
  void AddReportListener(TReportListener listener, bool critical) override { doc_.AddListener(listener, critical); }
  void AddReportListener(TReportMethod method, void* self, bool critical) override {
    doc_.AddListener(method, self, critical);
  }
  void RemoveReportListener(TReportListener listener) override { doc_.RemoveListener(listener); }
  void RemoveReportListener(TReportMethod method, void* self) override { doc_.RemoveListener(method, self); }
  bool CreateBugReport() override { return filter_.createBugReport; }
  void SetCreateBugReport(bool value) override { filter_.createBugReport = value; }
  bool CreateScreenShot() override { return filter_.createScreenshot; }
  void SetCreateScreenShot(bool value) override { filter_.createScreenshot = value; }
  bool CallHandlers() override { return filter_.callHandlers; }
  void SetCallHandlers(bool value) override { filter_.callHandlers = value; }
  bool AttachScreenShot() override { return filter_.attachScreenshot; }
  void SetAttachScreenShot(bool value) override { filter_.attachScreenshot = value; }
  int32_t DisplayMode() override { return filter_.displayMode; }
  void SetDisplayMode(int32_t value) override { filter_.displayMode = value; }
  std::string DisplayAssistant() override { return filter_.assistant; }
  void SetDisplayAssistant(const std::string& value) override { filter_.assistant = value; }
  void Show() override;

  // IKXExceptionEx
  bool CriticalCallbackExists() override { return doc_.CriticalListenerExists(); }
  DWORD ReportThreadId() override { return reportThreadId_; }
  void SetHandlingPhase(int phase) override { phase_ = phase; }
  bool Sent() override { return sent_; }
  void SetSent(bool value) override { sent_ = value; }
  bool Saved() override { return saved_; }
  void SetSaved(bool value) override { saved_ = value; }
  bool FirstCompleteCallback() override { return ++firstComplete_ == 0; }
  bool FirstAutoSave() override { return ++firstAutoSave_ == 0; }
  void AdoptSendThread(HANDLE thread) override { sendThread_.Reset(thread); }
  void WaitForSendThread() override;

  bool ReportComplete() const { return doc_.Complete(); }
  // What it was created from (the throw site of a C++ exception).
  const TExceptionCreation& Creation() const { return c_; }
  const TFilterResult& Filter() const { return filter_; }
  // Switches the please-wait box off for this exception.
  void SetPlWaitBoxOff() { SetBoolSetting("PlWaitBox", false); }
  // Gives every section still waiting for its content the note instead (a report saved while its computation failed).
  void MarkUnfinishedSections(const std::string& note);

 protected:
  ~TIKXException() override;
  bool LookupValue(const char* name, bool useDefaults, TValue& value) override;
  bool StoreValue(const char* name, const TValue& value) override;
  // Private list, then the module's settings, then the built-in table: an
  // exception of another module never inherits the main settings' values.
  bool UseDefaults() override { return true; }
  IKXSettings* AssistantException() override { return static_cast<IKXException*>(this); }

 private:
  // One thread of the report.
  struct TReportThread {
    DWORD id = 0;
    std::string title;
    uint32_t address = 0;  // current code address
    bool crashed = false;
    bool exceptionLocation = false;
    uint32_t esp = 0, ebp = 0;
    uint32_t creatorAddress = 0;
    DWORD creatorThreadId = 0;
    bool haveContext = false;
    uint32_t stackTop = 0;  // the stack's base, from the snapshot
    uint32_t handlingEsp = 0;  // the crashed thread's, while it waits for the report
  };

  void ApplyClassFilters();
  void PrepareHeader();
  void PrepareSections();
  void PrepareThreads();
  void StartCompletion();
  void Complete();
  // Complete, with a failure recorded in the sections instead of passed on.
  void GuardedComplete();
  // The sections' texts in order; returns the all-threads checksum.
  uint32_t ComputeSections();
  // Sections still waiting for their text get the internal-error text of
  // the phase.
  void FailUnfinishedSections(const char* phase);
  static DWORD WINAPI CompletionThread(void* self);
  void WaitForCompletion();
  // The sections Complete computes, at least 1 (the please-wait box's steps).
  int SectionsToCompute();
  // Counts a computed section and moves the please-wait box on.
  void SectionDone();
  void SetSection(const std::string& title, const std::string& content) { doc_.SetSection(title, content); }
  std::string ThreadSectionPlaceholder(const TReportThread& t);
  std::string ThreadReport(TReportThread& t, uint32_t& crc1, uint32_t& crc2, bool& programCode);
  // The frame-pointer walk, where the stack tracer is not there or fails.
  std::string FrameChainReport(TReportThread& t, uint32_t& crc1, uint32_t& crc2, bool& programCode);
  std::string CreatorLine(const TReportThread& t);
  void MarkCreator(const TReportThread& t, std::string& s);

  TExceptionCreation c_;
  TExceptionObjectInfo object_;
  bool objectValid_ = false;
  CONTEXT context_{};
  bool hasContext_ = false;
  uint32_t crashFunctionEntry_ = 0;  // from the crashed thread's call stack, for the disassembly
  TCapturedStack prepared_;
  bool hasPrepared_ = false;
  bool canContinue_ = true, canContinueOriginal_ = true;
  int phase_ = 0;
  TFilterResult filter_;
  std::vector<std::pair<std::string, TValue>> privateProps_;

  TReportDocument doc_;
  TCriticalSectionLock lock_;  // the builder's prepared flags
  bool headerPrepared_ = false, sectionsPrepared_ = false;
  std::atomic<bool> abort_{false};
  uint32_t checksums_[3] = {};
  std::vector<TReportThread> threads_;
  std::unique_ptr<TLiveSnapshot> snapshot_;  // taken with the threads' sections
  TScopedHandle reportThread_;  // the completion thread
  DWORD reportThreadId_ = 0;
  KXPtr<IKXUnknown> screenshot_;
  std::atomic<long> firstComplete_{-1}, firstAutoSave_{-1};
  bool sent_ = false, saved_ = false;
  TScopedHandle sendThread_;
  uint64_t exceptionNumber_ = 0;
  KXPtr<IProgressAlert> plWait_;  // the please-wait box
  std::atomic<int> sectionsDone_{0};
  std::atomic<DWORD> plWaitHere_{0};  // the thread that shows the box while it computes
};

// One thread's call stack as the report asks the stack tracer for it.
struct TThreadStackRequest {
  // Another thread, from the report's snapshot: its registers (address,
  // esp, ebp) and its stack copied from esp on, up to stackTop.
  const std::vector<uint8_t>* stackCopy = nullptr;
  uint32_t stackTop = 0;
  bool ownThread = false;   // the calling thread itself (a process trace)
  const TCapturedStack* captured = nullptr;  // the crashed thread: its stack at the exception
  // The crashed thread's stack pointer while it waits for the report: the
  // stack between the capture's end and it was overwritten by the handling.
  uint32_t handlingStackPointer = 0;
  uint32_t address = 0, esp = 0, ebp = 0;    // the crashed thread's location and registers
  bool exception = false, external = false;  // external: a processor or system exception
  uint32_t creator = 0;
  bool hideUglyItems = false, showRelAddrs = true, showRelLines = true;
  const std::atomic<bool>* abort = nullptr;
};
struct TThreadStackResult {
  std::string text;
  uint32_t checksum1 = 0, checksum2 = 0;
  bool hasLines = false;
  uint32_t functionEntry = 0, codeAddress = 0;  // the crash's function, for the disassembly
  uint32_t currentAddress = 0;                  // where the thread stood
  bool programCode = false;                     // the stack runs code of the program
};

// What the report asks of the layers above it; set once at start-up.
struct TReportHooks {
  // The report became complete.
  void (*completed)(TIKXException* exception) = nullptr;
  // Presents the exception (IKXException::Show).
  void (*show)(TIKXException* exception) = nullptr;
  // A please-wait box (a progress window); may return an empty pointer.
  KXPtr<IProgressAlert> (*pleaseWaitBox)(const std::string& title, HMODULE pictureModule,
                                         const std::string& pictureName) = nullptr;
  // The disassembly listing of the function at entry around the crash
  // address (FormatDisAsm, LimitDisAsm); without it no "disassembling".
  std::string (*disassemble)(uint32_t entry, uint32_t crashAddress, bool formatted, int lineLimit) = nullptr;
  // The exception address as its function's code has it.
  uint32_t (*correctAddress)(uint32_t address) = nullptr;
  // A thread's call stack from the stack tracer; false when it cannot be
  // traced (the frame chain is walked instead).
  bool (*traceThread)(const TThreadStackRequest& request, TThreadStackResult& result) = nullptr;
};
void SetReportHooks(const TReportHooks& hooks);
const TReportHooks& ReportHooks();

// Running number of exceptions in this process (from 1).
uint64_t NextExceptionNumber();

}  // namespace kestrix
