#include "platform/Shell.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

namespace sv {
namespace {

// Retries a call that a signal interrupted.
template <typename F>
auto Retry(F call) {
  decltype(call()) r;
  do {
    r = call();
  } while (r < 0 && errno == EINTR);
  return r;
}

// Runs in the grandchild: undo what the host set up for itself, then become the program.
[[noreturn]] void ExecDetached(char* const* args, int reportFd) {
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  signal(SIGPIPE, SIG_DFL);
  execvp(args[0], args);
  int error = errno;
  (void)!write(reportFd, &error, sizeof error);
  _exit(127);
}

}  // namespace

bool StartDetached(const std::vector<std::string>& argv) {
  if (argv.empty()) return false;
  // Built before fork: the child of a threaded program may only make async-signal-safe calls.
  std::vector<std::string> copy = argv;
  std::vector<char*> args;
  for (std::string& a : copy) args.push_back(a.data());
  args.push_back(nullptr);

  // The pipe closes unread when exec succeeds (close-on-exec) and carries errno when not.
  int fds[2];
  if (pipe2(fds, O_CLOEXEC) != 0) return false;
  pid_t child = fork();
  if (child < 0) {
    close(fds[0]);
    close(fds[1]);
    return false;
  }
  if (child == 0) {
    // The intermediate child leaves at once, so the opener is adopted by init and
    // never becomes a zombie of ours.
    close(fds[0]);
    setsid();
    pid_t grandchild = fork();
    if (grandchild == 0) ExecDetached(args.data(), fds[1]);
    if (grandchild < 0) {
      int error = errno;
      (void)!write(fds[1], &error, sizeof error);
    }
    _exit(0);
  }
  close(fds[1]);
  int error = 0;
  ssize_t n = Retry([&] { return read(fds[0], &error, sizeof error); });
  close(fds[0]);
  int status = 0;
  Retry([&] { return waitpid(child, &status, 0); });
  return n == 0;
}

bool ShellOpen(std::string_view url) { return StartDetached({"xdg-open", std::string(url)}); }

}  // namespace sv
