#pragma once
// TdmDefaultSorvanaC: the client controller of this program. It owns the event log, the
// settings with the project list, the connection to the server and the web console's
// listener; it runs one synchronisation of all projects at start and then the poll loop
// on the main thread, which repeats it every poll interval or when the console asks.
//
// Threads: creation, Start, Run, Configure and destruction on the main thread; the
// ConsoleController operations from the console's request threads; Cancel from any
// thread. The settings are guarded by one mutex; a synchronisation works on a copy of
// them taken at its start, so the console may change them meanwhile.
//
// The console's previews are carried out by the poll loop too, on the main thread, at
// the first tick after they were asked for: the main thread owns the connection to the
// server (and "Quit" cancels it there), and one thread doing both synchronisations and
// previews is what keeps the two from ever overlapping. The request thread waits for
// its answer for a bounded time; the preview is kept, one copy shared by every reader.
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "console/ConsoleController.h"
#include "controller/dmuCustomSorvanaC.h"
#include "controller/svSettings.h"
#include "controller/svSyncMonitor.h"
#include "controller/svSyncNotices.h"
#include "controller/svSynchronise.h"
#include "eventlog/drLogger.h"

namespace sv {

class SvCHTTPServer;
class TLoginCodes;
class TApplication;
class TsvServerLink;

class TdmDefaultSorvanaC : public TdmCustomSorvanaC, public ConsoleController {
 public:
  static constexpr int kTickMilliseconds = 200;
  static constexpr std::int64_t kTicksPerMinute = 60 * 1000 / kTickMilliseconds;

  // Builds the parts (the console listener on port 1976, not yet listening) and runs the
  // creation handler: the first log entry, the connection handed to the file commands,
  // the settings loaded from the file found from programFolder (the system's own path of
  // the program's folder, see ProgramPaths.h). A failure in the handler
  // is shown through application.ShowError, and creation completes with what was set up.
  // The application outlives the controller.
  TdmDefaultSorvanaC(TApplication& application, SystemPath programFolder);
  // Stops the listener first (no request runs afterwards), then releases the rest. The
  // settings are not saved.
  ~TdmDefaultSorvanaC() override;

  // The settings file (see svSettings.h). LoadSettings replaces the settings only when
  // the whole file was read; it raises the file's failure.
  SystemPath SettingsFilePath();
  void LoadSettings();

  // The listener's port setting (the server port + 2 once settings are loaded). Any thread.
  std::int32_t ConsolePort();
  bool SyncRunning() const { return loopSyncRunning_; }
  bool SyncRequested() const { return syncRequested_; }

  // ConsoleController, any thread.
  std::string ServerAddress() override;
  void SetServerAddress(const std::string& address) override;
  std::int32_t ServerPort() override;
  void SetServerPort(std::int32_t port) override;
  std::int32_t PollInterval() override;
  void SetPollInterval(std::int32_t minutes) override;
  int ProjectCount() override;
  std::string FirstProjectPath() override;
  void SetFirstProjectPath(const std::string& path) override;
  Safety SafetySettings() override;
  void SetSafetySettings(const Safety& safety) override;
  bool Notices() override;
  void SetNotices(bool on) override;
  bool StartsAtLogin() override;
  void SetStartsAtLogin(bool on) override;
  Tls TlsSettings() override;
  void SetTlsSettings(const Tls& tls) override;
  TConnectionSecurity LastConnection() override;
  TDateTime LastAttempt() override { return times_.lastAttempt; }
  TDateTime LastSuccess() override { return times_.lastSuccess; }
  void RequestSync() override;
  void SaveSettings() override;
  void CreateProjectRoot(const std::string& path) override;
  TdrEventLog& EventLog() override { return eventLog_; }
  bool Paused() override { return monitor_.Paused(); }
  void Pause() override;
  void Resume() override;
  TSyncProgress Progress() override;
  std::vector<ProjectStatus> Projects() override;
  void MakePreview(std::stop_token stop, std::chrono::milliseconds wait) override;
  PreviewState LastPreview() override;
  void ConfirmRemovals(const std::string& name) override;

