// Links that users make inside project folders, with the real programs: the client never
// lists a link back above itself and deletes links rather than what they point to; the
// reference server lists and serves nothing that a link places outside its folder. The
// folders the links point to are temporary folders of the test.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/Loopback.h"
#include "tests/support/Programs.h"
#include "tests/support/TempDir.h"

namespace sv::test {
namespace {

namespace stdfs = std::filesystem;

const std::string kStarted = "Pokrenuto sinkroniziranje projekta drumel";

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : stdfs::directory_iterator(folder)) names.push_back(e.path().filename());
  std::sort(names.begin(), names.end());
  return names;
}

// In the client's project: `up` leads to the folder above the project, `gone` to a
// folder the server does not have, `kept` to one it has. The link back up is left out
// of the listing (noted once); `gone` goes to the trash as a link; below `kept` files
// are written and deleted in the folder it points to. Under Wine the system deletes
// what a POSIX link leads to, never the link, so the Windows program leaves `gone` be
// and asks to delete it again at the next synchronisation: what it leads to stays.
TEST(UserLinks, TheClientListsNoLinkBackUpAndDeletesLinksThemselves) {
  const bool linksStay = WindowsPrograms();
  TempDir dir;
  Rig rig(dir.path(), {"drumel"}, 60, true);
  const std::string root = rig.ClientRoot("drumel");
  Put(rig.ServerRoot("drumel"), "a.txt", "a", 1600000000);
  Put(rig.ServerRoot("drumel"), "kept/new.txt", "new", 1600000000);
  Put(dir / "outside-a", "keep.txt", "keep", 1600000000);
  Put(dir / "outside-b", "old.txt", "old", 1600000000);
  MakeDirs(root);
  stdfs::create_directory_symlink("..", root + "/up");
  stdfs::create_directory_symlink(dir / "outside-a", root + "/gone");
  stdfs::create_directory_symlink(dir / "outside-b", root + "/kept");
  const std::vector<std::string> beside = Names(dir / "client");

  rig.StartServer();
  rig.StartClient();
  // delete_dir \gone, insert_file \a.txt, delete_file \kept\old.txt, insert_file \kept\new.txt
  EXPECT_EQ(rig.Client().AwaitSyncEntries(),
            (std::vector<std::string>{kStarted,
                                      "Poveznica '\\up' vodi na direktorij iznad sebe, izostavljena je iz popisa",
                                      "Sinkronizacija projekta drumel zavr\x9a" "ena, 4 izmjena"}));
  EXPECT_EQ(Names(root), linksStay ? (std::vector<std::string>{"a.txt", "gone", "kept", "up"})
                                    : (std::vector<std::string>{"a.txt", "kept", "up"}));
  EXPECT_TRUE(stdfs::is_symlink(root + "/up") && stdfs::is_symlink(root + "/kept"));
  EXPECT_EQ(Names(dir / "outside-a"), std::vector<std::string>{"keep.txt"});
  EXPECT_EQ(Names(dir / "outside-b"), std::vector<std::string>{"new.txt"});
  EXPECT_EQ(Names(dir / "client"), beside);

  // Nothing left to do, and the link is not noted again.
  EXPECT_EQ(rig.Client().SynchroniseThrough(rig.Proxy()),
            (std::vector<std::string>{kStarted, linksStay ? "Sinkronizacija projekta drumel zavr\x9a" "ena, 1 izmjena"
                                                          : "Nije potrebna sinkronizacija za projekt drumel"}));
  EXPECT_EQ(Names(dir / "outside-a"), std::vector<std::string>{"keep.txt"});
}

