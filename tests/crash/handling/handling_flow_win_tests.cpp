// The handling flow in-process: handlers see an exception and may handle it;
// silent exceptions reach none.
#include <windows.h>

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>

#include "crash/handling/win/handling_entry_win32.h"
#include "kestrix/handling.h"

namespace kestrix {
namespace {

struct Seen {
  int calls = 0;
  std::string className, message;
  uint8_t source = 0;
  bool canContinue = false;
  std::string order;
};
Seen g_seen;

void Recorder(IKXException* e, uint8_t, bool& handled) {
  ++g_seen.calls;
  g_seen.className = e->ExceptionClassName();
  g_seen.message = e->ExceptionMessageText();
  g_seen.source = e->Source();
  g_seen.canContinue = e->ContinueAllowed();
  g_seen.order += "p";
  handled = true;
}

void Method(void* self, IKXException*, uint8_t, bool&) { static_cast<Seen*>(self)->order += "m"; }

class LabError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

__attribute__((noinline)) void ThrowLab() { throw LabError("wrong turn"); }

TEST(HandlingFlow, HandlersSeeTheExceptionAndMayHandleIt) {
  g_seen = Seen();
  RegisterExceptionHandler(ekException, Recorder, tmAnyThread, false);
  RegisterExceptionHandler(ekException, Method, &g_seen, tmAnyThread, false);
  try {
    ThrowLab();
  } catch (...) {
    HandleCppException(std::current_exception(), esEventHandler, true);
  }
  UnregisterExceptionHandler(ekException, Recorder);
  UnregisterExceptionHandler(ekException, Method, &g_seen);
  EXPECT_EQ(g_seen.calls, 1) << "a handled exception ends the rounds";
  EXPECT_EQ(g_seen.order, "mp") << "methods before procedures";
  EXPECT_EQ(g_seen.className, "LabError");
  EXPECT_EQ(g_seen.message, "wrong turn.");
  EXPECT_EQ(g_seen.source, esEventHandler);
  EXPECT_TRUE(g_seen.canContinue);
}

TEST(HandlingFlow, SilentExceptionsReachNoHandler) {
  g_seen = Seen();
  RegisterExceptionHandler(ekException, Recorder, tmAnyThread, false);
  HandleCppException(std::make_exception_ptr(EAbort()), esEventHandler, true);
  UnregisterExceptionHandler(ekException, Recorder);
  EXPECT_EQ(g_seen.calls, 0);
}

}  // namespace
}  // namespace kestrix
