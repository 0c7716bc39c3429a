#include "sync/uServerCommands.h"

#include <atomic>
#include <cstdint>
#include <limits>
#include <memory>

#include "base/Messages.h"

namespace sv {

namespace {

std::atomic<TsvTCPClient*> gServerChannel{nullptr};
std::atomic<TSyncObserver*> gContentObserver{nullptr};

// Reads a length line and checks it against the limit, before anything else is read.
std::int64_t ReadFrameLength(TsvTCPClient& client, std::int64_t limit) {
  return ParseFrameLength(client.ReadLine(), limit);
}

// Hands what is placed in its room on to a sink.
class SinkTarget : public TByteTarget {
 public:
  explicit SinkTarget(const ByteSink& sink) : sink_(sink) {}
  char* Room(std::size_t, std::size_t& size) override {
    if (!room_) room_ = std::make_unique_for_overwrite<char[]>(TLineReader::kChunkSize);
    size = TLineReader::kChunkSize;
    return room_.get();
  }
  void Placed(std::size_t n) override { sink_(room_.get(), n); }

 private:
  const ByteSink& sink_;
  std::unique_ptr<char[]> room_;
};

// Tells the observer of every piece placed.
class CountingTarget : public TByteTarget {
 public:
  CountingTarget(TByteTarget& target, TSyncObserver& observer) : target_(target), observer_(observer) {}
  char* Room(std::size_t minimum, std::size_t& size) override { return target_.Room(minimum, size); }
  void Placed(std::size_t n) override {
    target_.Placed(n);
    observer_.ContentReceived(received_ += n);
  }

 private:
  TByteTarget& target_;
  TSyncObserver& observer_;
  std::uint64_t received_ = 0;
};

}  // namespace

bool OpenServerChannel(TsvTCPClient& client) {
  if (client.Connected()) throw Exception(msg::kAlreadyConnected);
  // No settings yet (no server address): fail quietly, before any network activity.
  if (client.Host.empty() || client.Port <= 0 || client.Port > 65535) throw Exception("");
  client.Connect();
  try {
    const TReply greeting = ReadReply([&client] { return client.ReadLine(); });
    CheckReply(greeting, kGreetingCode);
    client.PipeliningOffered = OffersPipelining(greeting);
    SendCommand(client, kProtocolWords[pwHello], kHelloCode);
  } catch (...) {
    client.Disconnect();
    throw;
  }
  return true;
}

void CloseServerChannel(TsvTCPClient& client) { client.Disconnect(); }

bool OffersPipelining(const TReply& greeting) {
  for (const std::string& line : greeting.text) {
    for (std::size_t at = line.find(kPipeliningToken); at != std::string::npos;
         at = line.find(kPipeliningToken, at + 1)) {
      const std::size_t after = at + kPipeliningToken.size();
      if ((at == 0 || line[at - 1] == ' ') && (after == line.size() || line[after] == ' ')) return true;
    }
  }
  return false;
}

int SendCommand(TsvTCPClient& client, std::string_view line, int expected) {
  client.WriteLine(line);
  return ExpectReply(client, expected);
}

int ExpectReply(TsvTCPClient& client, int expected) {
  return CheckReply(ReadReply([&client] { return client.ReadLine(); }), expected);
}

void WriteFramedDocument(TsvTCPClient& client, std::string_view bytes) {
  client.WriteLine(std::to_string(bytes.size()));
  client.Write(bytes);
}

void ReadFramedDocument(TsvTCPClient& client, std::string& out) {
  const std::int64_t length = ReadFrameLength(client, kMaxDocumentLength);
  client.ReadExactly(static_cast<std::uint64_t>(length),
                     [&out](const char* data, std::size_t size) { out.append(data, size); });
}

void ReadFramedDocument(TsvTCPClient& client, const ByteSink& sink,
                        const std::function<void(std::uint64_t)>& announced) {
  SinkTarget target(sink);
  ReadFramedDocument(client, target, announced);
}

void ReadFramedDocument(TsvTCPClient& client, TByteTarget& target,
                        const std::function<void(std::uint64_t)>& announced) {
  const std::uint64_t length =
      static_cast<std::uint64_t>(ReadFrameLength(client, std::numeric_limits<std::int64_t>::max()));
  if (announced) announced(length);
  TSyncObserver* observer = ContentObserver();
  if (!observer) {
    client.ReadExactly(length, target);
    return;
  }
  observer->ContentStarted(length);
  CountingTarget counting(target, *observer);
  client.ReadExactly(length, counting);
}

void SetServerChannel(TsvTCPClient* client) { gServerChannel.store(client); }
TsvTCPClient* ServerChannel() { return gServerChannel.load(); }

void SetContentObserver(TSyncObserver* observer) { gContentObserver.store(observer); }
TSyncObserver* ContentObserver() { return gContentObserver.load(); }

}  // namespace sv
