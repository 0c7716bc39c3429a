#include "sync/usvBaseCommand.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <thread>

#include "Comparer/source/StructStreamer.h"
#include "base/Messages.h"
#include "platform/AtomicFile.h"
#include "platform/TestHooks.h"
#include "sync/Failure_test.h"
#include "sync/ScriptedPeer_test.h"
#include "sync/uServerCommands.h"
#include "tests/support/TempDir.h"
#include "tests/support/OsErrors.h"
#include "tests/support/TestPlatform.h"
#include "tests/support/Wait.h"

namespace sv {
namespace {

namespace stdfs = std::filesystem;
using namespace std::string_literals;
using test::MessageOf;
using test::Greet;
using test::PeerLink;
using test::ReadFile;
using test::ScriptedPeer;
using test::TempDir;
using test::WriteFile;

using Items = std::vector<std::string>;

std::vector<std::string> Names(const std::string& folder) {
  std::vector<std::string> names;
  for (const auto& e : stdfs::directory_iterator(test::FsPath(folder))) names.push_back(test::PathText(e.path().filename()));
  std::sort(names.begin(), names.end());
  return names;
}

std::int64_t ExpectedTime(std::string_view listingTime) {
  std::int64_t seconds = 0;
  EXPECT_TRUE(ListingTimeToUnix(TLoader::ParseTimestamp(listingTime), seconds));
  return seconds;
}

TEST(SplitParameter, CommasBlanksAndQuotesSeparateItems) {
  EXPECT_EQ(SplitParameter("a,b"), (Items{"a", "b"}));
  EXPECT_EQ(SplitParameter("a b"), (Items{"a", "b"}));
  EXPECT_EQ(SplitParameter("  a , b  "), (Items{"a", "b"}));
  EXPECT_EQ(SplitParameter("\"a\" \"b\""), (Items{"a", "b"}));
  EXPECT_EQ(SplitParameter("a,,b"), (Items{"a", "", "b"}));
  EXPECT_EQ(SplitParameter("a,"), (Items{"a", ""}));
  EXPECT_EQ(SplitParameter(",a"), (Items{"", "a"}));
  EXPECT_EQ(SplitParameter(""), Items{});
  EXPECT_EQ(SplitParameter(" \t\r\n"), Items{});
  EXPECT_EQ(SplitParameter("\\docs\\a.txt,\"2008-11-14 13-05-08\""),
            (Items{"\\docs\\a.txt", "2008-11-14 13-05-08"}));
  EXPECT_EQ(SplitParameter("\"say \"\"hi\"\"\",x"), (Items{"say \"hi\"", "x"}));
  EXPECT_EQ(SplitParameter("\"\\new folder\\a b.txt\""), Items{"\\new folder\\a b.txt"});
  EXPECT_EQ(SplitParameter("\"open to the end"), Items{"open to the end"});
  EXPECT_EQ(SplitParameter("\x8a\xe8,\xff"), (Items{"\x8a\xe8", "\xff"}));
  // A zero byte ends the text rather than looping on an empty item.
  EXPECT_EQ(SplitParameter(std::string_view("a,b\0c,d", 7)), (Items{"a", "b"}));
}

TEST(IsServerSource, IndyPrefixInAnyCase) {
  EXPECT_TRUE(IsServerSource("Indy drumel"));
  EXPECT_TRUE(IsServerSource("iNDY "));
  EXPECT_FALSE(IsServerSource("Indy"));
  EXPECT_FALSE(IsServerSource("/srv/Indy x"));
}

// Commands against a local source folder: everything but the channel.
class LocalCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    test::MakeDirs(dir / "root");
    test::MakeDirs(dir / "src/docs");
    WriteFile(dir / "src/a.txt", "new content");
    root = dir / "root";
    source = dir / "src";
  }
  void Run(void (*execute)(const std::string&, const std::string&, const std::string&),
           const std::string& parameter) {
    execute(root, source, parameter);
  }
  std::string Fails(void (*execute)(const std::string&, const std::string&, const std::string&),
                    const std::string& parameter) {
    return MessageOf([&] { execute(root, source, parameter); });
  }

  TempDir dir;
  std::string root, source;
};

