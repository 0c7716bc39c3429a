#include "tests/ChildProcess.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <stdexcept>

extern char** environ;

namespace sv::test {
namespace {

// This process's environment with the given "NAME=value" entries set on top.
std::vector<std::string> Environment(const std::vector<std::string>& overrides) {
  std::vector<std::string> env;
  for (char** e = environ; *e; ++e) {
    std::string entry = *e;
    bool replaced = false;
    for (const std::string& o : overrides)
      replaced |= entry.compare(0, o.find('=') + 1, o, 0, o.find('=') + 1) == 0;
    if (!replaced) env.push_back(entry);
  }
  env.insert(env.end(), overrides.begin(), overrides.end());
  return env;
}

std::vector<char*> Pointers(std::vector<std::string>& texts) {
  std::vector<char*> p;
  for (std::string& t : texts) p.push_back(t.data());
  p.push_back(nullptr);
  return p;
}

bool CanBind(int family, int port) {
  int fd = socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  int one = 1;
  setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  bool ok;
  if (family == AF_INET) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(port);
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ok = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  } else {
    setsockopt(fd, IPPROTO_IPV6, IPV6_V6ONLY, &one, sizeof one);
    sockaddr_in6 a{};
    a.sin6_family = AF_INET6;
    a.sin6_port = htons(port);
    a.sin6_addr = in6addr_loopback;
    // A machine without IPv6 loopback has no port to take there.
    ok = bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 || errno == EADDRNOTAVAIL;
  }
  close(fd);
  return ok;
}

bool PortFree(int port) { return port < 65536 && CanBind(AF_INET, port) && CanBind(AF_INET6, port); }

int AnyPort() {
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof a;
  bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
  close(fd);
  return ntohs(a.sin_port);
}

}  // namespace

ChildProcess::ChildProcess(const std::string& program, const std::vector<std::string>& args,
                           const std::vector<std::string>& env) {
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  std::vector<std::string> envp = Environment(env);
  std::vector<char*> argp = Pointers(argv), envpp = Pointers(envp);
  int out[2], err[2];
  if (pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0 || pipe2(wake_, O_CLOEXEC) != 0)
    throw std::runtime_error("pipe");
  pid_ = fork();
  if (pid_ < 0) throw std::runtime_error("fork");
  if (pid_ == 0) {
    int devNull = open("/dev/null", O_RDONLY);
    dup2(devNull, 0);
    dup2(out[1], 1);
    dup2(err[1], 2);
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execve(argp[0], argp.data(), envpp.data());
    _exit(127);
  }
  close(out[1]);
  close(err[1]);
  reader_ = std::thread([this, o = out[0], e = err[0]] { Collect(o, e); });
}

ChildProcess::~ChildProcess() {
  if (!status_) {
    kill(pid_, SIGKILL);
    WaitExit(std::chrono::minutes(1));
  }
  // Programs that the child started may hold its output open for longer (Wine's own
  // services, started by the first Windows program of a session): what has arrived is
  // read, the rest is not waited for.
  (void)!write(wake_[1], "", 1);
  reader_.join();
  close(wake_[0]);
  close(wake_[1]);
}

void ChildProcess::Collect(int outFd, int errFd) {
  pollfd fds[3] = {{outFd, POLLIN, 0}, {errFd, POLLIN, 0}, {wake_[0], POLLIN, 0}};
  std::string* texts[2] = {&out_, &err_};
  int open = 2;
  bool ending = false;
  while (open > 0) {
    const int ready = poll(fds, 3, ending ? 0 : -1);
    if (ready < 0 && errno != EINTR) break;
    if (ready == 0) break;  // ending, and nothing more to read
    if (fds[2].revents) {
      ending = true;
      fds[2].fd = -1;
    }
    for (int i = 0; i < 2; ++i) {
      if (fds[i].fd < 0 || !fds[i].revents) continue;
      char buffer[4096];
      ssize_t n = read(fds[i].fd, buffer, sizeof buffer);
      if (n <= 0) {
        close(fds[i].fd);
        fds[i].fd = -1;
        --open;
        continue;
      }
      std::scoped_lock lock(mutex_);
      texts[i]->append(buffer, n);
      changed_.notify_all();
    }
  }
  for (int i = 0; i < 2; ++i)
    if (fds[i].fd >= 0) close(fds[i].fd);
}

std::string ChildProcess::Out() {
  std::scoped_lock lock(mutex_);
  return out_;
}

std::string ChildProcess::Err() {
  std::scoped_lock lock(mutex_);
  return err_;
}

bool ChildProcess::WaitFor(const std::string& (ChildProcess::*stream)() const,
                           const std::string& text, std::chrono::milliseconds limit) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, limit, [&] { return (this->*stream)().find(text) != std::string::npos; });
}

bool ChildProcess::WaitForOut(const std::string& text, std::chrono::milliseconds limit) {
  return WaitFor(&ChildProcess::OutText, text, limit);
}

bool ChildProcess::WaitForErr(const std::string& text, std::chrono::milliseconds limit) {
  return WaitFor(&ChildProcess::ErrText, text, limit);
}

void ChildProcess::Signal(int signal) {
  if (!status_) kill(pid_, signal);
}

std::optional<int> ChildProcess::WaitExit(std::chrono::milliseconds limit) {
  auto until = std::chrono::steady_clock::now() + limit;
  while (!status_) {
    int status = 0;
    pid_t r = waitpid(pid_, &status, WNOHANG);
    if (r == pid_) {
      status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    } else if (std::chrono::steady_clock::now() >= until) {
      break;
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
  }
  return status_;
}

int FreePort() {
  for (;;) {
    int port = AnyPort();
    if (PortFree(port)) return port;
  }
}

int FreePortPair() {
  for (;;) {
    int port = FreePort();
    if (PortFree(port + 2)) return port;
  }
}

SilentPeer::SilentPeer(int port) {
  listener_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(listener_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (bind(listener_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 || listen(listener_, 8) != 0)
    throw std::runtime_error("cannot listen on port " + std::to_string(port));
}

SilentPeer::~SilentPeer() {
  for (int fd : accepted_) close(fd);
  close(listener_);
}

bool SilentPeer::WaitForConnection(std::chrono::milliseconds limit) {
  pollfd p{listener_, POLLIN, 0};
  if (poll(&p, 1, static_cast<int>(limit.count())) != 1) return false;
  int fd = accept4(listener_, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return false;
  accepted_.push_back(fd);
  return true;
}

}  // namespace sv::test
