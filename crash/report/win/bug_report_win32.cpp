// The bug report of an exception object: header items, thread sections and
// the other sections, the background completion and the checksums.
#include <cstdio>

#include "crash/report/win/code_locations_win32.h"
#include "crash/report/win/kx_exception_object.h"
#include "crash/sysinfo/win/system_info_win32.h"
#include "crash/report/win/report_plugins.h"
#include "crash/threads/win/library_threads.h"
#include "crash/report/call_stack_text.h"
#include "crash/report/report_text.h"
#include "crash/exception/system_exceptions.h"
#include "crash/threads/win/thread_table_win32.h"

namespace kestrix {
namespace {

constexpr char kCalculatedSoon[] = "will be calculated soon";

std::string Hex8(uint32_t v) {
  char buf[12];
  std::snprintf(buf, sizeof buf, "%08x", static_cast<unsigned>(v));
  return buf;
}

std::string ModulePath(HMODULE module) {
  char path[MAX_PATH];
  DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::string(path, n) : std::string();
}

std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of("\\/");
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string DateTimeText() {
  SYSTEMTIME t;
  GetLocalTime(&t);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d, %02d:%02d:%02d, %dms", t.wYear, t.wMonth, t.wDay, t.wHour,
                t.wMinute, t.wSecond, t.wMilliseconds);
  return buf;
}

bool HasParameters() {
  const char* p = GetCommandLineA();
  if (*p == '"') {
    ++p;
    while (*p && *p != '"') ++p;
    if (*p) ++p;
  } else {
    while (*p && *p != ' ' && *p != '\t') ++p;
  }
  while (*p == ' ' || *p == '\t') ++p;
  return *p != 0;
}

std::string CompilerText() {
#if defined(__clang__)
  return "Clang " __clang_version__;
#elif defined(__GNUC__)
  return "GCC " __VERSION__ " (mingw-w64 i686)";
#else
  return "unknown compiler";
#endif
}

// "main thread ($1a4):" and the like; empty: no section.
std::string ThreadTitle(DWORD id, bool crashed, bool showOwn, uint32_t& creator, DWORD& creatorThread) {
  char idText[16];
  std::snprintf(idText, sizeof idText, "$%lx", id);
  TThreadInfo info;
  std::string title;
  if (!LookupThread(id, info, 50)) {
    title = std::string("thread ") + idText;
  } else if (info.registered && !info.name.empty() && (info.name != "-" || showOwn)) {
    title = info.name + " (" + idText + ")";
  } else if (info.registered && info.name == "-" && !crashed) {
    return std::string();
  } else {
    title = std::string("thread ") + idText;
    if (!info.className.empty()) title += " (" + info.className + ")";
  }
  creator = info.creatorAddress;
  creatorThread = info.creatorThreadId;
  title += ":";
  if (id != GetCurrentThreadId()) {
    if (HANDLE h = OpenThread(THREAD_SUSPEND_RESUME | THREAD_QUERY_INFORMATION, FALSE, id)) {
      DWORD previous = SuspendThread(h);
      if (previous != static_cast<DWORD>(-1)) {
        ResumeThread(h);
        if (previous > 0) title += " <suspended>";
      }
      int priority = GetThreadPriority(h);
      if (priority != THREAD_PRIORITY_NORMAL && priority != THREAD_PRIORITY_ERROR_RETURN)
        title += " <priority:" + std::to_string(priority) + ">";
      CloseHandle(h);
    }
  } else {
    int priority = GetThreadPriority(GetCurrentThread());
    if (priority != THREAD_PRIORITY_NORMAL) title += " <priority:" + std::to_string(priority) + ">";
  }
  return title;
}

// The stack bytes at esp up to the end of their memory region (at most 320).
std::string ReadStackBytes(uint32_t esp) {
  MEMORY_BASIC_INFORMATION info;
  if (!VirtualQuery(reinterpret_cast<void*>(esp), &info, sizeof info) || info.State != MEM_COMMIT) return "";
  const uint32_t end = reinterpret_cast<uint32_t>(info.BaseAddress) + info.RegionSize;
  const uint32_t n = end - esp < 320 ? end - esp : 320;
  std::string bytes(n, '\0');
  if (!SafeRead(reinterpret_cast<void*>(esp), bytes.data(), n)) return "";
  return bytes;
}

}  // namespace

