#pragma once
// What the web console reads and changes of the controller. The controller implements
// this interface; the console calls it on its request threads, in parallel with each
// other and with the main thread, so every operation is safe from any thread.
#include <chrono>
#include <cstdint>
#include <optional>
#include <memory>
#include <stop_token>
#include <string>
#include <vector>

#include "base/DateTime.h"
#include "base/SyncStatus.h"

namespace sv {

class TdrEventLog;

class ConsoleController {
 public:
  virtual ~ConsoleController() = default;

  virtual std::string ServerAddress() = 0;
  virtual void SetServerAddress(const std::string& address) = 0;
  virtual std::int32_t ServerPort() = 0;
  // Sets the server port and the console port (server port + 2). The listener keeps the
  // port it is bound to until the next start.
  virtual void SetServerPort(std::int32_t port) = 0;
  virtual std::int32_t PollInterval() = 0;
  virtual void SetPollInterval(std::int32_t minutes) = 0;
  virtual int ProjectCount() = 0;
  // Path of the first project; empty text when there is no project.
  virtual std::string FirstProjectPath() = 0;
  // Sets the first project's path; does nothing when there is no project.
  virtual void SetFirstProjectPath(const std::string& path) = 0;

  // Removed and replaced files go to the trash; the mass-deletion guard's limits (a
  // number of files and a share of the project's files in percent, 0 for no guard).
  struct Safety {
    bool useTrash = true;
    std::int32_t removalLimit = 0;
    std::int32_t removalPercent = 0;
  };
  virtual Safety SafetySettings() = 0;
  virtual void SetSafetySettings(const Safety& safety) = 0;

  // The desktop's side: notices of failed and recovered synchronisations (a setting of
  // the file), and the start at login (the system's own record, not the file's).
  virtual bool Notices() = 0;
  virtual void SetNotices(bool on) = 0;
  virtual bool StartsAtLogin() = 0;
  // Raises the system's reason when the start at login cannot be changed.
  virtual void SetStartsAtLogin(bool on) = 0;

  // The command channel's protection: TLS or none, and the pin of the server's key (empty
  // when the certificate is verified against the system's trust store instead).
  struct Tls {
    bool required = false;
    std::string pin;
  };
  virtual Tls TlsSettings() = 0;
  virtual void SetTlsSettings(const Tls& tls) = 0;
  // How the connection of the last synchronisation was protected (not encrypted before
  // the first).
  virtual TConnectionSecurity LastConnection() = 0;

  virtual TDateTime LastAttempt() = 0;  // 0: never
  virtual TDateTime LastSuccess() = 0;  // 0: never

  // Asks the poll loop for a synchronisation; raises Exception("Sinhronizacija se već
  // izvršava") while a loop synchronisation runs.
  virtual void RequestSync() = 0;
  // Writes the settings file; raises the file layer's error.
  virtual void SaveSettings() = 0;
  // Creates a project root folder and grants access to it, logging both; never raises
  // for a failed creation or grant.
  virtual void CreateProjectRoot(const std::string& path) = 0;

  virtual TdrEventLog& EventLog() = 0;

  // Pausing: while paused no synchronisation starts, RequestSync raises
  // "Sinhronizacija je pauzirana; za nastavak pritisnite Nastavi", and one that runs
  // stops after the task under way. Both log the change; a call that changes nothing
  // does nothing.
  virtual bool Paused() = 0;
  virtual void Pause() = 0;
  virtual void Resume() = 0;
  // A copy of the running synchronisation's progress (not running when none runs).
  virtual TSyncProgress Progress() = 0;
  // Each project's name and path, and the last result of each that has one.
  struct ProjectStatus {
    std::string name;
    std::string path;
    bool hasResult = false;
    TProjectResult result;
    // Set while the mass-deletion guard holds the project: the plan held back.
    std::optional<THeldProject> held;
  };
  virtual std::vector<ProjectStatus> Projects() = 0;
  // Lets the held project's next run through when it removes no more than the plan held
  // back, logs that and asks for a synchronisation when none runs or is paused; raises
  // "Projekt %s ne čeka potvrdu" when the project is not held.
  virtual void ConfirmRemovals(const std::string& name) = 0;
  // Asks for a preview of what the next synchronisation would change (asked of the server
  // by the poll loop) and waits until it is made, `stop` is requested or `wait` has
  // passed; a preview not made by then is made all the same and kept. Raises
  // "Sinhronizacija se već izvršava" while a synchronisation runs, so that the two never
  // overlap.
  virtual void MakePreview(std::stop_token stop, std::chrono::milliseconds wait) = 0;
  // The preview made last (null before the first), shared rather than copied, and whether
  // a newer one is asked for and not made yet. Reaches nothing outside the program.
  struct PreviewState {
    std::shared_ptr<const TSyncPreview> last;
    bool pending = false;
  };
  virtual PreviewState LastPreview() = 0;
};

}  // namespace sv
