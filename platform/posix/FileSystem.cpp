// The file-system layer on POSIX: names are UTF-8 on disk and Windows-1250 above.
#include "platform/FileSystem.h"

#include <dirent.h>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include "base/Exception.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "platform/ProgramPaths.h"
#include "platform/posix/DescriptorPath.h"

namespace sv::fs {
namespace {

thread_local int tLastError = 0;

// Records errno for LastError and hands back false, so failures read as one line.
bool Failed() {
  tLastError = errno;
  return false;
}

// Closes a descriptor or a directory stream when the scope ends.
class Fd {
 public:
  explicit Fd(int fd) : fd_(fd) {}
  ~Fd() {
    if (fd_ >= 0) ::close(fd_);
  }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

class Dir {
 public:
  explicit Dir(DIR* dir) : dir_(dir) {}
  ~Dir() {
    if (dir_) ::closedir(dir_);
  }
  Dir(const Dir&) = delete;
  Dir& operator=(const Dir&) = delete;
  DIR* get() const { return dir_; }

 private:
  DIR* dir_;
};

void FillFromStat(const struct stat& st, DirEntry& entry) {
  entry.isFolder = S_ISDIR(st.st_mode);
  entry.mtime = st.st_mtime;
  entry.device = st.st_dev;
  entry.inode = st.st_ino;
}

// Opens a file for reading or raises the promised text with the path as shown.
int OpenForReading(const std::string& native, std::string_view path) {
  const int fd = ::open(native.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    tLastError = errno;
    throw Exception(Format(msg::kCannotOpenFile, path, ErrorText(errno)));
  }
  return fd;
}

// Fails with EISDIR for a folder so that reading one reports a sensible reason.
void RefuseFolder(int fd, std::string_view path) {
  struct stat st {};
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
    tLastError = EISDIR;
    throw Exception(Format(msg::kCannotOpenFile, path, ErrorText(EISDIR)));
  }
}

// Hands sink at most `limit` bytes of the open file in chunks; returns how many.
std::uint64_t StreamFrom(int fd, std::string_view path, std::uint64_t limit,
                         const std::function<void(const char*, std::size_t)>& sink) {
  char buffer[64 * 1024];
  std::uint64_t done = 0;
  while (done < limit) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buffer, limit - done));
    const ssize_t n = ::read(fd, buffer, want);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      tLastError = errno;
      throw Exception(Format(msg::kCannotOpenFile, path, ErrorText(errno)));
    }
    sink(buffer, static_cast<std::size_t>(n));
    done += static_cast<std::uint64_t>(n);
  }
  return done;
}

void ReadChunks(const std::string& native, std::string_view path,
                const std::function<void(const char*, std::size_t)>& sink) {
  Fd fd(OpenForReading(native, path));
  RefuseFolder(fd.get(), path);
  StreamFrom(fd.get(), path, UINT64_MAX, sink);
}

// Converts a name from the disk; true when the Windows-1250 form names the same entry
// again: every character converted (malformed UTF-8 is not) and no backslash, which
// separates path components above this layer.
bool NameTravels(const char* utf8, std::string& cp1250) {
  return Utf8ToCp1250(utf8, cp1250) && cp1250.find('\\') == std::string::npos;
}

}  // namespace

std::string NativePath(std::string_view path) {
  std::string utf8 = Cp1250ToUtf8(path);
  for (char& c : utf8)
    if (c == '\\') c = '/';
  if (utf8.empty() || utf8[0] != '~' || (utf8.size() > 1 && utf8[1] != '/')) return utf8;
  const std::string home = HomeFolder().Native();
  return home.empty() ? utf8 : home + utf8.substr(1);
}

