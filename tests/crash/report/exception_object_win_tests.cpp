// The exception object's report in-process: header order, the freeze
// report of kxTraceProcess, change notification.
#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "crash/report/win/kx_exception_object.h"
#include "crash/handling/win/handling_entry_win32.h"
#include "kestrix/handling.h"
#include "crash/threads/win/thread_table_win32.h"
#include "report_ui/progress/progress_alert.h"

extern "C" DWORD WINAPI kxTraceProcess(DWORD size);

namespace kestrix {
namespace {

std::vector<std::string> HeaderNames(IKXException* e) {
  std::vector<std::string> names;
  KXPtr<IKXFields> header = e->ReportHeader();
  for (int i = 0; i < header->ItemCount(); ++i) names.push_back(header->Name(i));
  return names;
}

KXPtr<TIKXException> NewException(const TExceptionObjectInfo* info) {
  TExceptionCreation c;
  c.object = info;
  c.address = reinterpret_cast<uint32_t>(&NewException);
  return KXPtr<TIKXException>(new TIKXException(GetModuleHandleA(nullptr), c));
}

struct Calls {
  int count = 0;
  bool lastComplete = false;
  std::string lastText;
};
Calls g_calls;
void Listener(bool complete, const std::string& text, IKXException*) {
  ++g_calls.count;
  g_calls.lastComplete = complete;
  g_calls.lastText = text;
}

TEST(ExceptionObject, ReportHeaderSectionsAndChecksums) {
  const TExceptionObjectInfo info = DescribeException(std::make_exception_ptr(std::runtime_error("bad input!!")));
  KXPtr<TIKXException> e = NewException(&info);
  const std::string text = e->ReportText(true);
  g_calls = Calls();
  e->AddReportListener(Listener, false);
  EXPECT_EQ(g_calls.count, 1) << "a new listener is called at once";
  e->AddReportListener(Listener, true);
  EXPECT_EQ(g_calls.count, 1) << "registering again only updates the critical flag";
  EXPECT_TRUE(e->CriticalCallbackExists());
  EXPECT_TRUE(e->ReportComplete());
  const std::vector<std::string> names = HeaderNames(e.get());
  ASSERT_GE(names.size(), 4u);
  EXPECT_EQ(names.front(), "date/time");
  EXPECT_EQ(std::vector<std::string>(names.end() - 4, names.end()),
            (std::vector<std::string>{"callstack crc", "exception number", "exception class", "exception message"}));
  KXPtr<IKXFields> header = e->ReportHeader();
  EXPECT_EQ(header->Content("exception class"), "runtime_error");
  EXPECT_EQ(header->Content("exception message"), "bad input.");
  char crc[40];
  snprintf(crc, sizeof crc, "$%08x, $%08x, $%08x", e->StackChecksum(0), e->StackChecksum(1), e->StackChecksum(2));
  EXPECT_EQ(header->Content("callstack crc"), crc);
  // Without the library's start-up the thread registry is closed: the
  // crashed (current) thread is titled by its id.
  char title[40];
  snprintf(title, sizeof title, "\r\n\r\nthread $%lx:", GetCurrentThreadId());
  EXPECT_NE(text.find(title), std::string::npos) << text;
  EXPECT_NE(text.back(), '\n') << "no line break after the last line";
  // Without a context there are no register and stack sections.
  EXPECT_EQ(text.find("cpu registers:"), std::string::npos);
  // Additions go to the insertion index; setting an existing item
  // replaces it in place.
  const int index = header->InsertionIndex();
  EXPECT_GT(index, 0);
  header->SetContent("contact", "someone");
  EXPECT_EQ(header->Name(index), "contact");
  header->SetContent("contact", "someone else");
  EXPECT_EQ(header->Name(index), "contact");
  EXPECT_EQ(header->Content("contact"), "someone else");
  EXPECT_TRUE(g_calls.lastComplete);
  EXPECT_NE(g_calls.lastText.find("contact"), std::string::npos) << "listeners see the changed report";
  e->ReplaceReportText("edited");
  EXPECT_EQ(e->ReportText(false), "edited");
  EXPECT_EQ(g_calls.lastText, "edited");
  e->RemoveReportListener(Listener);
  const int calls = g_calls.count;
  header->SetContent("contact", "else");
  EXPECT_EQ(g_calls.count, calls);
}

// A listener object that knows whether it is still itself.
struct TProbe {
  static constexpr uint32_t kAlive = 0x4C495354;
  uint32_t magic = kAlive;
  std::atomic<int> calls{0};
};
std::atomic<int> g_strayCalls{0};
void ProbeMethod(void* self, bool, const std::string&, IKXException*) {
  auto* probe = static_cast<TProbe*>(self);
  if (!probe || probe->magic != TProbe::kAlive)
    ++g_strayCalls;
  else
    ++probe->calls;
}

TEST(ExceptionObject, ListenersComeAndGoWhileTheReportChanges) {
  // A fresh exception per round, so that the listener list grows (and is
  // moved in memory) while the report changes in this thread.
  constexpr int kPerThread = 128, kRounds = 150;
  std::unique_ptr<TProbe[]> probes(new TProbe[2 * kPerThread]);
  g_strayCalls = 0;
  int changes = 0;
  for (int round = 0; round < kRounds; ++round) {
    KXPtr<TIKXException> e = NewException(nullptr);
    KXPtr<IKXFields> header = e->ReportHeader();
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::atomic<int> finished{0};
    auto churn = [&](int first, bool critical) {
      WaitForSingleObject(go, INFINITE);
      for (int i = 0; i < kPerThread; ++i) e->AddReportListener(ProbeMethod, &probes[first + i], critical);
      for (int i = 0; i < kPerThread; i += 2) e->RemoveReportListener(ProbeMethod, &probes[first + i]);
      ++finished;
    };
    std::thread a(churn, 0, false), b(churn, kPerThread, true);
    SetEvent(go);
    while (finished < 2) header->SetContent("probe", std::to_string(++changes));
    a.join();
    b.join();
    CloseHandle(go);
    EXPECT_TRUE(e->CriticalCallbackExists()) << "half of the listeners stay";
    for (int i = 1; i < 2 * kPerThread; i += 2) e->RemoveReportListener(ProbeMethod, &probes[i]);
    EXPECT_FALSE(e->CriticalCallbackExists());
    if (g_strayCalls) break;
  }
  EXPECT_EQ(g_strayCalls, 0);
  for (int i = 0; i < 2 * kPerThread; ++i)
    EXPECT_GE(probes[i].calls, kRounds) << "each registration calls the listener once";
  EXPECT_GT(changes, kRounds);
}

TEST(ExceptionObject, HeaderAndSectionChangesAreStoredTrimmed) {
  KXPtr<TIKXException> e = NewException(nullptr);
  KXPtr<IKXFields> header = e->ReportHeader();
  const int count = header->ItemCount();
  header->SetContent("contact", "  Ann \r\n");
  EXPECT_EQ(header->Content("contact"), "Ann");
  header->SetContent("contact", " \t\r\n");
  EXPECT_EQ(header->FindItem("contact"), -1) << "an empty value removes the item";
  header->Add("note", "   ");
  EXPECT_FALSE(header->Insert(0, "blank", ""));
  EXPECT_EQ(header->ItemCount(), count);
  header->SetContent("executable", "");
  EXPECT_EQ(header->FindItem("executable"), -1);
  KXPtr<IKXFields> sections = e->ReportSections();
  sections->SetContent("notes", "\r\n  first line\r\n\r\n");
  EXPECT_EQ(sections->Content("notes"), "first line");
  EXPECT_NE(e->ReportText(true).find("\r\n\r\nnotes:\r\nfirst line"), std::string::npos);
  sections->SetContent("notes", "\r\n");
  EXPECT_EQ(sections->FindItem("notes"), -1);
}

TEST(ExceptionObject, AdditionalFieldsStandAtTheInsertionIndex) {
  KXPtr<TIKXException> plain = NewException(nullptr);
  KXPtr<IKXFields> plainHeader = plain->ReportHeader();
  const int index = plainHeader->InsertionIndex();
  ASSERT_GT(index, 0);

  KXPtr<TIKXException> e = NewException(nullptr);
  ASSERT_TRUE(e->SetTextSetting("AddFields", "Contact= Ann Smith |Empty=  |Build=42|=nameless|executable=%appname%!"));
  KXPtr<IKXFields> header = e->ReportHeader();
  EXPECT_EQ(header->FindItem("Contact"), index);
  EXPECT_EQ(header->Content("Contact"), "Ann Smith");
  EXPECT_EQ(header->Name(index + 1), "Build");
  EXPECT_EQ(header->InsertionIndex(), index + 2) << "later additions follow them";
  EXPECT_EQ(header->FindItem("Empty"), -1);
  EXPECT_EQ(header->FindItem(""), -1);
  // A name the header has already: replaced in place (placeholders expanded).
  EXPECT_EQ(header->FindItem("executable"), plainHeader->FindItem("executable"));
  EXPECT_EQ(header->Content("executable"), "crash_report_tests.exe!");
  EXPECT_EQ(header->ItemCount(), plainHeader->ItemCount() + 2);
  EXPECT_NE(e->ReportText(false).find("\r\nBuild "), std::string::npos);
}

// The please-wait box as the sections see it while they are computed.
KXPtr<IProgressAlert> g_box;
KXPtr<IProgressAlert> RememberedBox(const std::string& title, HMODULE module, const std::string& picture) {
  g_box = CreateProgressAlert(title, module, picture);
  return g_box;
}
struct TBarSeen {
  int area = -1, position = -1;
  bool shown = false;
};
std::vector<TBarSeen> g_barSeen;
std::string BarProbe(IKXException*) {
  TBarSeen seen;
  TProgressWindows w{};
  if (g_box && GetProgressWindows(g_box.get(), w)) {
    seen.area = g_box->ActiveArea();
    seen.position = static_cast<int>(SendMessageA(w.bar, PBM_GETPOS, 0, 0));
    seen.shown = IsWindowVisible(w.main) != 0;
  }
  g_barSeen.push_back(seen);
  return "probed";
}

TEST(ExceptionObject, PleaseWaitBoxMovesOnPerSectionInTheCallersThread) {
  const TReportHooks previous = ReportHooks();
  TReportHooks hooks = previous;
  hooks.pleaseWaitBox = RememberedBox;
  SetReportHooks(hooks);
  RegisterReportPlugin("probe1", "", BarProbe, true);
  RegisterReportPlugin("probe2", "", BarProbe, true);
  g_barSeen.clear();
  {
    KXPtr<TIKXException> e = NewException(nullptr);
    ASSERT_TRUE(g_box);
    ASSERT_TRUE(e->SetTextSetting("Plugins", "probe1|probe2"));
    ASSERT_TRUE(e->SetPlWaitBox(true));
    ASSERT_TRUE(e->SetListThreads(false));
    // Not the handling thread: the sections (one thread, two plug-ins) are
    // computed right here, in three steps.
    const std::string text = e->ReportText(true);
    EXPECT_NE(text.find("probe2:\r\nprobed"), std::string::npos);
    ASSERT_EQ(g_barSeen.size(), 2u);
    EXPECT_TRUE(g_barSeen[0].shown);
    EXPECT_EQ(g_barSeen[0].area, 1) << "the thread section is done";
    EXPECT_EQ(g_barSeen[1].area, 2);
    EXPECT_EQ(g_barSeen[0].position, 333);
    EXPECT_EQ(g_barSeen[1].position, 666);
    TProgressWindows w{};
    EXPECT_FALSE(GetProgressWindows(g_box.get(), w)) << "closed once the report is complete";
  }
  UnregisterReportPlugin("probe1");
  UnregisterReportPlugin("probe2");
  SetReportHooks(previous);
  g_box = nullptr;
}

// A please-wait box that fails at every step.
class TFailingBox final : public IProgressAlert, public TKXRefCounted {
 public:
  KX_IMPLEMENT_REFCOUNT
  bool QueryInterface(const KXIID&, void**) override { return false; }
  std::string WindowTitle() override { Fail(); }
  void SetWindowTitle(const std::string&) override { Fail(); }
  int AreaPosition() override { Fail(); }
  void SetAreaPosition(int) override { Fail(); }
  void AppendArea(const std::string&, int64_t) override { Fail(); }
  void RemoveAreas() override { Fail(); }
  void FinishArea() override { Fail(); }
  int ActiveArea() override { Fail(); }
  void SetActiveArea(int) override { Fail(); }
  void PumpMessages() override { Fail(); }
  bool OpenWindow(HWND, bool) override { Fail(); }
  void CloseWindow() override { Fail(); }

