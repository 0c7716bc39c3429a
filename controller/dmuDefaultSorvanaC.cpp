#include "controller/dmuDefaultSorvanaC.h"

#include "base/Messages.h"
#include "base/Text.h"
#include "console/ConsoleAccess.h"
#include "console/ProjectRoot.h"
#include "console/SvCHTTPServer.h"
#include "controller/Application.h"
#include "controller/ServerLink.h"
#include "platform/Clock.h"
#include "platform/ConsoleKey.h"
#include "platform/ProgramPaths.h"
#include "platform/StartAtLogin.h"

namespace sv {
namespace {

// The console port that goes with a server port. Wraps rather than overflows for ports
// no one can set (the console and the settings file keep ports in range).
std::int32_t ConsolePortFor(std::int32_t serverPort) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(serverPort) + 2u);
}

}  // namespace

TdmDefaultSorvanaC::TdmDefaultSorvanaC(TApplication& application, SystemPath programFolder)
    : application_(application),
      programFolder_(std::move(programFolder)),
      consoleKey_(NewConsoleKey()),
      loginCodes_(std::make_shared<TLoginCodes>()),
      svTCPClient_(std::make_unique<TsvServerLink>()),
      SvCHTTPServer_(std::make_unique<SvCHTTPServer>(*this, consoleKey_, loginCodes_)) {
  SvCHTTPServer_->SetDefaultPort(ConsolePortFor(kDefaultServerPort));
  // As a failure in a creation handler reaches the error box and creation goes on.
  try {
    DataModuleCreate();
  } catch (const Exception& e) {
    application_.ShowError(e.Message());
  }
}

TdmDefaultSorvanaC::~TdmDefaultSorvanaC() {
  // A request thread waiting for a preview must not hold up the listener's stop.
  EndPreviews();
  SvCHTTPServer_->Stop();
  if (!consoleKeyFile_.empty()) RemoveConsoleKeyFile(consoleKeyFile_);
}

void TdmDefaultSorvanaC::DataModuleCreate() {
  monitor_.SetClock(&Now);
  eventLog_.Add(msg::kInitialising);
  svTCPClient_->PublishToFileCommands();
  times_.lastSuccess = 0;
  times_.lastAttempt = 0;
  LoadSettings();
}

SystemPath TdmDefaultSorvanaC::SettingsFilePath() { return sv::SettingsFilePath(programFolder_); }

void TdmDefaultSorvanaC::LoadSettings() {
  TsvSettings loaded;
  // Program text: the settings file stores it and the console shows it.
  sv::LoadSettings(programFolder_, DefaultProjectRoot(), loaded, eventLog_);
  std::scoped_lock lock(settingsMutex_);
  settings_ = std::move(loaded);
  SvCHTTPServer_->SetDefaultPort(ConsolePortFor(settings_.serverPort));
}

TsvSettings TdmDefaultSorvanaC::CopySettings() {
  return WithSettings([](TsvSettings& s) { return s; });
}

void TdmDefaultSorvanaC::SaveSettings() {
  std::scoped_lock save(saveMutex_);
  sv::SaveSettings(programFolder_, CopySettings(), eventLog_);
}

std::int32_t TdmDefaultSorvanaC::ConsolePort() { return SvCHTTPServer_->DefaultPort(); }

std::string TdmDefaultSorvanaC::ServerAddress() {
  return WithSettings([](TsvSettings& s) { return s.serverAddress; });
}

void TdmDefaultSorvanaC::SetServerAddress(const std::string& address) {
  WithSettings([&](TsvSettings& s) { s.serverAddress = address; });
}

std::int32_t TdmDefaultSorvanaC::ServerPort() {
  return WithSettings([](TsvSettings& s) { return s.serverPort; });
}

void TdmDefaultSorvanaC::SetServerPort(std::int32_t port) {
  WithSettings([&](TsvSettings& s) {
    s.serverPort = port;
    SvCHTTPServer_->SetDefaultPort(ConsolePortFor(port));
  });
}

std::int32_t TdmDefaultSorvanaC::PollInterval() {
  return WithSettings([](TsvSettings& s) { return s.pollInterval; });
}

void TdmDefaultSorvanaC::SetPollInterval(std::int32_t minutes) {
  WithSettings([&](TsvSettings& s) { s.pollInterval = minutes; });
}

int TdmDefaultSorvanaC::ProjectCount() {
  return WithSettings([](TsvSettings& s) { return s.projects.Count(); });
}

std::string TdmDefaultSorvanaC::FirstProjectPath() {
  return WithSettings([](TsvSettings& s) {
    return s.projects.Count() ? s.projects.Project(0).Path : std::string();
  });
}

void TdmDefaultSorvanaC::SetFirstProjectPath(const std::string& path) {
  WithSettings([&](TsvSettings& s) {
    if (s.projects.Count()) s.projects.Project(0).Path = path;
  });
}

ConsoleController::Safety TdmDefaultSorvanaC::SafetySettings() {
  return WithSettings([](TsvSettings& s) { return Safety{s.useTrash, s.removalLimit, s.removalPercent}; });
}

