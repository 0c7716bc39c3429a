// The recycle bin through the shell's delete operation.
#include "platform/Trash.h"

#include <windows.h>
#include <shellapi.h>

#include <string>

#include "platform/FileSystem.h"
#include "platform/win32/WinLinks.h"
#include "platform/win32/WinText.h"

namespace sv::fs {
namespace {

// The shell's delete of a list of sources, each ended by a 0 character: to the recycle
// bin, without progress, confirmation or error display, and no owner window. True when
// the shell reports success and nothing was aborted.
bool ShellDelete(std::wstring sources) {
  sources.push_back(L'\0');  // the list of sources ends with an empty one
  SHFILEOPSTRUCTW operation{};
  operation.wFunc = FO_DELETE;
  operation.pFrom = sources.c_str();
  operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_NOCONFIRMMKDIR | FOF_ALLOWUNDO;
  return ::SHFileOperationW(&operation) == 0 && !operation.fAnyOperationsAborted;
}

}  // namespace

// A link never reaches the shell: not every shell moves the link rather than what it leads
// to (Wine's moves the target). It holds nothing of its own, so it is deleted itself, and
// only where the system deletes the link (see RemoveFile).
bool MoveToTrash(std::string_view path) {
  const std::wstring wide = win::WidePath(path);
  if (win::IsLink(wide)) return win::RemoveLink(wide);
  return ShellDelete(wide + L'\0');
}

bool TrashFolderContents(std::string_view folder) {
  // The step never passes through a link into what it points to.
  if (KindOf(folder) != EntryKind::kFolder) return false;
  std::wstring base = win::WidePath(folder);
  if (base.empty() || base.back() != L'\\') base += L'\\';
  WIN32_FIND_DATAW found;
  HANDLE search = ::FindFirstFileW((base + L"*").c_str(), &found);
  if (search == INVALID_HANDLE_VALUE) return false;
  // Links one by one, as MoveToTrash takes them; everything else in one operation of the
  // shell, which moves a folder whole and so the links inside it as links.
  bool all = true;
  std::wstring sources;
  do {
    const std::wstring name = found.cFileName;
    if (name == L"." || name == L"..") continue;
    if (win::IsLink(base + name))
      all = win::RemoveLink(base + name) && all;
    else
      sources += base + name + L'\0';
  } while (::FindNextFileW(search, &found));
  const bool listed = ::GetLastError() == ERROR_NO_MORE_FILES;
  ::FindClose(search);
  // Nothing left for the shell is success: it may call an empty list a failure.
  return listed && (sources.empty() || ShellDelete(sources)) && all;
}

struct FileTrash::Impl {};

FileTrash::FileTrash() : impl_(std::make_unique<Impl>()) {}
FileTrash::~FileTrash() = default;

// The shell finds the recycle bin itself, and keeps where the file came from. It cannot
// keep the file at its name meanwhile: the file moves, and a replacement follows.
FileTrash::Result FileTrash::Put(std::string_view path, bool) {
  const EntryKind kind = KindOf(path);
  if (kind == EntryKind::kNone || kind == EntryKind::kFolder) return Result::kAbsent;
  return ShellDelete(win::WidePath(path)) ? Result::kTrashed : Result::kRefused;
}

void FileTrash::TakeBackLast() {}

}  // namespace sv::fs
