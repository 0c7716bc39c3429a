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
// else HomeFolder() + "/.config".
std::string ConfigFolder();

}  // namespace sv
