#pragma once
// What the console shows of the synchronisation: the progress of a running one, the last
// result of each project, and the changes a preview found. Plain values: the
// synchronisation side fills them, the console reads copies of them, and neither layer
// has to know the other.
#include <cstdint>
#include <string>
#include <vector>

#include "base/DateTime.h"

namespace sv {

// A moment of a synchronisation. Counts are 1-based; 0 means "not yet".
struct TSyncProgress {
  bool running = false;    // a synchronisation runs (the first one at start included)
  bool requested = false;  // one was asked for and starts at the poll loop's next tick
  int project = 0;         // the project being synchronised, of projectCount
  int projectCount = 0;
  std::string projectName;
  int task = 0;            // the task being run, of taskCount; 0 while the task list is awaited
  int taskCount = 0;
  std::string path;        // the current task's path, as the task list names it
  bool receiving = false;  // the current task fetches a file's content
  std::uint64_t received = 0;  // bytes of it received so far
  std::uint64_t size = 0;      // of its size in bytes
};

// How the connection of the last synchronisation was protected.
struct TConnectionSecurity {
  bool encrypted = false;  // TLS carried the whole exchange
  std::string protocol;    // the TLS version agreed ("TLSv1.3"); empty when not encrypted
  std::string serverKey;   // the SHA-256 of the server's public key, written as a pin is
};

// How the last synchronisation of a project ended.
struct TProjectResult {
  std::string name;
  std::string line;           // the line logged at its end, or the message it stopped with
  std::int64_t milliseconds = 0;  // how long its run took
  TDateTime finished = 0;     // when it ended
};

// One change a task list asks for, as a preview shows it.
enum class TChangeKind { kCreate, kReplace, kDelete, kOther };
struct TPlannedChange {
  TChangeKind kind = TChangeKind::kOther;
  bool folder = false;   // the change concerns a folder, not a file
  std::string path;      // as the task list names it ('\' between names)
  std::string command;   // the task's command name, as sent
};

// How many changes of each kind a task list asks for (kOther only in `all`).
struct TChangeCounts {
  int all = 0;
  int created = 0;
  int replaced = 0;
  int deleted = 0;
};

struct TProjectPreview {
  // A preview lists at most this many changes of a project (a page); the counts cover
  // them all, so that a task list of any length costs the page the same.
  static constexpr std::size_t kMaxListed = 100;

  std::string name;
  std::vector<TPlannedChange> changes;  // the first ones, in the order the tasks would run
  TChangeCounts counts;                 // of every change, listed or not
};

// A project the mass-deletion guard holds: its task list would remove `removals` of the
// `listed` files, and it would make the changes of `plan` (listed as a preview lists them).
struct THeldProject {
  std::string name;
  int removals = 0;
  int listed = 0;
  TProjectPreview plan;
};

// What the next synchronisation would change. A failure ends a preview as it ends a
// synchronisation: the projects before it are listed and `failure` holds its message.
struct TSyncPreview {
  std::vector<TProjectPreview> projects;
  bool failed = false;
  std::string failure;
  TDateTime made = 0;  // when it was finished
};

}  // namespace sv