// --- header ---------------------------------------------------------------

void TIKXException::PrepareHeader() {
  EnterCriticalSection(&cs_);
  if (headerPrepared_ || !filter_.createBugReport) {
    LeaveCriticalSection(&cs_);
    return;
  }
  headerPrepared_ = true;
  LeaveCriticalSection(&cs_);

  BeginReportChange();
  int collected = 0;
  auto add = [&](const char* name, auto produce) {
    ++collected;
    try {
      std::string value = TrimReportValue(produce());
      if (!value.empty()) header_->Add(name, value);
    } catch (...) {
      // A failing item is left out.
    }
  };
  const HMODULE exe = GetModuleHandleA(nullptr);
  const HMODULE own = Module();
  const std::string exePath = ModulePath(exe);
  const std::string ownPath = ModulePath(own ? own : exe);

  add("date/time", DateTimeText);
  add("computer name", ComputerNameText);
  add("wts client name", WtsClientNameText);
  add("user name", UserNameText);
  add("registered owner", RegisteredOwnerText);
  add("operating system", OperatingSystemText);
  add("system language", SystemLanguageText);
  add("system up time", SystemUpTimeText);
  add("program up time", ProgramUpTimeText);
  const int processors = ProcessorCount();
  if (processors <= 1) {
    const std::string name = ProcessorNameText();
    if (!name.empty()) add("processor", [&] { return name; });
  } else {
    add("processors", [&] { return std::to_string(processors) + "x " + ProcessorNameText(); });
  }
  add("physical memory", PhysicalMemoryText);
  add("free disk space", FreeDiskSpaceText);
  add("display mode", DisplayModeText);
  add("process id", [] { return DollarHex(GetCurrentProcessId()); });
  add("allocated memory", AllocatedMemoryText);
  if (HasParameters()) add("command line", [] { return std::string(GetCommandLineA()); });
  add("executable", [&] { return BaseName(exePath); });
  if (own && own != exe) add("current module", [&] { return BaseName(ownPath); });
  const bool moduleItem = own && own != exe;
  add(moduleItem ? "module date/time" : "exec. date/time",
      [&] { return FileDateTimeText(moduleItem ? ownPath : exePath); });
  // "version": only when the module's file exists and a version is known.
  std::string version = VersionText();
  if (version.empty()) {
    uint32_t ms = 0, ls = 0;
    if (ModuleFileVersion(own ? own : exe, ms, ls) && (ms != 0 || ls != 0)) {
      char buf[48];
      std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF);
      version = buf;
    }
  }
  if (!version.empty() && GetFileAttributesA(ownPath.c_str()) != INVALID_FILE_ATTRIBUTES)
    add("version", [&] { return version; });
  // "bde version" belongs to programs that load the database engine
  // (idapi32.dll); it is looked for like any module's file version.
  if (HMODULE bde = GetModuleHandleA("idapi32.dll"))
    add("bde version", [&] {
      uint32_t ms = 0, ls = 0;
      if (!ModuleFileVersion(bde, ms, ls) || (ms == 0 && ls == 0)) return std::string();
      char buf[48];
      std::snprintf(buf, sizeof buf, "%u.%u.%u.%u", ms >> 16, ms & 0xFFFF, ls >> 16, ls & 0xFFFF);
      return std::string(buf);
    });
  add("compiled with", CompilerText);
  add("Kestrix version", [] { return std::string("3.0e"); });
  for (const TReportPlugin& plugin : PluginsFor(this, false))
    add(plugin.name.c_str(), [&] { return plugin.procedure(static_cast<IKXException*>(this)); });
  header_->SetInsertionIndex(collected - 1);
  header_->Add("callstack crc", kCalculatedSoon);
  if (exceptionNumber_ == 0) exceptionNumber_ = NextExceptionNumber();  // a hidden one that is reported
  header_->Add("exception number", std::to_string(exceptionNumber_));
  if (c_.type != etFreeze) header_->Add("exception class", ExceptionClassName());
  const std::string message = ExceptionMessageText();
  if (c_.type == etFreeze || message != ExceptionClassName()) header_->Add("exception message", message);
  EndReportChange();
}

