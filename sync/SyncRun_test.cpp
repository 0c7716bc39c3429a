#include "sync/SyncRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>

#include "Comparer/source/StructStreamer.h"
#include "base/Messages.h"
#include "platform/FileSystem.h"
#include "platform/Locale.h"
#include "sync/ContentPipeline.h"
#include "sync/Failure_test.h"
#include "sync/ScriptedPeer_test.h"
#include "sync/TaskBuilder.h"
#include "sync/uServerCommands.h"
#include "tests/support/TempDir.h"
#include "tests/support/OsErrors.h"
#include "tests/support/TestPlatform.h"

namespace sv {
namespace {

namespace stdfs = std::filesystem;
using test::MessageOf;
using test::Greet;
using test::PeerLink;
using test::ReadFile;
using test::ScriptedPeer;
using test::TempDir;
using test::WriteFile;

std::int64_t Seconds(std::string_view listingTime) {
  std::int64_t seconds = 0;
  EXPECT_TRUE(ListingTimeToUnix(TLoader::ParseTimestamp(listingTime), seconds));
  return seconds;
}

std::string Framed(const std::string& doc) { return std::to_string(doc.size()) + "\r\n" + doc; }

// The server's side of a run up to its task list, with a greeting that offers pipelining.
void SendTasksPipelined(PeerLink& p, const std::string& tasks) {
  p.Send("200 ready +pipelining\r\n");
  p.ReadLine();
  p.Send("201 welcome\r\n");
  p.ReadLine();
  p.Send("202 ok\r\n");
  p.ReadFramed();
  p.Send(Framed(tasks));
}

// A run against a scripted server: the channel is opened before and closed after.
class SyncRunTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { RegisterFileCommands(); }
  void SetUp() override {
    saved_ = UserTimeStyle();
    TimeStyle style;
    style.leadingZero = true;
    style.twentyFourHour = true;
    SetUserTimeStyle(style);  // the 24-hour times of the listings below
  }
  void TearDown() override { SetUserTimeStyle(saved_); }

  void Start(std::vector<ScriptedPeer::Script> scripts) {
    peer = std::make_unique<ScriptedPeer>(std::move(scripts));
    client.Host = "127.0.0.1";
    client.Port = peer->Port();
    OpenServerChannel(client);
  }
  // Closes the channel and returns every byte the client sent.
  std::string Finish() {
    CloseServerChannel(client);
    peer->Join();
    EXPECT_EQ(peer->Error(), "");
    return peer->Received()[0];
  }

  TempDir dir;
  TsvTCPClient client;
  TdrEventLog log;
  std::unique_ptr<ScriptedPeer> peer;

