#include "sync/uServerCommands.h"

#include <atomic>
#include <cstdint>
#include <limits>

#include "base/Messages.h"

namespace sv {

namespace {

std::atomic<TsvTCPClient*> gServerChannel{nullptr};
std::atomic<TSyncObserver*> gContentObserver{nullptr};

// Reads a length line and checks it against the limit, before anything else is read.
std::int64_t ReadFrameLength(TsvTCPClient& client, std::int64_t limit) {
  return ParseFrameLength(client.ReadLine(), limit);
}

}  // namespace

bool OpenServerChannel(TsvTCPClient& client) {
  if (client.Connected()) throw Exception(msg::kAlreadyConnected);
  // No settings yet (no server address): fail quietly, before any network activity.
  if (client.Host.empty() || client.Port <= 0 || client.Port > 65535) throw Exception("");
  client.Connect();
  try {
    ExpectReply(client, kGreetingCode);
    SendCommand(client, kProtocolWords[pwHello], kHelloCode);
  } catch (...) {
    client.Disconnect();
    throw;
  }
  return true;
}

void CloseServerChannel(TsvTCPClient& client) { client.Disconnect(); }

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
  const std::uint64_t length =
      static_cast<std::uint64_t>(ReadFrameLength(client, std::numeric_limits<std::int64_t>::max()));
  if (announced) announced(length);
  TSyncObserver* observer = ContentObserver();
  if (!observer) {
    client.ReadExactly(length, sink);
    return;
  }
  observer->ContentStarted(length);
  std::uint64_t received = 0;
  client.ReadExactly(length, [&](const char* data, std::size_t size) {
    sink(data, size);
    observer->ContentReceived(received += size);
  });
}

void SetServerChannel(TsvTCPClient* client) { gServerChannel.store(client); }
TsvTCPClient* ServerChannel() { return gServerChannel.load(); }

void SetContentObserver(TSyncObserver* observer) { gContentObserver.store(observer); }
TSyncObserver* ContentObserver() { return gContentObserver.load(); }

}  // namespace sv
