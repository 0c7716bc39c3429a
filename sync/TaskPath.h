#pragma once
// Task paths: the one rule for which names may travel between a server and this client,
// and how a task's path is checked and matched to the local names before a command
// touches the disk. A task path is relative to a project root and begins with '\'; both
// '\' and '/' separate its components.
//
// Each thread matches on its own; a TScopedNameCache belongs to the thread that made it.
#include <memory>
#include <string>
#include <string_view>

namespace sv {

// Whether a name may travel as one component of a task path: not "..", no CR or LF (a
// path goes into a request line of its own: `GetFile`), and not a drive ("c:...") where
// the system has drive letters. The client's path check holds every
// component to this rule, and the reference server lists, sends and serves only names
// that keep it, so the server never sends a path the client refuses.
bool NameMayTravel(std::string_view name);

// The path exactly as the operating system will see it — cut at its first 0x00 byte —
// checked, and returned in its plain form: '\' and the names, one '\' between them
// (empty and '.' components dropped). Raises "Nedozvoljena putanja '%s'" (root + the cut
// path) unless it starts with '\', every component may travel and it names something
// below the root, or when the root itself holds a 0x00. With `rootAllowed` a path that
// names the root itself (empty, '\', '\.') passes and gives "".
std::string CheckTaskPath(const std::string& root, std::string_view path, bool rootAllowed = false);

// The local path that a checked task path addresses. Component by component, a name
// that exists as spelt stays; else the one local entry whose name matches it without
// regard to case (the folder model's folding) takes its place; when none or several do,
// that name and all after it keep the task's spelling (they are new). Raises
// "Nedozvoljena putanja '%s'" (root + path) when a folder on the way is a link to the
// root or to a folder above it: what lies below such a link is outside the project.
// `throughLink`, when given, is set to whether a component of the result is a link (so
// that the result may lie anywhere); `isNew` to whether nothing local matched the last
// component (or a folder before it), so the path names nothing yet.
std::string MatchLocalNames(const std::string& root, const std::string& path, bool* throughLink = nullptr,
                            bool* isNew = nullptr);

// Tells an active name cache that the entry at root + path (a matched path) was created
// or removed by a command, so later matches see it.
enum class LocalChange { Created, Removed };
void NoteLocalChange(const std::string& root, const std::string& path, LocalChange change);

// While one exists on a thread, MatchLocalNames there reads each folder's names once and
// keeps them, with the commands' own changes noted, so a task list of many new files in
// one folder does not read that folder again for each. The names serve only to find
// another spelling: every component of every path is still looked at on the disk, and
// every link on the way checked, when the path is matched. Meant for one task run: names
// made meanwhile by others may go unmatched. An inner one stands in for an outer one
// until it goes.
class TScopedNameCache {
 public:
  TScopedNameCache();
  ~TScopedNameCache();
  TScopedNameCache(const TScopedNameCache&) = delete;
  TScopedNameCache& operator=(const TScopedNameCache&) = delete;

  struct Names;

 private:
  std::unique_ptr<Names> names_;
  Names* previous_;
};

}  // namespace sv
