#pragma once
// The temporary files of the atomic writer on POSIX systems, and the maker that creates
// them ahead of their writers. For the platform layer's own files only.
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "platform/AtomicFile.h"

namespace sv::fs {

// A temporary file created beside the target (disk form): its name (empty for a file
// without a name) and descriptor, or the descriptor -1 and errno set.
struct Temp {
  std::string name;
  int fd = -1;
};

// A fresh temporary name in the folder of `target` (disk form).
std::string TempName(const std::string& target);
// The folder part of `target` with its closing '/', or "" for a bare name.
std::string_view FolderOf(std::string_view target);
// Creates a temporary file beside `target` (disk form). `unnamed`: where the file system
// allows, the file is made without a name (O_TMPFILE), to be named at its commit.
Temp CreateTemp(const std::string& target, bool unnamed);
// Closes the file and removes its name; nothing when it is not open.
void Discard(Temp& temp);
// Gives the file open at `fd` the name `path` (disk form); false with errno set.
bool LinkDescriptor(int fd, const std::string& path);

struct TempFilesAhead::Impl {
  struct Job {
    std::uint64_t number;
    std::string target;  // disk form
    enum State { kWaiting, kMaking, kMade } state = kWaiting;
    Temp temp;
  };

  // The maker's loop: makes the waiting jobs' files in order, until stop.
  void Work();
  // The file made for job `number`, when it was made beside `target`; the files asked
  // for before it are removed. Waits while it is being made; one not yet begun is not
  // made.
  std::optional<Temp> Take(std::uint64_t number, std::string_view target);
  Job* Find(std::uint64_t number);

  std::mutex mutex;              // guards everything below
  std::condition_variable wake;  // the maker: a job or the stop
  std::condition_variable made;  // a writer: its job is made
  std::deque<Job> jobs;          // oldest first
  std::uint64_t next = 1;
  bool stop = false;
  std::thread thread;
};

}  // namespace sv::fs
