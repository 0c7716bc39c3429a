#pragma once
// The file and folder commands a task list runs on a project folder. The root is the
// project's root folder as configured; every task path is appended to it, so a path
// begins with '\'. Paths that would reach outside the root are refused; a path is used
// as the system sees it (up to a 0x00 byte) and matched to the local names (TaskPath.h).
//
// Main thread only: a command that fetches content uses the program-wide channel
// (ServerChannel), which must be open and idle between exchanges.
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "sync/LineReader.h"
#include "sync/TaskPath.h"
#include "sync/usvCommand.h"

namespace sv {

// Splits a parameter into items: commas, blanks and control bytes separate; an item may
// be enclosed in double quotes, a doubled quote inside standing for one. `a,` gives `a`
// and an empty item, `a,,b` an empty item between. A byte 0x00 ends the text; an item
// whose quote never closes holds the rest of the text.
std::vector<std::string> SplitParameter(std::string_view parameter);

// True when the source names the server: it starts with "Indy " in any case.
bool IsServerSource(std::string_view source);

// Places the content of the file at the relative path in target: from the server with a
// "GetFile" exchange on the program-wide channel (through the task run's pipeline when
// one serves that channel and project), or copied from the local folder `source` + path
// ("Cannot open file "%s". %s" when it cannot be read). `sized`, when given, hears the
// content's length before any of it; when it raises, nothing more is read.
void FetchContent(const std::string& source, const std::string& path, TByteTarget& target,
                  const std::function<void(std::uint64_t)>& sized = {});

// Whether tasks of the command fetch content before they write (insert_file,
// update_file).
bool FetchesContent(const TCommandClass& command);
// True for a command that only ever adds to the project folder (insert_dir).
bool CreatesOnly(const TCommandClass& command);
// The path a task of `command` (one that fetches) asks the server for, its path item as
// sent, and the tidied form by which the local file is found, when the task passes, as
// things stand, every check it makes before the fetch (a path that may travel and a
// folder on its way that stays inside the root, a time that reads, for update_file a
// file it may delete); nullopt when the task would fail before it fetches.
struct FetchPaths {
  std::string asSent;
  std::string local;
};
std::optional<FetchPaths> PathToFetch(const TCommandClass& command, const std::string& root,
                                      std::string_view parameter);

class TsvFileCommand : public TsvCommand {
 public:
  static const char* ClassName() { return "TsvFileCommand"; }
};

// insert_dir: creates one folder level; any refusal passes silently. The root itself
// (no parameter, or '\') is there already: nothing to do.
class TsvInserDirCommand : public TsvFileCommand {
 public:
  static const char* ClassName() { return "TsvInserDirCommand"; }
  static void Execute(const std::string& root, const std::string& source, const std::string& parameter);
};

// delete_dir: moves the folder's content, then (only if that all went) the folder to
// the trash; failures pass silently. A link goes to the trash itself, never what it
// points to; inside the folder, links go as themselves too.
class TsvDeleteDirCommand : public TsvFileCommand {
 public:
  static const char* ClassName() { return "TsvDeleteDirCommand"; }
  static void Execute(const std::string& root, const std::string& source, const std::string& parameter);
};

// insert_file: fetches the content into a new or replaced file and sets its time when
// the parameter gives one. A server is asked for the path as it sent it (up to a 0x00
// byte), since it may key its files by its own spelling; the local file is found by the
// path's tidied form. The content is read completely even when the file cannot be
// written, but for content that does not fit in the free space: that fails at once with
// the system's text for a full disk, before anything is written or read. The old file
// stays as it was until the new one is whole, and then goes to the trash.
class TsvInsertFileCommand : public TsvFileCommand {
 public:
  static const char* ClassName() { return "TsvInsertFileCommand"; }
  static void Execute(const std::string& root, const std::string& source, const std::string& parameter);
};

// delete_file: moves the file, or a link itself, to the trash, or deletes it where no
// trash takes it (FileDisposal.h); "Brisanje '%s' nije moguće" when it does not go.
class TsvDeleteFileCommand : public TsvFileCommand {
 public:
  static const char* ClassName() { return "TsvDeleteFileCommand"; }
  static void Execute(const std::string& root, const std::string& source, const std::string& parameter);
};

// update_file: delete_file, then insert_file, with the same arguments; the file must be
// deletable (its folder writable too) before anything is fetched.
class TsvUpdateFileCommand : public TsvFileCommand {
 public:
  static const char* ClassName() { return "TsvUpdateFileCommand"; }
  static void Execute(const std::string& root, const std::string& source, const std::string& parameter);
};

}  // namespace sv
