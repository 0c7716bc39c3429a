#include "tests/support/Loopback.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace sv::test {
namespace {

constexpr int kReadLimitMs = 30000;
constexpr std::size_t kPiece = 65536;

sockaddr_in Loopback(int port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  return a;
}

// A connected socket, or -1.
int Connect(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a = Loopback(port);
  if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0) return fd;
  if (fd >= 0) close(fd);
  return -1;
}

int Listen(int port) {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a = Loopback(port);
  if (bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(fd, 16) != 0) {
    close(fd);
    throw std::runtime_error("cannot listen on port " + std::to_string(port));
  }
  return fd;
}

// Writes everything; false when the peer has gone. Never raises SIGPIPE.
bool SendAll(int fd, const char* data, std::size_t size) {
  while (size > 0) {
    ssize_t n = send(fd, data, size, MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    data += n;
    size -= static_cast<std::size_t>(n);
  }
  return true;
}

// Waits until fd is readable or `wake` is; true for fd.
bool Readable(int fd, int wake, int timeoutMs) {
  pollfd p[2] = {{fd, POLLIN, 0}, {wake, POLLIN, 0}};
  int n = poll(p, wake >= 0 ? 2 : 1, timeoutMs);
  return n > 0 && p[0].revents != 0 && (wake < 0 || p[1].revents == 0);
}

// Sends the bytes over a connection of its own (then, with endSending, ends its sending
// side) and returns what the peer sent until it closed.
std::string Exchange(int port, const std::string& bytes, bool endSending) {
  int fd = Connect(port);
  if (fd < 0) throw std::runtime_error("nothing reachable on port " + std::to_string(port));
  std::string reply;
  if (SendAll(fd, bytes.data(), bytes.size())) {
    if (endSending) shutdown(fd, SHUT_WR);
    char buffer[kPiece];
    ssize_t n;
    while (Readable(fd, -1, kReadLimitMs) && (n = read(fd, buffer, sizeof buffer)) > 0) reply.append(buffer, n);
  }
  close(fd);
  return reply;
}

}  // namespace

int ConnectLoopback(int port) { return Connect(port); }

bool SendBytes(int fd, const std::string& bytes) { return SendAll(fd, bytes.data(), bytes.size()); }

HttpAnswer HttpSend(int port, const std::string& request) { return ParseHttpAnswer(Exchange(port, request, false)); }

HttpAnswer ParseHttpAnswer(const std::string& reply) {
  HttpAnswer answer;
  std::size_t end = reply.find("\r\n\r\n");
  answer.head = reply.substr(0, end);
  if (end != std::string::npos) answer.body = reply.substr(end + 4);
  if (reply.compare(0, 9, "HTTP/1.1 ") == 0) answer.status = std::atoi(reply.c_str() + 9);
  return answer;
}

bool WaitUntilListening(int port, milliseconds limit) {
  auto until = std::chrono::steady_clock::now() + limit;
  for (;;) {
    int fd = Connect(port);
    if (fd >= 0) {
      close(fd);
      return true;
    }
    if (std::chrono::steady_clock::now() >= until) return false;
    std::this_thread::sleep_for(milliseconds(10));
  }
}

// ---- LoopbackService

LoopbackService::LoopbackService(int port) {
  listener_ = Listen(port);
  if (pipe2(wake_, O_CLOEXEC) != 0) throw std::runtime_error("pipe");
}

LoopbackService::~LoopbackService() {
  close(listener_);
  for (int fd : wake_) close(fd);
}

void LoopbackService::Run(std::function<void()> loop) { thread_ = std::thread(std::move(loop)); }

void LoopbackService::Stop() {
  char c = 0;
  (void)!write(wake_[1], &c, 1);  // never read: every later poll sees it
  if (thread_.joinable()) thread_.join();
}

int LoopbackService::Accept() {
  while (Readable(listener_, wake_[0], -1)) {
    int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
    if (fd >= 0) return fd;
  }
  return -1;
}

int LoopbackService::Finished() {
  std::scoped_lock lock(mutex_);
  return finished_;
}

