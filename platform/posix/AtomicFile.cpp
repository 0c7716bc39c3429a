#include "platform/AtomicFile.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "base/Exception.h"
#include "base/Messages.h"
#include "platform/FileSystem.h"
#include "platform/PendingContent.h"
#include "platform/posix/DescriptorPath.h"
#include "platform/posix/TempFiles.h"

namespace sv::fs {

struct AtomicFile::Impl : AtomicFileState {
  Impl() : AtomicFileState([this](const char* data, std::size_t size) { WriteOut(data, size); }) {}

  std::string path;    // as the caller named it, for the message
  std::string target;  // disk form
  std::string temp;    // disk form; empty while the file has no name
  int fd = -1;
  int error = 0;       // the first failure, reported by Commit
  bool durable = false;
  bool committed = false;
  mode_t keepMode = 0;  // mode of a replaced target; 0 for a new file
  std::uint64_t written = 0;    // bytes handed to the system
  std::uint64_t announced = 0;  // the size Reserve was told; 0 when none
  std::uint64_t allocated = 0;  // bytes of blocks taken ahead, from the file's start

  void WriteOut(const char* data, std::size_t size);
  // Takes the blocks of the next kReserveStep bytes past `written`, up to the announced
  // size. A full disk or quota fails the writer; a file system that cannot take blocks
  // ahead ends the taking, and blocks are found as the content is written.
  void TakeBlocksAhead();
  // The steps of Commit, in order.
  void Seal();
  bool NameAtOnce();
  void Replace();

  // Refuses a target that is a folder or read-only (by its mode bits, so that it holds
  // for a privileged user too), then creates the temporary file.
  void Open(bool targetIsNew, TempFilesAhead::Ticket ahead) {
    struct stat st {};
    std::optional<Temp> made;
    if (ahead.maker) made = ahead.maker->impl_->Take(ahead.number, target);
    if (!targetIsNew && ::stat(target.c_str(), &st) == 0) {
      const int refused = S_ISDIR(st.st_mode) ? EISDIR : (st.st_mode & 0222) == 0 ? EACCES : 0;
      if (refused) {
        if (made) Discard(*made);
        return Fail(refused);
      }
      keepMode = st.st_mode & 07777;
    }
    // A durable file (settings) is written to a named file; content may go to an unnamed
    // one.
    Temp created = made ? std::move(*made) : CreateTemp(target, !durable);
    if (created.fd < 0) return Fail(errno);
    temp = std::move(created.name);
    fd = created.fd;
    if (keepMode) ::fchmod(fd, keepMode);
  }

