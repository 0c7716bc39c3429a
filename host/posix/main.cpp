// Program entry of sorvana-client: the headless host of the synchronisation client.
#include <clocale>
#include <iostream>

#include "host/ErrorBox.h"
#include "host/posix/HostApplication.h"
#include "host/fmuMainC.h"
#include "platform/HostSignals.h"
#include "platform/Locale.h"
#include "platform/ProgramPaths.h"
#include "sync/TaskBuilder.h"

int main() {
  // Before any thread starts, so that only the signal watcher receives them.
  sv::BlockHostSignals();
  std::setlocale(LC_TIME, "");
  sv::LoadLocaleFacts();
  sv::RegisterFileCommands();
  sv::THostApplication application(sv::ApplicationTitle(sv::ProgramFileName()), std::cout,
                                    std::cerr);
  return sv::RunProgram(application, sv::DefaultController(application));
}
