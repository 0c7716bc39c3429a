// fuzz-link: sv_sync
// fuzz-args: -rss_limit_mb=256
// Loads the input as a task list document. Markup faults are ordinary exceptions and
// leave the list without tasks; a loaded list must hand out every task it counts, each
// owned by the list, with a trimmed command name. An input of up to 64 KiB must give the
// tasks that the markup tree holds for it (the task list reads without a tree). Tasks are
// not run (they would change the disk). CTest runs this target under a memory limit, also
// over documents of several MiB (fuzz/CMakeLists.txt).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "base/Exception.h"
#include "markup/svXMLParser.h"
#include "sync/Tasks.h"

namespace {

using Tasks = std::vector<std::pair<std::string, std::string>>;

// The tasks as the markup tree holds them: each "task" child of the root with its value
// and its last "param" child's value; false for a document that is not well formed.
bool TreeTasks(std::string_view document, Tasks& tasks) {
  sv::TsvXMLNode root;
  try {
    root.Parse(document);
  } catch (const sv::Exception&) {
    return false;
  }
  for (int i = root.IndexOfChild("task", 0); i >= 0; i = root.IndexOfChild("task", i + 1)) {
    const sv::TsvXMLNode* task = root.Child(i);
    std::string parameter;
    for (int j = task->IndexOfChild("param", 0); j >= 0; j = task->IndexOfChild("param", j + 1))
      parameter = task->Child(j)->Value();
    tasks.emplace_back(task->Value(), parameter);
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view document(reinterpret_cast<const char*>(data), size);
  sv::TTaskList list;
  bool loaded = true;
  try {
    list.LoadTasks(document);
  } catch (const sv::Exception&) {
    if (list.TaskCount() != 0) std::abort();
    loaded = false;
  }
  const bool compare = size <= 64 * 1024;
  Tasks tasks;
  for (int i = 0; i < list.TaskCount(); ++i) {
    const sv::TBaseTask* task = list.TaskAt(i);
    if (!task || task->OwnerList() != &list) std::abort();
    const std::string_view name = task->CommandName();
    if (!name.empty() && (static_cast<unsigned char>(name.front()) <= 0x20 ||
                          static_cast<unsigned char>(name.back()) <= 0x20)) {
      std::abort();
    }
    if (compare) tasks.emplace_back(task->CommandName(), task->Parameter());
  }
  if (list.RunCursor() != 0) std::abort();

  if (compare) {
    Tasks expected;
    const bool wellFormed = TreeTasks(document, expected);
    if (wellFormed != loaded || tasks != expected) std::abort();
  }
  return 0;
}