 private:
  TimeStyle saved_;
};

TEST_F(SyncRunTest, AFolderAndAFileListedAndOneNewFileFetchedByteForByte) {
  const std::string root = dir / "drumel";
  test::MakeDirs(root + "/docs");
  WriteFile(root + "/plan.txt", "plan");
  ASSERT_TRUE(fs::SetFileTime(root + "/docs", Seconds("2008-11-14 13-05-08")));
  ASSERT_TRUE(fs::SetFileTime(root + "/plan.txt", Seconds("2008-11-10 14-30-00")));

  const std::string listing =
      "<xml>\r\n<directory>\r\n<name>docs</name>\r\n<datemodified>2008-11-14 13-05-08</datemodified>\r\n"
      "</directory>\r\n<file>\r\n<name>plan.txt</name>\r\n<datemodified>2008-11-10 14-30-00</datemodified>\r\n"
      "</file>\r\n</xml>";
  const std::string tasks =
      "<xml>\r\n<task>insert_file<param>\\docs\\a.txt,&quot;2008-11-14 13-05-08&quot;</param></task>\r\n</xml>";
  ASSERT_EQ(listing.size(), 199u);
  ASSERT_EQ(tasks.size(), 97u);

  Start({[&](PeerLink& p) {
    Greet(p);
    EXPECT_EQ(p.ReadLine(), "Sync drumel");
    p.Send("202 send listing\r\n");
    EXPECT_EQ(p.ReadFramed(), listing);
    p.Send(Framed(tasks));
    EXPECT_EQ(p.ReadLine(), "GetFile drumel \\docs\\a.txt");
    p.Send("203 file follows\r\n5\r\nabc\r\n");
  }});
  const int before = log.Count();
  EXPECT_EQ(SynchroniseProject(client, log, "drumel", root), Format(msg::kProjectSyncDone, "drumel", 1));
  EXPECT_EQ(Finish(), "Hello\r\nSync drumel\r\n199\r\n" + listing + "GetFile drumel \\docs\\a.txt\r\n");

  EXPECT_EQ(ReadFile(root + "/docs/a.txt"), "abc\r\n");
  EXPECT_EQ(test::ModificationTime(root + "/docs/a.txt"), Seconds("2008-11-14 13-05-08"));
  ASSERT_EQ(log.Count(), before + 1);
  EXPECT_EQ(log.Items(0).Text(), Format(msg::kProjectSyncStarted, "drumel"));
}

TEST_F(SyncRunTest, MissingRootSendsAnEmptyListingAndIsCreatedForTheFirstTask) {
  const std::string root = dir / "a/b/proj";
  Start({[](PeerLink& p) {
    Greet(p);
    p.ReadLine();
    p.Send("202 ok\r\n");
    EXPECT_EQ(p.ReadFramed(), "<xml></xml>");
    p.Send(Framed("<xml><task>insert_dir<param>\\sub</param></task></xml>"));
  }});
  EXPECT_EQ(SynchroniseProject(client, log, "p", root), Format(msg::kProjectSyncDone, "p", 1));
  Finish();
  EXPECT_TRUE(stdfs::is_directory(root + "/sub"));
}

TEST_F(SyncRunTest, NothingToDoLeavesTheRootUntouched) {
  const std::string root = dir / "proj";
  Start({[](PeerLink& p) {
    Greet(p);
    for (const char* answer : {"0\r\n", "14\r\n<xml><a/></xml>"}) {
      p.ReadLine();
      p.Send("202 ok\r\n");
      p.ReadFramed();
      p.Send(answer);
    }
  }});
  // Two projects over one connection: no second greeting or "Hello".
  EXPECT_EQ(SynchroniseProject(client, log, "my proj", root), Format(msg::kNoSyncNeeded, "my proj"));
  EXPECT_EQ(SynchroniseProject(client, log, "q", root), Format(msg::kNoSyncNeeded, "q"));
  EXPECT_EQ(Finish(), "Hello\r\nSync my proj\r\n11\r\n<xml></xml>Sync q\r\n11\r\n<xml></xml>");
  EXPECT_FALSE(stdfs::exists(root));
}

TEST_F(SyncRunTest, FailuresPassOutUnchanged) {
  Start({[](PeerLink& p) {
    Greet(p);
    p.ReadLine();
    p.Send("500 No such project\r\n");
    p.ReadLine();
    p.Send("202 ok\r\n");
    p.ReadFramed();
    p.Send(Framed("<xml><task>insert_dir<param>\\x</param></task></xml>"));
    p.ReadLine();
    p.Send("202 ok\r\n");
    p.ReadFramed();
    p.Send(Framed("<xml><task>insert_dir</param></xml>"));
  }});
  EXPECT_EQ(MessageOf([&] { SynchroniseProject(client, log, "nope", dir / "p"); }), "No such project\r\n");
  EXPECT_EQ(MessageOf([&] { SynchroniseProject(client, log, "p", ""); }), "Unable to create directory");
  EXPECT_EQ(MessageOf([&] { SynchroniseProject(client, log, "p", dir / "p"); }),
            Format(msg::kTagMismatch, "task", "/param"));
  // "Sync nope" was refused: no listing followed it.
  EXPECT_EQ(Finish(), "Hello\r\nSync nope\r\nSync p\r\n11\r\n<xml></xml>Sync p\r\n11\r\n<xml></xml>");
  EXPECT_EQ(log.Items(0).Text(), Format(msg::kProjectSyncStarted, "p"));
  EXPECT_FALSE(stdfs::exists(dir / "p"));
}

// What a server sees of three fetches. Without the token in its greeting each GetFile
// line arrives alone, and only once the answer before it has been sent; with it the
// lines come before any answer. Either way each file gets its own content.
TEST_F(SyncRunTest, RequestsGoAheadOfTheirAnswersOnlyWhenTheGreetingOffersPipelining) {
  const std::string tasks =
      "<xml><task>insert_file<param>\\a</param></task><task>insert_dir<param>\\d</param></task>"
      "<task>insert_file<param>\\d\\b</param></task><task>insert_file<param>\\c</param></task></xml>";
  const std::vector<std::string> requests = {"GetFile p \\a", "GetFile p \\d\\b", "GetFile p \\c"};
  client.SetTimeouts(std::chrono::seconds(30), std::chrono::seconds(30));  // a client waiting in vain fails
  for (const bool token : {false, true}) {
    const std::string root = dir / (token ? "piped" : "serial");
    std::vector<std::string> lines;
    int alone = 0;
    Start({[&](PeerLink& p) {
      p.Send(token ? "200 ready +pipelining\r\n" : "200 ready\r\n");
      EXPECT_EQ(p.ReadLine(), "Hello");
      p.Send("201 welcome\r\n");
      EXPECT_EQ(p.ReadLine(), "Sync p");
      p.Send("202 ok\r\n");
      p.ReadFramed();
      p.Send(Framed(tasks));
      if (token) {
        for (std::size_t i = 0; i < requests.size(); ++i) lines.push_back(p.ReadLine());
      }
      for (const char* content : {"A", "B", "C"}) {
        if (!token) {
          lines.push_back(p.ReadLine());
          alone += p.Pending() == 0;
        }
        p.Send(std::string("203 ok\r\n1\r\n") + content);
      }
    }});
    EXPECT_EQ(client.PipeliningOffered, token);
    EXPECT_EQ(SynchroniseProject(client, log, "p", root), Format(msg::kProjectSyncDone, "p", 4));
    Finish();
    EXPECT_EQ(lines, requests);
    EXPECT_EQ(alone, token ? 0 : 3);
    EXPECT_EQ(ReadFile(root + "/a") + ReadFile(root + "/d/b") + ReadFile(root + "/c"), "ABC");
  }
}

// A task that fails in the middle of a batch of fetches ends its project's run with its
// own message; the answers asked for meanwhile are read and dropped, so the next
// project's "Sync" finds the channel in step. The file before the failure is written,
// none after it.
TEST_F(SyncRunTest, AFailureInTheMiddleOfABatchLeavesTheChannelReadyForTheNextProject) {
  struct Case {
    bool token;
    bool folderAtB;      // b cannot be written: a folder stands at its path
    std::string answerB;
    std::vector<std::string> requests;  // what the server is asked for in project p
  };
  const std::vector<std::string> all = {"GetFile p \\a", "GetFile p \\b", "GetFile p \\c"};
  const Case cases[] = {
      {true, false, "550 No such file\r\n", all},
      {true, true, "203 ok\r\n1\r\nB", all},
      // One at a time, nothing is asked for c: its task never runs.
      {false, true, "203 ok\r\n1\r\nB", {all[0], all[1]}},
      {false, false, "550 No such file\r\n", {all[0], all[1]}},
  };
  client.SetTimeouts(std::chrono::seconds(30), std::chrono::seconds(30));
  int n = 0;
  for (const Case& k : cases) {
    const std::string root = dir / ("p" + std::to_string(n)), next = dir / ("q" + std::to_string(n++));
    if (k.folderAtB) test::MakeDirs(root + "/b");
    std::vector<std::string> lines;
    Start({[&](PeerLink& p) {
      p.Send(k.token ? "200 ready +pipelining\r\n" : "200 ready\r\n");
      p.ReadLine();
      p.Send("201 welcome\r\n");
      p.ReadLine();
      p.Send("202 ok\r\n");
      p.ReadFramed();
      p.Send(Framed("<xml><task>insert_file<param>\\a</param></task><task>insert_file<param>\\b</param></task>"
                    "<task>insert_file<param>\\c</param></task></xml>"));
      for (std::string line = p.ReadLine(); line != "Sync q"; line = p.ReadLine()) {
        lines.push_back(line);
        p.Send(line == all[0] ? "203 ok\r\n1\r\nA" : line == all[1] ? k.answerB : "203 ok\r\n1\r\nC");
      }
      p.Send("202 ok\r\n");
      p.ReadFramed();
      p.Send(Framed("<xml><task>insert_file<param>\\d</param></task></xml>"));
      EXPECT_EQ(p.ReadLine(), "GetFile q \\d");
      p.Send("203 ok\r\n1\r\nD");
    }});
    const std::string expected = k.folderAtB ? Format(msg::kCannotCreateFile, root + "\\b", test::kIsAFolder.Text())
                                             : std::string("No such file\r\n");
    EXPECT_EQ(MessageOf([&] { SynchroniseProject(client, log, "p", root); }), expected);
    EXPECT_EQ(SynchroniseProject(client, log, "q", next), Format(msg::kProjectSyncDone, "q", 1));
    Finish();
    EXPECT_EQ(lines, k.requests) << n;
    EXPECT_EQ(ReadFile(root + "/a"), "A");
    std::vector<std::string> names;  // no temporary file stays behind
    for (const auto& entry : stdfs::directory_iterator(root)) names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    EXPECT_EQ(names, (k.folderAtB ? std::vector<std::string>{"a", "b"} : std::vector<std::string>{"a"}));
    EXPECT_EQ(ReadFile(next + "/d"), "D");
  }
}

// Temporary files are made ahead for the fetches in flight, but never in a folder that
// a task before the fetch removes, and none is left when a run fails (the case above
// checks the folder too).
TEST_F(SyncRunTest, NoFileIsMadeAheadInAFolderThatAnEarlierTaskRemoves) {
  const std::string root = dir / "p";
  test::MakeDirs(root + "/x");
  WriteFile(root + "/x/old", "old");
  Start({[&](PeerLink& p) {
    SendTasksPipelined(p, "<xml><task>insert_file<param>\\x\\1</param></task><task>delete_dir<param>\\x</param></task>"
                          "<task>insert_dir<param>\\x</param></task><task>insert_file<param>\\x\\2</param></task></xml>");
    EXPECT_EQ(p.ReadLine(), "GetFile p \\x\\1");
    EXPECT_EQ(p.ReadLine(), "GetFile p \\x\\2");
    p.Send("203 ok\r\n1\r\n1203 ok\r\n1\r\n2");
  }});
  EXPECT_EQ(MessageOf([&] { SynchroniseProject(client, log, "p", root); }), "(no failure)");
  Finish();
  std::vector<std::string> names;
  for (const auto& entry : stdfs::directory_iterator(root + "/x")) names.push_back(entry.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"2"});
}

