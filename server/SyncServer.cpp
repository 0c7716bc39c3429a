#include "server/SyncServer.h"

#include <asio.hpp>

#include <atomic>
#include <cstdio>
#include <list>
#include <mutex>
#include <optional>
#include <thread>

#include "base/Exception.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "platform/ListenAddress.h"
#include "platform/TimedStep.h"
#include "tls/Tls.h"

namespace sv {
namespace {

using asio::ip::tcp;

// How long a read keeps trying before it waits for the socket (Connection::Transfer).
constexpr std::chrono::microseconds kReadSpin{50};

using Clock = std::chrono::steady_clock;

// Why a connection was cancelled, as its session logs it.
constexpr const char* kCancelled = "Connection cancelled.";
constexpr const char* kMadeRoom = "Closed to make room for another client.";

// A TLS client speaks first; a client that has sent nothing by then is taken for a
// plaintext one waiting for its greeting, and told so in plain text before the close.
constexpr std::chrono::seconds kFirstByteWait{5};
constexpr std::string_view kTlsOnly = "421 This server accepts TLS connections only.\r\n";

// One client: its socket on an I/O context of its own, so that every read and write can
// wait with the idle limit and be cancelled from the listener's thread.
class Connection {
 public:
  explicit Connection(std::chrono::milliseconds idle) : idle_(idle) {}

  tcp::socket& Socket() { return socket_; }

  // The client's address, without the port; set at the accept.
  std::string address;

  // Returns 0 at the client's close.
  std::size_t ReadSome(char* buffer, std::size_t capacity) {
    return Transfer(true, buffer, capacity);
  }

  void Write(std::string_view bytes) {
    while (!bytes.empty()) bytes.remove_prefix(Transfer(false, const_cast<char*>(bytes.data()), bytes.size()));
  }

  // Any thread: the current or next step fails at once, with `reason` (a static text).
  void Cancel(const char* reason = kCancelled) {
    reason_ = reason;
    cancelled_ = true;
    asio::post(io_, [this] { Close(); });
  }
  bool Cancelled() const { return cancelled_; }

  // Any thread: every wait from now on ends, and fails the step, at `deadline`; none for
  // Clock::time_point::max().
  void SetDeadline(Clock::time_point deadline) { deadline_ = deadline.time_since_epoch().count(); }

  // Any thread: when the connection last moved bytes (or was made).
  Clock::time_point IdleSince() const {
    return Clock::time_point(Clock::duration(lastProgress_.load(std::memory_order_relaxed)));
  }

  void Close() {
    asio::error_code ignored;
    socket_.shutdown(tcp::socket::shutdown_both, ignored);
    socket_.close(ignored);
  }

  std::string Peer() const {
    asio::error_code ec;
    const tcp::endpoint e = socket_.remote_endpoint(ec);
    return ec ? std::string("?") : e.address().to_string() + ':' + std::to_string(e.port());
  }

  // Waits at most `limit` (and no longer than the idle limit) for the client's first
  // byte; false when none came. Raises when cancelled.
  bool AwaitFirstByte(std::chrono::milliseconds limit) {
    if (cancelled_) throw Exception(reason_.load());
    io_.restart();
    const auto outcome = RunTimedStep(
        io_, std::min(limit, idle_), [&](auto done) { WaitFor(tcp::socket::wait_read, done); },
        [this] {
          asio::error_code ignored;
          socket_.cancel(ignored);
        },
        Settle::kRun);
    if (!outcome && !cancelled_) return false;
    if (cancelled_) throw Exception(reason_.load());
    return true;
  }

  // Runs the server's side of the TLS handshake, with the idle limit, the deadline and
  // Cancel as every read and write; from then on every byte goes through TLS. Raises with
  // the reason when it fails.
  void StartTls(const std::shared_ptr<TTlsContext>& context) {
    tls_ = std::make_unique<TTlsStream>(context, static_cast<std::uintptr_t>(socket_.native_handle()));
    for (;;) {
      if (cancelled_) throw Exception(reason_.load());
      const TlsStatus status = tls_->Handshake();
      if (status == TlsStatus::kDone) return;
      if (status != TlsStatus::kWantRead && status != TlsStatus::kWantWrite) throw Exception(tls_->Failure());
      Await(status == TlsStatus::kWantRead);
    }
  }

  // Sends the TLS close (close_notify) when TLS is on; nothing is waited for.
  void EndTls() {
    if (tls_) tls_->Close();
  }

  std::thread thread;
  std::atomic<bool> done{false};

