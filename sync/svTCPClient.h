#pragma once
// TsvTCPClient: the client's TCP connection to the synchronisation server (the
// controller's svTCPClient). Blocking calls over IPv4, with the program's own time-outs:
// a connect that has not succeeded within the connect limit, and a read or write that
// makes no progress within the idle limit, fail with ETIMEDOUT.
//
// Threads: the main thread makes every call except Cancel, which any thread may make.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "base/Exception.h"
#include "base/SyncStatus.h"
#include "sync/LineReader.h"

namespace sv {

// A failure of the socket layer: "Socket Error # %d\r\n%s" with the system's error
// number and its text ("Connection refused.", "Host not found.", ...).
class ESocketError : public Exception {
 public:
  ESocketError(int error, const std::string& text);
  int Error() const { return error_; }

 private:
  int error_;
};

// The connection was cancelled through TsvTCPClient::Cancel.
class ECancelled : public ESocketError {
 public:
  ECancelled();
};

// The limits of the program's own; TsvTCPClient::SetTimeouts lowers them for tests.
constexpr std::chrono::milliseconds kConnectTimeout = std::chrono::seconds(30);
constexpr std::chrono::milliseconds kIdleTimeout = std::chrono::seconds(120);

class TsvTCPClient {
 public:
  TsvTCPClient();
  ~TsvTCPClient();
  TsvTCPClient(const TsvTCPClient&) = delete;
  TsvTCPClient& operator=(const TsvTCPClient&) = delete;

  // Server address (host name or dotted IPv4 address) and port, read at each Connect.
  std::string Host;
  int Port = 1974;
  // TLS, read at each Connect: when required, the whole exchange runs inside TLS, and the
  // server's key must match TlsPin (written form, base/KeyPin.h) when one is set, else its
  // certificate must verify against the system's roots and name Host.
  bool TlsRequired = false;
  std::string TlsPin;
  // Whether the server's greeting offered pipelining (OpenServerChannel sets it; a
  // Connect clears it).
  bool PipeliningOffered = false;

  // Resolves Host over IPv4 and connects, with empty input buffers and the cancelled
  // state cleared; with TLS required, runs the handshake too, all within the connect
  // limit. Raises ESocketError (ETIMEDOUT after the connect limit), or Exception with the
  // TLS check that failed (tls/Tls.h); the connection is then closed.
  void Connect();
  // Closes the connection; nothing when it is not open.
  void Disconnect();
  bool Connected() const { return connected_; }
  // How the current (or last) connection is protected; not encrypted before a handshake.
  const TConnectionSecurity& Security() const { return security_; }

  // Writes all the bytes. Raises "Not connected." when
  // closed, EClosedGracefully when the peer has closed, ESocketError otherwise.
  void Write(std::string_view bytes);
  // Writes the text followed by CR LF.
  void WriteLine(std::string_view text);
  // Line and byte reads with the rules of TLineReader; "Not connected." when closed.
  std::string ReadLine();
  void ReadExactly(std::uint64_t count, const ByteSink& sink);
  void ReadExactly(std::uint64_t count, TByteTarget& target);

  // Any thread: marks the client cancelled and makes a blocked connect, read or write
  // return at once with ECancelled; every later call fails the same way until the next
  // Connect.
  void Cancel();
  bool Cancelled() const { return cancelled_.load(); }

  // Test hook: lowers (or raises) the connect and idle limits of this client.
  void SetTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds idle);

 private:
  struct Impl;
  void RequireConnected() const;
  enum class Direction { Read, Write };
  // Whether a read wants every byte it may get (content) or only some (a line).
  enum class Want { Some, All };
  std::size_t ReadSome(char* buffer, std::size_t capacity, Want want = Want::Some);
  // One read or write of at most `size` bytes; returns how many moved. A read that
  // wants all waits, when it must wait, until many of them are there.
  std::size_t Transfer(Direction direction, char* buffer, std::size_t size, Want want = Want::Some);
  // The same through TLS: what moved, or 0 with `wait` set to what the stream waits for.
  std::size_t TlsTransfer(Direction direction, char* buffer, std::size_t size, std::optional<Direction>& wait);
  // Waits for the socket to be ready for `direction`, at most `limit`; raises on time-out
  // or Cancel.
  void Await(Direction direction, std::chrono::milliseconds limit);
  void Handshake(std::chrono::steady_clock::time_point deadline);

  std::unique_ptr<Impl> impl_;
  TLineReader reader_;
  TConnectionSecurity security_;
  bool connected_ = false;
  int lowWatermark_ = 1;  // the socket's receive low-water mark
  std::atomic<bool> cancelled_{false};
  std::chrono::milliseconds connectTimeout_ = kConnectTimeout;
  std::chrono::milliseconds idleTimeout_ = kIdleTimeout;
};

}  // namespace sv
