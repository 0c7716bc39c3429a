#pragma once
// TContentPipeline: fetches the file contents of one project's task run over the
// command channel; with a server that allows it, asking for each before the task that
// writes it runs, so that the server, the wire and the client's disk work at the same
// time.
//
// A server that answers one request at a time sees exactly one request, one answer, and
// only for the task under way, once that task's own checks have passed: no request
// goes out for a task that never runs. A server that offers pipelining
// (kPipeliningToken in its greeting) has opted in to requests ahead: up to kWindow are
// in flight, their paths taken from a plan (the path, as sent, of each task that will
// fetch, in task order), which stops at the first task whose checks already fail.
// Answers are read in request order, each only when its task asks for it, so progress
// reports always count the bytes of the task under way.
//
// With such a server, each file requested ahead may also have its temporary file made
// ahead, beside its target, while the files before it are written (see
// fs::TempFilesAhead); the plan says for which, as it alone knows whether a task before
// the file's own could remove its folder.
//
// Main thread only, like the channel. One pipeline serves one task run.
#include <cstdint>
#include <deque>
#include <functional>
#include <optional>
#include <string>

#include "platform/AtomicFile.h"
#include "sync/LineReader.h"
#include "sync/svTCPClient.h"

namespace sv {

class TContentPipeline {
 public:
  // A path the plan expects to fetch (as the server is asked for it), the tidied form
  // by which its local file is found, and whether its temporary file may be made ahead.
  struct Planned {
    std::string path;
    std::string local;
    bool makeAhead = false;
  };
  // The next path the plan expects to fetch; nullopt when no further task will.
  using Plan = std::function<std::optional<Planned>()>;

  // Most requests in flight with a server that offers pipelining.
  static constexpr std::size_t kWindow = 64;
  // Most bytes of request lines in flight: they must always fit in the socket buffers,
  // so that a request never waits for the server, which may be writing answers.
  static constexpr std::size_t kMaxAheadBytes = 16 * 1024;
  // Most bytes of content announced by the answers that Drain reads and drops.
  static constexpr std::uint64_t kMaxDrainBytes = 64 * 1024;

  // `root`: the project's folder, below which the planned paths lie.
  TContentPipeline(TsvTCPClient& client, std::string project, std::string root, bool pipelined, Plan plan);

  // Sends the requests that may go out ahead now (none one at a time). Raises the
  // channel's failures.
  void SendAhead();

  // One at a time, for the task under way once its own checks have passed: sends the
  // request for `path` at once, so that the server works while the task makes its
  // file; Fetch then reads the answer. Nothing with requests ahead or in flight.
  // Raises the channel's failures.
  void AskNow(const std::string& path);

  // Reads the answer for `path` (reply 203 and a framed document) into target; the
  // document's length goes to `announced` first, and when that raises nothing more is
  // read. A path that is not the oldest one requested is fetched with a plain exchange
  // once the answers before it are dropped, and nothing is asked ahead after that.
  // Raises the reply's text for another code (the answer is then read whole) and the
  // channel's failures. With pipelining, the next requests go out once the content
  // has been read.
  void Fetch(const std::string& path, TByteTarget& target, const std::function<void(std::uint64_t)>& announced);

  // For a run that ends early: reads and drops the answers to requests not fetched, so
  // the channel is ready for the next exchange, while their contents come to at most
  // kMaxDrainBytes; past that it closes the connection instead of reading on (the next
  // synchronisation opens a new one), as it does after a failure of the channel itself,
  // which leaves it in the middle of an answer. Never raises.
  void Drain() noexcept;

  // What the writer of `path` takes its temporary file by: the file made ahead for the
  // oldest request when that is for `path`, else nothing.
  fs::TempFilesAhead::Ticket TempFileFor(const std::string& path);

  const std::string& Project() const { return project_; }
  TsvTCPClient& Client() const { return client_; }

 private:
  struct Request {
    std::string path;
    std::size_t lineBytes;
    fs::TempFilesAhead::Ticket temp;
  };
  std::string RequestLine(const std::string& path) const;
  // Sends the request for `path` alone and records it.
  void AskAlone(const std::string& path);
  // Records a request sent, and takes the oldest one off as its answer is read.
  void Ask(std::string path, std::size_t lineBytes);
  void Answered();
  // Reads and drops the answers asked for while their contents fit in `budget` bytes;
  // false, and the channel left in the middle of an answer, when one does not.
  bool DropAnswers(std::uint64_t budget);

  TsvTCPClient& client_;
  std::string project_;
  std::string root_;
  bool pipelined_;
  Plan plan_;
  bool planning_ = true;       // the plan may yield more paths
  bool broken_ = false;        // the channel failed inside an exchange
  std::deque<Request> requested_;      // asked for and not yet read, oldest first
  std::size_t requestedBytes_ = 0;     // their request lines' bytes
  fs::TempFilesAhead temps_;           // goes first: no file made ahead outlives the run
};

// The pipeline of the task run under way, which FetchContent uses for its project;
// none when nullptr. Set by the synchronisation run around its tasks. Main thread.
void SetContentPipeline(TContentPipeline* pipeline);
TContentPipeline* ContentPipeline();

}  // namespace sv