  bool Discarding() const override { return fd < 0 || error != 0; }

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

AtomicFile::AtomicFile(std::string_view path, Durability durability, bool targetIsNew, TempFilesAhead::Ticket ahead)
    : impl_(std::make_unique<Impl>()) {
  impl_->path = std::string(path);
  impl_->target = NativePath(path);
  impl_->durable = durability == Durability::Durable;
  impl_->Open(targetIsNew, ahead);
}

AtomicFile::~AtomicFile() {
  impl_->CloseFile();
  if (!impl_->committed && !impl_->temp.empty()) ::unlink(impl_->temp.c_str());
}

void AtomicFile::Reserve(std::uint64_t size) {
  Impl& m = *impl_;
  if (m.fd < 0 || m.error != 0) return;
  m.pending.Announce(size);
  if (size <= kBufferSize) return;  // held until Commit, whose one write tells
  struct statvfs vfs {};
  if (::fstatvfs(m.fd, &vfs) != 0) return;
  // The blocks reserved for the administrator are free only to the administrator.
  std::uint64_t free = (::geteuid() == 0 ? vfs.f_bfree : vfs.f_bavail) * std::uint64_t{vfs.f_frsize};
  if (FreeSpaceLimit()) free = std::min(free, *FreeSpaceLimit());
  if (size > free) {
    m.Fail(ENOSPC);
    m.Raise();
  }
  m.announced = size;
  m.TakeBlocksAhead();
  if (m.error != 0) m.Raise();
}

// The blocks of content announced large are taken a step ahead of what has been written,
// kept beyond the file's end until the content fills them: the file system then need not
// find a block as each one is written, and the step is large enough that taking it costs
// little. Only a step: a sender that stalls after announcing gigabytes holds no more of
// the disk than it has sent and one step.
constexpr std::uint64_t kReserveStep = std::uint64_t{64} << 20;

void AtomicFile::Impl::TakeBlocksAhead() {
  const std::uint64_t until = std::min(announced, written + kReserveStep);
  if (until <= allocated) return;
  if (::fallocate(fd, FALLOC_FL_KEEP_SIZE, static_cast<off_t>(allocated), static_cast<off_t>(until - allocated)) == 0) {
    allocated = until;
  } else if (errno == ENOSPC || errno == EDQUOT) {
    Fail(errno);
  } else {
    announced = 0;  // not on this file system: blocks are found as the content is written
  }
}

// Content goes to the system at most this much at a time. The page cache takes memory for
// a write in blocks as large as the write, and a virtual machine may have handed its large
// free blocks back to its host, which supplies them afresh, and slowly, when touched:
// pieces of this size keep a large copy's time steady there (see bench/).
constexpr std::size_t kWritePiece = 256 * 1024;

void AtomicFile::Impl::WriteOut(const char* data, std::size_t size) {
  while (size > 0 && fd >= 0 && error == 0) {
    if (written + std::min(size, kWritePiece) > allocated && allocated < announced) {
      TakeBlocksAhead();
      continue;
    }
    const ssize_t n = ::write(fd, data, std::min(size, kWritePiece));
    if (n < 0) {
      if (errno != EINTR) Fail(errno);
      continue;
    }
    data += n;
    size -= static_cast<std::size_t>(n);
    written += static_cast<std::uint64_t>(n);
  }
}

AtomicFileState& AtomicFile::State() { return *impl_; }

// Makes the written file whole: gives back blocks taken ahead past its end, sets its
// time and, for a durable file, flushes it to the disk. Nothing after a failure.
void AtomicFile::Impl::Seal() {
  if (error != 0) return;
  // Content shorter than announced gives back the blocks taken ahead past its end.
  if (written < allocated) ::ftruncate(fd, static_cast<off_t>(written));
  if (time) {
    struct timespec times[2] {};
    times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(*time);
    ::futimens(fd, times);  // a time that cannot be set leaves the time of the write
  }
  if (durable && ::fsync(fd) != 0) Fail(errno);
}

// Names an unnamed file: as the target when nothing is there (true: the commit is done),
// else under a temporary name, only until Replace renames it over the target. A named
// file keeps its name. Calls the commit hook with the file's path either way; nothing
// after a failure.
bool AtomicFile::Impl::NameAtOnce() {
  if (error != 0) return false;
  if (!temp.empty()) {
    if (CommitHook()) CommitHook()(temp);
    return false;
  }
  if (CommitHook()) CommitHook()(DescriptorPath(fd));
  const bool replaces = keepMode != 0;
  if (!replaces && LinkDescriptor(fd, target)) {
    CloseFile();
    if (error != 0) Raise();
    committed = true;
    return true;
  }
  // Replacing, or the target appeared meanwhile (errno EEXIST): a temporary name.
  for (int attempt = 0; (replaces || errno == EEXIST) && attempt < 10; ++attempt) {
    std::string name = TempName(target);
    if (LinkDescriptor(fd, name)) {
      temp = std::move(name);
      return false;
    }
    if (errno != EEXIST) break;
  }
  Fail(errno);
  return false;
}

// Renames the closed temporary file over the target; raises when it cannot.
void AtomicFile::Impl::Replace() {
  if (::rename(temp.c_str(), target.c_str()) != 0) {
    Fail(errno);
    Raise();
  }
  committed = true;
}

void AtomicFile::Commit(const std::function<void()>& beforeReplace) {
  Impl& m = *impl_;
  m.pending.Flush();
  m.Seal();
  if (m.NameAtOnce()) return;
  m.CloseFile();
  if (m.error != 0) m.Raise();
  if (beforeReplace) beforeReplace();
  m.Replace();
}

}  // namespace sv::fs
