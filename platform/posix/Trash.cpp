#include "platform/Trash.h"

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <gio/gio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/ProgramPaths.h"

namespace sv::fs {

namespace {

// Trashes one disk path through GIO; its errors are dropped on purpose. GIO moves a
// link itself, never what it points to.
bool TrashNative(const std::string& native) {
  GFile* file = g_file_new_for_path(native.c_str());
  GError* error = nullptr;
  const bool moved = g_file_trash(file, nullptr, &error);
  if (error) g_error_free(error);
  g_object_unref(file);
  return moved;
}

}  // namespace

bool MoveToTrash(std::string_view path) { return TrashNative(NativePath(path)); }

bool TrashFolderContents(std::string_view folder) {
  std::string native = NativePath(folder);
  // A trailing '/' would make the system follow a link in the last component.
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  std::vector<std::string> names;
  {
    const int fd = ::open(native.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return false;
    std::unique_ptr<DIR, int (*)(DIR*)> dir(::fdopendir(fd), &::closedir);
    if (!dir) {
      ::close(fd);
      return false;
    }
    // Collect first: trashing while reading would change what readdir yields.
    while (const dirent* entry = ::readdir(dir.get())) {
      const std::string name = entry->d_name;
      if (name != "." && name != "..") names.push_back(name);
    }
  }
  bool all = true;
  for (const std::string& name : names) all = TrashNative(native + "/" + name) && all;
  return all;
}

}  // namespace sv::fs

// The desktop trash's layout: a trash folder holds `files/NAME`, the trashed entry, and
// `info/NAME.trashinfo`, where it came from and when. The record is made first and
// exclusively, which is how a name in the trash is claimed.
namespace sv::fs {
namespace {

// One file system's trash: its two folders and, for a trash at the top of a mount, that
// folder, from which recorded paths are relative.
struct Bin {
  std::string files, info;
  std::string top;  // empty for the home trash: paths are recorded whole
};

bool IsOwnFolder(const std::string& path, bool stickyRequired) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
  return stickyRequired ? (st.st_mode & S_ISVTX) != 0 : st.st_uid == ::geteuid();
}

// Makes `path` a folder of this user's with mode 0700 unless it is one already.
bool EnsureOwnFolder(const std::string& path) {
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return false;
  return IsOwnFolder(path, false);
}

std::optional<Bin> BinAt(const std::string& folder, const std::string& top) {
  if (!EnsureOwnFolder(folder) || !EnsureOwnFolder(folder + "/files") || !EnsureOwnFolder(folder + "/info"))
    return std::nullopt;
  return Bin{folder + "/files/", folder + "/info/", top};
}

// The folder of the home trash: the data folder's "Trash".
std::string HomeTrashFolder() {
  const char* data = std::getenv("XDG_DATA_HOME");
  if (data && data[0] == '/') return std::string(data) + "/Trash";
  return HomeFolder().Native() + "/.local/share/Trash";
}

dev_t DeviceOf(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 ? st.st_dev : static_cast<dev_t>(-1);
}

// The top folder of the mount that holds `folder` (an absolute folder on `device`).
std::string MountTop(std::string folder, dev_t device) {
  while (folder.size() > 1) {
    const std::size_t slash = folder.rfind('/');
    const std::string parent = slash == 0 ? "/" : folder.substr(0, slash);
    if (DeviceOf(parent) != device) break;
    folder = parent;
  }
  return folder;
}

// The trash for files on `device`, of which `folder` is one: the home trash when it lies
// there, else the shared one at the mount's top (a sticky ".Trash" with a folder per
// user), else the user's own ".Trash-UID" there.
std::optional<Bin> LookUpBin(dev_t device, const std::string& folder) {
  const std::string home = HomeTrashFolder();
  {
    const std::size_t slash = home.rfind('/');
    const std::string data = home.substr(0, slash);
    // Every missing folder down to the data folder, as the desktop would make them.
    for (std::size_t at = 0; at != std::string::npos;) {
      at = data.find('/', at + 1);
      ::mkdir(data.substr(0, at).c_str(), 0700);
    }
    if (DeviceOf(data) == device) return BinAt(home, std::string());
  }
  const std::string top = MountTop(folder, device);
  const std::string base = top == "/" ? std::string() : top;
  const std::string uid = std::to_string(::geteuid());
  if (IsOwnFolder(base + "/.Trash", true)) {
    if (std::optional<Bin> bin = BinAt(base + "/.Trash/" + uid, top)) return bin;
  }
  return BinAt(base + "/.Trash-" + uid, top);
}

// A path as the record keeps it: bytes outside the unreserved set and '/' as %XX.
std::string Escape(std::string_view path) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(path.size());
  for (const char ch : path) {
    const auto c = static_cast<unsigned char>(ch);
    if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/' || c == '-' ||
        c == '_' || c == '.' || c == '~') {
      out += ch;
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::string DeletionDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local {};
  ::localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  return text;
}

// A name for the trash: the file's own first, then one made unique with the process's
// token and a counter, so a name trashed often costs one failed claim, not a search.
std::string TrashName(const std::string& name, int attempt) {
  if (attempt == 0) return name;
  static const std::string token = [] {
    char text[24];
    std::snprintf(text, sizeof text, "%x%06x", static_cast<unsigned>(::getpid()),
                  static_cast<unsigned>(std::random_device{}() & 0xFFFFFF));
    return std::string(text);
  }();
  static std::atomic<unsigned> counter{0};
  // Room for the suffix and ".trashinfo" within a name's 255 bytes.
  return name.substr(0, 200) + "." + token + "-" + std::to_string(counter.fetch_add(1));
}

// Claims a name in the bin by creating its record; the name, or nullopt.
std::optional<std::string> Claim(const Bin& bin, const std::string& name, const std::string& record) {
  for (int attempt = 0; attempt < 4; ++attempt) {
    std::string claimed = TrashName(name, attempt);
    const std::string info = bin.info + claimed + ".trashinfo";
    const int fd = ::open(info.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd < 0) {
      if (errno == EEXIST || errno == ENAMETOOLONG) continue;
      return std::nullopt;
    }
    const bool written = ::write(fd, record.data(), record.size()) == static_cast<ssize_t>(record.size());
    if (::close(fd) == 0 && written) return claimed;
    ::unlink(info.c_str());
    return std::nullopt;
  }
  return std::nullopt;
}

}  // namespace

struct FileTrash::Impl {
  std::map<dev_t, std::optional<Bin>> bins;  // by device; nullopt: no trash there
  std::string lastFile, lastInfo;            // the last entry put with `keep`
  std::string cwd;