// Takes bytes and keeps none.
struct Discarded : TByteTarget {
  char* Room(std::size_t, std::size_t& size) override {
    size = sizeof bytes;
    return bytes;
  }
  void Placed(std::size_t) override {}
  char bytes[4096];
};

// The server's side after the opening: every request for a file gets one byte, until
// the client closes the connection.
void AnswerFilesUntilClosed(PeerLink& p) {
  try {
    for (;;) {
      p.ReadLine();
      p.Send("203 ok\r\n1\r\nX");
    }
  } catch (const EClosedGracefully&) {
  }
}

void Open(PeerLink& p, bool token) {
  p.Send(token ? "200 ready +pipelining\r\n" : "200 ready\r\n");
  p.ReadLine();
  p.Send("201 welcome\r\n");
}

// Links that the root's names leave out (a name that cannot travel, a link dangling
// until a task makes a folder) lead no task outside the root, whether the contents are
// asked for ahead or one at a time; and no temporary file is made ahead through them.
TEST_F(SyncRunTest, NoTaskReachesOutThroughALinkTheFolderNamesLeaveOut) {
  SV_SKIP_ON_WINDOWS("symbolic links: the Windows build's std::filesystem cannot make them");
  const struct {
    std::string tasks;
    std::string refused;
  } cases[] = {
      {"<task>insert_file<param>\\NEW.txt</param></task><task>delete_dir<param>\\up\x81\\out</param></task>",
       "\\up\x81\\out"},
      {"<task>insert_file<param>\\NEW.txt</param></task><task>insert_file<param>\\up\x81\\evil.txt</param></task>",
       "\\up\x81\\evil.txt"},
      {"<task>insert_dir<param>\\m</param></task><task>insert_file<param>\\l\\evil.txt</param></task>",
       "\\l\\evil.txt"},
  };
  client.SetTimeouts(std::chrono::seconds(30), std::chrono::seconds(30));
  int n = 0;
  for (const bool token : {false, true}) {
    for (const auto& c : cases) {
      const std::string beside = dir / ("beside" + std::to_string(n)), root = beside + "/p";
      ++n;
      test::MakeDirs(root);
      test::MakeDirs(beside + "/out");
      WriteFile(beside + "/out/kept.txt", "kept");
      stdfs::create_directory_symlink("..", root + "/up\xEF\xBF\xBD");  // the disk name of "up\x81"
      stdfs::create_directory_symlink("m/../..", root + "/l");
      Start({[&](PeerLink& p) {
        Open(p, token);
        p.ReadLine();
        p.Send("202 ok\r\n");
        p.ReadFramed();
        p.Send(Framed("<xml>" + c.tasks + "</xml>"));
        AnswerFilesUntilClosed(p);
      }});
      EXPECT_EQ(MessageOf([&] { SynchroniseProject(client, log, "p", root); }),
                Format(msg::kForbiddenPath, root + c.refused))
          << c.refused << token;
      Finish();
      EXPECT_EQ(ReadFile(beside + "/out/kept.txt"), "kept");
      std::vector<std::string> names;
      for (const auto& entry : stdfs::directory_iterator(beside)) names.push_back(entry.path().filename().string());
      std::sort(names.begin(), names.end());
      EXPECT_EQ(names, (std::vector<std::string>{"out", "p"})) << c.refused << token;
    }
  }
  // Asked for ahead, a file gets its temporary file made ahead only where no link is on
  // the way: an earlier task could still make one lead out.
  const std::string root = dir / "ahead";
  test::MakeDirs(root + "/plain");
  stdfs::create_directory_symlink("..", root + "/up");
  stdfs::create_directory_symlink("m/../..", root + "/l");
  Start({[&](PeerLink& p) {
    Open(p, true);
    AnswerFilesUntilClosed(p);
  }});
  std::vector<std::string> paths = {"\\plain\\a", "\\up\\b", "\\l\\c", "\\d"};
  std::size_t next = 0;
  TContentPipeline pipeline(client, "p", root, true, [&]() -> std::optional<TContentPipeline::Planned> {
    if (next == paths.size()) return std::nullopt;
    const std::string& path = paths[next++];
    return TContentPipeline::Planned{path, path, true};
  });
  pipeline.SendAhead();
  std::vector<bool> made;
  for (const std::string& path : paths) {
    made.push_back(pipeline.TempFileFor(path).maker != nullptr);
    Discarded discard;
    pipeline.Fetch(path, discard, {});
  }
  EXPECT_EQ(made, (std::vector<bool>{true, false, false, true}));
  Finish();
}

