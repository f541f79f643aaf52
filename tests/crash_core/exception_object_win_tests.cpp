// The exception object's report in-process: header order, the freeze
// report of kxTraceProcess, change notification.
#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>

#include <string>
#include <vector>

#include "crash/report/win/kx_exception_object.h"
#include "crash/handling/win/handling_win32.h"
#include "crash/threads/win/thread_table_win32.h"

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
