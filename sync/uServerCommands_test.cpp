#include "sync/uServerCommands.h"

#include <gtest/gtest.h>

#include <future>
#include <thread>

#include "sync/Failure_test.h"
#include "sync/ScriptedPeer_test.h"
#include "tests/support/OsErrors.h"

namespace sv {
namespace {

using test::Greet;
using test::PeerLink;
using test::ScriptedPeer;

using test::MessageOf;

// A client pointed at the peer.
struct Client {
  explicit Client(const ScriptedPeer& peer) {
    tcp.Host = "127.0.0.1";
    tcp.Port = peer.Port();
  }
  TsvTCPClient tcp;
};

TEST(ProtocolWords, TableHoldsTheSeventeenTextsInOrder) {
  EXPECT_EQ(kProtocolWords[pwHello], "Hello");
  EXPECT_EQ(kProtocolWords[pwSync], "Sync");
  EXPECT_EQ(kProtocolWords[pwOk], "200 Ok");
  EXPECT_EQ(kProtocolWords[pwGetFile], "GetFile");
  EXPECT_EQ(kProtocolWords[pwServerAddress], "serveradress");
  EXPECT_EQ(kProtocolWords[pwSettingsPath], "\\drumel\\sorvana\\svClient.xml");
  EXPECT_EQ(kProtocolWords[pwServerSettingsName], "svServer.xml");
}

TEST(Channel, PipeliningIsOfferedByTheTokenAsAWordOfItsOwn) {
  const std::pair<std::vector<std::string>, bool> cases[] = {
      {{"ready +pipelining"}, true},   {{"+pipelining"}, true},   {{"welcome", "+pipelining now"}, true},
      {{"ready"}, false},              {{"ready +pipelining2"}, false}, {{"x+pipelining"}, false},
      {{"ready +PIPELINING"}, false},
  };
  for (const auto& [text, offered] : cases) {
    TReply greeting;
    greeting.text = text;
    EXPECT_EQ(OffersPipelining(greeting), offered) << text.back();
  }
}

TEST(Channel, OpenReadsAMultiLineGreetingAfterBlankLinesAndSendsHello) {
  ScriptedPeer peer({[](PeerLink& p) {
    p.Send("\r\n   \r\n200-Welcome\r\n200-second line\r\n200 ready\r\n");
    EXPECT_EQ(p.ReadLine(), "Hello");
    p.Send("201\r\n");
  }});
  Client c(peer);
  EXPECT_TRUE(OpenServerChannel(c.tcp));
  EXPECT_TRUE(c.tcp.Connected());
  EXPECT_EQ(MessageOf([&] { OpenServerChannel(c.tcp); }), "Already connected.");
  CloseServerChannel(c.tcp);
  CloseServerChannel(c.tcp);  // closing twice does nothing
  peer.Join();
  EXPECT_EQ(peer.Error(), "");
  EXPECT_EQ(peer.Received()[0], "Hello\r\n");
}

TEST(Channel, WrongGreetingClosesAndTheNextOpenIsAFreshConnection) {
  ScriptedPeer peer({[](PeerLink& p) { p.Send("220 Service ready\r\n201 stale\r\n"); }, Greet});
  Client c(peer);
  EXPECT_EQ(MessageOf([&] { OpenServerChannel(c.tcp); }), "Service ready\r\n");
  EXPECT_FALSE(c.tcp.Connected());
  // The stale line of the first connection must not be read on the second.
  EXPECT_TRUE(OpenServerChannel(c.tcp));
  CloseServerChannel(c.tcp);
  peer.Join();
  EXPECT_EQ(peer.Received()[0], "");
  EXPECT_EQ(peer.Received()[1], "Hello\r\n");
}

TEST(Channel, FailuresBeforeAnyNetworkActivity) {
  TsvTCPClient tcp;
  EXPECT_EQ(MessageOf([&] { OpenServerChannel(tcp); }), "");  // no server address
  tcp.Host = "127.0.0.1";
  tcp.Port = 0;
  EXPECT_EQ(MessageOf([&] { OpenServerChannel(tcp); }), "");
  EXPECT_EQ(MessageOf([&] { SendCommand(tcp, "Hello", 201); }), "Not connected.");
  EXPECT_EQ(MessageOf([&] { ExpectReply(tcp, 200); }), "Not connected.");
}

TEST(Channel, RefusedConnectionIsASocketError) {
  int port = 0;
  {
    asio::io_context io;
    asio::ip::tcp::acceptor a(io, asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    port = a.local_endpoint().port();
  }
  TsvTCPClient tcp;
  tcp.Host = "127.0.0.1";
  tcp.Port = port;
  EXPECT_EQ(MessageOf([&] { OpenServerChannel(tcp); }), test::SocketErrorMessage(test::kConnectionRefused));
  EXPECT_FALSE(tcp.Connected());
}

TEST(Channel, FramedDocumentsTravelUnchangedBothWays) {
  const std::string doc("line one\r\n\x8a\x9e\xff\r\n\x00 end", 20);
  ScriptedPeer peer({[&](PeerLink& p) {
    Greet(p);
    EXPECT_EQ(p.ReadLine(), "Sync drumel");
    p.Send("202 send listing\r\n");
    EXPECT_EQ(p.ReadFramed(), doc);
    EXPECT_EQ(p.ReadFramed(), "");
    // A document, then an empty one directly followed by the next reply.
    p.Send(std::to_string(doc.size()) + "\r\n" + doc + "0\r\n203 next\r\n  12\r\nabc\r\ndef\r\n\r\n");
  }});
  Client c(peer);
  OpenServerChannel(c.tcp);
  EXPECT_EQ(SendCommand(c.tcp, "Sync drumel", 202), 202);
  WriteFramedDocument(c.tcp, doc);
  WriteFramedDocument(c.tcp, "");
  std::string got;
  ReadFramedDocument(c.tcp, got);
  EXPECT_EQ(got, doc);
  std::string empty;
  ReadFramedDocument(c.tcp, empty);
  EXPECT_EQ(empty, "");
  EXPECT_EQ(ExpectReply(c.tcp, 203), 203);
  std::string streamed;
  ReadFramedDocument(c.tcp, [&](const char* d, std::size_t n) { streamed.append(d, n); });
  EXPECT_EQ(streamed, "abc\r\ndef\r\n\r\n");
  CloseServerChannel(c.tcp);
  peer.Join();
  EXPECT_EQ(peer.Error(), "");
  EXPECT_EQ(peer.Received()[0], "Hello\r\nSync drumel\r\n20\r\n" + doc + "0\r\n");
}

TEST(Channel, OversizedOrNegativeLengthFailsBeforeReadingTheDocument) {
  ScriptedPeer peer({[](PeerLink& p) {
    Greet(p);
    p.Send("300000000\r\n-1\r\n12 bytes\r\n");
  }});
  Client c(peer);
  OpenServerChannel(c.tcp);
  std::string out;
  EXPECT_EQ(MessageOf([&] { ReadFramedDocument(c.tcp, out); }), "'300000000' is not a valid integer value");
  EXPECT_EQ(MessageOf([&] { ReadFramedDocument(c.tcp, out); }), "'-1' is not a valid integer value");
  // Even the unbounded form refuses a negative length; this line is no number at all.
  EXPECT_EQ(MessageOf([&] { ReadFramedDocument(c.tcp, [](const char*, std::size_t) {}); }),
            "'12 bytes' is not a valid integer value");
  EXPECT_EQ(out, "");
  CloseServerChannel(c.tcp);
}

TEST(Channel, PeerClosingInsideADocumentFailsGracefully) {
  ScriptedPeer peer({[](PeerLink& p) {
    Greet(p);
    p.Send("10\r\nabc");
    p.Close();
  }});
  Client c(peer);
  OpenServerChannel(c.tcp);
  std::string out;
  EXPECT_EQ(MessageOf([&] { ReadFramedDocument(c.tcp, out); }), "Connection Closed Gracefully.");
  CloseServerChannel(c.tcp);
}

TEST(Channel, SilentPeerTimesOutWithTheLoweredLimit) {
  ScriptedPeer peer({[](PeerLink&) {}});  // accepts and never greets
  Client c(peer);
  c.tcp.SetTimeouts(std::chrono::seconds(5), std::chrono::milliseconds(200));
  EXPECT_EQ(MessageOf([&] { OpenServerChannel(c.tcp); }), test::SocketErrorMessage(test::kTimedOut));
  EXPECT_FALSE(c.tcp.Connected());
  peer.Join();
}

TEST(Channel, ConnectThatIsNotAnsweredTimesOut) {
  // A listener that never accepts, its queue filled: further connection requests go
  // unanswered, so the connect waits until the lowered limit ends it.
  asio::io_context io;
  asio::ip::tcp::acceptor silent(io);
  silent.open(asio::ip::tcp::v4());
  silent.bind(asio::ip::tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
  silent.listen(0);
  std::vector<std::unique_ptr<TsvTCPClient>> fillers;
  std::string message;
  for (int i = 0; i < 8 && message.empty(); ++i) {
    auto tcp = std::make_unique<TsvTCPClient>();
    tcp->Host = "127.0.0.1";
    tcp->Port = silent.local_endpoint().port();
    tcp->SetTimeouts(std::chrono::milliseconds(300), std::chrono::milliseconds(300));
    try {
      tcp->Connect();
    } catch (const Exception& e) {
      message = e.Message();
    }
    fillers.push_back(std::move(tcp));
  }
  EXPECT_EQ(message, test::SocketErrorMessage(test::kTimedOut));
  EXPECT_FALSE(fillers.back()->Connected());
}

TEST(Channel, WriteThatMakesNoProgressTimesOut) {
  std::promise<void> release;
  std::shared_future<void> released = release.get_future().share();
  ScriptedPeer peer({[released](PeerLink& p) {
    Greet(p);
    p.ReadLine();
    released.wait();  // reads nothing more until the test is done
  }});
  Client c(peer);
  OpenServerChannel(c.tcp);
  c.tcp.SetTimeouts(std::chrono::seconds(5), std::chrono::milliseconds(200));
  c.tcp.WriteLine("Sync big");
  // Far more than the socket buffers hold: the writes stall.
  const std::string big(64 << 20, 'x');
  EXPECT_EQ(MessageOf([&] { WriteFramedDocument(c.tcp, big); }), test::SocketErrorMessage(test::kTimedOut));
  release.set_value();
  CloseServerChannel(c.tcp);
}

TEST(Channel, CancelFromAnotherThreadUnblocksAReadUntilTheNextOpen) {
  ScriptedPeer peer({Greet, Greet});  // the first falls silent after the handshake
  Client c(peer);
  OpenServerChannel(c.tcp);
  std::thread watcher([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    c.tcp.Cancel();
  });
  const std::string cancelled = test::SocketErrorMessage(test::kCancelled);
  EXPECT_EQ(MessageOf([&] { ExpectReply(c.tcp, 202); }), cancelled);
  watcher.join();
  EXPECT_TRUE(c.tcp.Cancelled());
  EXPECT_EQ(MessageOf([&] { SendCommand(c.tcp, "Sync x", 202); }), cancelled);
  CloseServerChannel(c.tcp);
  EXPECT_TRUE(OpenServerChannel(c.tcp));
  EXPECT_FALSE(c.tcp.Cancelled());
  CloseServerChannel(c.tcp);
  peer.Join();
  EXPECT_EQ(peer.Received()[0], "Hello\r\n");
}

}  // namespace
}  // namespace sv
