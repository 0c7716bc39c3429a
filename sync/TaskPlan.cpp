#include "sync/TaskPlan.h"

#include <unordered_map>

#include "Comparer/source/FileStructures.h"
#include "base/Text.h"
#include "platform/FileSystem.h"
#include "sync/TaskBuilder.h"
#include "sync/TaskPath.h"
#include "sync/Tasks.h"
#include "sync/usvBaseCommand.h"

namespace sv {
namespace {

struct CommandFacts {
  std::string_view className;
  TChangeKind kind;
  bool folder;           // a folder command: its whole parameter is the path
};

// The facts of a task's command; none for a name that is not registered.
const CommandFacts* FactsOf(const TBaseTask& task) {
  static const CommandFacts facts[] = {
      {TsvInserDirCommand::ClassName(), TChangeKind::kCreate, true},
      {TsvDeleteDirCommand::ClassName(), TChangeKind::kDelete, true},
      {TsvInsertFileCommand::ClassName(), TChangeKind::kCreate, false},
      {TsvDeleteFileCommand::ClassName(), TChangeKind::kDelete, false},
      {TsvUpdateFileCommand::ClassName(), TChangeKind::kReplace, false},
  };
  try {
    const std::string& name = FindCommand(task.CommandName()).name;
    for (const CommandFacts& f : facts) {
      if (f.className == name) return &f;
    }
  } catch (const EClassNotFound&) {
  }
  return nullptr;
}

std::string PathOf(const TBaseTask& task, const CommandFacts* facts) {
  if (!facts || facts->folder) return std::string(task.Parameter());
  const std::vector<std::string> items = SplitParameter(task.Parameter());
  return items.empty() ? std::string() : items[0];
}

// Whether a file stands at the task's path; paths the run would refuse are not looked up.
// It is looked up as the run would address it: cut, tidied and matched to the local names.
bool FileStands(const std::string& root, const std::string& path) {
  try {
    return fs::FileExists(root + MatchLocalNames(root, CheckTaskPath(root, path)));
  } catch (const Exception&) {
    return false;
  }
}

// The listing's entries by path ("a\\b.txt", lower case): for a file -1, for a folder the
// number of files below it. Built without recursion, as a listing may nest deeply.
class ListingIndex {
 public:
  explicit ListingIndex(const TDirectory& root) {
    struct Folder {
      const TDirectory* dir;
      std::string path;  // with a trailing '\' but for the root's ""
      int parent;
    };
    std::vector<Folder> folders{{&root, std::string(), -1}};
    std::vector<int> files;
    for (std::size_t i = 0; i < folders.size(); ++i) {
      const TDirectory& dir = *folders[i].dir;
      const std::string prefix = folders[i].path;
      for (int f = 0; f < dir.FileCount(); ++f) entries_[prefix + LowerCase(dir.FileAt(f)->Name())] = -1;
      files.push_back(dir.FileCount());
      for (int d = 0; d < dir.DirectoryCount(); ++d) {
        const TDirectory* sub = dir.DirectoryAt(d);
        folders.push_back({sub, prefix + LowerCase(sub->Name()) + '\\', static_cast<int>(i)});
      }
    }
    // Children come after their parents: adding up from the end gives each folder its
    // whole subtree.
    for (std::size_t i = folders.size(); i-- > 1;) files[folders[i].parent] += files[i];
    listed_ = files[0];
    for (std::size_t i = 1; i < folders.size(); ++i) {
      std::string path = folders[i].path;
      path.pop_back();
      entries_[path] = files[i];
    }
  }

  int Listed() const { return listed_; }
  // -1 for a file, the files below for a folder, nullopt when nothing is listed there.
  std::optional<int> Find(const std::string& root, std::string_view taskPath) const {
    std::string checked;
    try {
      checked = CheckTaskPath(root, taskPath);
    } catch (const Exception&) {
      return std::nullopt;
    }
    const auto found = entries_.find(LowerCase(std::string_view(checked).substr(1)));
    if (found == entries_.end()) return std::nullopt;
    return found->second;
  }

 private:
  std::unordered_map<std::string, int> entries_;
  int listed_ = 0;
};

void Count(TChangeKind kind, TChangeCounts& counts) {
  ++counts.all;
  switch (kind) {
    case TChangeKind::kCreate: ++counts.created; break;
    case TChangeKind::kReplace: ++counts.replaced; break;
    case TChangeKind::kDelete: ++counts.deleted; break;
    case TChangeKind::kOther: break;
  }
}

}  // namespace

TRemovalCount CountRemovals(const TTaskList& tasks, const TDirectory& listing) {
  const ListingIndex index(listing);
  TRemovalCount count;
  count.listed = index.Listed();
  const std::string root = tasks.RootFolder().empty() ? std::string("\\") : tasks.RootFolder();
  for (int i = 0; i < tasks.TaskCount(); ++i) {
    const TBaseTask& task = *tasks.TaskAt(i);
    const CommandFacts* facts = FactsOf(task);
    if (!facts || facts->kind == TChangeKind::kOther) continue;
    const std::string path = PathOf(task, facts);
    if (facts->kind == TChangeKind::kDelete && facts->folder) {
      const std::optional<int> below = index.Find(root, path);
      if (below && *below > 0) count.removed += *below;
    } else if (facts->kind == TChangeKind::kDelete || facts->kind == TChangeKind::kReplace) {
      ++count.removed;
    } else if (!facts->folder && index.Find(root, path) == -1) {
      ++count.removed;  // insert_file over a listed file
    }
  }
  return count;
}

std::string TaskPath(const TBaseTask& task) { return PathOf(task, FactsOf(task)); }

TProjectPreview PlanChanges(const std::string& root, std::string_view document, std::size_t listed) {
  TTaskList tasks;
  tasks.LoadTasks(document);
  return PlanChanges(root, tasks, listed);
}

TProjectPreview PlanChanges(const std::string& root, const TTaskList& tasks, std::size_t listed) {
  TProjectPreview plan;
  for (int i = 0; i < tasks.TaskCount(); ++i) {
    const TBaseTask& task = *tasks.TaskAt(i);
    const CommandFacts* facts = FactsOf(task);
    TPlannedChange change;
    change.command = task.CommandName();
    change.path = PathOf(task, facts);
    if (facts) {
      change.kind = facts->kind;
      change.folder = facts->folder;
      // insert_file replaces a file that is there.
      if (change.kind == TChangeKind::kCreate && !change.folder && FileStands(root, change.path))
        change.kind = TChangeKind::kReplace;
    }
    Count(change.kind, plan.counts);
    if (plan.changes.size() < listed) plan.changes.push_back(std::move(change));
  }
  return plan;
}

}  // namespace sv
