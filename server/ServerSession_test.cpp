#include "server/ServerSession.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>

#include "Comparer/source/StructStreamer.h"
#include "base/Text.h"
#include "platform/FileSystem.h"
#include "server/TaskListBuilder.h"
#include "tests/support/TempDir.h"
#include "tests/support/TestPlatform.h"

namespace sv {
namespace {

using test::TempDir;

// A session fed from a byte string in pieces of at most `piece` bytes.
struct Conversation {
  std::string output;
  std::vector<std::string> log;
};

Conversation Talk(const std::vector<TServedProject>& projects, const std::string& input, std::size_t piece = 4096,
                  TSessionOptions options = {}) {
  Conversation c;
  std::size_t pos = 0;
  TServerSession session(
      projects,
      [&](char* buffer, std::size_t capacity) {
        const std::size_t n = std::min({piece, capacity, input.size() - pos});
        std::copy_n(input.data() + pos, n, buffer);
        pos += n;
        return n;
      },
      [&](std::string_view bytes) { c.output += bytes; }, [&](const std::string& line) { c.log.push_back(line); },
      "peer", options);
  session.Serve();
  return c;
}

std::string Framed(const std::string& document) { return std::to_string(document.size()) + "\r\n" + document; }

class Session : public ::testing::Test {
 protected:
  void SetUp() override {
    test::MakeDirs(dir / "drumel/docs");
    test::WriteFile(dir / "drumel/docs/a.txt", "abc\r\n");
    std::int64_t unix = 0;
    ASSERT_TRUE(ListingTimeToUnix(EncodeDateTime(2008, 11, 14, 13, 5, 8), unix));
    ASSERT_TRUE(fs::SetFileTime(dir / "drumel/docs/a.txt", unix));
    projects = {{"drumel", dir / "drumel"}, {"gone", dir / "missing"}};
  }

