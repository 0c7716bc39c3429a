#pragma once
// Links on Windows, on paths in the system's form (see FileSystem.cpp). A link is an
// entry that leads to another place, whether the system marks it as a reparse point or
// not (Wine shows a POSIX link to a file as a plain file). Internal to platform/win32.
#include <string>

namespace sv::win {

// Whether the entry at `path`, not followed, is a link.
bool IsLink(const std::wstring& path);
// Deletes the link at `path` itself, never what it leads to; refuses (false) where the
// system would delete the target instead, as Wine does for POSIX links.
bool RemoveLink(const std::wstring& path);

}  // namespace sv::win
