#include "crash/exception/win/fault_conversion_win32.h"

#include <psapi.h>

#include <atomic>
#include <cstring>
#include <mutex>

#include "crash/base/win/critical_section.h"

#include "crash/exception/fault_policy.h"
#include "crash/exception/system_exceptions.h"
#include "crash/exception/win/fault_rescue_win32.h"
#include "crash/exception/win/thread_fault_state_win32.h"

// The program's DWARF unwinder (libgcc): the frame description of a code
// address, or null when the unwinder does not know the address.
extern "C" const void* _Unwind_Find_FDE(void* pc, void* bases);

namespace kestrix {
namespace {

constexpr DWORD kThreadNameCode = 0x406D1388;
constexpr DWORD kStackOverflow = 0xC00000FD;

// The fault conversion's state: constant-initialized and without a
// destructor, since the vectored handler reads it until the process's end.
struct TFaultConversionState {
  // Written by Install/UninstallFaultConversion (start-up and shutdown).
  PVOID handler = nullptr;
  // Set once at start-up by the composition root.
  std::atomic<TThreadNameSink> nameSink{nullptr};
  std::atomic<TRaiseHook> raiseHook{nullptr};
  std::atomic<LPTOP_LEVEL_EXCEPTION_FILTER> keptFilter{nullptr};
  // Modules whose faults are the program's own (AddFaultConvertingModule,
  // at their start-up): appended under the lock, read without it by the
  // handler (an entry is written before the count that publishes it).
  static constexpr int kMaxModules = 64;
  TSlimLock modulesLock;
  HMODULE modules[kMaxModules] = {};
  std::atomic<int> moduleCount{0};
};
constinit TFaultConversionState g_state;

thread_local TRaiseRecord t_raise;

struct StackLimits {
  uint32_t low, high;
};

StackLimits CurrentStackLimits() {
  NT_TIB* tib = reinterpret_cast<NT_TIB*>(NtCurrentTeb());
  return {reinterpret_cast<uint32_t>(tib->StackLimit), reinterpret_cast<uint32_t>(tib->StackBase)};
}

TCodeOwner CodeOwner(uint32_t address) {
  MEMORY_BASIC_INFORMATION info;
  if (address < 0x10000 || !VirtualQuery(reinterpret_cast<void*>(address), &info, sizeof info) ||
      info.State != MEM_COMMIT || info.Type != MEM_IMAGE)
    return TCodeOwner::kNone;
  const auto module = static_cast<HMODULE>(info.AllocationBase);
  if (module == GetModuleHandleA(nullptr)) return TCodeOwner::kProgram;
  const int count = g_state.moduleCount.load(std::memory_order_acquire);
  for (int i = 0; i < count; ++i)
    if (g_state.modules[i] == module) return TCodeOwner::kProgram;
  return TCodeOwner::kOther;
}

bool HasUnwindInfo(uint32_t address) {
  void* bases[3] = {};
  return _Unwind_Find_FDE(reinterpret_cast<void*>(address), bases) != nullptr;
}

void ReassertFilter() {
  if (LPTOP_LEVEL_EXCEPTION_FILTER filter = g_state.keptFilter.load()) SetUnhandledExceptionFilter(filter);
}

[[noreturn]] __attribute__((noinline)) void ThrowFault() {
  const TFaultBlock* fault = fault_state::Block();
  throw EExternal(fault->record, fault->context, fault->stack);
}

bool IsThreadNameRequest(const EXCEPTION_RECORD& rec) {
  return rec.ExceptionCode == kThreadNameCode && rec.NumberParameters >= 3 && rec.ExceptionInformation[0] == 0x1000 &&
         (rec.NumberParameters < 4 || rec.ExceptionInformation[3] == 0);
}

void RecordThreadName(const EXCEPTION_RECORD& rec) {
  TThreadNameSink sink = g_state.nameSink.load();
  if (!sink) return;
  DWORD id = static_cast<DWORD>(rec.ExceptionInformation[2]);
  if (id == static_cast<DWORD>(-1)) id = GetCurrentThreadId();
  char name[256] = {};
  SIZE_T got = 0;
  ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<LPCVOID>(rec.ExceptionInformation[1]), name,
                    sizeof name - 1, &got);
  // Read up to the end of the readable part.
  if (got == 0) {
    for (size_t i = 0; i < sizeof name - 1; ++i)
      if (!ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<const char*>(rec.ExceptionInformation[1]) + i,
                             name + i, 1, nullptr) ||
          name[i] == 0)
        break;
  }
  name[sizeof name - 1] = 0;
  sink(id, name);
}

