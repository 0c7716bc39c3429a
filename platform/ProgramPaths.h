#pragma once
// Folders the program finds its files in. They are the system's own paths (SystemPath.h),
// never squeezed into program text, without a trailing '/'.
#include <string>

#include "platform/SystemPath.h"

namespace sv {

// The folder of the running program file.
SystemPath ProgramFolder();
// The program file's name without its folder ("sorvana-client"), as program text to show.
std::string ProgramFileName();
// The user's home folder: $HOME, else the home folder of the user's account entry (on
// Windows the user's profile folder).
SystemPath HomeFolder();
// The home folder as program text, for a path the user sees and the settings file
// stores: the folder itself when program text names it exactly, else "~", which the
// file-system layer reads as the home folder (FileSystem.h).
std::string HomeFolderText();
// The folder that settings live under: $XDG_CONFIG_HOME when it is an absolute path,
// else HomeFolder() + "/.config". On Windows the shell's folder for application data
// shared by all users, or without one "<Windows folder>\All Users\Application Data".
SystemPath ConfigFolder();
// The root folder of the default project "drumel" as program text:
// HomeFolderText() + "/drumel" on Linux, "c:\program files\drumel" on Windows.
std::string DefaultProjectRoot();

}  // namespace sv
