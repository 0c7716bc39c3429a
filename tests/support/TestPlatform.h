#pragma once
// What differs between the systems the tests run on, one implementation per system
// (posix/, win32/, chosen by CMake).
#include <functional>
#include <optional>
#include <string>

namespace sv::test {

// True in the Windows build (whose tests run under Wine).
bool OnWindows();
// A new folder in the system's temporary folder, its name `prefix` and a random ending;
// the path is UTF-8.
std::string MakeTempFolder(const std::string& prefix);
// Sets an environment variable of this process, or removes it (nullopt).
void SetEnv(const std::string& name, const std::optional<std::string>& value);

// What a child process of RunRestricted may not do.
struct Restrictions {
  int maxOpenFiles = 0;       // descriptors it may hold at most; 0: as this process
  bool unprivileged = false;  // runs as a user whom permission bits bind (not root)
};
// Runs `fn` in a child process under `limits` and hands back what it returned; a text
// starting with "(child" when the child could not be restricted or did not end well.
// nullopt where the system has no such children (Windows).
std::optional<std::string> RunRestricted(const Restrictions& limits, const std::function<std::string()>& fn);

// Sets an environment variable for one scope and restores it afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const std::string& name, const std::optional<std::string>& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

}  // namespace sv::test

// Skips a test of behaviour that only POSIX systems have, saying why.
#define SV_SKIP_ON_WINDOWS(reason) \
  if (::sv::test::OnWindows()) GTEST_SKIP() << (reason)