// --- sections ---------------------------------------------------------------

void TIKXException::PrepareThreads() {
  const DWORD mainId = MainThreadId();
  std::vector<DWORD> order;
  if (c_.type == etFreeze) {
    order.push_back(mainId);
  } else {
    order.push_back(c_.threadId);
    if (mainId && mainId != c_.threadId) order.push_back(mainId);
  }
  if (ListThreads())
    for (DWORD id : ThreadIds()) {
      if (id == mainId || (id == c_.threadId && c_.type != etFreeze)) continue;
      if (!c_.listOwnThreads && IsLibraryThread(id)) continue;
      order.push_back(id);
    }
  for (size_t i = 0; i < order.size(); ++i) {
    TReportThread t;
    t.id = order[i];
    t.crashed = i == 0 && c_.type != etFreeze;
    t.exceptionLocation = t.crashed;
    t.title = ThreadTitle(t.id, t.crashed, c_.listOwnThreads, t.creatorAddress, t.creatorThreadId);
    if (t.title.empty()) continue;
    if (t.crashed) {
      t.address = c_.address;
      t.esp = hasContext_ ? context_.Esp : c_.stackPointer;
      t.ebp = hasContext_ ? context_.Ebp : c_.framePointer;
      t.haveContext = true;
    }
    threads_.push_back(t);
  }
}

std::string TIKXException::ThreadSectionPlaceholder(const TReportThread& t) {
  if (!t.crashed) return std::string(">> stack ") + kCalculatedSoon;
  const TCodeLocation loc = DescribeCodeAddress(t.address);
  std::string line = Hex8(t.address) + " " + loc.module + " " + loc.unit + " " + loc.function;
  return line + "\r\n>> stack " + kCalculatedSoon;
}

void TIKXException::PrepareSections() {
  EnterCriticalSection(&cs_);
  if (sectionsPrepared_ || !filter_.createBugReport) {
    LeaveCriticalSection(&cs_);
    return;
  }
  sectionsPrepared_ = true;
  LeaveCriticalSection(&cs_);

  BeginReportChange();
  try {
    PrepareThreads();
  } catch (...) {
  }
  for (const TReportThread& t : threads_) sections_->Add(t.title, ThreadSectionPlaceholder(t));
  for (const TReportPlugin& plugin : PluginsFor(this, true))
    sections_->Add(plugin.name, std::string(">> ") + kCalculatedSoon);
  if (CpuRegs() && hasContext_) sections_->Add("cpu registers", std::string(">> ") + kCalculatedSoon);
  if (StackDump() && hasContext_) sections_->Add("stack dump", std::string(">> ") + kCalculatedSoon);
  if (ShowDisAsm() && ReportHooks().disassemble)
    sections_->Add("disassembling", std::string(">> ") + kCalculatedSoon);
  EndReportChange();
  if (GetCurrentThreadId() == HandlingThreadId() && !IsProcessBlocked(250)) StartCompletion();
}

void TIKXException::SetSection(const std::string& title, const std::string& content) {
  const std::string value = TrimReportValue(content);
  // The outer bracket makes the callbacks run after the list's lock is
  // released (they read both lists).
  BeginReportChange();
  if (value.empty()) {
    sections_->DeleteByName(title);
  } else {
    sections_->SetContent(title, value);
  }
  EndReportChange();
}

