#include "server/SyncServer.h"

#include <gtest/gtest.h>

#include <asio.hpp>

#include <chrono>
#include <filesystem>
#include <map>
#include <mutex>
#include <thread>

#include "Comparer/source/StructStreamer.h"
#include "base/Exception.h"
#include "base/Messages.h"
#include "platform/FileSystem.h"
#include "sync/TaskBuilder.h"
#include "sync/Tasks.h"
#include "sync/uServerCommands.h"
#include "tests/support/FailingNew.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestPlatform.h"

namespace sv {
namespace {

namespace stdfs = std::filesystem;
using test::TempDir;

// Every entry below a folder: relative path -> content ("/" for a folder) and time.
std::map<std::string, std::pair<std::string, std::int64_t>> Snapshot(const std::string& root) {
  std::map<std::string, std::pair<std::string, std::int64_t>> out;
  for (const auto& e : stdfs::recursive_directory_iterator(test::FsPath(root))) {
    const std::string rel = test::PathText(stdfs::relative(e.path(), test::FsPath(root)));
    const bool folder = e.is_directory();
    fs::DirEntry info;
    std::int64_t time = 0;
    fs::ForEachEntry(test::PathText(e.path().parent_path()), [&](const fs::DirEntry& d) {
      if (fs::NativePath(d.name) == test::PathText(e.path().filename())) time = d.mtime;
    });
    out[rel] = {folder ? "/" : test::ReadFile(test::PathText(e.path())), folder ? 0 : time - time % 2};
  }
  return out;
}

void Put(const std::string& path, const std::string& content, std::int64_t time) {
  test::MakeDirs(test::PathText(test::FsPath(path).parent_path()));
  test::WriteFile(path, content);
  ASSERT_TRUE(fs::SetFileTime(path, time));
}

class Loopback : public ::testing::Test {
 protected:
  void SetUp() override {
    RegisterFileCommands();
    test::MakeDirs(dir / "server");
    test::MakeDirs(dir / "client");
    server_ = std::make_unique<TSyncServer>(std::vector<TServedProject>{{"drumel", dir / "server"}});
    server_->SetSessionOptions({.offerPipelining = true, .logFiles = true});
    server_->SetLog([this](const std::string& line) {
      std::scoped_lock lock(mutex_);
      log_.push_back(line);
    });
  }

  void Start(std::chrono::milliseconds idle = std::chrono::seconds(120)) {
    server_->SetIdleTimeout(idle);
    server_->Listen("127.0.0.1", 0);
    runner_ = std::thread([this] { server_->Run(); });
  }

  void TearDown() override { StopAndJoin(); }

  void StopAndJoin() {
    server_->Stop();
    if (runner_.joinable()) runner_.join();
  }

  // One synchronisation of the client folder as the client runs it; returns the task count.
  int SyncOnce() {
    TsvTCPClient client;
    client.Host = "127.0.0.1";
    client.Port = server_->Port();
    OpenServerChannel(client);
    SetServerChannel(&client);
    TDirectory root;
    TLoader::ScanFolderTree(dir / "client", &root);
    SendCommand(client, "Sync drumel", kSyncCode);
    WriteFramedDocument(client, TLoader::BuildListing(root));
    std::string document;
    ReadFramedDocument(client, document);
    TTaskList tasks;
    tasks.LoadTasks(document);
    tasks.SetRootFolder(dir / "client");
    tasks.SetSource("Indy drumel");
    tasks.RunTasks(false);
    SetServerChannel(nullptr);
    CloseServerChannel(client);
    return tasks.TaskCount();
  }

  std::vector<std::string> Log() {
    std::scoped_lock lock(mutex_);
    return log_;
  }

  TempDir dir;
  std::unique_ptr<TSyncServer> server_;

