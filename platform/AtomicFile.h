#pragma once
// Writing a file so that a failure or an interruption never leaves it half-written: the
// content goes to a temporary file in the target's folder, which is renamed over the
// target only when everything has been written.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace sv::fs {

class AtomicFile {
 public:
  // Opens a temporary file beside `path` (a program path, see FileSystem.h). When that is
  // not possible, or the target exists and is read-only, the writer stays usable but
  // discards what it is given, and Commit raises "Cannot create file "%s". %s" with
  // `path` and the system's text; so a caller can still consume its input.
  // `durable` also flushes the content to the disk before the rename (settings); content
  // that can be fetched again goes without that wait.
  explicit AtomicFile(std::string_view path, bool durable = false);
  // Removes the temporary file unless Commit succeeded.
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Says that `size` bytes are coming, before the first Write: raises "Cannot create file
  // "%s". %s" with the system's text for a full disk when they do not fit in the free
  // space of the target's file system, so nothing is written. Does nothing when the
  // writer is already discarding (Commit reports why) or the space cannot be told.
  void Reserve(std::uint64_t size);
  // Appends bytes; a write failure is remembered and reported by Commit.
  void Write(const char* data, std::size_t size);
  // Flushes, closes and renames the temporary file over the target; raises as above.
  // A new file gets the usual mode for new files; a replaced one keeps its mode.
  void Commit();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

// Replaces a whole file with content through a durable AtomicFile.
void WriteFileAtomic(std::string_view path, std::string_view content);

// Test hook: called by every Commit between the last write and the rename, with the
// temporary file's disk path. A hook that raises stands for an interruption there: the
// raise passes out of Commit, the target stays as it was, the temporary file goes.
// An empty function removes the hook. Not for concurrent use with commits.
void SetCommitHookForTesting(std::function<void(const std::string& tempPath)> hook);

// Test hook: Reserve takes the free space to be at most `bytes`; nullopt ends that.
void LimitFreeSpaceForTesting(std::optional<std::uint64_t> bytes);

}  // namespace sv::fs
