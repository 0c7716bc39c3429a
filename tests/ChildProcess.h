#pragma once
// A program started by an end-to-end test: its output collected as it comes, signals
// sent to it, its end awaited with a bound. The bounds only keep a broken program from
// hanging a test; they are generous except where a test states a promised time.
#include <chrono>
#include <condition_variable>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

namespace sv::test {

class ChildProcess {
 public:
  // Starts program with the arguments; env holds "NAME=value" entries set on top of this
  // process's environment. Raises std::runtime_error when it cannot start.
  ChildProcess(const std::string& program, const std::vector<std::string>& args,
               const std::vector<std::string>& env = {});
  // Kills the program when it still runs and collects it.
  ~ChildProcess();
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // What it has written so far.
  std::string Out();
  std::string Err();
  // Waits until stdout (or stderr) holds text; false when it has not within limit.
  bool WaitForOut(const std::string& text, std::chrono::milliseconds limit);
  bool WaitForErr(const std::string& text, std::chrono::milliseconds limit);

  void Signal(int signal);
  // Its process id while it runs.
  int Pid() const { return pid_; }
  // Its exit status (128 + the signal when a signal ended it), or nothing when it is
  // still running after limit.
  std::optional<int> WaitExit(std::chrono::milliseconds limit);

 private:
  bool WaitFor(const std::string& (ChildProcess::*stream)() const, const std::string& text,
               std::chrono::milliseconds limit);
  const std::string& OutText() const { return out_; }
  const std::string& ErrText() const { return err_; }
  void Collect(int outFd, int errFd);

  int pid_ = -1;
  std::optional<int> status_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::string out_, err_;
  int wake_[2] = {-1, -1};  // ends the reader once the program is gone
  std::thread reader_;
};

// A loopback port that was free a moment ago (both on 127.0.0.1 and on ::1), and one
// such that it and the port two above it are free.
int FreePort();
int FreePortPair();

// A listening socket on 127.0.0.1 that accepts connections and never writes to them: a
// server that hangs. Closed on destruction.
class SilentPeer {
 public:
  explicit SilentPeer(int port);
  ~SilentPeer();
  // Waits until a connection has been accepted; false when none came within limit.
  bool WaitForConnection(std::chrono::milliseconds limit);

 private:
  int listener_ = -1;
  std::vector<int> accepted_;
};

}  // namespace sv::test
