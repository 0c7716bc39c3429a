#pragma once
// The path through which the file held by an open descriptor can be reached by name.
#include <string>

namespace sv {

// "/proc/self/fd/N": it leads to the very file the descriptor holds, whatever its name
// is now (or with none), for calls that take only paths. Needs /proc.
inline std::string DescriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

}  // namespace sv
