#include "sync/usvBaseCommand.h"

#include <optional>

#include "Comparer/source/StructStreamer.h"
#include "base/Exception.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"
#include "platform/Trash.h"
#include "sync/FileDisposal.h"
#include "sync/ContentPipeline.h"
#include "sync/uServerCommands.h"

namespace sv {

namespace {

bool IsSeparatorByte(unsigned char c) { return c >= 0x01 && c <= 0x20; }

// Item 0 of a file command's parameter; an empty parameter has none.
const std::string& PathItem(const std::vector<std::string>& items) {
  if (items.empty()) throw EListError(0);
  return items[0];
}

// The local path a task addresses: as the system sees it, checked, matched to the
// local names.
enum class RootPath { Refused, Allowed };
std::string LocalPath(const std::string& root, std::string_view path, RootPath rootPath = RootPath::Refused) {
  const std::string checked = CheckTaskPath(root, path, rootPath == RootPath::Allowed);
  return checked.empty() ? checked : MatchLocalNames(root, checked);
}

// What insert_file reads from its parameter before it fetches; raises as the command.
struct InsertArguments {
  std::string asSent;   // the path item as the server sent it, up to its first 0x00 byte
  std::string checked;  // the same path checked and tidied: what the local file is found by
  std::optional<TDateTime> time;
};

InsertArguments ReadInsertArguments(const std::string& root, std::string_view parameter) {
  const std::vector<std::string> items = SplitParameter(parameter);
  const std::string& item = PathItem(items);
  InsertArguments args{item.substr(0, item.find('\0')), CheckTaskPath(root, item), std::nullopt};
  if (items.size() >= 2) args.time = TLoader::ParseTimestamp(items[1]);  // before anything is fetched
  return args;
}

// The path a source is asked for: a server by its own spelling, which may key its files
// by it; a local folder by the tidied form, as any local file.
const std::string& AskedPath(const std::string& source, const InsertArguments& args) {
  return IsServerSource(source) ? args.asSent : args.checked;
}

// update_file's own check before anything is fetched: the file must be deletable (its
// folder writable too). Raises "Brisanje '%s' nije moguće" with the file's full path.
void RequireRemovable(const std::string& root, std::string_view parameter) {
  const std::string file = root + LocalPath(root, PathItem(SplitParameter(parameter)));
  if (!fs::CanRemoveFile(file)) throw Exception(Format(msg::kCannotDelete, file));
}

// Content read straight into the new file's buffer.
class FileTarget : public TByteTarget {
 public:
  explicit FileTarget(fs::AtomicFile& file) : file_(file) {}
  char* Room(std::size_t minimum, std::size_t& size) override { return file_.Room(minimum, size); }
  void Placed(std::size_t n) override { file_.Placed(n); }

