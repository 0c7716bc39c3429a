#include "server/ServerOptions.h"

#include "base/Exception.h"
#include "base/IntText.h"
#include "base/Text.h"

namespace sv {

const char* const kServerUsage =
    "usage: sorvana-server [--listen HOST:PORT] [--no-pipelining] [--log-files]\n"
    "                      [--listing-memory MIB] [--sync-deadline SECONDS]\n"
    "                      [--tls-cert FILE --tls-key FILE] NAME=FOLDER...\n"
    "       sorvana-server --make-cert DIR [--make-cert-name NAME]\n"
    "Mirrors each FOLDER to the clients that synchronise the project NAME.\n"
    "Listens on 127.0.0.1:1974 unless told otherwise; SIGINT or SIGTERM ends it.\n"
    "  --no-pipelining          the greeting does not offer pipelining: clients send one request at a time\n"
    "  --log-files              log every file served, not only the files refused\n"
    "  --listing-memory MIB     memory for the listings of all clients at once (default 2048); a listing\n"
    "                           counts 7 times its size, and one that does not fit is refused\n"
    "  --sync-deadline SECONDS  longest time from a Sync request to its task list (default 600)\n"
    "  --tls-cert FILE          serve TLS only, with this certificate (PEM) and the key of --tls-key;\n"
    "  --tls-key FILE           the key's pin, which clients may pin, is printed at start\n"
    "  --make-cert DIR          write a self-signed certificate DIR/server.crt and its key DIR/server.key\n"
    "                           (readable by you alone), valid 10 years for localhost, 127.0.0.1 and ::1,\n"
    "                           print the key's pin and end\n"
    "  --make-cert-name NAME    make the certificate for the host name or address NAME too";

namespace {

void ReadListen(const std::string& value, TServerOptions& options) {
  const std::size_t colon = value.rfind(':');
  if (colon == std::string::npos || colon == 0) throw Exception("--listen wants HOST:PORT, not '" + value + "'");
  std::string host = value.substr(0, colon);
  if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
  std::int32_t port = 0;
  const std::string portText = value.substr(colon + 1);
  if (portText.empty() || portText.find_first_not_of("0123456789") != std::string::npos ||
      !TryStrToInt(portText, port) || port > 65535)
    throw Exception("bad port '" + portText + "'");
  options.host = host;
  options.port = port;
}

// A whole number from 1 to `most`, for the option `name`.
std::int32_t ReadCount(const std::string& name, const std::string& value, std::int32_t most) {
  std::int32_t n = 0;
  if (value.empty() || value.find_first_not_of("0123456789") != std::string::npos || !TryStrToInt(value, n) ||
      n < 1 || n > most)
    throw Exception(name + " wants a whole number from 1 to " + std::to_string(most) + ", not '" + value + "'");
  return n;
}

void ReadProject(const std::string& arg, TServerOptions& options) {
  const std::size_t eq = arg.find('=');
  if (eq == std::string::npos || eq == 0 || eq + 1 == arg.size())
    throw Exception("a project is NAME=FOLDER, not '" + arg + "'");
  TServedProject project;
  if (!Utf8ToCp1250(arg.substr(0, eq), project.name) || !Utf8ToCp1250(arg.substr(eq + 1), project.folder))
    throw Exception("'" + arg + "' holds characters that Windows-1250 lacks");
  for (const TServedProject& p : options.projects)
    if (SameText(p.name, project.name)) throw Exception("project '" + arg.substr(0, eq) + "' is given twice");
  options.projects.push_back(std::move(project));
}

}  // namespace

TServerOptions ParseServerOptions(const std::vector<std::string>& args) {
  TServerOptions options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      options.help = true;
    } else if (arg == "--listen") {
      if (i + 1 == args.size()) throw Exception("--listen wants HOST:PORT");
      ReadListen(args[++i], options);
    } else if (arg.rfind("--listen=", 0) == 0) {
      ReadListen(arg.substr(9), options);
    } else if (arg == "--no-pipelining") {
      options.session.offerPipelining = false;
    } else if (arg == "--log-files") {
      options.session.logFiles = true;
    } else if (arg == "--listing-memory" || arg == "--sync-deadline") {
      if (i + 1 == args.size()) throw Exception(arg + " wants a number");
      const std::string& value = args[++i];
      if (arg == "--listing-memory")
        options.listingMemory = std::uint64_t(ReadCount(arg, value, 1 << 20)) << 20;
      else
        options.syncDeadline = std::chrono::seconds(ReadCount(arg, value, 7 * 24 * 3600));
    } else if (arg == "--tls-cert" || arg == "--tls-key" || arg == "--make-cert" || arg == "--make-cert-name") {
      if (i + 1 == args.size() || args[i + 1].empty()) throw Exception(arg + " wants a value");
      std::string& value = arg == "--tls-cert"    ? options.tlsCertificate
                           : arg == "--tls-key"   ? options.tlsKey
                           : arg == "--make-cert" ? options.makeCertificate
                                                  : options.makeCertificateName;
      value = args[++i];
    } else if (arg.rfind("-", 0) == 0) {
      throw Exception("unknown option '" + arg + "'");
    } else {
      ReadProject(arg, options);
    }
  }
  if (options.tlsCertificate.empty() != options.tlsKey.empty())
    throw Exception("--tls-cert and --tls-key go together");
  if (!options.makeCertificateName.empty() && options.makeCertificate.empty())
    throw Exception("--make-cert-name goes with --make-cert");
  if (options.projects.empty() && !options.help && options.makeCertificate.empty())
    throw Exception("no project given");
  return options;
}

}  // namespace sv
