// The bug report of an exception object: header items, thread sections and
// the other sections, the background completion and the checksums.
#include <cstdio>
#include <memory>

#include "crash/exception/system_exceptions.h"
#include "crash/report/call_stack_text.h"
#include "crash/report/report_header.h"
#include "crash/report/report_text.h"
#include "crash/report/thread_sections.h"
#include "crash/report/win/code_locations_win32.h"
#include "crash/report/win/kx_exception_object.h"
#include "crash/report/win/live_snapshot_win32.h"
#include "crash/report/win/report_plugins.h"
#include "crash/sysinfo/win/system_info_win32.h"
#include "crash/threads/win/library_threads.h"
#include "crash/threads/win/thread_table_win32.h"
#include "kestrix/kestrix.h"

namespace kestrix {
namespace {

constexpr char kCalculatedSoon[] = "will be calculated soon";
constexpr char kInternalError[] = ">> internal error in ";

// Brackets a report change, ended also when the change fails.
class TChangeBracket {
 public:
  explicit TChangeBracket(IKXChangeSink& sink) : sink_(sink) { sink_.BeginReportChange(); }
  ~TChangeBracket() { sink_.EndReportChange(); }
  TChangeBracket(const TChangeBracket&) = delete;
  TChangeBracket& operator=(const TChangeBracket&) = delete;