// Records what a run reports; asks it to stop once `stopAfter` tasks have started.
class RecordingObserver : public TSyncObserver {
 public:
  void TaskStarted(int index, int count, const std::string& path) override {
    ++started;
    events.push_back("task " + std::to_string(index) + "/" + std::to_string(count) + " " + path);
  }
  void ContentStarted(std::uint64_t size) override { events.push_back("content " + std::to_string(size)); }
  void ContentReceived(std::uint64_t received) override { lastReceived = received; }
  bool StopRequested() override { return started >= stopAfter; }

  int started = 0, stopAfter = 0;
  std::uint64_t lastReceived = 0;
  std::vector<std::string> events;
};

TEST_F(SyncRunTest, AnObserverHearsEachTaskAndItsBytesAndStopsTheRunBetweenTasks) {
  const std::string root = dir / "p";
  Start({[](PeerLink& p) {
    Greet(p);
    p.ReadLine();
    p.Send("202 ok\r\n");
    p.ReadFramed();
    p.Send(Framed("<xml><task>insert_dir<param>\\a b</param></task>"
                  "<task>insert_file<param>\"\\a b\\x.txt\",\"2008-11-14 13-05-08\"</param></task>"
                  "<task>insert_file<param>\\y.txt</param></task></xml>"));
    EXPECT_EQ(p.ReadLine(), "GetFile p \\a b\\x.txt");
    p.Send("203 ok\r\n5\r\nhello");
    // y.txt is never asked for: its task never runs.
  }});
  RecordingObserver observer;
  observer.stopAfter = 2;
  EXPECT_EQ(MessageOf([&] { SynchroniseProject(client, log, "p", root, &observer); }),
            Format(msg::kStoppedInProject, 2, 3, "p"));
  Finish();
  EXPECT_EQ(observer.events, (std::vector<std::string>{"task 0/3 \\a b", "task 1/3 \\a b\\x.txt", "content 5"}));
  EXPECT_EQ(observer.lastReceived, 5u);
  // The file under way was finished; the task after it never ran.
  EXPECT_EQ(ReadFile(root + "/a b/x.txt"), "hello");
  EXPECT_FALSE(stdfs::exists(root + "/y.txt"));
  EXPECT_EQ(ContentObserver(), nullptr);
}