// A task whose path passes through a link back up to the folder above the project is
// refused, whatever it asks: nothing beside the project is written, deleted or trashed.
TEST(UserLinks, NoTaskPassesThroughALinkBackUp) {
  TempDir dir;
  const std::vector<std::string> env = HomeEnvironment(dir / "home");
  const std::string root = dir / "client/drumel";
  MakeDirs(root);
  Put(dir / "client", "canary.txt", "canary", 1600000000);
  Put(dir / "client", "sib/inside.txt", "inside", 1600000000);
  stdfs::create_directory_symlink("..", root + "/up");
  const std::vector<std::pair<std::string, std::string>> tasks = {
      {"\\up\\escape.txt", "<task>insert_file<param>\\up\\escape.txt,&quot;2020-01-01 10-00-00&quot;</param></task>"},
      {"\\up\\canary.txt", "<task>delete_file<param>\\up\\canary.txt</param></task>"},
      {"\\up\\sib", "<task>delete_dir<param>\\up\\sib</param></task>"},
  };
  const int port = PickPorts().client;
  ScriptedServer peer(port, [&](int connection, PeerLink& link) {
    const std::string list = connection == 0 ? "" : "<xml>\r\n" + tasks[connection - 1].second + "\r\n</xml>";
    ServeSynchronisation(link, {{"drumel", list}}, {{"\\up\\escape.txt", "escaped"}});
  });
  ClientProgram client(dir / "client", port, 60, {{"drumel", root}}, env);
  client.Start();
  ASSERT_TRUE(peer.WaitFinished(1, kProgramLimit));
  for (const auto& [path, task] : tasks) {
    SCOPED_TRACE(task);
    EXPECT_EQ(client.SynchroniseThrough(peer),
              (std::vector<std::string>{kStarted, "Nedozvoljena putanja '" + ProgramPath(root) + path + "'"}));
  }
  EXPECT_FALSE(stdfs::exists(dir / "client/escape.txt"));
  EXPECT_EQ(ReadFile(dir / "client/canary.txt"), "canary");
  EXPECT_EQ(Names(dir / "client/sib"), std::vector<std::string>{"inside.txt"});
}

// The server's folder holds links to a folder and a file outside it and a link to a
// folder inside it: a client receives only what lies inside, and a peer that asks for
// the outside files by name is told they are not there. (Wine shows a POSIX link to a
// file as a plain file, which the Windows server lists and then refuses to serve: the
// link to a file is made only for the Linux programs.)
TEST(UserLinks, TheServerListsAndServesOnlyWhatLiesInsideItsFolder) {
  TempDir dir;
  Rig rig(dir.path(), {"drumel"}, 60, true);
  const std::string served = rig.ServerRoot("drumel");
  Put(served, "docs/a.txt", "inside", 1600000000);
  Put(dir / "secret", "secret.txt", "outside", 1600000000);
  stdfs::create_directory_symlink(dir / "secret", served + "/dirlink");
  if (!WindowsPrograms()) stdfs::create_symlink(dir / "secret/secret.txt", served + "/filelink");
  stdfs::create_directory_symlink(served + "/docs", served + "/inner");

  rig.StartServer();
  rig.StartClient();
  EXPECT_EQ(rig.Client().AwaitSyncEntries(),
            (std::vector<std::string>{kStarted, "Sinkronizacija projekta drumel zavr\x9a" "ena, 4 izmjena"}));
  const Tree received = Snapshot(rig.ClientRoot("drumel"));
  std::vector<std::string> paths;
  for (const auto& [path, entry] : received) paths.push_back(path);
  EXPECT_EQ(paths, (std::vector<std::string>{"docs", "docs/a.txt", "inner", "inner/a.txt"}));

  const std::string answer = Converse(rig.Server().Port(),
                                      "Hello\r\nGetFile drumel \\dirlink\\secret.txt\r\n"
                                      "GetFile drumel \\filelink\r\nGetFile drumel \\inner\\a.txt\r\n");
  EXPECT_EQ(answer.substr(answer.find("\r\n") + 2),
            "201 welcome\r\n550 No such file\r\n550 No such file\r\n203 file follows\r\n6\r\ninside");
}

}  // namespace
}  // namespace sv::test