 private:
  [[noreturn]] static void Fail() { throw std::runtime_error("box failure"); }
};
KXPtr<IProgressAlert> FailingBox(const std::string&, HMODULE, const std::string&) {
  return KXPtr<IProgressAlert>(new TFailingBox);
}
void FailingCompletionHook(TIKXException*) { throw std::runtime_error("hook failure"); }

TEST(ExceptionObject, FailuresAroundTheReportNeitherEscapeNorStopIt) {
  const TReportHooks previous = ReportHooks();
  TReportHooks hooks = previous;
  hooks.pleaseWaitBox = FailingBox;
  SetReportHooks(hooks);
  {
    KXPtr<TIKXException> e = NewException(nullptr);
    ASSERT_TRUE(e->SetPlWaitBox(true));
    std::string text;
    EXPECT_NO_THROW(text = e->ReportText(true));
    EXPECT_TRUE(e->ReportComplete());
    EXPECT_EQ(text.find("calculated soon"), std::string::npos) << text;
  }
  // A failing completion hook: this thread completes later reports too.
  hooks = previous;
  hooks.completed = FailingCompletionHook;
  SetReportHooks(hooks);
  for (int round = 0; round < 2; ++round) {
    SCOPED_TRACE(round);
    KXPtr<TIKXException> e = NewException(nullptr);
    std::string text;
    EXPECT_NO_THROW(text = e->ReportText(true));
    EXPECT_TRUE(e->ReportComplete());
    EXPECT_EQ(text.find("calculated soon"), std::string::npos) << text;
  }
  SetReportHooks(previous);
}

TEST(ExceptionObject, ContinueCannotBeGrantedLater) {
  TExceptionCreation c;
  c.canContinue = false;
  KXPtr<TIKXException> e(new TIKXException(GetModuleHandleA(nullptr), c));
  EXPECT_FALSE(e->SetContinueAllowed(true));
  EXPECT_FALSE(e->ContinueAllowed());
  c.canContinue = true;
  KXPtr<TIKXException> f(new TIKXException(GetModuleHandleA(nullptr), c));
  EXPECT_TRUE(f->SetContinueAllowed(false));
  EXPECT_TRUE(f->SetContinueAllowed(true));
}

TEST(ExceptionObject, PrivateSettingsDoNotLeakIntoTheModule) {
  KXPtr<TIKXException> e = NewException(nullptr);
  KXPtr<TIKXException> other = NewException(nullptr);
  const int before = other->BugRepFileSize();
  EXPECT_TRUE(e->SetBugRepFileSize(before + 7));
  EXPECT_EQ(e->BugRepFileSize(), before + 7);
  EXPECT_EQ(other->BugRepFileSize(), before);
  EXPECT_FALSE(e->SetTextSetting("BugRepFileSize", "x")) << "kinds do not change";
}

TEST(ProcessTrace, FreezeReportOfEveryThreadIntoSharedMemory) {
  ASSERT_TRUE(OpenThreadTable());  // as the start-up does: names "main thread"
  HANDLE map = CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 65536, "kxTraceProcessMap");
  ASSERT_TRUE(map);
  HANDLE thread = CreateThread(nullptr, 0, reinterpret_cast<LPTHREAD_START_ROUTINE>(reinterpret_cast<void*>(kxTraceProcess)),
                               reinterpret_cast<void*>(65536), 0, nullptr);
  ASSERT_TRUE(thread);
  EXPECT_EQ(WaitForSingleObject(thread, 20000), WAIT_OBJECT_0);
  DWORD code = 1;
  GetExitCodeThread(thread, &code);
  EXPECT_EQ(code, 0u);
  CloseHandle(thread);
  auto* view = static_cast<const char*>(MapViewOfFile(map, FILE_MAP_READ, 0, 0, 0));
  ASSERT_TRUE(view);
  const std::string report(view);
  UnmapViewOfFile(view);
  CloseHandle(map);
  EXPECT_EQ(report.rfind("date/time", 0), 0u);
  EXPECT_EQ(report.find("exception class"), std::string::npos) << "a freeze has no class";
  EXPECT_NE(report.find("\r\nexception message: "), std::string::npos);
  const size_t first = report.find("\r\n\r\n");
  ASSERT_NE(first, std::string::npos);
  EXPECT_EQ(report.compare(first + 4, 14, "main thread ($"), 0) << report.substr(first, 40);
  // The calling thread names itself "-" and is listed only while tracing.
  EXPECT_NE(report.find("\r\n- ($"), std::string::npos);
}

}  // namespace
}  // namespace kestrix
