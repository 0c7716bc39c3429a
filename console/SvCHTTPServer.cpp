#include "console/SvCHTTPServer.h"

#include <asio.hpp>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <mutex>
#include <stop_token>
#include <thread>
#include <utility>
#include <vector>

#include "base/Exception.h"
#include "base/Messages.h"
#include "console/ConsoleAccess.h"
#include "console/ConsoleRouter.h"
#include "console/HttpRequestReader.h"
#include "platform/ListenAddress.h"
#include "platform/SocketCalls.h"

namespace sv {
namespace {

using asio::ip::tcp;

constexpr int kBacklog = 15;
constexpr std::size_t kReadChunk = 16 * 1024;
// After an answer that left bytes unread (a second request, a refused body), input is
// read and dropped for a while before closing, so the peer sees the answer instead of a
// reset; this much at most, and with this limit for each read.
constexpr std::size_t kMaxDrainBytes = 16 * 1024 * 1024;
constexpr std::chrono::milliseconds kDrainWait{2000};

// The time limits of a connection.
struct Limits {
  std::chrono::milliseconds idle;  // waiting for any byte, or to write
  std::chrono::milliseconds life;  // from acceptance to the close: reading, handling, writing
};

using SteadyClock = std::chrono::steady_clock;

// I/O contexts kept for later connections, since making one costs several system calls.
// A context comes back with nothing of its last connection left to run; handlers posted
// to it later (an Abort that came late) find their connection gone and do nothing.
class ContextPool {
 public:
  std::unique_ptr<asio::io_context> Take() {
    std::scoped_lock lock(mutex_);
    if (free_.empty()) return std::make_unique<asio::io_context>();
    std::unique_ptr<asio::io_context> context = std::move(free_.back());
    free_.pop_back();
    return context;
  }
  void Give(std::unique_ptr<asio::io_context> context) noexcept {
    try {
      context->restart();
      context->poll();
      std::scoped_lock lock(mutex_);
      free_.push_back(std::move(context));
    } catch (...) {  // no memory to keep it: it goes
    }
  }

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
class Connection : public std::enable_shared_from_this<Connection> {
 public:
  // `accepted`: the connection's socket, non-blocking, which it owns from here on.
  // `port`: the console port the connection came in on.
  Connection(const RequestHandler& handler, Limits limits, ContextPool& contexts, std::uint16_t port,
             tcp protocol, NativeSocket accepted)
      : handler_(handler),
        limits_(limits),
        deadline_(SteadyClock::now() + limits.life),
        port_(port),
        protocol_(protocol),
        plain_(accepted),
        pooled_(contexts) {}
  ~Connection() { Close(); }
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  bool Finished() const { return finished_.load(std::memory_order_acquire); }
  bool Evicted() const { return phase_.load(std::memory_order_acquire) == kEvicted; }
  // When the connection is closed at the latest, whatever it is doing.
  SteadyClock::time_point Deadline() const { return deadline_; }
  // Serves the connection to its end; once, on a worker of the pool.
  void Run() {
    try {
      Serve();
    } catch (const std::exception&) {
      // A failure of the connection itself (memory): only this connection ends.
    }
    Drop();
  }
  // Closes a connection that is not served (or no longer): its peer sees the close.
  void Drop() {
    Close();
    finished_.store(true, std::memory_order_release);
  }
  // Makes the connection's current and every later I/O fail at once, and stops its
  // request's token, so that a running handler gives up. Any thread.
  void Abort() {
    aborted_.store(true, std::memory_order_release);
    stop_.request_stop();
    asio::post(context_, [connection = weak_from_this()] {
      if (const auto c = connection.lock()) c->CloseNow();
    });
  }
  // Closes the connection in whatever phase it is, a request being handled included (its
  // token is stopped); true when it did, false when it was closed so already. Any thread.
  bool Evict() {
    for (Phase from : {kWaiting, kServing, kLingering}) {
      if (phase_.compare_exchange_strong(from, kEvicted, std::memory_order_acq_rel)) {
        Abort();
        return true;
      }
    }
    return false;
  }

 private:
  enum Phase { kWaiting, kServing, kLingering, kEvicted };

