#pragma once
// TSyncServer: the reference synchronisation server's listener. It accepts clients on one
// address and serves each on a thread of its own (TServerSession), ending a connection
// that makes no progress within the idle limit, or whose Sync exchange outlasts the sync
// deadline. When it serves its most clients, or a client's address has its most
// connections, the connection idle longest (of that address) makes room for the new one.
//
// Threads: Listen and Run on one thread; Stop from any thread (a signal watcher).
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "server/ServerSession.h"

namespace sv {

class TTlsContext;

class TSyncServer {
 public:
  // Most clients served at once, and most connections from one address. A further one
  // takes the place of the one that has moved no bytes for the longest time, among those
  // of its own address when that address has its most.
  static constexpr int kMaxClients = 32;
  static constexpr int kMaxClientsPerAddress = 8;
  // The memory that the listings of all clients may take at once, unless set.
  static constexpr std::uint64_t kDefaultListingMemory = std::uint64_t{2} << 30;

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
  // How long one Sync exchange may take, from its request to its task list (default 10
  // minutes). Set before Run.
  void SetSyncDeadline(std::chrono::milliseconds deadline);
  // The memory that the listings of all clients may take at once (ServerSession.h,
  // kListingCost). Set before Run.
  void SetListingMemory(std::uint64_t bytes);
  // Serves TLS only, with this server context (tls/Tls.h): every connection's handshake
  // comes before its greeting, within the idle limit. A client that sends nothing for 5
  // seconds (a plaintext one awaiting the greeting) gets one plaintext line "421 This
  // server accepts TLS connections only." and the close; a failed handshake is logged
  // with the client's address and the reason. Set before Run.
  void SetTls(std::shared_ptr<TTlsContext> context);

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
