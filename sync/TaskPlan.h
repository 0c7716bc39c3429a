#pragma once
// What the tasks of a task list would do, told without doing it: the path each task
// names (for the progress of a running synchronisation) and the change it would make
// (for a preview of the next one). Reads the command registry (TaskBuilder.h).
#include <string>
#include <string_view>
#include <vector>

#include "base/SyncStatus.h"

namespace sv {

class TBaseTask;
class TDirectory;
class TTaskList;

// The file or folder a task names: the whole parameter for the folder commands, the
// parameter's first item for the file commands (empty when it has none), the whole
// parameter for a command that is not registered.
std::string TaskPath(const TBaseTask& task);

// The changes the tasks of a task list document would make below `root`: the first
// `listed` of them in the order they would run, and the counts of all (the name is left
// empty). Nothing is changed, only looked at; memory beyond the task list itself does not
// grow with the document. insert_file of a file that exists is a replacement; a command
// that is not registered is kOther. Raises the markup parser's message for a document
// that is not well formed, as the run would.
TProjectPreview PlanChanges(const std::string& root, std::string_view document,
                            std::size_t listed = TProjectPreview::kMaxListed);
// The same for a task list already read.
TProjectPreview PlanChanges(const std::string& root, const TTaskList& tasks,
                            std::size_t listed = TProjectPreview::kMaxListed);

// What the tasks would remove of the files in `listing` (the listing the task list
// answers): each file that delete_file or update_file names, each listed file that
// insert_file replaces, and each listed file inside a folder that delete_dir names. Names
// are compared without regard to case; paths the run would refuse count as a removal
// for the file commands that remove and as nothing otherwise. `listed` counts the
// listing's files.
struct TRemovalCount {
  int removed = 0;
  int listed = 0;
};
TRemovalCount CountRemovals(const TTaskList& tasks, const TDirectory& listing);

}  // namespace sv
