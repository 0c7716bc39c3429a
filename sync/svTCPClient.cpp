#include "sync/svTCPClient.h"

#include <asio.hpp>

#include <system_error>

#include "base/Messages.h"
#include "base/Text.h"
#include "platform/FileSystem.h"
#include "platform/TimedStep.h"
#include "tls/Tls.h"

namespace sv {

namespace {

// The system's number for one of Asio's errors: errno on Linux, a Windows Sockets code
// on Windows.
int SystemCode(asio::error::basic_errors e) { return asio::error_code(e).value(); }

// The system's text for an error number as the socket layer shows it: "Connection refused."
std::string SocketText(int error) { return fs::ErrorText(error) + "."; }

// What a failed step raises: a socket error, or a failed name lookup.
enum class StepKind { Socket, Lookup };

// Translates an Asio failure where it enters; a closed peer is not a socket error. Every
// failure of a name lookup reads "Host not found." (the category cannot tell them:
// Windows reports lookups in the system category).
[[noreturn]] void RaiseSocketError(const asio::error_code& ec, StepKind kind = StepKind::Socket) {
  if (ec == asio::error::eof || ec == asio::error::broken_pipe) throw EClosedGracefully();
  if (kind == StepKind::Lookup) throw ESocketError(ec.value(), "Host not found.");
  throw ESocketError(ec.value(), SocketText(ec.value()));
}

}  // namespace

ESocketError::ESocketError(int error, const std::string& text)
    : Exception(Format(msg::kSocketError, error, text)), error_(error) {}

ECancelled::ECancelled()
    : ESocketError(SystemCode(asio::error::operation_aborted), SocketText(SystemCode(asio::error::operation_aborted))) {}

struct TsvTCPClient::Impl {
  asio::io_context io;
  asio::ip::tcp::socket socket{io};
  asio::ip::tcp::resolver resolver{io};
  std::unique_ptr<TTlsStream> tls;  // when the connection runs inside TLS

  // Starts one asynchronous step with `start` (given the handler to complete) and runs
  // it for at most `limit`. On time-out or cancellation the step is aborted with `abort`
  // and the matching failure raised; a failed step raises its socket error (a failed
  // name lookup for a lookup step).
  template <typename Start, typename Abort>
  std::size_t Step(const std::atomic<bool>& cancelled, std::chrono::milliseconds limit,
                   Start start, Abort abort, StepKind kind = StepKind::Socket) {
    io.restart();
    // Checked after restart: a Cancel before this point is seen here, one after it
    // stops the run below.
    if (cancelled.load()) throw ECancelled();
    const auto outcome = RunTimedStep(io, limit, start, abort, Settle::kPoll);  // a late lookup may not end
    if (!outcome) {
      if (cancelled.load()) throw ECancelled();
      throw ESocketError(SystemCode(asio::error::timed_out), SocketText(SystemCode(asio::error::timed_out)));
    }
    if (outcome->error) RaiseSocketError(outcome->error, kind);
    return outcome->bytes;
  }

  void CloseSocket() {
    tls.reset();
    asio::error_code ignored;
    socket.shutdown(asio::ip::tcp::socket::shutdown_both, ignored);
    socket.close(ignored);
  }
};

TsvTCPClient::TsvTCPClient()
    : impl_(std::make_unique<Impl>()),
      reader_([this](char* buffer, std::size_t capacity) { return ReadSome(buffer, capacity); },
              [this](char* buffer, std::size_t capacity) { return ReadSome(buffer, capacity, Want::All); }) {}

TsvTCPClient::~TsvTCPClient() { Disconnect(); }

void TsvTCPClient::SetTimeouts(std::chrono::milliseconds connect, std::chrono::milliseconds idle) {
  connectTimeout_ = connect;
  idleTimeout_ = idle;
}

void TsvTCPClient::Connect() {
  Disconnect();
  cancelled_.store(false);
  reader_.Clear();
  PipeliningOffered = false;
  security_ = {};
  lowWatermark_ = 1;
  using asio::ip::tcp;
  const auto deadline = std::chrono::steady_clock::now() + connectTimeout_;
  const auto left = [&] {
    return std::max(std::chrono::milliseconds(0),
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now()));
  };
  auto found = std::make_shared<tcp::resolver::results_type>();
  impl_->Step(cancelled_, left(),
              [&](auto done) {
                impl_->resolver.async_resolve(tcp::v4(), Host, std::to_string(Port),
                                              [found, done](const asio::error_code& ec, tcp::resolver::results_type r) {
                                                *found = std::move(r);
                                                done(ec, 0);
                                              });
              },
              [&] { impl_->resolver.cancel(); }, StepKind::Lookup);
  impl_->Step(cancelled_, left(),
              [&](auto done) {
                asio::async_connect(impl_->socket, *found,
                                    [done](const asio::error_code& ec, const tcp::endpoint&) { done(ec, 0); });
              },
              [&] { impl_->CloseSocket(); });
  asio::error_code ignored;
  // Lines and small documents go out at once rather than waiting for the peer's ACK.
  impl_->socket.set_option(tcp::no_delay(true), ignored);
  // Reads and writes are tried before any wait (Transfer).
  impl_->socket.non_blocking(true, ignored);
  if (TlsRequired) Handshake(deadline);
  connected_ = true;
}

