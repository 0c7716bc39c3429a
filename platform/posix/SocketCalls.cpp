#include "platform/SocketCalls.h"

#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <thread>

namespace sv {
namespace {

std::error_code LastError() {
  const int e = errno;
  if (e == EAGAIN || e == EWOULDBLOCK || e == EINTR) return std::make_error_code(std::errc::operation_would_block);
  return {e, std::system_category()};
}

}  // namespace

NativeSocket AcceptWaiting(NativeSocket listening, std::error_code& ec) {
  const int fd = ::accept4(static_cast<int>(listening), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) {
    // A connection reset before it was taken, or refused by a firewall rule: the next.
    const bool gone = errno == ECONNABORTED || errno == EPROTO || errno == EPERM;
    ec = gone ? std::make_error_code(std::errc::connection_aborted) : LastError();
    return kNoSocket;
  }
  ec.clear();
  return static_cast<NativeSocket>(fd);
}

std::size_t ReceiveNow(NativeSocket s, char* data, std::size_t size, std::error_code& ec) {
  const ssize_t n = ::recv(static_cast<int>(s), data, size, 0);
  if (n < 0) {
    ec = LastError();
    return 0;
  }
  ec.clear();
  return static_cast<std::size_t>(n);
}

std::size_t SendNow(NativeSocket s, const char* data, std::size_t size, std::error_code& ec) {
  const ssize_t n = ::send(static_cast<int>(s), data, size, MSG_NOSIGNAL);
  if (n < 0) {
    ec = LastError();
    return 0;
  }
  ec.clear();
  return static_cast<std::size_t>(n);
}

void ShutdownSending(NativeSocket s) { ::shutdown(static_cast<int>(s), SHUT_WR); }

void CloseSocket(NativeSocket s) { ::close(static_cast<int>(s)); }

int LastSocketError() { return errno; }

ConnectionWait::ConnectionWait(NativeSocket listening) : listening_(listening) {
  const int fd = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (fd < 0) throw std::system_error(errno, std::system_category(), "eventfd");
  wake_ = static_cast<std::uintptr_t>(fd);
}

ConnectionWait::~ConnectionWait() { ::close(static_cast<int>(wake_)); }

bool ConnectionWait::Wait() {
  pollfd fds[2] = {{static_cast<int>(wake_), POLLIN, 0}, {static_cast<int>(listening_), POLLIN, 0}};
  while (::poll(fds, 2, -1) < 0) {
    if (errno == EINTR) continue;
    // Cannot wait now (no memory): look again a little later, never in a busy loop.
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    fds[0].revents = 0;
    break;
  }
  return fds[0].revents == 0;
}

void ConnectionWait::Interrupt() {
  const std::uint64_t one = 1;
  (void)!::write(static_cast<int>(wake_), &one, sizeof one);
}

}  // namespace sv
