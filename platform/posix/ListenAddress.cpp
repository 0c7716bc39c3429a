#include "platform/ListenAddress.h"

#include <sys/socket.h>

namespace sv {

bool ClaimListenAddress(std::uintptr_t nativeSocket) {
  int one = 1;
  return ::setsockopt(static_cast<int>(nativeSocket), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one) == 0;
}

}  // namespace sv
