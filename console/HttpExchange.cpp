#include "console/HttpExchange.h"

#include <exception>

#include "base/Exception.h"
#include "base/Messages.h"
#include "base/Text.h"

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

}  // namespace

std::string RefusalReason(const ConsoleRequest& request) {
  const std::string host = request.Header("Host");
  if (!IsLoopbackHost(host)) return msg::kForbiddenHost;
  if (request.command == CommandType::kPost && request.HasHeader("Origin") &&
      !SameText(request.Header("Origin"), "http://" + host)) {
    return msg::kForbiddenOrigin;
  }
  return {};
}

ConsoleResponse Dispatch(const ConsoleRequest& request, const RequestHandler& handler) {
  if (std::string reason = RefusalReason(request); !reason.empty())
    return TextResponse(403, "Forbidden", std::move(reason));
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

ConsoleResponse TooLargeResponse() {
  return TextResponse(413, "Request Entity Too Large", msg::kRequestTooLarge);
}

}  // namespace sv
