#include "tls/Tls.h"

#include <asio.hpp>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "base/Exception.h"
#include "tests/support/TempDir.h"

namespace sv {
namespace {

using asio::ip::tcp;

// A certificate made and pinned with the openssl command (its key thrown away).
constexpr const char* kKnownCertificate = R"(-----BEGIN CERTIFICATE-----
MIIBejCCASGgAwIBAgIUY3fbIucMIqnjPZs0WH0mCqVBOqEwCgYIKoZIzj0EAwIw
EzERMA8GA1UEAwwIcGluLnRlc3QwHhcNMjYxMjA4MjMzMjI1WhcNMzYxMjA1MjMz
MjI1WjATMREwDwYDVQQDDAhwaW4udGVzdDBZMBMGByqGSM49AgEGCCqGSM49AwEH
A0IABJg/mWS9QEBMPKhZq+mLzvcFiLX4zq9wrSjAY9Z7tDVBks1cHpYM4VPKmhMs
uf112R3q+UvGLpQOviHqYnmjNx+jUzBRMB0GA1UdDgQWBBRtp/l1TKhVH2fAOgpq
kU7vaY7FyzAfBgNVHSMEGDAWgBRtp/l1TKhVH2fAOgpqkU7vaY7FyzAPBgNVHRMB
Af8EBTADAQH/MAoGCCqGSM49BAMCA0cAMEQCIDMFRMGq576z1g3lxC/wV+ulFVFk
qbks5DyY8FGY8HBCAiAuaHYIAm9l23YsaWTfrIEgACYxjq0zpVy5/yZmYCt4ZA==
-----END CERTIFICATE-----
)";

TEST(KeyPin, OfAKnownCertificate) {
  EXPECT_EQ(KeyPinOfCertificate(kKnownCertificate), "b7bb15994c790c0ee3cdc63cbce71387620b8ff1f64cf6a0f3b2faca0eb4cbe2");
}

// Two ends of one loopback connection, non-blocking, with a server's and a client's
// stream over them.
class Handshake : public ::testing::Test {
 protected:
  void SetUp() override {
    const TCertificate made = MakeCertificate({.names = {"localhost", "127.0.0.1"}});
    test::WriteFile(dir_ / "c.pem", made.certificate);
    test::WriteFile(dir_ / "k.pem", made.key);
    serverContext_ = TTlsContext::Server(dir_ / "c.pem", dir_ / "k.pem");
    tcp::acceptor acceptor(io_, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    client_.connect(acceptor.local_endpoint());
    acceptor.accept(server_);
    client_.non_blocking(true);
    server_.non_blocking(true);
  }

  // Runs both handshakes until neither can go on; returns the client's last status.
  TlsStatus Run(TTlsStream& client, TTlsStream& server) {
    TlsStatus c = TlsStatus::kWantWrite, s = TlsStatus::kWantRead;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    const auto going = [](TlsStatus t) { return t == TlsStatus::kWantRead || t == TlsStatus::kWantWrite; };
    while ((going(c) || going(s)) && std::chrono::steady_clock::now() < until) {
      if (going(c)) c = client.Handshake();
      if (going(s)) s = server.Handshake();
      if (c == TlsStatus::kFailed) break;
      std::this_thread::yield();
    }
    return c;
  }

  test::TempDir dir_;
  asio::io_context io_;
  tcp::socket client_{io_}, server_{io_};
  std::shared_ptr<TTlsContext> serverContext_;
};

TEST_F(Handshake, WithThePinnedKeyCarriesDataAndEndsAtTheClose) {
  TTlsStream server(serverContext_, server_.native_handle());
  TTlsStream client(TTlsContext::Client(serverContext_->ServerKeyPin()), client_.native_handle(), "127.0.0.1");
  ASSERT_EQ(Run(client, server), TlsStatus::kDone) << client.Failure();
  EXPECT_EQ(client.PeerKeyPin(), serverContext_->ServerKeyPin());
  EXPECT_EQ(client.Protocol(), "TLSv1.3");
  std::size_t moved = 0;
  ASSERT_EQ(server.Write("hello", 5, moved), TlsStatus::kDone);
  char buffer[16];
  // Reads until something other than a wait comes, for at most 10 s.
  const auto read = [&] {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    TlsStatus status = TlsStatus::kWantRead;
    while (status == TlsStatus::kWantRead && std::chrono::steady_clock::now() < until)
      status = client.Read(buffer, sizeof buffer, moved);
    return status;
  };
  ASSERT_EQ(read(), TlsStatus::kDone);
  EXPECT_EQ(std::string(buffer, moved), "hello");
  server_.close();  // no close_notify: still the end of the stream
  EXPECT_EQ(read(), TlsStatus::kClosed);
}

TEST_F(Handshake, WithAnotherPinFailsNamingBothKeys) {
  TTlsStream server(serverContext_, server_.native_handle());
  const std::string pin(64, 'a');
  TTlsStream client(TTlsContext::Client(pin), client_.native_handle(), "127.0.0.1");
  ASSERT_EQ(Run(client, server), TlsStatus::kFailed);
  EXPECT_EQ(client.Failure(), "TLS: the server's key does not match the pinned key (offered " +
                                  serverContext_->ServerKeyPin() + ", pinned " + pin + ").");
}

TEST(TlsServerContext, RefusesUnreadableFilesAndAForeignKey) {
  test::TempDir dir;
  const TCertificate a = MakeCertificate({.names = {"a"}}), b = MakeCertificate({.names = {"b"}});
  test::WriteFile(dir / "a.crt", a.certificate);
  test::WriteFile(dir / "b.key", b.key);
  const auto failure = [&](const std::string& cert, const std::string& key) {
    try {
      TTlsContext::Server(dir.path() + cert, dir.path() + key);
    } catch (const Exception& e) {
      return std::string(e.what());
    }
    return std::string("no failure");
  };
  EXPECT_EQ(failure("/none.crt", "/b.key"),
            "cannot read the certificate '" + dir / "none.crt': No such file or directory");
  EXPECT_EQ(failure("/a.crt", "/none.key"), "cannot read the key '" + dir / "none.key': No such file or directory");
  EXPECT_EQ(failure("/a.crt", "/b.key"),
            "the key '" + dir / "b.key' does not belong to the certificate '" + dir / "a.crt'");
}

}  // namespace
}  // namespace sv
