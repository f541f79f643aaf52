#include "crash/exception/win/fault_conversion_win32.h"

#include <psapi.h>

#include <atomic>
#include <cstring>
#include <mutex>
#include <vector>

#include "crash/exception/system_exceptions.h"

namespace kestrix {
namespace {

constexpr DWORD kThreadNameCode = 0x406D1388;

PVOID g_handler = nullptr;
std::atomic<TThreadNameSink> g_nameSink{nullptr};
std::atomic<TRaiseHook> g_raiseHook{nullptr};
std::mutex g_modulesMutex;
std::vector<HMODULE> g_modules;

thread_local TRaiseRecord t_raise;
thread_local EXCEPTION_RECORD t_faultRecord;
thread_local CONTEXT t_faultContext;
thread_local TCapturedStack t_faultStack;

struct StackLimits {
  uint32_t low, high;
};

StackLimits CurrentStackLimits() {
  NT_TIB* tib = reinterpret_cast<NT_TIB*>(NtCurrentTeb());
  return {reinterpret_cast<uint32_t>(tib->StackLimit), reinterpret_cast<uint32_t>(tib->StackBase)};
}

bool InConvertingModule(uint32_t address) {
  HMODULE module = nullptr;
  if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                          reinterpret_cast<LPCSTR>(address), &module))
    return false;
  if (module == GetModuleHandleA(nullptr)) return true;
  std::lock_guard<std::mutex> lock(g_modulesMutex);
  for (HMODULE m : g_modules)
    if (m == module) return true;
  return false;
}

bool IsConvertedCode(DWORD code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION:
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_FLT_STACK_CHECK:
    case EXCEPTION_FLT_UNDERFLOW:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_OVERFLOW:
    case EXCEPTION_PRIV_INSTRUCTION:
    case EXCEPTION_ILLEGAL_INSTRUCTION:
      return true;
    default:
      return false;  // stack overflow and the rest go to the unhandled-exception filter
  }
}

[[noreturn]] __attribute__((noinline)) void ThrowFault() {
  throw EExternal(t_faultRecord, t_faultContext, t_faultStack);
}

LONG CALLBACK VectoredHandler(EXCEPTION_POINTERS* info) {
  EXCEPTION_RECORD* rec = info->ExceptionRecord;
  CONTEXT* ctx = info->ContextRecord;
  if (rec->ExceptionCode == kThreadNameCode && rec->NumberParameters >= 3 &&
      rec->ExceptionInformation[0] == 0x1000 &&
      (rec->NumberParameters < 4 || rec->ExceptionInformation[3] == 0)) {
    if (TThreadNameSink sink = g_nameSink.load()) {
      DWORD id = static_cast<DWORD>(rec->ExceptionInformation[2]);
      if (id == static_cast<DWORD>(-1)) id = GetCurrentThreadId();
      char name[256] = {};
      SIZE_T got = 0;
      ReadProcessMemory(GetCurrentProcess(), reinterpret_cast<LPCVOID>(rec->ExceptionInformation[1]), name,
                        sizeof name - 1, &got);
      // Read up to the end of the readable part.
      if (got == 0) {
        for (size_t i = 0; i < sizeof name - 1; ++i)
          if (!ReadProcessMemory(GetCurrentProcess(),
                                 reinterpret_cast<const char*>(rec->ExceptionInformation[1]) + i, name + i, 1,
                                 nullptr) ||
              name[i] == 0)
            break;
      }
      name[sizeof name - 1] = 0;
      sink(id, name);
    }
    return EXCEPTION_CONTINUE_EXECUTION;
  }
  if (!IsConvertedCode(rec->ExceptionCode) || (rec->ExceptionFlags & EXCEPTION_NONCONTINUABLE) ||
      !InConvertingModule(ctx->Eip))
    return EXCEPTION_CONTINUE_SEARCH;
  t_faultRecord = *rec;
  t_faultContext = *ctx;
  CaptureStack(ctx->Eip, ctx->Esp, ctx->Ebp, t_faultStack, true);
  // Continue in ThrowFault as if the faulting instruction had called it:
  // the unwinder then finds the faulting function through the return
  // address (one byte into the instruction).
  ctx->Esp -= 4;
  *reinterpret_cast<DWORD*>(ctx->Esp) = ctx->Eip + 1;
  ctx->Eip = reinterpret_cast<DWORD>(&ThrowFault);
  return EXCEPTION_CONTINUE_EXECUTION;
}

}  // namespace

void CaptureStack(uint32_t eip, uint32_t esp, uint32_t ebp, TCapturedStack& out, bool withBytes) {
  out = TCapturedStack();
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

const char* SystemExceptionClassName(uint32_t code) {
  switch (code) {
    case EXCEPTION_ACCESS_VIOLATION: return "EAccessViolation";
    case EXCEPTION_ARRAY_BOUNDS_EXCEEDED: return "ERangeError";
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_UNDERFLOW: return "EUnderflow";
    case EXCEPTION_FLT_DIVIDE_BY_ZERO: return "EZeroDivide";
    case EXCEPTION_FLT_INEXACT_RESULT:
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_STACK_CHECK: return "EInvalidOp";
    case EXCEPTION_FLT_OVERFLOW: return "EOverflow";
    case EXCEPTION_INT_DIVIDE_BY_ZERO: return "EDivByZero";
    case EXCEPTION_INT_OVERFLOW: return "EIntOverflow";
    case EXCEPTION_PRIV_INSTRUCTION: return "EPrivilege";
    case EXCEPTION_STACK_OVERFLOW: return "EStackOverflow";
    case 0xC000013A: return "EControlC";
    default: return "EExternalException";
  }
}

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
  if (!g_handler) g_handler = AddVectoredExceptionHandler(1, VectoredHandler);
}

void RemoveFaultConversion() {
  if (g_handler) RemoveVectoredExceptionHandler(g_handler);
  g_handler = nullptr;
}

void AddFaultConvertingModule(HMODULE module) {
  std::lock_guard<std::mutex> lock(g_modulesMutex);
  g_modules.push_back(module);
}

void SetThreadNameSink(TThreadNameSink sink) { g_nameSink = sink; }
void SetRaiseHook(TRaiseHook hook) { g_raiseHook = hook; }

const TRaiseRecord* FindRaiseRecord(const void* object, const std::type_info* type) {
  if (!t_raise.object) return nullptr;
  if (object) return t_raise.object == object ? &t_raise : nullptr;
  return type && t_raise.type && *type == *t_raise.type ? &t_raise : nullptr;
}

void ClearRaiseRecord() { t_raise.object = nullptr; }

}  // namespace kestrix

// Every C++ throw passes here (the library's link options wrap __cxa_throw).
extern "C" [[noreturn]] void __real___cxa_throw(void* object, std::type_info* type, void (*destroy)(void*));
extern "C" [[noreturn]] __attribute__((noinline)) void __wrap___cxa_throw(void* object, std::type_info* type,
                                                                          void (*destroy)(void*)) {
  kestrix::TRaiseRecord& r = kestrix::t_raise;
  r.object = object;
  r.type = type;
  auto* frame = static_cast<uint32_t*>(__builtin_frame_address(0));
  kestrix::CaptureStack(reinterpret_cast<uint32_t>(__builtin_return_address(0)), reinterpret_cast<uint32_t>(frame + 2),
                        frame[0], r.stack, false);
  if (kestrix::TRaiseHook hook = kestrix::g_raiseHook.load()) hook(object, type, r.stack);
  __real___cxa_throw(object, type, destroy);
}