std::string TIKXException::ThreadReport(TReportThread& t, uint32_t& crc1, uint32_t& crc2, bool& programCode) {
  uint32_t frames[TCapturedStack::kMaxFrames];
  int count = 0;
  if (t.crashed && hasPrepared_) {
    count = prepared_.frameCount;
    for (int i = 0; i < count; ++i) frames[i] = prepared_.frames[i];
    if (count > 0 && t.address) frames[0] = t.address;
  } else if (t.crashed) {
    count = WalkFrameChain(t.address, t.ebp, frames, TCapturedStack::kMaxFrames);
  } else if (t.id == GetCurrentThreadId()) {
    // The reporting thread itself (a process trace): its own chain.
    auto* frame = static_cast<uint32_t*>(__builtin_frame_address(0));
    t.address = reinterpret_cast<uint32_t>(__builtin_return_address(0));
    t.haveContext = true;
    count = WalkFrameChain(t.address, frame[0], frames, TCapturedStack::kMaxFrames);
  } else if (HANDLE h = OpenThread(THREAD_SUSPEND_RESUME | THREAD_GET_CONTEXT | THREAD_QUERY_INFORMATION, FALSE,
                                   t.id)) {
    // Nothing that allocates runs while the thread is held.
    if (SuspendThread(h) != static_cast<DWORD>(-1)) {
      CONTEXT ctx{};
      ctx.ContextFlags = CONTEXT_CONTROL | CONTEXT_INTEGER;
      if (GetThreadContext(h, &ctx)) {
        t.address = ctx.Eip;
        t.haveContext = true;
        count = WalkFrameChain(ctx.Eip, ctx.Ebp, frames, TCapturedStack::kMaxFrames);
      }
      ResumeThread(h);
    }
    CloseHandle(h);
  }
  if (count == 0) return ">> stack not accessible";
  std::vector<TCallStackEntry> entries;
  programCode = false;
  for (int i = 0; i < count; ++i) {
    if (abort_) break;
    TCallStackEntry e;
    const TCodeLocation loc = DescribeCodeAddress(frames[i]);
    e.finalAddr = frames[i];
    e.module = loc.module;
    e.unit = loc.unit;
    e.function = loc.function;
    e.functionEntry = loc.entry;
    e.isTop = i == 0;
    programCode |= IsProgramCode(frames[i]);
    entries.push_back(e);
  }
  TCallStackOptions options;
  options.hideUglyItems = HideUglyItems();
  options.showRelAddrs = ShowRelAddrs();
  options.showRelLines = ShowRelLines();
  const TCallStackText text = ComposeCallStack(entries, options);
  if (t.crashed) crashFunctionEntry_ = text.functionEntry;
  crc1 = text.checksum1;
  crc2 = text.checksum2;
  return text.text;
}

void TIKXException::StartCompletion() {
  if (reportThread_ || complete_) return;
  reportThread_ = CreateThread(nullptr, 0, CompletionThread, this, CREATE_SUSPENDED, &reportThreadId_);
  if (!reportThread_) return;
  RegisterLibraryThread(reportThreadId_, "-");
  SetThreadPriority(reportThread_, THREAD_PRIORITY_ABOVE_NORMAL);
  ResumeThread(reportThread_);
}

DWORD WINAPI TIKXException::CompletionThread(void* self) {
  auto* e = static_cast<TIKXException*>(self);
  try {
    e->Complete();
  } catch (...) {
  }
  UnregisterLibraryThread(GetCurrentThreadId());
  return 0;
}

void TIKXException::WaitForCompletion() {
  if (complete_) return;
  // The please-wait box, with one step per section still to compute.
  const bool box = plWait_ && GetBoolSetting("PlWaitBox") && !IsProcessBlocked(0);
  if (box) {
    const std::string text = GetTextSetting("PlWaitText");
    plWait_->RemoveAreas();
    for (size_t i = 0; i < threads_.size() + 2; ++i) plWait_->AppendArea(text, 1);
    plWait_->OpenWindow(nullptr, false);
  }
  if (reportThread_ && GetCurrentThreadId() != reportThreadId_) {
    SetThreadPriority(reportThread_, THREAD_PRIORITY_HIGHEST);
    while (WaitForSingleObject(reportThread_, box ? 50 : INFINITE) == WAIT_TIMEOUT) {
      plWait_->SetActiveArea(sectionsDone_);
      plWait_->PumpMessages();
    }
  } else if (!reportThread_) {
    Complete();
  }
  if (box) plWait_->CloseWindow();
}

