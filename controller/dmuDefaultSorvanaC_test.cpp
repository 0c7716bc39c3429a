#include "controller/dmuDefaultSorvanaC.h"

#include <gtest/gtest.h>

#include <asio.hpp>

#include <atomic>
#include <chrono>
#include <climits>
#include <functional>
#include <regex>
#include <stdexcept>
#include <thread>

#include "base/Messages.h"
#include "base/Text.h"
#include "controller/Application.h"
#include "platform/ConsoleKey.h"
#include "platform/ProgramPaths.h"
#include "tests/support/ControllerSupport.h"
#include "tests/support/TempDir.h"
#include "tests/support/OsErrors.h"
#include "tests/support/TestPlatform.h"

namespace sv {
namespace {

// An application whose ticks cost no time: Sleep only counts, and the program is
// "terminated" after a set number of ticks.
class FakeApplication : public TApplication {
 public:
  bool Terminated() override { return sleeps >= endAfter; }
  void ProcessMessages() override {}
  void Sleep(int milliseconds) override {
    EXPECT_EQ(milliseconds, 200);
    ++sleeps;
    if (onSleep) onSleep(sleeps);
  }
  void OpenUrl(const std::string& url) override { urls.push_back(url); }
  void ShowError(const std::string& message) override { errors.push_back(message); }

  int sleeps = 0;
  int endAfter = 0;
  std::function<void(int)> onSleep;
  std::vector<std::string> urls, errors;
};

// The controller with its synchronisation replaced: it records at which tick each one
// ran and whether the loop flagged it as running.
class LoopController : public TdmDefaultSorvanaC {
 public:
  using TdmDefaultSorvanaC::TdmDefaultSorvanaC;
  using TdmDefaultSorvanaC::SynchroniseAll;

  struct Sync {
    int tick;
    bool running;
  };
  std::vector<Sync> syncs;
  std::function<void()> during;
  std::vector<int> previews;  // the ticks at which previews ran

 protected:
  void SynchroniseAll() override {
    syncs.push_back({static_cast<FakeApplication&>(Application()).sleeps, SyncRunning()});
    if (during) during();
  }
  TSyncPreview PreviewAll() override {
    previews.push_back(static_cast<FakeApplication&>(Application()).sleeps);
    TSyncPreview preview;
    preview.projects.push_back({"tick " + std::to_string(previews.back()), {}, {}});
    return preview;
  }
};

// The message of the Exception a call raises, or empty text.
std::string Refusal(const std::function<void()>& call) {
  try {
    call();
  } catch (const Exception& e) {
    return e.Message();
  }
  return "";
}

// A loopback port where nothing listens: one the system just handed out and took back.
int UnusedPort() {
  asio::io_context io;
  asio::ip::tcp::acceptor acceptor(io, {asio::ip::make_address("127.0.0.1"), 0});
  return acceptor.local_endpoint().port();
}

std::vector<int> Ticks(const LoopController& c) {
  std::vector<int> ticks;
  for (auto& s : c.syncs) ticks.push_back(s.tick);
  return ticks;
}

class Controller : public ::testing::Test {
 protected:
  std::string ConfigFile() const { return test::ScopedConfigFolder::File(config_.path(), "drumel/sorvana/svClient.xml"); }
  void WriteSettings(const std::string& text) {
    test::MakeDirs(config_ / "drumel/sorvana");
    test::WriteFile(ConfigFile(), text);
  }
  std::unique_ptr<LoopController> Make() {
    return std::make_unique<LoopController>(app_, SystemPath(program_.path()));
  }
  // A controller with the given poll interval that runs for `ticks` ticks.
  std::unique_ptr<LoopController> RunFor(std::int32_t pollInterval, int ticks) {
    auto c = Make();
    c->SetPollInterval(pollInterval);
    app_.endAfter = ticks;
    c->Run(nullptr);
    return c;
  }

