#pragma once
// Hooks for tests only: besides the files that define them, only tests include this
// header. Each stands in for a fault or for a place the system would otherwise decide,
// so that tests reach paths a healthy machine never takes.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/SystemPath.h"

namespace sv {

// Test hook: ConfigFolder() answers `folder` from now on; an empty path gives the
// system's folder back. Not for concurrent use with ConfigFolder.
void SetConfigFolderForTesting(const SystemPath& folder);

}  // namespace sv

namespace sv::fs {

// Test hook: called by every Commit between the last write and the rename, with the
// temporary file's disk path. A hook that raises stands for an interruption there: the
// raise passes out of Commit, the target stays as it was, the temporary file goes.
// An empty function removes the hook. Not for concurrent use with commits.
void SetCommitHookForTesting(std::function<void(const std::string& tempPath)> hook);

// Test hook: Reserve takes the free space to be at most `bytes`; nullopt ends that.
void LimitFreeSpaceForTesting(std::optional<std::uint64_t> bytes);

// Test hook: called between the flushed temporary file and its rename, with the
// temporary file's path. A hook that raises stands for an interruption there: the raise
// passes out, the file stays as it was, the temporary file goes. An empty function
// removes the hook. Not for concurrent use with rewrites.
void SetRewriteHookForTesting(std::function<void(const std::string& tempPath)> hook);

}  // namespace sv::fs
