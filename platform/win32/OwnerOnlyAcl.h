#pragma once
// The access list of a file that only the user who runs the program may open. Internal
// to platform/win32.
#include <windows.h>

#include <vector>

namespace sv::win {

// An access list with one entry that grants this process's user every right to a file;
// set it protected, so that nothing is inherited beside it. Empty, with `error` set, when
// the user cannot be found out.
std::vector<BYTE> OwnerOnlyAcl(DWORD& error);

}  // namespace sv::win