  void Serve() {
    HttpRequestReader reader;
    std::vector<char> chunk(kReadChunk);
    if (!ReadRequest(reader, chunk)) return;
    const auto status = reader.status();
    if (status == HttpRequestReader::Status::kDropped || !Enter(kWaiting, kServing)) return;
    std::error_code ignored;
    const std::uint16_t port = port_;
    const bool tooLarge = status == HttpRequestReader::Status::kTooLarge;
    bool withBody = true;
    ConsoleResponse response;
    if (tooLarge) {
      response = TooLargeResponse(port);
    } else {
      ConsoleRequest request = reader.TakeRequest();
      request.localPort = port;
      request.stop = stop_.get_token();
      withBody = request.command != CommandType::kHead;
      response = Dispatch(request, handler_);
    }
    if (Write(SerializeResponse(response, withBody))) return;
    if (plain_ != kNoSocket) {
      ShutdownSending(plain_);
    } else {
      socket_.shutdown(tcp::socket::shutdown_send, ignored);
    }
    if ((tooLarge || reader.HasExtraBytes()) && Enter(kServing, kLingering)) Drain(chunk);
  }

  bool Enter(Phase from, Phase to) { return phase_.compare_exchange_strong(from, to, std::memory_order_acq_rel); }

  // Feeds the reader until it has a whole request (or refuses one); false when the
  // connection broke, stayed idle, was aborted, or reached its deadline: it is closed
  // without an answer then.
  bool ReadRequest(HttpRequestReader& reader, std::vector<char>& chunk) {
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
  void Drain(std::vector<char>& chunk) {
    const auto until = SteadyClock::now() + kDrainWait;
    std::size_t total = 0, n = 0;
    while (total < kMaxDrainBytes) {
      const std::chrono::milliseconds left = std::min(Limit(), Left(until));
      if (left <= std::chrono::milliseconds::zero() || Read(chunk, n, left)) return;
      total += n;
    }
  }

  static std::chrono::milliseconds Left(SteadyClock::time_point until) {
    return std::chrono::ceil<std::chrono::milliseconds>(until - SteadyClock::now());
  }
  // How long the next wait may last: the idle limit, within the deadline.
  std::chrono::milliseconds Limit() const { return std::min(limits_.idle, Left(deadline_)); }

  // Reads and writes are tried at once: a request that is there already, or an answer
  // that fits in the socket's buffer, costs no wait for readiness.
  std::error_code Read(std::vector<char>& chunk, std::size_t& n, std::chrono::milliseconds limit) {
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
  // Writes everything; returns an error code (as true) when it could not.
  std::error_code Write(const std::string& bytes) {
    std::size_t n = 0;
    const std::error_code ec = TryNow([&](std::error_code& e) {
      n = plain_ == kNoSocket ? socket_.write_some(asio::buffer(bytes), e)
                              : SendNow(plain_, bytes.data(), bytes.size(), e);
    });
    if (ec && ec != asio::error::would_block) return ec;
    if (!ec && n == bytes.size()) return ec;
    const std::chrono::milliseconds limit = Limit();
    if (limit <= std::chrono::milliseconds::zero()) return asio::error::timed_out;
    if (const std::error_code failed = ToContext()) return failed;
    return Await(limit, n, [&](auto done) { asio::async_write(socket_, asio::buffer(bytes) + n, done); });
  }
  // Gives the plain socket to the connection's context, to wait on it there.
  std::error_code ToContext() {
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
  void CloseNow() {
    std::error_code ignored;
    socket_.cancel(ignored);
    socket_.close(ignored);
  }
  void Close() {
    if (plain_ != kNoSocket) CloseSocket(std::exchange(plain_, kNoSocket));
    std::error_code ignored;
    socket_.close(ignored);
  }
  // Runs one socket call in non-blocking mode, which sets the code it is given;
  // would_block when the call has to wait (try_again and interruptions count so).
  template <typename Call>
  std::error_code TryNow(Call call) {
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
  std::error_code Await(std::chrono::milliseconds limit, std::size_t& n, Start start) {
    if (aborted_.load(std::memory_order_acquire)) return asio::error::operation_aborted;
    std::error_code result = asio::error::timed_out;
    bool done = false;
    start([&](const std::error_code& ec, std::size_t count) {
      result = ec;
      n = count;
      done = true;
    });
    context_.restart();
    context_.run_for(limit);
    if (!done) {
      CloseNow();  // the operation ends as aborted; let it finish
      context_.restart();
      context_.run();
      return asio::error::timed_out;
    }
    return result;
  }

  const RequestHandler& handler_;
  const Limits limits_;
  const SteadyClock::time_point deadline_;
  const std::uint16_t port_;
  const tcp protocol_;
  NativeSocket plain_;  // kNoSocket once the socket belongs to socket_, or is closed
  PooledContext pooled_;
  asio::io_context& context_ = *pooled_;
  tcp::socket socket_{context_};
  std::stop_source stop_;
  std::atomic<Phase> phase_{kWaiting};
  std::atomic<bool> aborted_{false};
  std::atomic<bool> finished_{false};
};

// The threads that serve connections. Each serves one connection from its first byte to
// its close, then takes the next waiting one itself, and waits to be handed one only
// when none waits: under load a connection costs no thread a wake-up. A new connection
// costs a thread start only while every thread is busy. A connection handed over goes to
// the thread that has waited least (its memory is warmest), which alone is woken.
// Threads are kept until Stop.
class WorkerPool {
 public:
  // `next` gives a thread that has finished its connection the next one to serve, or
  // null; `allIdle` is called when the last serving thread has found none. Both run on
  // the pool's threads, with no lock of the pool held.
  WorkerPool(std::function<std::shared_ptr<Connection>()> next, std::function<void()> allIdle)
      : next_(std::move(next)), allIdle_(std::move(allIdle)) {}
  ~WorkerPool() { Stop(); }

  // The number of threads serving a connection now. Any thread.
  int Serving() const { return serving_.load(std::memory_order_acquire); }

  // Hands the connection to an idle thread, or to a new one. Raises std::system_error
  // (or std::bad_alloc) when no thread can be had; the connection is then not taken.
  // Any thread.
  void Serve(std::shared_ptr<Connection> connection) {
    serving_.fetch_add(1, std::memory_order_acq_rel);
    Worker* worker = nullptr;
    {
      std::scoped_lock lock(mutex_);
      if (idle_.empty()) {
        try {
          workers_.push_back(std::make_unique<Worker>());
          Worker& fresh = *workers_.back();
          fresh.next = std::move(connection);
          try {
            fresh.thread = std::thread([this, &fresh] { Work(fresh); });
          } catch (...) {
            workers_.pop_back();
            throw;
          }
        } catch (...) {
          serving_.fetch_sub(1, std::memory_order_acq_rel);
          throw;
        }
        return;
      }
      worker = idle_.back();
      idle_.pop_back();
    }
    {
      std::scoped_lock lock(worker->mutex);
      worker->next = std::move(connection);
    }
    worker->wake.notify_one();
  }

  // Lets every thread finish its connection, then joins them all; the pool can serve
  // again afterwards. Main thread, when nothing hands connections over any more.
  void Stop() {
    std::vector<std::unique_ptr<Worker>> workers;
    {
      std::scoped_lock lock(mutex_);
      workers.swap(workers_);
      idle_.clear();
    }
    for (auto& w : workers) {
      {
        std::scoped_lock lock(w->mutex);
        w->stop = true;
      }
      w->wake.notify_one();
    }
    for (auto& w : workers) w->thread.join();
    // A thread that finished its connection while this ran has put itself back.
    std::scoped_lock lock(mutex_);
    idle_.clear();
  }

 private:
  struct Worker {
    std::thread thread;
    std::mutex mutex;  // guards next and stop
    std::condition_variable wake;
    std::shared_ptr<Connection> next;
    bool stop = false;
  };

  void Work(Worker& w) {
    for (;;) {
      std::shared_ptr<Connection> connection;
      {
        std::unique_lock lock(w.mutex);
        w.wake.wait(lock, [&w] { return w.next || w.stop; });
        if (!w.next) return;  // stopping
        connection = std::move(w.next);
      }
      while (connection) {
        connection->Run();
        connection = TakeNext();
      }
      {
        std::scoped_lock lock(mutex_);
        idle_.push_back(&w);
      }
      if (serving_.fetch_sub(1, std::memory_order_acq_rel) == 1) allIdle_();
    }
  }

  std::shared_ptr<Connection> TakeNext() noexcept {
    try {
      return next_();
    } catch (const std::exception&) {  // no memory for the next one: it waits for a tick
      return nullptr;
    }
  }

  const std::function<std::shared_ptr<Connection>()> next_;
  const std::function<void()> allIdle_;
  std::atomic<int> serving_{0};
  std::mutex mutex_;  // guards workers_ and idle_
  std::vector<std::unique_ptr<Worker>> workers_;
  std::vector<Worker*> idle_;  // waiting for a connection, the latest last
};

// One listening socket and the thread that watches it. While no thread serves, the
// listener waits for a connection and hands it over; while threads serve, they take the
// waiting connections themselves, and the listener only looks in once a tick.
struct Listener {
  asio::io_context context;
  tcp::acceptor acceptor{context};
  NativeSocket handle = kNoSocket;  // the acceptor's, for taking connections on any thread
  tcp protocol = tcp::v4();
  std::unique_ptr<ConnectionWait> wait;
  std::uint64_t seen = 0;  // connections started at the last look; guarded by Impl::mutex
  std::thread thread;
};

}  // namespace

struct SvCHTTPServer::Impl {
  explicit Impl(RequestHandler h)
      : handler(std::move(h)), workers([this] { return Next(); }, [this] { AllIdle(); }) {}

  RequestHandler handler;
  std::atomic<std::int32_t> defaultPort{1976};
  std::atomic<std::int32_t> boundPort{0};
  Limits limits{std::chrono::milliseconds(30000), std::chrono::milliseconds(10000)};
  // How often the listeners look for connections past their deadline while threads serve.
  static constexpr std::chrono::milliseconds kExpiryTick{50};
  // While connections wait, threads are woken for them until this many serve.
  const int eagerThreads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));

  ContextPool contexts;                               // outlives every connection
  std::vector<std::unique_ptr<Listener>> listeners;  // changed on the main thread only
  mutable std::mutex mutex;                           // guards what follows
  bool accepting = false;  // the listening sockets are open; connections may be started
  std::list<std::shared_ptr<Connection>> connections;
  std::deque<std::shared_ptr<Connection>> waiting;  // taken, not yet served; oldest first
  std::uint64_t started = 0;                        // connections handed to threads, ever
  std::uint64_t allIdleTimes = 0;                   // times that the last serving thread went idle
  SteadyClock::time_point nextExpiry{};             // when the listeners next close overdue connections
  std::condition_variable listenersWake;            // on allIdleTimes and accepting
  WorkerPool workers;

  bool Bind(Listener& l, const tcp::endpoint& at, bool optional);
  bool BindBoth(unsigned short port);
  void Listen(Listener& l);
  bool WaitForConnection(Listener& l);
  bool LookIn(Listener& l);
  bool TakeWaiting(const Listener* only);
  void StartOldest();
  void StartEager();
  std::shared_ptr<Connection> Next();
  void AllIdle();
  bool MakeRoom();
  void CloseOverdue();
  void ReapFinished();
  void CloseAll();
};

// Opens, binds and listens. An IPv6 socket is optional: a system without IPv6 or
// without ::1 is served on 127.0.0.1 alone.
bool SvCHTTPServer::Impl::Bind(Listener& l, const tcp::endpoint& at, bool optional) {
  std::error_code ec;
  l.acceptor.open(at.protocol(), ec);
  if (ec) return optional && ec == std::errc::address_family_not_supported;
  if (at.address().is_v6()) l.acceptor.set_option(asio::ip::v6_only(true), ec);
  ClaimListenAddress(static_cast<std::uintptr_t>(l.acceptor.native_handle()));
  l.acceptor.bind(at, ec);
  if (!ec) l.acceptor.listen(kBacklog, ec);
  if (!ec) l.acceptor.non_blocking(true, ec);  // connections are taken without waiting
  if (!ec) {
    l.handle = static_cast<NativeSocket>(l.acceptor.native_handle());
    l.protocol = at.protocol();
    try {
      l.wait = std::make_unique<ConnectionWait>(l.handle);
      return true;
    } catch (const std::system_error& e) {
      ec = e.code();
    }
  }
  const bool missing = ec == std::errc::address_not_available;
  std::error_code ignored;
  l.acceptor.close(ignored);
  return optional && missing;
}

// The listener thread's loop: waits for a connection while no thread serves, else
// looks in on the threads once a tick, until Stop.
void SvCHTTPServer::Impl::Listen(Listener& l) {
  for (;;) {
    if (workers.Serving() == 0) {
      if (!WaitForConnection(l)) return;
    } else {
      if (!LookIn(l)) return;
    }
  }
}

// Waits until a connection comes and starts it (and any others waiting); false when
// the listener stops.
bool SvCHTTPServer::Impl::WaitForConnection(Listener& l) {
  const bool came = l.wait->Wait();
  bool stalled = false;
  {
    std::scoped_lock lock(mutex);
    if (!came || !accepting) return false;
    stalled = TakeWaiting(&l);
    if (!waiting.empty()) StartOldest();
    StartEager();
  }
  if (stalled) {  // out of descriptors or the like: try again a little later, not at once
    std::unique_lock lock(mutex);
    listenersWake.wait_for(lock, std::chrono::milliseconds(100), [this] { return !accepting; });
  }
  return true;
}

// Sleeps for a tick, or until the last serving thread goes idle; then, when no thread
// has taken a connection since the last look, starts one that waits (a slow peer holds
// its thread). False when the listener stops. Only this waiting on a timer, not the
// socket's own events, wakes the listener while threads serve.
bool SvCHTTPServer::Impl::LookIn(Listener& l) {
  std::unique_lock lock(mutex);
  const std::uint64_t idle = allIdleTimes;
  const bool woken = listenersWake.wait_for(lock, std::chrono::milliseconds(1),
                                            [&] { return !accepting || allIdleTimes != idle; });
  if (!accepting) return false;
  CloseOverdue();
  if (!woken && started == l.seen) {
    TakeWaiting(&l);
    if (!waiting.empty()) StartOldest();
  }
  l.seen = started;
  return true;
}

// Takes the connections that wait on the listening sockets (`only`, or all) into
// `waiting`, admitting each (see MakeRoom). True when a socket could not be taken from
// for a reason other than an empty queue. With mutex held, while accepting.
bool SvCHTTPServer::Impl::TakeWaiting(const Listener* only) {
  bool reaped = false;
  for (const auto& l : listeners) {
    if (only && l.get() != only) continue;
    for (int taken = 0; taken < kMaxConnections; ++taken) {
      std::error_code ec;
      const NativeSocket s = AcceptWaiting(l->handle, ec);
      if (s == kNoSocket) {
        if (ec == std::errc::operation_would_block) break;
        if (ec == std::errc::connection_aborted) continue;
        return true;
      }
      std::shared_ptr<Connection> c;
      try {
        c = std::make_shared<Connection>(handler, limits, contexts, static_cast<std::uint16_t>(boundPort.load()),
                                         l->protocol, s);
      } catch (const std::exception&) {
        CloseSocket(s);
        return true;
      }
      if (!reaped) ReapFinished();
      reaped = true;
      if (!MakeRoom()) continue;  // c is closed as it goes
      try {
        connections.push_back(c);
        waiting.push_back(c);
      } catch (const std::exception&) {
        c->Drop();  // reaped later
        return true;
      }
    }
  }
  return false;
}

// Hands the connection that has waited longest to a thread. With mutex held.
void SvCHTTPServer::Impl::StartOldest() {
  std::shared_ptr<Connection> c = std::move(waiting.front());
  waiting.pop_front();
  ++started;
  try {
    workers.Serve(c);
  } catch (const std::exception&) {
    c->Drop();  // no thread to be had
  }
}

// Wakes threads for waiting connections until as many serve as the machine has
// processors. With mutex held.
void SvCHTTPServer::Impl::StartEager() {
  while (accepting && !waiting.empty() && workers.Serving() < eagerThreads) StartOldest();
}

// The next connection for a thread that has finished one; pool threads.
std::shared_ptr<Connection> SvCHTTPServer::Impl::Next() {
  std::scoped_lock lock(mutex);
  if (accepting) TakeWaiting(nullptr);
  if (waiting.empty()) return nullptr;
  std::shared_ptr<Connection> c = std::move(waiting.front());
  waiting.pop_front();
  ++started;
  StartEager();
  return c;
}

// No thread serves any more: the listeners wait for connections again. Pool threads.
void SvCHTTPServer::Impl::AllIdle() {
  {
    std::scoped_lock lock(mutex);
    ++allIdleTimes;
  }
  listenersWake.notify_all();
}

// At the cap, closes the connection nearest its deadline, that is the one admitted
// first, whatever it is doing: neither slow peers nor requests held by a slow handler can
// lock a browser out. An evicted connection ends at once and is reaped later; it no
// longer counts. False when no connection could be closed. With mutex held.
bool SvCHTTPServer::Impl::MakeRoom() {
  std::size_t live = 0;
  for (const auto& c : connections) live += c->Evicted() || c->Finished() ? 0 : 1;
  if (live < static_cast<std::size_t>(kMaxConnections)) return true;
  for (const auto& c : connections) {
    if (!c->Finished() && c->Evict()) return true;
  }
  return false;
}

// Closes, once a tick, the connections past their deadline, a request being handled
// included: reads and writes end at the deadline by themselves, a handler only when its
// token is stopped. With mutex held.
void SvCHTTPServer::Impl::CloseOverdue() {
  const SteadyClock::time_point now = SteadyClock::now();
  if (now < nextExpiry) return;
  nextExpiry = now + kExpiryTick;
  for (const auto& c : connections) {
    if (c->Deadline() > now) break;  // in order of admission, so of deadline
    if (!c->Finished()) c->Evict();
  }
}

void SvCHTTPServer::Impl::ReapFinished() {
  for (auto it = connections.begin(); it != connections.end();) {
    if (!(*it)->Finished()) {
      ++it;
      continue;
    }
    it = connections.erase(it);
  }
}

void SvCHTTPServer::Impl::CloseAll() {
  {
    std::scoped_lock lock(mutex);
    accepting = false;  // no thread takes or starts a connection from here on
  }
  listenersWake.notify_all();
  for (auto& l : listeners) l->wait->Interrupt();
  for (auto& l : listeners) {
    if (l->thread.joinable()) l->thread.join();
  }
  listeners.clear();
  std::list<std::shared_ptr<Connection>> open;
  {
    std::scoped_lock lock(mutex);
    open.swap(connections);
  }
  for (auto& c : open) c->Abort();  // waiting ones too: their threads end them at once
  workers.Stop();  // every connection has ended when its thread is joined
  {
    std::scoped_lock lock(mutex);
    waiting.clear();
  }
  boundPort = 0;
}

SvCHTTPServer::SvCHTTPServer(ConsoleController& controller, std::string accessKey,
                             std::shared_ptr<TLoginCodes> loginCodes)
    : SvCHTTPServer(RequireKey(
          std::move(accessKey),
          [&controller](const ConsoleRequest& request, ConsoleResponse& response) {
            SvCHTTPServerCommandGet(controller, request, response);
          },
          std::move(loginCodes))) {}

SvCHTTPServer::SvCHTTPServer(RequestHandler handler) : impl_(new Impl(std::move(handler))) {}

SvCHTTPServer::~SvCHTTPServer() {
  Stop();
  delete impl_;
}

void SvCHTTPServer::SetDefaultPort(std::int32_t port) { impl_->defaultPort = port; }
std::int32_t SvCHTTPServer::DefaultPort() const { return impl_->defaultPort; }
std::int32_t SvCHTTPServer::BoundPort() const { return impl_->boundPort; }
void SvCHTTPServer::SetIdleTimeout(std::chrono::milliseconds timeout) { impl_->limits.idle = timeout; }
void SvCHTTPServer::SetLifeLimit(std::chrono::milliseconds limit) { impl_->limits.life = limit; }

// Binds 127.0.0.1 and then ::1 at the same port; true when both are bound (or ::1 is
// missing on this system), false with nothing left bound otherwise.
bool SvCHTTPServer::Impl::BindBoth(unsigned short port) {
  auto v4 = std::make_unique<Listener>();
  auto v6 = std::make_unique<Listener>();
  if (!Bind(*v4, {asio::ip::address_v4::loopback(), port}, false)) return false;
  const unsigned short bound = v4->acceptor.local_endpoint().port();
  if (!Bind(*v6, {asio::ip::address_v6::loopback(), bound}, true)) return false;
  listeners.push_back(std::move(v4));
  if (v6->acceptor.is_open()) listeners.push_back(std::move(v6));
  boundPort = bound;
  return true;
}

void SvCHTTPServer::Activate() {
  if (!impl_->listeners.empty()) return;
  const std::int32_t port = impl_->defaultPort;
  if (port < 0 || port > 65535) throw Exception(msg::kCannotBind);
  // With port 0 the port that 127.0.0.1 got may be taken on ::1: try a few others.
  bool bound = impl_->BindBoth(static_cast<unsigned short>(port));
  for (int attempt = 0; !bound && port == 0 && attempt < 5; ++attempt) bound = impl_->BindBoth(0);
  if (!bound) throw Exception(msg::kCannotBind);
  {
    std::scoped_lock lock(impl_->mutex);
    impl_->accepting = true;
  }
  Impl* impl = impl_;
  for (auto& l : impl_->listeners) {
    Listener* listener = l.get();
    listener->thread = std::thread([impl, listener] { impl->Listen(*listener); });
  }
}

void SvCHTTPServer::Stop() { impl_->CloseAll(); }

int SvCHTTPServer::OpenConnections() const {
  std::scoped_lock lock(impl_->mutex);
  int open = 0;
  for (const auto& c : impl_->connections) open += c->Finished() ? 0 : 1;
  return open;
}

}  // namespace sv