 protected:
  // Activates the console listener, then writes the console key to its file (a failure
  // to write it is logged; the login address still opens the console). Raises when the
  // port cannot be bound, and then leaves any key file alone.
  void DoStart(THostObject* host, bool& proceed) override;
  // One synchronisation, then the poll loop until the application terminates.
  void DoRun(THostObject* host) override;
  // Opens the console's login address (ConsoleAccess.h), at the listener's current port
  // setting, with a new login code.
  void DoConfigure() override;
  void DoCancel() override;
  std::string DoConsoleAddress() override;

  // One synchronisation of every project (svSynchronise.h) on a copy of the settings.
  // The poll loop reaches the server only through this call; tests replace it.
  virtual void SynchroniseAll();
  // A preview of every project (svSynchronise.h) on a copy of the settings; tests replace it.
  virtual TSyncPreview PreviewAll();
  // Whether a timed synchronisation is due after `ticks` ticks of the loop.
  bool ThresholdReached(std::int64_t ticks);
  TApplication& Application() { return application_; }

 private:
  void DataModuleCreate();
  void StandaloneLoop();
  // A synchronisation unless paused; false when none ran. A loop synchronisation also
  // waits while a preview is asked for, sets SyncRunning around it and clears both flags
  // after it; the first one, at start, leaves the flags alone.
  bool RunSynchronisation(bool fromLoop);
  // Carries out the previews asked for since the last one (one preview serves them all).
  void ServePreviews();
  // The loop has ended: previews waiting or asked for from now on are refused.
  void EndPreviews();
  TsvSettings CopySettings();
  // After every synchronisation: the notice it calls for (svSyncNotices.h) and the
  // tray's state.
  void RunEnded(const TRunOutcome& outcome, bool noticesOn);
  // Shows the state on the tray: paused, else synchronising, else failed, else idle.
  void ShowState();
  // Runs use(settings_) under the settings mutex and returns what it returns.
  template <typename Use>
  auto WithSettings(Use use) {
    std::scoped_lock lock(settingsMutex_);
    return use(settings_);
  }

  TApplication& application_;
  const SystemPath programFolder_;
  TdrEventLog eventLog_;
  TSyncTimes times_;

  std::mutex settingsMutex_;  // guards settings_
  TsvSettings settings_;
  std::mutex saveMutex_;      // one save at a time, in the order the copies were taken

  std::mutex flagMutex_;      // makes RequestSync's test and set one step against the loop
  // A synchronisation the loop started runs: the one a request would wait for.
  std::atomic<bool> loopSyncRunning_{false};
  std::atomic<bool> syncRequested_{false};
  // Guarded by flagMutex_: any synchronisation runs (the first one too, run before the
  // loop); previews asked for and served, counted, and the last one; whether
  // the loop has ended.
  bool anySyncRunning_ = false;
  std::uint64_t previewsAsked_ = 0;
  std::uint64_t previewsServed_ = 0;
  std::shared_ptr<const TSyncPreview> lastPreview_;
  bool loopEnded_ = false;
  std::condition_variable_any previewServedSignal_;  // waits that a request's token can end

  std::mutex connectionMutex_;  // guards lastConnection_
  TConnectionSecurity lastConnection_;  // of the last synchronisation that reached the server

  TSyncMonitor monitor_;      // progress and pause
  TSyncNotices notices_;      // main thread
  std::atomic<bool> running_{false};  // SynchroniseAll runs
  std::atomic<bool> failing_{false};  // the last synchronisation that ended failed

  const std::string consoleKey_;  // made at creation, never changed (ConsoleKey.h)
  // The one-use codes of the addresses "Configure" opens (ConsoleAccess.h).
  const std::shared_ptr<TLoginCodes> loginCodes_;
  SystemPath consoleKeyFile_;     // written at start, removed at destruction; empty when not written

  std::unique_ptr<TsvServerLink> svTCPClient_;
  // Declared last so that it goes first: no request thread outlives what it reads.
  std::unique_ptr<SvCHTTPServer> SvCHTTPServer_;
};

}  // namespace sv
