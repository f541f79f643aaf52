#include "crash/startup/win/caller_chain_win32.h"

namespace kestrix {
namespace {

std::string ModulePath(HMODULE module) {
  char path[MAX_PATH];
  const DWORD n = GetModuleFileNameA(module, path, MAX_PATH);
  return n > 0 && n < MAX_PATH ? std::string(path, n) : std::string();
}

// A module of the system (in the Windows directory), such as the C runtime.
bool InSystemModule(HMODULE module) {
  static const std::string windows = [] {
    char dir[MAX_PATH];
    const UINT n = GetWindowsDirectoryA(dir, MAX_PATH);
    return CharLowerA(dir), std::string(dir, n < MAX_PATH ? n : 0);
  }();
  std::string path = ModulePath(module);
  CharLowerA(path.data());
  return !windows.empty() && path.compare(0, windows.size(), windows) == 0;
}

bool IsProgramReturnAddress(uint32_t value) {
  const HMODULE module = ModuleOf(value);
  return module && !InSystemModule(module) && CallInstructionBefore(value);
}

// The stack address of the first return address into a module other than
// the system's, and after a call, above ownFrame. 0 when there is none.
uint32_t FindProgramReturnSlot(uint32_t ownFrame) {
  const NT_TIB* tib = reinterpret_cast<const NT_TIB*>(NtCurrentTeb());
  const uint32_t low = reinterpret_cast<uint32_t>(tib->StackLimit), high = reinterpret_cast<uint32_t>(tib->StackBase);
  for (uint32_t frame = ownFrame; frame >= low && frame + 8 <= high && !(frame & 3);) {
    const auto* p = reinterpret_cast<const uint32_t*>(frame);
    if (IsProgramReturnAddress(p[1])) return frame + 4;
    if (p[0] <= frame) break;
    frame = p[0];
  }
  for (uint32_t p = ownFrame + 4; p + 4 <= high && p < ownFrame + 64 * 1024; p += 4)
    if (IsProgramReturnAddress(*reinterpret_cast<const uint32_t*>(p))) return p;
  return 0;
}

}  // namespace

bool Readable(uint32_t address, uint32_t size) {
  while (size > 0) {
    MEMORY_BASIC_INFORMATION info;
    if (address < 0x10000 || !VirtualQuery(reinterpret_cast<void*>(address), &info, sizeof info) ||
        info.State != MEM_COMMIT || (info.Protect & (PAGE_GUARD | PAGE_NOACCESS)) || info.Protect == 0)
      return false;
    const uint32_t end = reinterpret_cast<uint32_t>(info.BaseAddress) + info.RegionSize;
    if (end - address >= size) return true;
    size -= end - address;
    address = end;
  }
  return true;
}

HMODULE ModuleOf(uint32_t address) {
  MEMORY_BASIC_INFORMATION info;
  if (address < 0x10000 || !VirtualQuery(reinterpret_cast<void*>(address), &info, sizeof info) ||
      info.State != MEM_COMMIT || info.Type != MEM_IMAGE)
    return nullptr;
  return static_cast<HMODULE>(info.AllocationBase);
}

uint32_t CallSite(uint32_t ret) {
  const uint32_t call = CallInstructionBefore(ret);
  return call ? call : ret - 1;
}

void ChainFromCall(uint32_t ret, uint32_t slot, uint32_t frame, TCapturedStack& out) {
  ResetCapturedStack(out);
  out.eip = CallSite(ret);
  out.esp = slot + 4;
  out.ebp = frame;
  out.frames[out.frameCount++] = out.eip;
  const NT_TIB* tib = reinterpret_cast<const NT_TIB*>(NtCurrentTeb());
  const uint32_t low = reinterpret_cast<uint32_t>(tib->StackLimit), high = reinterpret_cast<uint32_t>(tib->StackBase);
  // The stack above the call stays as it is while the report is made.
  out.stackTop = high;
  while (out.frameCount < TCapturedStack::kMaxFrames) {
    if (frame < low || frame + 8 > high || (frame & 3)) break;
    const auto* p = reinterpret_cast<const uint32_t*>(frame);
    if (frame > slot) {
      if (!p[1]) {
        out.complete = true;
        break;
      }
      out.frames[out.frameCount++] = p[1];
    }
    if (p[0] <= frame) {
      out.complete = p[0] == 0;
      break;
    }
    frame = p[0];
  }
}

void ChainFromRuntimeCall(uint32_t ownFrame, TCapturedStack& out) {
  if (const uint32_t slot = FindProgramReturnSlot(ownFrame)) {
    ChainFromCall(*reinterpret_cast<const uint32_t*>(slot), slot, ownFrame, out);
  } else {
    const auto* frame = reinterpret_cast<const uint32_t*>(ownFrame);
    ChainFromCall(frame[1], ownFrame + 4, frame[0], out);
  }
}

}  // namespace kestrix
