#pragma once
// The address rule of a listening socket.
#include <cstdint>

namespace sv {

// Call on a listening socket (its native handle) before it binds: the program can bind
// its port again at once after a restart, while a second socket on the same address and
// port is refused with address-in-use. On Linux that is SO_REUSEADDR; on Windows it is
// SO_EXCLUSIVEADDRUSE, since SO_REUSEADDR there would let a second program take the port.
// False when the option cannot be set.
bool ClaimListenAddress(std::uintptr_t nativeSocket);

}  // namespace sv
