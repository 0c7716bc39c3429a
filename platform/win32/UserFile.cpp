// Rewriting the user's file on Windows: ReplaceFile keeps what the user gave the file (its
// access list, attributes, streams and creation time) while its content is replaced whole.
#include "platform/UserFile.h"

#include <windows.h>

#include <algorithm>
#include <random>

#include "base/Exception.h"
#include "base/Messages.h"
#include "platform/FileSystem.h"
#include "platform/TestHooks.h"
#include "platform/win32/WinText.h"

namespace sv::fs {
namespace {

using win::Handle;

std::function<void(const std::string&)>& RewriteHook() {
  static std::function<void(const std::string&)> hook;
  return hook;
}

[[noreturn]] void Raise(const SystemPath& path, DWORD error) {
  throw Exception(Format(msg::kCannotCreateFile, path.Text(), ErrorText(static_cast<int>(error))));
}

// The file that the path finally names, links followed; the path itself when there is
// none yet.
std::wstring FinalTarget(const std::wstring& path) {
  Handle h(::CreateFileW(path.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
  wchar_t final[32768];
  const DWORD n = h.valid() ? ::GetFinalPathNameByHandleW(h.get(), final, 32768, FILE_NAME_NORMALIZED) : 0;
  if (n == 0 || n >= 32768) return path;
  std::wstring target(final, n);
  if (target.rfind(L"\\\\?\\UNC\\", 0) == 0) return L"\\" + target.substr(7);
  if (target.rfind(L"\\\\?\\", 0) == 0) target.erase(0, 4);
  return target;
}

bool WriteWhole(HANDLE file, std::string_view content) {
  while (!content.empty()) {
    DWORD n = 0;
    const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(content.size(), 1u << 30));
    if (!::WriteFile(file, content.data(), piece, &n, nullptr)) return false;
    content.remove_prefix(n);
  }
  return ::FlushFileBuffers(file) != 0;
}

// A new file beside the target with a short name of its own.
HANDLE CreateTemporary(const std::wstring& target, std::wstring& name) {
  static thread_local std::mt19937 generator{std::random_device{}()};
  static const wchar_t kLetters[] = L"abcdefghijklmnopqrstuvwxyz0123456789";
  const std::size_t slash = target.rfind(L'\\');
  const std::wstring folder = slash == std::wstring::npos ? L"" : target.substr(0, slash + 1);
  for (int attempt = 0; attempt < 10; ++attempt) {
    name = folder + L".sv";
    for (int i = 0; i < 8; ++i) name += kLetters[generator() % (std::size(kLetters) - 1)];
    HANDLE h = ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h != INVALID_HANDLE_VALUE || ::GetLastError() != ERROR_FILE_EXISTS) return h;
  }
  return INVALID_HANDLE_VALUE;
}

enum class Outcome { kDone, kCannotKeep, kFailed };

// The content through a temporary file that then replaces the target (or becomes it).
Outcome ReplaceAtomically(const std::wstring& target, DWORD attributes, bool exists, std::string_view content,
                          DWORD& error) {
  std::wstring temp;
  HANDLE h = CreateTemporary(target, temp);
  if (h == INVALID_HANDLE_VALUE) return (error = ::GetLastError(), Outcome::kCannotKeep);
  const bool written = WriteWhole(h, content);
  if (!written) error = ::GetLastError();
  ::CloseHandle(h);
  struct Remove {
    const std::wstring& path;
    bool keep = false;
    ~Remove() {
      if (!keep) ::DeleteFileW(path.c_str());
    }
  } remove{temp};
  if (!written) return Outcome::kFailed;
  if (RewriteHook()) RewriteHook()(win::Utf8(temp));
  const bool replaced = exists ? ::ReplaceFileW(target.c_str(), temp.c_str(), nullptr, REPLACEFILE_IGNORE_MERGE_ERRORS,
                                                nullptr, nullptr) != 0
                               : ::MoveFileExW(temp.c_str(), target.c_str(), MOVEFILE_WRITE_THROUGH) != 0;
  if (!replaced) return (error = ::GetLastError(), Outcome::kCannotKeep);
  remove.keep = true;
  // ReplaceFile keeps them on Windows; Wine's does not.
  if (exists) ::SetFileAttributesW(target.c_str(), attributes);
  return Outcome::kDone;
}

}  // namespace

void RewriteUserFile(const SystemPath& path, std::string_view content) {
  const std::wstring target = FinalTarget(win::WideFromUtf8(path.Native()));
  BY_HANDLE_FILE_INFORMATION info{};
  bool exists = false;
  {
    Handle h(::CreateFileW(target.c_str(), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                           nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    exists = h.valid() && ::GetFileInformationByHandle(h.get(), &info);
  }
  if (exists && (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)))
    Raise(path, ERROR_ACCESS_DENIED);
  DWORD error = 0;
  // A second name of the file would keep the old content: that one is rewritten in place.
  if (!exists || info.nNumberOfLinks <= 1) {
    const Outcome outcome = ReplaceAtomically(target, info.dwFileAttributes, exists, content, error);
    if (outcome == Outcome::kDone) return;
    if (outcome == Outcome::kFailed || !exists) Raise(path, error);
  }
  // In place: the folder takes no new file, or the file must stay the very file.
  Handle h(::CreateFileW(target.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, TRUNCATE_EXISTING,
                         FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!h.valid() || !WriteWhole(h.get(), content)) Raise(path, ::GetLastError());
}

void SetRewriteHookForTesting(std::function<void(const std::string&)> hook) { RewriteHook() = std::move(hook); }

}  // namespace sv::fs
