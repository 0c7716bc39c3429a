#include "controller/svSynchronise.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "base/Exception.h"
#include "base/Messages.h"
#include "eventlog/drLogger.h"
#include "sync/TaskBuilder.h"
#include "tests/support/ControllerSupport.h"

namespace sv {
namespace {

// A link that records what it is asked and fails where told to.
class ScriptedLink : public TServerLink {
 public:
  void Open(const std::string& host, std::int32_t port, const TLinkTls& tls) override {
    calls.push_back("open " + host + ":" + std::to_string(port) + (tls.required ? " tls " + tls.pin : ""));
    if (failOpen) throw Exception("Socket Error # 111\r\nConnection refused.");
  }
  TConnectionSecurity Security() const override { return {true, "TLSv1.3", "key"}; }
  std::string SynchroniseProject(const std::string& name, const std::string& path, TdrEventLog&,
                                 TSyncObserver*) override {
    calls.push_back("sync " + name + " " + path);
    if (name == failProject) throw Exception("Reply Code is not valid: OK");
    if (name == crashProject) throw std::logic_error("not ours");
    if (name == exhaustingProject) throw std::bad_alloc();
    return "done " + name;
  }
  std::string ExchangeListing(const std::string& name, const std::string& path, TdrEventLog&) override {
    calls.push_back("exchange " + name + " " + path);
    if (name == failProject) throw Exception("Reply Code is not valid: OK");
    return "<xml><task>insert_dir<param>\\" + name + "</param></task><task>delete_file<param>\\old</param></task></xml>";
  }
  void Close() override { calls.push_back("close"); }
  void Cancel() override {}

  std::vector<std::string> calls;
  bool failOpen = false;
  std::string failProject, crashProject, exhaustingProject;
};

class SynchroniseAll : public ::testing::Test {
 protected:
  SynchroniseAll() {
    snapshot_.serverAddress = "sync.example";
    snapshot_.serverPort = 1974;
    for (const char* name : {"a", "b", "c"}) snapshot_.projects.Add() = {name, std::string("/p/") + name};
  }
  void Run() {
    SynchroniseAllProjects(link_, snapshot_, log_, times_, [this] { return ++clock_; });
  }

