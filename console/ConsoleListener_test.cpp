#include "console/ConsoleListener.h"

#include <asio.hpp>
#include <gtest/gtest.h>

#include <system_error>

#include "base/Exception.h"
#include "console/SvCHTTPServer.h"
#include "tests/support/ConsoleClient.h"
#include "platform/SocketCalls.h"

namespace sv {
namespace {

using namespace sv::test;

// A listener takes a waiting connection without waiting, reports an empty queue as
// would_block, and stops waiting once interrupted.
TEST(ConsoleListener, TakesWaitingConnectionsAndStopsWaitingWhenInterrupted) {
  ConsoleListener listener;
  ASSERT_TRUE(listener.Bind({asio::ip::address_v4::loopback(), 0}, false));
  ASSERT_TRUE(listener.IsOpen());
  std::error_code ec;
  EXPECT_EQ(listener.Take(ec), kNoSocket);
  EXPECT_EQ(ec, std::errc::operation_would_block);
  Client client(listener.Port());
  EXPECT_TRUE(listener.WaitForConnection());
  const NativeSocket taken = listener.Take(ec);
  ASSERT_NE(taken, kNoSocket) << ec.message();
  CloseSocket(taken);
  EXPECT_EQ(client.ReadAll(), "");
  listener.Interrupt();
  EXPECT_FALSE(listener.WaitForConnection());
}

TEST(ConsoleListener, BindFailureLeavesNothingBound) {
  asio::io_context context;
  tcp::acceptor v4(context, {asio::ip::address_v4::loopback(), 0});
  const int taken = v4.local_endpoint().port();
  SvCHTTPServer second([](const ConsoleRequest&, ConsoleResponse&) {});
  second.SetDefaultPort(taken);
  try {
    second.Activate();
    FAIL() << "bound a taken port";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Could not bind socket. Address and port are already in use.");
  }
  EXPECT_EQ(second.BoundPort(), 0);

  // ::1 taken, 127.0.0.1 free: 127.0.0.1 must not stay bound after the failure.
  v4.close();
  tcp::acceptor v6(context);
  v6.open(tcp::v6());
  v6.set_option(asio::ip::v6_only(true));
  v6.bind({asio::ip::address_v6::loopback(), static_cast<unsigned short>(taken)});
  v6.listen();
  EXPECT_THROW(second.Activate(), Exception);
  tcp::acceptor again(context);
  again.open(tcp::v4());
  std::error_code ec;
  again.bind({asio::ip::address_v4::loopback(), static_cast<unsigned short>(taken)}, ec);
  EXPECT_FALSE(ec) << ec.message();
}

}  // namespace
}  // namespace sv
