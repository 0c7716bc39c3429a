#pragma once
// Folders the program finds its files in. Every path is program text (Windows-1250,
// see FileSystem.h) without a trailing '/'.
#include <string>

namespace sv {

// The folder of the running program file.
std::string ProgramFolder();
// The program file's name without its folder ("sorvana-client").
std::string ProgramFileName();
// The user's home folder: $HOME, else the home folder of the user's account entry.
std::string HomeFolder();
// The folder that settings live under: $XDG_CONFIG_HOME when it is an absolute path,
// else HomeFolder() + "/.config". On Windows the shell's folder for application data
// shared by all users, or without one "<Windows folder>\All Users\Application Data".
std::string ConfigFolder();
// The root folder of the default project "drumel": HomeFolder() + "/drumel" on Linux,
// "c:\program files\drumel" on Windows.
std::string DefaultProjectRoot();

// Test hook: ConfigFolder() answers `folder` from now on; empty text gives the system's
// folder back. Not for concurrent use with ConfigFolder.
void SetConfigFolderForTesting(const std::string& folder);

}  // namespace sv
