// The assistants in the handling flow, with a recording assistant runner:
// before send, save and print from a window (the action cancelled, or fired
// again as "after its assistant"), and instead of the dialog (display mode 1).
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crash/handling/win/handler_lists_win32.h"
#include "crash/handling/win/handling_entry_win32.h"
#include "crash/handling/win/presentation_win32.h"

namespace kestrix {
namespace {

struct TRun {
  int result = 1;  // what the assistant answers
  int calls = 0;
  std::string name;
  HWND owner = nullptr;
  bool ownerTopmost = false;  // while the assistant ran
};
TRun g_run;

int RecordingRunner(TIKXException*, const std::string& name, HWND owner) {
  ++g_run.calls;
  g_run.name = name;
  g_run.owner = owner;
  g_run.ownerTopmost = owner && (GetWindowLongA(owner, GWL_EXSTYLE) & WS_EX_TOPMOST);
  return g_run.result;
}

std::vector<int> g_actions;
bool g_handleFirst = false;
void ActionRecorder(IKXException*, uint8_t action, bool& handled) {
  g_actions.push_back(action);
  if (g_handleFirst) handled = true;
}

class AssistantActions : public ::testing::Test {
 protected:
  void SetUp() override {
    g_run = TRun();
    g_actions.clear();
    g_handleFirst = false;
    previous_ = SetAssistantRunner(RecordingRunner);
    RegisterExceptionHandler(ekAction, ActionRecorder, tmAnyThread, false);
    e_ = KXPtr<TIKXException>(new TIKXException(GetModuleHandleA(nullptr), TExceptionCreation()));
    e_->SetSendAssis("SendAssistant");
    e_->SetSaveAssis("SaveAssistant");
    e_->SetPrintAssis("");
    owner_ = CreateWindowExA(WS_EX_TOPMOST, "STATIC", "owner", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                             nullptr);
  }
  void TearDown() override {
    UnregisterExceptionHandler(ekAction, ActionRecorder);
    SetAssistantRunner(previous_);
    DestroyWindow(owner_);
  }
  bool Fire(uint8_t action, HWND parent) {
    bool handled = false;
    FireExceptionHandlers(parent, ekAction, action, handled, e_.get());
    return handled;
  }

  TAssistantRunner previous_ = nullptr;
  KXPtr<TIKXException> e_;
  HWND owner_ = nullptr;
};

TEST_F(AssistantActions, ConfirmedAssistantLetsTheActionGoOnAfterIt) {
  ASSERT_TRUE(owner_ != nullptr);
  EXPECT_FALSE(Fire(acSave, owner_));
  EXPECT_EQ(g_run.calls, 1);
  EXPECT_EQ(g_run.name, "SaveAssistant");
  EXPECT_EQ(g_run.owner, owner_);
  EXPECT_FALSE(g_run.ownerTopmost) << "a top-most owner would cover the pages";
  EXPECT_TRUE(GetWindowLongA(owner_, GWL_EXSTYLE) & WS_EX_TOPMOST) << "top-most again afterwards";
  EXPECT_EQ(g_actions, (std::vector<int>{acSave, acSaveAfterAssistant}));
}

TEST_F(AssistantActions, CancelledAssistantCancelsTheAction) {
  g_run.result = 3;
  EXPECT_TRUE(Fire(acSend, owner_));
  EXPECT_EQ(g_run.name, "SendAssistant");
  EXPECT_EQ(g_actions, (std::vector<int>{acSend})) << "no second round";
}

TEST_F(AssistantActions, WithoutAnAssistantNothingHappens) {
  // The runner knows no such assistant.
  g_run.result = -1;
  EXPECT_FALSE(Fire(acSend, owner_));
  EXPECT_EQ(g_run.calls, 1);
  EXPECT_EQ(g_actions, (std::vector<int>{acSend}));
  // No name (PrintAssis empty), no window, another action: never asked.
  g_run = TRun();
  g_actions.clear();
  EXPECT_FALSE(Fire(acPrint, owner_));
  EXPECT_FALSE(Fire(acSave, nullptr));
  EXPECT_FALSE(Fire(acContinue, owner_));
  EXPECT_EQ(g_run.calls, 0);
  EXPECT_EQ(g_actions, (std::vector<int>{acPrint, acSave, acContinue}));
}

TEST_F(AssistantActions, HandledActionRunsNoAssistant) {
  g_handleFirst = true;
  EXPECT_TRUE(Fire(acSave, owner_));
  EXPECT_EQ(g_run.calls, 0);
  EXPECT_EQ(g_actions, (std::vector<int>{acSave}));
}

TEST_F(AssistantActions, HandlersSwitchedOffStillGetTheAssistant) {
  e_->SetCallHandlers(false);
  g_run.result = 3;
  EXPECT_TRUE(Fire(acSave, owner_));
  EXPECT_EQ(g_run.calls, 1);
  EXPECT_TRUE(g_actions.empty());
}

TEST_F(AssistantActions, DisplayModeOneShowsTheExceptionsAssistant) {
  const bool console = ConsoleMode();
  SetConsoleMode(false);
  e_->SetDisplayMode(1);
  e_->SetDisplayAssistant("SendAssistant");
  ShowException(e_.get());  // the dialog would wait for a click: the test would hang
  SetConsoleMode(console);
  EXPECT_EQ(g_run.calls, 1);
  EXPECT_EQ(g_run.name, "SendAssistant");
  EXPECT_EQ(g_run.owner, nullptr);
}

}  // namespace
}  // namespace kestrix
