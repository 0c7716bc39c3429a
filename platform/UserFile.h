#pragma once
// Rewriting a file that the user keeps and may have arranged: made a link to a file
// elsewhere, given it to another owner or mode, linked it under a second name, or put it
// in a folder they cannot write. What the user made stays; only the content changes.
#include <functional>
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

// Test hook: called between the flushed temporary file and its rename, with the
// temporary file's path. A hook that raises stands for an interruption there: the raise
// passes out, the file stays as it was, the temporary file goes. An empty function
// removes the hook. Not for concurrent use with rewrites.
void SetRewriteHookForTesting(std::function<void(const std::string& tempPath)> hook);

}  // namespace sv::fs
