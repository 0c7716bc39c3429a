#include "platform/ProgramPaths.h"

#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <vector>

#include "platform/TestHooks.h"

namespace sv {
namespace {

std::string ProgramFilePath() {
  std::vector<char> buffer(256);
  for (;;) {
    ssize_t n = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (n < 0) return std::string();
    if (static_cast<std::size_t>(n) < buffer.size()) return std::string(buffer.data(), n);
    buffer.resize(buffer.size() * 2);
  }
}

SystemPath& ConfigFolderOverride() {
  static SystemPath folder;
  return folder;
}

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace

SystemPath ProgramFolder() { return SystemPath(ProgramFilePath()).Folder(); }

std::string ProgramFileName() {
  std::string path = ProgramFilePath();
  return SystemPath(path.substr(path.rfind('/') + 1)).Text();
}

SystemPath HomeFolder() {
  std::string home = Environment("HOME");
  if (home.empty()) {
    struct passwd entry {};
    struct passwd* found = nullptr;
    std::vector<char> buffer(16384);
    if (getpwuid_r(getuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found)
      home = found->pw_dir;
  }
  while (home.size() > 1 && home.back() == '/') home.pop_back();
  return SystemPath(home);
}

std::string HomeFolderText() {
  std::string text;
  return HomeFolder().ExactText(text) ? text : "~";
}

SystemPath ConfigFolder() {
  if (!ConfigFolderOverride().empty()) return ConfigFolderOverride();
  // A relative XDG folder is to be ignored, as the desktop's base-directory rules say.
  std::string config = Environment("XDG_CONFIG_HOME");
  if (config.empty() || config[0] != '/') return HomeFolder() / ".config";
  while (config.size() > 1 && config.back() == '/') config.pop_back();
  return SystemPath(config);
}

std::string DefaultProjectRoot() { return HomeFolderText() + "/drumel"; }

void SetConfigFolderForTesting(const SystemPath& folder) { ConfigFolderOverride() = folder; }

}  // namespace sv
