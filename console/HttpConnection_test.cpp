#include "console/HttpConnection.h"

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

TEST(Connection, HandlerErrorsAnswer500AndTheListenerGoesOn) {
  SvCHTTPServer server([](const ConsoleRequest& r, ConsoleResponse& response) {
    if (r.document == "/fail") throw Exception("Resource missing not found");
    response.contentText = "ok";
  });
  server.SetDefaultPort(0);
  server.Activate();
  const std::string failed = Exchange(server.BoundPort(), "GET /fail HTTP/1.1\r\nHost: localhost\r\n\r\n");
  EXPECT_EQ(failed, "HTTP/1.1 500 Internal Server Error\r\nConnection: close\r\nContent-Type: text/html\r\n"
                    "Content-Length: 26\r\n" + kTail + "Resource missing not found");
  EXPECT_EQ(Body(Exchange(server.BoundPort(), "GET / HTTP/1.1\r\nHost: localhost\r\n\r\n")), "ok");
}

TEST(Connection, IdleConnectionsAreClosed) {
  SvCHTTPServer server([](const ConsoleRequest&, ConsoleResponse&) {});
  server.SetIdleTimeout(std::chrono::milliseconds(50));
  server.SetDefaultPort(0);
  server.Activate();
  Client silent(server.BoundPort());
  EXPECT_EQ(silent.ReadAll(), "");  // returns only because the server closed
  Client halfway(server.BoundPort());
  halfway.Send("GET / HTTP/1.1\r\n");
  EXPECT_EQ(halfway.ReadAll(), "");
}

// Every connection is closed at its deadline, whatever it does: one that sends nothing,
// one that sends its request a line at a time, one whose handler runs on (its token is
// stopped), and one that never reads its answer.
TEST(Connection, EveryConnectionEndsAtItsDeadline) {
  Holder holder;
  SvCHTTPServer server(holder.Handler());
  server.SetLifeLimit(std::chrono::milliseconds(300));
  server.SetDefaultPort(0);
  server.Activate();
  const int port = server.BoundPort();
  Client quiet(port), slow(port), held(port), reader(port, Client::SmallBuffer{});
  held.Send("GET /hold HTTP/1.1\r\nHost: localhost\r\n\r\n");
  reader.Send("GET /big HTTP/1.1\r\nHost: localhost\r\n\r\n");
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(30);  // only a fault gets here
  bool closed = false;
  try {
    slow.Send("GET / HTTP/1.1\r\n");
    while (std::chrono::steady_clock::now() < until) {
      slow.Send("X-Pad: 1\r\n");
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  } catch (const std::system_error&) {
    closed = true;
  }
  EXPECT_TRUE(closed);
  EXPECT_TRUE(WaitFor([&] { return server.OpenConnections() == 0; }, std::chrono::seconds(30)));
  EXPECT_EQ(quiet.ReadAll(), "");
  EXPECT_EQ(held.ReadAll(), "");
  EXPECT_EQ(holder.Stopped(), 1);
  EXPECT_LT(reader.ReadAll().size(), kBig);
}

}  // namespace
}  // namespace sv
