// sync_once SETTINGS-FILE
//
// One synchronisation of every project named in a settings file (the form of
// svClient.xml), done by the client's own code over its own command channel, for the
// comparison scripts: they time this program instead of a client that keeps running.
// Prints the event log's lines, oldest first, and ends with status 0 when every project
// was synchronised, 1 when the synchronisation failed, 2 when the settings could not be
// read.
#include <cstdio>
#include <string>

#include "base/Exception.h"
#include "base/Text.h"
#include "controller/ServerLink.h"
#include "controller/svSettings.h"
#include "eventlog/drLogger.h"
#include "platform/Clock.h"
#include "platform/FileSystem.h"
#include "platform/ProgramPaths.h"
#include "sync/TaskBuilder.h"

namespace {

// Reads the settings as the client does, but from the file named.
void ReadSettings(const std::string& path, sv::TsvSettings& settings, sv::TdrEventLog& log) {
  sv::ReadSettingsDocument(sv::NormaliseLineBreaks(sv::fs::ReadFile(sv::SystemPath(path))),
                           sv::DefaultProjectRoot(), settings, log);
}

void PrintOldestFirst(sv::TdrEventLog& log) {
  log.Lock();
  for (int i = log.Count() - 1; i >= 0; --i) std::printf("%s\n", sv::Cp1250ToUtf8(log.Items(i).Text()).c_str());
  log.Unlock();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: sync_once SETTINGS-FILE\n");
    return 2;
  }
  // The command registry is filled before anything else, as in the client.
  sv::RegisterFileCommands();
  sv::TdrEventLog log;
  sv::TsvSettings settings;
  try {
    ReadSettings(argv[1], settings, log);
  } catch (const sv::Exception& e) {
    std::fprintf(stderr, "sync_once: %s\n", sv::Cp1250ToUtf8(e.Message()).c_str());
    return 2;
  }
  sv::TsvServerLink link;
  link.PublishToFileCommands();
  sv::TSyncTimes times;
  sv::SynchroniseAllProjects(link, settings, log, times, [] { return sv::Now(); });
  PrintOldestFirst(log);
  return times.lastSuccess != 0 ? 0 : 1;
}