  test::TempDir program_, config_;
  test::ScopedConfigFolder configFolder_{config_.path()};
  FakeApplication app_;
};

TEST_F(Controller, CreationLogsItsStepsAndLoadsTheSettings) {
  WriteSettings("<xml><serversettings><serveradress>sync.example</serveradress>"
                "<defaultport>2000</defaultport></serversettings><projects><project>"
                "<name>drumel</name><path>/srv/drumel</path></project></projects></xml>");
  auto c = Make();
  EXPECT_EQ(test::Entries(c->EventLog()),
            (std::vector<std::string>{"Inicijalizacija podataka", "Lociranje konfiguracijske datoteke",
                                      "Dohvat postavki iz " + ConfigFile(), "Dohvat postavki spajanja",
                                      "Dohvat projekata", "Dohvat projekta drumel"}));
  EXPECT_EQ(c->ServerAddress(), "sync.example");
  EXPECT_EQ(c->ServerPort(), 2000);
  EXPECT_EQ(c->ConsolePort(), 2002);
  EXPECT_EQ(c->PollInterval(), 60);
  EXPECT_EQ(c->FirstProjectPath(), "/srv/drumel");
  EXPECT_EQ(c->LastAttempt(), 0);
  EXPECT_EQ(c->LastSuccess(), 0);
  EXPECT_EQ(c->Service(), nullptr);
  EXPECT_TRUE(app_.errors.empty());
}

TEST_F(Controller, WithoutASettingsFileTheDefaultsApply) {
  auto c = Make();
  EXPECT_EQ(c->ServerPort(), 1974);
  EXPECT_EQ(c->ConsolePort(), 1976);
  EXPECT_EQ(c->PollInterval(), 60);
  ASSERT_EQ(c->ProjectCount(), 1);
  EXPECT_EQ(c->FirstProjectPath(), DefaultProjectRoot());
  EXPECT_EQ(c->SettingsFilePath().Native(), ConfigFile());
}

TEST_F(Controller, AFailureDuringCreationIsShownAndCreationCompletes) {
  WriteSettings("<xml><serversettings><defaultport>2000</defaultport></xml>");
  auto c = Make();
  EXPECT_EQ(app_.errors, (std::vector<std::string>{Cp("Tag serversettings završava na tag /xml")}));
  EXPECT_EQ(c->ServerAddress(), "");
  EXPECT_EQ(c->ServerPort(), 1974);
  EXPECT_EQ(c->ConsolePort(), 1976);
  EXPECT_EQ(c->PollInterval(), 0);
  EXPECT_EQ(c->ProjectCount(), 0);
  EXPECT_EQ(c->FirstProjectPath(), "");
  c->SetFirstProjectPath("/ignored");
  EXPECT_EQ(c->ProjectCount(), 0);
}

TEST_F(Controller, ATimedSynchronisationIsDueEveryPollIntervalAfterTheFirst) {
  auto c = RunFor(1, 700);
  // The first runs before the loop; the loop's tick 300 comes after 299 sleeps.
  EXPECT_EQ(Ticks(*c), (std::vector<int>{0, 299, 599}));
  EXPECT_FALSE(c->syncs[0].running);
  EXPECT_TRUE(c->syncs[1].running);
  EXPECT_FALSE(c->SyncRunning());
}

TEST_F(Controller, AnIntervalOfZeroOrLessMakesEveryTickDue) {
  EXPECT_EQ(Ticks(*RunFor(0, 3)), (std::vector<int>{0, 0, 1, 2}));
  app_.sleeps = 0;
  EXPECT_EQ(Ticks(*RunFor(-7, 2)), (std::vector<int>{0, 0, 1}));
}

TEST_F(Controller, TheLargestIntervalDoesNotOverflowIntoEveryTick) {
  EXPECT_EQ(Ticks(*RunFor(INT32_MAX, 1000)), (std::vector<int>{0}));
}

TEST_F(Controller, ARequestIsServedAtTheNextTickAndRestartsTheCount) {
  auto c = Make();
  c->SetPollInterval(1);
  app_.endAfter = 400;
  app_.onSleep = [&](int sleeps) {
    if (sleeps == 5) c->RequestSync();
  };
  c->Run(nullptr);
  EXPECT_EQ(Ticks(*c), (std::vector<int>{0, 5, 305}));
  EXPECT_FALSE(c->SyncRequested());
}

TEST_F(Controller, ARequestDuringTheFirstSynchronisationIsServedRightAfterIt) {
  auto c = Make();
  c->SetPollInterval(1);
  app_.endAfter = 3;
  c->during = [&] {
    if (c->syncs.size() == 1) c->RequestSync();
  };
  c->Run(nullptr);
  EXPECT_EQ(Ticks(*c), (std::vector<int>{0, 0}));
}

TEST_F(Controller, ARequestDuringALoopSynchronisationIsRefused) {
  auto c = Make();
  app_.endAfter = 2;
  std::vector<std::string> refusals;
  c->during = [&] {
    try {
      c->RequestSync();
    } catch (const Exception& e) {
      refusals.push_back(e.Message());
    }
  };
  c->SetPollInterval(1);
  c->Run(nullptr);
  // The first synchronisation accepts the request; the loop's, which serves it, refuses.
  EXPECT_EQ(Ticks(*c), (std::vector<int>{0, 0}));
  EXPECT_EQ(refusals, (std::vector<std::string>{Cp("Sinhronizacija se već izvršava")}));
  EXPECT_FALSE(c->SyncRequested());
}

TEST_F(Controller, APauseHoldsEveryStartAndRefusesRequestsUntilResumed) {
  auto c = Make();
  c->SetPollInterval(1);
  app_.endAfter = 650;
  std::string refusal;
  app_.onSleep = [&](int sleeps) {
    if (sleeps == 5) {
      c->RequestSync();
      c->Pause();  // the request made before it is dropped
      c->Pause();
    }
    if (sleeps == 10) refusal = Refusal([&] { c->RequestSync(); });
    if (sleeps == 400) c->Resume();
  };
  c->Run(nullptr);
  // The timed synchronisation due at tick 300 waits for the resume, then runs at once.
  EXPECT_EQ(Ticks(*c), (std::vector<int>{0, 400}));
  EXPECT_EQ(refusal, msg::kSyncPausedRefused);
  const std::vector<std::string> entries = test::Entries(c->EventLog());
  EXPECT_EQ(std::vector<std::string>(entries.end() - 2, entries.end()),
            (std::vector<std::string>{msg::kPaused, msg::kResumed}));

  app_.sleeps = 0;
  app_.endAfter = 3;
  app_.onSleep = nullptr;
  c->syncs.clear();
  c->Pause();
  c->Run(nullptr);  // not even the first one
  EXPECT_TRUE(c->syncs.empty());
}

// A preview is asked for without waiting longer than the caller allows; the loop makes it
// and keeps it for every reader.
TEST_F(Controller, PreviewsAreCarriedOutByTheLoopAndNeverDuringASynchronisation) {
  auto c = Make();
  c->SetPollInterval(60);
  const auto ask = [&c] { c->MakePreview({}, std::chrono::seconds(60)); };
  std::string duringSync;
  c->during = [&] {
    std::thread console([&] { duringSync = Refusal(ask); });
    console.join();
  };
  std::atomic<bool> answered{false};
  ConsoleController::PreviewState before, asked;
  std::string preview;
  std::thread console;
  app_.endAfter = 30000;  // only a bound: the loop ends once the preview is answered
  app_.onSleep = [&](int sleeps) {
    if (sleeps == 1) {
      before = c->LastPreview();
      std::stop_source stopped;
      stopped.request_stop();
      c->MakePreview(stopped.get_token(), std::chrono::hours(1));  // returns at once
      asked = c->LastPreview();
      console = std::thread([&] {
        ask();
        preview = c->LastPreview().last->projects.at(0).name;
        answered = true;
      });
    }
    if (answered) app_.endAfter = sleeps;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  };
  c->Run(nullptr);
  console.join();
  EXPECT_EQ(duringSync, msg::kSyncAlreadyRunning);
  EXPECT_TRUE(!before.last && !before.pending);
  EXPECT_TRUE(!asked.last && asked.pending);
  ASSERT_FALSE(c->previews.empty());
  EXPECT_EQ(preview, "tick " + std::to_string(c->previews.back()));
  EXPECT_FALSE(c->LastPreview().pending);
  EXPECT_EQ(Refusal(ask), msg::kPreviewClosed);
}

TEST_F(Controller, AForeignFailureClearsTheFlagsAndLeavesTheLoop) {
  auto c = Make();
  c->SetPollInterval(0);
  app_.endAfter = 10;
  c->during = [&] {
    if (c->syncs.size() == 2) throw std::logic_error("broken");
  };
  EXPECT_THROW(c->Run(nullptr), std::logic_error);
  EXPECT_EQ(c->syncs.size(), 2u);
  EXPECT_FALSE(c->SyncRunning());
  c->RequestSync();
  EXPECT_TRUE(c->SyncRequested());
}

TEST_F(Controller, RunAfterTerminationSynchronisesOnceAndReturns) {
  auto c = RunFor(60, 0);
  EXPECT_EQ(Ticks(*c), (std::vector<int>{0}));
  EXPECT_EQ(app_.sleeps, 0);
}

TEST_F(Controller, ConfigureOpensTheLoginAddressAtThePortNowSet) {
  auto c = Make();
  c->Configure();
  c->SetServerPort(2000);
  EXPECT_EQ(c->ConsolePort(), 2002);
  c->Configure();
  ASSERT_EQ(app_.urls.size(), 2u);
  // Each opening carries a code of its own, never the key of the address printed at start.
  const std::string key = c->ConsoleAddress().substr(c->ConsoleAddress().find('=') + 1);
  const std::string first = app_.urls[0].substr(app_.urls[0].find('=') + 1);
  const std::string second = app_.urls[1].substr(app_.urls[1].find('=') + 1);
  EXPECT_EQ(first.size(), 64u);
  EXPECT_EQ(app_.urls, (std::vector<std::string>{"http://localhost:1976/prijava?kljuc=" + first,
                                                 "http://localhost:2002/prijava?kljuc=" + second}));
  EXPECT_NE(first, second);
  EXPECT_NE(first, key);
  EXPECT_EQ(c->ConsoleAddress(), "http://localhost:2002/prijava?kljuc=" + key);
}

// The key file holds the key of the program that listens: a second start that cannot
// bind the port leaves it alone, and the end of the first removes it.
TEST_F(Controller, StartWritesTheKeyFileAndTheEndRemovesIt) {
  test::TempDir run;
  test::ScopedEnv runtime("XDG_RUNTIME_DIR", run.path());
  const std::string file = ConsoleKeyFile().Native();
  const std::string end = test::OnWindows() ? "\r\n" : "\n";
  const int consolePort = UnusedPort();
  auto first = Make();
  first->SetServerPort(consolePort - 2);
  bool proceed = true;
  first->Start(nullptr, proceed);
  const std::string address = first->ConsoleAddress();
  EXPECT_EQ(test::ReadFile(file), address.substr(address.find('=') + 1) + end);

  auto second = Make();
  second->SetServerPort(consolePort - 2);
  EXPECT_THROW(second->Start(nullptr, proceed), Exception);
  second.reset();
  EXPECT_EQ(test::ReadFile(file), address.substr(address.find('=') + 1) + end);
  first.reset();
  EXPECT_FALSE(std::filesystem::exists(test::FsPath(file)));
}

// A key file that cannot be written is logged; the console listens all the same and the
// login address still opens it.
TEST_F(Controller, AKeyFileThatCannotBeWrittenIsLoggedAndTheStartGoesOn) {
  SV_SKIP_ON_WINDOWS("the runtime folder comes from the environment on Linux only");
  test::TempDir run;
  test::WriteFile(run / "blocked", "");
  test::ScopedEnv runtime("XDG_RUNTIME_DIR", run / "blocked");
  auto c = Make();
  c->SetServerPort(UnusedPort() - 2);
  bool proceed = true;
  ASSERT_NO_THROW(c->Start(nullptr, proceed));
  EXPECT_EQ(c->EventLog().Items(0).Text().rfind(Cp("Ključ konzole nije zapisan: "), 0), 0u)
      << c->EventLog().Items(0).Text();
}

TEST_F(Controller, SavingWritesWhatTheConsoleSet) {
  auto c = Make();
  c->SetServerAddress("10.1.1.1");
  c->SetServerPort(2100);
  c->SetPollInterval(5);
  c->SetFirstProjectPath("/srv/p");
  c->SaveSettings();
  EXPECT_EQ(test::ReadFile(ConfigFile()),
            "<xml>\r\n<serversettings>\r\n<serveradress>10.1.1.1</serveradress>\r\n"
            "<defaultport>2100</defaultport>\r\n<defaultpollinterval>5</defaultpollinterval>\r\n"
            "</serversettings>\r\n<projects>\r\n<project>\r\n<name>drumel</name>\r\n"
            "<path>/srv/p</path>\r\n</project>\r\n</projects>\r\n</xml>\r\n");
  auto again = Make();
  EXPECT_EQ(again->ServerAddress(), "10.1.1.1");
  EXPECT_EQ(again->ConsolePort(), 2102);
}

// The console's threads change and save the settings while loop synchronisations copy
// them; the ThreadSanitizer build holds this test to having no race.
TEST_F(Controller, ConsoleThreadsMayChangeAndSaveWhileTheLoopRuns) {
  auto c = Make();
  c->SetPollInterval(0);
  app_.endAfter = 200;
  const std::string firstAddress = c->ServerAddress(), firstPath = c->FirstProjectPath();
  std::string seen, seenAddress, seenPath;
  c->during = [&] {
    seenAddress = c->ServerAddress();
    seenPath = c->FirstProjectPath();
    seen = seenAddress + " " + seenPath;
  };
  std::thread console([&] {
    for (int i = 0; i < 50; ++i) {
      c->SetServerAddress("host" + std::to_string(i));
      c->SetFirstProjectPath("/srv/" + std::to_string(i));
      c->SetServerPort(2000 + i);
      c->SaveSettings();
      try {
        c->RequestSync();
      } catch (const Exception&) {
      }
    }
  });
  c->Run(nullptr);
  console.join();
  EXPECT_FALSE(seen.empty()) << "no synchronisation read the settings";
  // What the last synchronisation read is a whole address and a whole path, each the
  // first one or one that the console set.
  EXPECT_TRUE(seenAddress == firstAddress || std::regex_match(seenAddress, std::regex("host[0-9]+"))) << seen;
  EXPECT_TRUE(seenPath == firstPath || std::regex_match(seenPath, std::regex("/srv/[0-9]+"))) << seen;
  EXPECT_NE(test::ReadFile(ConfigFile()).find("<serveradress>host49</serveradress>"), std::string::npos);
}

// The real synchronisation, against a loopback port where nothing listens.
TEST_F(Controller, AnUnreachableServerIsLoggedAndTheLoopGoesOn) {
  WriteSettings("<xml><serversettings><serveradress>127.0.0.1</serveradress>"
                "<defaultport>" + std::to_string(UnusedPort()) + "</defaultport>"
                "<defaultpollinterval>0</defaultpollinterval>"
                "</serversettings></xml>");
  TdmDefaultSorvanaC c(app_, SystemPath(program_.path()));
  app_.endAfter = 1;
  c.Run(nullptr);
  std::vector<std::string> entries = test::Entries(c.EventLog());
  ASSERT_GE(entries.size(), 2u);
  EXPECT_EQ(entries.back(), test::SocketErrorMessage(test::kConnectionRefused));
  EXPECT_EQ(entries[entries.size() - 2], entries.back());
  EXPECT_GT(c.LastAttempt(), 0);
  EXPECT_EQ(c.LastSuccess(), 0);
}

TEST(CustomController, RunWithoutAnImplementationRaises) {
  TdmCustomSorvanaC base;
  bool proceed = true;
  base.Start(nullptr, proceed);
  EXPECT_TRUE(proceed);
  try {
    base.Run(nullptr);
    FAIL() << "no error";
  } catch (const ENoSorvanaCImplementation& e) {
    EXPECT_EQ(e.Message(), Cp("Nema implementacije klijentskog servisa"));
  }
}

}  // namespace
}  // namespace sv
