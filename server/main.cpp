// Program entry of sorvana-server, the reference synchronisation server.
#include <atomic>
#include <clocale>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "base/Exception.h"
#include "platform/ConsoleKey.h"
#include "platform/FileSystem.h"
#include "platform/HostSignals.h"
#include "platform/Locale.h"
#include "platform/UserFile.h"
#include "server/ServerOptions.h"
#include "server/SyncServer.h"
#include "tls/Tls.h"

namespace {

// Writes DIR/server.crt and DIR/server.key (readable by this user alone) for localhost,
// 127.0.0.1, ::1 and `name`, and prints the key's pin. Raises with the reason.
void MakeServerCertificate(const std::string& dir, const std::string& name) {
  sv::TCertificateRequest request{.names = {"localhost", "127.0.0.1", "::1"}};
  if (!name.empty()) request.names.insert(request.names.begin(), name);
  const sv::TCertificate made = sv::MakeCertificate(request);
  const sv::SystemPath folder(dir);
  if (!sv::fs::ForceFolders(folder)) throw sv::Exception("cannot create the folder '" + dir + "'");
  sv::WritePrivateFile(folder / "server.key", made.key);
  sv::fs::RewriteUserFile(folder / "server.crt", made.certificate);
  std::printf("Wrote %s and %s\nTLS key pin: %s\n", (folder / "server.crt").Native().c_str(),
              (folder / "server.key").Native().c_str(), sv::KeyPinOfCertificate(made.certificate).c_str());
}

}  // namespace

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
  if (!options.makeCertificate.empty()) {
    try {
      MakeServerCertificate(options.makeCertificate, options.makeCertificateName);
      return 0;
    } catch (const std::exception& e) {
      std::fprintf(stderr, "sorvana-server: %s\n", e.what());
      return 1;
    }
  }
  sv::TSyncServer server(options.projects);
  server.SetSessionOptions(options.session);
  server.SetListingMemory(options.listingMemory);
  server.SetSyncDeadline(options.syncDeadline);
  std::string pin;
  try {
    if (!options.tlsCertificate.empty()) {
      auto tls = sv::TTlsContext::Server(options.tlsCertificate, options.tlsKey);
      pin = tls->ServerKeyPin();
      server.SetTls(std::move(tls));
    }
    server.Listen(options.host, options.port);
  } catch (const sv::Exception& e) {
    std::fprintf(stderr, "sorvana-server: %s\n", e.what());
    return 1;
  }
  if (!pin.empty()) std::fprintf(stderr, "TLS key pin: %s\n", pin.c_str());
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
