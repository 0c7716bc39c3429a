#pragma once
// The command line of sorvana-server:
//   sorvana-server [--listen HOST:PORT] [--no-pipelining] [--log-files] NAME=FOLDER...
// HOST may be a name, an IPv4 address or an IPv6 address in brackets ("[::1]:1974").
#include <string>
#include <vector>

#include "server/ServerSession.h"

namespace sv {

struct TServerOptions {
  std::string host = "127.0.0.1";
  int port = 1974;  // 0: any free port
  std::vector<TServedProject> projects;
  TSessionOptions session;
  bool help = false;
};

extern const char* const kServerUsage;

// Reads the arguments (UTF-8, without the program name). Project names and folders are
// converted to Windows-1250 and must convert exactly. Raises Exception with a one-line
// reason for a bad argument, a name given twice (without regard to case) or no project.
TServerOptions ParseServerOptions(const std::vector<std::string>& args);

}  // namespace sv
