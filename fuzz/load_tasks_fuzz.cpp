// fuzz-link: sv_sync
// Loads the input as a task list document. Markup faults are ordinary exceptions and
// leave the list without tasks; a loaded list must hand out every task it counts, each
// owned by the list, with a trimmed command name. Tasks are not run (they would change
// the disk).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "base/Exception.h"
#include "sync/Tasks.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view document(reinterpret_cast<const char*>(data), size);
  sv::TTaskList list;
  try {
    list.LoadTasks(document);
  } catch (const sv::Exception&) {
    if (list.TaskCount() != 0) std::abort();
    return 0;
  }
  for (int i = 0; i < list.TaskCount(); ++i) {
    const sv::TBaseTask* task = list.TaskAt(i);
    if (!task || task->OwnerList() != &list) std::abort();
    const std::string& name = task->CommandName();
    if (!name.empty() && (static_cast<unsigned char>(name.front()) <= 0x20 ||
                          static_cast<unsigned char>(name.back()) <= 0x20)) {
      std::abort();
    }
  }
  if (list.RunCursor() != 0) std::abort();
  return 0;
}
