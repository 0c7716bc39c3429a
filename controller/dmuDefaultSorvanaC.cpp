#include "controller/dmuDefaultSorvanaC.h"

#include "base/Messages.h"
#include "base/Text.h"
#include "console/ProjectRoot.h"
#include "console/SvCHTTPServer.h"
#include "controller/Application.h"
#include "controller/ServerLink.h"
#include "platform/Clock.h"
#include "platform/ProgramPaths.h"

namespace sv {
namespace {

// The console port that goes with a server port. Wraps rather than overflows for ports
// no one can set (the console and the settings file keep ports in range).
std::int32_t ConsolePortFor(std::int32_t serverPort) {
  return static_cast<std::int32_t>(static_cast<std::uint32_t>(serverPort) + 2u);
}

}  // namespace

TdmDefaultSorvanaC::TdmDefaultSorvanaC(TApplication& application, std::string programFolder)
    : application_(application),
      programFolder_(std::move(programFolder)),
      svTCPClient_(std::make_unique<TsvServerLink>()),
      SvCHTTPServer_(std::make_unique<SvCHTTPServer>(*this)) {
  SvCHTTPServer_->SetDefaultPort(ConsolePortFor(kDefaultServerPort));
  // As a failure in a creation handler reaches the error box and creation goes on.
  try {
    DataModuleCreate();
  } catch (const Exception& e) {
    application_.ShowError(e.Message());
  }
}

TdmDefaultSorvanaC::~TdmDefaultSorvanaC() { SvCHTTPServer_->Stop(); }

void TdmDefaultSorvanaC::DataModuleCreate() {
  eventLog_.Add(msg::kInitialising);
  svTCPClient_->PublishToFileCommands();
  times_.lastSuccess = 0;
  times_.lastAttempt = 0;
  LoadSettings();
}

std::string TdmDefaultSorvanaC::SettingsFilePath() { return sv::SettingsFilePath(programFolder_); }

void TdmDefaultSorvanaC::LoadSettings() {
  TsvSettings loaded;
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

void TdmDefaultSorvanaC::CreateProjectRoot(const std::string& path) {
  sv::CreateProjectRoot(path, eventLog_);
}

void TdmDefaultSorvanaC::RequestSync() {
  std::scoped_lock lock(flagMutex_);
  if (syncRunning_) throw Exception(msg::kSyncAlreadyRunning);
  syncRequested_ = true;
}

void TdmDefaultSorvanaC::DoStart(THostObject*, bool&) { SvCHTTPServer_->Activate(); }

void TdmDefaultSorvanaC::DoRun(THostObject*) {
  // The first synchronisation leaves the flags alone: a request made meanwhile is
  // served at the loop's first tick.
  SynchroniseAll();
  StandaloneLoop();
}

void TdmDefaultSorvanaC::StandaloneLoop() {
  std::int64_t ticks = 0;
  while (!application_.Terminated()) {
    ++ticks;
    if (ThresholdReached(ticks) || syncRequested_) {
      ticks = 0;
      RunLoopSynchronisation();
    }
    application_.Sleep(kTickMilliseconds);
    application_.ProcessMessages();
  }
}

bool TdmDefaultSorvanaC::ThresholdReached(std::int64_t ticks) {
  // 64-bit: any 32-bit interval times 300 fits; 0 or less makes every tick due.
  return ticks >= static_cast<std::int64_t>(PollInterval()) * kTicksPerMinute;
}

void TdmDefaultSorvanaC::RunLoopSynchronisation() {
  {
    std::scoped_lock lock(flagMutex_);
    syncRunning_ = true;
  }
  // Cleared also when the synchronisation raises.
  struct ClearFlags {
    TdmDefaultSorvanaC& c;
    ~ClearFlags() {
      std::scoped_lock lock(c.flagMutex_);
      c.syncRunning_ = false;
      c.syncRequested_ = false;
    }
  } clear{*this};
  SynchroniseAll();
}

void TdmDefaultSorvanaC::SynchroniseAll() {
  SynchroniseAllProjects(*svTCPClient_, CopySettings(), eventLog_, times_, [] { return Now(); });
}

std::string TdmDefaultSorvanaC::DoConsoleAddress() {
  return Format(msg::kConsoleUrl, SvCHTTPServer_->DefaultPort());
}

void TdmDefaultSorvanaC::DoConfigure() { application_.OpenUrl(DoConsoleAddress()); }

void TdmDefaultSorvanaC::DoCancel() { svTCPClient_->Cancel(); }

}  // namespace sv
