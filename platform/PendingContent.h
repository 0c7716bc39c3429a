#pragma once
// What the atomic writers of both systems share: the content held before it goes to the
// system, and the hooks that tests set. For the platform layer's own files only.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <utility>

namespace sv::fs {

// Content written to an AtomicFile and not yet handed to the system, gathered so that
// the channel's pieces cost few system calls. Up to AtomicFile::kBufferSize is held until
// Flush; announced content that fits takes one buffer of its own size, larger content a
// buffer of AtomicFile::kLargeBuffer that is written out whenever it is full.
class PendingContent {
 public:
  // `writeOut` hands bytes to the system; it remembers a failure itself.
  explicit PendingContent(std::function<void(const char*, std::size_t)> writeOut);

  // The size the writer was told is coming (Reserve); 0 when none.
  void Announce(std::uint64_t size) { announced_ = size; }
  void Write(const char* data, std::size_t size);
  // See AtomicFile::Room and Placed.
  char* Room(std::size_t minimum, std::size_t& size);
  void Placed(std::size_t n) { used_ += n; }
  // Hands everything held to the system.
  void Flush();

 private:
  // A buffer of `size` bytes at least, with what it holds kept.
  void Grow(std::size_t size);
  bool AnnouncedFits() const;

  std::function<void(const char*, std::size_t)> writeOut_;
  std::unique_ptr<char[]> buffer_;
  std::size_t capacity_ = 0, used_ = 0;
  std::uint64_t announced_ = 0;
};

// The part of an AtomicFile's state that the writers of both systems keep alike, which
// the members of AtomicFile shared by both systems reach.
struct AtomicFileState {
  // `writeOut`: see PendingContent.
  explicit AtomicFileState(std::function<void(const char*, std::size_t)> writeOut) : pending(std::move(writeOut)) {}
  virtual ~AtomicFileState() = default;
  // True while the writer drops what it is given: it has no temporary file, or a
  // failure is waiting for Commit.
  virtual bool Discarding() const = 0;

  PendingContent pending;
  std::optional<std::int64_t> time;  // the last-write time that Commit sets
};

// Called with the temporary file's path before the rename (tests).
std::function<void(const std::string&)>& CommitHook();
// The free space that Reserve believes at most (tests).
std::optional<std::uint64_t>& FreeSpaceLimit();

}  // namespace sv::fs
