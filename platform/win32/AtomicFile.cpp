// Atomic replacement on Windows: a temporary file beside the target, moved over it with
// MoveFileEx once it is whole.
#include "platform/AtomicFile.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <random>

#include "base/Exception.h"
#include "base/Messages.h"
#include "platform/FileSystem.h"
#include "platform/PendingContent.h"
#include "platform/win32/WinText.h"

namespace sv::fs {

namespace {

// A short name, so that a target named as long as the path allows still gets one, and
// one unlikely to meet another writer's: a prefix of process id and random bits, made
// once per process, and a counter.
std::wstring TempName(const std::wstring& target) {
  static const std::wstring prefix = [] {
    wchar_t text[32];
    std::swprintf(text, 32, L".sv%lx%08x-", ::GetCurrentProcessId(), static_cast<unsigned>(std::random_device{}()));
    return std::wstring(text);
  }();
  static std::atomic<unsigned> counter{0};
  const std::size_t slash = target.rfind(L'\\');
  const std::wstring folder = slash == std::wstring::npos ? L"" : target.substr(0, slash + 1);
  return folder + prefix + std::to_wstring(counter.fetch_add(1)) + L".tmp";
}

}  // namespace

struct AtomicFile::Impl : AtomicFileState {
  Impl() : AtomicFileState([this](const char* data, std::size_t size) { WriteOut(data, size); }) {}

  std::string path;     // as the caller named it, for the message
  std::wstring target;  // system form
  std::wstring temp;    // system form; empty until created
  HANDLE file = INVALID_HANDLE_VALUE;
  DWORD error = 0;      // the first failure, reported by Commit
  bool durable = false;
  bool committed = false;
  DWORD keepAttributes = 0;  // attributes of a replaced target; 0 for a new file

  // Refuses a target that is a folder or read-only, then creates the temporary file.
  void Open(bool targetIsNew) {
    const DWORD a = targetIsNew ? INVALID_FILE_ATTRIBUTES : ::GetFileAttributesW(target.c_str());
    if (a != INVALID_FILE_ATTRIBUTES) {
      if (a & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) return Fail(ERROR_ACCESS_DENIED);
      keepAttributes = a & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE);
    }
    for (int attempt = 0; attempt < 10; ++attempt) {
      std::wstring name = TempName(target);
      file = ::CreateFileW(name.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
      if (file != INVALID_HANDLE_VALUE) {
        temp = std::move(name);
        return;
      }
      if (::GetLastError() != ERROR_FILE_EXISTS) break;
    }
    Fail(::GetLastError());
  }

  bool Discarding() const override { return file == INVALID_HANDLE_VALUE || error != 0; }

  void Fail(DWORD e) {
    if (error == 0) error = e;
  }

  void CloseFile() {
    if (file != INVALID_HANDLE_VALUE && !::CloseHandle(file)) Fail(::GetLastError());
    file = INVALID_HANDLE_VALUE;
  }

  void WriteOut(const char* data, std::size_t size) {
    while (size > 0 && file != INVALID_HANDLE_VALUE && error == 0) {
      DWORD n = 0;
      const DWORD piece = static_cast<DWORD>(std::min<std::size_t>(size, 1u << 30));
      if (!::WriteFile(file, data, piece, &n, nullptr)) return Fail(::GetLastError());
      data += n;
      size -= n;
    }
  }

  [[noreturn]] void Raise() const {
    throw Exception(Format(msg::kCannotCreateFile, path, ErrorText(static_cast<int>(error))));
  }
};

AtomicFile::AtomicFile(std::string_view path, Durability durability, bool targetIsNew, TempFilesAhead::Ticket)
    : impl_(std::make_unique<Impl>()) {
  impl_->path = std::string(path);
  impl_->target = win::WidePath(path);
  impl_->durable = durability == Durability::Durable;
  impl_->Open(targetIsNew);
}

AtomicFile::~AtomicFile() {
  impl_->CloseFile();
  if (!impl_->committed && !impl_->temp.empty()) ::DeleteFileW(impl_->temp.c_str());
}

void AtomicFile::Reserve(std::uint64_t size) {
  Impl& m = *impl_;
  if (m.file == INVALID_HANDLE_VALUE || m.error != 0) return;
  m.pending.Announce(size);
  if (size <= kBufferSize) return;  // held until Commit, whose one write tells
  const std::size_t slash = m.temp.rfind(L'\\');
  const std::wstring folder = slash == std::wstring::npos ? L"." : m.temp.substr(0, slash + 1);
  ULARGE_INTEGER available;  // to this user, quotas included
  if (!::GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr)) return;
  std::uint64_t free = available.QuadPart;
  if (FreeSpaceLimit()) free = std::min(free, *FreeSpaceLimit());
  if (size <= free) return;
  m.Fail(ERROR_DISK_FULL);
  m.Raise();
}

AtomicFileState& AtomicFile::State() { return *impl_; }

void AtomicFile::Commit(const std::function<void()>& beforeReplace) {
  Impl& m = *impl_;
  m.pending.Flush();
  if (m.error == 0 && m.time) {
    const FILETIME time = win::UnixToFileTime(*m.time);
    ::SetFileTime(m.file, nullptr, nullptr, &time);  // a time that cannot be set leaves the time of the write
  }
  if (m.error == 0 && m.durable && !::FlushFileBuffers(m.file)) m.Fail(::GetLastError());
  m.CloseFile();
  if (m.error != 0) m.Raise();
  if (CommitHook()) CommitHook()(win::Utf8(m.temp));
  if (m.keepAttributes) ::SetFileAttributesW(m.temp.c_str(), m.keepAttributes);
  if (beforeReplace) {
    // The call may take the old file away; the new one still takes the name as the disk
    // spells it, as it does when it replaces the old file in place.
    WIN32_FIND_DATAW found{};
    const HANDLE search = ::FindFirstFileW(m.target.c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
      ::FindClose(search);
      m.target = m.target.substr(0, m.target.rfind(L'\\') + 1) + found.cFileName;
    }
    beforeReplace();
  }
  const DWORD flags = MOVEFILE_REPLACE_EXISTING | (m.durable ? MOVEFILE_WRITE_THROUGH : 0);
  if (!::MoveFileExW(m.temp.c_str(), m.target.c_str(), flags)) {
    m.Fail(::GetLastError());
    m.Raise();
  }
  m.committed = true;
}

}  // namespace sv::fs