void TIKXException::Complete() {
  static thread_local bool busy = false;
  if (busy || complete_) return;
  busy = true;
  if (!ListThreads() && threads_.size() > 1) {
    BeginReportChange();
    for (size_t i = 1; i < threads_.size(); ++i) sections_->DeleteByName(threads_[i].title);
    threads_.resize(1);
    EndReportChange();
  }
  uint32_t all = 0;
  auto guarded = [&](const std::string& title, const char* step, auto compute) {
    if (abort_) return;
    std::string text;
    try {
      text = compute();
    } catch (...) {
      text = std::string(">> internal error in ") + step;
    }
    SetSection(title, text);
    ++sectionsDone_;
  };
  if (!threads_.empty()) {
    TReportThread& t = threads_[0];
    guarded(t.title, "GetThreadReport", [&] {
      bool program = false;
      std::string s = ThreadReport(t, checksums_[0], checksums_[1], program);
      all = checksums_[1];
      return s;
    });
  }
  if (hasContext_ && sections_->FindItem("cpu registers") >= 0)
    guarded("cpu registers", "GetCpuRegisters", [&] {
      const TCpuRegisters r{context_.Eax, context_.Ebx, context_.Ecx, context_.Edx, context_.Esi,
                            context_.Edi, context_.Eip, context_.Esp, context_.Ebp};
      return CpuRegistersText(r);
    });
  if (hasContext_ && sections_->FindItem("stack dump") >= 0)
    guarded("stack dump", "GetStackDump", [&] {
      std::string bytes;
      if (hasPrepared_ && prepared_.byteCount > 0 && prepared_.esp == context_.Esp)
        bytes.assign(reinterpret_cast<const char*>(prepared_.bytes), prepared_.byteCount);
      else
        bytes = ReadStackBytes(context_.Esp);
      return StackDumpText(context_.Esp, bytes);
    });
  if (sections_->FindItem("disassembling") >= 0)
    guarded("disassembling", "GetCleartextDisAsm", [&] {
      auto disassemble = ReportHooks().disassemble;
      return crashFunctionEntry_ && disassemble
                 ? disassemble(crashFunctionEntry_, c_.address, FormatDisAsm(), LimitDisAsm())
                 : std::string();
    });
  for (const TReportPlugin& plugin : PluginsFor(this, true))
    guarded(plugin.name, "plugin", [&] { return plugin.procedure(static_cast<IKXException*>(this)); });
  for (size_t i = 1; i < threads_.size() && !abort_; ++i) {
    TReportThread& t = threads_[i];
    guarded(t.title, "GetThreadReport", [&] {
      uint32_t c1 = 0, c2 = 0;
      bool program = false;
      std::string s = ThreadReport(t, c1, c2, program);
      if (program) all = CrcStepDword(all, c2);
      if (t.creatorThreadId && !s.empty() && s[0] != '>') {
        uint32_t ca = 0;
        DWORD ct = 0;
        const std::string creator = ThreadTitle(t.creatorThreadId, false, true, ca, ct);
        const size_t last = s.rfind("\r\n");
        if (last != std::string::npos)
          s.insert(last, "\r\n>> created by " + (creator.empty() ? std::string("?") : creator) + " at:");
      }
      return s;
    });
  }
  if (!abort_) {
    checksums_[2] = all;
    BeginReportChange();
    header_->SetContent("callstack crc", CallstackCrcText(checksums_[0], checksums_[1], checksums_[2]));
    complete_ = true;
    EndReportChange();
    if (ReportHooks().completed) ReportHooks().completed(this);
  }
  busy = false;
}

}  // namespace kestrix