void TdmDefaultSorvanaC::SetSafetySettings(const Safety& safety) {
  WithSettings([&](TsvSettings& s) {
    s.useTrash = safety.useTrash;
    s.removalLimit = safety.removalLimit;
    s.removalPercent = safety.removalPercent;
  });
}

bool TdmDefaultSorvanaC::Notices() {
  return WithSettings([](TsvSettings& s) { return s.notices; });
}

void TdmDefaultSorvanaC::SetNotices(bool on) {
  WithSettings([on](TsvSettings& s) { s.notices = on; });
}

ConsoleController::Tls TdmDefaultSorvanaC::TlsSettings() {
  return WithSettings([](TsvSettings& s) { return Tls{s.tlsRequired, s.tlsPin}; });
}

void TdmDefaultSorvanaC::SetTlsSettings(const Tls& tls) {
  WithSettings([&](TsvSettings& s) {
    s.tlsRequired = tls.required;
    s.tlsPin = tls.pin;
  });
}

TConnectionSecurity TdmDefaultSorvanaC::LastConnection() {
  std::lock_guard lock(connectionMutex_);
  return lastConnection_;
}

bool TdmDefaultSorvanaC::StartsAtLogin() { return sv::StartsAtLogin(); }

void TdmDefaultSorvanaC::SetStartsAtLogin(bool on) { sv::SetStartsAtLogin(on); }

void TdmDefaultSorvanaC::CreateProjectRoot(const std::string& path) {
  sv::CreateProjectRoot(path, eventLog_);
}

void TdmDefaultSorvanaC::RequestSync() {
  std::scoped_lock lock(flagMutex_);
  if (monitor_.Paused()) throw Exception(msg::kSyncPausedRefused);
  if (loopSyncRunning_) throw Exception(msg::kSyncAlreadyRunning);
  syncRequested_ = true;
}

void TdmDefaultSorvanaC::Pause() {
  bool running = false;
  {
    std::scoped_lock lock(flagMutex_);
    if (!monitor_.SetPaused(true)) return;
    // A request made before the pause is not carried out after it either.
    syncRequested_ = false;
    running = anySyncRunning_;
  }
  eventLog_.Add(running ? msg::kPausedWhileRunning : msg::kPaused);
  ShowState();
}

void TdmDefaultSorvanaC::Resume() {
  if (!monitor_.SetPaused(false)) return;
  eventLog_.Add(msg::kResumed);
  ShowState();
}

TSyncProgress TdmDefaultSorvanaC::Progress() {
  TSyncProgress progress = monitor_.Progress();
  progress.requested = syncRequested_ && !monitor_.Paused();
  return progress;
}

std::vector<ConsoleController::ProjectStatus> TdmDefaultSorvanaC::Projects() {
  std::vector<ProjectStatus> projects;
  WithSettings([&](TsvSettings& s) {
    for (int i = 0; i < s.projects.Count(); ++i) {
      projects.emplace_back();
      projects.back().name = s.projects.Project(i).Name;
      projects.back().path = s.projects.Project(i).Path;
    }
  });
  for (TProjectResult& result : monitor_.Results()) {
    for (ProjectStatus& p : projects) {
      if (p.name == result.name) {
        p.hasResult = true;
        p.result = result;
      }
    }
  }
  for (THeldProject& held : monitor_.Held()) {
    for (ProjectStatus& p : projects) {
      if (p.name == held.name) p.held = held;
    }
  }
  return projects;
}

void TdmDefaultSorvanaC::ConfirmRemovals(const std::string& name) {
  int removals = 0;
  if (!monitor_.Confirm(name, removals)) throw Exception(Format(msg::kNothingHeld, name));
  eventLog_.Add(Format(msg::kRemovalsConfirmed, removals, name));
  std::scoped_lock lock(flagMutex_);
  // The confirmed run follows at once, unless paused or one runs already.
  if (!monitor_.Paused() && !loopSyncRunning_) syncRequested_ = true;
}

void TdmDefaultSorvanaC::MakePreview(std::stop_token stop, std::chrono::milliseconds wait) {
  std::unique_lock lock(flagMutex_);
  if (anySyncRunning_) throw Exception(msg::kSyncAlreadyRunning);
  if (loopEnded_) throw Exception(msg::kPreviewClosed);
  const std::uint64_t ticket = ++previewsAsked_;
  previewServedSignal_.wait_for(lock, stop, wait, [&] { return previewsServed_ >= ticket || loopEnded_; });
  if (previewsServed_ < ticket && loopEnded_) throw Exception(msg::kPreviewClosed);
}

ConsoleController::PreviewState TdmDefaultSorvanaC::LastPreview() {
  std::scoped_lock lock(flagMutex_);
  return {lastPreview_, previewsServed_ < previewsAsked_ && !loopEnded_};
}

