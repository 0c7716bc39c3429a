#pragma once
// The command line of sorvana-server:
//   sorvana-server [--listen HOST:PORT] [--no-pipelining] [--log-files]
//                  [--listing-memory MIB] [--sync-deadline SECONDS]
//                  [--tls-cert FILE --tls-key FILE] NAME=FOLDER...
//   sorvana-server --make-cert DIR [--make-cert-name NAME]
// HOST may be a name, an IPv4 address or an IPv6 address in brackets ("[::1]:1974").
#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

#include "server/ServerSession.h"
#include "server/SyncServer.h"

namespace sv {

struct TServerOptions {
  std::string host = "127.0.0.1";
  int port = 1974;  // 0: any free port
  std::vector<TServedProject> projects;
  TSessionOptions session;
  std::uint64_t listingMemory = TSyncServer::kDefaultListingMemory;  // bytes
  std::chrono::seconds syncDeadline = std::chrono::minutes(10);
  std::string tlsCertificate;  // PEM files; both or neither (then no TLS)
  std::string tlsKey;
  std::string makeCertificate;     // a folder: make a certificate there and end
  std::string makeCertificateName;  // a further name for it
  bool help = false;
};

extern const char* const kServerUsage;

// Reads the arguments (UTF-8, without the program name). Project names and folders are
// converted to Windows-1250 and must convert exactly. Raises Exception with a one-line
// reason for a bad argument, a name given twice (without regard to case), no project
// (unless a certificate is to be made), or only one of --tls-cert and --tls-key.
TServerOptions ParseServerOptions(const std::vector<std::string>& args);

}  // namespace sv
