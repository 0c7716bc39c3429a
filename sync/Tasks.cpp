#include "sync/Tasks.h"

#include <algorithm>

#include "base/Exception.h"
#include "base/Text.h"
#include "markup/svXMLReader.h"
#include "sync/TaskBuilder.h"

namespace sv {

bool TBaseTask::Execute() {
  const TCommandClass& command = FindCommand(CommandName());
  static const std::string none;
  command.execute(ownerList_ ? ownerList_->RootFolder() : none, ownerList_ ? ownerList_->Source() : none,
                  std::string(Parameter()));
  return true;
}

void TBaseTask::Assign(std::string_view name, std::string_view parameter) {
  std::unique_ptr<char[]> text;
  if (!name.empty() || !parameter.empty()) {
    text = std::make_unique_for_overwrite<char[]>(name.size() + parameter.size());
    std::copy(name.begin(), name.end(), text.get());
    std::copy(parameter.begin(), parameter.end(), text.get() + name.size());
  }
  text_ = std::move(text);
  nameSize_ = name.size();
  parameterSize_ = parameter.size();
}

TBaseTask& TTaskList::AddTask() {
  if (!taskItems_) taskItems_ = std::make_unique<std::deque<TBaseTask>>();
  TBaseTask& task = taskItems_->emplace_back();
  task.ownerList_ = this;
  return task;
}

void TTaskList::ClearTasks() {
  taskItems_.reset();
  runCursor_ = 0;
}

int TTaskList::TaskCount() const { return taskItems_ ? static_cast<int>(taskItems_->size()) : 0; }

TBaseTask* TTaskList::TaskAt(int index) const {
  if (!taskItems_) return nullptr;
  if (index < 0 || index >= TaskCount()) throw EListError(index);
  return &(*taskItems_)[static_cast<std::size_t>(index)];
}

bool TTaskList::RunTasks(bool oneStep) {
  bool ran = false;
  while (runCursor_ < TaskCount()) {
    TaskAt(runCursor_)->Execute();
    ran = true;
    ++runCursor_;
    if (oneStep) break;
  }
  return ran;
}

namespace {

// Reads a task list document into a list, keeping only the tasks: the value of each
// "task" child of the top element and the value of its last "param" child.
class TaskReader : public TsvXMLHandler {
 public:
  explicit TaskReader(TTaskList& list) : list_(list) {}

  void StartElement(std::string_view name, bool top) override {
    depth_ = top ? 1 : depth_ + 1;
    if (depth_ == 2 && SameText(name, "task")) {
      task_ = &list_.AddTask();
      command_.clear();
    } else if (depth_ == 3 && task_ && SameText(name, "param")) {
      inParam_ = true;
      parameter_.clear();
    }
  }

  void EndElement() override {
    if (depth_ == 3) EndParam();
    if (depth_ == 2) EndTask();
    --depth_;
  }

  void Text(std::string_view raw) override {
    if (depth_ == 2 && task_) AppendValueText(command_, 0, raw);
    if (depth_ == 3 && inParam_) AppendValueText(parameter_, 0, raw);
  }

  // Elements left open at the end of the document count as they stand.
  void EndDocument() {
    EndParam();
    EndTask();
  }

 private:
  // Every "param" child assigns in turn, so the last one wins.
  void EndParam() {
    if (inParam_) task_->SetParameter(parameter_);
    inParam_ = false;
  }
  void EndTask() {
    if (task_) task_->SetCommandName(command_);
    task_ = nullptr;
  }

  TTaskList& list_;
  std::size_t depth_ = 0;      // of the current element; the top element is 1
  TBaseTask* task_ = nullptr;  // the open "task" child of the top element
  bool inParam_ = false;       // its "param" child is open
  std::string command_, parameter_;
};

}  // namespace

void TTaskList::LoadTasks(std::string_view document) {
  ClearTasks();
  if (document.empty()) return;
  try {
    TaskReader reader(*this);
    ReadMarkup(document, reader);
    reader.EndDocument();
  } catch (...) {
    ClearTasks();
    throw;
  }
}

}  // namespace sv
