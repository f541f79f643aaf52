// The delivery layer's state, shared by its Windows files: the background
// sends still running, the online check's sequence and the MAPI library.
#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <mutex>
#include <vector>

#include "crash/base/win/critical_section.h"
#include "crash/base/win/scoped_handle.h"

namespace kestrix {

// Made on first use and never destroyed: background sends may outlive the
// static destructors.
struct TDeliveryState {
  // The background sends still running (handles of their own), for the
  // shutdown's wait: written under `sendsLock` by DispatchBugReport (ended
  // ones dropped first) and emptied by WaitForBackgroundSends.
  TCriticalSectionLock sendsLock;
  std::vector<TScopedHandle> sends;
  // The echo requests' sequence number: counted up by each online check.
  std::atomic<uint16_t> echoSequence{0};
  // mapi32.dll, loaded by the first MAPI send and kept: a mail client's MAPI
  // library may leave threads of its own behind.
  std::once_flag mapiLoaded;
  HMODULE mapi = nullptr;
};
TDeliveryState& DeliveryState();

}  // namespace kestrix
