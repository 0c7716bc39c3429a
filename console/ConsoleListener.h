#pragma once
// One listening socket of the console on a loopback address, and the thread that
// watches it.
#include <asio.hpp>

#include <cstdint>
#include <functional>
#include <memory>
#include <system_error>
#include <thread>

#include "platform/SocketCalls.h"

namespace sv {

class ConsoleListener {
 public:
  ConsoleListener() = default;
  // Interrupts and joins the thread, and closes the socket.
  ~ConsoleListener();
  ConsoleListener(const ConsoleListener&) = delete;
  ConsoleListener& operator=(const ConsoleListener&) = delete;

  // Opens, binds and listens at `at`; connections are then taken without waiting. True
  // when bound. An `optional` address that this system lacks (no IPv6, no ::1) gives
  // true too, with nothing bound (IsOpen false). Nothing stays open after a failure.
  bool Bind(const asio::ip::tcp::endpoint& at, bool optional);
  bool IsOpen() const { return acceptor_.is_open(); }
  // The bound port; 0 when not bound.
  std::uint16_t Port() const;
  asio::ip::tcp Protocol() const { return protocol_; }

  // Waits until a connection waits on the socket (or did: another thread may have taken
  // it since); false once Interrupt has been called. The thread of Start.
  bool WaitForConnection() { return wait_->Wait(); }
  // Takes a connection that waits, without waiting: kNoSocket with
  // std::errc::operation_would_block when none does (see AcceptWaiting). Any thread.
  NativeSocket Take(std::error_code& ec) const { return AcceptWaiting(handle_, ec); }

  // Runs `loop` on the listener's own thread. Once, after Bind.
  void Start(std::function<void(ConsoleListener&)> loop);
  // Makes WaitForConnection return false, now and from here on. Any thread.
  void Interrupt();
  // Waits for the thread of Start to end.
  void Join();

  // Connections started at the listener's last look; kept for the loop, which guards it.
  std::uint64_t seen = 0;

 private:
  asio::io_context context_;
  asio::ip::tcp::acceptor acceptor_{context_};
  NativeSocket handle_ = kNoSocket;  // the acceptor's, for taking connections on any thread
  asio::ip::tcp protocol_ = asio::ip::tcp::v4();
  std::unique_ptr<ConnectionWait> wait_;
  std::thread thread_;
};

}  // namespace sv