LONG CALLBACK VectoredHandler(EXCEPTION_POINTERS* info) {
  EXCEPTION_RECORD* rec = info->ExceptionRecord;
  CONTEXT* ctx = info->ContextRecord;
  if (IsThreadNameRequest(*rec)) {
    RecordThreadName(*rec);
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  if (!IsProcessorFault(rec->ExceptionCode)) {
    ReassertFilter();
    return EXCEPTION_CONTINUE_SEARCH;
  }
  const uint32_t state = fault_state::Read();
  TFaultBlock* block = fault_state::Block();
  if (!block) return EXCEPTION_CONTINUE_SEARCH;
  TFaultFacts f;
  f.code = rec->ExceptionCode;
  f.noncontinuable = rec->ExceptionFlags & EXCEPTION_NONCONTINUABLE;
  f.inHandler = state & fault_state::kInHandler;
  f.inRescue = state & fault_state::kInRescue;
  f.throwInFlight = (state & fault_state::kDepthMask) || (state & fault_state::kConverting);
  f.firstPending = state & fault_state::kFirstPending;
  // The record comes first, so that a fault in the rest of this handler
  // reports this one.
  const bool keepsFirst = f.firstPending || f.inHandler || f.inRescue;
  if (!keepsFirst) KeepFault(*block, *rec, *ctx);
  fault_state::Write(state | fault_state::kInHandler);
  // A fault in the stack probe is decided as one in the function that
  // called it.
  CONTEXT probeCaller;
  const bool inProbe = StepOutOfStackProbe(*ctx, probeCaller);
  const CONTEXT& at = inProbe ? probeCaller : *ctx;
  f.owner = CodeOwner(at.Eip);
  const fault_state::TStackBounds bounds = fault_state::StackBounds();
  f.stackUsable = at.Esp >= bounds.end + 4 && at.Esp <= bounds.top;
  f.stackRoom = f.stackUsable ? at.Esp - bounds.end : 0;
  if (f.owner == TCodeOwner::kProgram && !f.inHandler && !f.throwInFlight)
    f.unwindInfo = HasUnwindInfo(inProbe ? at.Eip - 1 : at.Eip);
  TFaultAction action = DecideFault(f);
  // Whether this is a thread of the library matters only for a report.
  if (action != TFaultAction::kPass && action != TFaultAction::kConvert) {
    const TFaultSinks& sinks = FaultSinks();
    f.libraryThread = (state & fault_state::kHandlingMask) ||
                      (sinks.isLibraryThread && sinks.isLibraryThread(GetCurrentThreadId()));
    action = DecideFault(f);
  }
  switch (action) {
    case TFaultAction::kPass:
      fault_state::Write(state);
      ReassertFilter();
      return EXCEPTION_CONTINUE_SEARCH;
    case TFaultAction::kConvert: {
      CaptureFaultStack(*block);
      uint32_t next = state | fault_state::kConverting | fault_state::kFirstPending;
      if (f.code == kStackOverflow) next |= fault_state::kGuardSpent;
      fault_state::Write(next);
      // Continue in ThrowFault as if the faulting instruction had called it:
      // the unwinder then finds the faulting function through the return
      // address (one byte into the instruction; for the stack probe, the
      // return address into its caller).
      const DWORD returnAddress = inProbe ? at.Eip : ctx->Eip + 1;
      if (inProbe) *ctx = probeCaller;
      ctx->Esp -= 4;
      *reinterpret_cast<DWORD*>(ctx->Esp) = returnAddress;
      ctx->Eip = reinterpret_cast<DWORD>(&ThrowFault);
      return EXCEPTION_CONTINUE_EXECUTION;
    }
    default:
      return RescueFault(*ctx, *block, action, !f.noncontinuable);
  }
}

}  // namespace

uint32_t CallInstructionBefore(uint32_t ret) {
  MEMORY_BASIC_INFORMATION info;
  if (ret < 0x10000 + 7 || !VirtualQuery(reinterpret_cast<void*>(ret - 7), &info, sizeof info) ||
      info.State != MEM_COMMIT || info.Type != MEM_IMAGE ||
      reinterpret_cast<uint32_t>(info.BaseAddress) + info.RegionSize < ret)
    return 0;
  const auto* c = reinterpret_cast<const uint8_t*>(ret);
  if (c[-5] == 0xE8) return ret - 5;                                              // call rel32
  if (c[-6] == 0xFF && (c[-5] == 0x15 || (c[-5] & 0xF8) == 0x90)) return ret - 6;  // call [abs32], [reg+disp32]
  if (c[-3] == 0xFF && (c[-2] & 0xF8) == 0x50) return ret - 3;                    // call [reg+disp8]
  if (c[-2] == 0xFF && ((c[-1] & 0xF8) == 0xD0 || ((c[-1] & 0xF8) == 0x10 && (c[-1] & 7) != 4 && (c[-1] & 7) != 5)))
    return ret - 2;  // call reg, call [reg]
  return 0;
}

