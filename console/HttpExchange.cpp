#include "console/HttpExchange.h"

#include <exception>

#include "base/Exception.h"
#include "base/Messages.h"
#include "base/Text.h"
#include "console/ResourceGet.h"
#include "eventlog/PageTemplate.h"

namespace sv {
namespace {

bool IsPort(std::string_view text) {
  if (text.empty() || text.size() > 5) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// localhost, 127.0.0.1 or [::1], with an optional ":port".
bool IsLoopbackHost(std::string_view host) {
  for (std::string_view name : {"localhost", "127.0.0.1", "[::1]"}) {
    if (host.size() < name.size() || !SameText(host.substr(0, name.size()), name)) continue;
    const std::string_view rest = host.substr(name.size());
    if (rest.empty() || (rest[0] == ':' && IsPort(rest.substr(1)))) return true;
  }
  return false;
}

// The scheme and authority of a URL ("http://localhost:1976" of
// "http://localhost:1976/index.html"); text without "://" is returned whole.
std::string_view UrlOrigin(std::string_view url) {
  const std::size_t scheme = url.find("://");
  if (scheme == std::string_view::npos) return url;
  return url.substr(0, url.find_first_of("/?#", scheme + 3));
}

// True when a POST came from another site: by its Origin, or by its Referer when it
// carries no Origin. An empty Referer names no site.
bool FromAnotherSite(const ConsoleRequest& request, const std::string& host) {
  const std::string own = "http://" + host;
  if (request.HasHeader("Origin")) return !SameText(request.Header("Origin"), own);
  const std::string referer = request.Header("Referer");
  return !referer.empty() && !SameText(UrlOrigin(referer), own);
}

}  // namespace

std::string RefusalReason(const ConsoleRequest& request) {
  const std::string host = request.Header("Host");
  if (!IsLoopbackHost(host)) return msg::kForbiddenHost;
  if (request.command == CommandType::kPost && FromAnotherSite(request, host)) return msg::kForbiddenOrigin;
  return {};
}

ConsoleResponse RefusalPage(int code, std::string reason, const std::string& message,
                            std::uint16_t consolePort) {
  const std::string base =
      consolePort == 0 ? "" : "<BASE HREF=\"http://localhost:" + std::to_string(consolePort) + "/\">";
  return TextResponse(code, std::move(reason),
                      FillPlaceholders(LoadResourceText("odbijeno", "TEXT"),
                                       {Placeholder::Everywhere("{%BASE%}", base),
                                        Placeholder::Everywhere("{%MESSAGE%}", HtmlEscape(message))}));
}

ConsoleResponse Dispatch(const ConsoleRequest& request, const RequestHandler& handler) {
  if (std::string reason = RefusalReason(request); !reason.empty())
    return RefusalPage(403, "Forbidden", reason, request.localPort);
  ConsoleResponse response;
  const CommandType c = request.command;
  if (c != CommandType::kHead && c != CommandType::kGet && c != CommandType::kPost) return response;
  try {
    handler(request, response);
  } catch (const Exception& e) {
    return TextResponse(500, "Internal Server Error", e.Message());
  } catch (const std::exception& e) {
    // Not one of ours (memory exhausted, a library fault): still answered, so that one
    // request can never end the program.
    return TextResponse(500, "Internal Server Error", e.what());
  }
  return response;
}

ConsoleResponse TooLargeResponse(std::uint16_t consolePort) {
  return RefusalPage(413, "Request Entity Too Large", msg::kRequestTooLarge, consolePort);
}

}  // namespace sv
