#pragma once
// Helpers shared by the controller's tests (header only; no production code uses it).
#include <string>
#include <vector>

#include "eventlog/drLogger.h"
#include "platform/ProgramPaths.h"
#include "platform/TestHooks.h"
#include "tests/support/TestPlatform.h"

namespace sv::test {

// The log's texts in the order they were added (the log itself is newest first).
inline std::vector<std::string> Entries(TdrEventLog& log) {
  std::vector<std::string> texts;
  for (int i = log.Count() - 1; i >= 0; --i) texts.push_back(log.Items(i).Text());
  return texts;
}

// Points the configuration folder at a folder of the test's for one scope: through
// XDG_CONFIG_HOME where the desktop's rules decide it, through the platform's test hook
// on Windows, whose folder follows no variable.
class ScopedConfigFolder {
 public:
  explicit ScopedConfigFolder(const std::string& folder) : xdg_("XDG_CONFIG_HOME", folder) {
    if (OnWindows()) SetConfigFolderForTesting(SystemPath(folder));
  }
  ~ScopedConfigFolder() {
    if (OnWindows()) SetConfigFolderForTesting(SystemPath());
  }
  ScopedConfigFolder(const ScopedConfigFolder&) = delete;
  ScopedConfigFolder& operator=(const ScopedConfigFolder&) = delete;
  // The path of a file below the folder as the system names it.
  static std::string File(const std::string& folder, const std::string& relative) {
    return (SystemPath(folder) / relative).Native();
  }

 private:
  ScopedEnv xdg_;
};

}  // namespace sv::test