 private:
  std::thread runner_;
  std::mutex mutex_;
  std::vector<std::string> log_;
};

TEST_F(Loopback, TheClientFolderBecomesAMirrorRunByRun) {
  Start();
  const std::string s = dir / "server";
  Put(s + "/docs/a.txt", "abc\r\n", 1226664308);
  Put(s + "/docs/empty.bin", "", 1226664310);
  test::MakeDirs(s + "/docs/nothing");
  // Windows allows no double quote in a name.
  Put(s + (test::OnWindows() ? "/name with 'quotes', commas.txt" : "/name with \"quotes\", commas.txt"), "q", 1226664312);
  Put(s + "/deep/a/b/c.txt", std::string(300000, 'd'), 1226664314);
  Put(dir / "client/stale.txt", "old", 1000000000);
  test::MakeDirs(dir / "client/stale/inner");

  EXPECT_EQ(SyncOnce(), 11);  // 2 deletions, 5 folders, 4 files
  EXPECT_EQ(Snapshot(dir / "client"), Snapshot(s));
  EXPECT_EQ(SyncOnce(), 0);

  Put(s + "/docs/a.txt", "changed", 1226664400);
  Put(s + "/new.txt", "added", 1226664402);
  stdfs::remove_all(s + "/deep");
  EXPECT_EQ(SyncOnce(), 3);
  EXPECT_EQ(Snapshot(dir / "client"), Snapshot(s));
  EXPECT_EQ(SyncOnce(), 0);
  const std::vector<std::string> log = Log();
  EXPECT_NE(std::find_if(log.begin(), log.end(),
                         [](const std::string& l) { return l.find("GetFile drumel \\deep\\a\\b\\c.txt -> 203, 300000 bytes") != std::string::npos; }),
            log.end());
}

// Reads one reply or frame length line, CR LF included.
std::string LineFrom(asio::ip::tcp::socket& socket) {
  std::string line;
  char c = 0;
  while (line.find('\n') == std::string::npos && socket.read_some(asio::buffer(&c, 1)) == 1) line += c;
  return line;
}

// Connects to the server from `from` (a loopback address) and reads its greeting; null
// when the system cannot send from that address.
std::unique_ptr<asio::ip::tcp::socket> Greeted(asio::io_context& io, int port, const char* from = "127.0.0.1") {
  auto socket = std::make_unique<asio::ip::tcp::socket>(io);
  asio::error_code ec;
  socket->open(asio::ip::tcp::v4());
  socket->bind({asio::ip::make_address(from), 0}, ec);
  if (ec) return nullptr;
  socket->connect({asio::ip::make_address("127.0.0.1"), static_cast<unsigned short>(port)});
  EXPECT_EQ(LineFrom(*socket), "200 sorvana-server ready +pipelining\r\n");
  return socket;
}

TEST_F(Loopback, IdleClientsAreCut) {
  Start(std::chrono::milliseconds(200));
  asio::io_context io;
  auto idle = Greeted(io, server_->Port());
  char buffer[64];
  asio::error_code ec;
  idle->read_some(asio::buffer(buffer), ec);  // returns once the server cuts the idle client
  EXPECT_TRUE(ec == asio::error::eof || ec == asio::error::connection_reset) << ec.message();
  StopAndJoin();
  const std::vector<std::string> log = Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("connection ended: Idle time-out."), std::string::npos);
}

TEST_F(Loopback, StopEndsConnectedClients) {
  Start();
  asio::io_context io;
  auto silent = Greeted(io, server_->Port());
  StopAndJoin();  // comes back although the client stays silent
  const std::vector<std::string> log = Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("connection ended: Connection cancelled."), std::string::npos);
}

std::string LocalName(const asio::ip::tcp::socket& socket) {
  const auto e = socket.local_endpoint();
  return e.address().to_string() + ':' + std::to_string(e.port());
}

