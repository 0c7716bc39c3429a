#pragma once
// TLS for the command channel, over OpenSSL: the client's and the server's settings
// (TTlsContext), one connection's encrypted stream over a non-blocking socket
// (TTlsStream), the pin of a certificate's public key, and a certificate maker.
//
// The stream never waits: each call does what it can at once and says what it waits for,
// so the caller's own loop (idle limit, deadline, Cancel) waits for the socket.
//
// Threads: a context may be shared by the streams of many threads once made; a stream
// belongs to one thread.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

struct ssl_ctx_st;
struct ssl_st;
struct x509_store_ctx_st;

namespace sv {

// What one call of the stream did.
enum class TlsStatus {
  kDone,       // done (a read or write moved bytes)
  kWantRead,   // call again when the socket can be read
  kWantWrite,  // call again when the socket can be written
  kClosed,     // the peer ended the stream (with or without close_notify)
  kFailed,     // the connection failed: TTlsStream::Failure says why
};

class TTlsContext {
 public:
  // A client's context. With a pin (written form, base/KeyPin.h), the server's key must
  // be that one, whatever signed it; without, the server's certificate must verify against
  // the system's roots (platform/TrustStore.h, else OpenSSL's default paths) and name the
  // address connected to. TLS 1.2 at least.
  static std::shared_ptr<TTlsContext> Client(const std::string& pin);
  // A server's context from PEM files: the certificate (chain) and its private key.
  // Raises Exception: "cannot read the certificate 'FILE': REASON", "cannot read the key
  // 'FILE': REASON", "the key 'FILE' does not belong to the certificate 'FILE'".
  static std::shared_ptr<TTlsContext> Server(const std::string& certificateFile, const std::string& keyFile);
  ~TTlsContext();
  TTlsContext(const TTlsContext&) = delete;
  TTlsContext& operator=(const TTlsContext&) = delete;

  // The pin of the certificate a server's context presents; empty for a client's.
  std::string ServerKeyPin() const;

 private:
  friend class TTlsStream;
  TTlsContext(ssl_ctx_st* ctx, std::string pin, bool server);
  ssl_ctx_st* ctx_;
  std::string pin_;  // a client's pin; empty: verify by the roots
  bool server_;
};

class TTlsStream {
 public:
  // A stream over the connected socket `handle` (the native descriptor or SOCKET, in
  // non-blocking mode, owned by the caller). For a client, `host` is the address the
  // server was asked for: its name or IP address is checked in root mode, and a name is
  // sent as the server name.
  TTlsStream(std::shared_ptr<TTlsContext> context, std::uintptr_t handle, const std::string& host = {});
  ~TTlsStream();
  TTlsStream(const TTlsStream&) = delete;
  TTlsStream& operator=(const TTlsStream&) = delete;

  // Runs the handshake as far as it goes: kDone when finished, else what it waits for,
  // or kFailed/kClosed with Failure() set to the client's message for the check that
  // failed (see HandshakeFailure).
  TlsStatus Handshake();
  // Reads at most `size` bytes into `buffer`, `moved` says how many: as many records as
  // have arrived, so a stream of records comes in large pieces. A TCP close with or
  // without close_notify, also within a record, reads as kClosed: the caller's framing
  // knows whether more was due.
  TlsStatus Read(char* buffer, std::size_t size, std::size_t& moved);
  // Writes some of the bytes (whole records, 16 KiB each); after kWantRead/kWantWrite the
  // same bytes must be offered again (they may be at another address).
  TlsStatus Write(const char* buffer, std::size_t size, std::size_t& moved);
  // Sends close_notify once, without waiting for anything.
  void Close();

  // After kFailed: the reason ("TLS handshake failed: ...", or "TLS: ..." for a failed
  // check of the server's key).
  const std::string& Failure() const { return failure_; }
  // After the handshake: the protocol ("TLSv1.3"); and the pin of the key the peer
  // offered, known as soon as its certificate arrived (empty without one).
  std::string Protocol() const;
  const std::string& PeerKeyPin() const { return peerKey_; }
  // After kFailed: the system's code when a socket call failed (a reset), else 0.
  int SystemError() const { return systemError_; }

 private:
  friend class TTlsContext;
  // Checks the server's certificate for a client's handshake (the pin, or the roots).
  static int VerifyCertificate(x509_store_ctx_st* store, void* arg);
  TlsStatus Result(int ret, const char* during);
  std::string HandshakeFailure(const std::string& reason) const;

  std::shared_ptr<TTlsContext> context_;
  ssl_st* ssl_;
  std::string peerKey_;
  std::string failure_;
  bool handshakeDone_ = false;
  bool pinMismatch_ = false;
  long verifyResult_ = 0;  // X509_V_OK unless root verification failed
  int systemError_ = 0;
  TlsStatus held_ = TlsStatus::kDone;  // what a read saw after the bytes it returned
};

// The pin of the public key of a PEM certificate's first certificate; raises Exception
// when the text holds none.
std::string KeyPinOfCertificate(const std::string& pem);

// A certificate and its private key, in PEM.
struct TCertificate {
  std::string certificate;
  std::string key;
};

// What MakeCertificate makes: an EC P-256 key and a certificate for `names` (host names
// or IP addresses; the first is also the common name), valid from `notBefore` to
// `notAfter` seconds from now. Self-signed unless `issuer` is given; `authority` makes
// a CA certificate able to sign others.
struct TCertificateRequest {
  std::vector<std::string> names;
  std::int64_t notBefore = -3600;
  std::int64_t notAfter = std::int64_t{3650} * 24 * 3600;
  const TCertificate* issuer = nullptr;
  bool authority = false;
};
TCertificate MakeCertificate(const TCertificateRequest& request);

}  // namespace sv
