// Hooks on thread creation, on thread-pool work items and on the runtime's
// thread objects (std::thread, _beginthreadex), which wrap every new thread
// function in an exception frame and register the thread with its creator;
// and hooks on the four message-retrieval functions, through which paused
// threads stop.
#pragma once

#include <windows.h>

#include <cstdint>
#include <exception>

namespace kestrix {

struct TThreadHookConfig {
  // Reports an exception that escaped a thread function or work item
  // (source 16) or a runtime thread object (source 17; related: the object).
  void (*report)(std::exception_ptr error, uint8_t source, const void* related) = nullptr;
  // The address of the 4-byte relative target of the call inside `function`
  // that goes to one of `targets` (count of them); 0 when there is none.
  uint32_t (*findInternalCall)(uint32_t function, const uint32_t* targets, int count) = nullptr;
  // The code address lies in the runtime's thread-object start code
  // (std::thread's), whose caller is the creator.
  bool (*isRuntimeThreadStart)(uint32_t address) = nullptr;
  // The creator of a thread is looked for one frame further up.
  bool creatorOneFrameUp = false;
};

// How thread creation is hooked.
enum class TThreadHookMode { kNone, kInternalCall, kImports };

bool InstallThreadHooks(const TThreadHookConfig& config);
void RemoveThreadHooks();
TThreadHookMode ThreadHookMode();

// GetMessageA/W and PeekMessageA/W run `pauseCheck` first, then the
// original with unchanged arguments and result.
bool InstallMessageHooks(void (*pauseCheck)());
void RemoveMessageHooks();
bool MessageHooksInstalled();

}  // namespace kestrix
