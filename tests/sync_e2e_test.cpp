// Synchronisation with the real programs on loopback: sorvana-client, started from a
// folder of its own, against sorvana-server or a scripted peer, with a proxy between
// them that records what the client says and can cut the server's stream short.
// Synchronisations are asked for through the client's console, and their outcome is
// read from its event log page (Windows-1250, as the program writes it).
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/Loopback.h"
#include "tests/support/Programs.h"
#include "tests/support/TempDir.h"

namespace sv::test {
namespace {

const std::string kStarted = "Pokrenuto sinkroniziranje projekta ";
const std::string kNothingToDo = "Nije potrebna sinkronizacija za projekt ";

std::string Done(const std::string& project, std::size_t changes) {
  return "Sinkronizacija projekta " + project + " zavr\x9a" "ena, " + std::to_string(changes) + " izmjena";
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

// A server folder per project, the real server behind a proxy, and the client, whose
// first synchronisation runs at its start.
class SyncEndToEnd : public ::testing::Test {
 protected:
  void StartAll(const std::vector<std::string>& names, std::vector<std::string> serverOptions = {}) {
    rig_ = std::make_unique<Rig>(dir_.path(), names, 60, true);
    rig_->Server().SetOptions(std::move(serverOptions));
    rig_->StartServer();
    rig_->StartClient();
  }
  std::string ServerRoot(const std::string& name) { return dir_ / ("server/" + name); }
  std::string ClientRoot(const std::string& name) { return dir_ / ("client/" + name); }
  ClientProgram& Client() { return rig_->Client(); }
  TcpProxy& Proxy() { return rig_->Proxy(); }

  TempDir dir_;
  std::unique_ptr<Rig> rig_;
};

// From an empty client folder to a mirror with the server's times, then a run with
// nothing to do, then a change, an addition and a deletion on the server; with a server
// that offers pipelining and with one that answers one request at a time.
class MirrorEndToEnd : public SyncEndToEnd, public ::testing::WithParamInterface<bool> {};
INSTANTIATE_TEST_SUITE_P(Pipelining, MirrorEndToEnd, ::testing::Bool());

TEST_P(MirrorEndToEnd, MirrorsTheServerFolderRunByRun) {
  const std::string server = ServerRoot("drumel");
  std::int64_t time = 1600000001;  // odd seconds: the client keeps the even second below
  Put(server, "docs/a.txt", "abc\r\n", time += 1001);
  MakeDirs(server + "/docs/prazno");
  Put(server, "plan s razmakom.txt", "blanks in the name", time += 1001);
  Put(server, "\xc4\x8dvrsti klju\xc4\x8d.txt", "national letters", time += 1001);
  if (!WindowsPrograms()) Put(server, "navod\"ni.txt", "a double quote in the name", time += 1001);  // no Windows name
  Put(server, "a,b.txt", "a comma in the name", time += 1001);
  Put(server, ".skriveno", "hidden", time += 1001);
  Put(server, "prazno.bin", "", time += 1001);
  Put(server, "big/large.bin", RandomBytes(3 << 20, 1), time += 1001);
  Put(server, "deep/a/b/c/d.txt", "deep", time += 1001);
  ASSERT_NO_FATAL_FAILURE(StartAll({"drumel"}, GetParam() ? std::vector<std::string>{} : std::vector<std::string>{"--no-pipelining"}));

  // One task for every folder and file of the server.
  EXPECT_EQ(Client().AwaitSyncEntries(),
            (std::vector<std::string>{kStarted + "drumel", Done("drumel", Snapshot(server).size())}));
  EXPECT_EQ(rig_->Mirrored("drumel"), "");

  EXPECT_EQ(Client().SynchroniseThrough(Proxy()),
            (std::vector<std::string>{kStarted + "drumel", kNothingToDo + "drumel"}));

  Put(server, "docs/a.txt", "changed content", time += 1001);
  Put(server, "novo/dodano.txt", "added", time += 1001);
  std::filesystem::remove(server + "/prazno.bin");
  std::filesystem::remove_all(server + "/deep");
  // update_file, insert_dir, insert_file, delete_file and one delete_dir for the subtree.
  EXPECT_EQ(Client().SynchroniseThrough(Proxy()),
            (std::vector<std::string>{kStarted + "drumel", Done("drumel", 5)}));
  EXPECT_EQ(rig_->Mirrored("drumel"), "");
}

TEST_F(SyncEndToEnd, TwoProjectsShareOneConnectionWithOneHello) {
  Put(ServerRoot("alpha"), "a.txt", "alpha", 1600000000);
  Put(ServerRoot("beta"), "b.txt", "beta", 1600000000);
  ASSERT_NO_FATAL_FAILURE(StartAll({"alpha", "beta"}));

  EXPECT_EQ(Client().AwaitSyncEntries(),
            (std::vector<std::string>{kStarted + "alpha", Done("alpha", 1), kStarted + "beta", Done("beta", 1)}));
  EXPECT_EQ(Proxy().Accepted(), 1);
  const std::string said = Proxy().Upstream(0);
  EXPECT_EQ(Count(said, "Hello\r\n"), 1u) << said;
  EXPECT_EQ(said.rfind("Hello\r\nSync alpha\r\n", 0), 0u) << said;
  EXPECT_LT(said.find("GetFile alpha \\a.txt\r\n"), said.find("Sync beta\r\n")) << said;
  EXPECT_NE(said.find("GetFile beta \\b.txt\r\n"), std::string::npos) << said;
  EXPECT_EQ(rig_->Mirrored("alpha"), "");
  EXPECT_EQ(rig_->Mirrored("beta"), "");
}

// The server's stream ends while the new content of a file is on its way: the local
// file keeps its old content, no temporary file is left, and the next run succeeds.
TEST_F(SyncEndToEnd, AConnectionDroppedInTheMiddleOfAFileLeavesTheOldFile) {
  const std::string server = ServerRoot("drumel");
  Put(server, "keep.bin", RandomBytes(1 << 20, 2), 1600000000);
  ASSERT_NO_FATAL_FAILURE(StartAll({"drumel"}));
  ASSERT_EQ(rig_->Mirrored("drumel"), "");
  const Tree before = Snapshot(ClientRoot("drumel"));

  Put(server, "keep.bin", RandomBytes(4 << 20, 3), 1600001000);
  Proxy().SetDownstream({.cutAfter = 2 << 20});
  EXPECT_EQ(Client().SynchroniseThrough(Proxy()),
            (std::vector<std::string>{kStarted + "drumel", "Connection Closed Gracefully."}));
  EXPECT_EQ(TreeDifference(before, Snapshot(ClientRoot("drumel")), true), "");

  Proxy().SetDownstream({});
  EXPECT_EQ(Client().SynchroniseThrough(Proxy()),
            (std::vector<std::string>{kStarted + "drumel", Done("drumel", 1)}));
  EXPECT_EQ(rig_->Mirrored("drumel"), "");
}

// A peer that sends task paths leading out of the project folder: each task fails with
// the path named, no content is asked for, and nothing outside (nor inside) the project
// folder changes. A 0x00 byte in a path cuts it where the system would: insert_dir of
// the root that is left does nothing. A sound path afterwards shows that the peer's
// tasks do arrive.
TEST(HostilePeer, TaskPathsNeverLeaveTheProjectFolder) {
  TempDir dir;
  const std::vector<std::string> env = HomeEnvironment(dir / "home");
  const std::string root = dir / "client/drumel";
  Put(dir / "client", "drumel/keep.txt", "keep", 1600000000);
  Put(dir / "client", "x", "sentinel beside the project folder", 1600000000);
  Put(dir / "client", "drumelx", "sentinel that shares the folder's name", 1600000000);
  Put(dir.path(), "outside/x", "sentinel elsewhere", 1600000000);

  const std::vector<std::string> paths = {"\\..\\x", dir / "outside/x", "C:\\x", "x", "\\a\\..\\..\\x",
                                         std::string("\\..\0x", 5), std::string("\\\0x", 3)};
  const std::vector<std::string> commands = {"insert_dir", "insert_file", "update_file", "delete_file", "delete_dir"};
  std::vector<std::string> taskLists{""};  // the run at start has nothing to do
  for (const std::string& path : paths) {
    for (const std::string& command : commands) {
      bool file = command.find("file") != std::string::npos;
      std::string param = file ? "&quot;" + path + "&quot;,&quot;2020-01-01 10-00-00&quot;" : path;
      taskLists.push_back("<xml>\r\n<task>" + command + "<param>" + param + "</param></task>\r\n</xml>");
    }
  }
  taskLists.push_back("<xml>\r\n<task>insert_file<param>\\ok.txt</param></task>\r\n</xml>");

  std::vector<std::string> received;
  const int port = PickPorts().client;
  ScriptedServer peer(port, [&](int connection, PeerLink& link) {
    std::string tasks = connection < static_cast<int>(taskLists.size()) ? taskLists[connection] : "";
    ServeSynchronisation(link, {{"drumel", tasks}}, {{"\\ok.txt", "fine"}}, &received);
  });
  ClientProgram client(dir / "client", port, 60, {{"drumel", root}}, env);
  client.Start();
  ASSERT_TRUE(peer.WaitFinished(1, kProgramLimit));
  ASSERT_EQ(client.AwaitSyncEntries(), (std::vector<std::string>{kStarted + "drumel", kNothingToDo + "drumel"}));
  const Tree before = Snapshot(dir.path());

  for (const std::string& path : paths) {
    for (const std::string& command : commands) {
      SCOPED_TRACE(command + " " + path);
      const std::string seen = path.substr(0, path.find('\0'));
      const std::string outcome =
          command == "insert_dir" && seen == "\\" ? Done("drumel", 1) : "Nedozvoljena putanja '" + ProgramPath(root) + seen + "'";
      EXPECT_EQ(client.SynchroniseThrough(peer), (std::vector<std::string>{kStarted + "drumel", outcome}));
    }
  }
  EXPECT_EQ(TreeDifference(before, Snapshot(dir.path()), false), "");
  for (const std::string& line : received) EXPECT_EQ(line.find("GetFile"), std::string::npos) << line;

  EXPECT_EQ(client.SynchroniseThrough(peer), (std::vector<std::string>{kStarted + "drumel", Done("drumel", 1)}));
  EXPECT_EQ(ReadFile(root + "/ok.txt"), "fine");
}

// What a peer is asked for, request line by request line, with and without pipelining.
// No request goes out for a task whose own checks fail (update_file of a missing file);
// one at a time, none for a task after a failing one either. A server is asked for a
// path as it spelt it, while the local file takes the tidied form.
TEST(HostilePeer, IsAskedOnlyForFilesOfTasksThatRunAndByItsOwnSpelling) {
  TempDir dir;
  const std::vector<std::string> env = HomeEnvironment(dir / "home");
  const std::string root = dir / "client/drumel";
  Put(root, "keep.txt", "keep", 1600000000);
  const auto cannotDelete = [&root](const std::string& name) {
    return "Brisanje '" + ProgramPath(root) + "\\" + name + "' nije mogu\xE6" "e";
  };
  struct Case {
    bool pipelining;
    std::string tasks;
    std::vector<std::string> requests;  // what follows "Hello" and "Sync drumel"
    std::string outcome;
  };
  const std::string missingUpdate = "<task>update_file<param>\\missing.txt</param></task>"
                                    "<task>insert_file<param>\\y.txt</param></task>";
  const std::string failedDelete = "<task>delete_file<param>\\gone.txt</param></task>"
                                   "<task>insert_file<param>\\x.txt</param></task>";
  const std::string spelt = "<task>insert_dir<param>\\a</param></task>"
                            "<task>insert_file<param>\\a/.\\\\b.txt</param></task>";
  const std::vector<Case> cases = {
      {false, missingUpdate, {}, cannotDelete("missing.txt")},
      {true, missingUpdate, {}, cannotDelete("missing.txt")},
      {false, failedDelete, {}, cannotDelete("gone.txt")},
      // A server that offers pipelining has opted in to requests ahead.
      {true, failedDelete, {"GetFile drumel \\x.txt"}, cannotDelete("gone.txt")},
      {false, spelt, {"GetFile drumel \\a/.\\\\b.txt"}, Done("drumel", 2)},
      {true, spelt, {"GetFile drumel \\a/.\\\\b.txt"}, Done("drumel", 2)},
  };
  const std::map<std::string, std::string> files = {
      {"\\x.txt", "x"}, {"\\y.txt", "y"}, {"\\a/.\\\\b.txt", "spelt"}};

  std::vector<std::string> received;
  const int port = PickPorts().client;
  ScriptedServer peer(port, [&](int connection, PeerLink& link) {
    // The run at start has nothing to do.
    const Case* k = connection == 0 ? nullptr : &cases.at(connection - 1);
    ServeSynchronisation(link, {{"drumel", k ? "<xml>" + k->tasks + "</xml>" : ""}}, files, &received,
                         k && k->pipelining ? "200 scripted peer +pipelining" : "200 scripted peer");
  });
  ClientProgram client(dir / "client", port, 60, {{"drumel", root}}, env);
  client.Start();
  ASSERT_TRUE(peer.WaitFinished(1, kProgramLimit));
  ASSERT_EQ(client.AwaitSyncEntries(), (std::vector<std::string>{kStarted + "drumel", kNothingToDo + "drumel"}));

  for (const Case& k : cases) {
    SCOPED_TRACE(k.tasks + (k.pipelining ? " with pipelining" : " one at a time"));
    received.clear();
    EXPECT_EQ(client.SynchroniseThrough(peer), (std::vector<std::string>{kStarted + "drumel", k.outcome}));
    std::vector<std::string> expected = {"Hello", "Sync drumel"};
    expected.insert(expected.end(), k.requests.begin(), k.requests.end());
    EXPECT_EQ(received, expected);
  }
  EXPECT_EQ(ReadFile(root + "/a/b.txt"), "spelt");
  EXPECT_FALSE(std::filesystem::exists(root + "/x.txt"));
  EXPECT_FALSE(std::filesystem::exists(root + "/y.txt"));
}

// A peer that asks for a file to be replaced (update_file) and ends the connection
// after a part of the new content: the local file keeps its old content, no temporary
// file stays, and the replacement succeeds once the peer sends the whole content.
TEST(ScriptedPeer, AnUpdateCutShortLeavesTheOldFile) {
  TempDir dir;
  const std::vector<std::string> env = HomeEnvironment(dir / "home");
  const std::string root = dir / "client/drumel";
  Put(root, "keep.txt", "the old content", 1600000000);
  const Tree before = Snapshot(root);
  const std::string update = "<xml>\r\n<task>update_file<param>\\keep.txt,&quot;2020-01-01 10-00-00&quot;</param></task>\r\n</xml>";
  const std::string content(100000, 'n');

  const int port = PickPorts().client;
  ScriptedServer peer(port, [&](int connection, PeerLink& link) {
    if (connection != 1) {
      // The run at start has nothing to do; later runs get the whole content.
      ServeSynchronisation(link, {{"drumel", connection == 0 ? "" : update}}, {{"\\keep.txt", content}});
      return;
    }
    link.WriteLine("200 scripted peer");
    link.ReadLine();
    link.WriteLine("201 welcome");
    link.ReadLine();
    link.WriteLine("202 send listing");
    link.ReadFrame();
    link.WriteFrame(update);
    link.ReadLine();
    link.Write("203 file follows\r\n" + std::to_string(content.size()) + "\r\n" + content.substr(0, 4000));
  });
  ClientProgram client(dir / "client", port, 60, {{"drumel", root}}, env);
  client.Start();
  ASSERT_TRUE(peer.WaitFinished(1, kProgramLimit));

  EXPECT_EQ(client.SynchroniseThrough(peer),
            (std::vector<std::string>{kStarted + "drumel", "Connection Closed Gracefully."}));
  EXPECT_EQ(TreeDifference(before, Snapshot(root), true), "");

  EXPECT_EQ(client.SynchroniseThrough(peer), (std::vector<std::string>{kStarted + "drumel", Done("drumel", 1)}));
  EXPECT_EQ(ReadFile(root + "/keep.txt"), content);
}

}  // namespace
}  // namespace sv::test
