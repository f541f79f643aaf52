// Reporting and the handling flow as a program uses them: report an
// exception it caught itself, register handlers that are told of every
// exception, and report plug-ins that add items and sections to reports.
#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "kestrix/exception_object.h"

namespace kestrix {

// Reports an exception the program caught itself (for example inside a
// catch block) and returns when the report has been handled, as the settings
// say: shown, saved, sent. With canContinue the program goes on afterwards;
// without it the program ends after the report. False when the library is
// not active.
bool HandleException(std::exception_ptr error, bool canContinue = true);

// Handler kinds, actions and thread modes.
enum : uint8_t { ekException = 0, ekAction = 1, ekHidden = 2 };
enum : uint8_t {
  acSend = 0,
  acSave = 1,
  acPrint = 2,
  acSendAfterAssistant = 3,  // the action's assistant was confirmed
  acSaveAfterAssistant = 4,
  acPrintAfterAssistant = 5,
  acShowReport = 6,
  acHelp = 7,
  acContinue = 8,
  acRestart = 9,
  acClose = 10,
};
enum : uint8_t { tmAnyThread = 0, tmMainThread = 1, tmMainPreferred = 2 };

// A handler sets `handled` to stop the rounds of later handlers. ekException
// handlers run once per exception (action 0); ekAction handlers before a
// button's action (the action number); ekHidden handlers for every raised
// C++ exception, before anything catches it.
using TExceptionHandler = void (*)(IKXException* exception, uint8_t action, bool& handled);
using TExceptionMethod = void (*)(void* self, IKXException* exception, uint8_t action, bool& handled);

// threadMode: tmMainThread runs the handler in the main thread (which keeps
// answering messages while an exception is handled); needsComplete waits
// until the report is complete.
void RegisterExceptionHandler(uint8_t eventKind, TExceptionHandler handler, uint8_t threadMode, bool needsComplete);
void RegisterExceptionHandler(uint8_t eventKind, TExceptionMethod method, void* self, uint8_t threadMode,
                              bool needsComplete);
void UnregisterExceptionHandler(uint8_t eventKind, TExceptionHandler handler);
void UnregisterExceptionHandler(uint8_t eventKind, TExceptionMethod method, void* self);

// A report plug-in returns the text of its report item (ownSection false:
// a header item named after the plug-in) or section (ownSection true). It
// runs for exceptions whose Plugins setting names it.
using TPluginProcedure = std::string (*)(IKXException* exception);
void RegisterReportPlugin(const std::string& name, const std::string& description, TPluginProcedure procedure,
                          bool ownSection);
void UnregisterReportPlugin(const std::string& name);

}  // namespace kestrix
