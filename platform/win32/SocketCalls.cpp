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
  // The new socket takes the listening socket's event selection (ConnectionWait): drop it,
  // so that it can be used for overlapped I/O alone. It stays non-blocking.
  u_long on = 1;
  if (::WSAEventSelect(s, nullptr, 0) != 0 || ::ioctlsocket(s, FIONBIO, &on) != 0) {
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

// A connection that comes sets an event of the socket's own (and leaves the socket in
// non-blocking mode); Interrupt sets another.
ConnectionWait::ConnectionWait(NativeSocket listening) : listening_(listening) {
  const HANDLE wake = ::CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (!wake) throw std::system_error(static_cast<int>(::GetLastError()), std::system_category(), "CreateEvent");
  const WSAEVENT arrived = ::WSACreateEvent();
  if (arrived == WSA_INVALID_EVENT || ::WSAEventSelect(static_cast<SOCKET>(listening), arrived, FD_ACCEPT) != 0) {
    const int e = ::WSAGetLastError();
    if (arrived != WSA_INVALID_EVENT) ::WSACloseEvent(arrived);
    ::CloseHandle(wake);
    throw std::system_error(e, std::system_category(), "WSAEventSelect");
  }
  wake_ = reinterpret_cast<std::uintptr_t>(wake);
  arrived_ = reinterpret_cast<std::uintptr_t>(arrived);
}

ConnectionWait::~ConnectionWait() {
  ::WSAEventSelect(static_cast<SOCKET>(listening_), nullptr, 0);
  ::WSACloseEvent(reinterpret_cast<WSAEVENT>(arrived_));
  ::CloseHandle(reinterpret_cast<HANDLE>(wake_));
}

bool ConnectionWait::Wait() {
  const HANDLE events[2] = {reinterpret_cast<HANDLE>(wake_), reinterpret_cast<HANDLE>(arrived_)};
  const DWORD which = ::WaitForMultipleObjects(2, events, FALSE, INFINITE);
  if (which == WAIT_OBJECT_0) return false;
  if (which != WAIT_OBJECT_0 + 1) {  // cannot wait now: look again a little later
    ::Sleep(10);
    return true;
  }
  WSANETWORKEVENTS happened;  // also resets the event
  ::WSAEnumNetworkEvents(static_cast<SOCKET>(listening_), reinterpret_cast<WSAEVENT>(arrived_), &happened);
  return true;
}

void ConnectionWait::Interrupt() { ::SetEvent(reinterpret_cast<HANDLE>(wake_)); }

}  // namespace sv
