#pragma once
// Moving files and folders to the desktop trash (the stand-in for the recycle bin).
// Paths are program paths (see FileSystem.h). Nothing here raises: callers that must
// stay silent only look at the result.
#include <string_view>

namespace sv::fs {

// Moves a file or a folder with everything in it to the trash; false when it did not go.
// A link goes itself: what it points to stays where it is.
bool MoveToTrash(std::string_view path);

// Moves every entry inside a folder to the trash, each link as itself. True when all
// went (so also for an empty folder); false when the folder cannot be read or an entry
// stayed. A path whose last component is a link is refused (false, nothing moved): the
// step never passes through a link into what it points to.
bool TrashFolderContents(std::string_view folder);

}  // namespace sv::fs
