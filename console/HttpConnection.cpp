#include "console/HttpConnection.h"

#include <algorithm>
#include <exception>
#include <string_view>
#include <utility>

#include "console/ConsoleRouter.h"
#include "console/HttpRequestReader.h"
#include "platform/TimedStep.h"

namespace sv {
namespace {

using asio::ip::tcp;

constexpr std::size_t kReadChunk = 16 * 1024;
// After an answer that left bytes unread (a second request, a refused body), input is
// read and dropped for a while before closing, so the peer sees the answer instead of a
// reset; this much at most, and with this limit for each read.
constexpr std::size_t kMaxDrainBytes = 16 * 1024 * 1024;
constexpr std::chrono::milliseconds kDrainWait{2000};

std::chrono::milliseconds Left(HttpConnection::SteadyClock::time_point until) {
  return std::chrono::ceil<std::chrono::milliseconds>(until - HttpConnection::SteadyClock::now());
}

}  // namespace

std::unique_ptr<asio::io_context> ContextPool::Take() {
  std::scoped_lock lock(mutex_);
  if (free_.empty()) return std::make_unique<asio::io_context>();
  std::unique_ptr<asio::io_context> context = std::move(free_.back());
  free_.pop_back();
  return context;
}

void ContextPool::Give(std::unique_ptr<asio::io_context> context) noexcept {
  try {
    context->restart();
    context->poll();
    std::scoped_lock lock(mutex_);
    free_.push_back(std::move(context));
  } catch (...) {  // no memory to keep it: it goes
  }
}

HttpConnection::HttpConnection(const RequestHandler& handler, ConnectionLimits limits, ContextPool& contexts,
                               std::uint16_t port, tcp protocol, NativeSocket accepted)
    : handler_(handler),
      limits_(limits),
      deadline_(SteadyClock::now() + limits.life),
      port_(port),
      protocol_(protocol),
      plain_(accepted),
      pooled_(contexts) {}

HttpConnection::~HttpConnection() { Close(); }

void HttpConnection::Run() {
  try {
    Serve();
  } catch (const std::exception&) {
    // A failure of the connection itself (memory): only this connection ends.
  }
  Drop();
}

void HttpConnection::Drop() {
  Close();
  finished_.store(true, std::memory_order_release);
}

void HttpConnection::Abort() {
  aborted_.store(true, std::memory_order_release);
  stop_.request_stop();
  asio::post(context_, [connection = weak_from_this()] {
    if (const auto c = connection.lock()) c->CloseNow();
  });
}

bool HttpConnection::Evict() {
  for (Phase from : {kWaiting, kServing, kLingering}) {
    if (phase_.compare_exchange_strong(from, kEvicted, std::memory_order_acq_rel)) {
      Abort();
      return true;
    }
  }
  return false;
}

void HttpConnection::Serve() {
  HttpRequestReader reader;
  std::vector<char> chunk(kReadChunk);
  if (!ReadRequest(reader, chunk)) return;
  const auto status = reader.status();
  if (status == HttpRequestReader::Status::kDropped || !Enter(kWaiting, kServing)) return;
  const bool tooLarge = status == HttpRequestReader::Status::kTooLarge;
  bool withBody = true;
  const ConsoleResponse response = Answer(reader, withBody);
  if (!Write(SerializeResponse(response, withBody))) return;
  ShutdownSend();
  if ((tooLarge || reader.HasExtraBytes()) && Enter(kServing, kLingering)) Drain(chunk);
}

// The answer to the request the reader holds; `withBody` false for a HEAD request.
ConsoleResponse HttpConnection::Answer(HttpRequestReader& reader, bool& withBody) {
  if (reader.status() == HttpRequestReader::Status::kTooLarge) return TooLargeResponse(port_);
  ConsoleRequest request = reader.TakeRequest();
  request.localPort = port_;
  request.stop = stop_.get_token();
  withBody = request.command != CommandType::kHead;
  return Dispatch(request, handler_);
}

bool HttpConnection::Enter(Phase from, Phase to) {
  return phase_.compare_exchange_strong(from, to, std::memory_order_acq_rel);
}

// Runs one socket call in non-blocking mode, which sets the code it is given;
// would_block when the call has to wait (try_again and interruptions count so).
template <typename Call>
std::error_code HttpConnection::TryNow(Call call) {
  if (aborted_.load(std::memory_order_acquire)) return asio::error::operation_aborted;
  std::error_code ec;
  call(ec);
  if (ec == asio::error::try_again || ec == asio::error::interrupted || ec == std::errc::operation_would_block) {
    return asio::error::would_block;
  }
  return ec;
}

// Runs one asynchronous operation to its end or until `limit` passes without it ending;
// then the socket is closed and the error is timed_out.
template <typename Start>
std::error_code HttpConnection::Await(std::chrono::milliseconds limit, std::size_t& n, Start start) {
  if (aborted_.load(std::memory_order_acquire)) return asio::error::operation_aborted;
  context_.restart();
  // On time-out the operation ends as aborted, and is let finish.
  const auto outcome = RunTimedStep(context_, limit, start, [this] { CloseNow(); }, Settle::kRun);
  if (!outcome) return asio::error::timed_out;
  n = outcome->bytes;
  return outcome->error;
}

// Feeds the reader until it has a whole request (or refuses one); false when the
// connection broke, stayed idle, was aborted, or reached its deadline: it is closed
// without an answer then.
bool HttpConnection::ReadRequest(HttpRequestReader& reader, std::vector<char>& chunk) {
  while (reader.status() == HttpRequestReader::Status::kNeedMore) {
    const std::chrono::milliseconds limit = Limit();
    if (limit <= std::chrono::milliseconds::zero()) return false;
    std::size_t n = 0;
    const std::error_code ec = Read(chunk, n, limit);
    if (ec == asio::error::eof) {
      reader.Finish();
    } else if (ec) {
      return false;
    } else {
      reader.Feed(std::string_view(chunk.data(), n));
    }
  }
  return true;
}

// Reads and drops input until the peer closes, for a bounded time and amount.
void HttpConnection::Drain(std::vector<char>& chunk) {
  const auto until = SteadyClock::now() + kDrainWait;
  std::size_t total = 0, n = 0;
  while (total < kMaxDrainBytes) {
    const std::chrono::milliseconds left = std::min(Limit(), Left(until));
    if (left <= std::chrono::milliseconds::zero() || Read(chunk, n, left)) return;
    total += n;
  }
}

// How long the next wait may last: the idle limit, within the deadline.
std::chrono::milliseconds HttpConnection::Limit() const { return std::min(limits_.idle, Left(deadline_)); }

// Reads and writes are tried at once: a request that is there already, or an answer
// that fits in the socket's buffer, costs no wait for readiness.
std::error_code HttpConnection::Read(std::vector<char>& chunk, std::size_t& n, std::chrono::milliseconds limit) {
  const std::error_code ec = TryNow([&](std::error_code& e) {
    if (plain_ == kNoSocket) {
      n = socket_.read_some(asio::buffer(chunk), e);
      return;
    }
    n = ReceiveNow(plain_, chunk.data(), chunk.size(), e);
    if (!e && n == 0) e = asio::error::eof;
  });
  if (ec != asio::error::would_block) return ec;
  if (const std::error_code failed = ToContext()) return failed;
  return Await(limit, n, [&](auto done) { socket_.async_read_some(asio::buffer(chunk), done); });
}

// Writes everything; true when it did, false when the socket failed, the connection
// was aborted or a limit passed first.
bool HttpConnection::Write(const std::string& bytes) {
  std::size_t n = 0;
  const std::error_code ec = TryNow([&](std::error_code& e) {
    n = plain_ == kNoSocket ? socket_.write_some(asio::buffer(bytes), e)
                            : SendNow(plain_, bytes.data(), bytes.size(), e);
  });
  if (ec && ec != asio::error::would_block) return false;
  if (!ec && n == bytes.size()) return true;
  const std::chrono::milliseconds limit = Limit();
  if (limit <= std::chrono::milliseconds::zero()) return false;
  if (ToContext()) return false;
  return !Await(limit, n, [&](auto done) { asio::async_write(socket_, asio::buffer(bytes) + n, done); });
}

// Tells the peer that the answer is complete; reading stays open.
void HttpConnection::ShutdownSend() {
  if (plain_ != kNoSocket) {
    ShutdownSending(plain_);
    return;
  }
  std::error_code ignored;
  socket_.shutdown(tcp::socket::shutdown_send, ignored);
}

// Gives the plain socket to the connection's context, to wait on it there.
std::error_code HttpConnection::ToContext() {
  std::error_code ec;
  if (plain_ == kNoSocket) return ec;
  socket_.assign(protocol_, static_cast<tcp::socket::native_handle_type>(plain_), ec);
  if (ec) return ec;  // still plain: closed by Close
  plain_ = kNoSocket;
  socket_.non_blocking(true, ec);  // reads and writes are still tried first (TryNow)
  return ec;
}

// Ends the operation under way on the socket at once and closes it. The cancel comes
// first: a send that the peer does not read may otherwise be kept until it drains.
void HttpConnection::CloseNow() {
  std::error_code ignored;
  socket_.cancel(ignored);
  socket_.close(ignored);
}

void HttpConnection::Close() {
  if (plain_ != kNoSocket) CloseSocket(std::exchange(plain_, kNoSocket));
  std::error_code ignored;
  socket_.close(ignored);
}

}  // namespace sv