bool LoopbackService::WaitFinished(int count, milliseconds limit) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [&] { return finished_ >= count; });
}

void LoopbackService::EndedLocked() {
  ++finished_;
  changed_.notify_all();
}

// ---- TcpProxy

struct TcpProxy::Link {
  int index = 0;
  int client = -1;
  int server = -1;
  Downstream rule;
  std::string upstream;
  std::uint64_t downstream = 0;
  std::thread thread;
};

TcpProxy::TcpProxy(int listenPort, int targetPort) : LoopbackService(listenPort), target_(targetPort) {
  Run([this] { AcceptLoop(); });
}

TcpProxy::~TcpProxy() {
  Stop();
  {
    // Unblocks a pump that waits in a write to a peer that does not read.
    std::scoped_lock lock(mutex_);
    for (auto& link : links_) {
      if (link->client >= 0) shutdown(link->client, SHUT_RDWR);
      if (link->server >= 0) shutdown(link->server, SHUT_RDWR);
    }
  }
  for (auto& link : links_) link->thread.join();
}

void TcpProxy::SetDownstream(const Downstream& rule) {
  std::scoped_lock lock(mutex_);
  rule_ = rule;
}

int TcpProxy::Accepted() {
  std::scoped_lock lock(mutex_);
  return static_cast<int>(links_.size());
}

std::string TcpProxy::Upstream(int index) {
  std::scoped_lock lock(mutex_);
  return index >= 0 && index < static_cast<int>(links_.size()) ? links_[index]->upstream : "";
}

bool TcpProxy::WaitDownstream(int index, std::uint64_t bytes, milliseconds limit) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [&] {
    return index < static_cast<int>(links_.size()) && links_[index]->downstream >= bytes;
  });
}

void TcpProxy::AcceptLoop() {
  for (int client; (client = Accept()) >= 0;) {
    std::scoped_lock lock(mutex_);
    auto link = std::make_unique<Link>();
    link->index = static_cast<int>(links_.size());
    link->client = client;
    link->server = Connect(target_);  // a refused server: the pump ends the link at once
    link->rule = rule_;
    Link& ref = *link;
    links_.push_back(std::move(link));
    ref.thread = std::thread([this, &ref] { Pump(ref); });
  }
}

void TcpProxy::Pump(Link& link) {
  char buffer[kPiece];
  while (link.server >= 0) {
    pollfd p[3] = {{link.client, POLLIN, 0}, {link.server, POLLIN, 0}, {WakeFd(), POLLIN, 0}};
    if (poll(p, 3, -1) < 0 && errno != EINTR) break;
    if (p[2].revents) break;
    if (p[0].revents) {
      ssize_t n = read(link.client, buffer, sizeof buffer);
      if (n <= 0) break;
      {
        std::scoped_lock lock(mutex_);
        link.upstream.append(buffer, n);
      }
      if (!SendAll(link.server, buffer, n)) break;
    }
    if (p[1].revents) {
      std::size_t want = link.rule.chunk ? std::min(link.rule.chunk, sizeof buffer) : sizeof buffer;
      ssize_t n = read(link.server, buffer, want);
      if (n <= 0 || !PassDownstream(link, buffer, n)) break;
      if (link.rule.chunk) std::this_thread::sleep_for(link.rule.pause);
    }
  }
  CloseLink(link);
}

bool TcpProxy::PassDownstream(Link& link, const char* data, std::size_t size) {
  std::uint64_t room = link.rule.cutAfter - link.downstream;
  std::size_t pass = size > room ? static_cast<std::size_t>(room) : size;
  bool sent = SendAll(link.client, data, pass);
  std::scoped_lock lock(mutex_);
  link.downstream += pass;
  changed_.notify_all();
  return sent && pass == size;
}

void TcpProxy::CloseLink(Link& link) {
  std::scoped_lock lock(mutex_);
  close(link.client);
  if (link.server >= 0) close(link.server);
  link.client = link.server = -1;
  EndedLocked();
}

// ---- PeerLink