TEST_F(LocalCommandTest, InsertFileCopiesContentAndSetsTheListedTime) {
  Run(TsvInsertFileCommand::Execute, "\\a.txt,\"2008-11-14 13-05-08\"");
  EXPECT_EQ(ReadFile(dir / "root/a.txt"), "new content");
  EXPECT_EQ(test::ModificationTime(dir / "root/a.txt"), ExpectedTime("2008-11-14 13-05-08"));
  // A date alone means midnight; unquoted, a time after the blank is another item.
  Run(TsvInsertFileCommand::Execute, "\\a.txt,2008-11-14 13-05-08");
  EXPECT_EQ(test::ModificationTime(dir / "root/a.txt"), ExpectedTime("2008-11-14"));
  // Without a time item the file keeps the time of its writing.
  Run(TsvInsertFileCommand::Execute, "\\a.txt");
  EXPECT_GT(test::ModificationTime(dir / "root/a.txt"), ExpectedTime("2020-01-01"));
  // 1975 cannot be held in the two-second form: the time of the write stays.
  Run(TsvInsertFileCommand::Execute, "\\a.txt,1975-06-01");
  EXPECT_GT(test::ModificationTime(dir / "root/a.txt"), ExpectedTime("2020-01-01"));
}

TEST_F(LocalCommandTest, InsertFileReplacesAnExistingFileCompletely) {
  WriteFile(dir / "root/a.txt", "a much longer old content of the file");
  Run(TsvInsertFileCommand::Execute, "\\a.txt");
  EXPECT_EQ(ReadFile(dir / "root/a.txt"), "new content");
  // A path with blanks travels in quotes.
  WriteFile(dir / "src/docs/a b.txt", "spaced");
  test::MakeDirs(dir / "root/docs");
  Run(TsvInsertFileCommand::Execute, "\"\\docs\\a b.txt\",\"2008-11-14 13-05-08\"");
  EXPECT_EQ(ReadFile(dir / "root/docs/a b.txt"), "spaced");
}

TEST_F(LocalCommandTest, InsertFileFailures) {
  EXPECT_EQ(Fails(TsvInsertFileCommand::Execute, ""), "List index out of bounds (0)");
  // Unquoted, the blank splits the path: the time item is "folder\a".
  EXPECT_EQ(Fails(TsvInsertFileCommand::Execute, "\\new folder\\a b.txt,\"2008-11-14 13-05-08\""),
            "'folder\\a' is not a valid date and time");
  EXPECT_EQ(Fails(TsvInsertFileCommand::Execute, "\\missing\\a.txt"),
            "Cannot open file \"" + source + "\\missing\\a.txt\". " + test::kPathNotFound.Text());
  EXPECT_EQ(Names(root), std::vector<std::string>{});
}

TEST_F(LocalCommandTest, InsertFileIntoMissingFolderOrOverReadOnlyFileFails) {
  test::MakeDirs(dir / "src/sub");
  WriteFile(dir / "src/sub/a.txt", "x");
  EXPECT_EQ(Fails(TsvInsertFileCommand::Execute, "\\sub\\a.txt"),
            "Cannot create file \"" + root + "\\sub\\a.txt\". " + test::kPathNotFound.Text());
  WriteFile(dir / "root/a.txt", "keep");
  test::MakeReadOnly(dir / "root/a.txt");
  EXPECT_EQ(Fails(TsvInsertFileCommand::Execute, "\\a.txt"),
            "Cannot create file \"" + root + "\\a.txt\". " + test::kAccessDenied.Text());
  EXPECT_EQ(ReadFile(dir / "root/a.txt"), "keep");
  EXPECT_EQ(Names(root), std::vector<std::string>{"a.txt"});  // no temporary file left
}

TEST_F(LocalCommandTest, DeleteAndUpdateFile) {
  EXPECT_EQ(Fails(TsvDeleteFileCommand::Execute, ""), "List index out of bounds (0)");
  EXPECT_EQ(Fails(TsvDeleteFileCommand::Execute, "\\none.txt"),
            Format(msg::kCannotDelete, root + "\\none.txt"));
  test::MakeDirs(dir / "root/folder");
  EXPECT_EQ(Fails(TsvDeleteFileCommand::Execute, "\\folder"), Format(msg::kCannotDelete, root + "\\folder"));
  // update_file of a file missing here fails on the deletion before fetching anything.
  EXPECT_EQ(Fails(TsvUpdateFileCommand::Execute, "\\a.txt"), Format(msg::kCannotDelete, root + "\\a.txt"));
  EXPECT_FALSE(stdfs::exists(dir / "root/a.txt"));

  WriteFile(dir / "root/a.txt", "old");
  Run(TsvUpdateFileCommand::Execute, "\\a.txt,\"2008-11-14 13-05-08\"");
  EXPECT_EQ(ReadFile(dir / "root/a.txt"), "new content");
  Run(TsvDeleteFileCommand::Execute, "\"\\a.txt\",ignored,items");
  EXPECT_FALSE(stdfs::exists(dir / "root/a.txt"));
}

