#include "platform/posix/TempFiles.h"

#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <random>

#include "platform/posix/DescriptorPath.h"

namespace sv::fs {
namespace {

// Whether a file opened without a name can be given one later: through its entry in
// /proc, which a system without /proc lacks.
bool CanNameUnnamedFiles() {
  static const bool can = ::access("/proc/self/fd", X_OK) == 0;
  return can;
}

}  // namespace

// A short name, so that a target named as long as the disk allows still gets one, and
// one unlikely to meet another writer's: a prefix of process id and random bits, made
// once per process, and a counter.
std::string TempName(const std::string& target) {
  static const std::string prefix = [] {
    char text[32];
    std::snprintf(text, sizeof text, ".sv%x%08x-", static_cast<unsigned>(getpid()),
                  static_cast<unsigned>(std::random_device{}()));
    return std::string(text);
  }();
  static std::atomic<unsigned> counter{0};
  const std::size_t slash = target.rfind('/');
  const std::string folder = slash == std::string::npos ? "" : target.substr(0, slash + 1);
  return folder + prefix + std::to_string(counter.fetch_add(1)) + ".tmp";
}

// Gives the file open at `fd` the name `path` (disk form); errno on failure. Recent
// kernels let the process that opened a file name it through the descriptor itself,
// which spares the lookup of its entry in /proc; older ones
// grant that only to a privileged process and answer ENOENT, as they do for a missing
// folder. So /proc is asked after such an answer until the direct way has worked once,
// and only /proc once it alone has.
bool LinkDescriptor(int fd, const std::string& path) {
  enum Way { kUntried, kDirect, kThroughProc };
  static std::atomic<Way> way{kUntried};
  const Way known = way.load(std::memory_order_relaxed);
  if (known != kThroughProc) {
    if (::linkat(fd, "", AT_FDCWD, path.c_str(), AT_EMPTY_PATH) == 0) {
      if (known == kUntried) way.store(kDirect, std::memory_order_relaxed);
      return true;
    }
    if (known == kDirect || errno != ENOENT) return false;
  }
  if (::linkat(AT_FDCWD, DescriptorPath(fd).c_str(), AT_FDCWD, path.c_str(), AT_SYMLINK_FOLLOW) != 0) return false;
  if (known == kUntried) way.store(kThroughProc, std::memory_order_relaxed);
  return true;
}

// `unnamed`: where the file system allows, the file is made without a name (O_TMPFILE),
// to be named at its commit; one that is never committed leaves nothing behind, even
// when the program is killed, and naming it at once as the target costs the folder one
// change instead of two (a create and a rename). Otherwise, and elsewhere, it gets a
// temporary name.
Temp CreateTemp(const std::string& target, bool unnamed) {
  if (unnamed && CanNameUnnamedFiles()) {
    const std::string folder(FolderOf(target));
    const int fd = ::open(folder.empty() ? "." : folder.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
    if (fd >= 0) return {std::string(), fd};
  }
  for (int attempt = 0; attempt < 10; ++attempt) {
    std::string name = TempName(target);
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0) return {std::move(name), fd};
    if (errno != EEXIST) break;
  }
  return {};
}

void Discard(Temp& temp) {
  if (temp.fd < 0) return;
  ::close(temp.fd);
  if (!temp.name.empty()) ::unlink(temp.name.c_str());
  temp.fd = -1;
}

std::string_view FolderOf(std::string_view target) { return target.substr(0, target.rfind('/') + 1); }

}  // namespace sv::fs
