#include "tests/support/TestPlatform.h"

#include <grp.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <stdexcept>

namespace sv::test {

bool OnWindows() { return false; }

std::string MakeTempFolder(const std::string& prefix) {
  const char* base = std::getenv("TMPDIR");
  std::string pattern = std::string(base && *base ? base : "/tmp") + "/" + prefix + "-XXXXXX";
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  return pattern;
}

void SetEnv(const std::string& name, const std::optional<std::string>& value) {
  value ? setenv(name.c_str(), value->c_str(), 1) : unsetenv(name.c_str());
}

std::optional<std::string> RunRestricted(const Restrictions& limits, const std::function<std::string()>& fn) {
  int channel[2];
  if (::pipe(channel) != 0) return "(child: no pipe)";
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(channel[0]);
    constexpr gid_t kNobody = 65534;
    const rlimit files{static_cast<rlim_t>(limits.maxOpenFiles), static_cast<rlim_t>(limits.maxOpenFiles)};
    std::string result = "(child could not be restricted)";
    if ((!limits.unprivileged || ::geteuid() != 0 ||
         (::setgroups(0, nullptr) == 0 && ::setresgid(kNobody, kNobody, kNobody) == 0 &&
          ::setresuid(kNobody, kNobody, kNobody) == 0)) &&
        (limits.maxOpenFiles == 0 || ::setrlimit(RLIMIT_NOFILE, &files) == 0)) {
      try {
        result = fn();
      } catch (const std::exception& e) {
        result = std::string("(child raised) ") + e.what();
      }
    }
    for (std::size_t done = 0; done < result.size();) {
      const ssize_t n = ::write(channel[1], result.data() + done, result.size() - done);
      if (n <= 0) break;
      done += static_cast<std::size_t>(n);
    }
    ::_exit(0);
  }
  ::close(channel[1]);
  std::string result;
  char buffer[4096];
  for (ssize_t n; child > 0 && (n = ::read(channel[0], buffer, sizeof buffer)) > 0;) result.append(buffer, n);
  ::close(channel[0]);
  int status = 0;
  if (child <= 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return "(child did not end well) " + result;
  return result;
}

}  // namespace sv::test
