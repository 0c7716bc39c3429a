#include "platform/AtomicFile.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <mutex>
#include <random>
#include <thread>

#include "base/Exception.h"
#include "base/Messages.h"
#include "platform/FileSystem.h"
#include "platform/PendingContent.h"
#include "platform/posix/DescriptorPath.h"

namespace sv::fs {

namespace {

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

std::string_view FolderOf(std::string_view target) { return target.substr(0, target.rfind('/') + 1); }

// A temporary file created beside the target (disk form): its name and descriptor, or
// the descriptor -1 and errno set.
struct Temp {
  std::string name;
  int fd = -1;
};

// Whether a file opened without a name can be given one later: through its entry in
// /proc, which a system without /proc lacks.
bool CanNameUnnamedFiles() {
  static const bool can = ::access("/proc/self/fd", X_OK) == 0;
  return can;
}

// Gives the file open at `fd` the name `path` (disk form); errno on failure. Recent
// kernels let the process that opened a file name it through the descriptor itself,
// which spares the lookup of its entry in /proc (about a fifth of the call); older ones
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

}  // namespace

struct TempFilesAhead::Impl {
  struct Job {
    std::uint64_t number;
    std::string target;  // disk form
    enum State { kWaiting, kMaking, kMade } state = kWaiting;
    Temp temp;
  };

  std::mutex mutex;  // guards everything below
  std::condition_variable wake;  // the maker: a job or the stop
  std::condition_variable made;  // a writer: its job is made
  std::deque<Job> jobs;          // oldest first
  std::uint64_t next = 1;
  bool stop = false;
  std::thread thread;

  Job* Find(std::uint64_t number) {
    for (Job& job : jobs) {
      if (job.number == number) return &job;
    }
    return nullptr;
  }

  void Work() {
    std::unique_lock lock(mutex);
    for (;;) {
      Job* job = nullptr;
      wake.wait(lock, [&] {
        for (Job& j : jobs) {
          if (j.state == Job::kWaiting) return (job = &j) != nullptr;
        }
        return stop;
      });
      if (stop) return;
      job->state = Job::kMaking;
      const std::uint64_t number = job->number;
      const std::string target = job->target;
      lock.unlock();
      Temp temp = CreateTemp(target, true);
      lock.lock();
      if (Job* still = Find(number)) {
        still->temp = std::move(temp);
        still->state = Job::kMade;
        made.notify_all();
      } else {
        Discard(temp);  // its writer has gone by
      }
    }
  }

  // The file made for `ticket`, when it was made beside `target`; the files asked for
  // before it are removed. Waits while it is being made; one not yet begun is not made.
  std::optional<Temp> Take(std::uint64_t number, std::string_view target) {
    std::unique_lock lock(mutex);
    while (!jobs.empty() && jobs.front().number < number) {
      Discard(jobs.front().temp);
      jobs.pop_front();
    }
    if (jobs.empty() || jobs.front().number != number) return std::nullopt;
    made.wait(lock, [&] { return jobs.front().state != Job::kMaking; });
    Job job = std::move(jobs.front());
    jobs.pop_front();
    if (job.temp.fd >= 0 && FolderOf(job.target) == FolderOf(target)) return std::move(job.temp);
    Discard(job.temp);
    return std::nullopt;
  }
};

TempFilesAhead::TempFilesAhead() : impl_(std::make_unique<Impl>()) {}

TempFilesAhead::~TempFilesAhead() {
  Clear();
  {
    std::scoped_lock lock(impl_->mutex);
    impl_->stop = true;
  }
  impl_->wake.notify_one();
  if (impl_->thread.joinable()) impl_->thread.join();
}

std::vector<TempFilesAhead::Ticket> TempFilesAhead::Prepare(const std::vector<std::string>& paths) {
  Impl& m = *impl_;
  std::vector<Ticket> tickets(paths.size());
  if (paths.empty()) return tickets;
  try {
    if (!m.thread.joinable()) m.thread = std::thread([&m] { m.Work(); });
    std::scoped_lock lock(m.mutex);
    for (std::size_t i = 0; i < paths.size(); ++i) {
      m.jobs.push_back({m.next, NativePath(paths[i]), Impl::Job::kWaiting, {}});
      tickets[i] = {this, m.next++};
    }
  } catch (const std::exception&) {
    // No thread or no memory: the writers without a ticket create their own files.
  }
  m.wake.notify_one();
  return tickets;
}

void TempFilesAhead::Clear() noexcept {
  std::scoped_lock lock(impl_->mutex);
  for (auto& job : impl_->jobs) Discard(job.temp);
  impl_->jobs.clear();  // one being made is removed by the maker
}

struct AtomicFile::Impl {
  std::string path;    // as the caller named it, for the message
  std::string target;  // disk form
  std::string temp;    // disk form; empty while the file has no name
  int fd = -1;
  int error = 0;       // the first failure, reported by Commit
  bool durable = false;
  bool committed = false;
  mode_t keepMode = 0;  // mode of a replaced target; 0 for a new file
  PendingContent pending{[this](const char* data, std::size_t size) { WriteOut(data, size); }};
  std::optional<std::int64_t> time;
  std::uint64_t written = 0;    // bytes handed to the system
  std::uint64_t announced = 0;  // the size Reserve was told; 0 when none
  std::uint64_t allocated = 0;  // bytes of blocks taken ahead, from the file's start

