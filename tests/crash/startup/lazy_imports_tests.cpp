// The system libraries the library binds on first call: a console program
// with the library switched on loads none of them at its start; a function
// binds to the system's own on its first call; a library that cannot be
// loaded (missing, or the loader lock held by another thread) leaves the
// call failing as the function fails, with its arguments popped, and no
// wait beyond one bounded wait per lock holder.
#include <gtest/gtest.h>
#include <windows.h>
#include <winsock2.h>

#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>

#include "crash/base/win/lazy_imports_win32.h"
#include "kestrix/kestrix.h"

// The stubs' import pointers and failure routines, by their assembly names.
extern "C" void* htonsSlot asm("_kxlazy_imp_htons@4");
extern "C" u_short WINAPI LazyHtons(u_short) asm("_kxlazy_htons@4");
extern "C" char failEightWith126 asm("_kxLazyFail__8_126");
extern "C" char failSocketCall asm("_kxLazyFail__12__1");

// Calls a stdcall function with `count` arguments (1, 2, ...): its result,
// and how far the stack pointer moved across the call (0 when the callee
// popped them all).
extern "C" int32_t kxTestCall(const void* function, uint32_t count, uint32_t* result);
asm(R"(
	.text
	.globl	_kxTestCall
_kxTestCall:
	pushl	%ebx
	movl	%esp, %ebx
	movl	12(%ebx), %ecx
1:	testl	%ecx, %ecx
	jz	2f
	pushl	%ecx
	decl	%ecx
	jmp	1b
2:	call	*8(%ebx)
	movl	16(%ebx), %edx
	movl	%eax, (%edx)
	movl	%ebx, %eax
	subl	%esp, %eax
	movl	%ebx, %esp
	popl	%ebx
	ret
)");

namespace kestrix {
namespace {

const char* const kLazyLibraries[] = {"user32.dll", "gdi32.dll", "advapi32.dll", "shell32.dll", "ole32.dll",
                                      "ws2_32.dll"};

// The names in the executable's import directory.
bool ImportsLibrary(const char* name) {
  auto* base = reinterpret_cast<const uint8_t*>(GetModuleHandleA(nullptr));
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + reinterpret_cast<const IMAGE_DOS_HEADER*>(base)->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
  for (auto* d = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + dir.VirtualAddress); d->Name; ++d)
    if (_stricmp(reinterpret_cast<const char*>(base + d->Name), name) == 0) return true;
  return false;
}

TEST(LazyImports, ConsoleProgramStartsWithoutThem) {
  ASSERT_TRUE(KestrixActive());
  for (const char* name : kLazyLibraries) {
    EXPECT_FALSE(ImportsLibrary(name)) << name;
    EXPECT_EQ(GetModuleHandleA(name), nullptr) << name << " loaded at the start";
  }
}

TEST(LazyImports, FirstCallBindsTheSystemFunction) {
  ASSERT_EQ(GetModuleHandleA("ws2_32.dll"), nullptr);
  SetLastError(4321);
  EXPECT_EQ(LazyHtons(0x1234), 0x3412);
  // The caller's last error is as it was; the pointer is now the system's.
  EXPECT_EQ(GetLastError(), 4321u);
  HMODULE ws2 = GetModuleHandleA("ws2_32.dll");
  ASSERT_NE(ws2, nullptr);
  EXPECT_EQ(htonsSlot, reinterpret_cast<void*>(GetProcAddress(ws2, "htons")));
  EXPECT_EQ(LazyHtons(0x0102), 0x0201);
}

TEST(LazyImports, MissingLibraryOrFunctionFailsLikeTheFunction) {
  void* slot = nullptr;
  TLazyImport missing{&slot, "kx_no_such_library.dll", "RegNothing", &failEightWith126, nullptr};
  EXPECT_EQ(kxLazyResolve(&missing), &failEightWith126);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_MOD_NOT_FOUND));
  EXPECT_EQ(slot, nullptr) << "a failure is not kept: a later call tries again";
  TLazyImport unknown{&slot, "kernel32.dll", "KxNoSuchFunction", &failSocketCall, nullptr};
  EXPECT_EQ(kxLazyResolve(&unknown), &failSocketCall);
  EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_PROC_NOT_FOUND));
  // The failure routines return the function's failure value and pop what
  // the function would have popped.
  uint32_t result = 0;
  EXPECT_EQ(kxTestCall(&failEightWith126, 2, &result), 0);
  EXPECT_EQ(result, 126u);
  EXPECT_EQ(kxTestCall(&failSocketCall, 3, &result), 0);
  EXPECT_EQ(result, 0xFFFFFFFFu);
}

// Holds the process's loader lock on another thread until told to let go.
class TLoaderLockHolder {
 public:
  TLoaderLockHolder() {
    thread_ = std::thread([this] {
      using Lock = LONG(NTAPI*)(ULONG, ULONG*, ULONG_PTR*);
      using Unlock = LONG(NTAPI*)(ULONG, ULONG_PTR);
      HMODULE ntdll = GetModuleHandleA("ntdll.dll");
      auto lock = reinterpret_cast<Lock>(reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrLockLoaderLock")));
      auto unlock = reinterpret_cast<Unlock>(reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrUnlockLoaderLock")));
      ULONG_PTR cookie = 0;
      locked_ = lock && unlock && lock(0, nullptr, &cookie) >= 0;
      held_.test_and_set();
      held_.notify_all();
      while (!release_.test()) release_.wait(false);
      if (locked_) unlock(0, cookie);
    });
    held_.wait(false);
  }
  ~TLoaderLockHolder() { Release(); }
  bool Locked() const { return locked_; }
  void Release() {
    release_.test_and_set();
    release_.notify_all();
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::atomic_flag held_, release_;
  bool locked_ = false;
  std::thread thread_;
};

TEST(LazyImports, LoaderLockHeldElsewhereFailsWithoutHanging) {
  // A library nobody has loaded yet.
  const char* library = "mpr.dll";
  ASSERT_EQ(GetModuleHandleA(library), nullptr);
  void* slot = nullptr;
  TLazyImport import{&slot, library, "WNetGetLastErrorA", &failEightWith126, nullptr};
  {
    TLoaderLockHolder holder;
    ASSERT_TRUE(holder.Locked());
    EXPECT_TRUE(LoaderLockHeldElsewhere());
    // One bounded wait for this holder, then failure at once while it holds.
    EXPECT_EQ(kxLazyResolve(&import), &failEightWith126);
    EXPECT_EQ(GetLastError(), static_cast<DWORD>(ERROR_POSSIBLE_DEADLOCK));
    EXPECT_EQ(kxLazyResolve(&import), &failEightWith126);
    EXPECT_EQ(LoadSystemLibrary(library), nullptr);
    EXPECT_EQ(slot, nullptr);
    holder.Release();
    EXPECT_FALSE(LoaderLockHeldElsewhere());
  }
  // Once let go, the same function binds.
  void* bound = kxLazyResolve(&import);
  ASSERT_NE(bound, &failEightWith126);
  EXPECT_EQ(bound, slot);
  EXPECT_NE(GetModuleHandleA(library), nullptr);
}

}  // namespace
}  // namespace kestrix