 private:
  fs::AtomicFile& file_;
};

// Trashes a link itself, else the folder's content and then, when all of that went, the
// folder; true when the path is gone.
bool TrashFolder(const std::string& folder) {
  if (fs::KindOf(folder) == fs::EntryKind::kLink) return fs::MoveToTrash(folder);
  return fs::TrashFolderContents(folder) && fs::MoveToTrash(folder);
}

}  // namespace

std::vector<std::string> SplitParameter(std::string_view parameter) {
  // A 0x00 ends the parameter: what follows it is not read.
  const std::string_view p = parameter.substr(0, parameter.find('\0'));
  const std::size_t n = p.size();
  std::size_t i = 0;
  const auto skipSeparators = [&] {
    while (i < n && IsSeparatorByte(p[i])) ++i;
  };
  std::vector<std::string> items;
  skipSeparators();
  while (i < n) {
    std::string item;
    if (p[i] == '"') {
      for (++i; i < n; ++i) {
        if (p[i] != '"') {
          item += p[i];
        } else if (i + 1 < n && p[i + 1] == '"') {
          item += p[++i];  // a doubled quote stands for one
        } else {
          ++i;  // the closing quote
          break;
        }
      }
    } else {
      const std::size_t start = i;
      while (i < n && static_cast<unsigned char>(p[i]) > 0x20 && p[i] != ',') ++i;
      item.assign(p.substr(start, i - start));
    }
    items.push_back(std::move(item));
    skipSeparators();
    if (i < n && p[i] == ',') {
      if (i == n - 1) items.emplace_back();  // a trailing comma ends with an empty item
      ++i;
      skipSeparators();
    }
  }
  return items;
}

bool IsServerSource(std::string_view source) {
  return source.size() >= 5 && SameText(source.substr(0, 5), "Indy ");
}

namespace {

// The pipeline of the run under way when it serves `source`, else nullptr.
TContentPipeline* PipelineOf(const std::string& source) {
  TContentPipeline* pipeline = ContentPipeline();
  if (!pipeline || !IsServerSource(source) || &pipeline->Client() != ServerChannel()) return nullptr;
  return pipeline->Project() == std::string_view(source).substr(5) ? pipeline : nullptr;
}

}  // namespace

void FetchContent(const std::string& source, const std::string& path, TByteTarget& target,
                  const std::function<void(std::uint64_t)>& sized) {
  if (!IsServerSource(source)) {
    fs::ReadFileSized(
        source + path, [&sized](std::uint64_t size) { if (sized) sized(size); },
        [&target](const char* data, std::size_t size) { PlaceBytes(target, data, size); });
    return;
  }
  TsvTCPClient* channel = ServerChannel();
  if (!channel) throw Exception(msg::kNotConnected);
  if (TContentPipeline* pipeline = PipelineOf(source)) return pipeline->Fetch(path, target, sized);
  // The project name and the path go unquoted, exactly as the server expects them.
  SendCommand(*channel, std::string(kProtocolWords[pwGetFile]) + ' ' + source.substr(5) + ' ' + path, kGetFileCode);
  ReadFramedDocument(*channel, target, sized);
}

bool FetchesContent(const TCommandClass& command) {
  return command.name == TsvInsertFileCommand::ClassName() || command.name == TsvUpdateFileCommand::ClassName();
}

bool CreatesOnly(const TCommandClass& command) { return command.name == TsvInserDirCommand::ClassName(); }

std::optional<FetchPaths> PathToFetch(const TCommandClass& command, const std::string& root,
                                      std::string_view parameter) {
  try {
    if (command.name == TsvUpdateFileCommand::ClassName()) RequireRemovable(root, parameter);
    InsertArguments args = ReadInsertArguments(root, parameter);
    MatchLocalNames(root, args.checked);  // raises for a folder on the way that leads out
    return FetchPaths{std::move(args.asSent), std::move(args.checked)};
  } catch (const Exception&) {
    return std::nullopt;
  }
}

void TsvInserDirCommand::Execute(const std::string& root, const std::string&, const std::string& parameter) {
  const std::string path = LocalPath(root, parameter, RootPath::Allowed);
  if (path.empty()) return;  // the root: the run has created it
  // An existing folder or a missing parent is no failure.
  if (fs::CreateFolder(root + path)) NoteLocalChange(root, path, LocalChange::Created);
}

void TsvDeleteDirCommand::Execute(const std::string& root, const std::string&, const std::string& parameter) {
  const std::string path = LocalPath(root, parameter);
  if (TrashFolder(root + path)) NoteLocalChange(root, path, LocalChange::Removed);
}

void TsvInsertFileCommand::Execute(const std::string& root, const std::string& source,
                                   const std::string& parameter) {
  const InsertArguments args = ReadInsertArguments(root, parameter);
  // The source is asked for the task's path; the local file may be spelt otherwise.
  bool isNew = false;
  const std::string path = MatchLocalNames(root, args.checked, nullptr, &isNew);
  TContentPipeline* pipeline = PipelineOf(source);
  const std::string& asked = AskedPath(source, args);
  if (pipeline) pipeline->AskNow(asked);  // every check has passed
  const fs::TempFilesAhead::Ticket made = pipeline ? pipeline->TempFileFor(asked) : fs::TempFilesAhead::Ticket{};
  fs::AtomicFile file(root + path, fs::AtomicFile::Durability::Ordinary, isNew, made);
  FileTarget into(file);
  FetchContent(source, asked, into, [&file](std::uint64_t size) { file.Reserve(size); });
  std::int64_t seconds = 0;
  // Times the file system's two-second form cannot hold leave the time of the write.
  if (args.time && ListingTimeToUnix(*args.time, seconds)) file.SetTime(seconds);
  // The old file goes to the trash once the new content is whole, and comes back out
  // when the new one cannot take its name after all.
  std::optional<TReplacedFile> replaced;
  try {
    file.Commit([&] { replaced.emplace(root + path); });
  } catch (...) {
    if (replaced) replaced->Withdraw();
    throw;
  }
  NoteLocalChange(root, path, LocalChange::Created);
}

void TsvDeleteFileCommand::Execute(const std::string& root, const std::string&, const std::string& parameter) {
  const std::string path = LocalPath(root, PathItem(SplitParameter(parameter)));
  const std::string file = root + path;
  // A link goes itself, never what it points to.
  if (!DisposeOfFile(file)) throw Exception(Format(msg::kCannotDelete, file));
  NoteLocalChange(root, path, LocalChange::Removed);
}

void TsvUpdateFileCommand::Execute(const std::string& root, const std::string& source,
                                   const std::string& parameter) {
  // The outcome of deleting and then inserting, without the gap between the two: the
  // file must be deletable (else the deletion's failure, before anything is fetched),
  // and the insert then replaces it only once the new content is whole, so a fetch that
  // fails leaves the old file rather than none.
  RequireRemovable(root, parameter);
  TsvInsertFileCommand::Execute(root, source, parameter);
}

}  // namespace sv