TEST_F(LocalCommandTest, ReadOnlyFilesStayAndAFailedUpdateKeepsTheOldFile) {
  WriteFile(dir / "root/ro.txt", "keep");
  test::MakeReadOnly(dir / "root/ro.txt");
  EXPECT_EQ(Fails(TsvDeleteFileCommand::Execute, "\\ro.txt"), Format(msg::kCannotDelete, root + "\\ro.txt"));
  EXPECT_EQ(Fails(TsvUpdateFileCommand::Execute, "\\ro.txt"), Format(msg::kCannotDelete, root + "\\ro.txt"));
  EXPECT_EQ(ReadFile(dir / "root/ro.txt"), "keep");

  // The new content cannot be had: the old file is still there, whole.
  WriteFile(dir / "root/old.txt", "old");
  EXPECT_EQ(Fails(TsvUpdateFileCommand::Execute, "\\old.txt"),
            "Cannot open file \"" + source + "\\old.txt\". " + test::kFileNotFound.Text());
  EXPECT_EQ(ReadFile(dir / "root/old.txt"), "old");
  // So does an update whose time item cannot be read.
  EXPECT_EQ(Fails(TsvUpdateFileCommand::Execute, "\\old.txt,never"), "'never' is not a valid date and time");
  EXPECT_EQ(ReadFile(dir / "root/old.txt"), "old");
}

TEST_F(LocalCommandTest, FolderCommandsAreSilent) {
  Run(TsvInserDirCommand::Execute, "");   // the root, which the run has made
  Run(TsvInserDirCommand::Execute, "\\");
  Run(TsvInserDirCommand::Execute, "\\a");
  Run(TsvInserDirCommand::Execute, "\\a");          // exists: nothing reported
  Run(TsvInserDirCommand::Execute, "\\x\\y\\z");    // parent missing: nothing reported
  EXPECT_EQ(Names(root), std::vector<std::string>{"a"});
  // The parameter is the whole path: no splitting at blanks.
  Run(TsvInserDirCommand::Execute, "\\a\\new folder");
  EXPECT_TRUE(stdfs::is_directory(dir / "root/a/new folder"));

  WriteFile(dir / "root/a/new folder/f.txt", "f");
  Run(TsvDeleteDirCommand::Execute, "\\a");
  EXPECT_EQ(Names(root), std::vector<std::string>{});
  Run(TsvDeleteDirCommand::Execute, "\\never");  // nothing there: nothing reported
}

TEST_F(LocalCommandTest, HostilePathsTouchNothingOutsideTheRoot) {
  WriteFile(dir / "x", "outside");
  WriteFile(dir / "src/x", "payload");
  using Execute = void (*)(const std::string&, const std::string&, const std::string&);
  for (Execute execute : {Execute(TsvInserDirCommand::Execute), Execute(TsvDeleteDirCommand::Execute),
                          Execute(TsvInsertFileCommand::Execute), Execute(TsvDeleteFileCommand::Execute),
                          Execute(TsvUpdateFileCommand::Execute)}) {
    for (const std::string& path : {"\\..\\x"s, "/etc/x"s, "C:\\x"s, "x"s, "\\"s, "\\..\0x"s, "\\\0x"s}) {
      // Checked as the system sees it: up to the 0x00. insert_dir of the root does nothing.
      const std::string seen = path.substr(0, path.find('\0'));
      const bool theRoot = execute == Execute(TsvInserDirCommand::Execute) && seen == "\\";
      EXPECT_EQ(Fails(execute, path), theRoot ? "(no failure)" : Format(msg::kForbiddenPath, root + seen)) << path;
    }
  }
  EXPECT_EQ(ReadFile(dir / "x"), "outside");
  EXPECT_EQ(Names(dir.path()), (std::vector<std::string>{"root", "src", "x"}));
  EXPECT_EQ(Names(root), std::vector<std::string>{});
}

