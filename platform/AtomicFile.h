#pragma once
// Writing a file so that a failure or an interruption never leaves it half-written: the
// content goes to a temporary file in the target's folder, which is renamed over the
// target only when everything has been written.
#include <memory>
#include <string>
#include <string_view>

namespace sv::fs {

class AtomicFile {
 public:
  // Opens a temporary file beside `path` (a program path, see FileSystem.h). When that is
  // not possible, or the target exists and is read-only, the writer stays usable but
  // discards what it is given, and Commit raises "Cannot create file "%s". %s" with
  // `path` and the system's text; so a caller can still consume its input.
  explicit AtomicFile(std::string_view path);
  // Removes the temporary file unless Commit succeeded.
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Appends bytes; a write failure is remembered and reported by Commit.
  void Write(const char* data, std::size_t size);
  // Flushes, closes and renames the temporary file over the target; raises as above.
  void Commit();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Replaces a whole file with content through an AtomicFile.
void WriteFileAtomic(std::string_view path, std::string_view content);

}  // namespace sv::fs