// A pause with large answers asked for ahead ends the connection's use: the client
// closes it rather than reading on, so the server's sends fail before it has sent them
// all. (How much the sockets take in before that depends on the system's buffer
// tuning, up to tens of MiB on loopback, so it is no measure.)
TEST_F(SyncRunTest, APauseClosesTheConnectionRatherThanDrainingLargeAnswers) {
  constexpr int kFiles = 40;
  constexpr std::size_t kFileBytes = 1 << 20;
  std::string tasks = "<xml>";
  for (int i = 0; i < kFiles; ++i) tasks += "<task>insert_file<param>\\f" + std::to_string(i) + "</param></task>";
  tasks += "</xml>";
  int sent = 0;
  bool refused = false;
  Start({[&](PeerLink& p) {
    SendTasksPipelined(p, tasks);
    for (int i = 0; i < kFiles; ++i) p.ReadLine();
    const std::string answer = "203 ok\r\n" + Framed(std::string(kFileBytes, 'x'));
    try {
      for (; sent < kFiles; ++sent) p.Send(answer);
    } catch (const std::exception&) {  // the client has closed
      refused = true;
    }
  }});
  RecordingObserver observer;
  observer.stopAfter = 1;
  EXPECT_EQ(MessageOf([&] { SynchroniseProject(client, log, "p", dir / "p", &observer); }),
            Format(msg::kStoppedInProject, 1, kFiles, "p"));
  EXPECT_FALSE(client.Connected());
  Finish();
  EXPECT_EQ(ReadFile(dir / "p/f0"), std::string(kFileBytes, 'x'));
  EXPECT_TRUE(refused);
  EXPECT_LT(sent, kFiles);
}

