#pragma once
// The console's HTTP listener (the controller's SvCHTTPServer component): loopback
// sockets on the console port, one request per connection. Each connection is served by
// one thread for its whole life, a thread of a pool that keeps its threads for the next
// connections, so a connection costs a thread start only while all are busy. Under load
// a thread that has finished takes the next waiting connection itself, so that serving
// a connection costs no thread a wake-up.
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>

#include "console/HttpExchange.h"

namespace sv {

class ConsoleController;
class TLoginCodes;

class SvCHTTPServer {
 public:
  // The controller outlives the listener; requests that carry the console key
  // (ConsoleAccess.h) are routed to its pages and actions; the login address also takes
  // the codes of `loginCodes`.
  SvCHTTPServer(ConsoleController& controller, std::string accessKey,
                std::shared_ptr<TLoginCodes> loginCodes = nullptr);
  // Requests go to handler instead (tests, tools). The handler must outlive the listener.
  explicit SvCHTTPServer(RequestHandler handler);
  // Stops the listener (see Stop).
  ~SvCHTTPServer();
  SvCHTTPServer(const SvCHTTPServer&) = delete;
  SvCHTTPServer& operator=(const SvCHTTPServer&) = delete;

  // The port that the next Activate binds; changing it while active changes only the
  // setting. Any thread.
  void SetDefaultPort(std::int32_t port);
  std::int32_t DefaultPort() const;

  // Binds 127.0.0.1 and ::1 at the default port and starts serving. Raises
  // Exception("Could not bind socket. Address and port are already in use.") when a
  // socket cannot be bound; nothing stays bound then. Main thread.
  void Activate();
  // Closes the sockets and every open connection and joins every thread; afterwards no
  // request runs. Idempotent. Main thread.
  void Stop();

  // The port the sockets are bound to while active, else 0. With a default port of 0 the
  // system picks a free port for 127.0.0.1 and ::1 takes the same one. Any thread.
  std::int32_t BoundPort() const;
  // A connection that makes no progress for this long is closed (30 s unless set).
  // Set before Activate.
  void SetIdleTimeout(std::chrono::milliseconds timeout);
  // A connection is closed this long after it was accepted, whatever it is doing: waiting
  // for its request, being handled (its request's token is stopped then) or writing its
  // answer (10 s unless set). Set before Activate.
  void SetLifeLimit(std::chrono::milliseconds limit);
  // At most 64 connections are served at once. A new connection beyond them closes the
  // one nearest its deadline (the oldest), also when its request is being handled.
  static constexpr int kMaxConnections = 64;
  // The number of connections being served now. Any thread.
  int OpenConnections() const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace sv
