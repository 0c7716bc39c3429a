#include "platform/AtomicFile.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <random>
#include <vector>

#include "base/Exception.h"
#include "base/Messages.h"
#include "platform/FileSystem.h"

namespace sv::fs {

namespace {

constexpr std::size_t kBufferSize = 256 * 1024;

std::function<void(const std::string&)>& CommitHook() {
  static std::function<void(const std::string&)> hook;
  return hook;
}

std::optional<std::uint64_t>& FreeSpaceLimit() {
  static std::optional<std::uint64_t> limit;
  return limit;
}

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

}  // namespace

struct AtomicFile::Impl {
  std::string path;    // as the caller named it, for the message
  std::string target;  // disk form
  std::string temp;    // disk form; empty until created
  int fd = -1;
  int error = 0;       // the first failure, reported by Commit
  bool durable = false;
  bool committed = false;
  mode_t keepMode = 0;  // mode of a replaced target; 0 for a new file
  std::vector<char> buffer;  // written content not yet handed to the system

  void WriteOut(const char* data, std::size_t size);

  // Refuses a target that is a folder or read-only (by its mode bits, so that it holds
  // for a privileged user too), then creates the temporary file.
  void Open() {
    struct stat st {};
    if (::stat(target.c_str(), &st) == 0) {
      if (S_ISDIR(st.st_mode)) return Fail(EISDIR);
      if ((st.st_mode & 0222) == 0) return Fail(EACCES);
      keepMode = st.st_mode & 07777;
    }
    for (int attempt = 0; attempt < 10; ++attempt) {
      std::string name = TempName(target);
      fd = ::open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
      if (fd >= 0) {
        temp = std::move(name);
        if (keepMode) ::fchmod(fd, keepMode);
        return;
      }
      if (errno != EEXIST) break;
    }
    Fail(errno);
  }

  void Fail(int e) {
    if (error == 0) error = e;
  }

  void CloseFile() {
    if (fd >= 0 && ::close(fd) != 0) Fail(errno);
    fd = -1;
  }

  [[noreturn]] void Raise() const {
    throw Exception(Format(msg::kCannotCreateFile, path, ErrorText(error)));
  }
};

AtomicFile::AtomicFile(std::string_view path, bool durable) : impl_(std::make_unique<Impl>()) {
  impl_->path = std::string(path);
  impl_->target = NativePath(path);
  impl_->durable = durable;
  impl_->Open();
}

AtomicFile::~AtomicFile() {
  impl_->CloseFile();
  if (!impl_->committed && !impl_->temp.empty()) ::unlink(impl_->temp.c_str());
}

void AtomicFile::Reserve(std::uint64_t size) {
  Impl& m = *impl_;
  if (m.fd < 0 || m.error != 0) return;
  struct statvfs vfs {};
  if (::fstatvfs(m.fd, &vfs) != 0) return;
  // The blocks reserved for the administrator are free only to the administrator.
  std::uint64_t free = (::geteuid() == 0 ? vfs.f_bfree : vfs.f_bavail) * std::uint64_t{vfs.f_frsize};
  if (FreeSpaceLimit()) free = std::min(free, *FreeSpaceLimit());
  if (size <= free) return;
  m.Fail(ENOSPC);
  m.Raise();
}

void AtomicFile::Impl::WriteOut(const char* data, std::size_t size) {
  while (size > 0 && fd >= 0 && error == 0) {
    const ssize_t n = ::write(fd, data, size);
    if (n < 0) {
      if (errno != EINTR) Fail(errno);
      continue;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
  }
}

void AtomicFile::Write(const char* data, std::size_t size) {
  Impl& m = *impl_;
  if (m.fd < 0 || m.error != 0) return;  // discarding: see the constructor
  // Content arrives in the channel's small pieces; gathering them saves system calls.
  if (m.buffer.size() + size > kBufferSize) {
    m.WriteOut(m.buffer.data(), m.buffer.size());
    m.buffer.clear();
    if (size >= kBufferSize) return m.WriteOut(data, size);
  }
  if (m.buffer.capacity() == 0) m.buffer.reserve(kBufferSize);
  m.buffer.insert(m.buffer.end(), data, data + size);
}

void AtomicFile::Commit() {
  Impl& m = *impl_;
  m.WriteOut(m.buffer.data(), m.buffer.size());
  m.buffer.clear();
  if (m.error == 0 && m.durable && ::fsync(m.fd) != 0) m.Fail(errno);
  m.CloseFile();
  if (m.error != 0) m.Raise();
  if (CommitHook()) CommitHook()(m.temp);
  if (::rename(m.temp.c_str(), m.target.c_str()) != 0) {
    m.Fail(errno);
    m.Raise();
  }
  m.committed = true;
}

void WriteFileAtomic(std::string_view path, std::string_view content) {
  AtomicFile file(path, true);
  file.Write(content.data(), content.size());
  file.Commit();
}

void SetCommitHookForTesting(std::function<void(const std::string& tempPath)> hook) {
  CommitHook() = std::move(hook);
}

void LimitFreeSpaceForTesting(std::optional<std::uint64_t> bytes) { FreeSpaceLimit() = bytes; }

}  // namespace sv::fs