  ScriptedLink link_;
  TsvSettings snapshot_;
  TdrEventLog log_;
  TSyncTimes times_;
  TDateTime clock_ = 100;
};

TEST_F(SynchroniseAll, EveryProjectRunsInOrderOverOneConnection) {
  Run();
  EXPECT_EQ(link_.calls, (std::vector<std::string>{"open sync.example:1974", "sync a /p/a",
                                                   "sync b /p/b", "sync c /p/c", "close"}));
  EXPECT_EQ(test::Entries(log_), (std::vector<std::string>{"done a", "done b", "done c"}));
  EXPECT_EQ(times_.lastAttempt, 101);
  EXPECT_EQ(times_.lastSuccess, 102);
}

TEST_F(SynchroniseAll, AnUnreachableServerIsLoggedAndOnlyTheAttemptRecorded) {
  link_.failOpen = true;
  times_.lastSuccess = 50;
  Run();
  Run();
  EXPECT_EQ(link_.calls, (std::vector<std::string>{"open sync.example:1974", "open sync.example:1974"}));
  EXPECT_EQ(test::Entries(log_), (std::vector<std::string>(2, "Socket Error # 111\r\nConnection refused.")));
  EXPECT_EQ(times_.lastAttempt, 102);
  EXPECT_EQ(times_.lastSuccess, 50);
}

TEST_F(SynchroniseAll, AFailingProjectEndsTheRunAndTheConnectionIsClosed) {
  link_.failProject = "b";
  Run();
  EXPECT_EQ(link_.calls, (std::vector<std::string>{"open sync.example:1974", "sync a /p/a",
                                                   "sync b /p/b", "close"}));
  EXPECT_EQ(test::Entries(log_), (std::vector<std::string>{"done a", "Reply Code is not valid: OK"}));
  EXPECT_EQ(times_.lastSuccess, 0);
}

TEST_F(SynchroniseAll, WithoutProjectsTheConnectionIsOpenedAndClosed) {
  snapshot_.projects.Clear();
  snapshot_.tlsRequired = true;
  snapshot_.tlsPin = "pin";
  Run();
  EXPECT_EQ(link_.calls, (std::vector<std::string>{"open sync.example:1974 tls pin", "close"}));
  EXPECT_EQ(log_.Count(), 0);
  EXPECT_EQ(times_.lastSuccess, 102);
}

TEST_F(SynchroniseAll, RunningOutOfMemoryFailsOnlyThatRunWithItsMessage) {
  link_.exhaustingProject = "b";
  Run();
  EXPECT_EQ(link_.calls.back(), "close");
  EXPECT_EQ(test::Entries(log_), (std::vector<std::string>{"done a", msg::kOutOfMemory}));
  EXPECT_EQ(test::Entries(log_).back(), Cp("Sinkronizacija prekinuta: nema dovoljno memorije"));
  EXPECT_EQ(times_.lastSuccess, 0);
  link_.exhaustingProject.clear();
  Run();
  EXPECT_EQ(test::Entries(log_).back(), "done c");
  EXPECT_EQ(times_.lastSuccess, 103);  // attempt 102, success 103
}

TEST_F(SynchroniseAll, AForeignFailurePassesOnAfterTheConnectionIsClosed) {
  link_.crashProject = "a";
  EXPECT_THROW(Run(), std::logic_error);
  EXPECT_EQ(link_.calls.back(), "close");
  EXPECT_EQ(log_.Count(), 0);
}

// Notes each project's start and end, and asks to stop once `stopAfter` have ended.
class ProjectObserver : public TSyncObserver {
 public:
  void ProjectStarted(int index, int count, const std::string& name) override {
    events.push_back("start " + std::to_string(index) + "/" + std::to_string(count) + " " + name);
  }
  void ProjectFinished(const std::string& name, const std::string& line, std::int64_t ms) override {
    events.push_back("end " + name + ": " + line);
    EXPECT_GE(ms, 0);
    ++finished;
  }
  bool StopRequested() override { return finished >= stopAfter; }
  int finished = 0, stopAfter = 99;
  std::vector<std::string> events;
};

TEST_F(SynchroniseAll, AnObserverHearsEachProjectEndAndMayStopTheRunBeforeTheNext) {
  ProjectObserver observer;
  link_.failProject = "c";
  SynchroniseAllProjects(link_, snapshot_, log_, times_, [this] { return ++clock_; }, &observer);
  EXPECT_EQ(observer.events, (std::vector<std::string>{"start 0/3 a", "end a: done a", "start 1/3 b", "end b: done b",
                                                       "start 2/3 c", "end c: Reply Code is not valid: OK"}));
  observer = ProjectObserver();
  observer.stopAfter = 1;
  link_.calls.clear();
  SynchroniseAllProjects(link_, snapshot_, log_, times_, [this] { return ++clock_; }, &observer);
  EXPECT_EQ(link_.calls, (std::vector<std::string>{"open sync.example:1974", "sync a /p/a", "close"}));
  EXPECT_EQ(test::Entries(log_).back(), Format(msg::kStoppedBeforeProject, "b"));
  EXPECT_EQ(times_.lastSuccess, 0);
}

TEST_F(SynchroniseAll, TheOutcomeNamesTheFailureAndTheProjectItEndedIn) {
  using Kind = TRunOutcome::Kind;
  struct Case {
    bool failOpen;
    std::string failProject;
    Kind kind;
    std::string project, message;
  } cases[] = {
      {false, "", Kind::kSucceeded, "", ""},
      {true, "", Kind::kFailed, "", "Socket Error # 111\r\nConnection refused."},
      {false, "b", Kind::kFailed, "b", "Reply Code is not valid: OK"},
  };
  for (const Case& c : cases) {
    link_.failOpen = c.failOpen;
    link_.failProject = c.failProject;
    const TRunOutcome outcome = SynchroniseAllProjects(link_, snapshot_, log_, times_, [this] { return ++clock_; });
    EXPECT_EQ(outcome.kind, c.kind) << c.failProject;
    EXPECT_EQ(outcome.project, c.project);
    EXPECT_EQ(outcome.message, c.message);
    // The connection's protection is known whenever the server was reached.
    EXPECT_EQ(outcome.connection.has_value(), !c.failOpen);
    if (outcome.connection) {
      EXPECT_EQ(outcome.connection->protocol, "TLSv1.3");
    }
  }
  ProjectObserver stopping;
  stopping.stopAfter = 0;
  link_.failOpen = false;
  EXPECT_EQ(SynchroniseAllProjects(link_, snapshot_, log_, times_, [this] { return ++clock_; }, &stopping).kind,
            Kind::kStopped);
}

TEST_F(SynchroniseAll, APreviewPlansEveryProjectOverOneConnectionAndStopsAtAFailure) {
  RegisterFileCommands();
  TSyncPreview preview = PreviewAllProjects(link_, snapshot_, log_);
  EXPECT_EQ(link_.calls, (std::vector<std::string>{"open sync.example:1974", "exchange a /p/a", "exchange b /p/b",
                                                   "exchange c /p/c", "close"}));
  ASSERT_EQ(preview.projects.size(), 3u);
  EXPECT_EQ(preview.projects[1].name, "b");
  ASSERT_EQ(preview.projects[1].changes.size(), 2u);
  EXPECT_EQ(preview.projects[1].changes[0].path, "\\b");
  EXPECT_EQ(preview.projects[1].changes[1].kind, TChangeKind::kDelete);
  EXPECT_FALSE(preview.failed);

  link_.calls.clear();
  link_.failProject = "b";
  preview = PreviewAllProjects(link_, snapshot_, log_);
  EXPECT_EQ(link_.calls, (std::vector<std::string>{"open sync.example:1974", "exchange a /p/a", "exchange b /p/b",
                                                   "close"}));
  EXPECT_EQ(preview.projects.size(), 1u);
  EXPECT_TRUE(preview.failed);
  EXPECT_EQ(preview.failure, "Reply Code is not valid: OK");
  EXPECT_EQ(test::Entries(log_), (std::vector<std::string>{msg::kPreviewStarted, msg::kPreviewStarted,
                                                           "Reply Code is not valid: OK"}));
  EXPECT_EQ(times_.lastAttempt, 0);
}

}  // namespace
}  // namespace sv
