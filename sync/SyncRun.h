#pragma once
// One project's synchronisation over an open channel: list the project folder, send the
// listing, receive the task list document, carry its tasks out. The controller opens
// the channel, calls SynchroniseProject for each project in turn, logs each result
// text and closes the channel.
//
// Main thread only. Every failure is raised unchanged, after the run's own objects are
// released.
#include <string>

#include "eventlog/drLogger.h"
#include "sync/SyncObserver.h"
#include "sync/svTCPClient.h"

namespace sv {

class TDirectory;

// The listing document of the folder at `path` (a missing folder gives an empty
// listing). Names and links left out are noted in the log, each once per program run.
std::string BuildProjectListing(const std::string& path, TdrEventLog& log);

// The "Sync" exchange: builds the listing first, then sends "Sync <name>" (reply 202),
// writes the listing as a framed document and returns the task list document read back.
std::string ExchangeListing(TsvTCPClient& client, const std::string& name, const std::string& path,
                            TdrEventLog& log);
// The same, keeping the listing sent in `root` (an empty folder to begin with).
std::string ExchangeListing(TsvTCPClient& client, const std::string& name, const std::string& path,
                            TdrEventLog& log, TDirectory& root);

// The whole run of one project: logs "Pokrenuto sinkroniziranje projekta %s", exchanges
// the listing, and when there are tasks creates the root folder (with every missing
// folder above it; an empty path fails with "Unable to create directory") and runs them
// all with the source "Indy <name>", fetching contents over `client`. Returns
// "Nije potrebna sinkronizacija za projekt %s" or
// "Sinkronizacija projekta %s završena, %d izmjena" with the number of tasks.
// With an observer, the tasks run only when the mass-deletion guard lets them
// (TSyncObserver::RemovalLimits): a task list that would remove more of the files listed
// than its limits allow runs nothing unless confirmed, and the result is then
// "Projekt %s nije sinkroniziran: zadaci bi uklonili %d od %d datoteka; ...".
// An observer is told of each task and of the file contents as they arrive, and is asked
// before each task whether to stop: then the run raises ESyncStopped with
// "Sinhronizacija zaustavljena zbog pauze nakon %d od %d zadataka projekta %s".
std::string SynchroniseProject(TsvTCPClient& client, TdrEventLog& log, const std::string& name,
                               const std::string& path, TSyncObserver* observer = nullptr);

}  // namespace sv
