#pragma once
// The file-system layer. Paths above this layer are program text: Windows-1250 in which
// both '\' and '/' separate components (relative paths on the wire use '\'); here they
// are turned into the disk's form (UTF-8 and '/'; on Windows UTF-16 and '\', converted
// from Windows-1250 whatever the machine's code page is). A leading "~" stands for the
// home folder, so that a path below a home folder that program text cannot name can
// still be written (see HomeFolderText). Names read from the disk come back as
// Windows-1250. The folders the system names for us travel as SystemPath and are used as
// they are. Failures that the program reports are raised as Exception with the promised
// texts.
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/SystemPath.h"

namespace sv::fs {

// The disk form of a program path: '\' becomes '/' (on Windows '/' becomes '\'),
// Windows-1250 becomes UTF-8, and a "~" that is the whole path or its first component
// becomes the home folder.
std::string NativePath(std::string_view path);

// One entry of a folder listing.
struct DirEntry {
  std::string name;        // Windows-1250; unconvertible characters shown as '?'
  bool nameIsExact = true; // false when the name cannot travel in Windows-1250 (or holds '\')
  bool isFolder = false;   // a link to a folder counts as a folder
  bool isLink = false;     // the entry itself is a link (the fields above describe its target)
  std::int64_t mtime = 0;  // last write, seconds since the POSIX epoch (UTC)
  std::uint64_t device = 0, inode = 0;  // identity of the entry (of a link's target)
};

// Calls visit for every entry of the folder except "." and "..", hidden ones included,
// in the order the system yields them. Only folders and regular files are entries (links
// followed); devices, pipes, sockets, dangling links and link loops are passed over.
// False (and no call) when the folder cannot be opened; false too, after the calls for
// what could be read, when reading it fails midway or an entry cannot be looked at (no
// search right on the folder, no descriptor left): LastError tells why. visit may
// recurse into ForEachEntry.
bool ForEachEntry(std::string_view folder, const std::function<void(const DirEntry&)>& visit);

// Whether this process may read the file, or list the folder, at `path` (links followed)
// now.
bool CanRead(std::string_view path);

// Identity and last-write time of a folder; false when the path is not a folder.
bool FolderInfo(std::string_view path, DirEntry& info);

bool FolderExists(std::string_view path);
bool FileExists(std::string_view path);  // a regular file (links followed)
bool FileExists(const SystemPath& path);

// What the last component of a path is, not followed when it is a link (a symbolic link;
// on Windows also a junction or another reparse point that redirects). kLink is reported
// whatever the link points to, a missing target included; kNone when nothing is there.
enum class EntryKind { kNone, kFile, kFolder, kLink, kOther };
EntryKind KindOf(std::string_view path);

// Whether `path`, with every link on it resolved, is `folder` (resolved the same way) or
// lies inside it. False when either cannot be resolved (missing, unreadable).
bool LiesWithin(std::string_view path, std::string_view folder);

// Whether paths of this system can begin with a drive ("c:"): false on POSIX systems.
bool HasDriveLetters();

// Whether a program path names the same place whatever the working folder: "~" alone or
// followed by a separator; where drives exist a drive, a colon and a separator ("c:\x")
// or two separators ("\\server\share"); elsewhere a leading separator. A path holding
// a 0x00 byte is never taken.
bool IsAbsolutePath(std::string_view path);

// Creates one folder level; false when it was not created (exists, parent missing, ...).
bool CreateFolder(std::string_view path);
// Creates the folder and every missing folder above it; true when it exists afterwards.
bool ForceFolders(std::string_view path);
bool ForceFolders(const SystemPath& path);
// Deletes a file; false when it was not deleted. A folder is not a file, and a read-only
// file (no write permission bit at all) is kept, as the program's users expect of it.
// A link is deleted itself, never what it points to.
bool RemoveFile(std::string_view path);
// Whether RemoveFile would delete the file now: it exists, is neither a folder nor
// read-only (a link counts as neither), and this process may remove entries from its
// folder (write access, and the sticky bit's owner rule); LastError says why not.
bool CanRemoveFile(std::string_view path);
// Sets a file's last-write (and access) time; false on failure.
bool SetFileTime(std::string_view path, std::int64_t unixSeconds);

// Reads a whole file; raises "Cannot open file "%s". %s" when it cannot be opened.
std::string ReadFile(std::string_view path);
std::string ReadFile(const SystemPath& path);  // the message shows path.Text()
// Streams a file's content to sink in chunks; raises as ReadFile.
void ReadFileChunks(std::string_view path, const std::function<void(const char*, std::size_t)>& sink);
// Streams a file of a size known beforehand: opens it, tells `opened` its size, then
// hands sink at most that many bytes in chunks. Returns the bytes handed on, fewer when
// the file shrank meanwhile (a caller that announced the size must then give up the
// transfer). Raises as ReadFile.
std::uint64_t ReadFileSized(std::string_view path, const std::function<void(std::uint64_t)>& opened,
                            const std::function<void(const char*, std::size_t)>& sink);
// A folder held open where the system allows it, so that files below it are opened
// without walking its path again. Move-only; closes itself.
class FolderHandle {
 public:
  FolderHandle() = default;
  // Opens the folder at `path` (a program path); IsOpen() tells whether that went.
  explicit FolderHandle(std::string_view path);
  ~FolderHandle();
  FolderHandle(FolderHandle&& other) noexcept;
  FolderHandle& operator=(FolderHandle&& other) noexcept;
  bool IsOpen() const { return handle_ != -1; }

 private:
  friend class InputFile;
  std::intptr_t handle_ = -1;
};

// A file open for reading, with its size read when it was opened. Move-only; closes
// itself.
class InputFile {
 public:
  InputFile() = default;
  ~InputFile();
  InputFile(InputFile&& other) noexcept;
  InputFile& operator=(InputFile&& other) noexcept;

  // Opens the file at `path` (a program path): one open and one status call. Raises
  // "Cannot open file "%s". %s" when it cannot be opened or is a folder.
  static InputFile Open(std::string_view path);
  // The regular file at `relative` below `folder` — a checked task path: '' and names,
  // none of them ".." — spelt exactly so and reached without passing through any link,
  // in one open and one status call. Not open when there is no such file, or a link, a
  // folder or anything but a regular file is on the way, or the system cannot open it
  // that way: the caller then looks for it by slower means.
  static InputFile OpenBelow(const FolderHandle& folder, std::string_view relative);

  bool IsOpen() const { return handle_ != -1; }
  std::uint64_t Size() const { return size_; }
  // Whether the open file lies in `folder` (a program path), told by the name the system
  // holds for the file itself rather than by the path it was opened with, so that links
  // changed since any earlier check make no difference. False when it cannot be told.
  bool LiesWithin(std::string_view folder) const;
  // Up to `size` bytes from the current position; 0 at the end. Raises "Cannot open
  // file "%s". %s" on a read failure.
  std::size_t Read(char* buffer, std::size_t size);

 private:
  // Closes the file, when open; the system's part of the destructor and the move.
  void Close() noexcept;

  std::intptr_t handle_ = -1;
  std::uint64_t size_ = 0;
  std::string path_;  // as the caller named it, for the message
};

// The OS error code of the last failed call on this thread (errno; on Windows the
// system's error code), and the system's text for an error number without trailing
// blanks and full stops.
int LastError();
std::string ErrorText(int error);

}  // namespace sv::fs
