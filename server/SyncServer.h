#pragma once
// TSyncServer: the reference synchronisation server's listener. It accepts clients on one
// address and serves each on a thread of its own (TServerSession), ending a connection
// that makes no progress within the idle limit.
//
// Threads: Listen and Run on one thread; Stop from any thread (a signal watcher).
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "server/ServerSession.h"

namespace sv {

class TSyncServer {
 public:
  // Most clients served at once; a further one is told "421 Too many connections".
  static constexpr int kMaxClients = 32;

  explicit TSyncServer(std::vector<TServedProject> projects);
  // Stops and waits for every client thread.
  ~TSyncServer();
  TSyncServer(const TSyncServer&) = delete;
  TSyncServer& operator=(const TSyncServer&) = delete;

  // Where the log lines go (Windows-1250 text); by default one line each on stderr,
  // converted to UTF-8. Set before Run.
  void SetLog(std::function<void(const std::string&)> log);
  // How long a read or write may wait for progress before the connection is ended.
  void SetIdleTimeout(std::chrono::milliseconds idle);
  // How every session answers (ServerSession.h). Set before Run.
  void SetSessionOptions(const TSessionOptions& options);

  // Binds and listens on host (a numeric IPv4 or IPv6 address, or a name) and port (0:
  // any free port). Raises "Could not bind socket. Address and port are already in use."
  // or the system's text.
  void Listen(const std::string& host, int port);
  // The port listened on.
  int Port() const;

  // Serves until Stop; returns after every client's thread has ended.
  void Run();
  // Any thread, any time (also before Run): stops accepting, ends every connection and
  // makes Run return promptly.
  void Stop();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace sv
