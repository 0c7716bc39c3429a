#include "sync/usvCommand.h"

namespace sv {

void TsvCommand::Execute(const std::string&, const std::string&, const std::string&) {}

}  // namespace sv