void CaptureStack(uint32_t eip, uint32_t esp, uint32_t ebp, TCapturedStack& out, bool withBytes) {
  ResetCapturedStack(out);
  out.eip = eip;
  out.esp = esp;
  out.ebp = ebp;
  const StackLimits limits = CurrentStackLimits();
  out.frames[out.frameCount++] = eip;
  uint32_t frame = ebp;
  while (out.frameCount < TCapturedStack::kMaxFrames) {
    if (frame == 0) {
      out.complete = true;
      break;
    }
    if (frame < limits.low || frame + 8 > limits.high || (frame & 3) != 0) {
      out.complete = frame + 8 > limits.high;
      break;
    }
    const uint32_t* p = reinterpret_cast<const uint32_t*>(frame);
    const uint32_t next = p[0], ret = p[1];
    if (ret == 0) {
      out.complete = true;
      break;
    }
    out.frames[out.frameCount++] = ret;
    if (next <= frame) break;
    frame = next;
  }
  if (esp >= limits.low && esp < limits.high) {
    out.stackTop = limits.high;
    const uint32_t words = (limits.high - esp) / 4;
    out.wordCount = static_cast<int>(words < TCapturedStack::kMaxWords ? words : TCapturedStack::kMaxWords);
    std::memcpy(out.words, reinterpret_cast<const void*>(esp), out.wordCount * 4u);
  }
  if (withBytes && esp >= limits.low && esp < limits.high) {
    const uint32_t n = limits.high - esp < TCapturedStack::kMaxBytes ? limits.high - esp : TCapturedStack::kMaxBytes;
    std::memcpy(out.bytes, reinterpret_cast<const void*>(esp), n);
    out.byteCount = static_cast<int>(n);
  }
}

EExternal::EExternal(const EXCEPTION_RECORD& record, const CONTEXT& context, const TCapturedStack& stack)
    : KxException(SystemExceptionText(record)), record_(record), context_(context), stack_(stack) {
  record_.ExceptionRecord = nullptr;
}

std::string EExternal::ClassName() const { return SystemExceptionClassName(record_.ExceptionCode); }

std::string FormatAccessViolation(const EXCEPTION_RECORD& record) {
  const uint32_t codeAddress = reinterpret_cast<uint32_t>(record.ExceptionAddress);
  std::string moduleName;
  MEMORY_BASIC_INFORMATION info;
  if (VirtualQuery(record.ExceptionAddress, &info, sizeof info) && info.State == MEM_COMMIT &&
      info.AllocationBase) {
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(static_cast<HMODULE>(info.AllocationBase), path, MAX_PATH);
    if (n > 0 && n < MAX_PATH) {
      std::string full(path, n);
      size_t slash = full.find_last_of("\\/");
      moduleName = slash == std::string::npos ? full : full.substr(slash + 1);
    }
  }
  const bool write = record.NumberParameters >= 1 && record.ExceptionInformation[0] == 1;
  const uint32_t data = record.NumberParameters >= 2 ? static_cast<uint32_t>(record.ExceptionInformation[1]) : 0;
  return FormatAccessViolationText(codeAddress, moduleName, write, data);
}

std::string SystemExceptionText(const EXCEPTION_RECORD& record) {
  const bool av = record.ExceptionCode == EXCEPTION_ACCESS_VIOLATION;
  return SystemExceptionMessage(record.ExceptionCode, av ? FormatAccessViolation(record) : std::string());
}

void InstallFaultConversion() {
  fault_state::Initialize();
  fault_state::ArmStackGuard();
  fault_state::SetArmNewThreads(true);
  if (!g_state.handler) g_state.handler = AddVectoredExceptionHandler(1, VectoredHandler);
}

void RemoveFaultConversion() {
  fault_state::SetArmNewThreads(false);
  g_state.keptFilter = nullptr;
  if (g_state.handler) RemoveVectoredExceptionHandler(g_state.handler);
  g_state.handler = nullptr;
}

void KeepUnhandledFilter(LPTOP_LEVEL_EXCEPTION_FILTER filter) { g_state.keptFilter = filter; }