 private:
  // One read or write through TLS: what moved, and whether it must wait for the socket
  // (and for which direction).
  std::size_t TlsTransfer(bool read, char* buffer, std::size_t size, std::optional<bool>& waitRead) {
    std::size_t moved = 0;
    const TlsStatus status = read ? tls_->Read(buffer, size, moved) : tls_->Write(buffer, size, moved);
    switch (status) {
      case TlsStatus::kDone:
        return moved;
      case TlsStatus::kWantRead:
      case TlsStatus::kWantWrite:
        waitRead = status == TlsStatus::kWantRead;
        return 0;
      case TlsStatus::kClosed:
        if (read) return 0;
        throw Exception(asio::error_code(asio::error::broken_pipe).message());
      case TlsStatus::kFailed:
        break;
    }
    throw Exception(tls_->Failure());
  }

  void Await(bool read) {
    const auto wait = read ? tcp::socket::wait_read : tcp::socket::wait_write;
    Step([&](auto done) { WaitFor(wait, done); }, false);
  }

  // Starts waiting until the socket is ready for `wait`; `done` completes the step.
  template <typename Done>
  void WaitFor(tcp::socket::wait_type wait, Done done) {
    socket_.async_wait(wait, [done](const asio::error_code& e) { done(e, 0); });
  }

  // One read or write, tried at once: only one that would block waits (with the idle
  // limit) for the socket to be ready, so a request or room already there costs no wait.
  // A read tries again for a short while first: a client that sends one request at a
  // time sends the next soon after reading an answer, and catching it without sleeping
  // saves the two wake-ups of a round trip.
  std::size_t Transfer(bool read, char* buffer, std::size_t size) {
    std::optional<Clock::time_point> tryUntil;
    for (;;) {
      if (cancelled_) throw Exception(reason_.load());
      if (tls_) {
        std::optional<bool> waitRead;
        const std::size_t n = TlsTransfer(read, buffer, size, waitRead);
        if (!waitRead) {
          lastProgress_.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
          return n;
        }
        if (*waitRead && read && SpinOn(tryUntil)) continue;
        Await(*waitRead);
        continue;
      }
      asio::error_code ec;
      const std::size_t n = read ? socket_.read_some(asio::buffer(buffer, size), ec)
                                 : socket_.write_some(asio::buffer(buffer, size), ec);
      if (!ec) {
        lastProgress_.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
        return n;
      }
      if (read && ec == asio::error::eof) return 0;
      if (ec != asio::error::would_block && ec != asio::error::try_again && ec != asio::error::interrupted)
        throw Exception(ec.message());
      if (read && SpinOn(tryUntil)) continue;
      Await(read);
    }
  }

  // Whether a read that would block should be tried again rather than wait: for kReadSpin
  // from its first failure.
  static bool SpinOn(std::optional<Clock::time_point>& tryUntil) {
    const auto now = Clock::now();
    if (!tryUntil) tryUntil = now + kReadSpin;
    if (now >= *tryUntil) return false;
    std::this_thread::yield();
    return true;
  }

  // Runs one asynchronous step to its end, to the idle limit or to the deadline; raises
  // on failure.
  template <typename Start>
  std::size_t Step(Start start, bool endIsZero) {
    if (cancelled_) throw Exception(reason_.load());
    const Clock::time_point now = Clock::now();
    std::chrono::nanoseconds wait = idle_;
    const char* late = "Idle time-out.";
    const Clock::time_point deadline{Clock::duration(deadline_.load())};
    if (deadline - now < wait) {
      if (deadline <= now) throw Exception(kPastDeadline);
      wait = deadline - now;
      late = kPastDeadline;
    }
    io_.restart();
    const auto outcome = RunTimedStep(io_, wait, start, [this] { Close(); }, Settle::kRun);
    if (!outcome) throw Exception(late);  // no progress in time
    const auto [ec, n] = *outcome;
    if (endIsZero && ec == asio::error::eof) return 0;
    if (cancelled_) throw Exception(reason_.load());
    if (ec) throw Exception(ec.message());
    return n;
  }

  static constexpr const char* kPastDeadline = "Sync took too long.";

