#pragma once
// Peers on loopback for the end-to-end tests: a proxy that records and shapes what
// passes between the client and the server, a scripted synchronisation server, and a
// small HTTP exchange for the client's console. Every wait is bounded, so a broken
// program fails a test instead of hanging it.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace sv::test {

using std::chrono::milliseconds;

// Waits until something accepts TCP connections on 127.0.0.1:port; false after limit.
bool WaitUntilListening(int port, milliseconds limit);
// A connection to 127.0.0.1:port, or -1; the caller closes it.
int ConnectLoopback(int port);
// Sends every byte without SIGPIPE; false once the peer has gone.
bool SendBytes(int fd, const std::string& bytes);

// A listening socket on 127.0.0.1 with a thread of its own that accepts on it, and the
// count of connections that have ended. The base of the two peers below.
class LoopbackService {
 public:
  LoopbackService(const LoopbackService&) = delete;
  LoopbackService& operator=(const LoopbackService&) = delete;

  // Connections that have ended.
  int Finished();
  bool WaitFinished(int count, milliseconds limit);

 protected:
  explicit LoopbackService(int port);
  // The derived class calls Stop in its destructor, before its own members go.
  ~LoopbackService();
  void Run(std::function<void()> loop);
  // Wakes every wait on WakeFd() for good and joins the thread.
  void Stop();
  // The next accepted connection; -1 once stopped.
  int Accept();
  int WakeFd() const { return wake_[0]; }
  // Counts one more ended connection; the caller holds mutex_.
  void EndedLocked();

  std::mutex mutex_;
  std::condition_variable changed_;

 private:
  int listener_ = -1;
  int wake_[2] = {-1, -1};
  int finished_ = 0;
  std::thread thread_;
};

// Forwards every connection made to 127.0.0.1:listenPort to 127.0.0.1:targetPort and
// keeps what the client sent on each. The server's bytes may be slowed or cut off.
// Connections are numbered from 0 in the order they were accepted.
class TcpProxy : public LoopbackService {
 public:
  struct Downstream {
    // After this many of the server's bytes both sides are closed: a server that drops
    // the connection in the middle of a document.
    std::uint64_t cutAfter = std::numeric_limits<std::uint64_t>::max();
    // When not 0: at most `chunk` bytes are passed on, then the proxy waits `pause`.
    std::size_t chunk = 0;
    milliseconds pause{0};
  };

  TcpProxy(int listenPort, int targetPort);
  // Closes every connection and joins every thread.
  ~TcpProxy();

  // How the server's bytes pass on connections accepted from now on.
  void SetDownstream(const Downstream& rule);

  // Connections accepted so far (a connection ends when either side closes).
  int Accepted();
  // What the client sent on connection `index` (empty when there is no such connection).
  std::string Upstream(int index);
  // Waits until `bytes` of the server's bytes have reached the client on connection
  // `index`; false after limit.
  bool WaitDownstream(int index, std::uint64_t bytes, milliseconds limit);

 private:
  struct Link;
  void AcceptLoop();
  void Pump(Link& link);
  bool PassDownstream(Link& link, const char* data, std::size_t size);
  void CloseLink(Link& link);

  int target_;
  Downstream rule_;
  std::vector<std::unique_ptr<Link>> links_;
};

// The server's side of one scripted connection. Reads wait at most 30 seconds and raise
// std::runtime_error at the end of the stream or after that time.
class PeerLink {
 public:
  explicit PeerLink(int fd) : fd_(fd) {}
  // One line without its CR LF.
  std::string ReadLine();
  // A decimal length line and that many bytes.
  std::string ReadFrame();
  void Write(const std::string& bytes);
  void WriteLine(const std::string& line) { Write(line + "\r\n"); }
  void WriteFrame(const std::string& bytes) { Write(std::to_string(bytes.size()) + "\r\n" + bytes); }

 private:
  void Fill();
  int fd_;
  std::string buffer_;
};

// A synchronisation server driven by a script: each accepted connection, one at a time,
// is handed to script(number, link) with numbers from 0. A script that raises ends its
// connection only. Every line the peer received is kept.
class ScriptedServer : public LoopbackService {
 public:
  using Script = std::function<void(int connection, PeerLink& link)>;
  ScriptedServer(int port, Script script);
  ~ScriptedServer();

 private:
  void Serve();
  Script script_;
};

// The server's part of one connection as the client expects it: greeting, "Hello", then
// every "Sync NAME" answered with tasks[NAME] and every "GetFile NAME PATH" with
// files[PATH], until the client closes. Lines the client sent go to `received`.
void ServeSynchronisation(PeerLink& link, const std::map<std::string, std::string>& tasks,
                          const std::map<std::string, std::string>& files,
                          std::vector<std::string>* received = nullptr,
                          const std::string& greeting = "200 scripted peer");

// Sends `bytes` to 127.0.0.1:port over a connection of its own, then ends its sending
// side, and returns everything the peer sent until it closed the connection.
std::string Converse(int port, const std::string& bytes);

// One HTTP/1.1 exchange with 127.0.0.1:port over a connection of its own.
struct HttpAnswer {
  int status = 0;
  std::string head;  // status line and headers
  std::string body;
};
// `headers`: further header lines, each ending in CR LF.
HttpAnswer HttpGet(int port, const std::string& target, const std::string& headers = "");
HttpAnswer HttpHead(int port, const std::string& target, const std::string& headers = "");
// The request's bytes exactly as given.
HttpAnswer HttpSend(int port, const std::string& request);
// An answer as the peer sent it, up to its close.
HttpAnswer ParseHttpAnswer(const std::string& reply);
// A form post (application/x-www-form-urlencoded).
HttpAnswer HttpPost(int port, const std::string& target, const std::string& form, const std::string& headers = "");

}  // namespace sv::test
