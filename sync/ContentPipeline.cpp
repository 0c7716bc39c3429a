#include "sync/ContentPipeline.h"

#include <atomic>
#include <limits>
#include <memory>

#include "base/Exception.h"
#include "sync/Reply.h"
#include "sync/TaskPath.h"
#include "sync/uServerCommands.h"

namespace sv {

namespace {

std::atomic<TContentPipeline*> gPipeline{nullptr};

// Takes bytes and keeps none of them.
class Discard : public TByteTarget {
 public:
  char* Room(std::size_t, std::size_t& size) override {
    if (!bytes_) bytes_ = std::make_unique_for_overwrite<char[]>(TLineReader::kChunkSize);
    size = TLineReader::kChunkSize;
    return bytes_.get();
  }
  void Placed(std::size_t) override {}

 private:
  std::unique_ptr<char[]> bytes_;
};

// Where the temporary file of a file asked for ahead may be made now: in the folder its
// task's own path check leads to, and only when no link is on the way, since an earlier
// task can still make such a link lead elsewhere (a folder made where a dangling one
// points). Empty when it is not made ahead.
std::string AheadTarget(const std::string& root, const std::string& path) {
  bool throughLink = false;
  try {
    const std::string local = MatchLocalNames(root, path, &throughLink);
    return throughLink ? std::string() : root + local;
  } catch (const Exception&) {  // refused: its task fails before anything is written
    return {};
  }
}

}  // namespace

TContentPipeline::TContentPipeline(TsvTCPClient& client, std::string project, std::string root, bool pipelined,
                                   Plan plan)
    : client_(client),
      project_(std::move(project)),
      root_(std::move(root)),
      pipelined_(pipelined),
      plan_(std::move(plan)) {}

std::string TContentPipeline::RequestLine(const std::string& path) const {
  // The project name and the path go unquoted, exactly as the server expects them.
  return std::string(kProtocolWords[pwGetFile]) + ' ' + project_ + ' ' + path;
}

void TContentPipeline::SendAhead() {
  // Requests go out in batches of half the window: one write for many.
  if (!pipelined_ || broken_ || !planning_ || requested_.size() > kWindow / 2) return;
  std::string lines;
  std::vector<std::string> ahead;      // where files are made ahead
  std::vector<std::size_t> aheadFor;   // for which requests, by their place in requested_
  while (requested_.size() < kWindow && (requested_.empty() || requestedBytes_ < kMaxAheadBytes)) {
    std::optional<Planned> planned = plan_();
    if (!planned) {
      planning_ = false;
      break;
    }
    const std::size_t before = lines.size();
    lines.append(RequestLine(planned->path)).append("\r\n");
    if (planned->makeAhead) {
      std::string target = AheadTarget(root_, planned->local);
      if (!target.empty()) {
        ahead.push_back(std::move(target));
        aheadFor.push_back(requested_.size());
      }
    }
    Ask(std::move(planned->path), lines.size() - before);
  }
  const std::vector<fs::TempFilesAhead::Ticket> tickets = temps_.Prepare(ahead);
  for (std::size_t i = 0; i < tickets.size(); ++i) requested_[aheadFor[i]].temp = tickets[i];
  if (lines.empty()) return;
  try {
    client_.Write(lines);
  } catch (...) {
    broken_ = true;
    throw;
  }
}

void TContentPipeline::AskNow(const std::string& path) {
  if (!pipelined_ && !broken_ && requested_.empty()) AskAlone(path);
}

void TContentPipeline::AskAlone(const std::string& path) {
  const std::string line = RequestLine(path);
  try {
    client_.WriteLine(line);
  } catch (...) {
    broken_ = true;
    throw;
  }
  Ask(path, line.size() + 2);
}

void TContentPipeline::Fetch(const std::string& path, TByteTarget& target,
                             const std::function<void(std::uint64_t)>& announced) {
  if (requested_.empty()) SendAhead();
  if (requested_.empty() || requested_.front().path != path) {
    // One at a time, or not what the plan expected: the answers asked for are dropped
    // (from here on each content is fetched when its task asks), and the request goes
    // out now, for the task under way alone.
    if (!requested_.empty()) {
      DropAnswers(std::numeric_limits<std::uint64_t>::max());
      planning_ = false;
    }
    AskAlone(path);
  }
  Answered();
  try {
    ExpectReply(client_, kGetFileCode);
  } catch (const EReplyError&) {
    throw;  // the whole reply was read: the channel is in step
  } catch (...) {
    broken_ = true;
    throw;
  }
  try {
    ReadFramedDocument(client_, target, announced);
  } catch (...) {
    broken_ = true;
    throw;
  }
  SendAhead();
}

fs::TempFilesAhead::Ticket TContentPipeline::TempFileFor(const std::string& path) {
  if (requested_.empty() || requested_.front().path != path) return {};
  return requested_.front().temp;
}

bool TContentPipeline::DropAnswers(std::uint64_t budget) {
  temps_.Clear();
  Discard discard;
  while (!requested_.empty()) {
    Answered();
    try {
      // Read as content is, but told to nobody: no progress counts a dropped file.
      const TReply reply = ReadReply([this] { return client_.ReadLine(); });
      if (reply.numericCode != kGetFileCode) continue;
      const std::int64_t length = ParseFrameLength(client_.ReadLine(), std::numeric_limits<std::int64_t>::max());
      if (static_cast<std::uint64_t>(length) > budget) {
        broken_ = true;  // left in the middle of an answer
        return false;
      }
      budget -= static_cast<std::uint64_t>(length);
      client_.ReadExactly(static_cast<std::uint64_t>(length), discard);
    } catch (...) {
      broken_ = true;
      throw;
    }
  }
  return true;
}

void TContentPipeline::Ask(std::string path, std::size_t lineBytes) {
  requested_.push_back({std::move(path), lineBytes, {}});
  requestedBytes_ += lineBytes;
}

void TContentPipeline::Answered() {
  requestedBytes_ -= requested_.front().lineBytes;
  requested_.pop_front();
}

void TContentPipeline::Drain() noexcept {
  planning_ = false;
  temps_.Clear();
  try {
    if (!broken_ && DropAnswers(kMaxDrainBytes)) return;
  } catch (...) {  // the channel failed: the caller is ending with a failure of its own
  }
  client_.Disconnect();
}

void SetContentPipeline(TContentPipeline* pipeline) { gPipeline.store(pipeline); }
TContentPipeline* ContentPipeline() { return gPipeline.load(); }

}  // namespace sv