TThreadHandlingMark::TThreadHandlingMark() {
  const uint32_t state = fault_state::Read();
  if ((state & fault_state::kHandlingMask) != fault_state::kHandlingMask)
    fault_state::Write(state + fault_state::kHandlingUnit);
}

TThreadHandlingMark::~TThreadHandlingMark() {
  const uint32_t state = fault_state::Read();
  if (state & fault_state::kHandlingMask) fault_state::Write(state - fault_state::kHandlingUnit);
}

bool ThreadInHandling() { return fault_state::Read() & fault_state::kHandlingMask; }
int ThreadHandlingDepth() {
  return static_cast<int>((fault_state::Read() & fault_state::kHandlingMask) / fault_state::kHandlingUnit);
}

uint32_t StackRoom() {
  const uint32_t sp = reinterpret_cast<uint32_t>(__builtin_frame_address(0));
  const fault_state::TStackBounds bounds = fault_state::StackBounds();
  return sp > bounds.end ? sp - bounds.end : 0;
}

void AddFaultConvertingModule(HMODULE module) {
  std::lock_guard<TSlimLock> lock(g_state.modulesLock);
  const int count = g_state.moduleCount.load(std::memory_order_relaxed);
  for (int i = 0; i < count; ++i)
    if (g_state.modules[i] == module) return;
  // More modules than that carrying the library is not a real program: the
  // rest count as other code.
  if (count == TFaultConversionState::kMaxModules) return;
  g_state.modules[count] = module;
  g_state.moduleCount.store(count + 1, std::memory_order_release);
}

void SetThreadNameSink(TThreadNameSink sink) { g_state.nameSink = sink; }
void SetRaiseHook(TRaiseHook hook) { g_state.raiseHook = hook; }

const TRaiseRecord* FindRaiseRecord(const void* object, const std::type_info* type) {
  if (!t_raise.object) return nullptr;
  if (object) return t_raise.object == object ? &t_raise : nullptr;
  return type && t_raise.type && *type == *t_raise.type ? &t_raise : nullptr;
}

void ClearRaiseRecord() { t_raise.object = nullptr; }

}  // namespace kestrix

// Every C++ throw passes here (the library's link options wrap __cxa_throw,
// __cxa_rethrow and __cxa_begin_catch): the thread counts its throws in
// flight, so that a fault while one is unwound is never thrown on again.
extern "C" [[noreturn]] void __real___cxa_throw(void* object, std::type_info* type, void (*destroy)(void*));
extern "C" [[noreturn]] void __real___cxa_rethrow();
extern "C" void* __real___cxa_begin_catch(void* header);

namespace {

void CountThrow() {
  namespace fs = kestrix::fault_state;
  const uint32_t state = fs::Read();
  const uint32_t depth = (state & fs::kDepthMask) + 1;
  fs::Write((state & ~(fs::kDepthMask | fs::kConverting)) | (depth & fs::kDepthMask));
}

}  // namespace

extern "C" [[noreturn]] __attribute__((noinline)) void __wrap___cxa_throw(void* object, std::type_info* type,
                                                                          void (*destroy)(void*)) {
  CountThrow();
  kestrix::TRaiseRecord& r = kestrix::t_raise;
  r.object = object;
  r.type = type;
  auto* frame = static_cast<uint32_t*>(__builtin_frame_address(0));
  // The throw site is the call itself: after a call that never returns the
  // return address may already lie in the next function.
  const uint32_t ret = reinterpret_cast<uint32_t>(__builtin_return_address(0));
  const uint32_t call = kestrix::CallInstructionBefore(ret);
  kestrix::CaptureStack(call ? call : ret - 1, reinterpret_cast<uint32_t>(frame + 2), frame[0], r.stack, false);
  if (kestrix::TRaiseHook hook = kestrix::g_state.raiseHook.load()) hook(object, type, r.stack);
  __real___cxa_throw(object, type, destroy);
}

extern "C" [[noreturn]] void __wrap___cxa_rethrow() {
  CountThrow();
  __real___cxa_rethrow();
}

extern "C" void* __wrap___cxa_begin_catch(void* header) {
  namespace fs = kestrix::fault_state;
  uint32_t state = fs::Read();
  uint32_t depth = state & fs::kDepthMask;
  if (depth) --depth;
  state = (state & ~fs::kDepthMask) | depth;
  if (!depth) state &= ~(fs::kFirstPending | fs::kConverting);
  fs::Write(state);
  // Caught: the thread goes on from here, so a stack guard spent by an
  // overflow is put back.
  if (state & fs::kGuardSpent) fs::RestoreStackGuard();
  return __real___cxa_begin_catch(header);
}
