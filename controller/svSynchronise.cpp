#include "controller/svSynchronise.h"

#include <chrono>
#include <new>

#include "base/Exception.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "eventlog/drLogger.h"
#include "sync/FileDisposal.h"
#include "sync/TaskPlan.h"

namespace sv {
namespace {

// Opens the link, calls `opened`, runs `use` and closes the link, also when `use` raises.
template <typename Use>
void WithOpenLink(TServerLink& link, const TsvSettings& settings, Use use, const std::function<void()>& opened = {}) {
  link.Open(settings.serverAddress, settings.serverPort, {settings.tlsRequired, settings.tlsPin});
  if (opened) opened();
  try {
    use();
  } catch (...) {
    link.Close();
    throw;
  }
  link.Close();
}

std::int64_t MillisecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
}

// One project's run, its start and end reported to the observer (its failure too).
std::string SynchroniseObserved(TServerLink& link, const TsvProject& project, int index, int count,
                                TdrEventLog& log, TSyncObserver& observer) {
  if (observer.StopRequested()) throw ESyncStopped(Format(msg::kStoppedBeforeProject, project.Name));
  observer.ProjectStarted(index, count, project.Name);
  const auto start = std::chrono::steady_clock::now();
  try {
    std::string line = link.SynchroniseProject(project.Name, project.Path, log, &observer);
    observer.ProjectFinished(project.Name, line, MillisecondsSince(start));
    return line;
  } catch (const Exception& e) {
    observer.ProjectFinished(project.Name, e.Message(), MillisecondsSince(start));
    throw;
  } catch (const std::bad_alloc&) {
    observer.ProjectFinished(project.Name, msg::kOutOfMemory, MillisecondsSince(start));
    throw;
  }
}

}  // namespace

TRunOutcome SynchroniseAllProjects(TServerLink& link, const TsvSettings& settings, TdrEventLog& log,
                                   TSyncTimes& times, const std::function<TDateTime()>& now,
                                   TSyncObserver* observer) {
  // Files removed or replaced go to the trash unless turned off; the trash folders are
  // looked up once for the whole run.
  TScopedFileDisposal disposal(settings.useTrash, &log);
  TRunOutcome outcome;
  const auto failed = [&outcome](TRunOutcome::Kind kind, const std::string& message) {
    outcome.kind = kind;
    outcome.message = message;
    return outcome;
  };
  try {
    times.lastAttempt = now();
    WithOpenLink(link, settings, [&] {
      const int count = settings.projects.Count();
      for (int i = 0; i < count; ++i) {
        const TsvProject& project = settings.projects.Project(i);
        outcome.project = project.Name;
        log.Add(observer ? SynchroniseObserved(link, project, i, count, log, *observer)
                         : link.SynchroniseProject(project.Name, project.Path, log, nullptr));
      }
      outcome.project.clear();
      times.lastSuccess = now();
    }, [&] { outcome.connection = link.Security(); });
  } catch (const ESyncStopped& e) {
    log.Add(e.Message());
    return failed(TRunOutcome::Kind::kStopped, e.Message());
  } catch (const Exception& e) {
    log.Add(e.Message());
    return failed(TRunOutcome::Kind::kFailed, e.Message());
  } catch (const std::bad_alloc&) {
    // What ran out is released by now: the document or file being handled.
    log.Add(msg::kOutOfMemory);
    return failed(TRunOutcome::Kind::kFailed, msg::kOutOfMemory);
  }
  return outcome;
}

TSyncPreview PreviewAllProjects(TServerLink& link, const TsvSettings& settings, TdrEventLog& log) {
  TSyncPreview preview;
  log.Add(msg::kPreviewStarted);
  try {
    WithOpenLink(link, settings, [&] {
      for (int i = 0; i < settings.projects.Count(); ++i) {
        const TsvProject& project = settings.projects.Project(i);
        // The document goes as soon as it is planned: the next project's comes after it.
        TProjectPreview plan = PlanChanges(project.Path, link.ExchangeListing(project.Name, project.Path, log));
        plan.name = project.Name;
        preview.projects.push_back(std::move(plan));
      }
    });
  } catch (const Exception& e) {
    log.Add(e.Message());
    preview.failed = true;
    preview.failure = e.Message();
  } catch (const std::bad_alloc&) {
    log.Add(msg::kOutOfMemory);
    preview.failed = true;
    preview.failure = msg::kOutOfMemory;
  }
  return preview;
}

}  // namespace sv
