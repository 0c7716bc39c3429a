#include "controller/svSynchronise.h"

#include <gtest/gtest.h>

#include <new>
#include <stdexcept>

#include "base/Exception.h"
#include "base/Messages.h"
#include "controller/TestSupport.h"
#include "eventlog/drLogger.h"

namespace sv {
namespace {

// A link that records what it is asked and fails where told to.
class ScriptedLink : public TServerLink {
 public:
  void Open(const std::string& host, std::int32_t port) override {
    calls.push_back("open " + host + ":" + std::to_string(port));
    if (failOpen) throw Exception("Socket Error # 111\r\nConnection refused.");
  }
  std::string SynchroniseProject(const std::string& name, const std::string& path,
                                 TdrEventLog&) override {
    calls.push_back("sync " + name + " " + path);
    if (name == failProject) throw Exception("Reply Code is not valid: OK");
    if (name == crashProject) throw std::logic_error("not ours");
    if (name == exhaustingProject) throw std::bad_alloc();
    return "done " + name;
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
  Run();
  EXPECT_EQ(link_.calls, (std::vector<std::string>{"open sync.example:1974", "close"}));
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

}  // namespace
}  // namespace sv
