// The exception object: one caught exception or freeze, as handlers,
// report plug-ins and report listeners see it. It is a settings object too:
// settings changed through it apply to this exception only.
#pragma once

#include <cstdint>
#include <string>

#include "kestrix/exceptions.h"
#include "kestrix/fields.h"
#include "kestrix/settings.h"
#include "kestrix/system_types.h"

namespace kestrix {

class IKXException;
// Report-change callbacks: complete flag, current text, the exception.
using TReportListener = void (*)(bool complete, const std::string& report, IKXException* exception);
using TReportMethod = void (*)(void* self, bool complete, const std::string& report, IKXException* exception);

class IKXException : public virtual IKXSettings {
 public:
  static constexpr KXIID IID = {0x4b584558, 0x0001, 0x0002, 0x0003};
  virtual int HandlingPhase() = 0;
  virtual bool ContinueAllowed() = 0;
  virtual bool SetContinueAllowed(bool value) = 0;
  virtual uint8_t ExceptionKind() = 0;
  virtual const TExceptionObjectInfo* ExceptionObject() = 0;
  virtual std::string ExceptionClassName() = 0;
  virtual std::string ExceptionMessageText() = 0;
  virtual uint32_t ExceptionAddress() = 0;
  virtual DWORD FaultingThreadId() = 0;
  virtual uint32_t StackChecksum(int index) = 0;
  virtual const CONTEXT* Context() = 0;
  virtual uint8_t Source() = 0;
  virtual const void* AssociatedObject() = 0;
  virtual HMODULE Package() = 0;
  virtual KXPtr<IKXFields> ReportHeader() = 0;
  virtual KXPtr<IKXFields> ReportSections() = 0;
  virtual std::string CompleteReportText() = 0;
  virtual void ReplaceReportText(const std::string& text) = 0;
  virtual std::string ReportText(bool mustBeComplete) = 0;
  virtual KXPtr<IKXUnknown> ScreenShot() = 0;
  virtual void SetScreenShot(const KXPtr<IKXUnknown>& bitmap) = 0;
  virtual void BeginReportChange() = 0;
  virtual void EndReportChange() = 0;
  virtual void AddReportListener(TReportListener listener, bool critical) = 0;
  virtual void AddReportListener(TReportMethod method, void* self, bool critical) = 0;
  virtual void RemoveReportListener(TReportListener listener) = 0;
  virtual void RemoveReportListener(TReportMethod method, void* self) = 0;
  virtual bool CreateBugReport() = 0;
  virtual void SetCreateBugReport(bool value) = 0;
  virtual bool CreateScreenShot() = 0;
  virtual void SetCreateScreenShot(bool value) = 0;
  virtual bool CallHandlers() = 0;
  virtual void SetCallHandlers(bool value) = 0;
  virtual bool AttachScreenShot() = 0;
  virtual void SetAttachScreenShot(bool value) = 0;
  virtual int32_t DisplayMode() = 0;
  virtual void SetDisplayMode(int32_t value) = 0;
  virtual std::string DisplayAssistant() = 0;
  virtual void SetDisplayAssistant(const std::string& value) = 0;
  virtual void Show() = 0;
};

}  // namespace kestrix
