#include "server/ServerSession.h"

#include <cstdint>
#include <new>

#include "Comparer/source/StructStreamer.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "platform/FileSystem.h"
#include "platform/Locale.h"
#include "server/ServerCommand.h"
#include "server/TaskListBuilder.h"
#include "sync/Reply.h"
#include "sync/usvBaseCommand.h"

namespace sv {

TServerSession::TServerSession(const std::vector<TServedProject>& projects, TLineReader::Fill fill,
                               Write write, Log log, std::string peer)
    : projects_(projects), reader_(std::move(fill)), write_(std::move(write)), log_(std::move(log)),
      peer_(std::move(peer)) {
  for (const TServedProject& p : projects_) names_.push_back(p.name);
}

void TServerSession::Serve() {
  try {
    write_("200 sorvana-server ready\r\n");
    for (;;) {
      std::string line;
      try {
        line = reader_.ReadLine();
      } catch (const EClosedGracefully&) {
        return;  // the client's ordinary end
      }
      Answer(line);
    }
  } catch (const Exception& e) {
    LogEnd(e.Message());
  } catch (const std::bad_alloc&) {  // what ran out is released by now; other clients go on
    LogEnd(msg::kOutOfMemory);
  } catch (const std::exception& e) {
    LogEnd(e.what());
  }
}

void TServerSession::LogEnd(std::string_view reason) noexcept {
  try {
    log_(peer_ + " connection ended: " + LogText(reason));
  } catch (...) {  // no memory even for the line: the end itself matters more
  }
}

void TServerSession::Answer(const std::string& line) {
  const TServerCommand command = ParseServerCommand(line, names_);
  const std::string request = LogText(line);
  switch (command.request) {
    case TServerRequest::kHello:
      Reply(201, "welcome", request);
      return;
    case TServerRequest::kSync:
    case TServerRequest::kGetFile:
      if (command.project < 0)
        Reply(500, "No such project", request);
      else if (command.request == TServerRequest::kSync)
        Sync(command.project, request);
      else
        GetFile(command.project, command.path, request);
      return;
    case TServerRequest::kUnknown:
      Reply(500, "Unknown command", request);
      return;
  }
}

void TServerSession::Sync(int project, const std::string& request) {
  const TServedProject& p = projects_[static_cast<std::size_t>(project)];
  // A missing folder would list as empty and make the client delete everything.
  if (!fs::FolderExists(p.folder)) {
    Reply(550, "Project folder unavailable", request);
    return;
  }
  write_("202 send listing\r\n");
  const std::string listing = ReadListing();
  int leftOut = 0;
  const auto countLeftOut = [&leftOut](const std::string&) { ++leftOut; };
  TDirectory root;
  // Only what lies inside the project folder is listed, and so compared and sent.
  TLoader::ScanFolderTree(p.folder, &root, countLeftOut, true);
  const TTaskListResult tasks = BuildTaskList(listing, root, UserTimeStyle(), countLeftOut);
  write_(std::to_string(tasks.document.size()) + "\r\n");
  write_(tasks.document);
  std::string detail = "listing " + std::to_string(listing.size()) + " bytes, " + std::to_string(tasks.tasks) + " tasks";
  if (leftOut > 0) detail += ", " + std::to_string(leftOut) + " names left out";
  log_(peer_ + " " + request + " -> 202, " + detail);
}

std::string TServerSession::ReadListing() {
  const std::int64_t length = ParseFrameLength(reader_.ReadLine(), kMaxDocumentLength);
  std::string listing;
  reader_.ReadExactly(static_cast<std::uint64_t>(length),
                      [&listing](const char* data, std::size_t size) { listing.append(data, size); });
  return listing;
}

void TServerSession::GetFile(int project, const std::string& path, const std::string& request) {
  const TServedProject& p = projects_[static_cast<std::size_t>(project)];
  try {
    CheckTaskPath(p.folder, path);
  } catch (const Exception&) {
    Reply(550, Format(msg::kForbiddenPath, path), request);  // without the server's folder
    return;
  }
  std::string file;
  if (!ResolveProjectFile(p.folder, path, file)) {
    Reply(550, "No such file", request);
    return;
  }
  bool announced = false;
  std::uint64_t size = 0, sent = 0;
  try {
    sent = fs::ReadFileSized(
        file,
        [&](std::uint64_t s) {
          announced = true;
          size = s;
          write_("203 file follows\r\n" + std::to_string(s) + "\r\n");
        },
        [&](const char* data, std::size_t n) { write_(std::string_view(data, n)); });
  } catch (const Exception& e) {
    if (announced) throw;  // the frame is begun and cannot be finished
    Reply(550, "Cannot read file", request, LogText(e.Message()));
    return;
  }
  // A shorter file would leave the client waiting for bytes that never come.
  if (sent != size) throw Exception("File shrank while it was sent: " + file);
  log_(peer_ + " " + request + " -> 203, " + std::to_string(sent) + " bytes");
}

void TServerSession::Reply(int code, const std::string& text, const std::string& request,
                           const std::string& detail) {
  const std::string line = std::to_string(code) + ' ' + LogText(text);
  write_(line + "\r\n");
  log_(peer_ + " " + request + " -> " + line + (detail.empty() ? "" : ", " + detail));
}

bool ResolveProjectFile(const std::string& folder, const std::string& path, std::string& found) {
  bool throughLink = false;
  try {
    found = folder + MatchLocalNames(folder, CheckTaskPath(folder, path), &throughLink);
  } catch (const Exception&) {
    return false;  // a path out of the folder, or through a link back above it
  }
  // A link may lead anywhere: only what lies inside the folder is served.
  return fs::FileExists(found) && (!throughLink || fs::LiesWithin(found, folder));
}

std::string LogText(std::string_view text) {
  constexpr std::size_t kMax = 200;
  std::string out(text.substr(0, kMax));
  for (char& c : out)
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F) c = '?';
  if (text.size() > kMax) out += "...";
  return out;
}

}  // namespace sv
