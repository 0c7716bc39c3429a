// With the real programs: files the server's tasks remove or replace are found in the
// desktop trash, and a project whose server folder was emptied waits for "Potvrdi" while
// the other projects synchronise.
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>
#include <map>

#include "tests/support/Loopback.h"
#include "tests/support/Programs.h"
#include "tests/support/TempDir.h"
#include "tests/support/TrashRecords.h"

namespace sv::test {
namespace {

namespace stdfs = std::filesystem;

nlohmann::json Status(ClientProgram& client) {
  return nlohmann::json::parse(client.Get("/status.json").body);
}

// "Potvrdi" for the project, and the run it starts, up to its end.
void Confirm(Rig& rig, const std::string& project) {
  const int before = rig.Proxy().Finished();
  EXPECT_EQ(rig.Client().Post("/index.html", "akcija=Potvrdi&projekt=" + project).status, 302);
  ASSERT_TRUE(rig.Proxy().WaitFinished(before + 1, kProgramLimit));
}

TEST(TrashEndToEnd, RemovedAndReplacedFilesAreInTheTrashWithTheirPaths) {
  if (WindowsPrograms()) GTEST_SKIP() << "the recycle bin keeps its records otherwise";
  TempDir dir;
  Rig rig(dir.path(), {"drumel"}, 60, true);
  const std::string server = rig.ServerRoot("drumel"), local = rig.ClientRoot("drumel");
  Put(server, "a.txt", "old a", 1600000000);
  Put(server, "sub/b.txt", "old b", 1600000000);
  Put(server, "c.txt", "c", 1600000000);
  rig.StartServer();
  rig.StartClient();
  ASSERT_EQ(rig.Mirrored("drumel"), "");

  Put(server, "a.txt", "new a", 1600000100);
  stdfs::remove(server + "/sub/b.txt");
  rig.Client().SynchroniseThrough(rig.Proxy());
  // The same tree as the server's, hidden entries included: no temporary name is left.
  EXPECT_EQ(rig.Mirrored("drumel"), "");
  EXPECT_EQ(TrashedFiles(dir / "home/.local/share", local),
            (std::map<std::string, std::string>{{local + "/a.txt", "old a"}, {local + "/sub/b.txt", "old b"}}));
}

TEST(TrashEndToEnd, AnEmptiedProjectWaitsForConfirmationWhileTheOthersSynchronise) {
  TempDir dir;
  Rig rig(dir.path(), {"drumel", "drugi"}, 60, true);
  const std::string server = rig.ServerRoot("drumel");
  for (int i = 0; i < 60; ++i) Put(server, "f" + std::to_string(i) + ".txt", "x", 1600000000);
  Put(rig.ServerRoot("drugi"), "x.txt", "x", 1600000000);
  rig.StartServer();
  rig.StartClient();
  ASSERT_EQ(rig.Mirrored("drumel"), "");
  ClientProgram& client = rig.Client();

  // 55 of 60 files go on the server: more than 50 and more than a quarter.
  for (int i = 0; i < 55; ++i) stdfs::remove(server + "/f" + std::to_string(i) + ".txt");
  Put(rig.ServerRoot("drugi"), "y.txt", "y", 1600000000);
  const std::vector<std::string> entries = client.SynchroniseThrough(rig.Proxy());
  // The log page shows Windows-1250 text.
  EXPECT_NE(std::find(entries.begin(), entries.end(),
                      "Projekt drumel nije sinkroniziran: zadaci bi uklonili 55 od 60 datoteka; "
                      "konzola \xE8" "eka potvrdu (Potvrdi)"),
            entries.end())
      << ::testing::PrintToString(entries);
  EXPECT_EQ(Snapshot(rig.ClientRoot("drumel")).size(), 60u);
  EXPECT_EQ(rig.Mirrored("drugi"), "");
  nlohmann::json status = Status(client);
  EXPECT_EQ(status["projects"][0]["held"], nlohmann::json::parse(R"({"removals":55,"listed":60})"));
  EXPECT_TRUE(status["projects"][1]["held"].is_null());
  const std::string plan = client.Get("/zadrzano.html?projekt=drumel").body;
  EXPECT_NE(plan.find("\\f54.txt"), std::string::npos);

  // The server removes more before the confirmed run: that plan is larger, and held again.
  for (int i = 55; i < 60; ++i) stdfs::remove(server + "/f" + std::to_string(i) + ".txt");
  Confirm(rig, "drumel");
  EXPECT_EQ(Snapshot(rig.ClientRoot("drumel")).size(), 60u);
  EXPECT_EQ(Status(client)["projects"][0]["held"], nlohmann::json::parse(R"({"removals":60,"listed":60})"));

  Confirm(rig, "drumel");
  EXPECT_EQ(rig.Mirrored("drumel"), "");
  EXPECT_TRUE(Status(client)["projects"][0]["held"].is_null());
}

}  // namespace
}  // namespace sv::test
