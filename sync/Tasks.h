#pragma once
// The task list: the tasks of one task list document, run in document order, each
// dispatched by its command name through the command registry (TaskBuilder.h).
//
// A task list is used on one thread (the main thread, inside a synchronisation).
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace sv {

class TTaskList;

// One task: a command name and its parameter.
class TBaseTask {
 public:
  TBaseTask() = default;
  virtual ~TBaseTask() = default;
  TBaseTask(const TBaseTask&) = delete;
  TBaseTask& operator=(const TBaseTask&) = delete;

  TTaskList* OwnerList() const { return ownerList_; }
  const std::string& CommandName() const { return commandName_; }
  const std::string& Parameter() const { return parameter_; }
  void SetCommandName(std::string name) { commandName_ = std::move(name); }
  void SetParameter(std::string parameter) { parameter_ = std::move(parameter); }

  // Finds the command by name ("Class %s not found" when none) and runs it with the
  // owner list's root folder and source and this task's parameter; returns true.
  virtual bool Execute();

 private:
  friend class TTaskList;
  TTaskList* ownerList_ = nullptr;  // the list holding the task; not owned
  std::string commandName_;
  std::string parameter_;
};

class TTaskList {
 public:
  TTaskList() = default;
  ~TTaskList() { ClearTasks(); }
  TTaskList(const TTaskList&) = delete;
  TTaskList& operator=(const TTaskList&) = delete;

  // Takes ownership of the task, appends it and makes this list its owner.
  void AddTask(std::unique_ptr<TBaseTask> task);
  // Destroys every task and sets the run cursor back to 0.
  void ClearTasks();
  int TaskCount() const;
  // The task at a zero-based index; nullptr while the list has never held tasks.
  // Raises EListError for an index outside 0..TaskCount()-1 otherwise.
  TBaseTask* TaskAt(int index) const;

  // Runs tasks from the run cursor on, all of them or, with oneStep, one; true when a
  // task ran. A failing task's raise passes out at once with the cursor on that task;
  // the tasks before it keep their effects.
  bool RunTasks(bool oneStep);
  void ResetRun() { runCursor_ = 0; }
  int RunCursor() const { return runCursor_; }

  const std::string& Source() const { return source_; }
  const std::string& RootFolder() const { return rootFolder_; }
  void SetSource(std::string source) { source_ = std::move(source); }
  void SetRootFolder(std::string root) { rootFolder_ = std::move(root); }

  // Replaces the tasks with those of a task list document: each child of the root named
  // "task" (any case) is a task, its value the command name, its last "param" child the
  // parameter. Empty text gives no tasks; markup faults raise the parser's message and
  // leave the list without tasks.
  void LoadTasks(std::string_view document);

 private:
  int runCursor_ = 0;
  // Absent until the first AddTask and again after ClearTasks.
  std::unique_ptr<std::vector<std::unique_ptr<TBaseTask>>> taskItems_;
  std::string source_;
  std::string rootFolder_;
};

}  // namespace sv