  TempDir dir;
  std::vector<TServedProject> projects;
};

TEST_F(Session, TheWholeExchangeAtEveryPieceSize) {
  TDirectory tree;
  TLoader::ScanFolderTree(dir / "drumel", &tree);
  const TTaskListResult expected = BuildTaskList("<xml></xml>", tree, UserTimeStyle());
  ASSERT_EQ(expected.tasks, 2);
  const std::string input = "Hello\r\nSync drumel\r\n" + Framed("<xml></xml>") +
                            "GetFile drumel \\docs\\a.txt\r\nGetFile drumel \\DOCS\\A.TXT\n";
  const std::string answers = "201 welcome\r\n202 send listing\r\n" + Framed(expected.document) +
                              "203 file follows\r\n5\r\nabc\r\n" + "203 file follows\r\n5\r\nabc\r\n";
  const std::vector<std::string> requests = {"peer Hello -> 201 welcome",
                                             "peer Sync drumel -> 202, listing 11 bytes, 2 tasks"};
  const std::vector<std::string> files = {"peer GetFile drumel \\docs\\a.txt -> 203, 5 bytes",
                                          "peer GetFile drumel \\DOCS\\A.TXT -> 203, 5 bytes"};
  // By default the greeting offers pipelining and files served are not logged.
  for (std::size_t piece : {1, 2, 7, 4096}) {
    const Conversation c = Talk(projects, input, piece);
    EXPECT_EQ(c.output, "200 sorvana-server ready +pipelining\r\n" + answers) << piece;
    EXPECT_EQ(c.log, requests);
  }
  const Conversation c = Talk(projects, input, 4096, {.offerPipelining = false, .logFiles = true});
  EXPECT_EQ(c.output, "200 sorvana-server ready\r\n" + answers);
  std::vector<std::string> all = requests;
  all.insert(all.end(), files.begin(), files.end());
  EXPECT_EQ(c.log, all);
}

TEST_F(Session, RefusalsKeepTheConversationGoing) {
  test::WriteFile(dir / "secret", "outside");
  const Conversation c = Talk(projects,
                              "Sync nobody\r\nSync gone\r\nGetFile nobody \\x\r\nGetFile drumel \\..\\secret\r\n"
                              "GetFile drumel docs\\a.txt\r\nGetFile drumel \\docs\r\nGetFile drumel \\none\r\n"
                              "GetFile drumel C:\\x\r\nWhat\x01\r\nHello\r\n");
  EXPECT_EQ(c.output, Cp("200 sorvana-server ready +pipelining\r\n"
                         "500 No such project\r\n"
                         "550 Project folder unavailable\r\n"
                         "500 No such project\r\n"
                         "550 Nedozvoljena putanja '\\..\\secret'\r\n"
                         "550 Nedozvoljena putanja 'docs\\a.txt'\r\n"
                         "550 No such file\r\n"
                         "550 No such file\r\n"
                         "550 Nedozvoljena putanja 'C:\\x'\r\n"
                         "500 Unknown command\r\n"
                         "201 welcome\r\n"));
  ASSERT_EQ(c.log.size(), 10u);
  EXPECT_EQ(c.log[8], "peer What? -> 500 Unknown command");
}

TEST_F(Session, ProtocolFaultsEndTheConnection) {
  struct Case {
    std::string input, reason;
  } cases[] = {
      {"Sync drumel\r\n12 bytes\r\n", "peer connection ended: '12 bytes' is not a valid integer value"},
      {"Sync drumel\r\n-1\r\n", "peer connection ended: '-1' is not a valid integer value"},
      {"Sync drumel\r\n99999999999\r\n", "peer connection ended: '99999999999' is not a valid integer value"},
      {"Sync drumel\r\n" + Framed("<xml><a<b></xml>") + "Hello\r\n", Cp("peer connection ended: Početak taga u tagu")},
      {"Sync drumel\r\n10\r\nshort", "peer connection ended: Connection Closed Gracefully."},
      {std::string(20000, 'x'), "peer connection ended: Max line length exceeded."},
  };
  for (const Case& k : cases) {
    const Conversation c = Talk(projects, k.input);
    ASSERT_FALSE(c.log.empty());
    EXPECT_EQ(c.log.back(), k.reason);
    EXPECT_EQ(c.output.find("201"), std::string::npos);  // nothing answered after the fault
  }
  // A close between requests is the ordinary end: nothing is logged.
  EXPECT_TRUE(Talk(projects, "").log.empty());
  EXPECT_TRUE(Talk(projects, "Hello").log.empty());  // a partial line is dropped
}

TEST_F(Session, OnlyWhatLiesInsideTheFolderIsListedAndServed) {
  SV_SKIP_ON_WINDOWS("symbolic links: the Windows build's std::filesystem cannot make them");
  test::MakeDirs(dir / "secret");
  test::WriteFile(dir / "secret/secret.txt", "outside");
  std::filesystem::create_directory_symlink(dir / "secret", dir / "drumel/dirlink");
  std::filesystem::create_symlink(dir / "secret/secret.txt", dir / "drumel/filelink");
  std::filesystem::create_directory_symlink(dir / "drumel/docs", dir / "drumel/inner");
  const Conversation c = Talk(projects,
                              "GetFile drumel \\dirlink\\secret.txt\r\nGetFile drumel \\filelink\r\n"
                              "GetFile drumel \\inner\\a.txt\r\nSync drumel\r\n" + Framed("<xml></xml>"));
  EXPECT_EQ(c.output.rfind("200 sorvana-server ready +pipelining\r\n550 No such file\r\n550 No such file\r\n"
                           "203 file follows\r\n5\r\nabc\r\n202 send listing\r\n", 0), 0u) << c.output;
  EXPECT_EQ(c.output.find("link"), std::string::npos) << c.output;
  EXPECT_EQ(c.log.back(), "peer Sync drumel -> 202, listing 11 bytes, 4 tasks, 2 names left out");
}

// What the server cannot read fails the Sync with a reply that names it, and no task
// list goes out: one would tell the client to delete what the scan could not see.
TEST_F(Session, WhatCannotBeReadFailsTheSyncByName) {
  const struct {
    const char* entry;
    std::filesystem::perms mode;
    std::string reply;
  } cases[] = {
      {"drumel/docs", std::filesystem::perms::none, "550 Cannot read folder \"\\docs\". Permission denied"},
      {"drumel/docs", std::filesystem::perms::owner_write | std::filesystem::perms::owner_exec,
       "550 Cannot read folder \"\\docs\". Permission denied"},
      // Listed, but its entries cannot be looked at.
      {"drumel/docs", std::filesystem::perms::owner_read | std::filesystem::perms::group_read,
       "550 Cannot read folder \"\\docs\". Permission denied"},
      {"drumel/docs/a.txt", std::filesystem::perms::none, "550 Cannot read file \"\\docs\\a.txt\". Permission denied"},
  };
  std::filesystem::permissions(dir.path(), std::filesystem::perms::all);  // for the unprivileged user to reach
  for (const auto& c : cases) {
    const auto before = std::filesystem::status(dir / c.entry).permissions();
    std::filesystem::permissions(dir / c.entry, c.mode);
    const std::optional<std::string> output = test::RunRestricted(
        {.unprivileged = true}, [&] { return Talk(projects, "Sync drumel\r\n").output; });
    std::filesystem::permissions(dir / c.entry, before);
    if (!output) GTEST_SKIP() << "no child processes that permissions bind";
    EXPECT_EQ(*output, "200 sorvana-server ready +pipelining\r\n" + c.reply + "\r\n") << c.entry;
  }
}

// A scan holds no descriptor per level: a tree deeper than the descriptors a process
// may hold is listed whole, and a client that has all of it is told of no change.
TEST_F(Session, ADeepTreeIsListedWholeWithFewDescriptors) {
  std::string deep = dir / "deep";
  for (int level = 0; level < 60; ++level) deep += "/l" + std::to_string(level);
  test::MakeDirs(deep);
  test::WriteFile(deep + "/f.txt", "f");
  TDirectory tree;
  TLoader::ScanFolderTree(dir / "deep", &tree);
  const std::string listing = TLoader::BuildListing(tree);
  const TTaskListResult expected = BuildTaskList(listing, tree, UserTimeStyle());
  ASSERT_EQ(expected.tasks, 0);
  const std::vector<TServedProject> served = {{"deep", dir / "deep"}};
  const std::optional<std::string> output = test::RunRestricted(
      {.maxOpenFiles = 24}, [&] { return Talk(served, "Sync deep\r\n" + Framed(listing)).output; });
  if (!output) GTEST_SKIP() << "no child processes with a descriptor limit";
  EXPECT_EQ(*output, "200 sorvana-server ready +pipelining\r\n202 send listing\r\n" + Framed(expected.document));
}

TEST(ResolveProjectFile, SpellingAndCaseAndKind) {
  TempDir dir;
  test::MakeDirs(dir / "Docs/Sub");
  test::WriteFile(dir / "Docs/Sub/File.TXT", "x");
  std::string found;
  ASSERT_TRUE(ResolveProjectFile(dir.path(), "\\docs\\sub\\file.txt", found));
  EXPECT_TRUE(std::filesystem::equivalent(test::FsPath(fs::NativePath(found)), test::FsPath(dir / "Docs/Sub/File.TXT")))
      << found;
  EXPECT_TRUE(ResolveProjectFile(dir.path(), "\\Docs\\.\\Sub\\\\File.TXT", found));
  EXPECT_FALSE(ResolveProjectFile(dir.path(), "\\docs\\sub", found));
  EXPECT_FALSE(ResolveProjectFile(dir.path(), "\\docs\\nothing.txt", found));
  EXPECT_FALSE(ResolveProjectFile(dir.path(), "\\", found));
}

TEST(LogText, ControlBytesAndLength) {
  EXPECT_EQ(LogText("a\r\nb\x7F"), "a??b?");
  EXPECT_EQ(LogText(std::string(250, 'x')), std::string(200, 'x') + "...");
}

}  // namespace
}  // namespace sv
