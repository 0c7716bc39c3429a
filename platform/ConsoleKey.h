#pragma once
// The console key: the secret by which a console request proves that it comes from the
// user who runs the program. It is made afresh at each start and kept, for the user's
// scripts, in a file that only this user can read.
#include <cstddef>
#include <string>
#include <string_view>

#include "platform/SystemPath.h"

namespace sv {

// 32 bytes of the system's random source as 64 lower-case hexadecimal digits. Raises
// Exception when the source fails.
std::string NewConsoleKey();

// Fills `bytes` from the system's random source (getrandom; BCryptGenRandom on Windows).
// Raises Exception when the source fails.
void SystemRandomBytes(unsigned char* bytes, std::size_t size);

// Where the key file lives: $XDG_RUNTIME_DIR/sorvana-client/console-key when
// XDG_RUNTIME_DIR is an absolute path, else ConfigFolder()/drumel/sorvana/console-key;
// on Windows %LOCALAPPDATA%\drumel\sorvana\console-key.
SystemPath ConsoleKeyFile();

// Writes the key to `file`, replacing whatever an earlier run left there, so that this
// user alone can read it: on Linux the file has mode 0600 and a folder it creates 0700
// (the folder sorvana-client of the runtime folder is made 0700 and must belong to this
// user); on Windows the file's access list is set explicitly, without inherited entries,
// and grants this user alone. Missing folders are created. Raises Exception with the
// reason when it cannot.
void WriteConsoleKeyFile(const SystemPath& file, const std::string& key);

// Writes `content` to `file` (in a folder that exists), replacing what is there, so that
// this user alone can read it at every moment: made under a temporary name with mode 0600
// (on Windows with an access list that grants this user alone) and renamed when whole.
// Raises "Cannot create file "%s". %s" when it cannot.
void WritePrivateFile(const SystemPath& file, std::string_view content);

// Removes the key file; nothing happens when it is gone.
void RemoveConsoleKeyFile(const SystemPath& file);

}  // namespace sv
