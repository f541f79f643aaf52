// Naming a thread while a debugger is attached: the debugger (this test)
// sees the naming exception 0x406D1388 with the name, whether it handles
// it or passes it on, and the named program goes on to its normal end.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace {

struct TNamingSeen {
  int count = 0;
  std::string name;
  DWORD threadId = 0, eventThreadId = 0, infoType = 0, parameters = 0;
  DWORD exitCode = 0;
};

TNamingSeen Debug(DWORD namingAnswer) {
  TNamingSeen seen;
  STARTUPINFOA si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  std::string command = std::string("\"") + THREAD_NAME_PROBE + "\"";
  if (!CreateProcessA(nullptr, &command[0], nullptr, nullptr, FALSE, DEBUG_ONLY_THIS_PROCESS, nullptr, nullptr, &si,
                      &pi)) {
    ADD_FAILURE() << "cannot start " << THREAD_NAME_PROBE;
    return seen;
  }
  const DWORD start = GetTickCount();
  for (;;) {
    DEBUG_EVENT ev{};
    if (!WaitForDebugEvent(&ev, 1000)) {
      if (GetTickCount() - start > 30000) {
        ADD_FAILURE() << "the debugged program did not end";
        TerminateProcess(pi.hProcess, 1);
        break;
      }
      continue;
    }
    DWORD answer = DBG_CONTINUE;
    if (ev.dwDebugEventCode == EXCEPTION_DEBUG_EVENT) {
      const EXCEPTION_RECORD& r = ev.u.Exception.ExceptionRecord;
      if (r.ExceptionCode == 0x406D1388) {
        ++seen.count;
        seen.parameters = r.NumberParameters;
        seen.infoType = static_cast<DWORD>(r.ExceptionInformation[0]);
        seen.threadId = static_cast<DWORD>(r.ExceptionInformation[2]);
        seen.eventThreadId = ev.dwThreadId;
        char text[64] = {};
        SIZE_T read = 0;
        ReadProcessMemory(pi.hProcess, reinterpret_cast<void*>(r.ExceptionInformation[1]), text, sizeof text - 1,
                          &read);
        seen.name = text;
        answer = namingAnswer;
      } else if (r.ExceptionCode != EXCEPTION_BREAKPOINT) {
        answer = DBG_EXCEPTION_NOT_HANDLED;
      }
    } else if (ev.dwDebugEventCode == CREATE_PROCESS_DEBUG_EVENT) {
      if (ev.u.CreateProcessInfo.hFile) CloseHandle(ev.u.CreateProcessInfo.hFile);
    } else if (ev.dwDebugEventCode == LOAD_DLL_DEBUG_EVENT) {
      if (ev.u.LoadDll.hFile) CloseHandle(ev.u.LoadDll.hFile);
    }
    const bool ended = ev.dwDebugEventCode == EXIT_PROCESS_DEBUG_EVENT;
    if (ended) seen.exitCode = ev.u.ExitProcess.dwExitCode;
    ContinueDebugEvent(ev.dwProcessId, ev.dwThreadId, answer);
    if (ended) break;
  }
  WaitForSingleObject(pi.hProcess, 10000);
  CloseHandle(pi.hThread);
  CloseHandle(pi.hProcess);
  return seen;
}

TEST(ThreadNaming, TheDebuggerSeesTheNameAndTheProgramGoesOn) {
  for (DWORD answer : {static_cast<DWORD>(DBG_CONTINUE), static_cast<DWORD>(DBG_EXCEPTION_NOT_HANDLED)}) {
    SCOPED_TRACE(answer == DBG_CONTINUE ? "handled by the debugger" : "passed on by the debugger");
    const TNamingSeen seen = Debug(answer);
    EXPECT_EQ(seen.count, 1);
    EXPECT_EQ(seen.parameters, 4u);
    EXPECT_EQ(seen.infoType, 0x1000u);
    EXPECT_EQ(seen.name, "named for the debugger");
    EXPECT_EQ(seen.threadId, seen.eventThreadId) << "the named thread is the raising one";
    EXPECT_EQ(seen.exitCode, 7u) << "the exception was swallowed";
  }
}

}  // namespace