// The guard's side of an observer: fixed limits and a confirmed number of removals.
class GuardObserver : public TSyncObserver {
 public:
  TRemovalLimits RemovalLimits() override { return {2, 50}; }
  bool RemovalsConfirmed(const std::string&, int removals) override { return removals <= confirmed; }
  void GuardDecided(const std::string& name, const THeldProject* h) override {
    held = h ? std::optional<THeldProject>(*h) : std::nullopt;
    decided.push_back(name);
  }
  int confirmed = 0;
  std::optional<THeldProject> held;
  std::vector<std::string> decided;
};

TEST_F(SyncRunTest, TheGuardHoldsATaskListThatRemovesTooMuchUntilConfirmed) {
  const std::string root = dir / "p";
  test::MakeDirs(root);
  for (const char* name : {"a", "b", "c", "d"}) WriteFile(root + "/" + name, name);
  const std::string removeThree = Framed(
      "<xml><task>delete_file<param>\\a</param></task><task>update_file<param>\\b</param></task>"
      "<task>delete_dir<param>\\gone</param></task><task>delete_file<param>\\c</param></task></xml>");
  Start({[&](PeerLink& p) {
    Greet(p);
    for (int run = 0; run < 2; ++run) {
      EXPECT_EQ(p.ReadLine(), "Sync p");
      p.Send("202 ok\r\n");
      p.ReadFramed();
      p.Send(removeThree);
    }
    EXPECT_EQ(p.ReadLine(), "GetFile p \\b");
    p.Send("203 ok\r\n3\r\nnew");
  }});
  GuardObserver observer;
  // 3 of 4 files: more than 2 and more than half. Nothing runs.
  EXPECT_EQ(SynchroniseProject(client, log, "p", root, &observer), Format(msg::kRemovalsHeld, "p", 3, 4));
  ASSERT_TRUE(observer.held);
  EXPECT_EQ(observer.held->removals, 3);
  EXPECT_EQ(observer.held->listed, 4);
  EXPECT_EQ(observer.held->plan.counts.all, 4);
  EXPECT_EQ(test::ReadFile(root + "/a") + test::ReadFile(root + "/b") + test::ReadFile(root + "/c"), "abc");

  observer.confirmed = 3;
  EXPECT_EQ(SynchroniseProject(client, log, "p", root, &observer), Format(msg::kProjectSyncDone, "p", 4));
  Finish();
  EXPECT_FALSE(observer.held);
  EXPECT_EQ(observer.decided, (std::vector<std::string>{"p", "p"}));
  EXPECT_FALSE(stdfs::exists(root + "/a"));
  EXPECT_EQ(ReadFile(root + "/b"), "new");
}

TEST(BuildProjectListing, WhatIsLeftOutIsNotedOncePerProgramRun) {
  SV_SKIP_ON_WINDOWS("symbolic links: the Windows build's std::filesystem cannot make them");
  TempDir dir;
  WriteFile(dir / "once-\xE6\x97\xA5.txt", "");  // no Windows-1250 form
  stdfs::create_directory_symlink(dir.path(), dir / "once-up");
  TdrEventLog log;
  const int before = log.Count();
  for (int run = 0; run < 3; ++run) EXPECT_EQ(BuildProjectListing(dir.path(), log), "<xml></xml>");
  ASSERT_EQ(log.Count(), before + 2);
  std::vector<std::string> notes = {log.Items(0).Text(), log.Items(1).Text()};
  std::sort(notes.begin(), notes.end());
  EXPECT_EQ(notes, (std::vector<std::string>{Format(msg::kNameLeftOut, "once-?.txt"),
                                             Format(msg::kLinkUpward, "\\once-up")}));
}

}  // namespace
}  // namespace sv
