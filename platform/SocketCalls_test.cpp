#include "platform/SocketCalls.h"

#include <asio.hpp>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace sv {
namespace {

using asio::ip::tcp;

// Calls `call` (which sets an error code) until it does not report would-block; the
// time limit only ends a test that has gone wrong.
template <typename Call>
std::size_t Soon(Call call, std::error_code& ec) {
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  for (;;) {
    const std::size_t n = call(ec);
    if (ec != std::errc::operation_would_block || std::chrono::steady_clock::now() > until) return n;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

// The console takes and serves connections with these calls alone; it relies on them
// reporting "would block" as the portable condition and never waiting.
TEST(SocketCalls, TakeReceiveSendAndCloseWithoutWaiting) {
  asio::io_context io;
  tcp::acceptor acceptor(io, {asio::ip::address_v4::loopback(), 0});
  acceptor.non_blocking(true);
  const auto listening = static_cast<NativeSocket>(acceptor.native_handle());
  std::error_code ec;
  EXPECT_EQ(AcceptWaiting(listening, ec), kNoSocket);
  EXPECT_EQ(ec, std::errc::operation_would_block);

  tcp::socket client(io);
  client.connect(acceptor.local_endpoint());
  const NativeSocket s =
      Soon([&](std::error_code& e) { return static_cast<std::size_t>(AcceptWaiting(listening, e)); }, ec);
  ASSERT_NE(s, kNoSocket) << ec.message();
  char buffer[16];
  EXPECT_EQ(ReceiveNow(s, buffer, sizeof buffer, ec), 0u);
  EXPECT_EQ(ec, std::errc::operation_would_block);  // nothing has come yet

  asio::write(client, asio::buffer("ping", 4));
  EXPECT_EQ(Soon([&](std::error_code& e) { return ReceiveNow(s, buffer, sizeof buffer, e); }, ec), 4u);
  EXPECT_FALSE(ec);
  EXPECT_EQ(SendNow(s, "pong", 4, ec), 4u);
  ShutdownSending(s);
  std::string answer(8, '\0');
  std::error_code end;
  answer.resize(asio::read(client, asio::buffer(answer), end));
  EXPECT_EQ(answer, "pong");
  EXPECT_EQ(end, asio::error::eof);

  client.close();  // the peer goes: 0 bytes, then sending fails without a signal
  EXPECT_EQ(Soon([&](std::error_code& e) { return ReceiveNow(s, buffer, sizeof buffer, e); }, ec), 0u);
  EXPECT_FALSE(ec);
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  do {
    SendNow(s, "x", 1, ec);
    if (!ec) std::this_thread::sleep_for(std::chrono::milliseconds(1));  // until the reset comes
  } while ((!ec || ec == std::errc::operation_would_block) && std::chrono::steady_clock::now() < until);
  EXPECT_TRUE(ec && ec != std::errc::operation_would_block);
  CloseSocket(s);
}

TEST(SocketCalls, AWaitEndsForAConnectionAndForeverOnceInterrupted) {
  asio::io_context io;
  tcp::acceptor acceptor(io, {asio::ip::address_v4::loopback(), 0});
  acceptor.non_blocking(true);
  ConnectionWait wait(static_cast<NativeSocket>(acceptor.native_handle()));
  tcp::socket client(io);
  client.connect(acceptor.local_endpoint());
  EXPECT_TRUE(wait.Wait());
  std::thread interrupter([&] { wait.Interrupt(); });
  std::error_code ec;
  // Once the connection is taken, only the interruption ends the wait.
  const NativeSocket s = AcceptWaiting(static_cast<NativeSocket>(acceptor.native_handle()), ec);
  EXPECT_NE(s, kNoSocket);
  if (s != kNoSocket) CloseSocket(s);
  EXPECT_FALSE(wait.Wait());
  interrupter.join();
  EXPECT_FALSE(wait.Wait());
}

// The console's threads take connections while its listener may be about to wait: a
// connection that another thread took, even one taken as it came, must never leave the
// wait asleep when the next one comes.
TEST(SocketCalls, AWaitWakesForTheNextConnectionWhicheverThreadTookTheLast) {
  asio::io_context io;
  tcp::acceptor acceptor(io, {asio::ip::address_v4::loopback(), 0});
  acceptor.non_blocking(true);
  const auto listening = static_cast<NativeSocket>(acceptor.native_handle());
  ConnectionWait wait(listening);
  std::atomic<int> taken{0};
  auto takeAll = [&] {
    std::error_code ec;
    for (NativeSocket s; (s = AcceptWaiting(listening, ec)) != kNoSocket; ++taken) CloseSocket(s);
  };
  std::thread waiter([&] {
    while (wait.Wait()) takeAll();
  });
  // Until `count` connections are taken, this thread taking them too when `take` says so.
  auto awaitTaken = [&](int count, bool take) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (taken < count && std::chrono::steady_clock::now() < until) {
      if (take) takeAll();
      else std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return taken >= count;
  };
  for (int round = 1; round <= 200 && !HasFailure(); ++round) {
    bool racedTaken = false;
    std::thread racer([&] { racedTaken = awaitTaken(2 * round - 1, true); });  // taking before it comes
    tcp::socket raced(io);
    raced.connect(acceptor.local_endpoint());
    racer.join();
    EXPECT_TRUE(racedTaken) << "connection " << 2 * round - 1 << " was never taken";
    tcp::socket next(io);
    next.connect(acceptor.local_endpoint());
    EXPECT_TRUE(awaitTaken(2 * round, false)) << "the waiter slept through connection " << 2 * round;
  }
  wait.Interrupt();
  waiter.join();
}

}  // namespace
}  // namespace sv