  std::chrono::milliseconds idle_;
  std::atomic<bool> cancelled_{false};
  std::atomic<const char*> reason_{kCancelled};
  std::atomic<Clock::rep> deadline_{Clock::time_point::max().time_since_epoch().count()};
  std::atomic<Clock::rep> lastProgress_{Clock::now().time_since_epoch().count()};
  asio::io_context io_;
  tcp::socket socket_{io_};
  std::unique_ptr<TTlsStream> tls_;  // once the handshake has begun
};

void LogToStderr(const std::string& line) {
  static std::mutex mutex;
  const std::string text = Cp1250ToUtf8(line) + '\n';
  std::scoped_lock lock(mutex);
  std::fputs(text.c_str(), stderr);
  std::fflush(stderr);
}

// A log line where memory may be short: one that cannot be made is dropped.
void LogQuietly(const std::function<void(const std::string&)>& log, std::string_view what,
                std::string_view why) noexcept {
  try {
    log(std::string(what) + std::string(why));
  } catch (...) {
  }
}

}  // namespace

struct TSyncServer::Impl {
  std::vector<TServedProject> projects;
  TSessionOptions options;
  std::shared_ptr<TTlsContext> tls;
  std::function<void(const std::string&)> log = LogToStderr;
  std::chrono::milliseconds idle = std::chrono::seconds(120);
  std::chrono::milliseconds syncDeadline = std::chrono::minutes(10);
  std::unique_ptr<TMemoryBudget> listingMemory = std::make_unique<TMemoryBudget>(kDefaultListingMemory);
  asio::io_context io;
  tcp::acceptor acceptor{io};
  asio::steady_timer retry{io};
  std::mutex mutex;  // guards connections
  std::list<std::shared_ptr<Connection>> connections;