void TdmDefaultSorvanaC::ServePreviews() {
  std::uint64_t ticket = 0;
  {
    std::scoped_lock lock(flagMutex_);
    if (previewsServed_ >= previewsAsked_) return;
    ticket = previewsAsked_;
  }
  auto preview = std::make_shared<TSyncPreview>(PreviewAll());
  preview->made = Now();
  {
    std::scoped_lock lock(flagMutex_);
    lastPreview_ = std::move(preview);
    previewsServed_ = ticket;
  }
  previewServedSignal_.notify_all();
}

void TdmDefaultSorvanaC::EndPreviews() {
  {
    std::scoped_lock lock(flagMutex_);
    loopEnded_ = true;
  }
  previewServedSignal_.notify_all();
}

void TdmDefaultSorvanaC::DoStart(THostObject*, bool&) {
  SvCHTTPServer_->Activate();
  const SystemPath file = ConsoleKeyFile();
  try {
    WriteConsoleKeyFile(file, consoleKey_);
    consoleKeyFile_ = file;
  } catch (const Exception& e) {
    eventLog_.Add(Format(msg::kKeyFileFailed, e.Message()));
  }
}

void TdmDefaultSorvanaC::DoRun(THostObject*) {
  struct LoopEnd {
    TdmDefaultSorvanaC& c;
    ~LoopEnd() { c.EndPreviews(); }
  } end{*this};
  // The first synchronisation leaves the flags alone: a request made meanwhile is
  // served at the loop's first tick.
  RunSynchronisation(false);
  StandaloneLoop();
}

void TdmDefaultSorvanaC::StandaloneLoop() {
  std::int64_t ticks = 0;
  while (!application_.Terminated()) {
    ++ticks;
    ServePreviews();
    if ((ThresholdReached(ticks) || syncRequested_) && RunSynchronisation(true)) ticks = 0;
    application_.Sleep(kTickMilliseconds);
    application_.ProcessMessages();
  }
}

bool TdmDefaultSorvanaC::ThresholdReached(std::int64_t ticks) {
  // 64-bit: any 32-bit interval times 300 fits; 0 or less makes every tick due.
  return ticks >= static_cast<std::int64_t>(PollInterval()) * kTicksPerMinute;
}

bool TdmDefaultSorvanaC::RunSynchronisation(bool fromLoop) {
  {
    std::scoped_lock lock(flagMutex_);
    if (monitor_.Paused() || (fromLoop && previewsServed_ < previewsAsked_)) return false;
    anySyncRunning_ = true;
    if (fromLoop) loopSyncRunning_ = true;
  }
  // Cleared also when the synchronisation raises.
  struct ClearFlags {
    TdmDefaultSorvanaC& c;
    bool fromLoop;
    ~ClearFlags() {
      std::scoped_lock lock(c.flagMutex_);
      c.anySyncRunning_ = false;
      if (!fromLoop) return;
      c.loopSyncRunning_ = false;
      c.syncRequested_ = false;
    }
  } clear{*this, fromLoop};
  SynchroniseAll();
  return true;
}

void TdmDefaultSorvanaC::SynchroniseAll() {
  const TsvSettings settings = CopySettings();
  monitor_.RunStarted(settings.projects.Count());
  monitor_.SetRemovalLimits({settings.removalLimit, settings.removalPercent});
  struct RunEnd {
    TSyncMonitor& m;
    ~RunEnd() { m.RunFinished(); }
  } end{monitor_};
  running_ = true;
  ShowState();
  TRunOutcome outcome;
  try {
    outcome = SynchroniseAllProjects(*svTCPClient_, settings, eventLog_, times_, [] { return Now(); }, &monitor_);
  } catch (...) {
    running_ = false;
    throw;
  }
  running_ = false;
  if (outcome.connection) {
    std::lock_guard lock(connectionMutex_);
    lastConnection_ = *outcome.connection;
  }
  RunEnded(outcome, settings.notices);
}

void TdmDefaultSorvanaC::RunEnded(const TRunOutcome& outcome, bool noticesOn) {
  const std::optional<TSyncNotice> notice = notices_.RunEnded(outcome, noticesOn);
  failing_ = notices_.Failing();
  ShowState();
  if (notice) application_.ShowNotice(notice->title, notice->text);
}

void TdmDefaultSorvanaC::ShowState() {
  application_.ShowState(monitor_.Paused() ? TTrayState::kPaused
                         : running_        ? TTrayState::kSynchronising
                         : failing_        ? TTrayState::kFailed
                                           : TTrayState::kIdle);
}

TSyncPreview TdmDefaultSorvanaC::PreviewAll() {
  return PreviewAllProjects(*svTCPClient_, CopySettings(), eventLog_);
}

std::string TdmDefaultSorvanaC::DoConsoleAddress() {
  return LoginAddress(SvCHTTPServer_->DefaultPort(), consoleKey_);
}

// The address goes to the browser through command lines that other local users can read:
// it carries a code that logs in once, not the key.
void TdmDefaultSorvanaC::DoConfigure() {
  application_.OpenUrl(LoginAddress(SvCHTTPServer_->DefaultPort(), loginCodes_->Issue()));
}

void TdmDefaultSorvanaC::DoCancel() { svTCPClient_->Cancel(); }

}  // namespace sv
