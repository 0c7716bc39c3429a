#include "platform/ListenAddress.h"

#include <winsock2.h>

namespace sv {

bool ClaimListenAddress(std::uintptr_t nativeSocket) {
  BOOL one = TRUE;
  return ::setsockopt(static_cast<SOCKET>(nativeSocket), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                      reinterpret_cast<const char*>(&one), sizeof one) == 0;
}

}  // namespace sv
