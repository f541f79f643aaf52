// kxTraceProcess: exported from the executable, started as a thread by
// another process, it writes a report of every thread of this process into
// the named shared memory "kxTraceProcessMap" (or to the clipboard).
#include <cstring>

#include "crash/base/win/scoped_handle.h"
#include "crash/report/win/kx_exception_object.h"
#include "crash/report/win/save_bug_report.h"
#include "crash/threads/win/library_threads.h"
#include "crash/threads/win/thread_table_win32.h"

namespace kestrix {
namespace {

void WriteToMap(const std::string& report, uint32_t size) {
  TScopedHandle map(OpenFileMappingA(FILE_MAP_WRITE, FALSE, "Global\\kxTraceProcessMap"));
  if (!map) map.Reset(OpenFileMappingA(FILE_MAP_WRITE, FALSE, "kxTraceProcessMap"));
  if (!map || size == 0) return;
  const TMappedView view(MapViewOfFile(map.Get(), FILE_MAP_WRITE, 0, 0, size));
  if (!view) return;
  char* text = view.As<char>();
  const size_t n = report.size() < size - 1 ? report.size() : size - 1;
  std::memcpy(text, report.data(), n);
  text[n] = 0;
}

}  // namespace

std::string TraceProcessReport() {
  const DWORD self = GetCurrentThreadId();
  RegisterLibraryThread(self, "-");
  if (HandlingThreadId()) AssignThreadName(HandlingThreadId(), "HandleExceptionThread");
  std::string report;
  try {
    KXPtr<IKXSettings> settings = MainSettings();
    TExceptionCreation c;
    c.type = etFreeze;
    c.listOwnThreads = true;
    KXPtr<TIKXException> e(new TIKXException(settings ? settings->Module() : GetModuleHandleA(nullptr), c));
    e->SetPlWaitBoxOff();
    e->SetListThreads(true);
    report = e->ReportText(true);
  } catch (...) {
    // The trace is the report: it says where it failed.
    report = ">> internal error in kxTraceProcess";
  }
  if (HandlingThreadId()) AssignThreadName(HandlingThreadId(), "-");
  UnregisterLibraryThread(self);
  return report;
}

}  // namespace kestrix

// Exported under its plain name (a thread procedure of another process).
__asm__(".section .drectve\n\t.ascii \" -export:kxTraceProcess=kxTraceProcess@4\"\n\t.text");

extern "C" DWORD WINAPI kxTraceProcess(DWORD size) {
  const std::string report = kestrix::TraceProcessReport();
  if (static_cast<int32_t>(size) < 1) {
    kestrix::CopyToClipboard(report);
  } else {
    kestrix::WriteToMap(report, size);
  }
  return 0;
}
