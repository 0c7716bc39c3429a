#include "sync/SyncRun.h"

#include <cstdint>
#include <mutex>
#include <optional>
#include <unordered_set>

#include "Comparer/source/StructStreamer.h"
#include "base/Messages.h"
#include "platform/FileSystem.h"
#include "sync/ContentPipeline.h"
#include "sync/TaskBuilder.h"
#include "sync/TaskPath.h"
#include "sync/TaskPlan.h"
#include "sync/Tasks.h"
#include "sync/uServerCommands.h"
#include "sync/usvBaseCommand.h"

namespace sv {

namespace {

// Points the program-wide channel at the run's client for the run's duration, so the
// file commands fetch over the connection that carried the listing, and has the
// contents they fetch reported to the run's observer.
class ScopedServerChannel {
 public:
  ScopedServerChannel(TsvTCPClient& client, TSyncObserver* observer)
      : previous_(ServerChannel()), previousObserver_(ContentObserver()) {
    SetServerChannel(&client);
    SetContentObserver(observer);
  }
  ~ScopedServerChannel() {
    SetServerChannel(previous_);
    SetContentObserver(previousObserver_);
  }
  ScopedServerChannel(const ScopedServerChannel&) = delete;
  ScopedServerChannel& operator=(const ScopedServerChannel&) = delete;

