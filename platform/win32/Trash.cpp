// The recycle bin through the shell's delete operation.
#include "platform/Trash.h"

#include <windows.h>
#include <shellapi.h>

#include "platform/FileSystem.h"
#include "platform/win32/WinText.h"

namespace sv::fs {
namespace {

// The shell's delete of one source (a path, or a folder's "\*.*"): to the recycle bin,
// without progress, confirmation or error display, and no owner window. True when the
// shell reports success and nothing was aborted. The shell deletes a link itself.
bool ShellDelete(std::wstring source) {
  source.push_back(L'\0');  // the list of sources ends with an empty one
  SHFILEOPSTRUCTW operation{};
  operation.wFunc = FO_DELETE;
  operation.pFrom = source.c_str();
  operation.fFlags = FOF_SILENT | FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_NOCONFIRMMKDIR | FOF_ALLOWUNDO;
  return ::SHFileOperationW(&operation) == 0 && !operation.fAnyOperationsAborted;
}

}  // namespace

bool MoveToTrash(std::string_view path) { return ShellDelete(win::WidePath(path)); }

bool TrashFolderContents(std::string_view folder) {
  // The step never passes through a link into what it points to.
  if (KindOf(folder) != EntryKind::kFolder) return false;
  bool empty = true;
  if (!ForEachEntry(folder, [&](const DirEntry&) { empty = false; })) return false;
  // The shell may call a pattern that matches nothing a failure; nothing to move is success.
  if (empty) return true;
  std::wstring pattern = win::WidePath(folder);
  if (pattern.empty() || pattern.back() != L'\\') pattern += L'\\';
  return ShellDelete(pattern + L"*.*");
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
