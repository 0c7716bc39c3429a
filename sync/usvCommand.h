#pragma once
// TsvCommand: the base of the commands a task list dispatches to. Commands have no
// instances and no state; everything about one is class-level: its class name and its
// Execute(root folder, source, parameter).
#include <string>

namespace sv {

// A command class as the registry holds it.
struct TCommandClass {
  std::string name;  // the class name, e.g. "TsvInsertFileCommand"
  void (*execute)(const std::string& root, const std::string& source, const std::string& parameter);
};

class TsvCommand {
 public:
  TsvCommand() = delete;
  static const char* ClassName() { return "TsvCommand"; }
  // Does nothing in the base.
  static void Execute(const std::string& root, const std::string& source, const std::string& parameter);
};

// The registry entry of a command class C.
template <typename C>
TCommandClass CommandClassOf() {
  return TCommandClass{C::ClassName(), &C::Execute};
}

}  // namespace sv
