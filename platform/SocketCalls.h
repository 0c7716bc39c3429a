#pragma once
// Plain calls on native sockets that never wait. The console serves a request that is
// already there, and answers it, with these alone; a socket object of the I/O library
// registers with its event queue when it is made, which costs system calls that such a
// connection never needs.
#include <cstddef>
#include <cstdint>
#include <system_error>

namespace sv {

using NativeSocket = std::uintptr_t;
inline constexpr NativeSocket kNoSocket = ~NativeSocket{0};

// Errors are the system's codes, except two that the caller acts on, which are the
// portable conditions: std::errc::operation_would_block when a call would have to wait
// (or was interrupted), and, from AcceptWaiting, std::errc::connection_aborted when
// the connection taken was gone before it could be taken (there may be more waiting).

// Takes a connection that waits on `listening` (a non-blocking listening socket); the
// new socket does not block and is not inherited by child processes. kNoSocket when
// none waits or on failure, with `ec` set.
NativeSocket AcceptWaiting(NativeSocket listening, std::error_code& ec);
// Receives what has arrived, up to `size` bytes; 0 when the peer has closed its side.
std::size_t ReceiveNow(NativeSocket s, char* data, std::size_t size, std::error_code& ec);
// Sends what fits into the socket's buffer now. Never raises a signal for a peer that
// has gone.
std::size_t SendNow(NativeSocket s, const char* data, std::size_t size, std::error_code& ec);
// Sends the end of the stream after what was sent; errors are ignored.
void ShutdownSending(NativeSocket s);
void CloseSocket(NativeSocket s);
// The system's code of the last failed socket call of this thread (errno; Windows
// Sockets' last error), for a library that reports a failure without it.
int LastSocketError();

// Waits for connections on one listening socket, until interrupted.
class ConnectionWait {
 public:
  // Raises std::system_error when the wait cannot be set up.
  explicit ConnectionWait(NativeSocket listening);
  ~ConnectionWait();
  ConnectionWait(const ConnectionWait&) = delete;
  ConnectionWait& operator=(const ConnectionWait&) = delete;

  // True when a connection waits on the socket (or did: another thread may have taken
  // it since, or the wait failed for a moment); false once Interrupt has been called,
  // at once from then on.
  bool Wait();
  // Any thread.
  void Interrupt();

 private:
  NativeSocket listening_;
  std::uintptr_t wake_;  // what Interrupt signals
};

}  // namespace sv