  void WriteOut(const char* data, std::size_t size);
  // Takes the blocks of the next kReserveStep bytes past `written`, up to the announced
  // size. A full disk or quota fails the writer; a file system that cannot take blocks
  // ahead ends the taking, and blocks are found as the content is written.
  void TakeBlocksAhead();

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
    // Settings are written to a named file, as they always were; content may go to an
    // unnamed one.
    Temp created = made ? std::move(*made) : CreateTemp(target, !durable);
    if (created.fd < 0) return Fail(errno);
    temp = std::move(created.name);
    fd = created.fd;
    if (keepMode) ::fchmod(fd, keepMode);
  }

  bool Discarding() const { return fd < 0 || error != 0; }

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
// find a block as each one is written (about a fifth of a large copy's time on ext4), and
// the step is large enough that taking it costs little. Only a step: a sender that stalls
// after announcing gigabytes holds no more of the disk than it has sent and one step.
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
// free blocks back to its host, which supplies them afresh, and slowly, when touched: a
// 1 GiB copy written 1 MiB at a time took 0.4 to 2.9 s on such a machine, 256 KiB at a
// time 0.4 to 0.5 s.
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

void AtomicFile::Write(const char* data, std::size_t size) {
  if (!impl_->Discarding()) impl_->pending.Write(data, size);  // discarding: see the constructor
}

// While discarding, the room still takes the bytes, which Placed then drops.
char* AtomicFile::Room(std::size_t minimum, std::size_t& size) { return impl_->pending.Room(minimum, size); }

void AtomicFile::Placed(std::size_t n) {
  if (!impl_->Discarding()) impl_->pending.Placed(n);
}

void AtomicFile::SetTime(std::int64_t unixSeconds) { impl_->time = unixSeconds; }

void AtomicFile::Commit(const std::function<void()>& beforeReplace) {
  Impl& m = *impl_;
  m.pending.Flush();
  // Content shorter than announced gives back the blocks taken ahead past its end.
  if (m.error == 0 && m.written < m.allocated) ::ftruncate(m.fd, static_cast<off_t>(m.written));
  if (m.error == 0 && m.time) {
    struct timespec times[2] {};
    times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(*m.time);
    ::futimens(m.fd, times);  // a time that cannot be set leaves the time of the write
  }
  if (m.error == 0 && m.durable && ::fsync(m.fd) != 0) m.Fail(errno);
  if (m.error == 0 && m.temp.empty()) {
    // An unnamed file takes the target's name when nothing is there; else (it replaces
    // the target, or the target appeared meanwhile) a temporary name, only until it is
    // renamed over the target below.
    if (CommitHook()) CommitHook()(DescriptorPath(m.fd));
    const bool replaces = m.keepMode != 0;
    if (!replaces && LinkDescriptor(m.fd, m.target)) {
      m.CloseFile();
      if (m.error != 0) m.Raise();
      m.committed = true;
      return;
    }
    for (int attempt = 0; (replaces || errno == EEXIST) && attempt < 10; ++attempt) {
      std::string name = TempName(m.target);
      if (LinkDescriptor(m.fd, name)) {
        m.temp = std::move(name);
        break;
      }
      if (errno != EEXIST) break;
    }
    if (m.temp.empty()) m.Fail(errno);
  } else if (m.error == 0 && CommitHook()) {
    CommitHook()(m.temp);
  }
  m.CloseFile();
  if (m.error != 0) m.Raise();
  if (beforeReplace) beforeReplace();
  if (::rename(m.temp.c_str(), m.target.c_str()) != 0) {
    m.Fail(errno);
    m.Raise();
  }
  m.committed = true;
}

}  // namespace sv::fs
