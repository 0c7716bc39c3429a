#pragma once
// What differs between the systems the tests run on, one implementation per system
// (posix/, win32/, chosen by CMake).
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