 private:
  TsvTCPClient* previous_;
  TSyncObserver* previousObserver_;
};

// Runs the tasks with the pipeline serving their fetches. A run that ends early (a
// failing task, a stop) first reads the answers already asked for, when they are
// small, so that the channel is ready for the next exchange; else it closes it.
template <typename Run>
void RunWithPipeline(TTaskList& tasks, TsvTCPClient& client, const std::string& name, Run run) {
  int planned = 0;   // the next task the plan looks at
  int removing = -1;  // the last task planned past that may remove a folder or a file
  const auto plan = [&tasks, &planned, &removing]() -> std::optional<TContentPipeline::Planned> {
    while (planned < tasks.TaskCount()) {
      const int index = planned++;
      const TBaseTask& task = *tasks.TaskAt(index);
      const TCommandClass* command = nullptr;
      try {
        command = &FindCommand(task.CommandName());
      } catch (const EClassNotFound&) {
        return std::nullopt;  // the run ends at this task
      }
      if (!FetchesContent(*command)) {
        if (!CreatesOnly(*command)) removing = index;
        continue;
      }
      // A task that fails before its fetch ends the run there: nothing after it is asked.
      std::optional<FetchPaths> paths = PathToFetch(*command, tasks.RootFolder(), task.Parameter());
      if (!paths) return std::nullopt;
      // A temporary file is made ahead only once every task that could take its folder
      // away has run.
      return TContentPipeline::Planned{std::move(paths->asSent), std::move(paths->local),
                                       removing < tasks.RunCursor()};
    }
    return std::nullopt;
  };
  TContentPipeline pipeline(client, name, tasks.RootFolder(), client.PipeliningOffered, plan);
  SetContentPipeline(&pipeline);
  try {
    pipeline.SendAhead();
    run();
  } catch (...) {
    SetContentPipeline(nullptr);
    pipeline.Drain();
    throw;
  }
  SetContentPipeline(nullptr);
}

// All tasks in order, one at a time, so that the observer hears of each before it runs
// and may stop the run between two of them.
void RunTasksObserved(TTaskList& tasks, const std::string& name, TSyncObserver& observer) {
  while (tasks.RunCursor() < tasks.TaskCount()) {
    const int done = tasks.RunCursor();
    if (observer.StopRequested()) throw ESyncStopped(Format(msg::kStoppedInProject, done, tasks.TaskCount(), name));
    observer.TaskStarted(done, tasks.TaskCount(), TaskPath(*tasks.TaskAt(done)));
    tasks.RunTasks(true);
  }
}

// The same name or link would otherwise be noted at every synchronisation, at a poll
// interval of 0 five times a second. The texts noted stay for the program's run.
void NoteOnce(TdrEventLog& log, const std::string& note) {
  static std::mutex mutex;
  static std::unordered_set<std::string> noted;
  {
    std::scoped_lock lock(mutex);
    if (!noted.insert(note).second) return;
  }
  log.Add(note);
}

// The mass-deletion guard: nullopt when the tasks may run, else what they would have
// removed; the observer hears the verdict either way.
std::optional<TRemovalCount> Hold(const TTaskList& tasks, const TDirectory& listing, const std::string& name,
                                  TSyncObserver& observer) {
  const TRemovalLimits limits = observer.RemovalLimits();
  if (limits.count > 0 && limits.percent > 0) {
    const TRemovalCount count = CountRemovals(tasks, listing);
    const bool over = count.removed > limits.count &&
                      std::int64_t{count.removed} * 100 > std::int64_t{limits.percent} * count.listed;
    if (over && !observer.RemovalsConfirmed(name, count.removed)) {
      const THeldProject held{name, count.removed, count.listed, PlanChanges(tasks.RootFolder(), tasks)};
      observer.GuardDecided(name, &held);
      return count;
    }
  }
  observer.GuardDecided(name, nullptr);
  return std::nullopt;
}

}  // namespace

// With `client`, a Cancel of it (Quit) ends the scan too, however long the scan is.
void ScanProject(const std::string& path, TdrEventLog& log, TDirectory& root, const TsvTCPClient* client = nullptr) {
  TScanOptions options;
  if (client) {
    options.checkpoint = [client] {
      if (client->Cancelled()) throw ECancelled();
    };
  }
  TLoader::ScanFolderTree(path, &root, [&log](const std::string& note) { NoteOnce(log, note); }, options);
}

std::string BuildProjectListing(const std::string& path, TdrEventLog& log) {
  TDirectory root;
  ScanProject(path, log, root);
  return TLoader::BuildListing(root);
}

std::string ExchangeListing(TsvTCPClient& client, const std::string& name, const std::string& path,
                            TdrEventLog& log) {
  TDirectory root;
  return ExchangeListing(client, name, path, log, root);
}

std::string ExchangeListing(TsvTCPClient& client, const std::string& name, const std::string& path,
                            TdrEventLog& log, TDirectory& root) {
  const std::string sync = std::string(kProtocolWords[pwSync]) + ' ' + name;
  {
    if (client.PipeliningOffered) {
      // Such a server scans its own folder while this one is scanned.
      client.WriteLine(sync);
      ScanProject(path, log, root, &client);
      ExpectReply(client, kSyncCode);
    } else {
      // The scan is complete before anything is sent.
      ScanProject(path, log, root, &client);
      SendCommand(client, sync, kSyncCode);
    }
    // The listing goes out as it is written, never held whole: its length first.
    client.WriteLine(std::to_string(TLoader::ListingLength(root)));
    TLoader::WriteListing(root, [&client](std::string_view piece) { client.Write(piece); });
  }
  std::string tasks;
  ReadFramedDocument(client, tasks);
  return tasks;
}

std::string SynchroniseProject(TsvTCPClient& client, TdrEventLog& log, const std::string& name,
                               const std::string& path, TSyncObserver* observer) {
  TTaskList tasks;
  log.Add(Format(msg::kProjectSyncStarted, name));
  {
    TDirectory listing;
    tasks.LoadTasks(ExchangeListing(client, name, path, log, listing));
    if (tasks.TaskCount() < 1) return Format(msg::kNoSyncNeeded, name);
    tasks.SetRootFolder(path);
    if (observer) {
      if (const std::optional<TRemovalCount> held = Hold(tasks, listing, name, *observer))
        return Format(msg::kRemovalsHeld, name, held->removed, held->listed);
    }
  }

  tasks.SetSource("Indy " + name);
  if (path.empty()) throw Exception(msg::kCannotCreateDirectory);
  // The outcome is left to the first task that needs the folder.
  fs::ForceFolders(path);

  ScopedServerChannel channel(client, observer);
  TScopedNameCache names;
  RunWithPipeline(tasks, client, name, [&] {
    if (observer) {
      RunTasksObserved(tasks, name, *observer);
    } else {
      tasks.RunTasks(false);
    }
  });
  return Format(msg::kProjectSyncDone, name, tasks.TaskCount());
}

}  // namespace sv
