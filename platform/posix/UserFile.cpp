#include "platform/UserFile.h"

#include <errno.h>
#include <fcntl.h>
#include <acl/libacl.h>
#include <sys/acl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <random>

#include "base/Exception.h"
#include "base/Messages.h"
#include "platform/FileSystem.h"
#include "platform/TestHooks.h"

namespace sv::fs {
namespace {

std::function<void(const std::string&)>& RewriteHook() {
  static std::function<void(const std::string&)> hook;
  return hook;
}

// Closes a descriptor when the scope ends.
struct Descriptor {
  int fd;
  explicit Descriptor(int f) : fd(f) {}
  ~Descriptor() {
    if (fd >= 0) ::close(fd);
  }
  Descriptor(const Descriptor&) = delete;
  Descriptor& operator=(const Descriptor&) = delete;
};

std::string FolderOf(const std::string& path) {
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

// Where a chain of links at the last component ends: the path itself when it is no link
// (or is missing). Relative link texts are read from the link's own folder.
bool FinalTarget(std::string path, std::string& target) {
  for (int hop = 0; hop < 40; ++hop) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) {
      target = std::move(path);
      return true;
    }
    char link[PATH_MAX];
    const ssize_t n = ::readlink(path.c_str(), link, sizeof link);
    if (n < 0) return false;
    if (static_cast<std::size_t>(n) == sizeof link) return (errno = ENAMETOOLONG, false);
    const std::string text(link, static_cast<std::size_t>(n));
    path = text[0] == '/' ? text : FolderOf(path) + "/" + text;
  }
  errno = ELOOP;
  return false;
}

bool WriteAll(int fd, std::string_view content) {
  std::size_t done = 0;
  while (done < content.size()) {
    const ssize_t n = ::pwrite(fd, content.data() + done, content.size() - done, static_cast<off_t>(done));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// Makes the temporary file take over the owner, group, mode and access list of the file
// it replaces; false (errno set) when one of them cannot be carried over.
bool TakeOver(int fd, const std::string& target, const struct stat& old) {
  struct stat now {};
  if (::fstat(fd, &now) != 0) return false;
  if ((now.st_uid != old.st_uid || now.st_gid != old.st_gid) && ::fchown(fd, old.st_uid, old.st_gid) != 0)
    return false;
  if (::fchmod(fd, old.st_mode & 07777) != 0) return false;
  if (::acl_extended_file(target.c_str()) != 1) return true;
  acl_t acl = ::acl_get_file(target.c_str(), ACL_TYPE_ACCESS);
  if (!acl) return false;
  const bool set = ::acl_set_fd(fd, acl) == 0;
  ::acl_free(acl);
  return set;
}

// A new file beside the target with a short name of its own; -1 when none can be made.
int CreateTemporary(const std::string& target, std::string& name) {
  static thread_local std::mt19937 generator{std::random_device{}()};
  static const char kLetters[] = "abcdefghijklmnopqrstuvwxyz0123456789";
  for (int attempt = 0; attempt < 10; ++attempt) {
    name = FolderOf(target) + "/.sv";
    for (int i = 0; i < 8; ++i) name += kLetters[generator() % (sizeof kLetters - 1)];
    const int fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd >= 0 || errno != EEXIST) return fd;
  }
  return -1;
}

enum class Outcome { kDone, kCannotKeep, kFailed };

// The content through a temporary file renamed over the target. kCannotKeep (nothing
// changed) when the file could not be kept as it was that way; kFailed when the content
// could not be written.
Outcome ReplaceAtomically(const std::string& target, const struct stat* old, std::string_view content,
                          int& error) {
  std::string temp;
  Descriptor fd(CreateTemporary(target, temp));
  if (fd.fd < 0) return (error = errno, Outcome::kCannotKeep);
  // Removes the temporary file on every way out but the rename.
  struct Remove {
    const std::string& path;
    bool keep = false;
    ~Remove() {
      if (!keep) ::unlink(path.c_str());
    }
  } remove{temp};
  if (old && !TakeOver(fd.fd, target, *old)) return (error = errno, Outcome::kCannotKeep);
  if (!WriteAll(fd.fd, content) || ::fsync(fd.fd) != 0) return (error = errno, Outcome::kFailed);
  if (RewriteHook()) RewriteHook()(temp);
  if (::rename(temp.c_str(), target.c_str()) != 0) return (error = errno, Outcome::kCannotKeep);
  remove.keep = true;
  // The rename itself reaches the disk with its folder.
  Descriptor folder(::open(FolderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (folder.fd >= 0) ::fsync(folder.fd);
  return Outcome::kDone;
}

// The content written over the file itself: the same file, owner and links, flushed.
bool RewriteInPlace(const std::string& target, std::string_view content, int& error) {
  Descriptor fd(::open(target.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0666));
  // Written before the old tail is cut, so the new content is whole at every moment.
  if (fd.fd < 0 || !WriteAll(fd.fd, content) || ::ftruncate(fd.fd, static_cast<off_t>(content.size())) != 0 ||
      ::fsync(fd.fd) != 0) {
    error = errno;
    return false;
  }
  return true;
}

[[noreturn]] void Raise(const SystemPath& path, int error) {
  throw Exception(Format(msg::kCannotCreateFile, path.Text(), ErrorText(error)));
}

}  // namespace

void RewriteUserFile(const SystemPath& path, std::string_view content) {
  std::string target;
  if (!FinalTarget(path.Native(), target)) Raise(path, errno);
  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;
  const bool regular = exists && S_ISREG(old.st_mode);
  if (exists && S_ISDIR(old.st_mode)) Raise(path, EISDIR);
  // By the mode bits, so that it holds for a privileged user too.
  if (regular && (old.st_mode & 0222) == 0) Raise(path, EACCES);
  int error = 0;
  if (!regular || old.st_nlink == 1) {
    const Outcome outcome = ReplaceAtomically(target, regular ? &old : nullptr, content, error);
    if (outcome == Outcome::kDone) return;
    // Something that is neither a file nor missing (a pipe) is never written into.
    if (outcome == Outcome::kFailed || (exists && !regular)) Raise(path, error);
  }
  if (!RewriteInPlace(target, content, error)) Raise(path, error);
}

void SetRewriteHookForTesting(std::function<void(const std::string& tempPath)> hook) {
  RewriteHook() = std::move(hook);
}

}  // namespace sv::fs