  void Accept();
  void AcceptLater();
  void Admit(const std::shared_ptr<Connection>& connection);
  // Makes room for a client from `address`, closing the connection idle longest of
  // that address when it has its most, else of all when the server has its most.
  void MakeRoom(const std::string& address);
  void Serve(Connection& connection);
  // Takes the connection into TLS; false, after logging why, when it cannot be.
  bool StartTls(Connection& connection);
  void Reap();
  void CancelAll();
  void JoinAll();
};

void TSyncServer::Impl::Accept() {
  std::shared_ptr<Connection> connection;
  try {
    connection = std::make_shared<Connection>(idle);
  } catch (const std::exception& e) {  // no memory for the next client yet
    LogQuietly(log, "accept failed: ", e.what());
    AcceptLater();
    return;
  }
  acceptor.async_accept(connection->Socket(), [this, connection](const asio::error_code& ec) {
    if (!acceptor.is_open()) return;  // stopped
    if (ec) {  // e.g. out of descriptors
      LogQuietly(log, "accept failed: ", ec.message());
      AcceptLater();
      return;
    }
    // Replies go out as a line and then a frame; without this every file would wait
    // for the client's delayed acknowledgement.
    asio::error_code ignored;
    connection->Socket().set_option(tcp::no_delay(true), ignored);
    // Reads and writes are tried before any wait (Connection::Transfer).
    connection->Socket().non_blocking(true, ignored);
    const tcp::endpoint peer = connection->Socket().remote_endpoint(ignored);
    connection->address = ignored ? std::string("?") : peer.address().to_string();
    Admit(connection);
    Accept();
  });
}

// Tries again shortly rather than spin.
void TSyncServer::Impl::AcceptLater() {
  retry.expires_after(std::chrono::milliseconds(200));
  retry.async_wait([this](const asio::error_code& e) {
    if (!e && acceptor.is_open()) Accept();
  });
}

void TSyncServer::Impl::Admit(const std::shared_ptr<Connection>& connection) {
  Reap();
  std::scoped_lock lock(mutex);
  MakeRoom(connection->address);
  connections.push_back(connection);
  try {
    connection->thread = std::thread([this, connection] {
      Serve(*connection);
      connection->done = true;
    });
  } catch (const std::exception& e) {  // no thread (or no memory) for this client: it alone is refused
    connections.pop_back();
    connection->Close();
    LogQuietly(log, "refused a client: ", e.what());
  }
}

// Idle connections give way to new clients, so connections that send nothing cannot
// lock others out, and the connections of one address give way to each other before
// they take the place of another's.
void TSyncServer::Impl::MakeRoom(const std::string& address) {
  std::size_t all = 0, fromAddress = 0;
  Connection* idlest = nullptr;
  Connection* idlestFromAddress = nullptr;
  for (const auto& c : connections) {
    if (c->done || c->Cancelled()) continue;  // on its way out
    ++all;
    if (!idlest || c->IdleSince() < idlest->IdleSince()) idlest = c.get();
    if (c->address != address) continue;
    ++fromAddress;
    if (!idlestFromAddress || c->IdleSince() < idlestFromAddress->IdleSince()) idlestFromAddress = c.get();
  }
  if (fromAddress >= static_cast<std::size_t>(kMaxClientsPerAddress))
    idlestFromAddress->Cancel(kMadeRoom);
  else if (all >= static_cast<std::size_t>(kMaxClients))
    idlest->Cancel(kMadeRoom);
}

bool TSyncServer::Impl::StartTls(Connection& connection) {
  const std::string peer = connection.Peer();
  try {
    if (!connection.AwaitFirstByte(kFirstByteWait)) {
      connection.Write(kTlsOnly);
      LogQuietly(log, peer, " sent no TLS handshake: refused as a plaintext client");
      return false;
    }
    connection.StartTls(tls);
    return true;
  } catch (const std::exception& e) {
    LogQuietly(log, peer + " ", e.what());
    return false;
  }
}

void TSyncServer::Impl::Serve(Connection& connection) {
  try {
    if (tls && !StartTls(connection)) {
      connection.Close();
      return;
    }
    TSessionOptions sessionOptions = options;
    sessionOptions.listingMemory = listingMemory.get();
    TServerSession session(
        projects, [&connection](char* buffer, std::size_t capacity) { return connection.ReadSome(buffer, capacity); },
        [&connection](std::string_view bytes) { connection.Write(bytes); }, log, connection.Peer(), sessionOptions);
    session.OnSyncExchange([this, &connection](bool begun) {
      connection.SetDeadline(begun ? Clock::now() + syncDeadline : Clock::time_point::max());
    });
    session.Serve();
    connection.EndTls();
  } catch (...) {  // no memory to begin the session: nothing may leave the client's thread
  }
  connection.Close();
}

// Joins the threads of clients that have finished.
void TSyncServer::Impl::Reap() {
  std::list<std::shared_ptr<Connection>> finished;
  {
    std::scoped_lock lock(mutex);
    for (auto it = connections.begin(); it != connections.end();) {
      auto next = std::next(it);
      if ((*it)->done) finished.splice(finished.end(), connections, it);
      it = next;
    }
  }
  for (auto& c : finished) c->thread.join();
}

void TSyncServer::Impl::CancelAll() {
  std::scoped_lock lock(mutex);
  for (auto& c : connections) c->Cancel();
}

void TSyncServer::Impl::JoinAll() {
  std::list<std::shared_ptr<Connection>> all;
  {
    std::scoped_lock lock(mutex);
    all.swap(connections);
  }
  for (auto& c : all)
    if (c->thread.joinable()) c->thread.join();
}

TSyncServer::TSyncServer(std::vector<TServedProject> projects) : impl_(std::make_unique<Impl>()) {
  impl_->projects = std::move(projects);
}

TSyncServer::~TSyncServer() {
  impl_->CancelAll();
  impl_->JoinAll();
}

void TSyncServer::SetLog(std::function<void(const std::string&)> log) { impl_->log = std::move(log); }
void TSyncServer::SetIdleTimeout(std::chrono::milliseconds idle) { impl_->idle = idle; }
void TSyncServer::SetSessionOptions(const TSessionOptions& options) { impl_->options = options; }
void TSyncServer::SetSyncDeadline(std::chrono::milliseconds deadline) { impl_->syncDeadline = deadline; }
void TSyncServer::SetTls(std::shared_ptr<TTlsContext> context) { impl_->tls = std::move(context); }
void TSyncServer::SetListingMemory(std::uint64_t bytes) { impl_->listingMemory = std::make_unique<TMemoryBudget>(bytes); }

void TSyncServer::Listen(const std::string& host, int port) {
  asio::error_code ec;
  tcp::resolver resolver(impl_->io);
  const auto found = resolver.resolve(host, std::to_string(port), tcp::resolver::passive, ec);
  if (ec || found.empty()) throw Exception(ec ? ec.message() : "Host not found.");
  const tcp::endpoint endpoint = found.begin()->endpoint();
  tcp::acceptor& a = impl_->acceptor;
  a.open(endpoint.protocol(), ec);
  if (!ec) ClaimListenAddress(static_cast<std::uintptr_t>(a.native_handle()));
  if (!ec) a.bind(endpoint, ec);
  if (!ec) a.listen(asio::socket_base::max_listen_connections, ec);
  if (ec) {
    asio::error_code ignored;
    a.close(ignored);
    throw Exception(ec == asio::error::address_in_use ? msg::kCannotBind : ec.message());
  }
}

int TSyncServer::Port() const {
  asio::error_code ec;
  const tcp::endpoint e = impl_->acceptor.local_endpoint(ec);
  return ec ? 0 : e.port();
}

void TSyncServer::Run() {
  impl_->Accept();
  impl_->io.run();
  impl_->CancelAll();
  impl_->JoinAll();
}

void TSyncServer::Stop() {
  asio::post(impl_->io, [impl = impl_.get()] {
    asio::error_code ignored;
    impl->acceptor.close(ignored);
    impl->retry.cancel();
    impl->CancelAll();
  });
}

}  // namespace sv