void TsvTCPClient::Handshake(std::chrono::steady_clock::time_point deadline) {
  try {
    impl_->tls = std::make_unique<TTlsStream>(TTlsContext::Client(TlsPin),
                                              static_cast<std::uintptr_t>(impl_->socket.native_handle()), Host);
    for (;;) {
      const TlsStatus status = impl_->tls->Handshake();
      if (status == TlsStatus::kDone) break;
      if (status != TlsStatus::kWantRead && status != TlsStatus::kWantWrite) throw Exception(impl_->tls->Failure());
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      Await(status == TlsStatus::kWantRead ? Direction::Read : Direction::Write,
            std::max(std::chrono::milliseconds(0), left));
    }
  } catch (...) {
    impl_->CloseSocket();
    throw;
  }
  security_ = {true, impl_->tls->Protocol(), impl_->tls->PeerKeyPin()};
}

void TsvTCPClient::Disconnect() {
  if (impl_->tls && connected_ && !cancelled_.load()) impl_->tls->Close();  // close_notify, if it fits
  impl_->CloseSocket();
  connected_ = false;
}

void TsvTCPClient::Cancel() {
  // The flag first: the main thread tests it after any stopped run.
  cancelled_.store(true);
  impl_->io.stop();
}

void TsvTCPClient::RequireConnected() const {
  if (cancelled_.load()) throw ECancelled();
  if (!connected_) throw Exception(msg::kNotConnected);
}

void TsvTCPClient::Write(std::string_view bytes) {
  RequireConnected();
  while (!bytes.empty()) bytes.remove_prefix(Transfer(Direction::Write, const_cast<char*>(bytes.data()), bytes.size()));
}

void TsvTCPClient::WriteLine(std::string_view text) {
  std::string line;
  line.reserve(text.size() + 2);
  line.append(text).append("\r\n");
  Write(line);
}

std::size_t TsvTCPClient::ReadSome(char* buffer, std::size_t capacity, Want want) {
  RequireConnected();
  try {
    return Transfer(Direction::Read, buffer, capacity, want);
  } catch (const EClosedGracefully&) {
    return 0;  // the end of the stream; the reader raises for what it was waiting for
  }
}

std::size_t TsvTCPClient::Transfer(Direction direction, char* buffer, std::size_t size, Want want) {
  const bool read = direction == Direction::Read;
  // The call is tried at once; only one that would block waits for the socket to be
  // ready (with the idle limit), so data already there costs no readiness wait.
  for (;;) {
    if (impl_->tls) {
      // TLS waits for the first byte: a watermark could outwait the rest of a record
      // whose start OpenSSL has already read.
      std::optional<Direction> wait;
      const std::size_t n = TlsTransfer(direction, buffer, size, wait);
      if (!wait) return n;
      Await(*wait, idleTimeout_);
      continue;
    }
    asio::error_code ec;
    const std::size_t n = read ? impl_->socket.read_some(asio::buffer(buffer, size), ec)
                               : impl_->socket.write_some(asio::buffer(buffer, size), ec);
    if (!ec) return n;
    if (ec != asio::error::would_block && ec != asio::error::try_again && ec != asio::error::interrupted)
      RaiseSocketError(ec);
    // Content all wanted is waited for until a chunk's worth is there (or what is left
    // of it), so that a large file arrives in few large reads; other reads wake at the
    // first byte. Where the system ignores the mark, reads wake at the first byte.
    const int mark = want == Want::All ? static_cast<int>(std::min(size, TLineReader::kChunkSize)) : 1;
    if (read && mark != lowWatermark_) {
      asio::error_code ignored;
      impl_->socket.set_option(asio::socket_base::receive_low_watermark(mark), ignored);
      lowWatermark_ = mark;
    }
    Await(direction, idleTimeout_);
  }
}

std::size_t TsvTCPClient::TlsTransfer(Direction direction, char* buffer, std::size_t size,
                                      std::optional<Direction>& wait) {
  std::size_t moved = 0;
  TTlsStream& tls = *impl_->tls;
  const TlsStatus status =
      direction == Direction::Read ? tls.Read(buffer, size, moved) : tls.Write(buffer, size, moved);
  switch (status) {
    case TlsStatus::kDone:
      return moved;
    case TlsStatus::kWantRead:
      wait = Direction::Read;
      return 0;
    case TlsStatus::kWantWrite:
      wait = Direction::Write;
      return 0;
    case TlsStatus::kClosed:  // the end of the stream, as over TCP
      throw EClosedGracefully();
    case TlsStatus::kFailed:
      break;
  }
  if (tls.SystemError() != 0) RaiseSocketError(asio::error_code(tls.SystemError(), asio::system_category()));
  throw Exception(tls.Failure());
}

void TsvTCPClient::Await(Direction direction, std::chrono::milliseconds limit) {
  using asio::ip::tcp;
  const auto wait = direction == Direction::Read ? tcp::socket::wait_read : tcp::socket::wait_write;
  impl_->Step(
      cancelled_, limit,
      [&](auto done) { impl_->socket.async_wait(wait, [done](const asio::error_code& e) { done(e, 0); }); },
      [&] { impl_->CloseSocket(); });
  if (cancelled_.load()) throw ECancelled();
}

std::string TsvTCPClient::ReadLine() {
  RequireConnected();
  return reader_.ReadLine();
}

void TsvTCPClient::ReadExactly(std::uint64_t count, const ByteSink& sink) {
  RequireConnected();
  reader_.ReadExactly(count, sink);
}

void TsvTCPClient::ReadExactly(std::uint64_t count, TByteTarget& target) {
  RequireConnected();
  reader_.ReadExactly(count, target);
}

}  // namespace sv