TEST_F(LocalCommandTest, LinksAreDeletedThemselvesAndWrittenThrough) {
  SV_SKIP_ON_WINDOWS("symbolic links: the Windows build's std::filesystem cannot make them");
  test::MakeDirs(dir / "outside/deep");
  WriteFile(dir / "outside/keep.txt", "keep");
  stdfs::create_directory_symlink(dir / "outside", dir / "root/link");
  stdfs::create_directory_symlink(dir / "outside", dir / "root/link2");
  stdfs::create_symlink(dir / "outside/keep.txt", dir / "root/flink");
  // Below a link to a folder, creating, writing and deleting work.
  Run(TsvInserDirCommand::Execute, "\\link\\new");
  test::MakeDirs(dir / "src/link");
  WriteFile(dir / "src/link/a.txt", "via link");
  Run(TsvInsertFileCommand::Execute, "\\link\\a.txt");
  EXPECT_EQ(ReadFile(dir / "outside/a.txt"), "via link");
  Run(TsvDeleteFileCommand::Execute, "\\link\\a.txt");
  Run(TsvDeleteDirCommand::Execute, "\\link\\new");
  // Deleting a link deletes the link, never what it points to.
  Run(TsvDeleteDirCommand::Execute, "\\link");
  Run(TsvDeleteFileCommand::Execute, "\\flink");
  Run(TsvDeleteDirCommand::Execute, "\\LINK2\\");
  EXPECT_EQ(Names(dir / "outside"), (std::vector<std::string>{"deep", "keep.txt"}));
  EXPECT_EQ(Names(root), std::vector<std::string>{});
}

TEST_F(LocalCommandTest, TaskPathsMatchLocalNamesWithoutRegardToCase) {
  test::MakeDirs(dir / "root/docs");
  WriteFile(dir / "root/docs/a.txt", "old");
  test::MakeDirs(dir / "src/Docs");
  WriteFile(dir / "src/Docs/A.txt", "new");
  Run(TsvUpdateFileCommand::Execute, "\\Docs\\A.txt");  // asked of the source as the task spells it
  EXPECT_EQ(ReadFile(dir / "root/docs/a.txt"), "new");
  EXPECT_EQ(Names(dir / "root/docs"), std::vector<std::string>{"a.txt"});
}

// Commands fetching from the server over the program-wide channel.
class ChannelCommandTest : public LocalCommandTest {
 protected:
  // Starts the peer and opens the program-wide channel to it.
  void Open(std::vector<ScriptedPeer::Script> scripts) {
    peer = std::make_unique<ScriptedPeer>(std::move(scripts));
    client.Host = "127.0.0.1";
    client.Port = peer->Port();
    OpenServerChannel(client);
    SetServerChannel(&client);
  }
  // The client closes first: the peer waits for that before it ends.
  void TearDown() override {
    SetServerChannel(nullptr);
    CloseServerChannel(client);
    peer->Join();
    EXPECT_EQ(peer->Error(), "");
  }
  TsvTCPClient client;
  std::unique_ptr<ScriptedPeer> peer;
};

TEST_F(ChannelCommandTest, InsertFileSendsGetFileAndWritesExactlyTheFramedBytes) {
  Open({[](PeerLink& p) {
    Greet(p);
    EXPECT_EQ(p.ReadLine(), "GetFile my project \\docs\\a b.txt");
    p.Send("203 file follows\r\n5\r\nabc\r\n");
    EXPECT_EQ(p.ReadLine(), "GetFile my project \\empty.txt");
    p.Send("203 file follows\r\n0\r\n");
  }});
  test::MakeDirs(dir / "root/docs");
  TsvInsertFileCommand::Execute(root, "Indy my project", "\"\\docs\\a b.txt\",\"2008-11-14 13-05-08\"");
  EXPECT_EQ(ReadFile(dir / "root/docs/a b.txt"), "abc\r\n");
  EXPECT_EQ(test::ModificationTime(dir / "root/docs/a b.txt"), ExpectedTime("2008-11-14 13-05-08"));
  TsvInsertFileCommand::Execute(root, "Indy my project", "\\empty.txt");
  EXPECT_EQ(ReadFile(dir / "root/empty.txt"), "");
}

