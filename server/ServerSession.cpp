#include "server/ServerSession.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <new>
#include <utility>

#include "Comparer/source/StructStreamer.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "platform/FileSystem.h"
#include "platform/Locale.h"
#include "server/ServerCommand.h"
#include "server/TaskListBuilder.h"
#include "sync/Reply.h"
#include "sync/TaskPath.h"
#include "sync/uServerCommands.h"

namespace sv {

namespace {

// Answers are gathered up to this size before they are written.
constexpr std::size_t kOutCapacity = 256 * 1024;
// Content is read into the answer buffer only with at least this much room (or what is
// left of the file), so reads of large files stay large.
constexpr std::size_t kMinRoom = 64 * 1024;

}  // namespace

TServerSession::TServerSession(const std::vector<TServedProject>& projects, TLineReader::Fill fill,
                               Write write, Log log, std::string peer, TSessionOptions options)
    : projects_(projects),
      folders_(projects.size()),
      // Whatever is owed goes out before the session waits for the client.
      reader_([this, fill = std::move(fill)](char* buffer, std::size_t capacity) {
        Flush();
        return fill(buffer, capacity);
      }),
      write_(std::move(write)),
      log_(std::move(log)),
      peer_(std::move(peer)),
      options_(options) {
  for (const TServedProject& p : projects_) names_.push_back(p.name);
}

TServerSession::~TServerSession() = default;

void TServerSession::Serve() {
  try {
    try {
      Send(options_.offerPipelining ? "200 sorvana-server ready " + std::string(kPipeliningToken) + "\r\n"
                                    : std::string("200 sorvana-server ready\r\n"));
      for (;;) {
        std::string line;
        try {
          line = reader_.ReadLine();
        } catch (const EClosedGracefully&) {
          return;  // the client's ordinary end
        }
        Answer(line);
      }
    } catch (...) {
      // The answers before the failure are the client's all the same.
      try {
        Flush();
      } catch (...) {
      }
      throw;
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
  // Scanned before the answer, so that what cannot be read fails the request and no task
  // list is sent: one would delete, on the client, what the scan could not see. Only what
  // lies inside the project folder is listed, and so compared and sent. A client that
  // sends its request ahead of the answer scans its own folder meanwhile.
  TDirectory tree;
  int leftOut = 0;
  TScanOptions options;
  options.withinRoot = options.strict = true;
  try {
    TLoader::ScanFolderTree(p.folder, &tree, [&leftOut](const std::string&) { ++leftOut; }, options);
  } catch (const Exception& e) {
    Reply(550, e.Message(), request);
    return;
  }
  // The files of this run are opened below the folder as it stands now.
  folders_[static_cast<std::size_t>(project)] = fs::FolderHandle(p.folder);
  if (exchangeHook_) exchangeHook_(true);
  struct ExchangeEnd {
    const std::function<void(bool)>& hook;
    ~ExchangeEnd() {
      if (hook) hook(false);
    }
  } end{exchangeHook_};
  Send("202 send listing\r\n");
  std::string listing;
  TMemoryBudget::Share share;
  if (!ReadListing(listing, share, request)) return;
  const TTaskListResult tasks = BuildTaskList(
      listing, [&tree]() -> const TDirectory& { return tree; }, UserTimeStyle(),
      [&leftOut](const std::string&) { ++leftOut; });
  Send(std::to_string(tasks.document.size()) + "\r\n");
  Send(tasks.document);
  std::string detail = "listing " + std::to_string(listing.size()) + " bytes, " + std::to_string(tasks.tasks) + " tasks";
  if (leftOut > 0) detail += ", " + std::to_string(leftOut) + " names left out";
  log_(peer_ + " " + request + " -> 202, " + detail);
}

bool TServerSession::ReadListing(std::string& listing, TMemoryBudget::Share& share, const std::string& request) {
  const auto length = static_cast<std::uint64_t>(ParseFrameLength(reader_.ReadLine(), kMaxDocumentLength));
  if (TMemoryBudget* budget = options_.listingMemory) {
    const std::uint64_t cost = length * kListingCost;
    if (cost > budget->Total()) {
      Reply(552, "Listing too large for this server: " + std::to_string(length) + " bytes, at most " +
                     std::to_string(budget->Total() / kListingCost), request);
    } else if (!(share = budget->TryTake(cost))) {
      Reply(452, "Server busy with other listings; try again later", request);
    }
    if (!share) {
      // Read to its end, so the refusal reaches a client that reads only once it has sent
      // everything, and the connection stays in step.
      reader_.ReadExactly(length, [](const char*, std::size_t) {});
      return false;
    }
  }
  reader_.ReadExactly(length, [&listing](const char* data, std::size_t size) { listing.append(data, size); });
  return true;
}

fs::InputFile TServerSession::OpenServed(int project, const std::string& path, const std::string& request) {
  const TServedProject& p = projects_[static_cast<std::size_t>(project)];
  std::string checked;
  try {
    checked = CheckTaskPath(p.folder, path);
  } catch (const Exception&) {
    Reply(550, Format(msg::kForbiddenPath, path), request);  // without the server's folder
    return {};
  }
  // Most files are found as spelt, without links on the way: one open and one status
  // call. Anything else is looked up as the client matches its names, links checked.
  fs::FolderHandle& folder = folders_[static_cast<std::size_t>(project)];
  if (!folder.IsOpen()) folder = fs::FolderHandle(p.folder);
  fs::InputFile file = fs::InputFile::OpenBelow(folder, checked);
  if (file.IsOpen()) return file;
  std::string found;
  if (!ResolveProjectFile(p.folder, path, found)) {
    Reply(550, "No such file", request);
    return {};
  }
  try {
    file = fs::InputFile::Open(found);
  } catch (const Exception& e) {
    Reply(550, "Cannot read file", request, LogText(e.Message()));
    return {};
  }
  // The links on the way were checked before the open and may have been changed since:
  // what counts is where the file that was opened lies.
  if (file.LiesWithin(p.folder)) return file;
  Reply(550, "No such file", request, "it lies outside the project folder");
  return {};
}

void TServerSession::GetFile(int project, const std::string& path, const std::string& request) {
  fs::InputFile file = OpenServed(project, path, request);
  if (!file.IsOpen()) return;
  const std::uint64_t size = file.Size();
  Send("203 file follows\r\n" + std::to_string(size) + "\r\n");
  // The content is read straight into the answer buffer, behind its header.
  std::uint64_t sent = 0;
  while (sent < size) {
    const std::uint64_t left = size - sent;
    if (kOutCapacity - outSize_ < std::min<std::uint64_t>(left, kMinRoom)) Flush();
    const std::size_t n = file.Read(out_.get() + outSize_,
                                    static_cast<std::size_t>(std::min<std::uint64_t>(left, kOutCapacity - outSize_)));
    if (n == 0) break;
    outSize_ += n;
    sent += n;
  }
  // A shorter file would leave the client waiting for bytes that never come.
  if (sent != size) throw Exception("File shrank while it was sent: " + path);
  if (options_.logFiles) log_(peer_ + " " + request + " -> 203, " + std::to_string(sent) + " bytes");
}

void TServerSession::Reply(int code, const std::string& text, const std::string& request,
                           const std::string& detail) {
  const std::string line = std::to_string(code) + ' ' + LogText(text);
  Send(line + "\r\n");
  log_(peer_ + " " + request + " -> " + line + (detail.empty() ? "" : ", " + detail));
}

void TServerSession::Send(std::string_view bytes) {
  if (!out_) out_ = std::make_unique_for_overwrite<char[]>(kOutCapacity);
  if (outSize_ + bytes.size() > kOutCapacity) Flush();
  if (bytes.size() >= kOutCapacity) return write_(bytes);
  std::memcpy(out_.get() + outSize_, bytes.data(), bytes.size());
  outSize_ += bytes.size();
}

void TServerSession::Flush() {
  if (outSize_ == 0) return;
  const std::size_t size = std::exchange(outSize_, 0);
  write_(std::string_view(out_.get(), size));
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
