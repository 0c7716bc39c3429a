// The parts of the file-system layer that are built on its system-specific calls.
#include "platform/FileSystem.h"

#include <algorithm>
#include <utility>

namespace sv::fs {

std::string ReadFile(std::string_view path) {
  std::string content;
  ReadFileChunks(path, [&](const char* data, std::size_t size) { content.append(data, size); });
  return content;
}

std::uint64_t ReadFileSized(std::string_view path, const std::function<void(std::uint64_t)>& opened,
                            const std::function<void(const char*, std::size_t)>& sink) {
  InputFile file = InputFile::Open(path);
  opened(file.Size());
  char buffer[64 * 1024];
  std::uint64_t done = 0;
  while (done < file.Size()) {
    const std::size_t n = file.Read(buffer, static_cast<std::size_t>(std::min<std::uint64_t>(sizeof buffer, file.Size() - done)));
    if (n == 0) break;
    sink(buffer, n);
    done += n;
  }
  return done;
}

namespace {
bool IsSeparator(char c) { return c == '/' || c == '\\'; }
}  // namespace

bool IsAbsolutePath(std::string_view path) {
  if (path.empty() || path.find('\0') != std::string_view::npos) return false;
  if (path[0] == '~') return path.size() == 1 || IsSeparator(path[1]);
  if (!HasDriveLetters()) return IsSeparator(path[0]);
  const bool drive = path.size() >= 3 && ((path[0] | 0x20) >= 'a' && (path[0] | 0x20) <= 'z') &&
                     path[1] == ':' && IsSeparator(path[2]);
  return drive || (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1]));
}

InputFile::~InputFile() { Close(); }

InputFile::InputFile(InputFile&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)), size_(other.size_), path_(std::move(other.path_)) {}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, -1);
    size_ = other.size_;
    path_ = std::move(other.path_);
  }
  return *this;
}

}  // namespace sv::fs
