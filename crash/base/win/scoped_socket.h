// The owner of a Winsock socket. Kept apart from scoped_handle.h so that
// only the network code includes Winsock, and header-only so that kx_base
// does not link ws2_32: the closer is compiled where sockets are made.
#pragma once

#include <winsock2.h>

#include "crash/base/win/scoped_resource.h"

namespace kestrix {

struct TSocketTraits {
  using Type = SOCKET;
  static constexpr SOCKET Empty() { return INVALID_SOCKET; }
  static bool IsValid(SOCKET s) { return s != INVALID_SOCKET; }
  static void Close(SOCKET s) { closesocket(s); }
};
using TScopedSocket = TScoped<TSocketTraits>;

}  // namespace kestrix