bool ForEachEntry(std::string_view folder, const std::function<void(const DirEntry&)>& visit) {
  const std::string native = NativePath(folder);
  Dir dir(::opendir(native.c_str()));
  if (!dir.get()) return Failed();
  const int dirFd = ::dirfd(dir.get());
  DirEntry entry;  // reused, so a large folder costs no allocation per entry
  int failure = 0;
  for (;;) {
    errno = 0;
    struct dirent* d = ::readdir(dir.get());
    if (!d) {
      if (errno != 0) failure = errno;
      break;
    }
    const char* name = d->d_name;
    if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0))) continue;
    struct stat st {};
    // Links are followed: a link to a folder is a folder with its target's identity.
    // What cannot be read as a file or a folder cannot travel: a dangling link or a link
    // loop, an entry gone since readdir, a device, a pipe (opening one would wait for a
    // writer). An entry that could not be looked at is a failure of the whole reading.
    if (::fstatat(dirFd, name, &st, 0) != 0) {
      if (errno != ENOENT && errno != ELOOP) failure = errno;
      continue;
    }
    if (!(S_ISDIR(st.st_mode) || S_ISREG(st.st_mode))) continue;
    entry.nameIsExact = NameTravels(name, entry.name);
    FillFromStat(st, entry);
    entry.isLink = d->d_type == DT_LNK;
    if (d->d_type == DT_UNKNOWN) {  // some file systems do not tell the type in readdir
      struct stat own {};
      entry.isLink = ::fstatat(dirFd, name, &own, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(own.st_mode);
    }
    visit(entry);
  }
  if (failure == 0) return true;
  tLastError = failure;
  return false;
}

bool CanRead(std::string_view path) {
  if (::faccessat(AT_FDCWD, NativePath(path).c_str(), R_OK, AT_EACCESS) == 0) return true;
  return Failed();
}

bool FolderInfo(std::string_view path, DirEntry& info) {
  struct stat st {};
  if (::stat(NativePath(path).c_str(), &st) != 0) return Failed();
  if (!S_ISDIR(st.st_mode)) {
    tLastError = ENOTDIR;
    return false;
  }
  FillFromStat(st, info);
  return true;
}

