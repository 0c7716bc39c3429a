#include "sync/SyncRun.h"

#include <mutex>
#include <unordered_set>

#include "Comparer/source/StructStreamer.h"
#include "base/Messages.h"
#include "platform/FileSystem.h"
#include "sync/TaskPath.h"
#include "sync/TaskPlan.h"
#include "sync/Tasks.h"
#include "sync/uServerCommands.h"

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

}  // namespace

std::string BuildProjectListing(const std::string& path, TdrEventLog& log) {
  TDirectory root;
  TLoader::ScanFolderTree(path, &root, [&log](const std::string& note) { NoteOnce(log, note); });
  return TLoader::BuildListing(root);
}

std::string ExchangeListing(TsvTCPClient& client, const std::string& name, const std::string& path,
                            TdrEventLog& log) {
  // The scan is complete before anything is sent.
  const std::string listing = BuildProjectListing(path, log);
  SendCommand(client, std::string(kProtocolWords[pwSync]) + ' ' + name, kSyncCode);
  WriteFramedDocument(client, listing);
  std::string tasks;
  ReadFramedDocument(client, tasks);
  return tasks;
}

std::string SynchroniseProject(TsvTCPClient& client, TdrEventLog& log, const std::string& name,
                               const std::string& path, TSyncObserver* observer) {
  TTaskList tasks;
  log.Add(Format(msg::kProjectSyncStarted, name));
  tasks.LoadTasks(ExchangeListing(client, name, path, log));
  if (tasks.TaskCount() < 1) return Format(msg::kNoSyncNeeded, name);

  tasks.SetRootFolder(path);
  tasks.SetSource("Indy " + name);
  if (path.empty()) throw Exception(msg::kCannotCreateDirectory);
  // The outcome is left to the first task that needs the folder.
  fs::ForceFolders(path);

  ScopedServerChannel channel(client, observer);
  TScopedNameCache names;
  if (observer) {
    RunTasksObserved(tasks, name, *observer);
  } else {
    tasks.RunTasks(false);
  }
  return Format(msg::kProjectSyncDone, name, tasks.TaskCount());
}

}  // namespace sv
