#pragma once
// A controller for the console's tests: plain values, a real event log, and records of
// what the console asked for.
#include <atomic>
#include <mutex>
#include <string>

#include "base/Exception.h"
#include "base/Messages.h"
#include "console/ConsoleController.h"
#include "console/ProjectRoot.h"
#include "eventlog/drLogger.h"

namespace sv::test {

class FakeConsoleController : public ConsoleController {
  template <typename F>
  auto Locked(F f) -> decltype(f()) {
    std::scoped_lock lock(mutex_);
    return f();
  }
  std::mutex mutex_;

 public:
  std::string ServerAddress() override { return Locked([&] { return address; }); }
  void SetServerAddress(const std::string& a) override { Locked([&] { address = a; }); }
  std::int32_t ServerPort() override { return Locked([&] { return port; }); }
  void SetServerPort(std::int32_t p) override {
    Locked([&] {
      port = p;
      consolePort = p + 2;
    });
  }
  std::int32_t PollInterval() override { return Locked([&] { return poll; }); }
  void SetPollInterval(std::int32_t m) override { Locked([&] { poll = m; }); }
  int ProjectCount() override { return Locked([&] { return projects; }); }
  std::string FirstProjectPath() override { return Locked([&] { return projects ? root : ""; }); }
  void SetFirstProjectPath(const std::string& p) override {
    Locked([&] {
      if (projects) root = p;
    });
  }
  Safety SafetySettings() override { return Locked([&] { return safety; }); }
  void SetSafetySettings(const Safety& s) override { Locked([&] { safety = s; }); }
  bool Notices() override { return Locked([&] { return notices; }); }
  void SetNotices(bool on) override { Locked([&] { notices = on; }); }
  bool StartsAtLogin() override { return Locked([&] { return startsAtLogin; }); }
  void SetStartsAtLogin(bool on) override {
    Locked([&] {
      if (!startAtLoginFailure.empty()) throw Exception(startAtLoginFailure);
      startsAtLogin = on;
    });
  }
  Tls TlsSettings() override { return Locked([&] { return tls; }); }
  void SetTlsSettings(const Tls& t) override { Locked([&] { tls = t; }); }
  TConnectionSecurity LastConnection() override { return Locked([&] { return connection; }); }
  TDateTime LastAttempt() override { return Locked([&] { return lastAttempt; }); }
  TDateTime LastSuccess() override { return Locked([&] { return lastSuccess; }); }

  void RequestSync() override {
    if (syncRunning) throw Exception(msg::kSyncAlreadyRunning);
    syncRequested = true;
  }
  void SaveSettings() override {
    if (!saveError.empty()) throw Exception(saveError);
    ++saves;
  }
  void CreateProjectRoot(const std::string& path) override { sv::CreateProjectRoot(path, log); }
  TdrEventLog& EventLog() override { return log; }
  bool Paused() override { return paused; }
  void Pause() override { paused = true; }
  void Resume() override { paused = false; }
  TSyncProgress Progress() override { return Locked([&] { return progress; }); }
  std::vector<ProjectStatus> Projects() override { return Locked([&] { return projectStatus; }); }
  void MakePreview(std::stop_token, std::chrono::milliseconds) override {
    if (syncRunning) throw Exception(msg::kSyncAlreadyRunning);
    ++previewsAsked;
  }
  void ConfirmRemovals(const std::string& name) override {
    Locked([&] {
      for (const ProjectStatus& p : projectStatus) {
        if (p.held && p.name == name) return confirmed.push_back(name);
      }
      throw Exception(Format(msg::kNothingHeld, name));
    });
  }
  PreviewState LastPreview() override { return Locked([&] { return PreviewState{preview, previewPending}; }); }

  // The values; tests set them directly before the console runs.
  std::string address = "127.0.0.1";
  std::int32_t port = 1974, consolePort = 1976, poll = 10;
  int projects = 1;
  std::string root = "/srv/projekt";
  Safety safety{true, 50, 25};
  bool notices = true;
  bool startsAtLogin = false;
  Tls tls;
  TConnectionSecurity connection;
  std::string startAtLoginFailure;  // raised by SetStartsAtLogin when not empty
  TDateTime lastAttempt = 0, lastSuccess = 0;
  std::string saveError;
  std::atomic<bool> syncRunning{false}, syncRequested{false};
  std::atomic<int> saves{0};
  std::atomic<bool> paused{false};
  TSyncProgress progress;
  std::vector<ProjectStatus> projectStatus;
  std::vector<std::string> confirmed;  // the projects ConfirmRemovals let through
  std::shared_ptr<const TSyncPreview> preview;
  bool previewPending = false;
  std::atomic<int> previewsAsked{0};
  TdrEventLog log;
};

}  // namespace sv::test
