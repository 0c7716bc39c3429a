#include "host/fmuMainC.h"

#include <gtest/gtest.h>

#include <chrono>
#include <deque>
#include <sstream>
#include <stdexcept>
#include <thread>

#include "base/Messages.h"
#include "base/Text.h"
#include "host/posix/HostApplication.h"
#include "host/posix/SignalWatcher.h"

namespace sv {
namespace {

// Hands out the scripted signals one per wait, each once its condition holds, then
// waits briefly and reports none.
class ScriptedSignals {
 public:
  struct Step {
    HostSignal signal;
    std::function<bool()> when = [] { return true; };
  };
  explicit ScriptedSignals(std::deque<Step> script) : script_(std::move(script)) {}
  HostSignal operator()(int) {
    std::scoped_lock lock(mutex_);
    if (script_.empty() || !script_.front().when()) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
      return HostSignal::kNone;
    }
    HostSignal next = script_.front().signal;
    script_.pop_front();
    return next;
  }

 private:
  std::mutex mutex_;
  std::deque<Step> script_;
};

// A controller that records the host's calls; its Run pumps like the poll loop until
// the application terminates.
class FakeController : public TdmCustomSorvanaC {
 public:
  FakeController(THostApplication& app, std::vector<std::string>& calls, std::atomic<int>& cancels,
                 std::atomic<int>& configures)
      : app_(app), calls_(calls), cancels_(cancels), configures_(configures) {}
  std::function<void(bool&)> start = [](bool&) {};
  std::function<void()> configure;

 protected:
  void DoStart(THostObject*, bool& proceed) override {
    calls_.push_back("start");
    start(proceed);
  }
  void DoRun(THostObject*) override {
    calls_.push_back("run");
    while (!app_.Terminated()) {
      app_.Sleep(5);
      app_.ProcessMessages();
    }
  }
  void DoConfigure() override {
    calls_.push_back("configure");
    ++configures_;
    if (configure) configure();
  }
  void DoCancel() override { ++cancels_; }
  std::string DoConsoleAddress() override { return "http://localhost:1976/index.html"; }

 private:
  THostApplication& app_;
  std::vector<std::string>& calls_;
  std::atomic<int>& cancels_;
  std::atomic<int>& configures_;
};

class Host : public ::testing::Test {
 protected:
  int Run(std::deque<ScriptedSignals::Step> script) {
    ScriptedSignals signals(std::move(script));
    return RunProgram(app_, [this] {
      auto c = std::make_unique<FakeController>(app_, calls_, cancels_, configures_);
      setUp_(*c);
      return c;
    }, std::ref(signals));
  }

  std::ostringstream out_, err_;
  THostApplication app_{"sorvana-client", out_, err_};
  std::vector<std::string> calls_;
  std::function<void(FakeController&)> setUp_ = [](FakeController&) {};
  std::atomic<int> cancels_{0}, configures_{0};
  // A quit that comes only after "Configure" has been handled.
  ScriptedSignals::Step QuitAfterConfigure() {
    return {HostSignal::kQuit, [this] { return configures_ > 0; }};
  }
};

TEST_F(Host, QuitEndsTheRunningControllerWithStatusZero) {
  EXPECT_EQ(Run({{HostSignal::kNone}, {HostSignal::kQuit}}), 0);
  EXPECT_EQ(calls_, (std::vector<std::string>{"start", "run"}));
  EXPECT_EQ(out_.str(), "Sorvana Client 9X\nConfigure: http://localhost:1976/index.html\n");
  EXPECT_EQ(err_.str(), "");
  EXPECT_GE(cancels_.load(), 1);  // a running synchronisation would have been cancelled
}

TEST_F(Host, AFailingStartIsShownAndEndsTheProgramWithStatusOne) {
  setUp_ = [](FakeController& c) { c.start = [](bool&) { throw Exception(msg::kCannotBind); }; };
  EXPECT_EQ(Run({}), 1);
  EXPECT_EQ(calls_, (std::vector<std::string>{"start"}));
  EXPECT_EQ(err_.str(), "sorvana-client: Could not bind socket. Address and port are already in use.\n");
  EXPECT_EQ(out_.str(), "Sorvana Client 9X\n");

  err_.str("");
  setUp_ = [](FakeController& c) { c.start = [](bool&) { throw std::runtime_error("out of memory"); }; };
  EXPECT_EQ(Run({}), 1);
  EXPECT_EQ(err_.str(), "sorvana-client: out of memory.\n");
}

TEST_F(Host, AStartThatClearsTheFlagLeavesOnlyTheMenu) {
  setUp_ = [](FakeController& c) { c.start = [](bool& proceed) { proceed = false; }; };
  EXPECT_EQ(Run({{HostSignal::kConfigure}, QuitAfterConfigure()}), 0);
  EXPECT_EQ(calls_, (std::vector<std::string>{"start", "configure"}));
}

TEST_F(Host, ConfigureRunsOnTheMainThreadAndItsFailureIsShownWithoutEndingTheProgram) {
  std::thread::id mainThread = std::this_thread::get_id(), configureThread;
  setUp_ = [&](FakeController& c) {
    c.configure = [&] {
      configureThread = std::this_thread::get_id();
      throw Exception(Cp("Greška"));
    };
  };
  EXPECT_EQ(Run({{HostSignal::kConfigure}, QuitAfterConfigure()}), 0);
  EXPECT_EQ(calls_, (std::vector<std::string>{"start", "run", "configure"}));
  EXPECT_EQ(configureThread, mainThread);
  EXPECT_EQ(err_.str(), "sorvana-client: Greška.\n");  // printed in UTF-8
}

// An opener that starts may still show nothing (no browser): the address is printed
// every time, whether the opener starts or not.
TEST(LinuxApplication, TheAddressIsPrintedEveryTimeAndHandedToTheOpener) {
  std::ostringstream out, err;
  THostApplication app("T", out, err);
  std::vector<std::string> opened;
  app.SetOpener([&](const std::string& url) {
    opened.push_back(url);
    return url.find("ok") != std::string::npos;
  });
  app.OpenUrl("http://localhost:1/ok");
  app.OpenUrl("http://localhost:2/index.html");
  EXPECT_EQ(opened, (std::vector<std::string>{"http://localhost:1/ok", "http://localhost:2/index.html"}));
  EXPECT_EQ(out.str(), "http://localhost:1/ok\nhttp://localhost:2/index.html\n");
}

TEST(LinuxApplication, TerminateWakesASleepingLoopAtOnce) {
  std::ostringstream out, err;
  THostApplication app("T", out, err);
  std::thread quitter([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    app.Terminate();
  });
  // A sleep far longer than any test run: it can only end through the wake.
  app.Sleep(24 * 60 * 60 * 1000);
  EXPECT_TRUE(app.Terminated());
  quitter.join();
  app.RunMessageLoop();  // returns at once once terminated
}

}  // namespace
}  // namespace sv
