#include "controller/svSynchronise.h"

#include <new>

#include "base/Exception.h"
#include "base/Messages.h"
#include "eventlog/drLogger.h"

namespace sv {
namespace {

// Steps 3 and 4, with the link open; the caller closes it whatever happens.
void SynchroniseOpenLink(TServerLink& link, const TsvSettings& settings, TdrEventLog& log,
                         TSyncTimes& times, const std::function<TDateTime()>& now) {
  for (int i = 0; i < settings.projects.Count(); ++i) {
    const TsvProject& project = settings.projects.Project(i);
    log.Add(link.SynchroniseProject(project.Name, project.Path, log));
  }
  times.lastSuccess = now();
}

}  // namespace

void SynchroniseAllProjects(TServerLink& link, const TsvSettings& settings, TdrEventLog& log,
                            TSyncTimes& times, const std::function<TDateTime()>& now) {
  try {
    times.lastAttempt = now();
    link.Open(settings.serverAddress, settings.serverPort);
    try {
      SynchroniseOpenLink(link, settings, log, times, now);
    } catch (...) {
      link.Close();
      throw;
    }
    link.Close();
  } catch (const Exception& e) {
    log.Add(e.Message());
  } catch (const std::bad_alloc&) {
    // What ran out is released by now: the document or file being handled.
    log.Add(msg::kOutOfMemory);
  }
}

}  // namespace sv
