#pragma once
// Writing a file so that a failure or an interruption never leaves it half-written: the
// content goes to a temporary file in the target's folder, which is renamed over the
// target only when everything has been written. On Linux the content goes to a file
// without a name where the file system allows (O_TMPFILE), named at the commit: as the
// target when there is none, else under a temporary name for the moment of the rename.
// One that is never committed leaves nothing behind, even when the program is killed.
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sv::fs {

struct AtomicFileState;

// Temporary files made ahead of the writers that will take them, on a thread of the
// maker's own: creating a file is most of what writing a small one costs, so earlier
// content can be written while the next files are created. Files are made in the order
// asked for; one that its writer does not take is removed when a later one is taken or
// the maker is cleared or goes. Only POSIX systems make files ahead; elsewhere every
// writer creates its own. Prepare, Clear and the writers: one thread.
class TempFilesAhead {
 public:
  // What a writer takes its file by: nothing when `maker` is null.
  struct Ticket {
    TempFilesAhead* maker = nullptr;
    std::uint64_t number = 0;
  };

  TempFilesAhead();
  ~TempFilesAhead();
  TempFilesAhead(const TempFilesAhead&) = delete;
  TempFilesAhead& operator=(const TempFilesAhead&) = delete;

  // Asks for a temporary file beside each of `paths` (program paths), none of which may
  // be in a folder that goes before its writer comes; the maker is woken once for them
  // all. Their tickets, in the same order; an empty one for a file that will not be made.
  std::vector<Ticket> Prepare(const std::vector<std::string>& paths);
  // Removes every file made or asked for.
  void Clear() noexcept;

 private:
  friend class AtomicFile;
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

class AtomicFile {
 public:
  // Opens a temporary file beside `path` (a program path, see FileSystem.h). When that is
  // not possible, or the target exists and is read-only, the writer stays usable but
  // discards what it is given, and Commit raises "Cannot create file "%s". %s" with
  // `path` and the system's text; so a caller can still consume its input.
  // A durable file's content is also flushed to the disk before the rename (settings);
  // content that can be fetched again goes without that wait. `targetIsNew` says the caller has
  // just found nothing at `path`, so it is not looked at again: the new file gets the
  // usual mode and replaces whatever appeared there meanwhile. `ahead`: the file made
  // ahead for this writer, used when it lies in the target's folder.
  enum class Durability { Ordinary, Durable };
  explicit AtomicFile(std::string_view path, Durability durability = Durability::Ordinary, bool targetIsNew = false,
                      TempFilesAhead::Ticket ahead = {});
  // Removes the temporary file unless Commit succeeded.
  ~AtomicFile();
  AtomicFile(const AtomicFile&) = delete;
  AtomicFile& operator=(const AtomicFile&) = delete;

  // Says that `size` bytes are coming, before the first Write: raises "Cannot create file
  // "%s". %s" with the system's text for a full disk when more than kBufferSize of them do
  // not fit in the free space of the target's file system, so nothing is written. Such
  // content may take its blocks ahead, where the system can, but never more than a step
  // (64 MiB) ahead of what has been written: a quota that refuses the first step raises
  // the same way, with the system's text, and one that refuses a later step fails the
  // writer, reported by Commit.
  // Content that fits in the buffer is held until Commit, which writes it in one piece:
  // a full disk then fails that write, with the same message, and nothing stays behind.
  // Does nothing when the writer is already discarding (Commit reports why) or the space
  // cannot be told.
  void Reserve(std::uint64_t size);
  // Appends bytes; a write failure is remembered and reported by Commit. Up to
  // kBufferSize of content is held in memory and written by Commit.
  void Write(const char* data, std::size_t size);
  // Lends the free end of the write buffer, so content can be read straight into it:
  // at least `minimum` bytes (at most kLargeBuffer), writing out what the buffer holds
  // first when less is free. Placed(n) appends the first n bytes of that room.
  char* Room(std::size_t minimum, std::size_t& size);
  void Placed(std::size_t n);
  // The last-write time (POSIX seconds) the file gets at Commit, before it takes the
  // target's name; a failure to set it is not reported.
  void SetTime(std::int64_t unixSeconds);
  // Flushes, closes and renames the temporary file over the target; raises as above.
  // A new file gets the usual mode for new files; a replaced one keeps its mode.
  // `beforeReplace`, when given, is called once everything is written, just before the
  // new file takes a name where another entry may stand; what it raises passes out of
  // Commit and leaves the target as it was. A new file named at once skips it.
  void Commit(const std::function<void()>& beforeReplace = {});

  // Content up to this size is held until Commit.
  static constexpr std::size_t kBufferSize = 256 * 1024;
  // The buffer that Room lends from, for large content.
  static constexpr std::size_t kLargeBuffer = 1024 * 1024;

 private:
  struct Impl;
  // The state kept alike on every system, within impl_.
  AtomicFileState& State();
  std::unique_ptr<Impl> impl_;
};

// Replaces a whole file with content through a durable AtomicFile.
void WriteFileAtomic(std::string_view path, std::string_view content);

}  // namespace sv::fs