TEST_F(ChannelCommandTest, UnwritableTargetStillReadsTheWholeContentSoTheChannelStaysInStep) {
  Open({[](PeerLink& p) {
    Greet(p);
    p.ReadLine();
    p.Send("203 file follows\r\n6\r\nsecret");
    EXPECT_EQ(p.ReadLine(), "Sync next");
    p.Send("202 ok\r\n");
  }});
  EXPECT_EQ(MessageOf([&] { TsvInsertFileCommand::Execute(root, "Indy p", "\\nofolder\\a.txt"); }),
            "Cannot create file \"" + root + "\\nofolder\\a.txt\". " + test::kPathNotFound.Text());
  EXPECT_EQ(SendCommand(client, "Sync next", 202), 202);
  EXPECT_EQ(Names(root), std::vector<std::string>{});
}

TEST_F(ChannelCommandTest, FetchFailingMidFileLeavesTheOldFileAndNoTemporaryFile) {
  Open({[](PeerLink& p) {
    Greet(p);
    p.ReadLine();
    p.Send("203 file follows\r\n1000\r\npartial new content");
    p.Close();
  }});
  WriteFile(dir / "root/a.txt", "old content");
  EXPECT_EQ(MessageOf([&] { TsvInsertFileCommand::Execute(root, "Indy p", "\\a.txt"); }),
            "Connection Closed Gracefully.");
  EXPECT_EQ(ReadFile(dir / "root/a.txt"), "old content");
  EXPECT_EQ(Names(root), std::vector<std::string>{"a.txt"});
}

TEST_F(ChannelCommandTest, CancelDuringAFetchRemovesTheTemporaryFileAndKeepsTheOldOne) {
  const auto sent = std::make_shared<std::atomic<bool>>(false);  // the peer may outlive the test body
  Open({[sent](PeerLink& p) {
    Greet(p);
    p.ReadLine();
    p.Send("203 file follows\r\n100000\r\nthe first part of the new content");  // then silence
    *sent = true;
  }});
  WriteFile(dir / "root/a.txt", "old content");
  // Cancels once the fetch has begun: the request was answered with part of the content.
  std::thread watcher([this, sent] {
    EXPECT_TRUE(test::WaitFor([&sent] { return sent->load(); })) << "the peer never answered";
    client.Cancel();
  });
  EXPECT_EQ(MessageOf([&] { TsvInsertFileCommand::Execute(root, "Indy p", "\\a.txt"); }),
            test::SocketErrorMessage(test::kCancelled));
  watcher.join();
  EXPECT_EQ(ReadFile(dir / "root/a.txt"), "old content");
  EXPECT_EQ(Names(root), std::vector<std::string>{"a.txt"});
}

TEST_F(ChannelCommandTest, ContentBeyondTheFreeSpaceFailsBeforeAnythingIsWritten) {
  Open({[](PeerLink& p) {
    Greet(p);
    p.ReadLine();
    p.Send("203 file follows\r\n1000\r\n" + std::string(1000, 'f'));
    p.ReadLine();
    p.Send("203 file follows\r\n1099511627776\r\nthe start of a tebibyte");
  }});
  fs::LimitFreeSpaceForTesting(1000);
  TsvInsertFileCommand::Execute(root, "Indy p", "\\fits.bin");
  const std::string message = MessageOf([&] { TsvInsertFileCommand::Execute(root, "Indy p", "\\huge.bin"); });
  fs::LimitFreeSpaceForTesting(std::nullopt);
  EXPECT_EQ(message, "Cannot create file \"" + root + "\\huge.bin\". " + test::kDiskFull.Text());
  EXPECT_EQ(Names(root), std::vector<std::string>{"fits.bin"});
}

TEST_F(ChannelCommandTest, WrongReplyToGetFileFailsWithTheServersText) {
  Open({[](PeerLink& p) {
    Greet(p);
    p.ReadLine();
    p.Send("550 No such file\r\n");
  }});
  EXPECT_EQ(MessageOf([&] { TsvInsertFileCommand::Execute(root, "INDY p", "\\a.txt"); }), "No such file\r\n");
  EXPECT_EQ(Names(root), std::vector<std::string>{});
}

}  // namespace
}  // namespace sv