bool FolderExists(std::string_view path) {
  struct stat st {};
  return ::stat(NativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool FileExists(std::string_view path) { return FileExists(SystemPath(NativePath(path))); }

bool FileExists(const SystemPath& path) {
  struct stat st {};
  return ::stat(path.Native().c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

EntryKind KindOf(std::string_view path) {
  struct stat st {};
  if (::lstat(NativePath(path).c_str(), &st) != 0) return EntryKind::kNone;
  if (S_ISLNK(st.st_mode)) return EntryKind::kLink;
  if (S_ISDIR(st.st_mode)) return EntryKind::kFolder;
  return S_ISREG(st.st_mode) ? EntryKind::kFile : EntryKind::kOther;
}

namespace {

// Whether the native path `native`, every link resolved, lies in `folder`.
bool ResolvedWithin(const std::string& native, std::string_view folder) {
  char inner[PATH_MAX], outer[PATH_MAX];
  if (!::realpath(native.c_str(), inner) || !::realpath(NativePath(folder).c_str(), outer)) return false;
  const std::string_view in(inner), out(outer);
  // Whole components only: /srv/p does not hold /srv/project.
  return in.substr(0, out.size()) == out && (in.size() == out.size() || out == "/" || in[out.size()] == '/');
}

}  // namespace

bool LiesWithin(std::string_view path, std::string_view folder) { return ResolvedWithin(NativePath(path), folder); }

bool HasDriveLetters() { return false; }

bool CreateFolder(std::string_view path) {
  return ::mkdir(NativePath(path).c_str(), 0777) == 0 || Failed();
}

bool ForceFolders(std::string_view path) { return ForceFolders(SystemPath(NativePath(path))); }

bool ForceFolders(const SystemPath& path) {
  std::string native = path.Native();
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  if (native.empty()) return false;
  struct stat st {};
  if (::stat(native.c_str(), &st) == 0) return S_ISDIR(st.st_mode) || (errno = ENOTDIR, Failed());
  // Create every level from the outermost missing one down.
  for (std::size_t pos = native.find('/', 1); ; pos = native.find('/', pos + 1)) {
    const std::string level = native.substr(0, pos);
    if (::mkdir(level.c_str(), 0777) != 0 && errno != EEXIST) return Failed();
    if (pos == std::string::npos) break;
  }
  return ::stat(native.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CanRemoveFile(std::string_view path) {
  const std::string native = NativePath(path);
  struct stat st {};
  if (::lstat(native.c_str(), &st) != 0) return Failed();
  // A folder is not a file: it stays. A link is neither; it can go itself.
  if (S_ISDIR(st.st_mode)) {
    tLastError = EISDIR;
    return false;
  }
  if (S_ISREG(st.st_mode) && (st.st_mode & 0222) == 0) {
    tLastError = EACCES;
    return false;
  }
  // Removing an entry takes write and search access to its folder; in a sticky folder
  // (like /tmp) also owning the entry or the folder.
  const std::size_t slash = native.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string(".") : native.substr(0, slash + 1);
  struct stat dir {};
  if (::faccessat(AT_FDCWD, folder.c_str(), W_OK | X_OK, AT_EACCESS) != 0 || ::stat(folder.c_str(), &dir) != 0)
    return Failed();
  const uid_t me = ::geteuid();
  if ((dir.st_mode & S_ISVTX) && me != 0 && me != st.st_uid && me != dir.st_uid) {
    tLastError = EPERM;
    return false;
  }
  return true;
}

bool RemoveFile(std::string_view path) {
  if (!CanRemoveFile(path)) return false;
  return ::unlink(NativePath(path).c_str()) == 0 || Failed();
}

bool SetFileTime(std::string_view path, std::int64_t unixSeconds) {
  struct timespec times[2] {};
  times[0].tv_sec = times[1].tv_sec = static_cast<time_t>(unixSeconds);
  return ::utimensat(AT_FDCWD, NativePath(path).c_str(), times, 0) == 0 || Failed();
}

std::string ReadFile(const SystemPath& path) {
  std::string content;
  ReadChunks(path.Native(), path.Text(),
             [&](const char* data, std::size_t size) { content.append(data, size); });
  return content;
}

void ReadFileChunks(std::string_view path, const std::function<void(const char*, std::size_t)>& sink) {
  ReadChunks(NativePath(path), path, sink);
}

FolderHandle::FolderHandle(std::string_view path)
    : handle_(::open(NativePath(path).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC)) {}

FolderHandle::~FolderHandle() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

FolderHandle::FolderHandle(FolderHandle&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}

FolderHandle& FolderHandle::operator=(FolderHandle&& other) noexcept {
  if (this != &other) {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
    handle_ = std::exchange(other.handle_, -1);
  }
  return *this;
}

void InputFile::Close() noexcept {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
}

InputFile InputFile::Open(std::string_view path) {
  InputFile file;
  file.path_ = std::string(path);
  const int fd = ::open(NativePath(path).c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    tLastError = errno;
    throw Exception(Format(msg::kCannotOpenFile, path, ErrorText(errno)));
  }
  file.handle_ = fd;
  struct stat st {};
  // A folder opens for reading but is no file: refused with a sensible reason.
  const int error = ::fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
  if (error != 0) {
    tLastError = error;
    throw Exception(Format(msg::kCannotOpenFile, path, ErrorText(error)));
  }
  file.size_ = static_cast<std::uint64_t>(st.st_size);
  return file;
}

InputFile InputFile::OpenBelow(const FolderHandle& folder, std::string_view relative) {
  static std::atomic<bool> unsupported{false};  // a kernel without openat2
  InputFile file;
  if (!folder.IsOpen() || unsupported.load(std::memory_order_relaxed)) return file;
  std::string native = NativePath(relative);
  native.erase(0, native.find_first_not_of('/'));
  struct open_how how {};
  // Not waiting for a writer, should a pipe stand there.
  how.flags = O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  const long fd = ::syscall(SYS_openat2, static_cast<int>(folder.handle_), native.c_str(), &how, sizeof how);
  if (fd < 0) {
    if (errno == ENOSYS) unsupported.store(true, std::memory_order_relaxed);
    return file;
  }
  file.handle_ = fd;
  struct stat st {};
  if (::fstat(static_cast<int>(fd), &st) != 0 || !S_ISREG(st.st_mode)) return InputFile();
  file.size_ = static_cast<std::uint64_t>(st.st_size);
  file.path_ = std::string(relative);
  return file;
}

bool InputFile::LiesWithin(std::string_view folder) const {
  // The descriptor's entry in /proc leads to the file it holds, by its current name.
  return IsOpen() && ResolvedWithin(DescriptorPath(handle_), folder);
}

std::size_t InputFile::Read(char* buffer, std::size_t size) {
  for (;;) {
    const ssize_t n = ::read(static_cast<int>(handle_), buffer, size);
    if (n >= 0) return static_cast<std::size_t>(n);
    if (errno == EINTR) continue;
    tLastError = errno;
    throw Exception(Format(msg::kCannotOpenFile, path_, ErrorText(errno)));
  }
}

int LastError() { return tLastError; }

std::string ErrorText(int error) {
  char buffer[256];
  // The GNU strerror_r may return a static text instead of filling the buffer.
  const char* text = ::strerror_r(error, buffer, sizeof buffer);
  std::string result = text ? text : "";
  while (!result.empty() && (result.back() == ' ' || result.back() == '.')) result.pop_back();
  return result;
}

}  // namespace sv::fs
