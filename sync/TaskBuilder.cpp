#include "sync/TaskBuilder.h"

#include <mutex>
#include <string>
#include <vector>

#include "base/Messages.h"
#include "base/Text.h"
#include "sync/usvBaseCommand.h"

namespace sv {

namespace {

struct Registry {
  std::vector<TCommandClass> classes;                      // in registration order, each once
  std::vector<std::pair<std::string, std::size_t>> aliases;  // alias -> index into classes
};

Registry& TheRegistry() {
  static Registry registry;
  return registry;
}

}  // namespace

void RegisterCommand(const TCommandClass& command, std::string_view alias) {
  Registry& r = TheRegistry();
  std::size_t index = 0;
  while (index < r.classes.size() && r.classes[index].name != command.name) ++index;
  if (index == r.classes.size()) r.classes.push_back(command);
  r.aliases.emplace_back(std::string(alias), index);
}

const TCommandClass& FindCommand(std::string_view name) {
  const Registry& r = TheRegistry();
  for (const TCommandClass& c : r.classes) {
    if (SameText(c.name, name)) return c;
  }
  for (const auto& [alias, index] : r.aliases) {
    if (SameText(alias, name)) return r.classes[index];
  }
  throw EClassNotFound(Format(msg::kClassNotFound, name));
}

void RegisterFileCommands() {
  static std::once_flag once;
  std::call_once(once, [] {
    RegisterCommand(CommandClassOf<TsvInserDirCommand>(), "insert_dir");
    RegisterCommand(CommandClassOf<TsvDeleteDirCommand>(), "delete_dir");
    RegisterCommand(CommandClassOf<TsvInsertFileCommand>(), "insert_file");
    RegisterCommand(CommandClassOf<TsvDeleteFileCommand>(), "delete_file");
    RegisterCommand(CommandClassOf<TsvUpdateFileCommand>(), "update_file");
  });
}

}  // namespace sv
