#pragma once
// Helpers shared by the controller's tests (header only; no production code uses it).
#include <cstdlib>
#include <optional>
#include <string>
#include <vector>

#include "eventlog/drLogger.h"

namespace sv::test {

// The log's texts in the order they were added (the log itself is newest first).
inline std::vector<std::string> Entries(TdrEventLog& log) {
  std::vector<std::string> texts;
  for (int i = log.Count() - 1; i >= 0; --i) texts.push_back(log.Items(i).Text());
  return texts;
}

// Sets an environment variable for one scope and restores it afterwards.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() { old_ ? setenv(name_, old_->c_str(), 1) : unsetenv(name_); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

}  // namespace sv::test
