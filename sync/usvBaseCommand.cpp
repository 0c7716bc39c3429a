#include "sync/usvBaseCommand.h"

#include <optional>

#include "Comparer/source/StructStreamer.h"
#include "base/Exception.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "platform/AtomicFile.h"
#include "platform/FileSystem.h"
#include "platform/Trash.h"
#include "sync/uServerCommands.h"

namespace sv {

namespace {

bool IsSeparatorByte(unsigned char c) { return c >= 0x01 && c <= 0x20; }

// Item 0 of a file command's parameter; an empty parameter has none.
const std::string& PathItem(const std::vector<std::string>& items) {
  if (items.empty()) throw EListError(0);
  return items[0];
}

bool IsDriveComponent(std::string_view c) {
  const unsigned char first = c.empty() ? 0 : static_cast<unsigned char>(c[0]);
  return c.size() >= 2 && c[1] == ':' && ((first | 0x20) >= 'a' && (first | 0x20) <= 'z');
}

}  // namespace

std::vector<std::string> SplitParameter(std::string_view parameter) {
  // A 0x00 ends the text, as it ended the original's character pointer.
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

void CheckTaskPath(const std::string& root, const std::string& path) {
  bool namesSomething = false;
  bool allowed = !path.empty() && path[0] == '\\';
  std::size_t start = 0;
  while (allowed && start <= path.size()) {
    std::size_t end = path.find_first_of("\\/", start);
    if (end == std::string::npos) end = path.size();
    const std::string_view component = std::string_view(path).substr(start, end - start);
    if (component == ".." || IsDriveComponent(component)) allowed = false;
    if (!component.empty() && component != ".") namesSomething = true;
    start = end + 1;
  }
  if (!allowed || !namesSomething) throw Exception(Format(msg::kForbiddenPath, root + path));
}

bool IsServerSource(std::string_view source) {
  return source.size() >= 5 && SameText(source.substr(0, 5), "Indy ");
}

void FetchContent(const std::string& source, const std::string& path, const ByteSink& sink) {
  if (!IsServerSource(source)) {
    fs::ReadFileChunks(source + path, sink);
    return;
  }
  TsvTCPClient* channel = ServerChannel();
  if (!channel) throw Exception(msg::kNotConnected);
  // The project name and the path go unquoted, exactly as the server expects them.
  const std::string line = std::string(kProtocolWords[pwGetFile]) + ' ' + source.substr(5) + ' ' + path;
  SendCommand(*channel, line, kGetFileCode);
  ReadFramedDocument(*channel, sink);
}

void TsvInserDirCommand::Execute(const std::string& root, const std::string&, const std::string& parameter) {
  CheckTaskPath(root, parameter);
  fs::CreateFolder(root + parameter);  // an existing folder or a missing parent is no failure
}

void TsvDeleteDirCommand::Execute(const std::string& root, const std::string&, const std::string& parameter) {
  CheckTaskPath(root, parameter);
  const std::string folder = root + parameter;
  // Two steps: the content first, and the folder only when all of it went.
  if (fs::TrashFolderContents(folder)) fs::MoveToTrash(folder);
}

void TsvInsertFileCommand::Execute(const std::string& root, const std::string& source,
                                   const std::string& parameter) {
  const std::vector<std::string> items = SplitParameter(parameter);
  const std::string& path = PathItem(items);
  CheckTaskPath(root, path);
  std::optional<TDateTime> time;
  if (items.size() >= 2) time = TLoader::ParseTimestamp(items[1]);  // before anything is fetched

  const std::string target = root + path;
  fs::AtomicFile file(target);
  FetchContent(source, path, [&file](const char* data, std::size_t size) { file.Write(data, size); });
  file.Commit();

  std::int64_t seconds = 0;
  // Times the file system's two-second form cannot hold leave the time of the write.
  if (time && ListingTimeToUnix(*time, seconds)) fs::SetFileTime(target, seconds);
}

void TsvDeleteFileCommand::Execute(const std::string& root, const std::string&, const std::string& parameter) {
  const std::vector<std::string> items = SplitParameter(parameter);
  const std::string& path = PathItem(items);
  CheckTaskPath(root, path);
  if (!fs::RemoveFile(root + path)) throw Exception(Format(msg::kCannotDelete, root + path));
}

void TsvUpdateFileCommand::Execute(const std::string& root, const std::string& source,
                                   const std::string& parameter) {
  // The outcome of deleting and then inserting, without the gap between the two: the
  // file must be deletable (else the deletion's failure, before anything is fetched),
  // and the insert then replaces it only once the new content is whole, so a fetch that
  // fails leaves the old file rather than none.
  const std::vector<std::string> items = SplitParameter(parameter);
  const std::string& path = PathItem(items);
  CheckTaskPath(root, path);
  if (!fs::CanRemoveFile(root + path)) throw Exception(Format(msg::kCannotDelete, root + path));
  TsvInsertFileCommand::Execute(root, source, parameter);
}

}  // namespace sv
