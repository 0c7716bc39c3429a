#pragma once
// The task list: the tasks of one task list document, run in document order, each
// dispatched by its command name through the command registry (TaskBuilder.h).
//
// A task list is used on one thread (the main thread, inside a synchronisation).
#include <memory>
#include <string>
#include <string_view>
#include <deque>

namespace sv {

class TTaskList;

// One task: a command name and its parameter. A list holds many thousands of them, so a
// task keeps both texts in one allocation of their exact size (none while both are
// empty): 32 bytes and the texts.
class TBaseTask {
 public:
  TBaseTask() = default;
  TBaseTask(const TBaseTask&) = delete;
  TBaseTask& operator=(const TBaseTask&) = delete;

  TTaskList* OwnerList() const { return ownerList_; }
  std::string_view CommandName() const { return {text_.get(), nameSize_}; }
  std::string_view Parameter() const { return {text_.get() + nameSize_, parameterSize_}; }
  void SetCommandName(std::string_view name) { Assign(name, Parameter()); }
  void SetParameter(std::string_view parameter) { Assign(CommandName(), parameter); }

  // Finds the command by name ("Class %s not found" when none) and runs it with the
  // owner list's root folder and source and this task's parameter; returns true.
  bool Execute();

 private:
  friend class TTaskList;
  // Replaces both texts; a failure leaves them as they were.
  void Assign(std::string_view name, std::string_view parameter);

  TTaskList* ownerList_ = nullptr;  // the list holding the task; not owned
  std::unique_ptr<char[]> text_;    // the command name, then the parameter
  std::size_t nameSize_ = 0;
  std::size_t parameterSize_ = 0;
};

class TTaskList {
 public:
  TTaskList() = default;
  ~TTaskList() { ClearTasks(); }
  TTaskList(const TTaskList&) = delete;
  TTaskList& operator=(const TTaskList&) = delete;

  // Appends a new task without name or parameter, owned by the list, and returns it.
  TBaseTask& AddTask();
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
  // leave the list without tasks, as does running out of memory (std::bad_alloc).
  // Memory: the tasks and one word per element open at a time, whatever the document's
  // shape; at most about five times the document's size.
  void LoadTasks(std::string_view document);

 private:
  int runCursor_ = 0;
  // Absent until the first AddTask and again after ClearTasks. A deque, as it keeps its
  // tasks in place while it grows.
  std::unique_ptr<std::deque<TBaseTask>> taskItems_;
  std::string source_;
  std::string rootFolder_;
};

}  // namespace sv
