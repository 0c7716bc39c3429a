#pragma once
// Moving files and folders to the desktop trash (the stand-in for the recycle bin).
// Paths are program paths (see FileSystem.h). Nothing here raises: callers that must
// stay silent only look at the result.
#include <memory>
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

namespace sv::fs {

// Files that a synchronisation removes or replaces, put into the trash one after another.
// Where each file system's trash lies is looked up once per object and kept, so one
// object serves a whole synchronisation; on Linux a file is renamed into the trash
// folder of its own file system (the home trash, or the one at the top of its mount)
// with its record of origin beside it, as the desktop trash keeps them. One thread.
class FileTrash {
 public:
  FileTrash();
  ~FileTrash();
  FileTrash(const FileTrash&) = delete;
  FileTrash& operator=(const FileTrash&) = delete;

  enum class Result { kTrashed, kAbsent, kRefused };
  // Puts the file (a link as itself) at `path` into the trash. `keep`: the file stays at
  // its name as well, as a second link to it, where the system allows, so that a
  // replacement that follows leaves no moment without the file; elsewhere it moves.
  // kAbsent when nothing (or a folder) is at `path`; kRefused when no trash takes it,
  // and then nothing has changed.
  Result Put(std::string_view path, bool keep = false);
  // Takes the last file put with `keep` out of the trash again (its record too), for a
  // replacement that did not happen; the file itself is still at its name.
  void TakeBackLast();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace sv::fs
