#include "sync/TaskPlan.h"

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

std::string TaskPath(const TBaseTask& task) { return PathOf(task, FactsOf(task)); }

TProjectPreview PlanChanges(const std::string& root, std::string_view document, std::size_t listed) {
  TTaskList tasks;
  tasks.LoadTasks(document);
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
