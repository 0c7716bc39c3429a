#pragma once
// The command registry: a program-wide map from a name to a command class. Each class
// is found under its alias ("insert_file") and under its class name
// ("TsvInsertFileCommand"), without regard to case.
//
// Filled once at program start, before any other thread exists, and only read after
// that; it has no lock.
#include <string_view>

#include "base/Exception.h"
#include "sync/usvCommand.h"

namespace sv {

// No command is registered under the name ("Class %s not found").
class EClassNotFound : public Exception {
 public:
  using Exception::Exception;
};

// Registers the class under its class name (once) and under the alias.
void RegisterCommand(const TCommandClass& command, std::string_view alias);
// Class names are looked at first, then aliases, each in registration order.
const TCommandClass& FindCommand(std::string_view name);

// Registers the five file commands: insert_dir, delete_dir, insert_file, delete_file,
// update_file. Called first thing at program start; calling it again does nothing.
void RegisterFileCommands();

}  // namespace sv
