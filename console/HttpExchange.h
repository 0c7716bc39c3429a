#pragma once
// One request-response exchange of the console, apart from the socket: which requests are
// refused, which reach the handler, and what a failing handler answers.
#include <cstdint>
#include <functional>
#include <string>

#include "console/HttpRequest.h"
#include "console/HttpResponse.h"

namespace sv {

// Fills the response for a request; may raise. Runs on the connection's thread.
using RequestHandler = std::function<void(const ConsoleRequest&, ConsoleResponse&)>;

// Why a request is refused, or empty text when it is not. The console serves only this
// machine: the Host header must name localhost, 127.0.0.1 or [::1] (any port), so that a
// site whose name was rebound to 127.0.0.1 cannot read it; and a POST must come from the
// console itself (http:// and the same host) by its Origin or, without an Origin, by its
// Referer, so that a page of another site cannot post its forms. A POST with neither
// header is taken: it comes from a program on this machine, not from a browser's form.
std::string RefusalReason(const ConsoleRequest& request);

// The response to a whole request: 403 with the refusal page for a refused one; for
// HEAD, GET and POST what the handler fills, or 500 "Internal Server Error" with the
// error's text when it raises; for other methods the defaults (200, no body).
ConsoleResponse Dispatch(const ConsoleRequest& request, const RequestHandler& handler);

// The answer to a request over the size limits: 413 with the refusal page. consolePort
// is the port the request arrived at (0: not known).
ConsoleResponse TooLargeResponse(std::uint16_t consolePort);

// A refusal (403, 413): the console's short page that gives the message and links to the
// status page, with its links and style sheet at http://localhost:consolePort/ so that
// they work also when the request named another host (relative when the port is 0).
ConsoleResponse RefusalPage(int code, std::string reason, const std::string& message,
                            std::uint16_t consolePort);

}  // namespace sv
