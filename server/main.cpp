// Program entry of sorvana-server, the reference synchronisation server.
#include <atomic>
#include <clocale>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "base/Exception.h"
#include "platform/HostSignals.h"
#include "platform/Locale.h"
#include "server/ServerOptions.h"
#include "server/SyncServer.h"

int main(int argc, char** argv) {
  // Before any thread starts, so that only the wait below receives SIGINT and SIGTERM.
  sv::BlockHostSignals();
  std::setlocale(LC_TIME, "");
  sv::LoadLocaleFacts();
  sv::TServerOptions options;
  try {
    options = sv::ParseServerOptions(std::vector<std::string>(argv + 1, argv + argc));
  } catch (const sv::Exception& e) {
    std::fprintf(stderr, "sorvana-server: %s\n%s\n", e.what(), sv::kServerUsage);
    return 2;
  }
  if (options.help) {
    std::printf("%s\n", sv::kServerUsage);
    return 0;
  }
  sv::TSyncServer server(options.projects);
  server.SetSessionOptions(options.session);
  server.SetListingMemory(options.listingMemory);
  server.SetSyncDeadline(options.syncDeadline);
  try {
    server.Listen(options.host, options.port);
  } catch (const sv::Exception& e) {
    std::fprintf(stderr, "sorvana-server: %s\n", e.what());
    return 1;
  }
  std::fprintf(stderr, "sorvana-server listening on %s port %d\n", options.host.c_str(), server.Port());
  std::atomic<bool> ended{false};
  std::thread runner([&] {
    server.Run();
    ended = true;
  });
  while (!ended && sv::WaitHostSignal(200) != sv::HostSignal::kQuit) {
  }
  server.Stop();
  runner.join();
  return 0;
}
