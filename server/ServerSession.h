#pragma once
// One client's conversation with the reference server, apart from the socket: bytes come
// from a fill callback and go to a write callback, so the same code runs on the wire, in
// the tests and under the fuzzer. One session belongs to one thread.
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FileSystem.h"
#include "server/MemoryBudget.h"
#include "sync/LineReader.h"

namespace sv {

// A project the server mirrors: the name clients ask for and the server's folder (both
// program text, Windows-1250; the folder in the file-system layer's path form).
struct TServedProject {
  std::string name;
  std::string folder;
};

// How a session answers; the program sets them from its command line.
struct TSessionOptions {
  // The greeting offers pipelining (kPipeliningToken): clients may send requests ahead
  // of the answers. Answers are the same either way.
  bool offerPipelining = true;
  // A log line for every file served; without it only refusals of files are logged.
  bool logFiles = false;
  // The memory that the listings of all clients may take at once, shared by the
  // sessions of one server and outliving them; null: no bound. A listing costs
  // kListingCost times its size while it is read and answered.
  TMemoryBudget* listingMemory = nullptr;
};

// What a listing in flight costs the server, in bytes per byte of the listing: the
// listing, what is read from it, the server's own tree and the task list.
constexpr std::uint64_t kListingCost = 7;

class TServerSession {
 public:
  using Write = std::function<void(std::string_view bytes)>;
  using Log = std::function<void(const std::string& line)>;

  // `peer` names the client in the log lines. The projects must outlive the session.
  TServerSession(const std::vector<TServedProject>& projects, TLineReader::Fill fill, Write write,
                 Log log, std::string peer, TSessionOptions options = {});
  ~TServerSession();

  // Greets with 200, then answers requests until the client closes the connection or
  // breaks the protocol (an over-long line, a bad frame length, a listing that is not
  // well formed, a failed read or write, a file that shrank while it was sent, no memory
  // left for what the client sends or asks): such a failure ends the conversation, and
  // the caller closes the connection. Logs one line per request but for files served
  // (TSessionOptions), and one for an end other than the client's close. Never raises.
  //   Hello               -> 201
  //   Sync NAME           -> 202, then reads the framed listing and writes the framed
  //                          task list; 500 for an unknown project, 550 when its folder
  //                          is missing (an empty answer would empty the client's folder)
  //                          or holds a folder or file that cannot be read (the text
  //                          names it; the scan's message). The folder is scanned before
  //                          the answer.
  //                          A listing whose cost would exceed the listing memory
  //                          (TSessionOptions) is answered, in place of the task list,
  //                          with "552 Listing too large ..." when it exceeds the whole
  //                          and "452 Server busy ..." when other clients' listings hold
  //                          the rest; it is read and dropped, and the session goes on.
  //   GetFile NAME PATH   -> 203 and the framed content, streamed from the disk; 550 for
  //                          a path outside the project's folder, a missing file, or one
  //                          that a link places outside the folder
  //   anything else       -> 500
  // Answers are gathered and written when the next request is not there yet (so that a
  // client sending requests ahead gets many answers in one write) or when they are many.
  void Serve();

  // Called with true when a Sync request has been read and with false when its task
  // list has been sent or refused, so the caller can hold the exchange to a deadline.
  void OnSyncExchange(std::function<void(bool begun)> hook) { exchangeHook_ = std::move(hook); }

 private:
  void Answer(const std::string& line);
  void LogEnd(std::string_view reason) noexcept;
  void Sync(int project, const std::string& request);
  void GetFile(int project, const std::string& path, const std::string& request);
  void Reply(int code, const std::string& text, const std::string& request, const std::string& detail = {});
  // Reads the listing into `listing`, with its share of the listing memory. False when it
  // is refused for its cost: the refusal is sent and the listing is read and dropped.
  bool ReadListing(std::string& listing, TMemoryBudget::Share& share, const std::string& request);
  // The file a GetFile names, open; not open when it is refused (the reply is sent).
  fs::InputFile OpenServed(int project, const std::string& path, const std::string& request);
  // Answers wait in a buffer; Flush writes them.
  void Send(std::string_view bytes);
  void Flush();

  const std::vector<TServedProject>& projects_;
  std::vector<std::string> names_;
  std::vector<fs::FolderHandle> folders_;  // each project's folder, opened at its Sync
  TLineReader reader_;
  Write write_;
  Log log_;
  std::string peer_;
  TSessionOptions options_;
  std::function<void(bool)> exchangeHook_;
  std::unique_ptr<char[]> out_;  // kOutCapacity bytes once anything is sent
  std::size_t outSize_ = 0;
};

// Resolves a task path below a folder as the client matches its own (MatchLocalNames:
// each component as spelled or, failing that, the one entry whose name matches it
// without regard to case). False unless the path may travel and the result is a regular
// file that lies inside the folder once every link is resolved.
bool ResolveProjectFile(const std::string& folder, const std::string& path, std::string& found);

// Text from a client made safe for one log line: control bytes as '?', at most 200 bytes.
std::string LogText(std::string_view text);

}  // namespace sv
