#pragma once
// Handing a document or address to the desktop's default application.
#include <string>
#include <string_view>
#include <vector>

namespace sv {

// Opens the address in the user's default browser (xdg-open on Linux) without waiting
// for it: the opener runs detached from this program, in a session of its own, with the
// default signal handling. False when the opener cannot be started at all.
bool ShellOpen(std::string_view url);

// Starts argv[0] (looked up on PATH) with the given arguments, detached as ShellOpen
// does; true when it started, false when it could not be executed.
bool StartDetached(const std::vector<std::string>& argv);

}  // namespace sv
