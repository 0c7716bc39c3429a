#include "console/SvCHTTPServer.h"

#include <asio.hpp>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <list>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "base/Exception.h"
#include "base/Messages.h"
#include "console/ConsoleAccess.h"
#include "console/ConsoleListener.h"
#include "console/ConsoleRouter.h"
#include "console/HttpConnection.h"
#include "console/WorkerPool.h"
#include "platform/SocketCalls.h"

namespace sv {
namespace {

using asio::ip::tcp;
using SteadyClock = std::chrono::steady_clock;
using Connection = HttpConnection;

// While threads serve, a listener sleeps this long between two looks at its socket and
// at the serving threads (see LookIn).
constexpr std::chrono::milliseconds kLookInTick{1};
// How often the listeners look for connections past their deadline while threads serve.
constexpr std::chrono::milliseconds kExpiryTick{50};
// After a connection could not be taken (out of descriptors or the like), the listener
// tries again this much later rather than at once.
constexpr std::chrono::milliseconds kStalledRetry{100};

}  // namespace

struct SvCHTTPServer::Impl {
  explicit Impl(RequestHandler h)
      : handler(std::move(h)), workers([this] { return Next(); }, [this] { AllIdle(); }) {}

  RequestHandler handler;
  std::atomic<std::int32_t> defaultPort{1976};
  std::atomic<std::int32_t> boundPort{0};
  ConnectionLimits limits{std::chrono::milliseconds(30000), std::chrono::milliseconds(10000)};
  // While connections wait, threads are woken for them until this many serve.
  const int eagerThreads = static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));

  ContextPool contexts;                               // outlives every connection
  std::vector<std::unique_ptr<ConsoleListener>> listeners;  // changed on the main thread only
  mutable std::mutex mutex;                           // guards what follows
  bool accepting = false;  // the listening sockets are open; connections may be started
  std::list<std::shared_ptr<Connection>> connections;
  std::deque<std::shared_ptr<Connection>> waiting;  // taken, not yet served; oldest first
  std::uint64_t started = 0;                        // connections handed to threads, ever
  std::uint64_t allIdleTimes = 0;                   // times that the last serving thread went idle
  SteadyClock::time_point nextExpiry{};             // when the listeners next close overdue connections
  std::condition_variable listenersWake;            // on allIdleTimes and accepting
  WorkerPool workers;

  bool BindBoth(unsigned short port);
  void Listen(ConsoleListener& l);
  bool WaitForConnection(ConsoleListener& l);
  bool LookIn(ConsoleListener& l);
  bool TakeWaiting(const ConsoleListener* only);
  void StartOldest();
  void StartEager();
  std::shared_ptr<Connection> Next();
  void AllIdle();
  bool MakeRoom();
  void CloseOverdue();
  void ReapFinished();
  void CloseAll();
};

// The listener thread's loop: waits for a connection while no thread serves, else
// looks in on the threads once a tick, until Stop.
void SvCHTTPServer::Impl::Listen(ConsoleListener& l) {
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
bool SvCHTTPServer::Impl::WaitForConnection(ConsoleListener& l) {
  const bool came = l.WaitForConnection();
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
    listenersWake.wait_for(lock, kStalledRetry, [this] { return !accepting; });
  }
  return true;
}

// Sleeps for a tick, or until the last serving thread goes idle; then, when no thread
// has taken a connection since the last look, starts one that waits (a slow peer holds
// its thread). False when the listener stops. Only this waiting on a timer, not the
// socket's own events, wakes the listener while threads serve.
bool SvCHTTPServer::Impl::LookIn(ConsoleListener& l) {
  std::unique_lock lock(mutex);
  const std::uint64_t idle = allIdleTimes;
  const bool woken = listenersWake.wait_for(lock, kLookInTick,
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
bool SvCHTTPServer::Impl::TakeWaiting(const ConsoleListener* only) {
  bool reaped = false;
  for (const auto& l : listeners) {
    if (only && l.get() != only) continue;
    for (int taken = 0; taken < kMaxConnections; ++taken) {
      std::error_code ec;
      const NativeSocket s = l->Take(ec);
      if (s == kNoSocket) {
        if (ec == std::errc::operation_would_block) break;
        if (ec == std::errc::connection_aborted) continue;
        return true;
      }
      std::shared_ptr<Connection> c;
      try {
        c = std::make_shared<Connection>(handler, limits, contexts, static_cast<std::uint16_t>(boundPort.load()),
                                         l->Protocol(), s);
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
  for (auto& l : listeners) l->Interrupt();
  for (auto& l : listeners) l->Join();
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

SvCHTTPServer::SvCHTTPServer(RequestHandler handler) : impl_(std::make_unique<Impl>(std::move(handler))) {}

SvCHTTPServer::~SvCHTTPServer() { Stop(); }

void SvCHTTPServer::SetDefaultPort(std::int32_t port) { impl_->defaultPort = port; }
std::int32_t SvCHTTPServer::DefaultPort() const { return impl_->defaultPort; }
std::int32_t SvCHTTPServer::BoundPort() const { return impl_->boundPort; }
void SvCHTTPServer::SetIdleTimeout(std::chrono::milliseconds timeout) { impl_->limits.idle = timeout; }
void SvCHTTPServer::SetLifeLimit(std::chrono::milliseconds limit) { impl_->limits.life = limit; }

// Binds 127.0.0.1 and then ::1 at the same port; true when both are bound (or ::1 is
// missing on this system), false with nothing left bound otherwise.
bool SvCHTTPServer::Impl::BindBoth(unsigned short port) {
  auto v4 = std::make_unique<ConsoleListener>();
  auto v6 = std::make_unique<ConsoleListener>();
  if (!v4->Bind({asio::ip::address_v4::loopback(), port}, false)) return false;
  const unsigned short bound = v4->Port();
  if (!v6->Bind({asio::ip::address_v6::loopback(), bound}, true)) return false;
  listeners.push_back(std::move(v4));
  if (v6->IsOpen()) listeners.push_back(std::move(v6));
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
  Impl* impl = impl_.get();
  for (auto& l : impl_->listeners) l->Start([impl](ConsoleListener& listener) { impl->Listen(listener); });
}

void SvCHTTPServer::Stop() { impl_->CloseAll(); }

int SvCHTTPServer::OpenConnections() const {
  std::scoped_lock lock(impl_->mutex);
  int open = 0;
  for (const auto& c : impl_->connections) open += c->Finished() ? 0 : 1;
  return open;
}

}  // namespace sv
