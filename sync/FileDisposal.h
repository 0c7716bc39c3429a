#pragma once
// Where the file commands send the files they remove or replace: into the trash, as
// delete_dir sends folders, unless the user turned that off. Where no trash takes a file
// it is deleted, and the event log says so once per synchronisation.
// Main thread only, as the file commands.
#include <string>

namespace sv {

class TdrEventLog;

// How files are disposed of while it lives: one synchronisation of every project, so that
// the trash folders are looked up once and the missing trash is noted once. Without one,
// files go to the trash and nothing is logged. Scopes do not nest.
class TScopedFileDisposal {
 public:
  // `log` may be null: nothing is noted.
  TScopedFileDisposal(bool useTrash, TdrEventLog* log);
  ~TScopedFileDisposal();
  TScopedFileDisposal(const TScopedFileDisposal&) = delete;
  TScopedFileDisposal& operator=(const TScopedFileDisposal&) = delete;
};

// Removes the file (a link as itself) at `file`, a program path: into the trash, else
// for good. False when it is still there.
bool DisposeOfFile(const std::string& file);

// A file about to be replaced by new content: put into the trash while it keeps its
// name, so the name is never empty. When the replacement does not happen after all,
// Withdraw takes it out of the trash again.
class TReplacedFile {
 public:
  // Does nothing when nothing stands at `file` or the trash is turned off.
  explicit TReplacedFile(const std::string& file);
  void Withdraw();

 private:
  bool kept_ = false;
};

}  // namespace sv
