#include "platform/SocketCalls.h"

#include <winsock2.h>
#include <windows.h>

#include <climits>

namespace sv {
namespace {

std::error_code LastError() {
  const int e = ::WSAGetLastError();
  if (e == WSAEWOULDBLOCK || e == WSAEINTR) return std::make_error_code(std::errc::operation_would_block);
  return {e, std::system_category()};
}

int Clamp(std::size_t size) { return size > INT_MAX ? INT_MAX : static_cast<int>(size); }

}  // namespace

NativeSocket AcceptWaiting(NativeSocket listening, std::error_code& ec) {
  const SOCKET s = ::accept(static_cast<SOCKET>(listening), nullptr, nullptr);
  if (s == INVALID_SOCKET) {
    // A connection reset before it was taken: the next.
    ec = ::WSAGetLastError() == WSAECONNRESET ? std::make_error_code(std::errc::connection_aborted) : LastError();
    return kNoSocket;
  }
  u_long on = 1;
  if (::ioctlsocket(s, FIONBIO, &on) != 0) {
    ec = LastError();
    ::closesocket(s);
    return kNoSocket;
  }
  // A program the console starts (the browser) must not hold the connection open.
  ::SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  ec.clear();
  return static_cast<NativeSocket>(s);
}

std::size_t ReceiveNow(NativeSocket s, char* data, std::size_t size, std::error_code& ec) {
  const int n = ::recv(static_cast<SOCKET>(s), data, Clamp(size), 0);
  if (n == SOCKET_ERROR) {
    ec = LastError();
    return 0;
  }
  ec.clear();
  return static_cast<std::size_t>(n);
}

std::size_t SendNow(NativeSocket s, const char* data, std::size_t size, std::error_code& ec) {
  const int n = ::send(static_cast<SOCKET>(s), data, Clamp(size), 0);
  if (n == SOCKET_ERROR) {
    ec = LastError();
    return 0;
  }
  ec.clear();
  return static_cast<std::size_t>(n);
}

void ShutdownSending(NativeSocket s) { ::shutdown(static_cast<SOCKET>(s), SD_SEND); }

void CloseSocket(NativeSocket s) { ::closesocket(static_cast<SOCKET>(s)); }

int LastSocketError() { return ::WSAGetLastError(); }

// The wait polls the listening socket, which reports a waiting connection for as long
// as one waits, whoever took the one before. (An event selected for FD_ACCEPT is set
// once per report, and Wine reports again only after a successful accept: a connection
// taken by another thread between the report and this thread's accept left the wait
// asleep while the next ones queued.) Interrupt sends a datagram to a socket of the
// wait's own on 127.0.0.1, which is never read, so the wait ends at once from then on.
ConnectionWait::ConnectionWait(NativeSocket listening) : listening_(listening) {
  const SOCKET wake = ::WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  sockaddr_in self{};
  self.sin_family = AF_INET;
  self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int length = sizeof self;
  if (wake == INVALID_SOCKET || ::bind(wake, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0 ||
      ::getsockname(wake, reinterpret_cast<sockaddr*>(&self), &length) != 0 ||
      ::connect(wake, reinterpret_cast<sockaddr*>(&self), sizeof self) != 0) {
    const int e = ::WSAGetLastError();
    if (wake != INVALID_SOCKET) ::closesocket(wake);
    throw std::system_error(e, std::system_category(), "wake socket");
  }
  wake_ = static_cast<std::uintptr_t>(wake);
}

ConnectionWait::~ConnectionWait() { ::closesocket(static_cast<SOCKET>(wake_)); }

bool ConnectionWait::Wait() {
  WSAPOLLFD fds[2] = {{static_cast<SOCKET>(wake_), POLLRDNORM, 0}, {static_cast<SOCKET>(listening_), POLLRDNORM, 0}};
  if (::WSAPoll(fds, 2, -1) < 0) {
    // Cannot wait now (no memory): look again a little later, never in a busy loop.
    ::Sleep(10);
    return true;
  }
  return fds[0].revents == 0;
}

void ConnectionWait::Interrupt() {
  const char byte = 1;
  ::send(static_cast<SOCKET>(wake_), &byte, 1, 0);
}

}  // namespace sv
