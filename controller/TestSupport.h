#pragma once
// Helpers shared by the controller's tests (header only; no production code uses it).
#include <string>
#include <vector>

#include "eventlog/drLogger.h"
#include "platform/ProgramPaths.h"

namespace sv::test {

// The log's texts in the order they were added (the log itself is newest first).
inline std::vector<std::string> Entries(TdrEventLog& log) {
  std::vector<std::string> texts;
  for (int i = log.Count() - 1; i >= 0; --i) texts.push_back(log.Items(i).Text());
  return texts;
}

// Points the configuration folder at a folder of the test's for one scope.
class ScopedConfigFolder {
 public:
  explicit ScopedConfigFolder(const std::string& folder) { SetConfigFolderForTesting(folder); }
  ~ScopedConfigFolder() { SetConfigFolderForTesting(""); }
  ScopedConfigFolder(const ScopedConfigFolder&) = delete;
  ScopedConfigFolder& operator=(const ScopedConfigFolder&) = delete;
};

}  // namespace sv::test