// Connections that send nothing lock no one out: when the server, or one address, has
// its most connections, the one idle longest makes room for the newcomer.
TEST_F(Loopback, IdleConnectionsMakeRoomForANewClient) {
  struct Case {
    const char* what;
    std::vector<const char*> from;  // each opens kMaxClientsPerAddress idle connections
  };
  for (const Case& c : {Case{"server full", {"127.0.0.2", "127.0.0.3", "127.0.0.4", "127.0.0.5"}},
                        Case{"address full", {"127.0.0.1"}}}) {
    SetUp();
    Start(std::chrono::seconds(20));  // bounds the waits below should the server not close
    asio::io_context io;
    std::vector<std::unique_ptr<asio::ip::tcp::socket>> idle;
    for (const char* from : c.from) {
      for (int i = 0; i < TSyncServer::kMaxClientsPerAddress; ++i) {
        idle.push_back(Greeted(io, server_->Port(), from));
        if (!idle.back()) GTEST_SKIP() << "cannot send from " << from;
      }
    }
    EXPECT_EQ(SyncOnce(), 0) << c.what;  // from 127.0.0.1
    // Which of them has been idle longest depends on when their threads sent the
    // greetings: exactly one is closed, and the log names it.
    std::vector<std::string> closed;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (closed.empty() && std::chrono::steady_clock::now() < until) {
      for (auto& socket : idle) {
        char buffer[64];
        asio::error_code ec;
        socket->non_blocking(true);
        socket->read_some(asio::buffer(buffer), ec);
        if (ec == asio::error::eof || ec == asio::error::connection_reset)
          closed.push_back(LocalName(*socket) + " connection ended: Closed to make room for another client.");
      }
      if (closed.empty()) std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ASSERT_EQ(closed.size(), 1u) << c.what;
    StopAndJoin();
    const std::vector<std::string> log = Log();
    EXPECT_NE(std::find(log.begin(), log.end(), closed[0]), log.end()) << c.what;
    TearDown();
  }
}

TEST_F(Loopback, ASyncExchangeEndsAtItsDeadline) {
  server_->SetSyncDeadline(std::chrono::milliseconds(300));
  Start(std::chrono::seconds(20));
  asio::io_context io;
  auto slow = Greeted(io, server_->Port());
  asio::write(*slow, asio::buffer(std::string("Sync drumel\r\n100\r\n")));  // and not the listing
  EXPECT_EQ(LineFrom(*slow), "202 send listing\r\n");
  char buffer[64];
  asio::error_code ec;
  slow->read_some(asio::buffer(buffer), ec);
  EXPECT_TRUE(ec == asio::error::eof || ec == asio::error::connection_reset) << ec.message();
  StopAndJoin();
  const std::vector<std::string> log = Log();
  ASSERT_EQ(log.size(), 1u);
  EXPECT_NE(log[0].find("connection ended: Sync took too long."), std::string::npos) << log[0];
}

// The listings of all clients together stay within the listing memory: one over what is
// left is refused, the session goes on, and the memory is free again once the listing
// holding it has been answered.
TEST_F(Loopback, ListingsBeyondTheListingMemoryAreRefused) {
  const std::string listing = TLoader::BuildListing(TDirectory());
  server_->SetListingMemory(kListingCost * (listing.size() * 3 / 2));
  Start();
  asio::io_context io;
  auto holder = Greeted(io, server_->Port());
  auto other = Greeted(io, server_->Port());
  const std::string length = std::to_string(listing.size()) + "\r\n";
  asio::write(*holder, asio::buffer("Sync drumel\r\n" + length));  // holds its share while it sends
  EXPECT_EQ(LineFrom(*holder), "202 send listing\r\n");
  const auto sync = [&](const std::string& sent) {
    asio::write(*other, asio::buffer("Sync drumel\r\n" + std::to_string(sent.size()) + "\r\n" + sent));
    EXPECT_EQ(LineFrom(*other), "202 send listing\r\n");
    return LineFrom(*other);
  };
  EXPECT_EQ(sync(listing), "452 Server busy with other listings; try again later\r\n");
  EXPECT_EQ(sync(listing + listing),
            "552 Listing too large for this server: " + std::to_string(2 * listing.size()) + " bytes, at most " +
                std::to_string(listing.size() * 3 / 2) + "\r\n");
  asio::write(*holder, asio::buffer(listing));
  EXPECT_EQ(LineFrom(*holder), "0\r\n");  // the empty task list
  EXPECT_EQ(sync(listing), "0\r\n");
}

TEST_F(Loopback, AClientThatExhaustsTheMemoryEndsAloneAndTheServerGoesOn) {
  Start();
  Put(dir / "server/a.txt", "a", 1226664308);
  const std::string listing(8 << 20, ' ');
  asio::io_context io;
  auto greedy = Greeted(io, server_->Port());
  {
    test::FailLargeAllocations fail(4 << 20);  // the listing's buffer cannot grow past this
    asio::write(*greedy, asio::buffer(std::string("Sync drumel\r\n")));
    char buffer[64];
    EXPECT_EQ(std::string(buffer, greedy->read_some(asio::buffer(buffer))), "202 send listing\r\n");
    asio::error_code ec;
    asio::write(*greedy, asio::buffer(std::to_string(listing.size()) + "\r\n"), ec);
    asio::write(*greedy, asio::buffer(listing), ec);  // fails once the server has closed
    while (!ec) greedy->read_some(asio::buffer(buffer), ec);
    EXPECT_EQ(SyncOnce(), 1);  // another client meanwhile
  }
  const std::vector<std::string> log = Log();
  EXPECT_NE(std::find_if(log.begin(), log.end(),
                         [](const std::string& l) { return l.find("connection ended: " + msg::kOutOfMemory) != std::string::npos; }),
            log.end());
}

TEST_F(Loopback, AnAddressInUseIsReported) {
  Start();
  TSyncServer second({});
  try {
    second.Listen("127.0.0.1", server_->Port());
    FAIL();
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), "Could not bind socket. Address and port are already in use.");
  }
}

}  // namespace
}  // namespace sv
