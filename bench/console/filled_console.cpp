// filled_console SETTINGS-FOLDER EVENTS [PROJECT]
//
// The client's controller with its web console and a full event log, for the console
// benchmarks: the controller reads svClient.xml from SETTINGS-FOLDER (so the console
// listens on its server port + 2), EVENTS entries are added as a long-running client's
// synchronisations of PROJECT (default drumel) would have added them — one in a
// hundred a "završena" line with "izmjena", the others "Nije potrebna sinkronizacija" —
// and the console is started.
// No synchronisation runs. Prints "ready KEY" with the console key once the console
// listens, then serves until it is killed.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "base/Exception.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "controller/Application.h"
#include "controller/dmuDefaultSorvanaC.h"
#include "platform/Locale.h"

namespace {

// The host facilities the console never needs here: no loop runs.
class QuietApplication : public sv::TApplication {
 public:
  bool Terminated() override { return false; }
  void ProcessMessages() override {}
  void Sleep(int milliseconds) override { std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds)); }
  void OpenUrl(const std::string&) override {}
  void ShowError(const std::string& message) override {
    std::fprintf(stderr, "filled_console: %s\n", sv::Cp1250ToUtf8(message).c_str());
  }
};

void Fill(sv::TdrEventLog& log, int events, const std::string& project) {
  for (int i = 1; i <= events; ++i) {
    log.Add(i % 100 == 0 ? sv::Format(sv::msg::kProjectSyncDone, project, i % 7 + 1)
                         : sv::Format(sv::msg::kNoSyncNeeded, project));
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 && argc != 4) {
    std::fprintf(stderr, "usage: filled_console SETTINGS-FOLDER EVENTS [PROJECT]\n");
    return 2;
  }
  sv::LoadLocaleFacts();
  QuietApplication application;
  sv::TdmDefaultSorvanaC controller(application, sv::SystemPath(argv[1]));
  Fill(controller.EventLog(), std::atoi(argv[2]), argc == 4 ? argv[3] : "drumel");
  bool proceed = true;
  try {
    controller.Start(nullptr, proceed);
  } catch (const sv::Exception& e) {
    application.ShowError(e.Message());
    return 1;
  }
  const std::string address = controller.ConsoleAddress();
  std::printf("ready %s\n", address.substr(address.find('=') + 1).c_str());
  std::fflush(stdout);
  for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
}
