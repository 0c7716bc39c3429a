#pragma once
// One synchronisation of every project over one server connection, apart from the
// network: the connection is reached through TServerLink, so the algorithm is tested
// with a scripted link and run with the real command channel (ServerLink.h).
#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "base/DateTime.h"
#include "base/SyncStatus.h"
#include "controller/svSettings.h"
#include "sync/SyncObserver.h"

namespace sv {

class TdrEventLog;

// The TLS settings a link is opened with (TsvSettings' tlsRequired and tlsPin).
struct TLinkTls {
  bool required = false;
  std::string pin;
};

// The server connection as a synchronisation uses it. Main thread, except Cancel.
class TServerLink {
 public:
  virtual ~TServerLink() = default;
  // Connects and greets the server, inside TLS when `tls.required` (with the server's key
  // pinned to `tls.pin` when set). When it raises, the connection is closed again.
  virtual void Open(const std::string& host, std::int32_t port, const TLinkTls& tls) = 0;
  // How the connection last opened is protected.
  virtual TConnectionSecurity Security() const = 0;
  // One project's run over the open connection, logging its steps and reporting them to
  // the observer (may be none); returns the line to log at its end. Raises on failure.
  virtual std::string SynchroniseProject(const std::string& name, const std::string& path,
                                         TdrEventLog& log, TSyncObserver* observer) = 0;
  // The project's "Sync" exchange alone, over the open connection: the task list document
  // the server answers its listing with. Nothing is carried out. Raises on failure.
  virtual std::string ExchangeListing(const std::string& name, const std::string& path,
                                      TdrEventLog& log) = 0;
  // Closes the connection; closing a closed one does nothing. Never raises.
  virtual void Close() = 0;
  // Ends what the connection is doing at once: a blocked call fails promptly. Any thread.
  virtual void Cancel() = 0;
};

// The two times a synchronisation records (0: never). Written by the main thread only.
struct TSyncTimes {
  std::atomic<TDateTime> lastAttempt{0};
  std::atomic<TDateTime> lastSuccess{0};
};

// How a synchronisation ended: whole, stopped by the observer (a pause), or failed with
// `message`, in `project` when one was under way (empty when the server was not reached).
struct TRunOutcome {
  enum class Kind { kSucceeded, kStopped, kFailed } kind = Kind::kSucceeded;
  std::string project;
  std::string message;
  // How the connection was protected, once the link was open (the server was reached).
  std::optional<TConnectionSecurity> connection;
};

// Files that the run's tasks remove or replace go to the trash when settings.useTrash
// (sync/FileDisposal.h). Works on `settings`, a copy taken at the start so the console may change the settings
// meanwhile. Records the attempt, opens the link, synchronises each project in order logging its
// line, records the success and closes the link (also after a failure). The first
// failure ends the run: its message is logged and it goes no further; running out of
// memory is such a failure too, logged as "Sinkronizacija prekinuta: nema dovoljno
// memorije". Other failures that are not the program's own Exception pass on, after the
// link is closed. The observer (may be none) hears of each project's start and end, and
// may stop the run before a project (ESyncStopped, "Sinhronizacija zaustavljena zbog
// pauze prije projekta %s") or between two tasks; a stop ends the run as a failure does.
// Returns how the run ended.
TRunOutcome SynchroniseAllProjects(TServerLink& link, const TsvSettings& settings, TdrEventLog& log,
                            TSyncTimes& times, const std::function<TDateTime()>& now,
                            TSyncObserver* observer = nullptr);

// What the next synchronisation would change: over one connection opened as for a
// synchronisation, each project's listing is exchanged for its task list, which is
// planned (sync/TaskPlan.h) but not carried out, so the server is never asked for a
// file. Logs "Pregled sljedeće sinhronizacije" first. The first failure ends the preview
// as it ends a synchronisation: the preview holds the projects before it and the
// message, which is also logged; the connection is closed in every case.
TSyncPreview PreviewAllProjects(TServerLink& link, const TsvSettings& settings, TdrEventLog& log);

}  // namespace sv
