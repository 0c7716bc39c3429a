#pragma once
// One accepted connection of the console's listener and the I/O contexts its waits run
// on. A connection reads one request, has it answered by the handler and writes the
// answer, each step bounded by the connection's limits.
#include <asio.hpp>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <stop_token>
#include <string>
#include <system_error>
#include <vector>

#include "console/HttpExchange.h"
#include "platform/SocketCalls.h"

namespace sv {

class HttpRequestReader;

// The time limits of a connection.
struct ConnectionLimits {
  std::chrono::milliseconds idle;  // waiting for any byte, or to write
  std::chrono::milliseconds life;  // from acceptance to the close: reading, handling, writing
};

// I/O contexts kept for later connections, since making one costs several system calls.
// A context comes back with nothing of its last connection left to run; handlers posted
// to it later (an Abort that came late) find their connection gone and do nothing.
class ContextPool {
 public:
  std::unique_ptr<asio::io_context> Take();
  void Give(std::unique_ptr<asio::io_context> context) noexcept;

 private:
  std::mutex mutex_;
  std::vector<std::unique_ptr<asio::io_context>> free_;
};

// A context taken from the pool for one connection's life.
class PooledContext {
 public:
  explicit PooledContext(ContextPool& pool) : pool_(pool), context_(pool.Take()) {}
  ~PooledContext() { pool_.Give(std::move(context_)); }
  PooledContext(const PooledContext&) = delete;
  PooledContext& operator=(const PooledContext&) = delete;
  asio::io_context& operator*() { return *context_; }

 private:
  ContextPool& pool_;
  std::unique_ptr<asio::io_context> context_;
};

// One accepted connection. Its socket is served with plain calls that never wait, and
// goes to an I/O context of its own only when it has to wait, so that every read and
// write can be bounded in time without platform calls. Only the thread that serves it
// uses the socket and the context; another thread may only Abort or Evict it.
class HttpConnection : public std::enable_shared_from_this<HttpConnection> {
 public:
  using SteadyClock = std::chrono::steady_clock;

  // `accepted`: the connection's socket, non-blocking, which it owns from here on.
  // `port`: the console port the connection came in on. `handler` and `contexts`
  // outlive the connection.
  HttpConnection(const RequestHandler& handler, ConnectionLimits limits, ContextPool& contexts,
                 std::uint16_t port, asio::ip::tcp protocol, NativeSocket accepted);
  ~HttpConnection();
  HttpConnection(const HttpConnection&) = delete;
  HttpConnection& operator=(const HttpConnection&) = delete;

  bool Finished() const { return finished_.load(std::memory_order_acquire); }
  bool Evicted() const { return phase_.load(std::memory_order_acquire) == kEvicted; }
  // When the connection is closed at the latest, whatever it is doing.
  SteadyClock::time_point Deadline() const { return deadline_; }
  // Serves the connection to its end; once, on the thread that serves it.
  void Run();
  // Closes a connection that is not served (or no longer): its peer sees the close.
  void Drop();
  // Makes the connection's current and every later I/O fail at once, and stops its
  // request's token, so that a running handler gives up. Any thread.
  void Abort();
  // Closes the connection in whatever phase it is, a request being handled included (its
  // token is stopped); true when it did, false when it was closed so already. Any thread.
  bool Evict();

 private:
  enum Phase { kWaiting, kServing, kLingering, kEvicted };

  void Serve();
  ConsoleResponse Answer(HttpRequestReader& reader, bool& withBody);
  bool Enter(Phase from, Phase to);
  bool ReadRequest(HttpRequestReader& reader, std::vector<char>& chunk);
  void Drain(std::vector<char>& chunk);
  std::chrono::milliseconds Limit() const;
  std::error_code Read(std::vector<char>& chunk, std::size_t& n, std::chrono::milliseconds limit);
  bool Write(const std::string& bytes);
  void ShutdownSend();
  std::error_code ToContext();
  void CloseNow();
  void Close();
  template <typename Call>
  std::error_code TryNow(Call call);
  template <typename Start>
  std::error_code Await(std::chrono::milliseconds limit, std::size_t& n, Start start);

  const RequestHandler& handler_;
  const ConnectionLimits limits_;
  const SteadyClock::time_point deadline_;
  const std::uint16_t port_;
  const asio::ip::tcp protocol_;
  NativeSocket plain_;  // kNoSocket once the socket belongs to socket_, or is closed
  PooledContext pooled_;
  asio::io_context& context_ = *pooled_;
  asio::ip::tcp::socket socket_{context_};
  std::stop_source stop_;
  std::atomic<Phase> phase_{kWaiting};
  std::atomic<bool> aborted_{false};
  std::atomic<bool> finished_{false};
};

}  // namespace sv