  std::string Absolute(const std::string& native) {
    if (!native.empty() && native[0] == '/') return native;
    if (cwd.empty()) {
      char buffer[4096];
      if (!::getcwd(buffer, sizeof buffer)) return native;
      cwd = buffer;
    }
    return cwd + "/" + native;
  }
};

FileTrash::FileTrash() : impl_(std::make_unique<Impl>()) {}
FileTrash::~FileTrash() = default;

FileTrash::Result FileTrash::Put(std::string_view path, bool keep) {
  Impl& m = *impl_;
  std::string native = m.Absolute(NativePath(path));
  while (native.size() > 1 && native.back() == '/') native.pop_back();
  struct stat st {};
  if (::lstat(native.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return Result::kAbsent;
  const std::size_t slash = native.rfind('/');
  const std::string folder = slash == 0 ? "/" : native.substr(0, slash);
  const std::string name = native.substr(slash + 1);
  auto found = m.bins.find(st.st_dev);
  if (found == m.bins.end()) found = m.bins.emplace(st.st_dev, LookUpBin(st.st_dev, folder)).first;
  if (!found->second) return Result::kRefused;
  const Bin& bin = *found->second;
  const std::string recorded =
      bin.top.empty() ? native : native.substr(bin.top == "/" ? 1 : bin.top.size() + 1);
  const std::string record = "[Trash Info]\nPath=" + Escape(recorded) + "\nDeletionDate=" + DeletionDate() + "\n";
  const std::optional<std::string> claimed = Claim(bin, name, record);
  if (!claimed) return Result::kRefused;
  const std::string into = bin.files + *claimed;
  // A second link leaves the file where it is; a move is the fallback (a file system
  // without links, a protected link), and the only way when the file goes anyway.
  if (keep && ::link(native.c_str(), into.c_str()) == 0) {
    m.lastFile = into;
    m.lastInfo = bin.info + *claimed + ".trashinfo";
    return Result::kTrashed;
  }
  m.lastFile.clear();
  if (::rename(native.c_str(), into.c_str()) == 0) return Result::kTrashed;
  ::unlink((bin.info + *claimed + ".trashinfo").c_str());
  return Result::kRefused;
}

void FileTrash::TakeBackLast() {
  Impl& m = *impl_;
  if (m.lastFile.empty()) return;
  ::unlink(m.lastFile.c_str());
  ::unlink(m.lastInfo.c_str());
  m.lastFile.clear();
}

}  // namespace sv::fs