void PeerLink::Fill() {
  if (!Readable(fd_, -1, kReadLimitMs)) throw std::runtime_error("peer: read timed out");
  char buffer[kPiece];
  ssize_t n = read(fd_, buffer, sizeof buffer);
  if (n <= 0) throw std::runtime_error("peer: end of stream");
  buffer_.append(buffer, n);
}

std::string PeerLink::ReadLine() {
  std::size_t end;
  while ((end = buffer_.find("\r\n")) == std::string::npos) Fill();
  std::string line = buffer_.substr(0, end);
  buffer_.erase(0, end + 2);
  return line;
}

std::string PeerLink::ReadFrame() {
  std::size_t length = std::stoul(ReadLine());
  while (buffer_.size() < length) Fill();
  std::string bytes = buffer_.substr(0, length);
  buffer_.erase(0, length);
  return bytes;
}

void PeerLink::Write(const std::string& bytes) {
  if (!SendAll(fd_, bytes.data(), bytes.size())) throw std::runtime_error("peer: write failed");
}

// ---- ScriptedServer

ScriptedServer::ScriptedServer(int port, Script script) : LoopbackService(port), script_(std::move(script)) {
  Run([this] { Serve(); });
}

ScriptedServer::~ScriptedServer() { Stop(); }

void ScriptedServer::Serve() {
  for (int number = 0, fd; (fd = Accept()) >= 0; ++number) {
    PeerLink link(fd);
    try {
      script_(number, link);
    } catch (const std::exception&) {
      // The script's connection ends here; the next one is served as usual.
    }
    close(fd);
    std::scoped_lock lock(mutex_);
    EndedLocked();
  }
}

void ServeSynchronisation(PeerLink& link, const std::map<std::string, std::string>& tasks,
                          const std::map<std::string, std::string>& files,
                          std::vector<std::string>* received, const std::string& greeting) {
  auto next = [&](std::string& line) {
    try {
      line = link.ReadLine();
    } catch (const std::runtime_error&) {
      return false;  // the client has closed: its synchronisation is over
    }
    if (received) received->push_back(line);
    return true;
  };
  auto valueOf = [](const std::map<std::string, std::string>& map, const std::string& key) {
    auto it = map.find(key);
    return it == map.end() ? std::string() : it->second;
  };
  std::string line;
  link.WriteLine(greeting);
  if (!next(line)) return;
  link.WriteLine("201 welcome");
  while (next(line)) {
    if (line.rfind("Sync ", 0) == 0) {
      link.WriteLine("202 send listing");
      link.ReadFrame();
      link.WriteFrame(valueOf(tasks, line.substr(5)));
    } else if (line.rfind("GetFile ", 0) == 0) {
      std::size_t pathStart = line.find(' ', 8);
      link.WriteLine("203 file follows");
      link.WriteFrame(valueOf(files, pathStart == std::string::npos ? "" : line.substr(pathStart + 1)));
    } else {
      link.WriteLine("500 unknown command");
    }
  }
}

std::string Converse(int port, const std::string& bytes) { return Exchange(port, bytes, true); }

// ---- HTTP

namespace {

HttpAnswer HttpAsk(int port, const std::string& method, const std::string& target, const std::string& headers) {
  return HttpSend(port, method + " " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                "\r\nConnection: close\r\n" + headers + "\r\n");
}

}  // namespace

HttpAnswer HttpGet(int port, const std::string& target, const std::string& headers) {
  return HttpAsk(port, "GET", target, headers);
}

HttpAnswer HttpHead(int port, const std::string& target, const std::string& headers) {
  return HttpAsk(port, "HEAD", target, headers);
}

HttpAnswer HttpPost(int port, const std::string& target, const std::string& form, const std::string& headers) {
  return HttpSend(port, "POST " + target + " HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(port) +
                                "\r\nConnection: close\r\n" + headers + "Content-Type: application/x-www-form-urlencoded\r\n"
                                "Content-Length: " + std::to_string(form.size()) + "\r\n\r\n" + form);
}

}  // namespace sv::test
