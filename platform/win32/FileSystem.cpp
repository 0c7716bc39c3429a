// The file-system layer on Windows: wide calls, with names converted between UTF-16 on
// disk and Windows-1250 above.
#include "platform/FileSystem.h"

#include <algorithm>
#include <utility>

#include "base/Exception.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "platform/win32/WinLinks.h"
#include "platform/win32/WinText.h"

namespace sv::fs {
namespace {

using win::Handle;
using win::WidePath;

thread_local int tLastError = 0;

// Records GetLastError for LastError and hands back false, so failures read as one line.
bool Failed() {
  tLastError = static_cast<int>(::GetLastError());
  return false;
}

bool Refuse(DWORD error) {
  tLastError = static_cast<int>(error);
  return false;
}

// Opens a file or folder for its attributes only; links are followed.
HANDLE OpenForInfo(const std::wstring& path) {
  return ::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                       nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Kind, time and identity of what the path names (a link's target).
bool Inspect(const std::wstring& path, DirEntry& entry) {
  Handle h(OpenForInfo(path));
  BY_HANDLE_FILE_INFORMATION info;
  if (!h.valid() || !::GetFileInformationByHandle(h.get(), &info)) return Failed();
  entry.isFolder = (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
  entry.mtime = win::FileTimeToUnix(info.ftLastWriteTime);
  entry.device = info.dwVolumeSerialNumber;
  entry.inode = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

DWORD Attributes(std::string_view path) { return ::GetFileAttributesW(WidePath(path).c_str()); }

// Reparse points that keep the entry's content in place (storage tiers, compression,
// deduplication, cloud placeholders): the entry is what it seems, not a way elsewhere.
bool KeepsContentInPlace(DWORD reparseTag) {
  if ((reparseTag & ~static_cast<DWORD>(IO_REPARSE_TAG_CLOUD_MASK)) == static_cast<DWORD>(IO_REPARSE_TAG_CLOUD))
    return true;
  switch (reparseTag) {
    case IO_REPARSE_TAG_HSM:
    case IO_REPARSE_TAG_HSM2:
    case IO_REPARSE_TAG_SIS:
    case IO_REPARSE_TAG_WIM:
    case IO_REPARSE_TAG_DEDUP:
    case IO_REPARSE_TAG_WOF:
    case IO_REPARSE_TAG_STORAGE_SYNC:
    case IO_REPARSE_TAG_ONEDRIVE:
      return true;
    default:
      return false;
  }
}

// A reparse point that may lead to another place: every one that is not known to keep its
// content in place. Symbolic links and junctions are the common ones; a link made by
// another system may carry a tag of its own, or none that the system reports (Wine shows a
// POSIX link with an undefined tag), and must not pass for a plain folder.
bool IsRedirect(DWORD attributes, DWORD reparseTag) {
  if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return false;
  return IsReparseTagNameSurrogate(reparseTag) || !KeepsContentInPlace(reparseTag);
}

// The folder's entry for the path itself (a link not followed).
bool FindOwn(const std::wstring& path, WIN32_FIND_DATAW& found) {
  HANDLE search = ::FindFirstFileW(path.c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return Failed();
  ::FindClose(search);
  return true;
}

// The reparse tag of a found entry; defined only for a reparse point.
DWORD OwnTag(const WIN32_FIND_DATAW& found) {
  return (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) ? found.dwReserved0 : 0;
}

// The path of an open file or folder with every link resolved, without the "\\?\"
// prefix; empty when the system cannot tell it.
std::wstring FinalPathOf(HANDLE h) {
  wchar_t final[32768];
  const DWORD n = ::GetFinalPathNameByHandleW(h, final, 32768, FILE_NAME_NORMALIZED);
  if (n == 0 || n >= 32768) return {};
  std::wstring result(final, n);
  if (result.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\" + result.substr(7);
  if (result.rfind(L"\\\\?\\", 0) == 0) result.erase(0, 4);
  while (result.size() > 3 && result.back() == L'\\') result.pop_back();
  return result;
}

// The path with every link resolved, as FinalPathOf; empty when it cannot be opened.
std::wstring FinalPath(const std::wstring& path) {
  Handle h(OpenForInfo(path));
  return h.valid() ? FinalPathOf(h.get()) : std::wstring();
}

// Whether two final paths name the same place; names compare without regard to case, as
// the file system does.
bool SameFinalPath(const std::wstring& a, const std::wstring& b) {
  return !a.empty() && ::CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// Where the entry found at `path` would be if it were no link: its folder's final path and
// its name as the folder holds it (the long name, as the disk spells it).
std::wstring OwnFinalPath(const std::wstring& path, const WIN32_FIND_DATAW& found) {
  const std::size_t slash = path.find_last_of(L'\\');
  const std::wstring folder = FinalPath(slash == std::wstring::npos ? L"." : path.substr(0, slash + 1));
  if (folder.empty()) return {};
  return folder + (folder.back() == L'\\' ? L"" : L"\\") + found.cFileName;
}

// Whether the entry leads to another place although the system does not mark it as a
// reparse point: opened, it is not where its folder holds it. Wine shows a POSIX link to a
// file so. False when either place cannot be told.
bool LeadsElsewhere(const std::wstring& path, const WIN32_FIND_DATAW& found) {
  const std::wstring target = FinalPath(path), own = OwnFinalPath(path, found);
  return !target.empty() && !own.empty() && !SameFinalPath(target, own);
}

// What the entry found at `path` is; a link whether the system marks it or not.
EntryKind KindOfFound(const std::wstring& path, const WIN32_FIND_DATAW& found) {
  if (IsRedirect(found.dwFileAttributes, OwnTag(found)) || LeadsElsewhere(path, found)) return EntryKind::kLink;
  return (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ? EntryKind::kFolder : EntryKind::kFile;
}

// Whether a handle opened on the link itself, not followed, names the link and not what it
// leads to, so that deleting through it deletes the link. Windows opens a symbolic link or
// a junction so; Wine opens what a POSIX link points to, and deleting would destroy that.
bool OpensItself(const std::wstring& path, const WIN32_FIND_DATAW& found) {
  Handle h(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return h.valid() && SameFinalPath(FinalPathOf(h.get()), OwnFinalPath(path, found));
}

// Opens a file for reading or raises the promised text with the path as shown.
HANDLE OpenForReading(const std::wstring& wide, std::string_view path) {
  HANDLE h = ::CreateFileW(wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    Failed();
    throw Exception(Format(msg::kCannotOpenFile, path, ErrorText(tLastError)));
  }
  return h;
}

// Hands sink at most `limit` bytes of the open file in chunks; returns how many.
std::uint64_t StreamFrom(HANDLE h, std::string_view path, std::uint64_t limit,
                         const std::function<void(const char*, std::size_t)>& sink) {
  char buffer[64 * 1024];
  std::uint64_t done = 0;
  while (done < limit) {
    const DWORD want = static_cast<DWORD>(std::min<std::uint64_t>(sizeof buffer, limit - done));
    DWORD n = 0;
    if (!::ReadFile(h, buffer, want, &n, nullptr)) {
      Failed();
      throw Exception(Format(msg::kCannotOpenFile, path, ErrorText(tLastError)));
    }
    if (n == 0) break;
    sink(buffer, n);
    done += n;
  }
  return done;
}

// Where the components of a path begin: after "C:\" or "\\server\share\".
std::size_t RootLength(const std::wstring& path) {
  if (path.size() >= 2 && path[1] == L':') return path.size() >= 3 && path[2] == L'\\' ? 3 : 2;
  if (path.rfind(L"\\\\", 0) == 0) {
    std::size_t share = path.find(L'\\', 2);
    std::size_t end = share == std::wstring::npos ? share : path.find(L'\\', share + 1);
    return end == std::wstring::npos ? path.size() : end + 1;
  }
  return path.rfind(L"\\", 0) == 0 ? 1 : 0;
}

}  // namespace

std::string NativePath(std::string_view path) { return win::Utf8(WidePath(path)); }

bool ForEachEntry(std::string_view folder, const std::function<void(const DirEntry&)>& visit) {
  std::wstring base = WidePath(folder);
  if (!base.empty() && base.back() != L'\\') base += L'\\';
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileW((base + L"*.*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return Failed();
  DirEntry entry;  // reused, so a large folder costs no allocation per entry
  do {
    const wchar_t* name = found.cFileName;
    if (name[0] == L'.' && (name[1] == 0 || (name[1] == L'.' && name[2] == 0))) continue;
    entry.nameIsExact = win::Narrow(name, entry.name);
    entry.isLink = IsRedirect(found.dwFileAttributes, OwnTag(found));
    const bool folderOrLink = (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0;
    if (folderOrLink) {
      // Links are followed: a link to a folder is a folder with its target's identity; a
      // link whose target is gone is passed over. A folder's identity ends link cycles.
      if (!Inspect(base + name, entry)) continue;
    } else {
      entry.isFolder = false;
      entry.mtime = win::FileTimeToUnix(found.ftLastWriteTime);
      entry.device = entry.inode = 0;
    }
    visit(entry);
  } while (::FindNextFileW(search, &found));
  const DWORD error = ::GetLastError();
  ::FindClose(search);
  return error == ERROR_NO_MORE_FILES || Refuse(error);
}

bool CanRead(std::string_view path) {
  // Backup semantics opens a folder too; reading a folder is listing it.
  Handle h(::CreateFileW(WidePath(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return h.valid() || Failed();
}

bool FolderInfo(std::string_view path, DirEntry& info) {
  DirEntry found;
  if (!Inspect(WidePath(path), found)) return false;
  if (!found.isFolder) return Refuse(ERROR_DIRECTORY);
  info = found;
  return true;
}

bool FolderExists(std::string_view path) {
  const DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileExists(std::string_view path) {
  const DWORD a = Attributes(path);
  return a != INVALID_FILE_ATTRIBUTES && !(a & FILE_ATTRIBUTE_DIRECTORY);
}

bool FileExists(const SystemPath& path) {
  DirEntry found;  // links followed
  return Inspect(win::WideFromUtf8(path.Native()), found) && !found.isFolder;
}

EntryKind KindOf(std::string_view path) {
  const std::wstring wide = WidePath(path);
  WIN32_FIND_DATAW found;
  return FindOwn(wide, found) ? KindOfFound(wide, found) : EntryKind::kNone;
}

namespace {

// Whether the final path `inner` lies in `folder`.
bool FinalWithin(const std::wstring& inner, std::string_view folder) {
  const std::wstring outer = FinalPath(WidePath(folder));
  if (inner.empty() || outer.empty() || inner.size() < outer.size()) return false;
  // Names compare without regard to case, as the file system does; whole components only.
  const bool prefix = ::CompareStringOrdinal(inner.c_str(), static_cast<int>(outer.size()), outer.c_str(),
                                             static_cast<int>(outer.size()), TRUE) == CSTR_EQUAL;
  return prefix && (inner.size() == outer.size() || outer.back() == L'\\' || inner[outer.size()] == L'\\');
}

}  // namespace

bool LiesWithin(std::string_view path, std::string_view folder) { return FinalWithin(FinalPath(WidePath(path)), folder); }

bool HasDriveLetters() { return true; }

bool CreateFolder(std::string_view path) {
  return ::CreateDirectoryW(WidePath(path).c_str(), nullptr) || Failed();
}

bool ForceFolders(std::string_view path) { return ForceFolders(SystemPath(NativePath(path))); }

bool ForceFolders(const SystemPath& path) {
  std::wstring wide = win::WideFromUtf8(path.Native());
  for (wchar_t& c : wide)
    if (c == L'/') c = L'\\';
  const std::size_t root = RootLength(wide);
  while (wide.size() > root && wide.back() == L'\\') wide.pop_back();
  if (wide.empty()) return false;
  const DWORD a = ::GetFileAttributesW(wide.c_str());
  if (a != INVALID_FILE_ATTRIBUTES) return (a & FILE_ATTRIBUTE_DIRECTORY) || Refuse(ERROR_ALREADY_EXISTS);
  // Create every level from the outermost missing one down.
  for (std::size_t pos = wide.find(L'\\', root);; pos = wide.find(L'\\', pos + 1)) {
    const std::wstring level = wide.substr(0, pos);
    if (!::CreateDirectoryW(level.c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) return Failed();
    if (pos == std::wstring::npos) break;
  }
  const DWORD created = ::GetFileAttributesW(wide.c_str());
  return created != INVALID_FILE_ATTRIBUTES && (created & FILE_ATTRIBUTE_DIRECTORY);
}

namespace {

// CanRemoveFile and RemoveFile on a path in the system's form.
bool CanRemove(const std::wstring& wide) {
  WIN32_FIND_DATAW found;
  if (!FindOwn(wide, found)) return false;
  // A folder is not a file, and a read-only file stays: the system refuses both alike.
  // A link is neither; it can go itself, but only where the system deletes the link and
  // not what it leads to.
  if (KindOfFound(wide, found) == EntryKind::kLink) {
    if (!OpensItself(wide, found)) return Refuse(ERROR_ACCESS_DENIED);
  } else if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) {
    return Refuse(ERROR_ACCESS_DENIED);
  }
  // The right to delete it, from its own access list or its folder's, as the deletion
  // itself will ask for it.
  Handle h(::CreateFileW(wide.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT | FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  return h.valid() || Failed();
}

bool Remove(const std::wstring& wide) {
  if (!CanRemove(wide)) return false;
  // A link to a folder is removed as a folder entry; either way the link goes, never
  // what it points to.
  if (win::IsLink(wide) && (::GetFileAttributesW(wide.c_str()) & FILE_ATTRIBUTE_DIRECTORY))
    return ::RemoveDirectoryW(wide.c_str()) || Failed();
  return ::DeleteFileW(wide.c_str()) || Failed();
}

}  // namespace

bool CanRemoveFile(std::string_view path) { return CanRemove(WidePath(path)); }

bool RemoveFile(std::string_view path) { return Remove(WidePath(path)); }

}  // namespace sv::fs

namespace sv::win {

bool IsLink(const std::wstring& path) {
  WIN32_FIND_DATAW found;
  return fs::FindOwn(path, found) && fs::KindOfFound(path, found) == fs::EntryKind::kLink;
}

bool RemoveLink(const std::wstring& path) { return IsLink(path) && fs::Remove(path); }

}  // namespace sv::win

namespace sv::fs {

bool SetFileTime(std::string_view path, std::int64_t unixSeconds) {
  Handle h(::CreateFileW(WidePath(path).c_str(), FILE_WRITE_ATTRIBUTES,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                         FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  if (!h.valid()) return Failed();
  const FILETIME time = win::UnixToFileTime(unixSeconds);
  return ::SetFileTime(h.get(), nullptr, nullptr, &time) || Failed();
}

std::string ReadFile(const SystemPath& path) {
  std::string content;
  Handle h(OpenForReading(win::WideFromUtf8(path.Native()), path.Text()));
  StreamFrom(h.get(), path.Text(), UINT64_MAX, [&](const char* data, std::size_t size) { content.append(data, size); });
  return content;
}

void ReadFileChunks(std::string_view path, const std::function<void(const char*, std::size_t)>& sink) {
  Handle h(OpenForReading(WidePath(path), path));
  StreamFrom(h.get(), path, UINT64_MAX, sink);
}

// Windows has no open below a held folder that refuses links on the way, so no folder is
// held: OpenBelow always sends the caller to the slower way, which checks the path.
FolderHandle::FolderHandle(std::string_view) {}

FolderHandle::~FolderHandle() = default;

FolderHandle::FolderHandle(FolderHandle&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}

FolderHandle& FolderHandle::operator=(FolderHandle&& other) noexcept {
  handle_ = std::exchange(other.handle_, -1);
  return *this;
}

void InputFile::Close() noexcept {
  if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
}

InputFile InputFile::Open(std::string_view path) {
  InputFile file;
  file.path_ = std::string(path);
  file.handle_ = reinterpret_cast<std::intptr_t>(OpenForReading(WidePath(path), path));
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(reinterpret_cast<HANDLE>(file.handle_), &size)) {
    Failed();
    throw Exception(Format(msg::kCannotOpenFile, path, ErrorText(tLastError)));
  }
  file.size_ = static_cast<std::uint64_t>(size.QuadPart);
  return file;
}

InputFile InputFile::OpenBelow(const FolderHandle&, std::string_view) { return InputFile(); }

bool InputFile::LiesWithin(std::string_view folder) const {
  return IsOpen() && FinalWithin(FinalPathOf(reinterpret_cast<HANDLE>(handle_)), folder);
}

std::size_t InputFile::Read(char* buffer, std::size_t size) {
  DWORD n = 0;
  const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
  if (!::ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, want, &n, nullptr)) {
    Failed();
    throw Exception(Format(msg::kCannotOpenFile, path_, ErrorText(tLastError)));
  }
  return n;
}

int LastError() { return tLastError; }

std::string ErrorText(int error) {
  // English first, as the program's other messages of this layer are; the system's own
  // language only where English is not installed, since its text may lack Windows-1250.
  const DWORD flags = FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS;
  wchar_t buffer[512];
  DWORD n = ::FormatMessageW(flags, nullptr, static_cast<DWORD>(error), MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                             buffer, 512, nullptr);
  if (n == 0) n = ::FormatMessageW(flags, nullptr, static_cast<DWORD>(error), 0, buffer, 512, nullptr);
  std::string text = n ? win::Narrow(std::wstring_view(buffer, n)) : "Unknown error " + std::to_string(error);
  while (!text.empty() && (static_cast<unsigned char>(text.back()) <= ' ' || text.back() == '.')) text.pop_back();
  return text;
}

}  // namespace sv::fs
