// sorvana-server's limits with the real programs: what a client whose listing the
// server will not hold sees, and that the server goes on serving it.
#include <gtest/gtest.h>

#include <filesystem>

#include "tests/support/Programs.h"
#include "tests/support/TempDir.h"

namespace sv::test {
namespace {

TEST(ServerLimits, AListingBeyondTheListingMemoryFailsTheRunWithTheServersReason) {
  TempDir dir;
  Rig rig(dir.path(), {"drumel"}, 60, true);
  rig.Server().SetOptions({"--listing-memory", "1"});  // listings of 149796 bytes at most
  const std::string client = rig.ClientRoot("drumel");
  for (int i = 0; i < 2000; ++i) Put(client, "f" + std::to_string(i) + std::string(60, 'n') + ".txt", "", 1600000000);
  rig.StartServer();
  rig.StartClient();

  const std::vector<std::string> entries = rig.Client().AwaitSyncEntries();
  ASSERT_EQ(entries.size(), 2u);
  EXPECT_EQ(entries[0], "Pokrenuto sinkroniziranje projekta drumel");
  EXPECT_EQ(entries[1].rfind("'552 Listing too large for this server: ", 0), 0u) << entries[1];
  EXPECT_NE(entries[1].find(" bytes, at most 149796' is not a valid integer value"), std::string::npos) << entries[1];

  std::filesystem::remove_all(FsPath(client));
  MakeDirs(client);
  EXPECT_EQ(rig.Client().SynchroniseThrough(rig.Proxy()),
            (std::vector<std::string>{"Pokrenuto sinkroniziranje projekta drumel", "Nije potrebna sinkronizacija za projekt drumel"}));
}

}  // namespace
}  // namespace sv::test
