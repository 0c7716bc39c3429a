#include "console/WorkerPool.h"

#include <asio.hpp>
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "base/Exception.h"
#include "console/SvCHTTPServer.h"
#include "tests/support/ConsoleClient.h"
#include "tests/support/Wait.h"

namespace sv {
namespace {

using namespace sv::test;

// Threads that finish take the waiting connections themselves, and connections that come
// while every serving thread is held by a long request are started all the same: every
// client is answered.
TEST(WorkerPool, ConnectionsComingWhileEveryThreadIsHeldAreServed) {
  Holder holder;
  SvCHTTPServer server(holder.Handler());
  server.SetDefaultPort(0);
  server.Activate();
  const int port = server.BoundPort();
  // More than the threads that are woken for waiting connections at once.
  const int held = static_cast<int>(std::max(1u, std::thread::hardware_concurrency())) + 2;
  std::atomic<int> answered{0};
  const auto ask = [&](const char* document) {
    const std::string request = std::string("GET ") + document + " HTTP/1.1\r\nHost: localhost\r\n\r\n";
    if (Body(Exchange(port, request)) == "ok") ++answered;
  };
  std::vector<std::thread> holders, clients;
  for (int i = 0; i < held; ++i) holders.emplace_back(ask, "/hold");
  EXPECT_TRUE(holder.AwaitHolding(held));
  for (int i = 0; i < 8; ++i) clients.emplace_back([&] {
    for (int j = 0; j < 50; ++j) ask("/");
  });
  for (auto& t : clients) t.join();
  EXPECT_EQ(answered, 400);
  holder.Release();
  for (auto& t : holders) t.join();
  EXPECT_EQ(answered, 400 + held);
  EXPECT_TRUE(test::WaitFor([&] { return server.OpenConnections() == 0; }));
}

TEST(WorkerPool, StopClosesConnectionsAndWaitsForRunningRequests) {
  std::mutex m;
  std::condition_variable cv;
  bool entered = false, release = false;
  std::atomic<bool> handlerDone{false};
  SvCHTTPServer server([&](const ConsoleRequest&, ConsoleResponse& r) {
    std::unique_lock lock(m);
    entered = true;
    cv.notify_all();
    cv.wait(lock, [&] { return release; });
    r.contentText = "late";
    handlerDone = true;
  });
  server.SetDefaultPort(0);
  server.Activate();
  const int port = server.BoundPort();
  Client idle(port);  // an idle connection must not hold Stop for its 30 seconds
  Client busy(port);
  busy.Send("GET / HTTP/1.1\r\nHost: localhost\r\n\r\n");
  {
    std::unique_lock lock(m);
    cv.wait(lock, [&] { return entered; });
  }
  bool doneWhenStopped = false;
  std::thread stopper([&] {
    server.Stop();
    doneWhenStopped = handlerDone;
  });
  {
    std::scoped_lock lock(m);
    release = true;
  }
  cv.notify_all();
  stopper.join();
  EXPECT_TRUE(doneWhenStopped);
  EXPECT_EQ(idle.ReadAll(), "");
  EXPECT_THROW(Client refused(port), std::system_error);
  server.Stop();  // idempotent
}

// Stop does not wait for a long request to end by itself: it stops the request's token,
// which a long handler (a filter being matched) watches. The thread that served it is
// not handed a connection after the listener starts again.
TEST(WorkerPool, StopStopsTheTokenOfARunningRequest) {
  std::atomic<bool> entered{false}, stopped{false};
  SvCHTTPServer server([&](const ConsoleRequest& r, ConsoleResponse& response) {
    if (r.target != "/long") return response.contentText = "quick", void();
    entered = true;
    std::mutex m;
    std::condition_variable_any woken;
    std::unique_lock lock(m);
    // Waits for the token; only a fault waits the whole bound.
    stopped = woken.wait_for(lock, r.stop, std::chrono::seconds(30), [] { return false; }) || r.stop.stop_requested();
    // Ends a while after the pool has begun to stop its threads, as a slow handler does.
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  });
  server.SetDefaultPort(0);
  server.Activate();
  Client busy(server.BoundPort());
  busy.Send("GET /long HTTP/1.1\r\nHost: localhost\r\n\r\n");
  ASSERT_TRUE(test::WaitFor([&] { return entered.load(); }));
  server.Stop();
  EXPECT_TRUE(stopped);
  EXPECT_EQ(busy.ReadAll(), "");
  server.Activate();
  for (int i = 0; i < 2; ++i)
    EXPECT_EQ(Body(Exchange(server.BoundPort(), "GET /q HTTP/1.1\r\nHost: localhost\r\n\r\n")), "quick");
}

}  // namespace
}  // namespace sv
