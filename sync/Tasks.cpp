#include "sync/Tasks.h"

#include "base/Exception.h"
#include "markup/svXMLParser.h"
#include "sync/TaskBuilder.h"

namespace sv {

bool TBaseTask::Execute() {
  const TCommandClass& command = FindCommand(commandName_);
  static const std::string none;
  command.execute(ownerList_ ? ownerList_->RootFolder() : none, ownerList_ ? ownerList_->Source() : none,
                  parameter_);
  return true;
}

void TTaskList::AddTask(std::unique_ptr<TBaseTask> task) {
  if (!taskItems_) taskItems_ = std::make_unique<std::vector<std::unique_ptr<TBaseTask>>>();
  task->ownerList_ = this;
  taskItems_->push_back(std::move(task));
}

void TTaskList::ClearTasks() {
  taskItems_.reset();
  runCursor_ = 0;
}

int TTaskList::TaskCount() const { return taskItems_ ? static_cast<int>(taskItems_->size()) : 0; }

TBaseTask* TTaskList::TaskAt(int index) const {
  if (!taskItems_) return nullptr;
  if (index < 0 || index >= TaskCount()) throw EListError(index);
  return (*taskItems_)[static_cast<std::size_t>(index)].get();
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

void TTaskList::LoadTasks(std::string_view document) {
  ClearTasks();
  if (document.empty()) return;
  TsvXMLNode root;
  root.Parse(document);
  for (int i = root.IndexOfChild("task", 0); i >= 0; i = root.IndexOfChild("task", i + 1)) {
    const TsvXMLNode* element = root.Child(i);
    auto task = std::make_unique<TBaseTask>();
    task->SetCommandName(element->Value());
    // Every "param" child assigns in turn, so the last one wins.
    for (int j = element->IndexOfChild("param", 0); j >= 0; j = element->IndexOfChild("param", j + 1)) {
      task->SetParameter(element->Child(j)->Value());
    }
    AddTask(std::move(task));
  }
}

}  // namespace sv
