#pragma once
// Rewriting a file that the user keeps and may have arranged: made a link to a file
// elsewhere, given it to another owner or mode, linked it under a second name, or put it
// in a folder they cannot write. What the user made stays; only the content changes.
#include <string>
#include <string_view>

#include "platform/SystemPath.h"

namespace sv::fs {

// Replaces the whole content of the file that `path` finally names (links followed),
// flushed to the disk. Normally the content goes to a temporary file beside that file,
// which takes over its owner, group, mode and access list and is then renamed over it,
// so a failure or a crash leaves the old file whole. Where that cannot keep the file as
// it was — no temporary file can be made there, the owner cannot be given to it, the
// rename is refused, or the file has more than one hard link — the file is rewritten in
// place instead. A new file gets the usual mode for new files. A folder, or a file
// without any write permission bit, is refused. Raises "Cannot create file "%s". %s"
// with path.Text() and the system's text.
void RewriteUserFile(const SystemPath& path, std::string_view content);

}  // namespace sv::fs