 private:
  IKXChangeSink& sink_;
};

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

#define KX_TEXT(x) #x
#define KX_NUMBER(x) KX_TEXT(x)

// The toolchain that built the library (and with it the program):
// "GCC 12.2.0 (12-posix), mingw-w64 10.0, 32-bit".
std::string CompilerText() {
#if defined(__clang__)
  std::string text = "Clang " __clang_version__;
#elif defined(__GNUC__)
  const std::string number =
      KX_NUMBER(__GNUC__) "." KX_NUMBER(__GNUC_MINOR__) "." KX_NUMBER(__GNUC_PATCHLEVEL__);
  std::string text = "GCC " + number;
  if (number != __VERSION__) text += " (" __VERSION__ ")";
#else
  std::string text = "unknown C++ compiler";
#endif
#if defined(__MINGW64_VERSION_MAJOR)
  text += ", mingw-w64 " KX_NUMBER(__MINGW64_VERSION_MAJOR) "." KX_NUMBER(__MINGW64_VERSION_MINOR);
#elif defined(__MINGW32_MAJOR_VERSION)
  text += ", MinGW " KX_NUMBER(__MINGW32_MAJOR_VERSION) "." KX_NUMBER(__MINGW32_MINOR_VERSION);
#endif
  return text + (sizeof(void*) == 4 ? ", 32-bit" : ", 64-bit");
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

namespace {

// The header's facts of this process, for the exception's module.
class TWinHeaderFacts final : public IHeaderFacts {
 public:
  explicit TWinHeaderFacts(TIKXException* e)
      : e_(e), exe_(GetModuleHandleA(nullptr)), own_(e->Module()), exePath_(ModulePath(exe_)),
        ownPath_(ModulePath(own_ ? own_ : exe_)) {}

  std::string DateTime() override { return DateTimeText(); }
  std::string ComputerName() override { return ComputerNameText(); }
  std::string WtsClientName() override { return RemoteClientName(); }
  std::string UserName() override { return UserNameText(); }
  std::string RegisteredOwner() override { return RegisteredOwnerText(); }
  std::string OperatingSystem() override { return OsVersionText(); }
  std::string SystemLanguage() override { return OsLanguageText(); }
  std::string SystemUpTime() override { return SystemUpTimeText(); }
  std::string ProgramUpTime() override { return ProgramUpTimeText(); }
  int ProcessorCount() override { return CountProcessors(); }
  std::string ProcessorName() override { return CpuNameText(); }
  std::string PhysicalMemory() override { return PhysicalMemoryText(); }
  std::string SystemResources() override { return QueryOsInfo().Win9x ? FreeResourcesText() : std::string(); }
  std::string FreeDiskSpace() override { return FreeDiskSpaceText(); }
  std::string DisplayMode() override { return DisplayModeText(); }
  uint32_t ProcessId() override { return GetCurrentProcessId(); }
  std::string AllocatedMemory() override { return AllocatedMemoryText(); }
  std::string CommandLineWithParameters() override {
    return HasParameters() ? std::string(GetCommandLineA()) : std::string();
  }
  std::string ExecutableName() override { return BaseName(exePath_); }
  std::string OtherModuleName() override { return OtherModule() ? BaseName(ownPath_) : std::string(); }
  std::string ModuleDateTime() override { return FileDateTimeText(OtherModule() ? ownPath_ : exePath_); }
  std::string Version() override {
    std::string version = e_->VersionText();
    uint32_t ms = 0, ls = 0;
    if (version.empty() && ModuleFileVersion(own_ ? own_ : exe_, ms, ls) && (ms != 0 || ls != 0))
      version = FileVersionText(ms, ls);
    // Only while the module's file exists.
    if (GetFileAttributesA(ownPath_.c_str()) == INVALID_FILE_ATTRIBUTES) return std::string();
    return version;
  }
  std::string BdeVersion() override {
    // Programs that load the database engine (idapi32.dll) name its version.
    HMODULE bde = GetModuleHandleA("idapi32.dll");
    uint32_t ms = 0, ls = 0;
    if (!bde || !ModuleFileVersion(bde, ms, ls) || (ms == 0 && ls == 0)) return std::string();
    return FileVersionText(ms, ls);
  }
  std::string CompiledWith() override { return CompilerText(); }
  std::string KestrixVersion() override { return kKestrixVersion; }
  std::vector<std::pair<std::string, std::function<std::string()>>> PluginItems() override {
    std::vector<std::pair<std::string, std::function<std::string()>>> items;
    for (const TReportPlugin& plugin : PluginsFor(e_, false)) {
      TPluginProcedure procedure = plugin.procedure;
      IKXException* exception = e_;
      items.emplace_back(plugin.name, [procedure, exception] { return procedure(exception); });
    }
    return items;
  }

 private:
  bool OtherModule() const { return own_ && own_ != exe_; }

  TIKXException* e_;
  HMODULE exe_, own_;
  std::string exePath_, ownPath_;
};

}  // namespace

void TIKXException::PrepareHeader() {
  {
    std::lock_guard<TCriticalSectionLock> guard(lock_);
    if (headerPrepared_ || !filter_.createBugReport) return;
    headerPrepared_ = true;
  }

  BeginReportChange();
  TWinHeaderFacts facts(this);
  const THeaderItems items = CollectHeaderItems(facts);
  for (const auto& [name, value] : items.items) doc_.Header()->Add(name, value);
  doc_.Header()->SetInsertionIndex(items.insertionIndex);
  if (exceptionNumber_ == 0) exceptionNumber_ = NextExceptionNumber();  // a hidden one that is reported
  for (const auto& [name, value] : ExceptionHeaderItems(kCalculatedSoon, exceptionNumber_, c_.type == etFreeze,
                                                        ExceptionClassName(), ExceptionMessageText()))
    doc_.Header()->Add(name, value);
  // The additional fields (AddFields) at the insertion index; a name the
  // header has already replaces that item's value in place.
  try {
    KXPtr<IKXFields> extra = AdditionalFields()->Clone();
    for (int i = 0; i < extra->ItemCount(); ++i)
      if (!extra->Name(i).empty()) doc_.Header()->SetContent(extra->Name(i), extra->ContentAt(i));
  } catch (...) {
    // Like a failing item: left out.
  }
  EndReportChange();
}

// --- sections ---------------------------------------------------------------

void TIKXException::PrepareThreads() {
  TThreadListing listing;
  listing.mainThreadId = MainThreadId();
  listing.exceptionThreadId = c_.threadId;
  listing.freeze = c_.type == etFreeze;
  listing.listThreads = ListThreads();
  listing.listOwnThreads = c_.listOwnThreads;
  listing.isLibraryThread = [](uint32_t id) { return IsLibraryThread(id); };
  std::vector<uint32_t> system;
  if (listing.listThreads)
    for (DWORD id : ThreadIds()) system.push_back(id);
  const std::vector<uint32_t> order = ThreadsToList(system, listing);
  snapshot_ = std::make_unique<TLiveSnapshot>(order, listing.freeze ? 0 : c_.threadId);
  for (const TListedThread& listed : ListReportThreads(*snapshot_, order, listing)) {
    TReportThread t;
    t.id = listed.id;
    t.title = listed.title;
    t.crashed = listed.crashed;
    t.exceptionLocation = t.crashed;
    if (listed.facts) {
      t.creatorAddress = listed.facts->creatorAddress;
      t.creatorThreadId = listed.facts->creatorThreadId;
    }
    if (t.crashed) {
      t.address = c_.address;
      t.esp = hasContext_ ? context_.Esp : c_.stackPointer;
      t.ebp = hasContext_ ? context_.Ebp : c_.framePointer;
      t.haveContext = hasContext_ || hasPrepared_ || t.esp != 0;
      if (listed.facts && listed.facts->haveRegisters) t.handlingEsp = listed.facts->registers.esp;
    } else if (t.id == GetCurrentThreadId()) {
      t.address = reinterpret_cast<uint32_t>(__builtin_return_address(0));
      t.haveContext = true;
    } else if (listed.facts && listed.facts->haveRegisters) {
      t.address = listed.facts->registers.eip;
      t.esp = listed.facts->registers.esp;
      t.ebp = listed.facts->registers.ebp;
      t.stackTop = listed.facts->stackBase;
      t.haveContext = true;
    }
    threads_.push_back(t);
  }
}

std::string TIKXException::ThreadSectionPlaceholder(const TReportThread& t) {
  const std::string location = t.haveContext || t.crashed
                                   ? FormatCodeAddress(t.address, ShowRelAddrs(), ShowRelLines())
                                   : std::string();
  if (t.haveContext) return location + "\r\n>> stack " + kCalculatedSoon;
  if (t.crashed) return ">> stack not accessible, exception location: \r\n" + location;
  return ">> stack not accessible";
}

void TIKXException::PrepareSections() {
  {
    std::lock_guard<TCriticalSectionLock> guard(lock_);
    if (sectionsPrepared_ || !filter_.createBugReport) return;
    sectionsPrepared_ = true;
  }

  BeginReportChange();
  bool threadsListed = true;
  try {
    PrepareThreads();
  } catch (...) {
    threadsListed = false;
  }
  for (const TReportThread& t : threads_) doc_.Sections()->Add(t.title, ThreadSectionPlaceholder(t));
  // The threads listed before the failure keep their sections.
  if (!threadsListed) doc_.Sections()->Add("threads", std::string(kInternalError) + "PrepareThreads");
  for (const TReportPlugin& plugin : PluginsFor(this, true))
    doc_.Sections()->Add(plugin.name, std::string(">> ") + kCalculatedSoon);
  if (CpuRegs() && hasContext_) doc_.Sections()->Add("cpu registers", std::string(">> ") + kCalculatedSoon);
  if (StackDump() && hasContext_) doc_.Sections()->Add("stack dump", std::string(">> ") + kCalculatedSoon);
  if (ShowDisAsm() && ReportHooks().disassemble)
    doc_.Sections()->Add("disassembling", std::string(">> ") + kCalculatedSoon);
  EndReportChange();
  if (GetCurrentThreadId() == HandlingThreadId() && !IsProcessBlocked(250)) StartCompletion();
}

void TIKXException::MarkUnfinishedSections(const std::string& note) {
  std::vector<std::string> waiting;
  doc_.Sections()->Lock();
  for (int i = 0; i < doc_.Sections()->ItemCount(); ++i)
    if (doc_.Sections()->ContentAt(i).find(kCalculatedSoon) != std::string::npos) waiting.push_back(doc_.Sections()->Name(i));
  doc_.Sections()->Unlock();
  for (const std::string& name : waiting) SetSection(name, note);
}

namespace {

// The call-stack entry of a code address; below the top a frame is a return
// address, whose call is one byte back.
TCallStackEntry StackEntryAt(uint32_t address, bool top, bool relativeLines) {
  TCallStackEntry e;
  const TCodeLocation loc = DescribeCodeAddress(top ? address : address - 1);
  e.finalAddr = address;
  e.module = loc.module;
  e.unit = loc.unit;
  e.function = loc.function;
  e.functionEntry = loc.entry;
  e.absLine = loc.line;
  e.line = loc.line > 0 && loc.entryLine > 0 && relativeLines ? loc.line - loc.entryLine : loc.line;
  e.isTop = top;
  return e;
}

}  // namespace

std::string TIKXException::ThreadReport(TReportThread& t, uint32_t& crc1, uint32_t& crc2, bool& programCode) {
  if (ReportHooks().traceThread) {
    TThreadStackRequest r;
    r.creator = t.creatorAddress;
    r.hideUglyItems = HideUglyItems();
    r.showRelAddrs = ShowRelAddrs();
    r.showRelLines = ShowRelLines();
    r.abort = &abort_;
    if (t.crashed) {
      r.captured = hasPrepared_ ? &prepared_ : nullptr;
      r.handlingStackPointer = t.handlingEsp;
      r.address = t.address;
      r.esp = t.esp;
      r.ebp = t.ebp;
      r.exception = true;
      r.external = hasContext_;
    } else if (t.id == GetCurrentThreadId()) {
      r.ownThread = true;
    } else {
      r.stackCopy = snapshot_->StackCopy(t.id);
      r.address = t.address;
      r.esp = t.esp;
      r.ebp = t.ebp;
      r.stackTop = t.stackTop;
    }
    TThreadStackResult result;
    if ((r.captured || r.esp || r.ownThread) && ReportHooks().traceThread(r, result)) {
      if (t.crashed) crashFunctionEntry_ = result.functionEntry;
      crc1 = result.checksum1;
      crc2 = result.checksum2;
      programCode = result.programCode;
      return result.text;
    }
    // Not traced: the frame chain below.
  }
  return FrameChainReport(t, crc1, crc2, programCode);
}

std::string TIKXException::FrameChainReport(TReportThread& t, uint32_t& crc1, uint32_t& crc2, bool& programCode) {
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
  } else if (t.haveContext) {
    count = WalkFrameChain(t.address, t.ebp, frames, TCapturedStack::kMaxFrames);
  }
  if (count == 0) return ">> stack not accessible";
  std::vector<TCallStackEntry> entries;
  programCode = false;
  for (int i = 0; i < count; ++i) {
    if (abort_) break;
    TCallStackEntry e = StackEntryAt(frames[i], i == 0, ShowRelLines());
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
  return text.text + CreatorLine(t);
}

// The code that created the thread (recorded by the thread hooks), as the
// section's last line: a line break and the call-stack line of the creator
// address; empty without one.
std::string TIKXException::CreatorLine(const TReportThread& t) {
  if (!t.creatorAddress || !t.creatorThreadId) return std::string();
  const TCallStackEntry e = StackEntryAt(t.creatorAddress, false, ShowRelLines());
  TCallStackOptions options;
  options.showRelAddrs = ShowRelAddrs();
  options.showRelLines = ShowRelLines();
  options.hasCreator = true;
  const std::string line = ComposeCallStack({e}, options).text;
  return line.empty() ? line : "\r\n" + line;
}

// Inserts ">> created by <creator's title> at:" before a section's creator
// line: the creator's title as its own section has it (most threads come
// from a listed thread), else made from the snapshot.
void TIKXException::MarkCreator(const TReportThread& t, std::string& s) {
  if (!t.creatorAddress || !t.creatorThreadId) return;
  for (const TReportThread& other : threads_)
    if (other.id == t.creatorThreadId) return kestrix::MarkCreator(s, other.title);
  kestrix::MarkCreator(s, CreatorTitle(*snapshot_, t.creatorThreadId));
}

void TIKXException::StartCompletion() {
  if (reportThread_ || doc_.Complete()) return;
  reportThread_.Reset(CreateThread(nullptr, 0, CompletionThread, this, CREATE_SUSPENDED, &reportThreadId_));
  if (!reportThread_) return;
  RegisterLibraryThread(reportThreadId_, "-");
  SetThreadPriority(reportThread_.Get(), THREAD_PRIORITY_ABOVE_NORMAL);
  ResumeThread(reportThread_.Get());
}

DWORD WINAPI TIKXException::CompletionThread(void* self) {
  auto* e = static_cast<TIKXException*>(self);
  e->GuardedComplete();
  UnregisterLibraryThread(GetCurrentThreadId());
  return 0;
}

int TIKXException::SectionsToCompute() {
  int n = static_cast<int>(ListThreads() || threads_.empty() ? threads_.size() : 1);
  if (hasContext_ && doc_.Sections()->FindItem("cpu registers") >= 0) ++n;
  if (hasContext_ && doc_.Sections()->FindItem("stack dump") >= 0) ++n;
  n += static_cast<int>(PluginsFor(this, true).size());
  return n > 0 ? n : 1;
}

void TIKXException::SectionDone() {
  ++sectionsDone_;
  // Computed in the waiting caller's thread: the box moves on here.
  if (plWaitHere_ == GetCurrentThreadId()) {
    try {
      plWait_->SetActiveArea(sectionsDone_);
      plWait_->PumpMessages();
    } catch (...) {
      // The box is no part of the report: without it the report goes on.
      plWaitHere_ = 0;
    }
  }
}

void TIKXException::WaitForCompletion() {
  if (doc_.Complete()) return;
  // The please-wait box, with one step per section to compute. The box is
  // no part of the report: when it fails, the report goes on without it.
  bool box = plWait_ && GetBoolSetting("PlWaitBox") && !IsProcessBlocked(0);
  if (box) try {
      const std::string text = GetTextSetting("PlWaitText");
      plWait_->RemoveAreas();
      for (int i = SectionsToCompute(); i > 0; --i) plWait_->AppendArea(text, 1);
      plWait_->OpenWindow(nullptr, false);
      plWait_->SetActiveArea(sectionsDone_);
    } catch (...) {
      box = false;
    }
  if (reportThread_ && GetCurrentThreadId() != reportThreadId_) {
    SetThreadPriority(reportThread_.Get(), THREAD_PRIORITY_HIGHEST);
    while (WaitForSingleObject(reportThread_.Get(), box ? 50 : INFINITE) == WAIT_TIMEOUT) try {
        plWait_->SetActiveArea(sectionsDone_);
        plWait_->PumpMessages();
      } catch (...) {
        box = false;
      }
  } else if (!reportThread_) {
    if (box) plWaitHere_ = GetCurrentThreadId();
    GuardedComplete();
    plWaitHere_ = 0;
  }
  if (box) try {
      plWait_->CloseWindow();
    } catch (...) {
      // The box is no part of the report: nothing to record.
    }
}

void TIKXException::GuardedComplete() {
  try {
    Complete();
  } catch (...) {
    // Sections still waiting for their text say so; the report is final
    // all the same, so that nobody waits for it.
    try {
      FailUnfinishedSections("Complete");
    } catch (...) {
      // Not even that could be written: the sections stay as they are.
    }
    doc_.SetComplete();
  }
}

void TIKXException::FailUnfinishedSections(const char* phase) {
  TChangeBracket change(doc_);
  KXPtr<IKXFields> sections = doc_.Sections()->Clone();
  const std::string soon = kCalculatedSoon;
  for (int i = 0; i < sections->ItemCount(); ++i) {
    std::string content = sections->ContentAt(i);
    if (content.size() < soon.size() || content.compare(content.size() - soon.size(), soon.size(), soon) != 0)
      continue;
    // ">> stack will be calculated soon" or ">> will be calculated soon":
    // the lines above it (an exception location) stay.
    const size_t marker = content.rfind(">> ");
    content = content.substr(0, marker == std::string::npos ? 0 : marker) + kInternalError + phase;
    doc_.Sections()->SetContent(sections->Name(i), content);
  }
}

void TIKXException::Complete() {
  static thread_local bool busy = false;
  if (busy || doc_.Complete()) return;
  busy = true;
  struct TIdle {
    ~TIdle() { busy = false; }
  } idle;
  uint32_t all = 0;
  bool computed = false;
  try {
    all = ComputeSections();
    computed = true;
  } catch (...) {
    // Sections still waiting for their text say that it failed; the
    // checksums stay "will be calculated soon" (no duplicate merging).
    FailUnfinishedSections("ComputeSections");
  }
  if (abort_) return;
  {
    TChangeBracket change(doc_);
    if (computed) {
      checksums_[2] = all;
      doc_.Header()->SetContent("callstack crc", CallstackCrcText(checksums_[0], checksums_[1], checksums_[2]));
    }
    doc_.SetComplete();
  }
  if (ReportHooks().completed) try {
      ReportHooks().completed(this);
    } catch (...) {
      // What follows completion (the handlers' next round) is no part of
      // the report, which is complete: nothing to record there.
    }
}

uint32_t TIKXException::ComputeSections() {
  if (!ListThreads() && threads_.size() > 1) {
    BeginReportChange();
    for (size_t i = 1; i < threads_.size(); ++i) doc_.Sections()->DeleteByName(threads_[i].title);
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
      text = std::string(kInternalError) + step;
    }
    SetSection(title, text);
    SectionDone();
  };
  if (!threads_.empty()) {
    TReportThread& t = threads_[0];
    guarded(t.title, "GetThreadReport", [&] {
      bool program = false;
      std::string s = ThreadReport(t, checksums_[0], checksums_[1], program);
      all = checksums_[1];
      MarkCreator(t, s);
      return s;
    });
  }
  if (hasContext_ && doc_.Sections()->FindItem("cpu registers") >= 0)
    guarded("cpu registers", "GetCpuRegisters", [&] {
      const TCpuRegisters r{context_.Eax, context_.Ebx, context_.Ecx, context_.Edx, context_.Esi,
                            context_.Edi, context_.Eip, context_.Esp, context_.Ebp};
      return CpuRegistersText(r);
    });
  if (hasContext_ && doc_.Sections()->FindItem("stack dump") >= 0)
    guarded("stack dump", "GetStackDump", [&] {
      std::string bytes;
      if (hasPrepared_ && prepared_.byteCount > 0 && prepared_.esp == context_.Esp)
        bytes.assign(reinterpret_cast<const char*>(prepared_.bytes), prepared_.byteCount);
      else
        bytes = ReadStackBytes(context_.Esp);
      return StackDumpText(context_.Esp, bytes);
    });
  if (doc_.Sections()->FindItem("disassembling") >= 0)
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
      MarkCreator(t, s);
      return s;
    });
  }
  return all;
}

}  // namespace kestrix
