#pragma once
// The file and folder commands a task list runs on a project folder. The root is the
// project's root folder as configured; every task path is appended to it as it stands,
// so a path begins with '\'. Paths that would reach outside the root are refused.
//
// Main thread only: a command that fetches content uses the program-wide channel
// (ServerChannel), which must be open and idle between exchanges.
#include <string>
#include <string_view>
#include <vector>

#include "sync/LineReader.h"
#include "sync/usvCommand.h"

namespace sv {

// Splits a parameter into items: commas, blanks and control bytes separate; an item may
// be enclosed in double quotes, a doubled quote inside standing for one. `a,` gives `a`
// and an empty item, `a,,b` an empty item between. A byte 0x00 ends the text; an item
// whose quote never closes holds the rest of the text.
std::vector<std::string> SplitParameter(std::string_view parameter);

// Raises "Nedozvoljena putanja '%s'" (root + path) unless path starts with '\' and
// names something below the root: no '..' component, no drive letter, not only
// separators and '.' components. Both '\' and '/' count as separators.
void CheckTaskPath(const std::string& root, const std::string& path);

// True when the source names the server: it starts with "Indy " in any case.
bool IsServerSource(std::string_view source);

// Hands the content of the file at the relative path to sink: from the server with a
// "GetFile" exchange on the program-wide channel, or copied from the local folder
// `source` + path ("Cannot open file "%s". %s" when it cannot be read).
void FetchContent(const std::string& source, const std::string& path, const ByteSink& sink);

class TsvFileCommand : public TsvCommand {
 public:
  static const char* ClassName() { return "TsvFileCommand"; }
};

// insert_dir: creates one folder level; any refusal passes silently.
class TsvInserDirCommand : public TsvFileCommand {
 public:
  static const char* ClassName() { return "TsvInserDirCommand"; }
  static void Execute(const std::string& root, const std::string& source, const std::string& parameter);
};

// delete_dir: moves the folder's content, then (only if that all went) the folder to
// the trash; failures pass silently.
class TsvDeleteDirCommand : public TsvFileCommand {
 public:
  static const char* ClassName() { return "TsvDeleteDirCommand"; }
  static void Execute(const std::string& root, const std::string& source, const std::string& parameter);
};

// insert_file: fetches the content into a new or replaced file and sets its time when
// the parameter gives one. The content is always read completely, even when the file
// cannot be written; the old file stays as it was until the new one is whole.
class TsvInsertFileCommand : public TsvFileCommand {
 public:
  static const char* ClassName() { return "TsvInsertFileCommand"; }
  static void Execute(const std::string& root, const std::string& source, const std::string& parameter);
};

// delete_file: deletes the file; "Brisanje '%s' nije moguće" when it does not go.
class TsvDeleteFileCommand : public TsvFileCommand {
 public:
  static const char* ClassName() { return "TsvDeleteFileCommand"; }
  static void Execute(const std::string& root, const std::string& source, const std::string& parameter);
};

// update_file: delete_file, then insert_file, with the same arguments.
class TsvUpdateFileCommand : public TsvFileCommand {
 public:
  static const char* ClassName() { return "TsvUpdateFileCommand"; }
  static void Execute(const std::string& root, const std::string& source, const std::string& parameter);
};

}  // namespace sv
