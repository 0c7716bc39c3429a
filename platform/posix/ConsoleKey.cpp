#include "platform/ConsoleKey.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <vector>

#include "base/Exception.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "platform/FileSystem.h"
#include "platform/ProgramPaths.h"

namespace sv {
namespace {

constexpr const char* kRuntimeFolder = "sorvana-client";

[[noreturn]] void Fail(const SystemPath& file, int error) {
  throw Exception(Format(msg::kCannotCreateFile, file.Text(), fs::ErrorText(error)));
}

// The runtime folder when the environment names an absolute one, else empty.
std::string RuntimeFolder() {
  const char* value = std::getenv("XDG_RUNTIME_DIR");
  return value && value[0] == '/' ? value : "";
}

// Creates `folder` and every missing folder above it with mode 0700.
void MakeFolders(const std::string& folder, const SystemPath& file) {
  for (std::size_t at = 1; at <= folder.size(); ++at) {
    if (at != folder.size() && folder[at] != '/') continue;
    if (mkdir(folder.substr(0, at).c_str(), 0700) != 0 && errno != EEXIST) Fail(file, errno);
  }
}

// The key's folder exists, belongs to this user and, when it is the program's own
// folder in the runtime folder, admits no one else.
void PrepareFolder(const std::string& folder, bool own, const SystemPath& file) {
  MakeFolders(folder, file);
  struct stat info {};
  if ((own ? lstat(folder.c_str(), &info) : stat(folder.c_str(), &info)) != 0) Fail(file, errno);
  if (!S_ISDIR(info.st_mode)) Fail(file, ENOTDIR);
  if (info.st_uid != geteuid()) Fail(file, EPERM);
  if (own && (info.st_mode & 07777) != 0700 && chmod(folder.c_str(), 0700) != 0) Fail(file, errno);
}

}  // namespace

void SystemRandomBytes(unsigned char* bytes, std::size_t size) {
  std::size_t filled = 0;
  while (filled < size) {
    const ssize_t n = getrandom(bytes + filled, size - filled, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) throw Exception(std::string("Cannot read the system's random source. ") + fs::ErrorText(errno));
    filled += static_cast<std::size_t>(n);
  }
}

SystemPath ConsoleKeyFile() {
  const std::string runtime = RuntimeFolder();
  if (!runtime.empty()) return SystemPath(runtime + "/" + kRuntimeFolder + "/console-key");
  return ConfigFolder() / "drumel/sorvana/console-key";
}

void WriteConsoleKeyFile(const SystemPath& file, const std::string& key) {
  const std::string folder = file.Folder().Native();
  const std::string runtime = RuntimeFolder();
  PrepareFolder(folder, !runtime.empty() && folder == runtime + "/" + kRuntimeFolder, file);
  WritePrivateFile(file, key + "\n");
}

void WritePrivateFile(const SystemPath& file, std::string_view content) {
  // A new file of mode 0600 takes the name in one step: no moment in which the content
  // is readable by others, and a stale file (or a link put in its place) is replaced.
  std::string temp = file.Native();
  temp.insert(temp.rfind('/') + 1, ".");
  temp += ".XXXXXX";
  const int fd = mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) Fail(file, errno);
  std::size_t written = 0;
  int error = 0;
  while (written < content.size() && error == 0) {
    const ssize_t n = write(fd, content.data() + written, content.size() - written);
    if (n < 0 && errno != EINTR) error = errno;
    if (n > 0) written += static_cast<std::size_t>(n);
  }
  if (error == 0 && fchmod(fd, 0600) != 0) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  if (error == 0 && rename(temp.c_str(), file.Native().c_str()) != 0) error = errno;
  if (error != 0) {
    unlink(temp.c_str());
    Fail(file, error);
  }
}

void RemoveConsoleKeyFile(const SystemPath& file) { unlink(file.Native().c_str()); }

}  // namespace sv
